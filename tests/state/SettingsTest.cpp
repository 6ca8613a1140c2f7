// The settings store: its file, byte for byte; the reader's rules; the typed
// accessors; failures that must keep the previous file.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>

#include "TestSupport.h"
#include "state/Settings.h"

using namespace statetest;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cSettings::destroyInstance();
        mSettings = cSettings::instance();
        mSettings->setDataFolder(mFolder.folder());
    }
    void TearDown() override { cSettings::destroyInstance(); }

    std::u16string settingsPath() const { return mFolder.wideFile("settings.xml"); }
    std::string settingsBytes() const { return readBytes(mFolder.file("settings.xml")); }

    cTestFolder mFolder;
    cSettings* mSettings = nullptr;
};

TEST_F(SettingsTest, InitialContentsSaveAsExactlyFiveLines)
{
    // Written out byte by byte: UTF-16 little-endian, byte-order mark, single
    // line feeds, keys in code-unit order.
    static const char bytes[] =
        "\xFF\xFE"
        "<\0s\0e\0t\0t\0i\0n\0g\0s\0>\0\n\0"
        "<\0i\0t\0e\0m\0 \0n\0a\0m\0e\0=\0\"\0d\0b\0v\0e\0r\0s\0i\0o\0n\0\"\0>\0"
        "0\0"
        "<\0/\0i\0t\0e\0m\0>\0\n\0"
        "<\0i\0t\0e\0m\0 \0n\0a\0m\0e\0=\0\"\0l\0a\0n\0g\0u\0a\0g\0e\0\"\0>\0"
        "e\0n\0g\0l\0i\0s\0h\0<\0/\0i\0t\0e\0m\0>\0\n\0"
        "<\0i\0t\0e\0m\0 \0n\0a\0m\0e\0=\0\"\0t\0h\0e\0m\0e\0\"\0>\0"
        "b\0l\0a\0c\0k\0<\0/\0i\0t\0e\0m\0>\0\n\0"
        "<\0/\0s\0e\0t\0t\0i\0n\0g\0s\0>\0\n\0";
    const std::string expected(bytes, sizeof(bytes) - 1);

    ASSERT_TRUE(mSettings->save(settingsPath()));
    EXPECT_EQ(settingsBytes(), expected);

    // reset() brings back exactly the same contents.
    mSettings->setInteger(u"volume", 55);
    mSettings->setString(u"language", u"german");
    mSettings->reset();
    ASSERT_TRUE(mSettings->save(settingsPath()));
    EXPECT_EQ(settingsBytes(), expected);
}

// Values are escaped so that text with markup characters (the "&" of a
// list address's query) reads back as it was stored; plain values are
// written byte for byte as before.
TEST_F(SettingsTest, EntriesAreWrittenInCodeUnitOrderWithMarkupEscaped)
{
    mSettings->setInteger(u"window_main_maxi", 1);
    mSettings->setBoolean(u"muted", true);
    mSettings->setInteger(u"countryList_active", 3);
    mSettings->setInteger(u"channelsList_active", -2);
    mSettings->setString(u"Volume", u"capital");
    mSettings->setInteger(u"volume", 80);
    mSettings->setString(u"note", u"a<b & \"c\"");

    ASSERT_TRUE(mSettings->save(settingsPath()));
    EXPECT_EQ(settingsBytes(), userFileBytes(u"<settings>\n"
                                             u"<item name=\"Volume\">capital</item>\n"
                                             u"<item name=\"channelsList_active\">-2</item>\n"
                                             u"<item name=\"countryList_active\">3</item>\n"
                                             u"<item name=\"dbversion\">0</item>\n"
                                             u"<item name=\"language\">english</item>\n"
                                             u"<item name=\"muted\">true</item>\n"
                                             u"<item name=\"note\">a&lt;b &amp; \"c\"</item>\n"
                                             u"<item name=\"theme\">black</item>\n"
                                             u"<item name=\"volume\">80</item>\n"
                                             u"<item name=\"window_main_maxi\">1</item>\n"
                                             u"</settings>\n"));
    mSettings->setString(u"list1", u"http://tv.example/get.php?user=a&pass=b&type=m3u");
    ASSERT_TRUE(mSettings->save(settingsPath()));
    mSettings->reset();
    ASSERT_TRUE(mSettings->load(settingsPath()));
    EXPECT_EQ(mSettings->getString(u"note", u""), u"a<b & \"c\"");
    EXPECT_EQ(mSettings->getLists(),
              std::vector<std::u16string>{u"http://tv.example/get.php?user=a&pass=b&type=m3u"});
}

