// Reading and writing an open message: the envelope fields (rich-edit
// controls of the client) and the body (an HTML document reached through
// the accessibility interface, or a plain-text rich edit).
//
// Every operation takes a message window record. Envelope operations and
// body writes work through messages to the client's controls (so from the
// server thread they run on the client UI thread); body reads use a document
// obtained on the calling thread. A closing record answers nothing.
#pragma once

#include <windows.h>
#include <mshtml.h>
#include <oleauto.h>

#include <string>

#include "bstr.h"
#include "com_ptr.h"

namespace plume {

struct OEPluginMsgWnd;

constexpr int kEnvelopeTo = 1001;
constexpr int kEnvelopeCc = 1003;
constexpr int kEnvelopeSubject = 1004;
constexpr int kEnvelopeBcc = 1026;

// The window's HTML view (also kept in record->browserWindow); null for
// plain-text messages.
HWND FindBrowserWindow(OEPluginMsgWnd* record);
// The body's document for the calling thread, and the record's body window;
// null when there is none. The body's HTML engine belongs to the window's
// thread: each thread uses and releases only what it obtained itself (a
// proxy on the server thread), so nothing is kept on the record.
com_ptr<IHTMLDocument2> GetDocument(OEPluginMsgWnd* record);
// None when the control is missing.
bstr GetEnvelopeField(OEPluginMsgWnd* record, int controlId);
// The control's answer to EM_SETTEXTEX; 0 when it is missing.
int SetEnvelopeField(OEPluginMsgWnd* record, int controlId, const wchar_t* text);
bstr GetBody(OEPluginMsgWnd* record);
LONG GetBodyLength(OEPluginMsgWnd* record);
// 1 when the request reached the window, 0 when the record is closing.
int SetBody(OEPluginMsgWnd* record, const wchar_t* text);
int SetBodyHTML(OEPluginMsgWnd* record, const wchar_t* text);
// The text of a "WM_SET_BODY" that this library is sending, or null for a
// wParam it did not send (another program's post).
const wchar_t* ClaimBodyText(WPARAM wParam);
// Runs on the window's thread for "WM_SET_BODY".
int SetBodyNow(OEPluginMsgWnd* record, const wchar_t* text, bool html);
// The document's IDispatch with a reference for the caller, or null.
IDispatch* GetDocumentDispatch(OEPluginMsgWnd* record);

// The whole document rebuilt around a new body, from the document's HTML.
std::wstring RebuildDocument(const std::wstring& documentHtml, const std::wstring& body);

}  // namespace plume
