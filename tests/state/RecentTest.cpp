// The recent-channels list: the order rules of add, recent.xml byte for
// byte and its reader, the picture files and what happens to them, and
// failures that must keep the previous files.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include <atomic>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "state/Recent.h"
#include "state/Settings.h"

using namespace statetest;

namespace {

struct Channel {
    std::u16string country;
    std::u16string name;
    std::u16string type;
};

// A small picture whose bytes tell the channels apart.
std::vector<uint8_t> pictureFor(uint8_t seed, int width = 4, int height = 3)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * 3 * height);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(seed + i);
    return pixels;
}

class RecentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cRecent::destroyInstance();
        cSettings::destroyInstance();
        cSettings::instance()->setDataFolder(mFolder.folder());
        mRecent = cRecent::instance();
    }
    void TearDown() override
    {
        cRecent::destroyInstance();
        cSettings::destroyInstance();
    }

    // A playback start, and a picture stored for it when wanted.
    void play(const Channel& channel, bool withPicture = true)
    {
        mRecent->add(channel.country, channel.name, channel.type);
        if (withPicture) {
            const std::vector<uint8_t> pixels = pictureFor(static_cast<uint8_t>(channel.name[0]));
            ASSERT_TRUE(mRecent->savePicture(pixels.data(), 4, 3));
        }
    }

    std::vector<std::u16string> names() const
    {
        std::vector<std::u16string> result;
        for (int i = 0; mRecent->hasEntry(i); ++i)
            result.push_back(mRecent->entryName(i));
        return result;
    }

    std::string picturePath(int index) const { return cTestFolder::narrow(mRecent->entry(index).picturePath); }

    std::string recentBytes() const { return readBytes(mFolder.file("recent.xml")); }

    void writeRecentFile(const std::u16string& text) { writeBytes(mFolder.file("recent.xml"), userFileBytes(text)); }

    // A picture file as the list writes it: width, height, then the pixels.
    void writePictureFile(const std::string& name, int32_t width, int32_t height, size_t pixelBytes)
    {
        std::string bytes(reinterpret_cast<const char*>(&width), 4);
        bytes.append(reinterpret_cast<const char*>(&height), 4);
        bytes.append(pixelBytes, '\x5A');
        writeBytes(mFolder.file(name), bytes);
    }

    // A picture file name as the list makes them: "rec", hexadecimal digits, ".tmp".
    static std::string ownName(int i)
    {
        char name[16];
        std::snprintf(name, sizeof(name), "rec%X.tmp", 0xA00 + i);
        return name;
    }

    cTestFolder mFolder;
    cRecent* mRecent = nullptr;
};

const Channel A{u"France", u"Alpha", u"News"};
const Channel B{u"Germany", u"Bravo", u"Music"};
const Channel C{u"Italy", u"Charlie", u"Sport"};

TEST_F(RecentTest, PlayingAgainMovesTheChannelToTheFrontWithItsPicture)
{
    play(A);
    play(B);
    play(C);
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"Charlie", u"Bravo", u"Alpha"}));
    const std::string bravoPicture = picturePath(1);

    play(B, false);
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"Bravo", u"Charlie", u"Alpha"}));
    EXPECT_EQ(picturePath(0), bravoPicture);
    EXPECT_EQ(mRecent->entry(0).pictureCount, 1);
    EXPECT_EQ(mRecent->entryCountry(0), u"Germany");
    EXPECT_EQ(mRecent->entryType(0), u"Music");

    uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    ASSERT_TRUE(mRecent->loadPicture(0, pixels, width, height));
    EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + width * 3 * height), pictureFor('B'));
    cRecent::freePicture(pixels);
}

