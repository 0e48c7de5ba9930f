// The running client: its windows, its store and its options. Everything
// here lives on the client's user-interface thread unless said otherwise.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "store.h"

namespace msoe {

class MainWindow;
class NoteWindow;
class SendDialog;

struct ClientOptions {
    bool composeOnly = false;    // /mailurl:...: a compose window without the main window
    std::wstring mailto;         // address (and ?subject=) from /mailurl:mailto:...
    bool resetStore = false;     // /resetstore: start from the seed file
    bool noSave = false;         // /nosave: do not write the store back
    std::vector<UINT> watch;     // /watch:n,n,...: record these messages reaching the host window from the start
    bool earlyStoreNotice = false;  // /storenotice:early: the store notice is queued before the library starts
    // /sending:endsfirst: a message window's sending state ends before its
    // message enters the Outbox (by default it ends when the window goes,
    // after the insert and the send command).
    bool sendingEndsFirst = false;
    // /spooler:open: the spooler opens the Outbox and Sent Items as a view
    // would at every step (by default, /spooler:noopen, it moves messages
    // without opening them).
    bool spoolerOpensFolders = false;
    // /folder:fillfirst: a folder change fills the message list before the
    // main window is retitled (by default the title comes first).
    bool fillBeforeRetitle = false;
    // /readmark:atonce: the message shown in the preview pane is marked read
    // inside the list's notification (by default once the selection settled).
    bool readMarkAtOnce = false;
    // /close:cancelonce: the user asks to close the main window once it runs
    // (or when the switch comes through the control channel) and says no; the
    // window stays. Later closes go through (/close:accept, the default).
    bool cancelClose = false;
    // /table:anythread: the message-list and table objects answer every
    // thread (by default only the thread that made them).
    bool tableAnyThread = false;
    // /table:reused: one message-list object for every folder (by default a
    // new one for each folder the window shows).
    bool tableReused = false;
    // /popups:rebuild: the client empties a menu-bar pop-up and fills it
    // again each time it opens (by default, /popups:keep, it keeps it).
    bool rebuildPopups = false;
    // /commits:parallel: a burst of worker commits runs on several threads at
    // once (by default, /commits:onethread, on one).
    bool parallelCommits = false;
    // /notify:inlock: store listeners are called while the store holds its
    // lock (by default, /notify:outside, after it is let go).
    bool notifyInLock = false;
    // /treerecords:full: folder tree records also carry the parent, the name
    // and the kind at the store record's offsets (by default, /treerecords:lean,
    // only the folder number at 16, the rest noise). For records made from then on.
    bool fullTreeRecords = false;
};

ClientOptions ParseCommandLine(const wchar_t* commandLine);
// Applies one switch of the command line; false for one it does not know.
bool ApplySwitch(ClientOptions& options, const std::wstring& text);

class Client {
public:
    static Client& Get();

    ClientOptions options;
    MainWindow* main = nullptr;          // none in compose-only mode and after the main window is gone
    std::vector<NoteWindow*> notes;      // open message windows, oldest first
    SendDialog* sendDialog = nullptr;
    std::wstring storePath;              // where the store is saved
    std::wstring loadError;              // why the store could not be loaded, if it could not
    bool libraryStarted = false;         // plumesrv.dll was loaded and StartServer called
    DWORD uiThread = 0;

    // Loads the store (saved file, else the seed next to the executable).
    void LoadStore();
    void SaveStore();
    // Starts a send as the client does: command 0xAA4 to the send dialog.
    void StartSend();
    // The window that receives the client's status messages (0x08B6, 0x13A0).
    HWND StatusTarget() const;
    // A top-level window of the client went away: quit when none is left.
    void WindowGone();
    NoteWindow* FindNote(HWND hwnd) const;
    // What a switch makes the user do at once (a close they then cancel).
    void ActOnSwitches();
};

}  // namespace msoe
