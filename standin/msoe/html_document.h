// The HTML body of a message view: the document text, the document object
// handed out through "WM_HTML_GETOBJECT", and a plain rendering for drawing.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <functional>
#include <memory>
#include <string>

#include "sync.h"

namespace msoe {

// The document's text in three parts around the body element. Shared by the
// document object (which may be called from other apartments through its
// proxies, always on the owning thread) and the window that draws it.
class HtmlContent {
public:
    // Replaces the whole document. Text without a body tag becomes the body.
    void SetDocument(const std::wstring& html);
    std::wstring Document() const;
    std::wstring BodyInner() const;
    void SetBodyInner(const std::wstring& html);
    std::wstring BodyOuter() const;
    // Everything inside the HTML element.
    std::wstring HtmlInner() const;
    // Called after every change, on the thread that made it.
    void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

private:
    void Changed() { if (onChange_) onChange_(); }
    mutable plume::critical_section lock_;
    std::wstring head_ = L"<HTML><HEAD></HEAD>\r\n";
    std::wstring bodyTag_ = L"<BODY>";
    std::wstring inner_;
    std::wstring tail_ = L"</HTML>";
    std::function<void()> onChange_;
};

// A new document object over `content` with one reference for the caller.
// It answers IUnknown, IDispatch, IHTMLDocument and IHTMLDocument2.
IUnknown* CreateHtmlDocument(std::shared_ptr<HtmlContent> content);
// Live document and element objects of the process (for leak checks).
long LiveHtmlObjects();
// Calls and reference changes that reached a document or element from a
// thread other than its own (an apartment rule broken by a caller).
long WrongThreadHtmlCalls();

// Text of an HTML fragment as a reader sees it: tags dropped, entities
// decoded, block elements as line breaks.
std::wstring HtmlToText(const std::wstring& html);
// Text made safe to put into HTML, line breaks as <BR>.
std::wstring TextToHtml(const std::wstring& text);

}  // namespace msoe