TEST_F(SettingsTest, SavedValuesReadBackIntoAFreshStore)
{
    mSettings->setInteger(u"volume", 35);
    mSettings->setBoolean(u"muted", true);
    mSettings->setInteger64(u"dbversion", 20240131235959LL);
    mSettings->setInteger(u"window_main_pos_x", -65535);
    mSettings->setString(u"language", u"english");
    ASSERT_TRUE(mSettings->save(settingsPath()));
    const std::string firstBytes = settingsBytes();

    cSettings::destroyInstance();
    cSettings* fresh = cSettings::instance();
    ASSERT_TRUE(fresh->load(settingsPath()));
    EXPECT_EQ(fresh->getInteger(u"volume", 100), 35);
    EXPECT_TRUE(fresh->getBoolean(u"muted", false));
    EXPECT_EQ(fresh->getInteger64(u"dbversion", 0), 20240131235959LL);
    EXPECT_EQ(fresh->getInteger(u"window_main_pos_x", 0), -65535);
    EXPECT_EQ(fresh->getLanguage(), u"english");

    // A second save of what was read gives the same bytes.
    ASSERT_TRUE(fresh->save(settingsPath()));
    EXPECT_EQ(settingsBytes(), firstBytes);
}

struct ReaderCase {
    const char* what;
    std::u16string body;
    std::u16string key;
    std::optional<std::u16string> expected; // nullopt: the key stays absent
};

TEST_F(SettingsTest, ReaderRules)
{
    const std::u16string longWord(2000, u'x');
    const ReaderCase cases[] = {
        {"plain item", u"<settings>\n<item name=\"k\">v</item>\n</settings>\n", u"k", u"v"},
        {"blanks and line breaks fold to one space", u"<item name=\"k\">a  \t\r\n  b\n\nc</item>", u"k", u"a b c"},
        {"leading blanks give one leading space", u"<item name=\"k\">   \n x</item>", u"k", u" x"},
        {"capital element and attribute names", u"<SETTINGS><ITEM NAME=\"k\">v</ITEM></SETTINGS>", u"k", u"v"},
        {"mixed-case names", u"<Item nAmE=\"k\">v</iTeM>", u"k", u"v"},
        {"key case is kept", u"<item name=\"Key\">v</item>", u"Key", u"v"},
        {"self-closing item is skipped", u"<item name=\"k\"/>", u"k", std::nullopt},
        {"empty item is skipped", u"<item name=\"k\"></item>", u"k", std::nullopt},
        {"item without a name is skipped", u"<item>v</item>", u"", std::nullopt},
        {"entity in text is decoded", u"<item name=\"k\">a&amp;b &lt;c&gt;</item>", u"k", u"a&b <c>"},
        {"entity in an attribute is kept as written", u"<item name=\"a&amp;b\">v</item>", u"a&amp;b", u"v"},
        {"unknown entity comes through as written", u"<item name=\"k\">&nbsp;</item>", u"k", u"&nbsp;"},
        {"over-long text is cut by the scanner", u"<item name=\"k\">" + longWord + u"</item>", u"k",
         std::u16string(1023, u'x')},
        {"CDATA content is not taken", u"<item name=\"k\"><![CDATA[zz]]>v</item>", u"k", u"v"},
        {"comment content is not taken", u"<item name=\"k\"><!-- zz -->v</item>", u"k", u"v"},
        {"later item wins", u"<item name=\"k\">one</item><item name=\"k\">two</item>", u"k", u"two"},
        {"item outside the settings element", u"<other><item name=\"k\">v</item></other>", u"k", u"v"},
        {"name attribute on an enclosing element", u"<item><x name=\"k\"/>v</item>", u"k", u"v"},
        {"a text of only blanks is one space", u"<item name=\"k\">   </item>", u"k", u" "},
        {"damaged markup keeps the complete items", u"<item name=\"a\">1</item><item name=\"k\">v</item><item name=\"b",
         u"k", u"v"},
    };
    for (const ReaderCase& c : cases) {
        SCOPED_TRACE(c.what);
        mSettings->reset();
        writeBytes(mFolder.file("settings.xml"), userFileBytes(c.body));
        ASSERT_TRUE(mSettings->load(settingsPath()));
        if (c.expected)
            EXPECT_EQ(mSettings->getString(c.key, u"<absent>"), *c.expected);
        else
            EXPECT_EQ(mSettings->getString(c.key, u"<absent>"), u"<absent>");
        // Keys the file lacks keep their initial values.
        EXPECT_EQ(mSettings->getString(u"theme", u""), u"black");
    }
}

