// What a benchmark reports: one row per case, each with the figure, the
// baseline measured in the same run, their ratio and the goal, printed as a
// table and, with "--json FILE", written as JSON for bench/run.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_clock.h"

namespace plume::bench {

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(values.size())));
    return values[at];
}

class Report {
public:
    Report(const char* bench, int argc, char** argv) : bench_(bench) {
        for (int i = 1; i + 1 < argc; ++i)
            if (std::string(argv[i]) == "--json") json_ = argv[i + 1];
        printf("%s\n", bench);
        printf("  %-58s %12s %12s %7s %6s\n", "case", "measured", "baseline", "ratio", "goal");
    }
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;
    ~Report() { WriteJson(); }

    // `goal` 0: no goal. `baseline` 0: no baseline (the ratio is left out).
    void Row(const std::string& name, double measured, double baseline, const char* unit, double goal = 0) {
        rows_.push_back({name, measured, baseline, unit, goal});
        char ratio[16] = "-", goalText[16] = "-";
        if (baseline > 0) snprintf(ratio, sizeof ratio, "%.2f", measured / baseline);
        if (goal > 0) snprintf(goalText, sizeof goalText, "%.2f", goal);
        printf("  %-58s %9.3f %-2s %9.3f %-2s %7s %6s\n", name.c_str(), measured, unit, baseline, unit, ratio,
               goalText);
        fflush(stdout);
    }
    void Note(const std::string& text) {
        notes_.push_back(text);
        printf("  note: %s\n", text.c_str());
    }

private:
    struct Entry {
        std::string name;
        double measured, baseline;
        std::string unit;
        double goal;
    };
    static std::string Quoted(const std::string& s) {
        std::string out = "\"";
        for (char c : s) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        return out + "\"";
    }
    void WriteJson() const {
        if (json_.empty()) return;
        FILE* f = fopen(json_.c_str(), "w");
        if (!f) return;
        fprintf(f, "{\"bench\": %s, \"rows\": [", Quoted(bench_).c_str());
        for (size_t i = 0; i < rows_.size(); ++i) {
            const Entry& r = rows_[i];
            fprintf(f, "%s\n  {\"case\": %s, \"measured\": %.6f, \"baseline\": %.6f, \"unit\": %s, \"ratio\": %.4f, "
                       "\"goal\": %.4f}",
                    i ? "," : "", Quoted(r.name).c_str(), r.measured, r.baseline, Quoted(r.unit).c_str(),
                    r.baseline > 0 ? r.measured / r.baseline : 0.0, r.goal);
        }
        fprintf(f, "],\n \"notes\": [");
        for (size_t i = 0; i < notes_.size(); ++i) fprintf(f, "%s%s", i ? ", " : "", Quoted(notes_[i]).c_str());
        fprintf(f, "]}\n");
        fclose(f);
    }

    std::string bench_, json_;
    std::vector<Entry> rows_;
    std::vector<std::string> notes_;
};

}  // namespace plume::bench
