// VexMessageList: the library's binder to the client's message-list class
// {233A9692-667E-11D1-9DFB-006097D50408}. The client offers no way to turn
// rows of its list view into message ids; its list objects do, through their
// message table. SetHook replaces entry 4 of the class's virtual table (the
// method the client calls when it fills a list with a folder); each
// successful call binds that object and its table here.
//
// Lifecycle: made and hooked by the manager's construction, bound and cleared
// under the manager's storeLock, unhooked when destroyed. The patch is undone
// only while the entry still holds our replacement.
// Threads: the hook runs on whichever thread the client calls its method on
// (the client UI thread); lookups run on either thread. The client's objects
// may answer only the thread that filled them: a lookup from another thread
// is sent to the main window ("PLUME.TableLookup") when that window belongs
// to the filling thread, and waits for it at most kTableLookupWaitMs.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "com_ptr.h"
#include "sync.h"

namespace plume {

// The client's method in slot 4: the object, a 64-bit folder identifier (-1
// none) and four arguments passed through unchanged.
using MessageListMethod = HRESULT(STDMETHODCALLTYPE*)(IUnknown* self, INT64 id, UINT_PTR a3, UINT_PTR a4,
                                                     UINT_PTR a5, UINT_PTR a6);

// How long a lookup from another thread waits for the filling thread.
constexpr DWORD kTableLookupWaitMs = 5000;

class VexMessageList : public std::enable_shared_from_this<VexMessageList> {
public:
    VexMessageList(const VexMessageList&) = delete;
    VexMessageList& operator=(const VexMessageList&) = delete;

    virtual ~VexMessageList();
    // Patches slot 4 of the class's table; the HRESULT of GetMessageList on failure.
    virtual HRESULT SetHook();
    virtual void RemoveHook();
    // A new client list object (one reference), only to reach its class's table.
    virtual HRESULT GetMessageList(IUnknown** object) = 0;
    virtual void Clear();
    virtual void SetMessageList(IUnknown* object);
    // The row of a message, -1 when not found; the message of a row, -1 when none.
    LONG GetMessageIndex(LONG messageId);
    LONG GetMessageId(LONG row);
    // The messages of `rows`, in their order: one trip to the filling thread.
    std::vector<LONG> GetMessageIds(const std::vector<LONG>& rows);
    // No list object or no table bound.
    virtual bool IsEmpty();

    bool hooked() const { return hooked_; }
    // The bound table with a reference of the caller's, or null.
    com_ptr<IUnknown> Table() const;
    // The main window's side of a lookup sent from another thread.
    static LRESULT RunSentLookup(LPARAM lParam);

protected:
    VexMessageList(int tableSlot, bool logsFailures, MessageListMethod replacement, MessageListMethod* saved);

private:
    // A row (byRow) or a message id looked up on this thread; -1 when none.
    LONG LookupHere(bool byRow, LONG value);
    // On the filling thread, however the caller got here; -1 for each value
    // not found or not answered in time.
    std::vector<LONG> Lookup(bool byRow, std::vector<LONG> values);

    bool hooked_ = false;
    DWORD fillThread_ = 0;
    MessageListMethod savedEntry_ = nullptr;
    MessageListMethod replacement_;
    MessageListMethod* patchedSlot_ = nullptr;
    // Guards the two references, so a lookup on one thread keeps the table
    // alive while the other thread rebinds; client code runs outside it.
    mutable critical_section bindingLock_;
    com_ptr<IUnknown> listObject_;
    com_ptr<IUnknown> table_;

    const int tableSlot_;        // GetMessageTable
    const bool logsFailures_;    // Windows Mail's variant logs failed table calls
    MessageListMethod* saved_;   // the variant's process-wide saved entry
};

// Outlook Express: CoCreateInstance; GetMessageTable at slot 20.
class VexMessageListOE : public VexMessageList {
public:
    VexMessageListOE();
    HRESULT GetMessageList(IUnknown** object) override;
};

// Windows Mail: msoe.dll beside the executable, DllGetClassObject;
// GetMessageTable at slot 21.
class VexMessageListWM : public VexMessageList {
public:
    VexMessageListWM();
    ~VexMessageListWM() override;
    HRESULT GetMessageList(IUnknown** object) override;

private:
    // Held while the patch lives in the module's table, in case the client
    // does not hold msoe.dll itself.
    HMODULE module_ = nullptr;
};

// The variant for the running client (not yet hooked).
std::shared_ptr<VexMessageList> MakeVexMessageList();

// Reads or writes one entry of a virtual table between two VirtualProtect calls.
bool WriteTableEntry(MessageListMethod* slot, MessageListMethod value);

}  // namespace plume
