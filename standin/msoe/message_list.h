// The client's message-list component, class {233A9692-667E-11D1-9DFB-006097D50408}.
// Outlook Express hands it out through CoCreateInstance with
// {DE89B950-A597-11D1-9E46-006097D50408}; Windows Mail through msoe.dll's
// DllGetClassObject with {51A0B0D3-7AFE-4081-BF82-F87AE36373DD}. A list
// object holds the rows of one folder; slot 4 fills it, slot 20 (OE) or 21
// (WM) hands out its message table, whose slot 25 maps a row to a message
// id and slot 26 a message id to a row. Objects answer only the thread that
// made them (RPC_E_WRONG_THREAD), unless /table:anythread.
#pragma once

#include <objbase.h>

#include <cstdint>
#include <vector>

namespace msoe {

extern const CLSID CLSID_MessageList;
extern const IID IID_MessageListOE;
extern const IID IID_MessageListWM;
extern const IID IID_MessageTable;

// Slot 4's arguments after the folder: the sort column (3 = received), 1 for
// ascending order, and two words that must be 0.
constexpr uintptr_t kSortReceived = 3;

// A new list object of the running variant, one reference.
IUnknown* NewMessageList();
// Fills the list for `folderId` (-1: empty) through slot 4 of the object's
// virtual table, as the client fills its lists.
HRESULT FillMessageList(IUnknown* list, int64_t folderId);
// The message ids of the list's rows, in row order.
std::vector<int64_t> MessageListRows(IUnknown* list);

// Test switches of the control channel: the table answers every call
// with E_FAIL; GetMessageTable fails.
void SetMessageTableFailing(bool on);
void SetGetMessageTableFailing(bool on);
// Live list and table objects, for leak checks.
long LiveMessageListObjects();
// Calls and reference changes that reached a list or table object from a
// thread other than its own.
long WrongThreadMessageListCalls();

HRESULT MessageListClassObject(REFCLSID clsid, REFIID iid, void** out);

}  // namespace msoe