TEST_F(RecentTest, TheEleventhChannelPushesOutTheOldestAndItsPicture)
{
    for (char16_t letter = u'A'; letter < u'A' + 10; ++letter)
        play(Channel{u"Country", std::u16string(1, letter), u"Type"});
    ASSERT_EQ(mRecent->entryCount(), 10);
    const std::string oldest = picturePath(9);
    const std::string secondOldest = picturePath(8);
    ASSERT_TRUE(exists(oldest));

    play(Channel{u"Country", u"K", u"Type"});
    EXPECT_EQ(mRecent->entryCount(), 10);
    EXPECT_EQ(mRecent->entryName(0), u"K");
    EXPECT_EQ(mRecent->entryName(9), u"B");
    EXPECT_FALSE(exists(oldest));
    EXPECT_TRUE(exists(secondOldest));
    EXPECT_FALSE(mRecent->hasEntry(10));
    EXPECT_FALSE(mRecent->hasEntry(-1));
}

TEST_F(RecentTest, AChannelWithoutAPictureIsReplacedByTheNextOne)
{
    play(C);
    play(A, false);
    const std::string alphaPicture = picturePath(0);
    ASSERT_TRUE(exists(alphaPicture));

    play(B, false);
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"Bravo", u"Charlie"}));
    EXPECT_EQ(mRecent->entry(0).pictureCount, 0);
    // The replaced entry's empty picture file goes with it.
    EXPECT_FALSE(exists(alphaPicture));
}

TEST_F(RecentTest, ChannelsDifferingOnlyByCountryAreTwoEntries)
{
    play(Channel{u"France", u"Same", u"News"});
    play(Channel{u"Belgium", u"Same", u"News"});
    play(Channel{u"Belgium", u"Same", u"news"});
    ASSERT_EQ(mRecent->entryCount(), 3);
    EXPECT_EQ(mRecent->entryType(0), u"news");
    EXPECT_EQ(mRecent->entryCountry(1), u"Belgium");
    EXPECT_EQ(mRecent->entryCountry(2), u"France");
    EXPECT_NE(picturePath(0), picturePath(1));
}

TEST_F(RecentTest, SavedFileListsEntriesMostRecentFirst)
{
    play(A);
    play(B);
    play(C);
    ASSERT_TRUE(mRecent->save(mFolder.folder()));
    const std::u16string charlie = mRecent->entry(0).picturePath;
    const std::u16string bravo = mRecent->entry(1).picturePath;
    const std::u16string alpha = mRecent->entry(2).picturePath;
    EXPECT_EQ(recentBytes(),
              userFileBytes(u"<recents>\n"
                            u"<item name=\"Charlie\" country=\"Italy\" type=\"Sport\" filename=\"" + charlie +
                            u"\"></item>\n"
                            u"<item name=\"Bravo\" country=\"Germany\" type=\"Music\" filename=\"" + bravo +
                            u"\"></item>\n"
                            u"<item name=\"Alpha\" country=\"France\" type=\"News\" filename=\"" + alpha +
                            u"\"></item>\n"
                            u"</recents>\n"));

    // Read back into a fresh list: same entries, each with a picture.
    cRecent::destroyInstance();
    mRecent = cRecent::instance();
    ASSERT_TRUE(mRecent->load(mFolder.folder()));
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"Charlie", u"Bravo", u"Alpha"}));
    EXPECT_EQ(mRecent->entry(2).picturePath, alpha);
    EXPECT_EQ(mRecent->entry(2).country, u"France");
    EXPECT_EQ(mRecent->entry(0).pictureCount, 1);
}

TEST_F(RecentTest, SaveDropsAFrontEntryThatNeverGotAPicture)
{
    play(A);
    play(B, false);
    const std::string bravoPicture = picturePath(0);
    ASSERT_TRUE(mRecent->save(mFolder.folder()));
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"Alpha"}));
    EXPECT_FALSE(exists(bravoPicture));
    EXPECT_EQ(recentBytes(), userFileBytes(u"<recents>\n<item name=\"Alpha\" country=\"France\" type=\"News\" filename=\"" +
                                           mRecent->entry(0).picturePath + u"\"></item>\n</recents>\n"));

    // A list that held only such an entry is written empty.
    cRecent::destroyInstance();
    mRecent = cRecent::instance();
    play(C, false);
    ASSERT_TRUE(mRecent->save(mFolder.folder()));
    EXPECT_EQ(recentBytes(), userFileBytes(u"<recents>\n</recents>\n"));
}

