// Plug-ins named in the registry: libraries (with or without an
// "InitializePlugin" export) and COM classes by ProgID.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "proc_address.h"
#include "log_lines.h"
#include "plugin_outcomes.h"
#include "server/isolated_host.h"
#include "server/plugins.h"
#include "registry_scope.h"
#include "test_paths.h"
#include "unique_any.h"

namespace {

using plume::test::LogLines;


// The plug-in lists the library reads at start-up.
constexpr const wchar_t* kPluginsPath = L"SOFTWARE\\Vexlor\\PLUME\\Plugins";
constexpr const wchar_t* kCrashesPath = L"Software\\Vexlor\\PLUME\\PluginCrashes";

// The outcomes a start records, put back as they were.
class Outcomes : public plume::test::ScopedRegistryKeyValues {
public:
    Outcomes() : ScopedRegistryKeyValues(HKEY_CURRENT_USER, L"Software\\Vexlor\\PLUME\\PluginOutcomes") {}
};

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
    plume::test::ScopedRegistryKey key(HKEY_CURRENT_USER, L"Software\\PlumeTests\\Plugins");  // a scratch key
    ASSERT_TRUE(key.created());
    key.SetString("a", PluginPath());
    key.SetDword("b", 7);                        // not a string: logged and skipped
    key.SetString("c", "shlwapi.dll");           // loads, has no InitializePlugin: kept anyway
    key.SetString("d", "No.Such.ProgId");        // neither a library nor a class
    key.SetString("e", "PLUME.ScriptEvents");    // a COM class by its ProgID
    key.SetString("f", std::string(1500, 'x'));  // more than the 1024-byte buffer: ends the key
    key.SetString("g", PluginPath());            // not read
    const int before = plume::PluginCount();
    plume::LoadPluginsInKey(key.get());

    EXPECT_EQ(before + 3, plume::PluginCount());
    HMODULE plugin = GetModuleHandleA(PluginPath().c_str());
    ASSERT_NE(nullptr, plugin);
    auto* calls = plume::GetProcAs<LONG*>(plugin, "g_initializeCalls");
    auto* thread = plume::GetProcAs<DWORD*>(plugin, "g_initializeThread");
    ASSERT_TRUE(calls && thread);
    EXPECT_EQ(1, *calls) << "the entry after the over-long one was read";
    EXPECT_EQ(GetCurrentThreadId(), *thread) << "called at once, on the loading thread";
    EXPECT_TRUE(log.Has("LoadPluginsInKey: Unknow value type 4."));
    EXPECT_TRUE(log.Has("LoadPluginFromString: CLSIDFromProgID failed No.Such.ProgId"));
    EXPECT_TRUE(log.Has("LoadPluginsInKey: RegEnumValue error"));

    // Unloading frees the libraries (in load order) and releases the objects.
    plume::UnloadPlugins();
    EXPECT_EQ(0, plume::PluginCount());
    EXPECT_EQ(nullptr, GetModuleHandleA(PluginPath().c_str()));
}

