// The language table, the shipped English file, and one start and shutdown
// of the user state as the application runs it.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "kestrel/System.h"
#include "state/Language.h"
#include "state/Recent.h"
#include "state/Settings.h"

using namespace statetest;

namespace {

using Table = std::map<std::u16string, std::u16string>;

class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override { clearLanguage(); }
    void TearDown() override { clearLanguage(); }

    std::u16string writeLanguage(const std::string& name, const std::u16string& text)
    {
        writeBytes(mFolder.file(name), userFileBytes(text));
        return mFolder.wideFile(name);
    }

    cTestFolder mFolder;
};

TEST_F(LanguageTest, ItemsFillTheTable)
{
    const std::u16string path = writeLanguage("test.xml", u"<locale>\n"
                                                          u"<item name=\"caption\">Recent\n   channels</item>\n"
                                                          u"<ITEM NAME=\"any\">Any</ITEM>\n"
                                                          u"<item name=\"Any\">Capital</item>\n"
                                                          u"<item name=\"twice\">first</item>\n"
                                                          u"<item name=\"twice\">second</item>\n"
                                                          u"<item name=\"amp\">a &amp; b</item>\n"
                                                          u"<item name=\"empty\"></item>\n"
                                                          u"<item>nameless</item>\n"
                                                          u"</locale>\n");
    ASSERT_TRUE(loadLanguage(path));
    EXPECT_EQ(languageStrings(), (Table{{u"caption", u"Recent channels"},
                                        {u"any", u"Any"},
                                        {u"Any", u"Capital"},
                                        {u"twice", u"second"},
                                        {u"amp", u"a & b"}}));
    EXPECT_EQ(languageString(u"caption", u"fallback"), u"Recent channels");
    EXPECT_EQ(languageString(u"absent", u"fallback"), u"fallback");
}

TEST_F(LanguageTest, LaterFilesOverlayAndFailuresChangeNothing)
{
    ASSERT_TRUE(loadLanguage(writeLanguage("one.xml", u"<locale><item name=\"a\">1</item><item name=\"b\">2</item></locale>")));
    ASSERT_TRUE(loadLanguage(writeLanguage("two.xml", u"<locale><item name=\"b\">3</item></locale>")));
    const Table expected{{u"a", u"1"}, {u"b", u"3"}};
    EXPECT_EQ(languageStrings(), expected);

    std::filesystem::create_directory(mFolder.file("dir.xml"));
    EXPECT_FALSE(loadLanguage(mFolder.wideFile("missing.xml")));
    EXPECT_FALSE(loadLanguage(mFolder.wideFile("dir.xml")));
    EXPECT_EQ(languageStrings(), expected);

    clearLanguage();
    EXPECT_TRUE(languageStrings().empty());
}

TEST_F(LanguageTest, FileFollowsTheLanguageSetting)
{
    EXPECT_EQ(languageFilePath(u"/opt/lumivex/", u"english"), u"/opt/lumivex/language/english.xml");

    // A settings file without a language item keeps the initial English.
    cSettings::destroyInstance();
    writeBytes(mFolder.file("settings.xml"), userFileBytes(u"<settings><item name=\"volume\">3</item></settings>"));
    ASSERT_TRUE(cSettings::instance()->load(mFolder.wideFile("settings.xml")));
    EXPECT_EQ(languageFilePath(u"/opt/lumivex/", cSettings::instance()->getLanguage()),
              u"/opt/lumivex/language/english.xml");
    cSettings::destroyInstance();
}

TEST_F(LanguageTest, ShippedEnglishFileBesideTheExecutable)
{
    const std::u16string path = languageFilePath(kestrel::cSystem::getApplicationPath(), u"english");
    ASSERT_TRUE(loadLanguage(path));
    EXPECT_EQ(languageStrings(), (Table{
                                     {u"idle_title", u"Recent channels..."},
                                     {u"idle_caption", u"Recent channels"},
                                     {u"channels_title", u"Select channel..."},
                                     {u"channels_caption", u"Select channel to play"},
                                     {u"channels_any", u"Any"},
                                     {u"favourites_title", u"Favorite channels"},
                                     {u"favourites_caption", u"Select channel to play"},
                                     {u"update_title", u"Updating"},
                                     {u"update_caption", u"Updating channels database..."},
                                     {u"newdb_title", u"Updating"},
                                     {u"newdb_message", u"Database updated successfully. New channels available."},
                                 }));
}

// The user state through one start and one clean shutdown, in the order the
// application runs them.
class SessionTest : public ::testing::Test {
protected:
    void start()
    {
        cSettings::instance()->setDataFolder(mFolder.folder());
        cSettings::instance()->load(mFolder.folder() + u"settings.xml");
        cRecent::instance()->load(mFolder.folder());
        loadLanguage(languageFilePath(kestrel::cSystem::getApplicationPath(), cSettings::instance()->getLanguage()));
    }
    void shutdown()
    {
        clearLanguage();
        cSettings::instance()->save(mFolder.folder() + u"settings.xml");
        cSettings::destroyInstance();
        cRecent::instance()->save(mFolder.folder());
        cRecent::destroyInstance();
    }
    void TearDown() override
    {
        clearLanguage();
        cSettings::destroyInstance();
        cRecent::destroyInstance();
    }

    cTestFolder mFolder;
};

TEST_F(SessionTest, EmptyDataFolderLeavesOnlyTheInitialSettings)
{
    start();
    EXPECT_FALSE(languageStrings().empty());
    shutdown();
    EXPECT_TRUE(languageStrings().empty());
    EXPECT_EQ(mFolder.fileNames(), std::set<std::string>{"settings.xml"});
    EXPECT_EQ(readBytes(mFolder.file("settings.xml")), userFileBytes(u"<settings>\n"
                                                                     u"<item name=\"dbversion\">0</item>\n"
                                                                     u"<item name=\"language\">english</item>\n"
                                                                     u"<item name=\"theme\">black</item>\n"
                                                                     u"</settings>\n"));
}

TEST_F(SessionTest, ASessionThatPlaysNothingKeepsTheRecentFile)
{
    start();
    cRecent::instance()->add(u"France", u"Alpha", u"News");
    const uint8_t pixels[3] = {1, 2, 3};
    ASSERT_TRUE(cRecent::instance()->savePicture(pixels, 1, 1));
    shutdown();
    const std::string recent = readBytes(mFolder.file("recent.xml"));
    const std::set<std::string> files = mFolder.fileNames();
    ASSERT_EQ(files.size(), 3u);

    start();
    EXPECT_EQ(cRecent::instance()->entryName(0), u"Alpha");
    shutdown();
    EXPECT_EQ(readBytes(mFolder.file("recent.xml")), recent);
    EXPECT_EQ(mFolder.fileNames(), files);
}

} // namespace