TEST_F(RecentTest, EmptyListLeavesAnExistingFileUntouched)
{
    writeBytes(mFolder.file("recent.xml"), "not even UTF-16");
    EXPECT_TRUE(mRecent->save(mFolder.folder()));
    EXPECT_EQ(recentBytes(), "not even UTF-16");
}

struct ReaderCase {
    const char* what;
    std::u16string body;
    std::vector<std::u16string> names;
};

TEST_F(RecentTest, ReaderRules)
{
    const ReaderCase cases[] = {
        {"file order is kept",
         u"<recents>\n<item name=\"one\" country=\"c\" type=\"t\" filename=\"/f1\"></item>\n"
         u"<item name=\"two\" country=\"c\" type=\"t\" filename=\"/f2\"></item>\n</recents>\n",
         {u"one", u"two"}},
        {"any attribute order, capitals in names",
         u"<RECENTS><ITEM FILENAME=\"/f\" Type=\"t\" COUNTRY=\"c\" Name=\"one\"></ITEM></RECENTS>",
         {u"one"}},
        {"self-closing item", u"<item name=\"one\" country=\"c\" type=\"t\" filename=\"/f\"/>", {u"one"}},
        {"text content is ignored", u"<item name=\"one\" country=\"c\" type=\"t\" filename=\"/f\">words &amp; more</item>",
         {u"one"}},
        {"an item lacking an attribute is skipped",
         u"<item name=\"one\" country=\"c\" type=\"t\"></item><item name=\"two\" country=\"c\" type=\"t\" filename=\"/f\"></item>",
         {u"two"}},
        {"an item with an empty attribute is skipped",
         u"<item name=\"\" country=\"c\" type=\"t\" filename=\"/f\"></item>", {}},
        {"attributes do not leak into the next item",
         u"<item name=\"one\" country=\"c\" type=\"t\" filename=\"/f\"></item><item name=\"two\"></item>", {u"one"}},
        {"attribute entities are decoded",
         u"<item name=\"a&amp;b &quot;c&quot;\" country=\"c\" type=\"t\" filename=\"/f\"></item>", {u"a&b \"c\""}},
        {"a lone ampersand stays", u"<item name=\"R&B\" country=\"c\" type=\"t\" filename=\"/f\"></item>", {u"R&B"}},
        {"no items", u"<recents>\n</recents>\n", {}},
        {"damaged tail", u"<item name=\"one\" country=\"c\" type=\"t\" filename=\"/f\"></item><item name=\"tw", {u"one"}},
    };
    for (const ReaderCase& c : cases) {
        SCOPED_TRACE(c.what);
        writeRecentFile(c.body);
        ASSERT_TRUE(mRecent->load(mFolder.folder()));
        EXPECT_EQ(names(), c.names);
    }
}

