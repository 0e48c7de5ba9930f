// Message windows "ATH_Note": reading and composing one message.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "html_document.h"

namespace msoe {

enum class NoteKind { Read, Compose };

struct NoteInit {
    NoteKind kind = NoteKind::Compose;
    int64_t messageId = -1;     // the message shown (read) or edited (a draft or Outbox message)
    std::wstring to, cc, bcc, subject, body;
    bool html = true;           // body is an HTML document (else plain text)
    bool resolved = false;      // recipients start resolved
};

struct Message;

class NoteWindow {
public:
    ~NoteWindow();
    static NoteWindow* OpenRead(int64_t messageId);
    static NoteWindow* OpenDraft(int64_t messageId);
    static NoteWindow* Compose(const NoteInit& init);
    // Reply (to sender or all) or forward, from a stored message.
    static NoteWindow* Respond(int64_t messageId, unsigned command);
    // The frame only, for a loader that starts the library first; Build() adds the rest.
    static NoteWindow* CreateFrame(const NoteInit& init);

    HWND hwnd() const { return hwnd_; }
    NoteKind kind() const { return init_.kind; }
    int64_t messageId() const { return init_.messageId; }
    bool html() const { return init_.html; }
    void Build();

    HWND sizableRebar() const { return sizable_; }
    HWND toolbar() const { return toolbar_; }
    HWND menuBand() const { return menuBand_; }
    HMENU menuBar() const { return menuBar_; }
    HWND envelope() const { return envelope_; }
    HWND field(int id) const { return envelope_ ? GetDlgItem(envelope_, id) : nullptr; }
    HWND bodyWindow() const;   // the "Internet Explorer_Server" or the "RichEdit50W"
    std::wstring BodyText() const;
    std::wstring BodyHtml() const;
    bool bccShown() const { return showBcc_; }
    const std::wstring& lastError() const { return lastError_; }

    // Send (or Send Later): the window hears 0x9C3F (its sending state ends),
    // the message goes to the Outbox, a send starts when the settings say so,
    // the window closes. False, with lastError() set, when the message cannot
    // be sent.
    bool Send(bool later);
    // While held (tests), a Send stops before its sending state ends and
    // goes on when the hold is let go.
    static void HoldSends(bool hold);
    static size_t HeldSends();
    void ResolveNames();
    void ShowBcc(bool show);

private:
    explicit NoteWindow(const NoteInit& init);
    static NoteWindow* Make(const NoteInit& init, bool build);
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    template <typename Owner, typename Attach>
    friend LRESULT DispatchToOwner(HWND, UINT, WPARAM, LPARAM, Attach);
    void OnCommand(UINT id);
    void Layout();
    void Retitle();

    NoteInit init_;
    HWND hwnd_ = nullptr;
    bool built_ = false;
    HMENU menuBar_ = nullptr;
    HWND sizable_ = nullptr, menuBand_ = nullptr, toolbar_ = nullptr;
    HWND envelope_ = nullptr, docHost_ = nullptr, mimeEdit_ = nullptr, richDoc_ = nullptr, editor_ = nullptr;
    std::shared_ptr<HtmlContent> content_;
    bool showBcc_ = false;
    std::wstring lastError_;
    // A Send held back with the message it will store.
    struct HeldSend;
    std::unique_ptr<HeldSend> held_;
    void FinishSend(const Message& message, bool later);
};

}  // namespace msoe
