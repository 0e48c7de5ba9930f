// A plug-in built without the static runtime: it imports libstdc++-6.dll,
// which the client cannot find, so it never loads.
#include <string>

extern "C" __declspec(dllexport) void InitializePlugin() {
    static std::string started;
    started = "started";
}
