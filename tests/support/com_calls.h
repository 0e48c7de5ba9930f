// Calls of the automation interfaces as one expression: getters of numbers
// and texts, identifiers and enumerations. A failed call fails the test.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "com_ptr.h"

namespace plume::test {

// A number a getter answers; -2 when the call failed.
template <typename P, typename I>
LONG Get(const P& object, HRESULT (STDMETHODCALLTYPE I::*getter)(LONG*)) {
    LONG value = -2;
    EXPECT_EQ(S_OK, (static_cast<I*>(&*object)->*getter)(&value));
    return value;
}
template <typename P>
LONG IdOf(const P& object) {
    LONG id = -2;
    EXPECT_EQ(S_OK, object->GetID(&id));
    return id;
}

// A text a getter answers (no text reads as empty); "<failed>" when it failed.
template <typename P, typename I>
std::wstring Text(const P& object, HRESULT (STDMETHODCALLTYPE I::*getter)(BSTR*)) {
    BSTR text = nullptr;
    const HRESULT hr = (static_cast<I*>(&*object)->*getter)(&text);
    EXPECT_EQ(S_OK, hr);
    std::wstring out = FAILED(hr) ? L"<failed>" : std::wstring(text ? text : L"", SysStringLen(text));
    SysFreeString(text);
    return out;
}

// What GetFirst…ID and GetNext…ID hand out before -1, which then stays.
template <typename P, typename I>
std::vector<LONG> Enumerate(const P& object, HRESULT (STDMETHODCALLTYPE I::*first)(LONG*),
                            HRESULT (STDMETHODCALLTYPE I::*next)(LONG*)) {
    I* o = static_cast<I*>(&*object);
    std::vector<LONG> ids;
    LONG id = -2;
    EXPECT_EQ(S_OK, (o->*first)(&id));
    for (int guard = 0; id != -1 && guard < 10000; ++guard) {
        ids.push_back(id);
        EXPECT_EQ(S_OK, (o->*next)(&id));
    }
    EXPECT_EQ(S_OK, (o->*next)(&id));
    EXPECT_EQ(-1, id) << "the end stays the end";
    return ids;
}

}  // namespace plume::test
