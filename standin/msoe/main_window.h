// The main window "ThorBrowserWndClass": menu band and toolbar in a sizable
// rebar, folder tree, message list, preview pane and status bar.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "html_document.h"
#include "store.h"

namespace msoe {

class NoteWindow;

class MainWindow final : public StoreListener {
public:
    // Creates the frame only; Build() adds the child windows.
    static MainWindow* Create(int show);
    ~MainWindow();

    HWND hwnd() const { return hwnd_; }
    // Creates the child windows, tells the window the store is ready and
    // selects the Inbox. Runs once.
    void Build();
    bool built() const { return built_; }

    HWND sizableRebar() const { return sizable_; }
    HWND toolbar() const { return toolbar_; }
    HWND menuBand() const { return menuBand_; }
    HMENU menuBar() const { return menuBar_; }
    HWND tree() const { return tree_; }
    HWND listView() const { return listView_; }
    HWND preview() const { return preview_; }
    HWND statusBar() const { return status_; }

    int64_t currentFolder() const { return folder_; }
    // Selects a folder in the tree as the user does; false for an unknown folder.
    // The list follows once the tree's notification has returned.
    bool SelectFolder(int64_t folderId);
    // A folder change that the tree reported and the window has not shown yet.
    bool folderChangePending() const { return folderChangePending_; }
    // Rows of the list: message ids in row order (the message table).
    const std::vector<int64_t>& rows() const { return rows_; }
    int RowOfMessage(int64_t messageId) const;
    std::vector<int> SelectedRows() const;
    int FocusedRow() const;
    // Selects rows (first one focused) as a click and ctrl-clicks do.
    void SelectRows(const std::vector<int>& rows);
    // The message the preview pane shows; -1 when none.
    int64_t previewMessage() const { return previewMessage_; }

    // Commands.
    NoteWindow* OpenCurrentMessage();
    NoteWindow* ComposeNew();
    NoteWindow* ComposeFrom(UINT command);  // reply, reply all, forward of the current message
    void DeleteSelected();
    void MarkSelected(bool read);
    void SetStatusText(const std::wstring& text);
    // Sets the title from the shown folder (whether or not it changed).
    void Retitle();

    // StoreListener: any thread.
    void OnStoreChange(const StoreChange& change) override;

private:
    explicit MainWindow(HWND hwnd);
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    template <typename Owner, typename Attach>
    friend LRESULT DispatchToOwner(HWND, UINT, WPARAM, LPARAM, Attach);
    void OnCommand(UINT id, UINT code, HWND from);
    LRESULT OnNotify(NMHDR* hdr);
    void Layout();
    void FillTree();
    void UpdateTreeCounts();
    void FillList();
    void UpdatePreview();
    void UpdateStatus();
    void ShowSelectedFolder();
    void ApplyStoreChanges();

    HWND hwnd_ = nullptr;
    bool built_ = false;
    HMENU menuBar_ = nullptr;
    HWND sizable_ = nullptr, menuBand_ = nullptr, toolbar_ = nullptr, searchBand_ = nullptr;
    HWND tree_ = nullptr, messageView_ = nullptr, messageList_ = nullptr, listView_ = nullptr;
    HWND preview_ = nullptr, status_ = nullptr;
    HIMAGELIST treeImages_ = nullptr;
    std::shared_ptr<HtmlContent> previewContent_;
    std::map<int64_t, HTREEITEM> treeItems_;
    int64_t folder_ = -1;
    IUnknown* list_ = nullptr;  // the message-list object behind the list view
    int64_t listFolder_ = -1;   // the folder it was made for
    std::vector<int64_t> rows_;
    bool folderChangePending_ = false;
    int64_t previewMessage_ = -1;
    bool fillingList_ = false;
    bool fillingTree_ = false;
    bool transferRunning_ = false;
    std::atomic<bool> changesPending_{false};
    std::atomic<bool> foldersChanged_{false};
};

}  // namespace msoe
