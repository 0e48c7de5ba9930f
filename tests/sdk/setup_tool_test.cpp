// plume-setup.exe as a plug-in writer runs it: install registers the library
// and the script helper and lists plug-ins; unlisting plug-ins leaves the
// library to the others, uninstall --all takes all of it away again; bad
// input gets a clear exit code and changes nothing.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>

#include "registry_scope.h"
#include "sdk_tools.h"
#include "unique_any.h"

namespace {

using plume::test::ProgramFolder;
using plume::test::RunProgram;
using plume::test::RunSetupTool;

// The classes and the type library as the library registers them.
struct ClassKeys {
    const char* clsid;
    const char* progId;
};
const ClassKeys kClasses[] = {{"{12BAF159-264C-464B-9D58-C83B3781DD4C}", "PLUME.OEMenuItem"},
                              {"{12BAF15C-264C-464B-9D58-C83B3781DD4C}", "PLUME.OEMsgWnd"},
                              {"{12BAF169-264C-464B-9D58-C83B3781DD4C}", "PLUME.OEMenu"},
                              {"{12BAF148-264C-464B-9D58-C83B3781DD4C}", "PLUME.OEButton"},
                              {"{12BAF145-264C-464B-9D58-C83B3781DD4C}", "PLUME.OEToolbar"},
                              {"{12BAF138-264C-464B-9D58-C83B3781DD4C}", "PLUME.PLUMEObj"}};
const char* const kTypeLib = "TypeLib\\{54B89298-879A-4086-B082-854D3EBFDCC3}";
const char* const kScriptHelper = "PLUME.ScriptEvents";
const wchar_t* const kPlugins = L"SOFTWARE\\Vexlor\\PLUME\\Plugins";
const wchar_t* const kIsolated = L"SOFTWARE\\Vexlor\\PLUME\\IsolatedPlugins";
const wchar_t* const kVexlor = L"SOFTWARE\\Vexlor";

bool Exists(HKEY root, const std::string& path) {
    plume::unique_hkey key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}
std::string Default(const std::string& path) {
    char value[1024] = "";
    LONG size = sizeof value;
    return RegQueryValueA(HKEY_CLASSES_ROOT, path.c_str(), value, &size) == ERROR_SUCCESS ? value : "";
}
std::string PluginValue(HKEY hive, const char* name, const char* list = "Plugins") {
    char value[1100] = "";
    DWORD size = sizeof value;
    return RegGetValueA(hive, (std::string("SOFTWARE\\Vexlor\\PLUME\\") + list).c_str(), name, RRF_RT_REG_SZ,
                        nullptr, value, &size) == ERROR_SUCCESS
               ? value
               : "";
}

// Every test ends with the library registered as the prefix had it and with
// no plug-in list of its own left behind.
class SetupTool : public testing::Test {
protected:
    void SetUp() override {
        wasRegistered_ = Exists(HKEY_CLASSES_ROOT, "PLUME.PLUMEObj");
        ASSERT_FALSE(Exists(HKEY_CURRENT_USER, "SOFTWARE\\Vexlor\\PLUME\\Plugins"))
            << "the prefix lists plug-ins already; this suite would change them";
        ASSERT_FALSE(Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vexlor\\PLUME\\Plugins"));
    }
    void TearDown() override {
        for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            for (const wchar_t* list : {kPlugins, kIsolated}) RegDeleteTreeW(hive, list);
        if (wasRegistered_) RunSetupTool("install");
        else RunSetupTool("uninstall --all");
    }
    bool wasRegistered_ = false;
    // Keys above the plug-in lists that a test may create are removed when empty by the tool;
    // when the prefix had them they stay.
    plume::test::ScopedRegistryKey userVexlor_{HKEY_CURRENT_USER, kVexlor};
    plume::test::ScopedRegistryKey machineVexlor_{HKEY_LOCAL_MACHINE, kVexlor};
};

TEST_F(SetupTool, InstallRegistersEverythingAndUninstallLeavesNothingOfOurs) {
    const std::string plugin = ProgramFolder() + "test_plugin.dll";
    ASSERT_EQ(0u, RunSetupTool("install --plugin Stamper=\"" + plugin + "\" --plugin Scripted=PLUME.ScriptEvents"));
    ASSERT_EQ(0u, RunSetupTool("install --machine --plugin Everyone=PLUME.ScriptEvents"));
    for (const ClassKeys& c : kClasses) {
        SCOPED_TRACE(c.progId);
        const std::string clsid = std::string("CLSID\\") + c.clsid;
        EXPECT_EQ(c.clsid, Default(std::string(c.progId) + "\\CLSID"));
        EXPECT_EQ(c.progId, Default(clsid + "\\ProgID"));
        EXPECT_EQ("{54B89298-879A-4086-B082-854D3EBFDCC3}", Default(clsid + "\\TypeLib"));
        EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, clsid + "\\Programmable"));
        // The class objects live in the mail client: its executable serves them.
        const std::string server = Default(clsid + "\\LocalServer32");
        EXPECT_NE(std::string::npos, server.find(".EXE")) << server;
        EXPECT_EQ(std::string::npos, server.find("plumesrv")) << server;
    }
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, kTypeLib));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, kScriptHelper));
    EXPECT_EQ(plugin, PluginValue(HKEY_CURRENT_USER, "Stamper"));
    EXPECT_EQ("PLUME.ScriptEvents", PluginValue(HKEY_CURRENT_USER, "Scripted"));
    EXPECT_EQ("PLUME.ScriptEvents", PluginValue(HKEY_LOCAL_MACHINE, "Everyone"));
    // Installing twice changes nothing and succeeds.
    EXPECT_EQ(0u, RunSetupTool("install"));
    EXPECT_EQ(plugin, PluginValue(HKEY_CURRENT_USER, "Stamper"));

    // Listed isolated, an entry moves to the other list, and back; list says which.
    for (const bool isolated : {true, false}) {
        SCOPED_TRACE(isolated ? "isolated" : "in the client");
        ASSERT_EQ(0u, RunSetupTool(std::string("install ") + (isolated ? "--isolated " : "") + "--plugin Stamper=\"" +
                                   plugin + "\""));
        EXPECT_EQ(isolated ? "" : plugin, PluginValue(HKEY_CURRENT_USER, "Stamper"));
        EXPECT_EQ(isolated ? plugin : "", PluginValue(HKEY_CURRENT_USER, "Stamper", "IsolatedPlugins"));
        std::string listed;
        ASSERT_EQ(0u, RunSetupTool("list", &listed));
        EXPECT_EQ(isolated, listed.find("Stamper = " + plugin + " [isolated]") != std::string::npos) << listed;
    }

    // Unlisting plug-ins leaves the others listed and the library
    // registered, also once no plug-in is left: scripts and programs use it.
    ASSERT_EQ(0u, RunSetupTool("uninstall --machine --plugin Everyone"));
    EXPECT_EQ("", PluginValue(HKEY_LOCAL_MACHINE, "Everyone"));
    EXPECT_EQ(plugin, PluginValue(HKEY_CURRENT_USER, "Stamper"));
    ASSERT_EQ(0u, RunSetupTool("install --isolated --plugin Alone=PLUME.ScriptEvents"));
    ASSERT_EQ(0u, RunSetupTool("uninstall --all-plugins"));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "SOFTWARE\\Vexlor\\PLUME\\Plugins"));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "SOFTWARE\\Vexlor\\PLUME\\IsolatedPlugins"));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "PLUME.PLUMEObj"));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, kScriptHelper));

    // Only --all takes the library away, with every list.
    ASSERT_EQ(0u, RunSetupTool("install --machine --plugin Everyone=PLUME.ScriptEvents"));
    ASSERT_EQ(0u, RunSetupTool("uninstall --all"));
    for (const ClassKeys& c : kClasses) {
        EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, std::string("CLSID\\") + c.clsid)) << c.clsid;
        EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, c.progId)) << c.progId;
    }
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, kTypeLib));
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, kScriptHelper));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "SOFTWARE\\Vexlor\\PLUME\\Plugins"));
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vexlor\\PLUME\\Plugins"));
    // Unregistering what is not registered is no failure.
    EXPECT_EQ(0u, RunSetupTool("uninstall --all"));
}