TEST_F(RecentTest, MissingOrUnreadableFile)
{
    play(A);
    EXPECT_TRUE(mRecent->load(mFolder.folder()));
    EXPECT_EQ(mRecent->entryCount(), 0);

    // Something that is not a plain file, or a file far larger than any
    // list, is refused unread.
    const std::function<void(const std::string&)> makers[] = {
        [](const std::string& path) { std::filesystem::create_directory(path); },
        [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
        [](const std::string& path) {
            std::ofstream(path).close();
            std::filesystem::resize_file(path, 64ull * 1024 * 1024);
        },
    };
    for (const auto& make : makers) {
        std::filesystem::remove(mFolder.file("recent.xml"));
        make(mFolder.file("recent.xml"));
        play(A);
        EXPECT_FALSE(mRecent->load(mFolder.folder()));
        EXPECT_EQ(mRecent->entryCount(), 0);
        EXPECT_FALSE(mRecent->hasEntry(0));
        EXPECT_EQ(mRecent->entryName(0), u"");
    }
}

TEST_F(RecentTest, ALongerListIsReadWholeAndCutBackByTheNextPlay)
{
    // Twelve items, as an edited file may hold; the last one names a file
    // outside the data folder, which the list must never delete.
    cTestFolder outside;
    const std::string foreign = outside.file("keep-me");
    writeBytes(foreign, "precious");
    std::u16string body = u"<recents>\n";
    for (int i = 0; i < 12; ++i) {
        const std::string file = i == 11 ? foreign : mFolder.file(ownName(i));
        if (i != 11)
            writeBytes(file, "");
        body += u"<item name=\"n" + cTestFolder::wide(std::to_string(i)) + u"\" country=\"c\" type=\"t\" filename=\"" +
                cTestFolder::wide(file) + u"\"></item>\n";
    }
    writeRecentFile(body + u"</recents>\n");
    ASSERT_TRUE(mRecent->load(mFolder.folder()));
    ASSERT_EQ(mRecent->entryCount(), 12);
    EXPECT_EQ(mRecent->entryName(11), u"n11");

    play(A);
    ASSERT_EQ(mRecent->entryCount(), 10);
    EXPECT_EQ(mRecent->entryName(0), u"Alpha");
    EXPECT_EQ(mRecent->entryName(9), u"n8");
    EXPECT_TRUE(exists(mFolder.file(ownName(8))));
    EXPECT_FALSE(exists(mFolder.file(ownName(9))));
    EXPECT_FALSE(exists(mFolder.file(ownName(10))));
    EXPECT_EQ(readBytes(foreign), "precious");
}

TEST_F(RecentTest, PictureFileLayoutAndRoundTrip)
{
    play(A, false);
    const std::vector<uint8_t> pixels = pictureFor(7, 5, 2);
    ASSERT_TRUE(mRecent->savePicture(pixels.data(), 5, 2));
    EXPECT_EQ(mRecent->entry(0).pictureCount, 1);
    ASSERT_TRUE(mRecent->savePicture(pixels.data(), 5, 2));
    EXPECT_EQ(mRecent->entry(0).pictureCount, 2);

    std::string expected("\x05\x00\x00\x00\x02\x00\x00\x00", 8);
    expected.append(pixels.begin(), pixels.end());
    EXPECT_EQ(readBytes(picturePath(0)), expected);

    uint8_t* read = nullptr;
    int width = 0;
    int height = 0;
    ASSERT_TRUE(mRecent->loadPicture(0, read, width, height));
    EXPECT_EQ(width, 5);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(std::vector<uint8_t>(read, read + 30), pixels);
    cRecent::freePicture(read);
}

// A frame of a large stream is stored scaled to fit 512 x 512, keeping its
// shape, its rows' order (bottom first) and its colours.
TEST_F(RecentTest, LargePicturesAreStoredScaledDown)
{
    const struct {
        int width, height, storedWidth, storedHeight;
    } cases[] = {{1920, 1080, 512, 288}, {720, 1280, 288, 512}, {4096, 16, 512, 2}, {512, 512, 512, 512}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        play(A, false);
        // The bottom half blue, the top half red (blue, green, red bytes).
        std::vector<uint8_t> pixels(static_cast<size_t>(c.width) * 3u * static_cast<size_t>(c.height));
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                uint8_t* p = &pixels[(static_cast<size_t>(y) * c.width + x) * 3u];
                p[0] = y < c.height / 2 ? 255 : 0;
                p[2] = y < c.height / 2 ? 0 : 255;
            }
        }
        ASSERT_TRUE(mRecent->savePicture(pixels.data(), c.width, c.height));
        uint8_t* read = nullptr;
        int width = 0;
        int height = 0;
        ASSERT_TRUE(mRecent->loadPicture(0, read, width, height));
        EXPECT_EQ(width, c.storedWidth);
        EXPECT_EQ(height, c.storedHeight);
        EXPECT_EQ(read[0], 255); // the first row stored is still the bottom one: blue
        EXPECT_EQ(read[2], 0);
        const uint8_t* top = read + static_cast<size_t>(height - 1) * width * 3u;
        EXPECT_EQ(top[0], 0);
        EXPECT_EQ(top[2], 255);
        cRecent::freePicture(read);
    }
}

