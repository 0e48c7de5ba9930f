// The IUnknown part of the client objects a test fakes as a plain table of
// entries: `O` starts with the table pointer and has a `refs` count.
#pragma once

#include <windows.h>

#include <cstring>
#include <vector>

namespace plume::test {

using AnyFn = void (*)();

template <typename O>
ULONG STDMETHODCALLTYPE FakeAddRef(O* o) {
    return ++o->refs;
}
template <typename O>
ULONG STDMETHODCALLTYPE FakeRelease(O* o) {
    LONG n = --o->refs;
    if (n == 0) delete o;
    return n;
}
// Any interface is the object itself.
template <typename O>
HRESULT STDMETHODCALLTYPE FakeQuery(O* o, REFIID, void** out) {
    ++o->refs;
    *out = o;
    return S_OK;
}
template <typename O>
HRESULT STDMETHODCALLTYPE FakeNotImpl(O*) {
    return E_NOTIMPL;
}

// Fills `count` entries of `table`: IUnknown at 0 to 2, E_NOTIMPL after.
template <typename O>
void FillFakeTable(AnyFn* table, int count) {
    for (int i = 0; i < count; ++i) table[i] = reinterpret_cast<AnyFn>(&FakeNotImpl<O>);
    table[0] = reinterpret_cast<AnyFn>(&FakeQuery<O>);
    table[1] = reinterpret_cast<AnyFn>(&FakeAddRef<O>);
    table[2] = reinterpret_cast<AnyFn>(&FakeRelease<O>);
}

// A folder's rowset over its message ids, its handle the object's address:
// Outlook Express seeks to the last row and queries at a position, Windows
// Mail walks. Rows carry the message id at offset 24.
struct FakeRowset {
    std::vector<UINT> ids;
    bool walks = false;
    size_t next = 0;
};
template <typename O>
HRESULT STDMETHODCALLTYPE FakeSeekRowset(O*, UINT_PTR rowset, UINT how, UINT_PTR, UINT_PTR* position) {
    auto* r = reinterpret_cast<FakeRowset*>(rowset);
    if (how != 2 || r->ids.empty()) return E_FAIL;
    *position = r->ids.size() - 1;
    return S_OK;
}
template <typename O>
HRESULT STDMETHODCALLTYPE FakeQueryRowset(O*, UINT_PTR rowset, UINT_PTR arg, BYTE* record, UINT_PTR*) {
    auto* r = reinterpret_cast<FakeRowset*>(rowset);
    const size_t at = r->walks ? (arg == 1 ? r->next++ : SIZE_MAX) : arg;
    if (at >= r->ids.size()) return S_FALSE;
    memcpy(record + 24, &r->ids[at], sizeof(UINT));
    return S_OK;
}
template <typename O>
HRESULT STDMETHODCALLTYPE FakeCloseRowset(O*, UINT_PTR rowset) {
    delete reinterpret_cast<FakeRowset*>(rowset);
    return S_OK;
}

}  // namespace plume::test
