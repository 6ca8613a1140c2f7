#pragma once
// Helpers for the user-state tests: a fresh temporary folder, raw file
// bytes, UTF-16 encoding of expected contents and a file-size limit that
// makes writes fail part-way.

#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace statetest {

class cTestFolder {
public:
    cTestFolder()
    {
        char pattern[] = "/tmp/lumivex-state-XXXXXX";
        const char* made = mkdtemp(pattern);
        mPath = made != nullptr ? made : "";
    }
    ~cTestFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(mPath, ignored);
    }
    cTestFolder(const cTestFolder&) = delete;
    cTestFolder& operator=(const cTestFolder&) = delete;

    const std::string& path() const { return mPath; }
    std::string file(const std::string& name) const { return mPath + "/" + name; }
    // The folder as the program names folders: ending in '/'.
    std::u16string folder() const { return wide(mPath + "/"); }
    std::u16string wideFile(const std::string& name) const { return wide(file(name)); }

    // The names of the files in the folder.
    std::set<std::string> fileNames() const
    {
        std::set<std::string> names;
        for (const auto& item : std::filesystem::directory_iterator(mPath))
            names.insert(item.path().filename().string());
        return names;
    }

    static std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }
    static std::string narrow(const std::u16string& ascii) { return std::string(ascii.begin(), ascii.end()); }

private:
    std::string mPath;
};

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// UTF-16 little-endian bytes of the text.
inline std::string utf16le(const std::u16string& text)
{
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// A user file as the program writes it: byte-order mark, then the text.
inline std::string userFileBytes(const std::u16string& text)
{
    return std::string("\xFF\xFE", 2) + utf16le(text);
}

inline bool exists(const std::string& path)
{
    return std::filesystem::exists(path);
}

// While alive, no file of this process may grow beyond the limit: a write
// that crosses it is cut short and the next one fails (the signal that
// would end the process is ignored meanwhile). Nothing else may write files
// while it is in force.
class cFileSizeLimit {
public:
    explicit cFileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &mPrevious);
        struct rlimit limited = mPrevious;
        limited.rlim_cur = bytes;
        mPreviousHandler = signal(SIGXFSZ, SIG_IGN);
        mActive = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~cFileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &mPrevious);
        signal(SIGXFSZ, mPreviousHandler);
    }
    cFileSizeLimit(const cFileSizeLimit&) = delete;
    cFileSizeLimit& operator=(const cFileSizeLimit&) = delete;

    bool active() const { return mActive; }

private:
    struct rlimit mPrevious {};
    sighandler_t mPreviousHandler = SIG_DFL;
    bool mActive = false;
};

} // namespace statetest
