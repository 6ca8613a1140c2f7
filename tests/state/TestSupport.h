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

#include "tests/support/TempFolder.h"

namespace statetest {

// The state tests name it after their own folder.
using cTestFolder = testsupport::cTempFolder;

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
