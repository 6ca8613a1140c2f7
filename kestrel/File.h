#pragma once
// A thin file layer over POSIX: byte reads and writes with a tracked
// position, exact operations that throw cFileIOException, whole-file and
// directory operations. Paths are UTF-16 strings.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kestrel {

enum : unsigned {
    ModeRead = 1,
    ModeWrite = 2,
    ModeCreate = 4,
};

enum : int {
    SeekBegin = 1,
    SeekCurrent = 2,
    SeekEnd = 3,
};

class cIFile {
public:
    virtual ~cIFile() = default;
    virtual bool close() = 0;
    virtual uint64_t read(void* buffer, uint64_t size) = 0;
    virtual uint64_t write(const void* buffer, uint64_t size) = 0;
    // origin: SeekBegin (and any other value), SeekCurrent, SeekEnd.
    virtual bool seek(int64_t offset, int origin) = 0;
    virtual bool tell(uint64_t& position) = 0;
    virtual bool getSize(uint64_t& size) = 0;

    const std::u16string& path() const { return mPath; }

protected:
    std::u16string mPath; // empty until a file is opened
};

class cFileImpl;

class cFile : public cIFile {
public:
    cFile();
    ~cFile() override;
    cFile(const cFile&) = delete;
    cFile& operator=(const cFile&) = delete;

    // Stores the path (also on failure), closes any open file, then opens.
    // ModeCreate creates or truncates; ModeWrite alone opens or creates;
    // ModeRead alone needs an existing file.
    bool open(const std::u16string& path, unsigned mode);
    bool isOpen() const;

    bool close() override;
    uint64_t read(void* buffer, uint64_t size) override;
    uint64_t write(const void* buffer, uint64_t size) override;
    bool seek(int64_t offset, int origin) override;
    bool tell(uint64_t& position) override;
    bool getSize(uint64_t& size) override;

    // Flushes written data to the disk; false when the disk refuses.
    bool sync();

    // The whole file as UTF-16 little-endian text (no byte-order mark is
    // removed; the text ends at the first U+0000).
    bool readAllText(std::u16string& text);

    // Throw cFileIOException "Can't read from file" / "Can't write to file"
    // with the path when not every byte could be moved.
    uint64_t readExact(void* buffer, uint64_t size);
    void readInt32(int32_t& value);
    uint64_t writeExact(const void* buffer, uint64_t size);
    void writeText(const std::u16string& text);
    void writeInt32(int32_t value);
    void writeWChar(char16_t value);
    void writeByte(uint8_t value);

private:
    std::unique_ptr<cFileImpl> mImpl;
};

bool deleteFile(const std::u16string& path);
// Copies the file, replacing the target (written beside it, then renamed).
bool copyFile(const std::u16string& source, const std::u16string& target);
// Renames source over target in one step (same filesystem).
bool renameFile(const std::u16string& source, const std::u16string& target);
bool fileExists(const std::u16string& path);
// Creates a new empty file in the folder named from the first three
// characters of the prefix, up to four upper-case hexadecimal digits and
// ".tmp". Returns its full path, or an empty path when no unique file could
// be made (opening the empty path then fails).
std::u16string makeTempFileName(const std::u16string& folder, const std::u16string& prefix);
bool directoryExists(const std::u16string& path);
// Creates one directory; the parent must exist.
bool createDirectory(const std::u16string& path);
char16_t pathSeparator();

// Writes a whole file safely: the writer fills a file beside the target,
// which is flushed and renamed over the target only when every byte was
// written. On any failure (a cFileIOException from the writer, a refused
// open, flush or rename) the partial file is removed, the old target stays
// and the result is false.
bool writeFileReplacing(const std::u16string& path, const std::function<void(cFile&)>& writer);

// The path in the platform's narrow form; false when it is not valid UTF-16.
bool toNativePath(const std::u16string& path, std::string& native);

class cPath {
public:
    explicit cPath(const std::u16string& path) : mPath(path) {}
    // The text after the last full stop; empty without one.
    std::u16string getExtension() const;
    const std::u16string& str() const { return mPath; }

private:
    std::u16string mPath;
};

} // namespace kestrel
