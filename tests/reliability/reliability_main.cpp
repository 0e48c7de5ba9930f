// Main of every reliability group: one run covers one client variant
// (--variant=oe or --variant=wm); the group's summary rows are written when
// the run ends. RELIABILITY_GROUP names the group (set by CMakeLists.txt).
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdlib>
#include <cstring>

#include "reliability_common.h"
#include "reliability_summary.h"

namespace plume::test {
ClientVariant g_variant = ClientVariant::OutlookExpress;

unsigned Seed() {
    static const unsigned seed = [] {
        if (const char* text = std::getenv("PLUME_RELIABILITY_SEED")) return static_cast<unsigned>(std::strtoul(text, nullptr, 0));
        return static_cast<unsigned>(GetTickCount() ^ (GetCurrentProcessId() << 16));
    }();
    return seed;
}
}  // namespace plume::test

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* run = "oe";
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--variant=wm") == 0) {
            plume::test::g_variant = plume::test::ClientVariant::WindowsMail;
            run = "wm";
        } else if (strcmp(argv[i], "--variant=oe") == 0) {
            plume::test::g_variant = plume::test::ClientVariant::OutlookExpress;
        }
    }
    plume::test::reliability::Summary::Get().Begin(RELIABILITY_GROUP, run);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    int rc = RUN_ALL_TESTS();
    plume::test::reliability::Summary::Get().Write();
    CoUninitialize();
    return rc;
}