TEST_F(RecentTest, PicturesThatCannotBeStored)
{
    const std::vector<uint8_t> pixels = pictureFor(1);
    EXPECT_FALSE(mRecent->savePicture(pixels.data(), 4, 3)); // empty list

    play(A, false);
    const struct {
        const uint8_t* pixels;
        int width;
        int height;
    } refused[] = {{nullptr, 4, 3}, {pixels.data(), 0, 3}, {pixels.data(), 4, -3}, {pixels.data(), 8193, 1}};
    for (const auto& r : refused)
        EXPECT_FALSE(mRecent->savePicture(r.pixels, r.width, r.height)) << r.width << "x" << r.height;
    EXPECT_EQ(mRecent->entry(0).pictureCount, 0);
    EXPECT_EQ(readBytes(picturePath(0)), "");
}

TEST_F(RecentTest, PictureFilesAreCheckedBeforeAllocation)
{
    struct PictureCase {
        const char* what;
        int32_t width;
        int32_t height;
        size_t pixelBytes;
        bool loads;
    };
    const PictureCase cases[] = {
        {"exact size", 4, 2, 24, true},
        {"one byte short", 4, 2, 23, false},
        {"one byte extra", 4, 2, 25, false},
        {"zero width", 0, 2, 0, false},
        {"negative height", 4, -2, 0, false},
        {"too wide", 8193, 1, 8193 * 3, false},
        {"huge claim in a small file", 8192, 8192, 16, false},
        {"largest side", 8192, 1, 8192 * 3, true},
    };
    std::u16string body = u"<recents>\n";
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string name = ownName(static_cast<int>(i));
        writePictureFile(name, cases[i].width, cases[i].height, cases[i].pixelBytes);
        body += u"<item name=\"" + cTestFolder::wide(name) + u"\" country=\"c\" type=\"t\" filename=\"" +
                mFolder.wideFile(name) + u"\"></item>\n";
    }
    writeBytes(mFolder.file("recAAA.tmp"), "");
    ASSERT_EQ(mkfifo(mFolder.file("recAAB.tmp").c_str(), 0600), 0);
    writeBytes(mFolder.file("recAAC.tmp"), std::string("\x04\x00\x00", 3));
    body += u"<item name=\"empty\" country=\"c\" type=\"t\" filename=\"" + mFolder.wideFile("recAAA.tmp") +
            u"\"></item>\n";
    body += u"<item name=\"short header\" country=\"c\" type=\"t\" filename=\"" + mFolder.wideFile("recAAC.tmp") +
            u"\"></item>\n";
    body += u"<item name=\"a pipe\" country=\"c\" type=\"t\" filename=\"" + mFolder.wideFile("recAAB.tmp") +
            u"\"></item>\n";
    body += u"<item name=\"missing\" country=\"c\" type=\"t\" filename=\"" + mFolder.wideFile("recAAD.tmp") +
            u"\"></item>\n";
    writeRecentFile(body + u"</recents>\n");
    ASSERT_TRUE(mRecent->load(mFolder.folder()));
    ASSERT_EQ(mRecent->entryCount(), static_cast<int>(std::size(cases)) + 4);

    for (int i = 0; mRecent->hasEntry(i); ++i) {
        const bool expected = i < static_cast<int>(std::size(cases)) && cases[i].loads;
        SCOPED_TRACE(i < static_cast<int>(std::size(cases)) ? cases[i].what
                                                             : cTestFolder::narrow(mRecent->entryName(i)).c_str());
        uint8_t* pixels = nullptr;
        int width = -1;
        int height = -1;
        EXPECT_EQ(mRecent->loadPicture(i, pixels, width, height), expected);
        if (expected) {
            EXPECT_EQ(width, cases[i].width);
            EXPECT_EQ(height, cases[i].height);
            EXPECT_EQ(pixels[0], 0x5A);
            cRecent::freePicture(pixels);
        } else {
            EXPECT_EQ(pixels, nullptr);
        }
    }
    uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    EXPECT_FALSE(mRecent->loadPicture(99, pixels, width, height));
}

