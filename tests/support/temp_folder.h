// A temporary folder for the files a test writes, removed with them on
// every path out of the test.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace plume::test {

class TempFolder {
public:
    explicit TempFolder(const std::string& name) {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        path_ = std::string(base) + name + "_" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        for (auto it = files_.rbegin(); it != files_.rend(); ++it) DeleteFileA(it->c_str());
        for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) RemoveDirectoryA(it->c_str());
        RemoveDirectoryA(path_.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    // A folder inside, with a trailing backslash.
    std::string Dir(const std::string& name) {
        dirs_.push_back(path_ + name);
        CreateDirectoryA(dirs_.back().c_str(), nullptr);
        return dirs_.back() + "\\";
    }
    // Writes `bytes` to the file `name` inside; its path.
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string file = path_ + name;
        if (files_.empty() || files_.back() != file) files_.push_back(file);
        if (FILE* f = fopen(file.c_str(), "wb")) {
            fwrite(bytes.data(), 1, bytes.size(), f);
            fclose(f);
        }
        return file;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::vector<std::string> files_, dirs_;
};

}  // namespace plume::test
