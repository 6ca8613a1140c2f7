#pragma once
// A fresh temporary folder for one test, removed with everything in it.

#include <cstdlib>
#include <filesystem>
#include <string>

class cTestFolder {
public:
    cTestFolder()
    {
        char pattern[] = "/tmp/lumivex-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        mPath = made != nullptr ? made : "";
    }
    ~cTestFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(mPath, ignored);
    }
    const std::string& path() const { return mPath; }
    std::string file(const std::string& name) const { return mPath + "/" + name; }
    std::u16string wide(const std::string& name = "") const
    {
        const std::string full = name.empty() ? mPath + "/" : file(name);
        return std::u16string(full.begin(), full.end()); // the test paths are ASCII
    }

private:
    std::string mPath;
};