TEST_F(RecentTest, FilesOutsideTheDataFolderAreNeverWritten)
{
    cTestFolder outside;
    const std::string foreign = outside.file("document");
    writeBytes(foreign, "precious");
    writeRecentFile(u"<recents><item name=\"Alpha\" country=\"France\" type=\"News\" filename=\"" +
                    cTestFolder::wide(foreign) + u"\"></item></recents>");
    ASSERT_TRUE(mRecent->load(mFolder.folder()));

    play(B);
    play(A, false); // moves the loaded entry to the front, with a picture file of its own
    const std::vector<uint8_t> pixels = pictureFor(1);
    EXPECT_TRUE(mRecent->savePicture(pixels.data(), 4, 3));
    EXPECT_NE(picturePath(0), foreign);
    EXPECT_EQ(readBytes(foreign), "precious");
}

TEST_F(RecentTest, NamesWithMarkupSurviveASaveAndALoad)
{
    const Channel hostile[] = {
        {u"Country \"Q\"", u"Radio \"Classic\"", u"it's <b>"},
        {u"a & b", u"x\"></item><item name=\"y\" country=\"c\" type=\"t\" filename=\"" + mFolder.wideFile("settings.xml"),
         u"T"},
        {u"<", u">", u"&amp;"},
    };
    writeBytes(mFolder.file("settings.xml"), "settings");
    for (const Channel& channel : hostile)
        play(channel);
    ASSERT_TRUE(mRecent->save(mFolder.folder()));

    cRecent::destroyInstance();
    mRecent = cRecent::instance();
    ASSERT_TRUE(mRecent->load(mFolder.folder()));
    ASSERT_EQ(mRecent->entryCount(), 3);
    for (int i = 0; i < 3; ++i) {
        const Channel& channel = hostile[2 - i];
        EXPECT_EQ(mRecent->entryCountry(i), channel.country);
        EXPECT_EQ(mRecent->entryName(i), channel.name);
        EXPECT_EQ(mRecent->entryType(i), channel.type);
        uint8_t* pixels = nullptr;
        int width = 0;
        int height = 0;
        ASSERT_TRUE(mRecent->loadPicture(i, pixels, width, height));
        cRecent::freePicture(pixels);
    }
    // Playing them again and leaving the list touches nothing but pictures.
    for (int i = 0; i < 12; ++i)
        play(Channel{u"c", cTestFolder::wide(std::to_string(i)), u"t"});
    EXPECT_EQ(readBytes(mFolder.file("settings.xml")), "settings");
}