TEST_F(SettingsTest, FileWithoutByteOrderMarkReadsTheSame)
{
    writeBytes(mFolder.file("settings.xml"), utf16le(u"<settings><item name=\"volume\">12</item></settings>"));
    ASSERT_TRUE(mSettings->load(settingsPath()));
    EXPECT_EQ(mSettings->getInteger(u"volume", 100), 12);
}

TEST_F(SettingsTest, LoadLaysTheFileOverCurrentEntries)
{
    mSettings->setInteger(u"volume", 5);
    writeBytes(mFolder.file("settings.xml"), userFileBytes(u"<settings><item name=\"muted\">true</item>"
                                                           u"<item name=\"language\">german</item></settings>"));
    ASSERT_TRUE(mSettings->load(settingsPath()));
    EXPECT_EQ(mSettings->getInteger(u"volume", 100), 5);
    EXPECT_TRUE(mSettings->getBoolean(u"muted", false));
    EXPECT_EQ(mSettings->getLanguage(), u"german");
    EXPECT_EQ(mSettings->getInteger(u"dbversion", 7), 0);
}

TEST_F(SettingsTest, UnreadableFileLeavesInitialContents)
{
    // Not a plain file (a pipe would block the reader for ever), or far
    // larger than any settings file: not read at all.
    std::filesystem::create_directory(mFolder.file("dir.xml"));
    ASSERT_EQ(mkfifo(mFolder.file("pipe.xml").c_str(), 0600), 0);
    std::ofstream(mFolder.file("huge.xml")).close();
    std::filesystem::resize_file(mFolder.file("huge.xml"), 64ull * 1024 * 1024);
    const char* files[] = {"missing.xml", "dir.xml", "pipe.xml", "huge.xml"};
    for (const char* name : files) {
        SCOPED_TRACE(name);
        mSettings->setInteger(u"volume", 5);
        mSettings->setString(u"language", u"german");
        EXPECT_FALSE(mSettings->load(mFolder.wideFile(name)));
        EXPECT_EQ(mSettings->getInteger(u"volume", 100), 100);
        EXPECT_EQ(mSettings->getLanguage(), u"english");
        EXPECT_EQ(mSettings->getInteger(u"dbversion", 7), 0);
    }
}

// A first start is told apart from a file of any earlier start by whether
// the file itself named the key: every file the program wrote names
// `language`, the initial contents merely hold it.
TEST_F(SettingsTest, KeysTheFileNamedAreToldFromInitialOnes)
{
    EXPECT_FALSE(mSettings->loadedFromFile(u"language"));
    writeBytes(mFolder.file("settings.xml"), userFileBytes(u"<settings><item name=\"volume\">3</item>"
                                                           u"<item name=\"theme\"></item></settings>"));
    ASSERT_TRUE(mSettings->load(settingsPath()));
    EXPECT_TRUE(mSettings->loadedFromFile(u"volume"));
    EXPECT_FALSE(mSettings->loadedFromFile(u"language"));
    EXPECT_FALSE(mSettings->loadedFromFile(u"theme")); // an empty item is skipped
    EXPECT_EQ(mSettings->getLanguage(), u"english");

    // What the program saves names it: the next start keeps it.
    ASSERT_TRUE(mSettings->save(settingsPath()));
    cSettings::destroyInstance();
    mSettings = cSettings::instance();
    ASSERT_TRUE(mSettings->load(settingsPath()));
    EXPECT_TRUE(mSettings->loadedFromFile(u"language"));

    // A file that cannot be read, or a reset, names nothing.
    EXPECT_FALSE(mSettings->load(mFolder.wideFile("missing.xml")));
    EXPECT_FALSE(mSettings->loadedFromFile(u"language"));
    ASSERT_TRUE(mSettings->load(settingsPath()));
    mSettings->reset();
    EXPECT_FALSE(mSettings->loadedFromFile(u"volume"));
}

