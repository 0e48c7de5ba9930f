// A client message-list class of the tests' own: list objects with the
// client's slot 4 (fill) and slot 20 (GetMessageTable), a message table with
// slots 25 (GetRowMessageId) and 26 (GetRowIndex). One class table shared by
// every object, as the client's is, so a patch of it is seen by all.
#pragma once

#include <windows.h>

#include <vector>

#include "client_numbers.h"
#include "fake_table_object.h"

namespace plume::test {

using client_numbers::kFillSlot;
using client_numbers::kRowIndexSlot;
using client_numbers::kRowMessageIdSlot;
using client_numbers::kTableSlotOE;

struct FakeList {
    const AnyFn* vtbl;
    LONG refs = 1;
    std::vector<INT64> rows;         // message ids in row order
    HRESULT fillResult = S_OK;
    HRESULT tableResult = S_OK;      // GetMessageTable
    HRESULT rowResult = S_OK;        // the table's two lookups
    std::vector<UINT_PTR> lastFill;  // id and the four passed-through arguments
    INT64 lastIndexQuery = 0;
};

// The table is a second identity of the list with a table of its own.
struct FakeTable {
    const AnyFn* vtbl;
    FakeList* list;
};

// The list lives on the test's stack: its last release frees nothing.
inline ULONG STDMETHODCALLTYPE FakeListRelease(FakeList* self) { return --self->refs; }
inline HRESULT STDMETHODCALLTYPE FakeFill(FakeList* self, INT64 id, UINT_PTR a3, UINT_PTR a4, UINT_PTR a5,
                                          UINT_PTR a6) {
    self->lastFill = {static_cast<UINT_PTR>(id), a3, a4, a5, a6};
    return self->fillResult;
}
inline ULONG STDMETHODCALLTYPE FakeTableAddRef(FakeTable* self) { return ++self->list->refs; }
inline ULONG STDMETHODCALLTYPE FakeTableRelease(FakeTable* self) { return --self->list->refs; }
inline HRESULT STDMETHODCALLTYPE FakeRowMessageId(FakeTable* self, INT32 row, INT64* id) {
    if (FAILED(self->list->rowResult)) return self->list->rowResult;
    if (row < 0 || row >= static_cast<INT32>(self->list->rows.size())) return E_INVALIDARG;
    *id = self->list->rows[row];
    return S_OK;
}
inline HRESULT STDMETHODCALLTYPE FakeRowIndex(FakeTable* self, INT64 id, INT32* row) {
    self->list->lastIndexQuery = id;
    if (FAILED(self->list->rowResult)) return self->list->rowResult;
    for (size_t i = 0; i < self->list->rows.size(); ++i)
        if (self->list->rows[i] == id) {
            *row = static_cast<INT32>(i);
            return S_OK;
        }
    return E_INVALIDARG;
}

inline AnyFn g_fakeTableVtbl[27];
inline AnyFn g_fakeListVtbl[22];

inline HRESULT STDMETHODCALLTYPE FakeGetTable(FakeList* self, FakeTable** out) {
    static FakeTable table;
    *out = nullptr;
    if (FAILED(self->tableResult)) return self->tableResult;
    table = {g_fakeTableVtbl, self};
    *out = &table;
    ++self->refs;
    return S_OK;
}

inline void BuildFakeListTables() {
    FillFakeTable<FakeList>(g_fakeListVtbl, 22);
    for (auto& e : g_fakeTableVtbl) e = reinterpret_cast<AnyFn>(&FakeNotImpl<FakeTable>);
    g_fakeListVtbl[2] = reinterpret_cast<AnyFn>(FakeListRelease);
    g_fakeListVtbl[kFillSlot] = reinterpret_cast<AnyFn>(FakeFill);
    g_fakeListVtbl[kTableSlotOE] = reinterpret_cast<AnyFn>(FakeGetTable);
    g_fakeTableVtbl[1] = reinterpret_cast<AnyFn>(FakeTableAddRef);
    g_fakeTableVtbl[2] = reinterpret_cast<AnyFn>(FakeTableRelease);
    g_fakeTableVtbl[kRowMessageIdSlot] = reinterpret_cast<AnyFn>(FakeRowMessageId);
    g_fakeTableVtbl[kRowIndexSlot] = reinterpret_cast<AnyFn>(FakeRowIndex);
}

// Calls slot 4 through the class table, as the client does.
inline HRESULT ClientFills(FakeList* list, INT64 id) {
    using FillFn = HRESULT(STDMETHODCALLTYPE*)(FakeList*, INT64, UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR);
    return reinterpret_cast<FillFn>(list->vtbl[kFillSlot])(list, id, 3, 0, 0x55, 0x66);
}

}  // namespace plume::test
