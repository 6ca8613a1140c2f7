// The language table, the shipped English file, and one start and shutdown
// of the user state as the application runs it.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "TestSupport.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"
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

// Every language file beside the executable: UTF-16 little-endian with its
// byte-order mark, well formed to the last code unit, and naming exactly
// the texts the interface shows. English gives each its English wording.
TEST_F(LanguageTest, ShippedLanguageFilesAreCompleteAndNothingMore)
{
    const std::u16string applicationFolder = kestrel::cSystem::getApplicationPath();
    const std::vector<std::u16string> shipped = {u"dutch",  u"english", u"french",  u"german",
                                                 u"italian", u"polish", u"portuguese", u"russian",
                                                 u"spanish", u"turkish", u"ukrainian"};
    // A file added to the folder joins this table, so that it is checked too.
    EXPECT_EQ(availableLanguages(applicationFolder), shipped);

    std::set<std::u16string> known;
    for (const sInterfaceText& text : interfaceTexts()) {
        EXPECT_TRUE(known.insert(text.name).second) << kestrel::toUtf8(text.name);
    }
    for (const std::u16string& language : shipped) {
        const std::u16string path = languageFilePath(applicationFolder, language);
        SCOPED_TRACE(kestrel::toUtf8(path));
        const std::string bytes = readBytes(kestrel::toUtf8(path));
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2)) << "no UTF-16 little-endian byte-order mark";
        ASSERT_EQ(bytes.size() % 2, 0u) << "an odd number of bytes";
        std::u16string text;
        for (size_t i = 2; i < bytes.size(); i += 2) {
            text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8);
        }
        EXPECT_EQ(text.find(u'\0'), std::u16string::npos);
        EXPECT_EQ(text.find(u'\uFEFF'), std::u16string::npos) << "a second byte-order mark";
        EXPECT_NO_THROW(kestrel::toUtf8(text)) << "a lone surrogate";

        clearLanguage();
        ASSERT_TRUE(loadLanguage(path));
        const Table table = languageStrings();
        for (const std::u16string& name : known) {
            EXPECT_EQ(table.count(name), 1u) << "missing: " << kestrel::toUtf8(name);
        }
        for (const auto& [name, value] : table) {
            EXPECT_EQ(known.count(name), 1u) << "unknown to the program: " << kestrel::toUtf8(name);
        }
    }

    clearLanguage();
    ASSERT_TRUE(loadLanguage(languageFilePath(applicationFolder, u"english")));
    for (const sInterfaceText& text : interfaceTexts()) {
        EXPECT_EQ(languageString(text.name, u""), text.english) << kestrel::toUtf8(text.name);
    }
}

TEST_F(LanguageTest, InterfaceTextsFallBackToEnglish)
{
    ASSERT_TRUE(loadLanguage(writeLanguage("partial.xml", u"<locale><item name=\"button_back\">Zur\u00FCck</item>"
                                                          u"<item name=\"stray\">x</item></locale>")));
    EXPECT_EQ(interfaceText(u"button_back"), u"Zur\u00FCck");
    EXPECT_EQ(interfaceText(u"button_continue"), u"Continue");
    // A name the program does not know shows as itself, whatever the file.
    EXPECT_EQ(interfaceText(u"stray"), u"stray");

    // A lone surrogate (a damaged file) counts as missing: the toolkit
    // could not take it.
    std::u16string broken = u"<locale><item name=\"button_continue\">Weiter?</item></locale>";
    broken[broken.find(u'?')] = 0xD800;
    ASSERT_TRUE(loadLanguage(writeLanguage("broken.xml", broken)));
    EXPECT_EQ(languageString(u"button_continue", u"").size(), 7u);
    EXPECT_EQ(interfaceText(u"button_continue"), u"Continue");
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
