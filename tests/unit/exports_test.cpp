// What plumesrv.dll exports and what it needs from the system.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <set>
#include <string>

#include "test_paths.h"
#include "proc_address.h"
#include "unique_any.h"

namespace {

TEST(Exports, VersionAndEntryPoints) {
    plume::unique_hmodule dll(LoadLibraryW(plume::test::LibraryPathW().c_str()));
    ASSERT_TRUE(dll);
    auto version = plume::GetProcAs<DWORD (*)()>(dll.get(), "GetLibraryVersion");
    ASSERT_NE(nullptr, version);
    EXPECT_EQ(3233u, version());
    auto exitServer = plume::GetProcAs<void (*)()>(dll.get(), "ExitServer");
    ASSERT_NE(nullptr, exitServer);
    exitServer();  // has no effect
    exitServer();
    EXPECT_EQ(3233u, version());
    // Classes are reachable only through the running server's class objects.
    EXPECT_EQ(nullptr, GetProcAddress(dll.get(), "DllGetClassObject"));
    EXPECT_EQ(nullptr, GetProcAddress(dll.get(), "DllCanUnloadNow"));
}

TEST(Exports, LiveCountsOfALibraryThatHasNotStarted) {
    plume::unique_hmodule dll(LoadLibraryW(plume::test::LibraryPathW().c_str()));
    ASSERT_TRUE(dll);
    auto counts = plume::GetProcAs<LONG(WINAPI*)(LONG*, LONG)>(dll.get(), "PlumeLiveCounts");
    ASSERT_NE(nullptr, counts);
    // Objects, toolbars, buttons, image lists, bitmaps, menus, menu items, message windows.
    constexpr LONG kKinds = 8;
    LONG values[10];
    std::fill(std::begin(values), std::end(values), -1);
    EXPECT_EQ(kKinds, counts(values, 10));
    EXPECT_TRUE(std::all_of(values, values + kKinds, [](LONG v) { return v == 0; })) << "nothing is held yet";
    EXPECT_EQ(-1, values[kKinds]) << "nothing written past the counts";
    values[1] = -1;
    EXPECT_EQ(kKinds, counts(values, 1)) << "the number of kinds, however many were asked for";
    EXPECT_EQ(-1, values[1]) << "no more than asked for";
    EXPECT_EQ(kKinds, counts(nullptr, 4));
}

TEST(Exports, ImportsOnlySystemLibraries) {
    // Mapped as an image without running it, so the import directory can be read.
    plume::unique_hmodule dll(
        LoadLibraryExW(plume::test::LibraryPathW().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
    ASSERT_TRUE(dll);
    auto base = reinterpret_cast<const BYTE*>(dll.get());
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    ASSERT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt->OptionalHeader.Magic) << "a 64-bit library";
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(0u, dir.VirtualAddress);

    const std::set<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",    "advapi32.dll",
                                          "ole32.dll",    "oleaut32.dll", "comctl32.dll", "shlwapi.dll",
                                          "msvcrt.dll",   "shell32.dll",  "uxtheme.dll"};
    std::set<std::string> imported;
    for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        std::string name = reinterpret_cast<const char*>(base + d->Name);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        imported.insert(name);
        EXPECT_TRUE(system.count(name)) << "imports " << name;
    }
    EXPECT_TRUE(imported.count("kernel32.dll"));
}

}  // namespace
