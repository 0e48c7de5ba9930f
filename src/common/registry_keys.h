// Keys of the user's hive that the library writes only while it needs them.
#pragma once

#include <windows.h>

#include <initializer_list>

namespace plume {

// Deletes the key `path` of `hive` when it holds no value and no key; false
// when it stays.
bool RemoveKeyIfEmpty(HKEY hive, const char* path);

// Deletes each key of `paths`, innermost first, while they are empty: a key
// the library made and emptied goes with the keys above it that it made.
void RemoveEmptyKeys(HKEY hive, std::initializer_list<const char*> paths);

}  // namespace plume
