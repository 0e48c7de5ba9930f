// A registry value a test changes, put back as it was when the scope ends,
// also when the test fails half way (a value left behind changes every later
// run in the prefix).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace plume::test {

class ScopedRegistryValue {
public:
    ScopedRegistryValue(HKEY root, const wchar_t* path, const wchar_t* name) : root_(root), path_(path), name_(name) {
        HKEY key = nullptr;
        keyExisted_ = RegOpenKeyExW(root_, path_.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
        if (!keyExisted_) return;
        DWORD size = 0;
        if (RegQueryValueExW(key, name_.c_str(), nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            data_.resize(size);
            valueExisted_ = RegQueryValueExW(key, name_.c_str(), nullptr, &type_, data_.data(), &size) == ERROR_SUCCESS;
        }
        RegCloseKey(key);
    }
    ~ScopedRegistryValue() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        if (valueExisted_)
            RegSetValueExW(key, name_.c_str(), 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
        else
            RegDeleteValueW(key, name_.c_str());
        RegCloseKey(key);
        if (!keyExisted_) RegDeleteKeyW(root_, path_.c_str());  // only while it has no sub-keys
    }
    ScopedRegistryValue(const ScopedRegistryValue&) = delete;
    ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

    bool SetDword(DWORD value) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return false;
        const bool ok = RegSetValueExW(key, name_.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                       sizeof value) == ERROR_SUCCESS;
        RegCloseKey(key);
        return ok;
    }

private:
    HKEY root_;
    std::wstring path_, name_;
    bool keyExisted_ = false;
    bool valueExisted_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
};

// A whole key's values (not its sub-keys), or that the key is missing, put
// back when the scope ends.
class ScopedRegistryKey {
public:
    ScopedRegistryKey(HKEY root, const wchar_t* path) : root_(root), path_(path) {
        HKEY key = nullptr;
        existed_ = RegOpenKeyExW(root_, path_.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
        if (!existed_) return;
        for (DWORD i = 0;; ++i) {
            wchar_t name[16384];
            DWORD nameLength = 16384, type = 0, size = 0;
            if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
            Value v{name, type, std::vector<BYTE>(size)};
            nameLength = 16384;
            RegEnumValueW(key, i, name, &nameLength, nullptr, &type, v.data.data(), &size);
            values_.push_back(std::move(v));
        }
        RegCloseKey(key);
    }
    ~ScopedRegistryKey() {
        if (!existed_) {
            RegDeleteKeyW(root_, path_.c_str());
            return;
        }
        HKEY key = nullptr;
        if (RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return;
        // Values the test added go; the saved ones come back.
        for (;;) {
            wchar_t name[16384];
            DWORD nameLength = 16384;
            if (RegEnumValueW(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            if (RegDeleteValueW(key, name) != ERROR_SUCCESS) break;
        }
        for (const Value& v : values_)
            RegSetValueExW(key, v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
        RegCloseKey(key);
    }
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

private:
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    HKEY root_;
    std::wstring path_;
    bool existed_ = false;
    std::vector<Value> values_;
};

}  // namespace plume::test