// A start is marked in the registry while it runs and unmarked after; a
// mark left by a start the client did not survive skips that entry, with one
// log line, until the entry's text changes. A slow start is named.
TEST(Plugins, AnEntryTheClientDidNotSurviveRunsIsolatedUntilItsEntryChanges) {
    const std::string plugin = PluginPath();
    const std::wstring marksPath = L"Software\\Vexlor\\PLUME\\PluginStartMarks";
    TakePluginTrace();
    plume::test::ScopedRegistryKey user(HKEY_CURRENT_USER, kPluginsPath);
    ASSERT_TRUE(user.created()) << "this prefix lists plug-ins of its own";
    Outcomes outcomes;
    user.SetString("a", plugin);
    auto markExists = [&] {
        plume::unique_hkey key;
        return RegOpenKeyExW(HKEY_CURRENT_USER, marksPath.c_str(), 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
    };
    SetEnvironmentVariableA("PLUME_TEST_PLUGIN_MARK", "HKCU\\a");
    {
        LogLines log;
        plume::LoadPlugins();
        EXPECT_EQ("init:test_plugin.dll marked:test_plugin.dll", TakePluginTrace());
        EXPECT_FALSE(markExists()) << "the mark and its key go once the start ends";
        EXPECT_TRUE(log.Has("LoadPluginFromString: " + plugin + " started in"));
        plume::UnloadPlugins();
        TakePluginTrace();
    }
    {
        // The client died in this plug-in last time: from now on it runs
        // isolated, said once; the mark becomes its crash record.
        plume::test::ScopedRegistryKey marks(HKEY_CURRENT_USER, marksPath);
        plume::test::ScopedRegistryKeyValues crashes(HKEY_CURRENT_USER, kCrashesPath);
        marks.SetString("HKCU\\a", plugin);
        const std::string moved = "LoadPluginFromString: " + plugin + " ended the client last time; it runs isolated";
        for (const bool first : {true, false}) {
            SCOPED_TRACE(first ? "the start after the crash" : "the next");
            LogLines log;
            plume::LoadPlugins();
            EXPECT_EQ(0, plume::PluginCount());
            EXPECT_EQ("", TakePluginTrace());
            EXPECT_EQ(std::vector<std::string>{"HKCU\\a"}, plume::IsolatedEntries());
            EXPECT_EQ(first, log.Has(moved));
            EXPECT_FALSE(markExists());
        }
        // Its host died too often: skipped, as a start that ended the client was.
        plume::WritePluginCrash("HKCU\\a", plugin, plume::CrashState::skipped);
        plume::LoadPlugins();
        EXPECT_TRUE(plume::IsolatedEntries().empty());
        EXPECT_EQ("", TakePluginTrace());
        LogLines log;

        // The entry changes (the same library, named another way): loaded,
        // the old mark replaced and cleared, and a slow start named.
        std::string changed = plugin;
        for (char& c : changed)
            if (c == '\\') c = '/';
        user.SetString("a", changed);
        SetEnvironmentVariableA("PLUME_TEST_PLUGIN_SLEEP_MS", "1200");
        plume::LoadPlugins();
        SetEnvironmentVariableA("PLUME_TEST_PLUGIN_SLEEP_MS", nullptr);
        EXPECT_EQ(1, plume::PluginCount());
        EXPECT_EQ("init:test_plugin.dll marked:test_plugin.dll", TakePluginTrace());
        const std::string slow = log.Find("LoadPluginFromString: " + changed + " took ");
        EXPECT_NE(std::string::npos, slow.find("ms to start (longer than 1000 ms)")) << slow;
        EXPECT_FALSE(markExists());
        EXPECT_TRUE(plume::IsolatedEntries().empty());
        plume::unique_hkey record;
        EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kCrashesPath, 0, KEY_READ, record.put()))
            << "the record of the old text went";
        plume::UnloadPlugins();
        TakePluginTrace();
    }
    SetEnvironmentVariableA("PLUME_TEST_PLUGIN_MARK", nullptr);
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
        Outcomes outcomes;
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

// Each listed entry's start leaves its outcome, with the reason the system
// gives when it did not load; the outcome of an entry no longer listed goes
// at the next start.
TEST(Plugins, EachEntrysOutcomeIsRecordedWithTheReason) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> says;
    };
    const std::vector<Case> cases = {
        {"ok", PluginPath(), {"loaded; InitializePlugin ran in ", " ms"}},
        {"noinit", "shlwapi.dll", {"loaded, but it exports no InitializePlugin"}},
        {"gone", "C:\\nowhere\\gone.dll", {"not loaded: error 126 (", "): the file does not exist"}},
        {"runtime", PluginPath(L"runtime_plugin.dll"),
         {"not loaded: error 126 (", "it needs libstdc++-6.dll", "not found", "-static"}},
        {"progid", "No.Such.ProgId", {"not created: ", "CLSIDFromProgID failed with 0x800401F3"}},
    };
    plume::test::ScopedRegistryKey user(HKEY_CURRENT_USER, kPluginsPath);
    ASSERT_TRUE(user.created()) << "this prefix lists plug-ins of its own";
    Outcomes outcomes;
    for (const Case& c : cases) user.SetString(c.name, c.text);
    plume::LoadPlugins();
    plume::UnloadPlugins();
    for (const Case& c : cases) {
        plume::PluginOutcome o;
        ASSERT_TRUE(plume::ReadPluginOutcome(std::string("HKCU\\") + c.name, &o)) << c.name;
        EXPECT_EQ(c.text, o.text);
        EXPECT_EQ(19u, o.when.size()) << o.when;
        for (const auto& part : c.says) EXPECT_NE(std::string::npos, o.outcome.find(part)) << c.name << ": " << o.outcome;
    }

    RegDeleteValueA(user.get(), "gone");
    plume::LoadPlugins();
    plume::UnloadPlugins();
    plume::PluginOutcome o;
    EXPECT_FALSE(plume::ReadPluginOutcome("HKCU\\gone", &o));
    EXPECT_TRUE(plume::ReadPluginOutcome("HKCU\\ok", &o));
}

TEST(Plugins, NoPluginKeysLoadNothingAndLogNothing) {
    LogLines log;
    plume::LoadPlugins();  // this prefix has no "SOFTWARE\Vexlor\PLUME\Plugins"
    EXPECT_EQ(0, plume::PluginCount());
    EXPECT_TRUE(log.Empty());
}

}  // namespace
