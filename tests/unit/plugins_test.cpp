// Plug-ins named in the registry: libraries (with or without an
// "InitializePlugin" export) and COM classes by ProgID.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "proc_address.h"
#include "log.h"
#include "server/plugins.h"
#include "test_paths.h"
#include "unique_any.h"

namespace {

class LogLines {
public:
    LogLines() { plume::SetLogObserver([this](int, const char* t) { lines.push_back(t); }); }
    ~LogLines() { plume::SetLogObserver(nullptr); }
    bool Has(const std::string& prefix) const {
        for (const auto& l : lines)
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }
    std::vector<std::string> lines;
};

// A scratch key holding plug-in values, removed afterwards.
class PluginKey {
public:
    PluginKey() {
        RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(), nullptr);
    }
    ~PluginKey() {
        key_.reset();
        RegDeleteKeyA(HKEY_CURRENT_USER, kPath);
    }
    void SetString(const char* name, const std::string& value) {
        RegSetValueExA(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    }
    void SetDword(const char* name, DWORD value) {
        RegSetValueExA(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    HKEY get() const { return key_.get(); }

private:
    static constexpr const char* kPath = "Software\\PlumeTests\\Plugins";
    plume::unique_hkey key_;
};

std::string PluginPath() {
    std::wstring w = plume::test::BinaryDirW() + L"test_plugin.dll";
    return std::string(w.begin(), w.end());
}

TEST(Plugins, LibrariesAreInitialisedAndObjectsCreatedInRegistryOrder) {
    LogLines log;
    PluginKey key;
    key.SetString("a", PluginPath());
    key.SetDword("b", 7);                        // not a string: logged and skipped
    key.SetString("c", "shlwapi.dll");           // loads, has no InitializePlugin: kept anyway
    key.SetString("d", "No.Such.ProgId");        // neither a library nor a class
    key.SetString("e", "PLUME.ScriptEvents");    // a COM class by its ProgID
    const int before = plume::PluginCount();
    plume::LoadPluginsInKey(key.get());

    EXPECT_EQ(before + 3, plume::PluginCount());
    HMODULE plugin = GetModuleHandleA(PluginPath().c_str());
    ASSERT_NE(nullptr, plugin);
    auto* calls = plume::GetProcAs<LONG*>(plugin, "g_initializeCalls");
    auto* thread = plume::GetProcAs<DWORD*>(plugin, "g_initializeThread");
    ASSERT_TRUE(calls && thread);
    EXPECT_EQ(1, *calls);
    EXPECT_EQ(GetCurrentThreadId(), *thread) << "called at once, on the loading thread";
    EXPECT_TRUE(log.Has("LoadPluginsInKey: Unknow value type 4."));
    EXPECT_TRUE(log.Has("LoadPluginFromString: CLSIDFromProgID failed No.Such.ProgId"));

    // Unloading frees the libraries (in load order) and releases the objects.
    plume::UnloadPlugins();
    EXPECT_EQ(0, plume::PluginCount());
    EXPECT_EQ(nullptr, GetModuleHandleA(PluginPath().c_str()));
}

TEST(Plugins, AValueTooLongForTheBufferEndsTheKey) {
    LogLines log;
    PluginKey key;
    key.SetString("a", std::string(1500, 'x'));  // data larger than 1024 bytes
    key.SetString("b", PluginPath());
    plume::LoadPluginsInKey(key.get());
    EXPECT_TRUE(log.Has("LoadPluginsInKey: RegEnumValue error"));
    EXPECT_EQ(0, plume::PluginCount()) << "the values after it are not read";
}

TEST(Plugins, NoPluginKeysLoadNothingAndLogNothing) {
    LogLines log;
    plume::LoadPlugins();  // this prefix has no "SOFTWARE\Vexlor\PLUME\Plugins"
    EXPECT_EQ(0, plume::PluginCount());
    EXPECT_TRUE(log.lines.empty());
}

}  // namespace
