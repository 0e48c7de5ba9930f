#include "store/parked_sends.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "client_variant.h"
#include "log.h"
#include "registry_keys.h"
#include "unique_any.h"

namespace plume {
namespace {

const char* ListKey() {
    return IsWindowsMail() ? "Software\\Vexlor\\PLUME\\ParkedSends\\WindowsMail"
                           : "Software\\Vexlor\\PLUME\\ParkedSends\\OutlookExpress";
}

void ValueName(const ParkedCopy& copy, char (&name)[32]) {
    snprintf(name, sizeof name, "%ld.%ld", static_cast<long>(copy.folderId), static_cast<long>(copy.msgId));
}

}  // namespace

void RememberParkedCopy(const ParkedCopy& copy) {
    unique_hkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, ListKey(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS) {
        Log(0, "RememberParkedCopy: the list cannot be written; copy %ld lives in memory only.\n",
            static_cast<long>(copy.msgId));
        return;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG stamp = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    char name[32];
    ValueName(copy, name);
    RegSetValueExA(key.get(), name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&stamp), sizeof stamp);
    RegFlushKey(key.get());
}

void ForgetParkedCopy(const ParkedCopy& copy) {
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ListKey(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    char name[32];
    ValueName(copy, name);
    RegDeleteValueA(key.get(), name);
    RegFlushKey(key.get());
    key.reset();
    RemoveEmptyKeys(HKEY_CURRENT_USER, {ListKey(), "Software\\Vexlor\\PLUME\\ParkedSends", "Software\\Vexlor\\PLUME",
                                        "Software\\Vexlor"});
}

std::vector<ParkedCopy> ParkedCopiesOfEarlierRuns() {
    std::vector<std::pair<ULONGLONG, ParkedCopy>> listed;
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ListKey(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            char name[64];
            DWORD nameSize = sizeof name, type = 0, size = sizeof(ULONGLONG);
            ULONGLONG stamp = 0;
            const LONG rc = RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type,
                                          reinterpret_cast<BYTE*>(&stamp), &size);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            long folder = 0, msg = 0;
            char rest = 0;
            if (rc != ERROR_SUCCESS || type != REG_QWORD || sscanf(name, "%ld.%ld%c", &folder, &msg, &rest) != 2) {
                Log(0, "ParkedCopiesOfEarlierRuns: entry %lu is not a parked copy; skipped.\n",
                    static_cast<unsigned long>(i));
                continue;
            }
            listed.push_back({stamp, {static_cast<LONG>(folder), static_cast<LONG>(msg)}});
        }
    }
    std::stable_sort(listed.begin(), listed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ParkedCopy> copies;
    for (const auto& entry : listed) copies.push_back(entry.second);
    return copies;
}

}  // namespace plume
