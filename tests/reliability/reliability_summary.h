// Rows of the reliability suite's summary. Each group executable adds up
// what it tried and found while it runs; at its end the rows are appended to
// "reliability\<group>@<run>.tsv" next to the executable (build/bin), one line per
// row: what, run (the client variant), number. The ctest test
// "reliability_summary" (print_summary.py) prints all groups as one table.
#pragma once

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace plume::test::reliability {

// Row names every group uses; a group may add rows of its own.
inline constexpr const char* kCasesTried = "cases tried";
inline constexpr const char* kFaultsSurvived = "faults survived";
inline constexpr const char* kLeaksFound = "leaks found";

class Summary {
public:
    // The one summary of this executable.
    static Summary& Get() {
        static Summary summary;
        return summary;
    }

    // Set once by the executable's main: its group and the run's label.
    void Begin(std::string group, std::string run) {
        group_ = std::move(group);
        run_ = std::move(run);
    }
    // Counts towards a row.
    void Add(const std::string& what, long long n = 1) { Row(what) += n; }
    // Keeps the largest value seen (worst times).
    void Max(const std::string& what, long long n) {
        long long& row = Row(what);
        if (n > row) row = n;
    }

    // Appends the rows to the group's file (the folder is made when missing).
    void Write() const {
        if (group_.empty()) return;
        char path[MAX_PATH];
        const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string folder(path, n);
        folder = folder.substr(0, folder.find_last_of("\\/") + 1) + "reliability";
        CreateDirectoryA(folder.c_str(), nullptr);
        const std::string file = folder + "\\" + group_ + "@" + run_ + ".tsv";  // runs may write at once
        FILE* out = std::fopen(file.c_str(), "ab");
        if (!out) return;
        for (const auto& r : rows_) std::fprintf(out, "%s\t%s\t%lld\n", r.first.c_str(), run_.c_str(), r.second);
        std::fclose(out);
    }

private:
    long long& Row(const std::string& what) {
        for (auto& r : rows_)
            if (r.first == what) return r.second;
        rows_.emplace_back(what, 0);
        return rows_.back().second;
    }

    std::string group_;
    std::string run_;
    std::vector<std::pair<std::string, long long>> rows_;  // in order of first use
};

}  // namespace plume::test::reliability
