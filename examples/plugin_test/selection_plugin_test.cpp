// A plug-in's test, run against the sandbox client: the selection example
// (../selection_plugin) is loaded into the stand-in mail client, and the
// test acts as its user would, through the client's windows, and checks
// what the plug-in did.
//
//   selection_plugin_test.exe oe|wm PATH-OF-selection_plugin.dll
//
// It prints one line per check and "PASSED" or "FAILED" last; its exit code
// is 0 only when every check passed.
#include <plume_sandbox.h>

#include <cstdio>
#include <string>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++g_failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: selection_plugin_test oe|wm PATH-OF-selection_plugin.dll\n");
        return 2;
    }
    CoInitialize(nullptr);
    try {
        plume_sandbox::Sandbox::Options options;
        options.variant = argv[1][0] == 'w' ? L"wm" : L"oe";
        const std::string plugin = argv[2];
        options.plugins.push_back({L"ReplyLater", std::wstring(plugin.begin(), plugin.end())});
        auto sandbox = plume_sandbox::Sandbox::Start(options);
        HWND main = sandbox->MainWindow();
        auto enabled = [&] {
            long state = 0;
            return sandbox->FindButton(main, L"Reply later", nullptr, &state) &&
                   (state & plume_sandbox::kButtonEnabled) != 0;
        };

        Check(plume_sandbox::WaitFor([&] { return sandbox->FindButton(main, L"Reply later", nullptr); }, 15000),
              "the plug-in's button is in the main window");
        sandbox->SelectFolder(sandbox->FolderId(L"Inbox"));
        sandbox->SelectRows({});
        Check(plume_sandbox::WaitFor([&] { return !enabled(); }), "it is greyed while no message is selected");
        sandbox->SelectRows({0});
        Check(plume_sandbox::WaitFor(enabled), "it is enabled once the user selects a message");
        sandbox->SelectFolder(sandbox->FolderId(L"Drafts"));
        Check(plume_sandbox::WaitFor([&] { return !enabled(); }), "it is greyed again when the user opens another folder");
        Check(sandbox->Close(), "the client closes by itself: the plug-in let go of everything");
    } catch (const std::exception& e) {
        printf("FAIL: %s\n", e.what());
        ++g_failures;
    }
    CoUninitialize();
    printf("%s\n", g_failures ? "FAILED" : "PASSED");
    return g_failures ? 1 : 0;
}
