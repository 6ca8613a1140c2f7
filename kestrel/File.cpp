#include "kestrel/File.h"

#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrel {

bool toNativePath(const std::u16string& path, std::string& native)
{
    try {
        native = toUtf8(path);
        return !native.empty();
    } catch (const cUnicodeConversionException&) {
        return false;
    }
}

class cFileImpl {
public:
    int mHandle = -1;        // -1 while no file is open
    uint64_t mPosition = 0;  // bytes from the start, as tracked by read/write/seek
};

cFile::cFile() : mImpl(std::make_unique<cFileImpl>()) {}

cFile::~cFile() { close(); }

bool cFile::open(const std::u16string& path, unsigned mode)
{
    mPath = path;
    close();
    mImpl->mPosition = 0;

    int flags = O_CLOEXEC;
    const bool reading = (mode & ModeRead) != 0;
    const bool writing = (mode & ModeWrite) != 0;
    if (reading && writing) {
        flags |= O_RDWR;
    } else if (writing) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    if (mode & ModeCreate) {
        flags |= O_CREAT | O_TRUNC;
    } else if (writing) {
        flags |= O_CREAT;
    }

    std::string native;
    if (!toNativePath(path, native)) {
        return false;
    }
    int handle;
    do {
        handle = ::open(native.c_str(), flags, 0666);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0) {
        return false;
    }
    struct stat info;
    if (fstat(handle, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(handle);
        return false;
    }
    mImpl->mHandle = handle;
    return true;
}

bool cFile::isOpen() const { return mImpl->mHandle >= 0; }

bool cFile::close()
{
    if (mImpl->mHandle >= 0) {
        ::close(mImpl->mHandle);
        mImpl->mHandle = -1;
    }
    return true;
}

uint64_t cFile::read(void* buffer, uint64_t size)
{
    if (mImpl->mHandle < 0) {
        return 0;
    }
    const uint32_t request = static_cast<uint32_t>(size);
    ssize_t done;
    do {
        done = ::read(mImpl->mHandle, buffer, request);
    } while (done < 0 && errno == EINTR);
    if (done < 0) {
        return 0;
    }
    mImpl->mPosition += static_cast<uint64_t>(done);
    return static_cast<uint64_t>(done);
}

uint64_t cFile::write(const void* buffer, uint64_t size)
{
    if (mImpl->mHandle < 0) {
        return 0;
    }
    const uint32_t request = static_cast<uint32_t>(size);
    ssize_t done;
    do {
        done = ::write(mImpl->mHandle, buffer, request);
    } while (done < 0 && errno == EINTR);
    if (done < 0) {
        return 0;
    }
    mImpl->mPosition += static_cast<uint64_t>(done);
    return static_cast<uint64_t>(done);
}

bool cFile::seek(int64_t offset, int origin)
{
    if (mImpl->mHandle < 0) {
        return false;
    }
    const int whence = origin == SeekCurrent ? SEEK_CUR : origin == SeekEnd ? SEEK_END : SEEK_SET;
    const off_t result = ::lseek(mImpl->mHandle, static_cast<off_t>(offset), whence);
    if (result < 0) {
        return false;
    }
    mImpl->mPosition = static_cast<uint64_t>(result);
    return true;
}

bool cFile::tell(uint64_t& position)
{
    position = mImpl->mPosition;
    return true;
}

bool cFile::getSize(uint64_t& size)
{
    struct stat info;
    if (mImpl->mHandle < 0 || fstat(mImpl->mHandle, &info) != 0) {
        return false;
    }
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool cFile::sync()
{
    return mImpl->mHandle >= 0 && fsync(mImpl->mHandle) == 0;
}

bool cFile::readAllText(std::u16string& text)
{
    uint64_t size = 0;
    if (!getSize(size)) {
        return false;
    }
    const uint64_t characters = size / 2;
    std::vector<char16_t> buffer(characters + 1, 0);
    if (size > 0 && read(buffer.data(), size) < size) {
        return false;
    }
    // An odd last byte lands in the terminator's slot and is dropped here.
    buffer[characters] = 0;
    text.assign(buffer.data());
    return true;
}

uint64_t cFile::readExact(void* buffer, uint64_t size)
{
    if (read(buffer, size) != size) {
        throw cFileIOException(u"Can't read from file", mPath);
    }
    return size;
}

void cFile::readInt32(int32_t& value)
{
    uint8_t bytes[4];
    readExact(bytes, 4);
    value = static_cast<int32_t>(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                                 uint32_t(bytes[3]) << 24);
}

uint64_t cFile::writeExact(const void* buffer, uint64_t size)
{
    if (write(buffer, size) != size) {
        throw cFileIOException(u"Can't write to file", mPath);
    }
    return size;
}

void cFile::writeText(const std::u16string& text)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    if (!bytes.empty()) {
        writeExact(bytes.data(), bytes.size());
    }
}

void cFile::writeInt32(int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    writeExact(bytes, 4);
}

void cFile::writeWChar(char16_t value)
{
    const uint8_t bytes[2] = {uint8_t(value & 0xFF), uint8_t(value >> 8)};
    writeExact(bytes, 2);
}

void cFile::writeByte(uint8_t value) { writeExact(&value, 1); }

bool deleteFile(const std::u16string& path)
{
    std::string native;
    return toNativePath(path, native) && unlink(native.c_str()) == 0;
}

bool renameFile(const std::u16string& source, const std::u16string& target)
{
    std::string from;
    std::string to;
    return toNativePath(source, from) && toNativePath(target, to) && ::rename(from.c_str(), to.c_str()) == 0;
}

bool copyFile(const std::u16string& source, const std::u16string& target)
{
    cFile in;
    if (!in.open(source, ModeRead)) {
        return false;
    }
    return writeFileReplacing(target, [&in](cFile& out) {
        char buffer[65536];
        for (;;) {
            const uint64_t got = in.read(buffer, sizeof(buffer));
            if (got == 0) {
                uint64_t size = 0;
                uint64_t position = 0;
                // A read error looks like the end; tell them apart by size.
                if (!in.getSize(size) || !in.tell(position) || position != size) {
                    throw cFileIOException(u"Can't read from file", in.path());
                }
                return;
            }
            out.writeExact(buffer, got);
        }
    });
}

bool fileExists(const std::u16string& path)
{
    std::string native;
    struct stat info;
    return toNativePath(path, native) && stat(native.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool directoryExists(const std::u16string& path)
{
    std::string native;
    struct stat info;
    return toNativePath(path, native) && stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool createDirectory(const std::u16string& path)
{
    std::string native;
    return toNativePath(path, native) && mkdir(native.c_str(), 0777) == 0;
}

char16_t pathSeparator() { return u'/'; }

std::u16string makeTempFileName(const std::u16string& folder, const std::u16string& prefix)
{
    std::u16string base = folder;
    if (!base.empty() && base.back() != u'/') {
        base += u'/';
    }
    base += prefix.substr(0, 3);
    // Start from the clock, as the platform's own naming does, then count
    // up through the 65535 possible names until one can be created anew.
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    unsigned start = static_cast<unsigned>((now ^ (now >> 16) ^ getpid()) & 0xFFFF);
    for (unsigned attempt = 0; attempt < 0xFFFF; ++attempt) {
        unsigned number = (start + attempt) & 0xFFFF;
        if (number == 0) {
            continue;
        }
        char digits[8];
        std::snprintf(digits, sizeof(digits), "%X", number);
        std::u16string candidate = base;
        for (const char* d = digits; *d; ++d) {
            candidate += char16_t(*d);
        }
        candidate += u".tmp";
        std::string native;
        if (!toNativePath(candidate, native)) {
            return std::u16string();
        }
        const int handle = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle >= 0) {
            ::close(handle);
            return candidate;
        }
        if (errno != EEXIST) {
            return std::u16string();
        }
    }
    return std::u16string();
}

bool writeFileReplacing(const std::u16string& path, const std::function<void(cFile&)>& writer)
{
    const std::u16string temporary = path + u".tmp";
    cFile file;
    if (!file.open(temporary, ModeWrite | ModeCreate)) {
        return false;
    }
    bool written = false;
    try {
        writer(file);
        written = file.sync();
    } catch (const cException&) {
        written = false;
    } catch (...) {
        file.close();
        deleteFile(temporary);
        throw;
    }
    file.close();
    if (!written || !renameFile(temporary, path)) {
        deleteFile(temporary);
        return false;
    }
    return true;
}

std::u16string cPath::getExtension() const
{
    const size_t dot = mPath.rfind(u'.');
    if (dot == std::u16string::npos) {
        return std::u16string();
    }
    return mPath.substr(dot + 1);
}

} // namespace kestrel
