#include "plugin_outcomes.h"
#include "registry_keys.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "unique_any.h"

namespace plume {
namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The whole file; empty when it cannot be read (or is larger than a library
// worth looking into).
std::vector<BYTE> ReadWholeFile(const std::string& path) {
    HANDLE opened = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    unique_handle file(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > (256 << 20)) return {};
    std::vector<BYTE> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
        return {};
    return bytes;
}

template <typename T>
const T* At(const std::vector<BYTE>& bytes, size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return nullptr;
    return reinterpret_cast<const T*>(bytes.data() + offset);
}

// The names in a PE file's import directory (32- or 64-bit); empty when the
// file is no PE image.
std::vector<std::string> ImportedNames(const std::vector<BYTE>& bytes) {
    std::vector<std::string> names;
    const auto* dos = At<IMAGE_DOS_HEADER>(bytes, 0);
    if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return names;
    const size_t nt = static_cast<size_t>(dos->e_lfanew);
    const auto* signature = At<DWORD>(bytes, nt);
    const auto* header = At<IMAGE_FILE_HEADER>(bytes, nt + sizeof(DWORD));
    if (!signature || *signature != IMAGE_NT_SIGNATURE || !header) return names;
    const size_t optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    const auto* magic = At<WORD>(bytes, optional);
    if (!magic) return names;
    const IMAGE_DATA_DIRECTORY* imports = nullptr;
    if (*magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        if (const auto* o = At<IMAGE_OPTIONAL_HEADER64>(bytes, optional))
            if (o->NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_IMPORT)
                imports = &o->DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else if (*magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        if (const auto* o = At<IMAGE_OPTIONAL_HEADER32>(bytes, optional))
            if (o->NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_IMPORT)
                imports = &o->DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    }
    if (!imports || !imports->VirtualAddress) return names;
    const size_t sections = optional + header->SizeOfOptionalHeader;
    auto fileOffset = [&](DWORD rva, size_t* out) {
        for (WORD i = 0; i < header->NumberOfSections; ++i) {
            const auto* s = At<IMAGE_SECTION_HEADER>(bytes, sections + i * sizeof(IMAGE_SECTION_HEADER));
            if (!s) return false;
            const DWORD extent = std::max(s->Misc.VirtualSize, s->SizeOfRawData);
            if (rva >= s->VirtualAddress && rva < s->VirtualAddress + extent) {
                *out = static_cast<size_t>(rva - s->VirtualAddress) + s->PointerToRawData;
                return true;
            }
        }
        return false;
    };
    size_t at = 0;
    if (!fileOffset(imports->VirtualAddress, &at)) return names;
    for (;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* d = At<IMAGE_IMPORT_DESCRIPTOR>(bytes, at);
        size_t name = 0;
        if (!d || !d->Name || !fileOffset(d->Name, &name) || name >= bytes.size()) break;
        const char* text = reinterpret_cast<const char*>(bytes.data() + name);
        names.emplace_back(text, strnlen(text, bytes.size() - name));
    }
    return names;
}

// Where the loader would find `dll` for a library loaded by path from this
// process: "" when nowhere. A DLL the system provides without a file (Wine's
// built-in ones, API sets) counts as found.
std::string Locate(const std::string& dll) {
    char found[MAX_PATH] = "";
    if (SearchPathA(nullptr, dll.c_str(), nullptr, MAX_PATH, found, nullptr)) return found;
    unique_hmodule probe(LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    return probe ? std::string("(system)") : std::string();
}

bool InSystemFolder(const std::string& path) {
    char system[MAX_PATH] = "";
    const UINT n = GetSystemDirectoryA(system, MAX_PATH);
    return path == "(system)" || (n && Lower(path).rfind(Lower(std::string(system, n)), 0) == 0);
}

void CollectMissing(const std::string& path, int depth, std::set<std::string>& seen, std::vector<std::string>& missing) {
    for (const std::string& dll : ImportedNames(ReadWholeFile(path))) {
        if (!seen.insert(Lower(dll)).second) continue;
        const std::string where = Locate(dll);
        if (where.empty()) missing.push_back(dll);
        // A library of the writer's own may lack something in its turn.
        else if (depth < 4 && !InSystemFolder(where)) CollectMissing(where, depth + 1, seen, missing);
    }
}

std::string LocalTime() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond);
    return text;
}

}  // namespace

std::vector<ListedEntry> ReadPluginList(bool machine, bool* found, bool* cutShort, bool isolated) {
    std::vector<ListedEntry> entries;
    if (found) *found = false;
    if (cutShort) *cutShort = false;
    unique_hkey key;
    if (RegOpenKeyExA(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, isolated ? kIsolatedPluginsKey : kPluginsKey,
                      0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return entries;
    if (found) *found = true;
    for (DWORD i = 0;; ++i) {
        // The library's buffers: 1024 characters of name, 1024 bytes of data.
        char name[1025], data[1025] = {};
        DWORD nameLength = 1024, dataLength = 1024, type = 0;
        const LONG r =
            RegEnumValueA(key.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataLength);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS) {
            if (cutShort) *cutShort = true;
            break;
        }
        entries.push_back({name, type == REG_SZ ? data : "", type == REG_SZ});
    }
    return entries;
}

std::string PluginEntryName(bool machine, const std::string& valueName, bool isolated) {
    return (machine ? "HKLM\\" : "HKCU\\") + std::string(isolated ? "Isolated\\" : "") + valueName;
}

void WritePluginOutcome(const std::string& entry, const std::string& text, const std::string& outcome) {
    unique_hkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kPluginOutcomesKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    std::string data = text + '\0' + outcome + '\0' + LocalTime() + '\0' + '\0';
    RegSetValueExA(key.get(), entry.c_str(), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size()));
}

bool ReadPluginOutcome(const std::string& entry, PluginOutcome* out) {
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kPluginOutcomesKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), entry.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return false;
    std::string data(size + 2, '\0');
    if (RegQueryValueExA(key.get(), entry.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    std::vector<std::string> parts;
    for (size_t at = 0; parts.size() < 3 && at < data.size(); at += parts.back().size() + 1)
        parts.emplace_back(data.c_str() + at);
    parts.resize(3);
    *out = {parts[0], parts[1], parts[2]};
    return true;
}

void RemoveEmptyUserKeys(const char* path) {
    RemoveEmptyKeys(HKEY_CURRENT_USER, {path, "Software\\Vexlor\\PLUME", "Software\\Vexlor"});
}

void PrunePluginOutcomes(const std::vector<std::string>& keep) {
    {
        unique_hkey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kPluginOutcomesKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) !=
            ERROR_SUCCESS)
            return;
        std::vector<std::string> gone;
        for (DWORD i = 0;; ++i) {
            char name[1100];
            DWORD length = sizeof name;
            if (RegEnumValueA(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            if (std::find(keep.begin(), keep.end(), name) == keep.end()) gone.push_back(name);
        }
        for (const auto& name : gone) RegDeleteValueA(key.get(), name.c_str());
    }
    RemoveEmptyUserKeys(kPluginOutcomesKey);
}

void ForgetPluginEntry(const std::string& entry) {
    for (const char* path : {kPluginOutcomesKey, kPluginStartMarksKey, kPluginCrashesKey}) {
        {
            unique_hkey key;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) continue;
            RegDeleteValueA(key.get(), entry.c_str());
        }
        RemoveEmptyUserKeys(path);
    }
}

bool PluginStartMarkLeft(const std::string& entry, const std::string& text) {
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kPluginStartMarksKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    char data[1025] = {};
    DWORD size = 1024, type = 0;
    return RegQueryValueExA(key.get(), entry.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
               ERROR_SUCCESS &&
           type == REG_SZ && text == data;
}

void SetPluginStartMark(const std::string& entry, const std::string& text) {
    unique_hkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kPluginStartMarksKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key.get(), entry.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    // The client may end at once: the mark must outlive it.
    RegFlushKey(key.get());
}

void ClearPluginStartMark(const std::string& entry) {
    {
        unique_hkey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kPluginStartMarksKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
            return;
        RegDeleteValueA(key.get(), entry.c_str());
    }
    // The key goes with its last mark (writing the mark made it).
    RemoveEmptyUserKeys(kPluginStartMarksKey);
}

CrashState ReadPluginCrash(const std::string& entry, const std::string& text) {
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kPluginCrashesKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return CrashState::none;
    char data[1100] = {};
    DWORD size = sizeof data - 2, type = 0;
    if (RegQueryValueExA(key.get(), entry.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ || text != data)
        return CrashState::none;
    return strcmp(data + strlen(data) + 1, "skipped") == 0 ? CrashState::skipped : CrashState::isolated;
}

void WritePluginCrash(const std::string& entry, const std::string& text, CrashState state) {
    if (state == CrashState::none) {
        {
            unique_hkey key;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, kPluginCrashesKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
                RegDeleteValueA(key.get(), entry.c_str());
        }
        RemoveEmptyUserKeys(kPluginCrashesKey);
        return;
    }
    unique_hkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kPluginCrashesKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    const std::string data =
        text + '\0' + (state == CrashState::skipped ? "skipped" : "isolated") + '\0' + '\0';
    RegSetValueExA(key.get(), entry.c_str(), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size()));
}

std::string SystemErrorText(DWORD code) {
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                   nullptr);
    std::string s(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s.empty() ? "error " + std::to_string(code) : s;
}

bool NamesLibrary(const std::string& text) {
    const std::string lower = Lower(text);
    return text.find_first_of("\\/:") != std::string::npos ||
           (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".dll") == 0) || FileExists(text);
}

std::vector<std::string> MissingImports(const std::string& path) {
    std::set<std::string> seen;
    std::vector<std::string> missing;
    CollectMissing(path, 0, seen, missing);
    return missing;
}

std::string DescribeLoadFailure(const std::string& path, DWORD error) {
    std::string why = "error " + std::to_string(error) + " (" + SystemErrorText(error) + ")";
    if (error == ERROR_MOD_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
        char found[MAX_PATH] = "";
        const bool exists = FileExists(path) || (FolderOf(path).empty() &&
                                                 SearchPathA(nullptr, path.c_str(), nullptr, MAX_PATH, found, nullptr));
        if (!exists) return why + ": the file does not exist";
        const std::vector<std::string> missing = MissingImports(found[0] ? found : path);
        if (missing.empty()) return why;
        std::string list;
        bool runtime = false, beside = false;
        for (const auto& dll : missing) {
            list += (list.empty() ? "" : ", ") + dll;
            const std::string name = Lower(dll);
            runtime = runtime || name.rfind("libstdc++", 0) == 0 || name.rfind("libgcc", 0) == 0 ||
                      name.rfind("libwinpthread", 0) == 0;
            beside = beside || FileExists(FolderOf(found[0] ? found : path) + dll);
        }
        return why + ": it needs " + list + (missing.size() == 1 ? ", which is" : ", which are") + " not found" +
               (beside ? " (a DLL beside the plug-in is not looked for: the client searches its own folder, the "
                         "system's and PATH)"
                       : "") +
               (runtime ? " (link the MinGW runtime statically: -static)" : "");
    }
    if (error == ERROR_BAD_EXE_FORMAT) return why + ": not a 64-bit Windows library";
    if (error == ERROR_DLL_INIT_FAILED) return why + ": its DllMain refused to load";
    return why;
}

}  // namespace plume
