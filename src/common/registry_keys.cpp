#include "registry_keys.h"

#include "unique_any.h"

namespace plume {

bool RemoveKeyIfEmpty(HKEY hive, const char* path) {
    unique_hkey key;
    if (RegOpenKeyExA(hive, path, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
    DWORD values = 0, subKeys = 0;
    const bool empty = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                        nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       values == 0 && subKeys == 0;
    key.reset();
    return empty && RegDeleteKeyA(hive, path) == ERROR_SUCCESS;
}

void RemoveEmptyKeys(HKEY hive, std::initializer_list<const char*> paths) {
    for (const char* path : paths)
        if (!RemoveKeyIfEmpty(hive, path)) break;
}

}  // namespace plume
