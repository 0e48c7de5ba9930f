#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>

#include "log.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // PLUME_TEST_LOG=1 shows the library's diagnostic lines.
    if (getenv("PLUME_TEST_LOG"))
        plume::SetLogObserver([](int, const char* text) {
            fprintf(stderr, "[%lu] %s", GetCurrentThreadId(), text);
            fflush(stderr);
        });
    // The client's UI thread is a single-threaded apartment.
    CoInitialize(nullptr);
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
