// The library's diagnostic lines, collected while the scope lives (from
// any thread).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "log.h"

namespace plume::test {

class LogLines {
public:
    LogLines() {
        SetLogObserver([this](int, const char* text) {
            std::lock_guard<std::mutex> hold(lock_);
            lines_.push_back(text);
        });
    }
    ~LogLines() { SetLogObserver(nullptr); }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    // The first line that starts with `prefix`; empty when none.
    std::string Find(const std::string& prefix) const {
        std::lock_guard<std::mutex> hold(lock_);
        for (const auto& l : lines_)
            if (l.rfind(prefix, 0) == 0) return l;
        return "";
    }
    bool Has(const std::string& prefix) const { return !Find(prefix).empty(); }
    bool Empty() const {
        std::lock_guard<std::mutex> hold(lock_);
        return lines_.empty();
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

}  // namespace plume::test
