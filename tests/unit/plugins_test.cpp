// Plug-ins named in the registry: libraries (with or without an
// "InitializePlugin" export) and COM classes by ProgID.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "proc_address.h"
#include "log.h"
#include "server/plugins.h"
#include "registry_scope.h"
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

// A scratch key holding plug-in values, removed afterwards with every key
// above it that the test made.
class PluginKey : public plume::test::ScopedRegistryKey {
public:
    PluginKey() : ScopedRegistryKey(HKEY_CURRENT_USER, L"Software\\PlumeTests\\Plugins") {}
};

// The plug-in lists the library reads at start-up.
constexpr const wchar_t* kPluginsPath = L"SOFTWARE\\Vexlor\\PLUME\\Plugins";

// What the test plug-ins wrote, in order, since the last call.
std::string TakePluginTrace() {
    char trace[4096] = "";
    GetEnvironmentVariableA("PLUME_TEST_PLUGIN_TRACE", trace, sizeof trace);
    SetEnvironmentVariableA("PLUME_TEST_PLUGIN_TRACE", nullptr);
    return trace;
}

std::string PluginPath(const wchar_t* name = L"test_plugin.dll") {
    std::wstring w = plume::test::BinaryDirW() + name;
    return std::string(w.begin(), w.end());
}

TEST(Plugins, LibrariesAreInitialisedAndObjectsCreated) {
    LogLines log;
    PluginKey key;
    ASSERT_TRUE(key.created());
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

// Machine-wide plug-ins load before per-user ones, each list in its order;
// one listed in both loads twice. Unloading goes in the same order.
TEST(Plugins, MachinePluginsLoadBeforeUserPluginsInListOrder) {
    const std::string first = PluginPath(), second = PluginPath(L"test_plugin_second.dll");
    TakePluginTrace();
    {
        plume::test::ScopedRegistryKey machine(HKEY_LOCAL_MACHINE, kPluginsPath);
        plume::test::ScopedRegistryKey user(HKEY_CURRENT_USER, kPluginsPath);
        ASSERT_TRUE(machine.created()) << "this prefix lists plug-ins of its own";
        ASSERT_TRUE(user.created()) << "this prefix lists plug-ins of its own";
        user.SetString("a", first);
        machine.SetString("a", second);
        machine.SetString("b", first);
        plume::LoadPlugins();
    }
    EXPECT_EQ(3, plume::PluginCount());
    EXPECT_EQ("init:test_plugin_second.dll init:test_plugin.dll init:test_plugin.dll", TakePluginTrace());
    plume::UnloadPlugins();
    EXPECT_EQ("free:test_plugin_second.dll free:test_plugin.dll", TakePluginTrace())
        << "the second entry of test_plugin.dll frees it";
}

TEST(Plugins, AValueTooLongForTheBufferEndsTheKey) {
    LogLines log;
    PluginKey key;
    ASSERT_TRUE(key.created());
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