struct TypedCase {
    std::optional<std::u16string> stored; // nullopt: key absent
    int32_t integer;                      // getInteger(key, 42)
    int64_t integer64;                    // getInteger64(key, 42)
    bool booleanWithTrue;                 // getBoolean(key, true)
    bool booleanWithFalse;                // getBoolean(key, false)
};

TEST_F(SettingsTest, TypedGetters)
{
    const TypedCase cases[] = {
        {std::nullopt, 42, 42, true, false},
        {u"", 42, 42, true, false},
        {u"true", 0, 0, true, true},
        {u"false", 0, 0, false, false},
        {u"True", 0, 0, true, false},
        {u"1", 1, 1, true, false},
        {u"abc", 0, 0, true, false},
        {u"12abc", 12, 12, true, false},
        {u" 7", 7, 7, true, false},
        {u"\t -3x", -3, -3, true, false},
        {u"+15", 15, 15, true, false},
        {u"--5", 0, 0, true, false},
        {u"\n5", 0, 0, true, false},
        {u"-65535", -65535, -65535, true, false},
        {u"4294967297", 1, 4294967297LL, true, false},
        {u"2147483648", INT32_MIN, 2147483648LL, true, false},
        {u"-9223372036854775808", 0, INT64_MIN, true, false},
        // 10^20 wraps modulo 2^64.
        {u"100000000000000000000", static_cast<int32_t>(7766279631452241920ULL & 0xFFFFFFFFu),
         7766279631452241920LL, true, false},
    };
    for (const TypedCase& c : cases) {
        SCOPED_TRACE(c.stored ? cTestFolder::narrow(*c.stored) : std::string("<absent>"));
        mSettings->reset();
        if (c.stored)
            mSettings->setString(u"key", *c.stored);
        EXPECT_EQ(mSettings->getInteger(u"key", 42), c.integer);
        EXPECT_EQ(mSettings->getInteger64(u"key", 42), c.integer64);
        EXPECT_EQ(mSettings->getBoolean(u"key", true), c.booleanWithTrue);
        EXPECT_EQ(mSettings->getBoolean(u"key", false), c.booleanWithFalse);
    }
    // The 32-bit default is sign-extended: an absent window key stays
    // -65535.
    EXPECT_EQ(mSettings->getInteger(u"window_main_pos_x", -65535), -65535);
}

TEST_F(SettingsTest, TypedSettersFormat)
{
    const std::pair<int64_t, std::u16string> integers[] = {
        {0, u"0"}, {7, u"7"}, {-1, u"-1"}, {INT64_MAX, u"9223372036854775807"}, {INT64_MIN, u"-9223372036854775808"}};
    for (const auto& [value, text] : integers) {
        mSettings->setInteger64(u"n", value);
        EXPECT_EQ(mSettings->getString(u"n", u""), text);
    }
    mSettings->setInteger(u"n", INT32_MIN);
    EXPECT_EQ(mSettings->getString(u"n", u""), u"-2147483648");
    mSettings->setBoolean(u"b", true);
    EXPECT_EQ(mSettings->getString(u"b", u""), u"true");
    mSettings->setBoolean(u"b", false);
    EXPECT_EQ(mSettings->getString(u"b", u""), u"false");
    // An empty stored text is returned as such, not replaced by the default.
    mSettings->setString(u"s", u"");
    EXPECT_EQ(mSettings->getString(u"s", u"default"), u"");
}

TEST_F(SettingsTest, LanguageAndServer)
{
    EXPECT_EQ(mSettings->getLanguage(), u"english");
    // Without an entry, the player's default catalogue address on this
    // machine.
    EXPECT_EQ(mSettings->getServer(), cSettings::DefaultServer);
    EXPECT_EQ(mSettings->getServer().rfind(u"127.0.0.1:", 0), 0u);

    writeBytes(mFolder.file("settings.xml"),
               userFileBytes(u"<settings><item name=\"server\">catalogue.example:8080</item></settings>"));
    ASSERT_TRUE(mSettings->load(settingsPath()));
    EXPECT_EQ(mSettings->getServer(), u"catalogue.example:8080");

    // Cleared language: empty text, not the initial value.
    mSettings->reset();
    mSettings->setString(u"language", u"");
    EXPECT_EQ(mSettings->getLanguage(), u"");
    // Reading the server never stores it.
    mSettings->reset();
    mSettings->getServer();
    ASSERT_TRUE(mSettings->save(settingsPath()));
    EXPECT_EQ(settingsBytes().find(utf16le(u"server")), std::string::npos);
}