TEST_F(RecentTest, OnlyPictureFilesOfItsOwnMakingAreUsed)
{
    // Paths that recent.xml may name but the list never made: other files
    // of the data folder, names that only look alike, other folders.
    const std::string names[] = {"settings.xml", "recent.xml", "rec.tmp", "rec12345.tmp", "recab.tmp", "REC1.tmp",
                                 "rec1.tmp.tmp", "xrec1.tmp"};
    std::u16string body = u"<recents>\n";
    for (const std::string& name : names) {
        if (name != "recent.xml")
            writePictureFile(name, 1, 1, 3);
        body += u"<item name=\"" + cTestFolder::wide(name) + u"\" country=\"c\" type=\"t\" filename=\"" +
                mFolder.wideFile(name) + u"\"></item>\n";
    }
    cTestFolder outside;
    writePictureFile("rec1.tmp", 1, 1, 3);
    std::filesystem::copy_file(mFolder.file("rec1.tmp"), outside.file("rec1.tmp"));
    std::filesystem::remove(mFolder.file("rec1.tmp"));
    body += u"<item name=\"outside\" country=\"c\" type=\"t\" filename=\"" + outside.wideFile("rec1.tmp") +
            u"\"></item>\n";
    body += u"<item name=\"dot dot\" country=\"c\" type=\"t\" filename=\"" + mFolder.folder() + u"../" +
            cTestFolder::wide(std::filesystem::path(mFolder.file("x")).parent_path().filename().string()) +
            u"/recAB.tmp\"></item>\n";
    writePictureFile("recAB.tmp", 1, 1, 3);
    writeRecentFile(body + u"</recents>\n");
    const std::string before = recentBytes();
    ASSERT_TRUE(mRecent->load(mFolder.folder()));
    const int count = mRecent->entryCount();
    ASSERT_EQ(count, static_cast<int>(std::size(names)) + 2);

    // Every entry stays, with the placeholder instead of a picture.
    for (int i = 0; i < count; ++i) {
        uint8_t* pixels = nullptr;
        int width = 0;
        int height = 0;
        EXPECT_FALSE(mRecent->loadPicture(i, pixels, width, height)) << cTestFolder::narrow(mRecent->entryName(i));
    }
    // Written back unchanged.
    ASSERT_TRUE(mRecent->save(mFolder.folder()));
    EXPECT_EQ(recentBytes(), before);

    // Playing one of them gives it a picture file of its own; the file it
    // named keeps its content.
    const std::string settingsBefore = readBytes(mFolder.file("settings.xml"));
    mRecent->add(u"c", u"settings.xml", u"t");
    const std::vector<uint8_t> pixels = pictureFor(1);
    ASSERT_TRUE(mRecent->savePicture(pixels.data(), 4, 3));
    EXPECT_NE(picturePath(0), mFolder.file("settings.xml"));
    EXPECT_EQ(readBytes(mFolder.file("settings.xml")), settingsBefore);

    // Entries leaving the list delete none of the files they named.
    for (int i = 0; i < 20; ++i)
        play(Channel{u"c", cTestFolder::wide("new" + std::to_string(i)), u"t"});
    for (const std::string& name : names)
        EXPECT_TRUE(exists(mFolder.file(name))) << name;
    EXPECT_TRUE(exists(outside.file("rec1.tmp")));
    EXPECT_TRUE(exists(mFolder.file("recAB.tmp")));
}

TEST_F(RecentTest, PostedPicturesAreWrittenOnTheWritersThread)
{
    play(A);
    const std::u16string alpha = mRecent->entry(0).picturePath;
    play(B, false);
    // A picture goes to the entry it was taken for, even when another
    // channel has come to the front meanwhile.
    const std::vector<uint8_t> pixels = pictureFor(40);
    mRecent->postPicture(alpha, pixels.data(), 4, 3);
    mRecent->flushPictures();
    EXPECT_EQ(mRecent->entry(1).pictureCount, 2);
    EXPECT_EQ(mRecent->entry(0).pictureCount, 0);
    uint8_t* read = nullptr;
    int width = 0;
    int height = 0;
    ASSERT_TRUE(mRecent->loadPicture(1, read, width, height));
    EXPECT_EQ(std::vector<uint8_t>(read, read + 36), pixels);
    cRecent::freePicture(read);

    // The save waits for a picture still on its way: the front entry got
    // one and is kept.
    mRecent->postPicture(mRecent->entry(0).picturePath, pixels.data(), 4, 3);
    ASSERT_TRUE(mRecent->save(mFolder.folder()));
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"Bravo", u"Alpha"}));

    // So does the end of the list.
    play(C, false);
    const std::string charlie = picturePath(0);
    mRecent->postPicture(mRecent->entry(0).picturePath, pixels.data(), 4, 3);
    cRecent::destroyInstance();
    mRecent = nullptr;
    EXPECT_EQ(readBytes(charlie).size(), 8u + 36u);
    mRecent = cRecent::instance();
}

