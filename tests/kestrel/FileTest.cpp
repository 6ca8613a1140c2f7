#include "tests/support/TempFolder.h"

#include "kestrel/Exception.h"
#include "kestrel/File.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace kestrel;

namespace {

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(File, OpenModes)
{
    testsupport::cTempFolder folder("kestrel");
    cFile file;
    EXPECT_FALSE(file.open(folder.wideFile("missing"), ModeRead));
    EXPECT_EQ(file.path(), folder.wideFile("missing")); // kept for the exception detail
    EXPECT_FALSE(file.isOpen());

    ASSERT_TRUE(file.open(folder.wideFile("new"), ModeWrite | ModeCreate));
    uint64_t size = 99;
    ASSERT_TRUE(file.getSize(size));
    EXPECT_EQ(size, 0u);
    file.writeText(u"abc");
    file.close();
    EXPECT_EQ(readBytes(folder.file("new")).size(), 6u);

    // Create cuts an existing file; write alone keeps its content.
    ASSERT_TRUE(file.open(folder.wideFile("new"), ModeWrite));
    file.close();
    EXPECT_EQ(readBytes(folder.file("new")).size(), 6u);
    ASSERT_TRUE(file.open(folder.wideFile("new"), ModeWrite | ModeCreate));
    file.close();
    EXPECT_EQ(readBytes(folder.file("new")).size(), 0u);

    // A directory is not a file.
    EXPECT_FALSE(file.open(folder.folder(), ModeRead));
}

TEST(File, PositionIsTracked)
{
    testsupport::cTempFolder folder("kestrel");
    writeBytes(folder.file("data"), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    cFile file;
    ASSERT_TRUE(file.open(folder.wideFile("data"), ModeRead));
    uint64_t position = 99;
    file.tell(position);
    EXPECT_EQ(position, 0u);
    uint8_t buffer[16];
    EXPECT_EQ(file.read(buffer, 10), 10u);
    file.tell(position);
    EXPECT_EQ(position, 10u);
    EXPECT_EQ(file.read(buffer, 10), 2u); // a short read is no error here
    ASSERT_TRUE(file.seek(4, SeekBegin));
    file.tell(position);
    EXPECT_EQ(position, 4u);
    ASSERT_TRUE(file.seek(2, SeekCurrent));
    file.tell(position);
    EXPECT_EQ(position, 6u);
    ASSERT_TRUE(file.seek(-1, SeekEnd));
    file.tell(position);
    EXPECT_EQ(position, 11u);
    EXPECT_FALSE(file.seek(-100, SeekBegin));
    file.tell(position);
    EXPECT_EQ(position, 11u);

    int32_t value = 0;
    ASSERT_TRUE(file.seek(0, SeekBegin));
    file.readInt32(value);
    EXPECT_EQ(value, 0x03020100);
}

TEST(File, ExactOperationsThrowWithThePath)
{
    testsupport::cTempFolder folder("kestrel");
    writeBytes(folder.file("short"), {1, 2, 3});
    cFile file;
    ASSERT_TRUE(file.open(folder.wideFile("short"), ModeRead));
    int32_t value = 0;
    try {
        file.readInt32(value);
        FAIL() << "no exception";
    } catch (const cFileIOException& e) {
        EXPECT_EQ(e.message(), u"Can't read from file: " + folder.wideFile("short"));
    }
    // Writing to a file opened for reading fails.
    try {
        file.writeByte(1);
        FAIL() << "no exception";
    } catch (const cFileIOException& e) {
        EXPECT_EQ(e.message(), u"Can't write to file: " + folder.wideFile("short"));
    }
}

TEST(File, WritesAreLittleEndian)
{
    testsupport::cTempFolder folder("kestrel");
    cFile file;
    ASSERT_TRUE(file.open(folder.wideFile("out"), ModeWrite | ModeCreate));
    file.writeText(u"A\u20AC");
    file.writeWChar(u'\n');
    file.writeInt32(0x11223344);
    file.writeByte(0xFE);
    file.writeText(u"");
    file.close();
    EXPECT_EQ(readBytes(folder.file("out")),
              (std::vector<uint8_t>{0x41, 0x00, 0xAC, 0x20, 0x0A, 0x00, 0x44, 0x33, 0x22, 0x11, 0xFE}));
}

TEST(File, ReadAllText)
{
    struct Case {
        std::vector<uint8_t> bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {{}, u""},
        {{0x41, 0x00, 0x42, 0x00, 0x43}, u"AB"},              // odd last byte dropped
        {{0xFF, 0xFE, 0x41, 0x00}, u"\uFEFFA"},              // byte-order mark kept
        {{0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, u"A"},        // cut at U+0000
        {{0xAC, 0x20}, u"\u20AC"},
    };
    testsupport::cTempFolder folder("kestrel");
    for (const Case& c : cases) {
        writeBytes(folder.file("text"), c.bytes);
        cFile file;
        ASSERT_TRUE(file.open(folder.wideFile("text"), ModeRead));
        std::u16string text = u"old";
        EXPECT_TRUE(file.readAllText(text));
        EXPECT_EQ(text, c.text);
    }
    cFile closed;
    std::u16string text = u"old";
    EXPECT_FALSE(closed.readAllText(text));
    EXPECT_EQ(text, u"old");
}

TEST(File, WholeFileAndDirectoryOperations)
{
    testsupport::cTempFolder folder("kestrel");
    EXPECT_TRUE(directoryExists(folder.folder()));
    EXPECT_FALSE(fileExists(folder.folder()));
    EXPECT_TRUE(createDirectory(folder.wideFile("sub")));
    EXPECT_FALSE(createDirectory(folder.wideFile("sub")));
    EXPECT_FALSE(createDirectory(folder.wideFile("no/parent")));
    EXPECT_TRUE(directoryExists(folder.wideFile("sub")));

    writeBytes(folder.file("a"), {1, 2, 3});
    writeBytes(folder.file("b"), {9, 9, 9, 9, 9, 9});
    EXPECT_TRUE(fileExists(folder.wideFile("a")));
    EXPECT_TRUE(copyFile(folder.wideFile("a"), folder.wideFile("b")));
    EXPECT_EQ(readBytes(folder.file("b")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(copyFile(folder.wideFile("missing"), folder.wideFile("b")));
    EXPECT_EQ(readBytes(folder.file("b")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(deleteFile(folder.wideFile("a")));
    EXPECT_FALSE(deleteFile(folder.wideFile("a")));
    EXPECT_FALSE(fileExists(folder.wideFile("a")));
    EXPECT_EQ(pathSeparator(), u'/');

    // Paths that are not valid UTF-16 are refused, not misnamed.
    const std::u16string broken = folder.wideFile("x") + char16_t(0xD800);
    cFile file;
    EXPECT_FALSE(file.open(broken, ModeWrite | ModeCreate));
    EXPECT_FALSE(fileExists(broken));
}

TEST(File, TempFileNamesAreUniqueAndFollowThePattern)
{
    testsupport::cTempFolder folder("kestrel");
    std::vector<std::u16string> names;
    for (int i = 0; i < 20; ++i) {
        const std::u16string name = makeTempFileName(folder.folder(), u"recent-");
        ASSERT_FALSE(name.empty());
        const std::u16string leaf = name.substr(name.rfind(u'/') + 1);
        ASSERT_GE(leaf.size(), 8u);
        ASSERT_LE(leaf.size(), 11u);
        EXPECT_EQ(leaf.substr(0, 3), u"rec");
        EXPECT_EQ(leaf.substr(leaf.size() - 4), u".tmp");
        for (size_t k = 3; k + 4 < leaf.size(); ++k) {
            EXPECT_TRUE((leaf[k] >= u'0' && leaf[k] <= u'9') || (leaf[k] >= u'A' && leaf[k] <= u'F'));
        }
        EXPECT_TRUE(fileExists(name));
        for (const std::u16string& other : names) {
            EXPECT_NE(other, name);
        }
        names.push_back(name);
    }
    // Without the trailing '/' the name still lands inside the folder.
    const std::u16string name = makeTempFileName(folder.folder().substr(0, folder.folder().size() - 1), u"ab");
    EXPECT_EQ(name.substr(0, folder.folder().size()), folder.folder());
    EXPECT_TRUE(makeTempFileName(folder.wideFile("missing/"), u"rec").empty());
}

TEST(File, ExtensionIsTheTextAfterTheLastFullStop)
{
    struct Case {
        std::u16string path;
        std::u16string extension;
    };
    const Case cases[] = {
        {u"/x/list.asx", u"asx"},
        {u"/x/list", u""},
        {u"/x/list.", u""},
        {u"http://host/a.b/play.ASX", u"ASX"},
        {u"a.tar.gz", u"gz"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cPath(c.path).getExtension(), c.extension);
    }
}

TEST(File, ReplacingWriteKeepsTheOldFileOnFailure)
{
    testsupport::cTempFolder folder("kestrel");
    writeBytes(folder.file("settings.xml"), {1, 2, 3});

    // A writer that fails part-way leaves the old file and no partial one.
    EXPECT_FALSE(writeFileReplacing(folder.wideFile("settings.xml"), [](cFile& file) {
        file.writeByte(7);
        throw cFileIOException(u"Can't write to file", file.path());
    }));
    EXPECT_EQ(readBytes(folder.file("settings.xml")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(fileExists(folder.wideFile("settings.xml.tmp")));

    EXPECT_TRUE(writeFileReplacing(folder.wideFile("settings.xml"), [](cFile& file) { file.writeByte(9); }));
    EXPECT_EQ(readBytes(folder.file("settings.xml")), (std::vector<uint8_t>{9}));

    // A folder that does not exist: nothing can be written.
    EXPECT_FALSE(writeFileReplacing(folder.wideFile("none/settings.xml"), [](cFile& file) { file.writeByte(9); }));
}

TEST(File, ReplacingWriteSurvivesAFullDisk)
{
    // The file size limit makes writes fail part-way, as a full disk would.
    testsupport::cTempFolder folder("kestrel");
    std::vector<uint8_t> old(100, 0x55);
    writeBytes(folder.file("big"), old);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const bool saved = writeFileReplacing(folder.wideFile("big"), [](cFile& file) {
            std::vector<uint8_t> data(10000, 0xAA);
            file.writeExact(data.data(), data.size());
        });
        _exit(saved ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reported success";
    EXPECT_EQ(readBytes(folder.file("big")), old);
    EXPECT_FALSE(fileExists(folder.wideFile("big.tmp")));
}