TEST_F(SetupTool, BadInputIsRefusedWithNothingHalfWritten) {
    // Usage errors: exit code 2, nothing listed.
    EXPECT_EQ(2u, RunSetupTool(""));
    EXPECT_EQ(2u, RunSetupTool("frobnicate"));
    EXPECT_EQ(2u, RunSetupTool("install --plugin NoValue"));
    EXPECT_EQ(2u, RunSetupTool("install --plugin " + std::string(1100, 'n') + "=PLUME.ScriptEvents"));
    EXPECT_EQ(2u, RunSetupTool("install --plugin Long=" + std::string(1100, 'v')));
    EXPECT_EQ(2u, RunSetupTool("uninstall"));  // unlisting names what
    EXPECT_EQ(2u, RunSetupTool("uninstall --all --plugin Stamper"));
    // A library path that does not exist: refused before anything changes.
    EXPECT_EQ(1u, RunSetupTool("install --plugin Here=PLUME.ScriptEvents --plugin Gone=C:\\nowhere\\gone.dll"));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "SOFTWARE\\Vexlor\\PLUME\\Plugins"));

    // No mail client installed: nothing is registered or listed.
    {
        ASSERT_EQ(0u, RunSetupTool("uninstall --all"));
        plume::test::ScopedRegistryKeyValues oe(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Outlook Express");
        plume::test::ScopedRegistryKeyValues wm(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows Mail");
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Outlook Express", "InstallRoot");
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows Mail", "InstallRoot");
        EXPECT_EQ(1u, RunSetupTool("install --plugin Stamper=PLUME.ScriptEvents"));
        EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, "PLUME.PLUMEObj"));
        EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "SOFTWARE\\Vexlor\\PLUME\\Plugins"));
    }

    // A list the registry refuses to write to (readable, not writable): the
    // tool says so and fails; nothing is listed, and unlisting fails alike.
    {
        plume::test::ScopedRegistryKey list(HKEY_CURRENT_USER, kPlugins);
        ASSERT_TRUE(list.created());
        plume::unique_hkey guarded;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kPlugins, 0, KEY_ALL_ACCESS, guarded.put()));
        PSECURITY_DESCRIPTOR readOnly = nullptr, open = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                         &readOnly, nullptr));
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KA;;;WD)", SDDL_REVISION_1, &open,
                                                                         nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(guarded.get(), DACL_SECURITY_INFORMATION, readOnly));
        EXPECT_EQ(1u, RunSetupTool("install --plugin Refused=PLUME.ScriptEvents"));
        EXPECT_EQ("", PluginValue(HKEY_CURRENT_USER, "Refused"));
        // Put back through the handle opened before, so that the scope can delete the key.
        EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(guarded.get(), DACL_SECURITY_INFORMATION, open));
        LocalFree(readOnly);
        LocalFree(open);
    }

    // A full list: the library reads 1024 entries, the tool lists no more.
    {
        plume::test::ScopedRegistryKey list(HKEY_CURRENT_USER, kPlugins);
        ASSERT_TRUE(list.created());
        for (int i = 0; i < 1024; ++i) list.SetString(("Filler" + std::to_string(i)).c_str(), "PLUME.ScriptEvents");
        EXPECT_EQ(1u, RunSetupTool("install --plugin OneTooMany=PLUME.ScriptEvents"));
        EXPECT_EQ("", PluginValue(HKEY_CURRENT_USER, "OneTooMany"));
        EXPECT_EQ(0u, RunSetupTool("uninstall --plugin Filler3"));
        EXPECT_EQ(0u, RunSetupTool("install --plugin OneTooMany=PLUME.ScriptEvents"));
        EXPECT_EQ("PLUME.ScriptEvents", PluginValue(HKEY_CURRENT_USER, "OneTooMany"));
    }
}

}  // namespace
