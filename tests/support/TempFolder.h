#pragma once
// A fresh folder under /tmp for one test, removed with everything in it
// (also what a test made read-only). The test paths are ASCII, so the
// UTF-16 forms are the same characters widened.

#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>

namespace testsupport {

class cTempFolder {
public:
    explicit cTempFolder(const std::string& tag = "test")
    {
        std::string pattern = "/tmp/lumivex-" + tag + "-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        mPath = pattern;
    }
    ~cTempFolder()
    {
        std::error_code ignored;
        for (const auto& item : std::filesystem::recursive_directory_iterator(
                 mPath, std::filesystem::directory_options::skip_permission_denied, ignored)) {
            std::filesystem::permissions(item.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::permissions(mPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
        std::filesystem::remove_all(mPath, ignored);
    }
    cTempFolder(const cTempFolder&) = delete;
    cTempFolder& operator=(const cTempFolder&) = delete;

    const std::string& path() const { return mPath; }
    // path + "/" + name
    std::string file(const std::string& name) const { return mPath + "/" + name; }
    std::u16string widePath() const { return wide(mPath); }
    // The folder as the program names folders: ending in '/'.
    std::u16string folder() const { return wide(mPath + "/"); }
    std::u16string wideFile(const std::string& name) const { return wide(file(name)); }

    // The names of the files in the folder.
    std::set<std::string> fileNames() const
    {
        std::set<std::string> names;
        for (const auto& item : std::filesystem::directory_iterator(mPath)) {
            names.insert(item.path().filename().string());
        }
        return names;
    }

    static std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }
    static std::string narrow(const std::u16string& ascii) { return std::string(ascii.begin(), ascii.end()); }

private:
    std::string mPath;
};

} // namespace testsupport