TEST_F(SettingsTest, DataFolder)
{
    EXPECT_EQ(mSettings->getDataFolder(), mFolder.folder());

    // Without a folder set, the user's data folder is asked once and kept.
    cTestFolder home;
    const char* previous = std::getenv("XDG_DATA_HOME");
    const std::string saved = previous ? previous : "";
    setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    cSettings::destroyInstance();
    cSettings* fresh = cSettings::instance();
    const std::u16string folder = fresh->getDataFolder();
    setenv("XDG_DATA_HOME", "/elsewhere", 1);
    const std::u16string again = fresh->getDataFolder();
    if (previous)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");

    EXPECT_EQ(folder, cTestFolder::wide(home.path() + "/Lumivex/Lumivex2/"));
    EXPECT_EQ(again, folder);
    EXPECT_FALSE(exists(home.file("Lumivex")));
}

TEST_F(SettingsTest, InstanceIsOneObjectUntilDestroyed)
{
    EXPECT_EQ(cSettings::instance(), mSettings);
    mSettings->setInteger(u"volume", 10);
    cSettings::destroyInstance();
    cSettings::destroyInstance(); // a second call is harmless
    cSettings* fresh = cSettings::instance();
    EXPECT_EQ(fresh->getInteger(u"volume", 100), 100);
    EXPECT_EQ(fresh->getLanguage(), u"english");
}

TEST_F(SettingsTest, FailedSaveKeepsThePreviousFile)
{
    ASSERT_TRUE(mSettings->save(settingsPath()));
    const std::string previous = settingsBytes();
    for (int i = 0; i < 20; ++i)
        mSettings->setInteger(u"countryList_scrollY" + cTestFolder::wide(std::to_string(i)), i);

    bool saved = true;
    {
        // The new file is cut off part-way through its first write.
        cFileSizeLimit limit(100);
        ASSERT_TRUE(limit.active());
        saved = mSettings->save(settingsPath());
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(settingsBytes(), previous);
    EXPECT_EQ(mFolder.fileNames(), std::set<std::string>{"settings.xml"});

    // The same store saves once the disk takes it again.
    EXPECT_TRUE(mSettings->save(settingsPath()));
    EXPECT_GT(settingsBytes().size(), previous.size());
}

TEST_F(SettingsTest, SaveIntoAMissingFolderFails)
{
    EXPECT_FALSE(mSettings->save(mFolder.wideFile("no-such-folder/settings.xml")));
    EXPECT_FALSE(exists(mFolder.file("no-such-folder")));
}

TEST_F(SettingsTest, WritersOnTwoThreads)
{
    // The catalogue update writes on its own thread while the main loop
    // adds keys of its own and the store is saved; both insert new entries,
    // so an unguarded table would be rebuilt under the other's feet.
    constexpr int Rounds = 20000;
    std::atomic<bool> go{false};
    std::thread update([this, &go] {
        while (!go.load())
            std::this_thread::yield();
        for (int i = 1; i <= Rounds; ++i) {
            mSettings->setInteger(u"dbversion", i);
            mSettings->setInteger(u"u" + cTestFolder::wide(std::to_string(i)), i);
        }
    });
    go = true;
    for (int i = 1; i <= Rounds; ++i) {
        mSettings->setInteger(u"m" + cTestFolder::wide(std::to_string(i)), i);
        mSettings->getInteger(u"dbversion", 0);
        if (i % 5000 == 0)
            mSettings->save(settingsPath());
    }
    update.join();
    ASSERT_TRUE(mSettings->save(settingsPath()));
    cSettings::destroyInstance();
    cSettings* fresh = cSettings::instance();
    ASSERT_TRUE(fresh->load(settingsPath()));
    EXPECT_EQ(fresh->getInteger(u"dbversion", 0), Rounds);
    for (int i = 1; i <= Rounds; ++i) {
        const std::u16string number = cTestFolder::wide(std::to_string(i));
        ASSERT_EQ(fresh->getInteger(u"u" + number, 0), i);
        ASSERT_EQ(fresh->getInteger(u"m" + number, 0), i);
    }
}

} // namespace
