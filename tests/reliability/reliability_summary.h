// Rows of the reliability summary, printed at the end of the test run.
#pragma once

#include <cstdio>
#include <string>

namespace plume::test {

struct Summary {
    // Appends "group<TAB>what<TAB>value" to the summary file of this run.
    static void Row(const std::string& group, const std::string& what, long value) {
        char path[MAX_PATH];
        DWORD n = GetEnvironmentVariableA("PLUME_SUMMARY", path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return;
        if (FILE* f = fopen(path, "a")) {
            fprintf(f, "%s\t%s\t%ld\n", group.c_str(), what.c_str(), value);
            fclose(f);
        }
    }
};

}  // namespace plume::test