TEST_F(RecentTest, ASlowDiskNeverHoldsUpThePosterAndTheNewestPictureWins)
{
    play(A, false);
    const std::u16string path = mRecent->entry(0).picturePath;
    // The file written beside the picture is a pipe without a reader: the
    // writer's open waits as on a disk that does not answer.
    const std::string beside = picturePath(0) + ".tmp";
    ASSERT_EQ(mkfifo(beside.c_str(), 0600), 0);
    constexpr int Posts = 50;
    for (int i = 0; i < Posts; ++i) {
        const std::vector<uint8_t> pixels = pictureFor(static_cast<uint8_t>(i));
        mRecent->postPicture(path, pixels.data(), 4, 3);
    }
    // Every post returned while the writer waited. Now the pipe gets a
    // reader: the write into it cannot be flushed, fails and is removed.
    const int reader = open(beside.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    mRecent->flushPictures();
    close(reader);
    EXPECT_FALSE(exists(beside));

    // One picture waited at most: all but the one being written and the
    // one waiting were replaced.
    const std::vector<uint8_t> last = pictureFor(200);
    mRecent->postPicture(path, last.data(), 4, 3);
    mRecent->flushPictures();
    uint8_t* read = nullptr;
    int width = 0;
    int height = 0;
    ASSERT_TRUE(mRecent->loadPicture(0, read, width, height));
    EXPECT_EQ(std::vector<uint8_t>(read, read + 36), last);
    cRecent::freePicture(read);
    EXPECT_GE(mRecent->entry(0).pictureCount, 1);
}

TEST_F(RecentTest, FailedWritesKeepThePreviousFiles)
{
    play(A);
    play(B);
    ASSERT_TRUE(mRecent->save(mFolder.folder()));
    const std::string previousList = recentBytes();
    const std::string picture = picturePath(0);
    const std::string previousPicture = readBytes(picture);
    play(C);
    const std::set<std::string> files = mFolder.fileNames();

    const std::vector<uint8_t> large = pictureFor(9, 64, 64);
    bool pictureStored = true;
    bool listSaved = true;
    mRecent->add(B.country, B.name, B.type);
    {
        // Both new files are cut off part-way through.
        cFileSizeLimit limit(100);
        ASSERT_TRUE(limit.active());
        pictureStored = mRecent->savePicture(large.data(), 64, 64);
        listSaved = mRecent->save(mFolder.folder());
    }
    EXPECT_FALSE(pictureStored);
    EXPECT_FALSE(listSaved);
    EXPECT_EQ(readBytes(picture), previousPicture);
    EXPECT_EQ(recentBytes(), previousList);
    EXPECT_EQ(mFolder.fileNames(), files);
    EXPECT_EQ(mRecent->entry(0).pictureCount, 1);

    EXPECT_TRUE(mRecent->savePicture(large.data(), 64, 64));
    EXPECT_TRUE(mRecent->save(mFolder.folder()));
    EXPECT_NE(recentBytes(), previousList);
}

TEST_F(RecentTest, CaptureThreadStoresPicturesWhilePlaybacksStart)
{
    std::atomic<bool> stop{false};
    std::thread capture([this, &stop] {
        const std::vector<uint8_t> pixels = pictureFor(3, 32, 32);
        while (!stop.load())
            mRecent->savePicture(pixels.data(), 32, 32);
    });
    for (int i = 0; i < 300; ++i) {
        const std::u16string name = cTestFolder::wide(std::to_string(i % 14));
        mRecent->add(u"c", name, u"t");
        for (int j = 0; mRecent->hasEntry(j); ++j)
            mRecent->entryName(j);
    }
    stop = true;
    capture.join();

    // Every file left in the folder belongs to an entry: nothing half
    // written, nothing orphaned.
    std::set<std::string> owned;
    for (int i = 0; mRecent->hasEntry(i); ++i)
        owned.insert(std::filesystem::path(picturePath(i)).filename().string());
    EXPECT_LE(mRecent->entryCount(), cRecent::MaxEntries);
    EXPECT_EQ(mFolder.fileNames(), owned);
}

} // namespace
