// A registry value a test changes, put back as it was when the scope ends,
// also when the test fails half way (a value left behind changes every later
// run in the prefix).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace plume::test {

// The outermost key of `path` that does not exist yet ("" when all do).
inline std::wstring FirstMissingKey(HKEY root, const std::wstring& path) {
    for (size_t end = 0; end != std::wstring::npos;) {
        end = path.find(L'\\', end + 1);
        const std::wstring part = path.substr(0, end);
        HKEY probe = nullptr;
        if (RegOpenKeyExW(root, part.c_str(), 0, KEY_QUERY_VALUE, &probe) != ERROR_SUCCESS) return part;
        RegCloseKey(probe);
    }
    return {};
}

class ScopedRegistryValue {
public:
    ScopedRegistryValue(HKEY root, const wchar_t* path, const wchar_t* name)
        : root_(root), path_(path), name_(name), createdTop_(FirstMissingKey(root, path)) {
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
        // The keys this scope made, from the inside out, while they are empty.
        for (std::wstring k = path_; !keyExisted_ && k.size() >= createdTop_.size() && !createdTop_.empty();
             k.resize(k.rfind(L'\\') == std::wstring::npos ? 0 : k.rfind(L'\\')))
            if (RegDeleteKeyW(root_, k.c_str()) != ERROR_SUCCESS) break;
    }
    ScopedRegistryValue(const ScopedRegistryValue&) = delete;
    ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

    bool SetDword(DWORD value) { return Set(REG_DWORD, &value, sizeof value); }
    void Delete() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        RegDeleteValueW(key, name_.c_str());
        RegCloseKey(key);
    }
    bool SetString(const std::wstring& value, DWORD type = REG_SZ) {
        return Set(type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

private:
    bool Set(DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return false;
        const bool ok =
            RegSetValueExW(key, name_.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
        RegCloseKey(key);
        return ok;
    }

    HKEY root_;
    std::wstring path_, name_, createdTop_;
    bool keyExisted_ = false;
    bool valueExisted_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
};

// A whole key's values (not its sub-keys), or that the key is missing, put
// back when the scope ends.
class ScopedRegistryKeyValues {
public:
    ScopedRegistryKeyValues(HKEY root, const wchar_t* path) : root_(root), path_(path) {
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
    ~ScopedRegistryKeyValues() {
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
    ScopedRegistryKeyValues(const ScopedRegistryKeyValues&) = delete;
    ScopedRegistryKeyValues& operator=(const ScopedRegistryKeyValues&) = delete;

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

// A key a test creates, with every missing key above it; the scope deletes
// the topmost key it created, with all below it. A key that existed already
// is left as it is (`created()` tells).
class ScopedRegistryKey {
public:
    ScopedRegistryKey(HKEY root, const std::wstring& path) : root_(root), createdTop_(FirstMissingKey(root, path)) {
        RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    ~ScopedRegistryKey() {
        if (key_) RegCloseKey(key_);
        if (!createdTop_.empty()) RegDeleteTreeW(root_, createdTop_.c_str());
    }
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    bool created() const { return key_ && !createdTop_.empty(); }
    HKEY get() const { return key_; }
    void SetString(const char* name, const std::string& value) {
        RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    }
    void SetDword(const char* name, DWORD value) {
        RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }

private:
    HKEY root_;
    HKEY key_ = nullptr;
    std::wstring createdTop_;
};

}  // namespace plume::test
