#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "TestSupport.h"
#include "catalogue/AddressCodec.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Log.h"

using namespace testsupport;
using tList = std::vector<std::u16string>;

namespace {

// favorites.xml as the program writes it: UTF-16 little-endian with a
// byte-order mark, one element a line, single line feeds.
std::string favouritesFile(const std::u16string& items)
{
    return "\xff\xfe" + utf16le(u"<favorites>\n" + items + u"</favorites>\n");
}

} // namespace

TEST(Favourites, AddKeepsOneEntryPerAddress)
{
    cPlayerDatabase database;
    database.addFavourite(u"News", u"first", u"http://a/news");
    database.addFavourite(u"Renamed", u"other text", u"http://a/news"); // same address: ignored
    database.addFavourite(u"News", u"second", u"http://b/news");        // same name, new address
    database.addFavourite(u"Upper", u"", u"http://A/news");             // addresses compare exactly
    EXPECT_EQ(database.favouriteNames(), (tList{u"News", u"News", u"Upper"}));

    database.selectFavourite(0);
    EXPECT_EQ(database.currentName(), u"News");
    EXPECT_EQ(database.currentDescription(), u"first");
    EXPECT_EQ(database.currentAddress(), u"http://a/news");
    database.selectFavourite(1);
    EXPECT_EQ(database.currentDescription(), u"second");
    EXPECT_EQ(database.currentAddress(), u"http://b/news");
}

TEST(Favourites, SaveWritesTheExactFile)
{
    cTempFolder folder;
    const std::u16string items = u"<item name=\"Info 24\" url=\"00680074f0740070\">Rolling news all day</item>\n"
                                 u"<item name=\"Kick\" url=\"006d\"></item>\n";
    writeBytes(folder.file("favorites.xml"), favouritesFile(items));
    cPlayerDatabase database;
    ASSERT_TRUE(database.loadFavourites(folder.widePath()));
    ASSERT_EQ(database.favouriteNames(), (tList{u"Info 24", u"Kick"}));

    // Read and written back unchanged: the stored encoded digits are kept.
    std::filesystem::remove(folder.file("favorites.xml"));
    ASSERT_TRUE(database.saveFavourites(folder.widePath()));
    EXPECT_EQ(readBytes(folder.file("favorites.xml")), favouritesFile(items));
    EXPECT_FALSE(exists(folder.file("favorites.xml.tmp")));

    // No favourites: the opening and closing lines only.
    cPlayerDatabase empty;
    ASSERT_TRUE(empty.saveFavourites(folder.widePath()));
    EXPECT_EQ(readBytes(folder.file("favorites.xml")), favouritesFile(u""));
    ASSERT_TRUE(empty.loadFavourites(folder.widePath()));
    EXPECT_TRUE(empty.favouriteNames().empty());
}

TEST(Favourites, AddedFavouriteIsStoredEncodedAndReadsBack)
{
    cTempFolder folder;
    {
        cPlayerDatabase database;
        database.addFavourite(u"Radio \u00c9t\u00e9", u"Summer", u"http://h/s.asx");
        ASSERT_TRUE(database.saveFavourites(folder.widePath()));
    }
    const std::string bytes = readBytes(folder.file("favorites.xml"));
    const std::string head = "\xff\xfe" + utf16le(u"<favorites>\n<item name=\"Radio \u00c9t\u00e9\" url=\"");
    ASSERT_EQ(bytes.compare(0, head.size(), head), 0);
    // 14 characters, four lower-case hexadecimal digits each.
    const std::string address = bytes.substr(head.size(), 14 * 4 * 2);
    std::u16string encoded;
    for (size_t i = 0; i < address.size(); i += 2) {
        encoded.push_back(static_cast<char16_t>(static_cast<unsigned char>(address[i]) |
                                                (static_cast<unsigned char>(address[i + 1]) << 8)));
    }
    EXPECT_EQ(decodeAddress(encoded), u"http://h/s.asx");
    EXPECT_EQ(bytes.substr(head.size() + address.size()), utf16le(u"\">Summer</item>\n</favorites>\n"));

    cPlayerDatabase reader;
    ASSERT_TRUE(reader.loadFavourites(folder.widePath()));
    reader.selectFavourite(0);
    EXPECT_EQ(reader.currentName(), u"Radio \u00c9t\u00e9");
    EXPECT_EQ(reader.currentDescription(), u"Summer");
    EXPECT_EQ(reader.currentAddress(), u"http://h/s.asx");
}

TEST(Favourites, LoadReadsItemsForgivingly)
{
    cTempFolder folder;
    const std::u16string items =
        u"<ITEM Name=\"Upper\" URL=\"0061\">Capital tags</ITEM>\n"          // names in any case
        u"<item url=\"0062\">no name</item>\n"                               // skipped
        u"<item name=\"No address\">text</item>\n"                          // skipped
        u"<item name=\"Spaces\" url=\"0063\">  two\n\n  lines\tand   tabs </item>\n"
        u"stray text between items\n"
        u"<item name=\"Bare\" url=\"0064\"/>\n";                             // self-closing, no text
    writeBytes(folder.file("favorites.xml"), favouritesFile(items));
    cPlayerDatabase database;
    ASSERT_TRUE(database.loadFavourites(folder.widePath()));
    EXPECT_EQ(database.favouriteNames(), (tList{u"Upper", u"Spaces", u"Bare"}));
    const tList descriptions = {u"Capital tags", u" two lines and tabs ", u""};
    const tList addresses = {u"a", u"c", u"d"};
    for (int i = 0; i < 3; ++i) {
        database.selectFavourite(i);
        EXPECT_EQ(database.currentDescription(), descriptions[i]);
        EXPECT_EQ(database.currentAddress(), addresses[i]);
    }

    cTempFolder none;
    cPlayerDatabase nothing;
    EXPECT_TRUE(nothing.loadFavourites(none.widePath())); // a missing file is no favourites
    EXPECT_TRUE(nothing.favouriteNames().empty());
}

TEST(Favourites, FavouriteModeLeavesTheCatalogueCountryAndType)
{
    cTempFolder folder;
    makeCatalogue(folder.file("database"),
                  {{"France", "News", "Info", "from the catalogue", plainEncoded("http://fr/info")}});
    cPlayerDatabase database;
    ASSERT_TRUE(database.open(folder.widePath()));
    database.addFavourite(u"Fav", u"from the favourites", u"http://fav");
    database.setCurrentCountry(u"France");
    database.setCurrentType(u"News");
    database.setCurrentName(u"Info");

    database.selectFavourite(0);
    EXPECT_EQ(database.mode(), cPlayerDatabase::ModeFavourite);
    EXPECT_EQ(database.currentName(), u"Fav");
    EXPECT_EQ(database.currentDescription(), u"from the favourites");
    EXPECT_EQ(database.currentAddress(), u"http://fav");
    EXPECT_EQ(database.currentCountry(), u"France");
    EXPECT_EQ(database.currentType(), u"News");

    // No favourite chosen, or an index outside the list: nothing to play.
    for (int index : {-1, 1, 1000}) {
        database.selectFavourite(index);
        EXPECT_EQ(database.currentName(), u"");
        EXPECT_EQ(database.currentDescription(), u"");
        EXPECT_EQ(database.currentAddress(), u"");
    }

    database.setCurrentName(u"Info"); // any setter returns to the catalogue
    EXPECT_EQ(database.mode(), cPlayerDatabase::ModeCatalogue);
    EXPECT_EQ(database.currentDescription(), u"from the catalogue");
    EXPECT_EQ(database.currentAddress(), u"http://fr/info");
}

TEST(Favourites, DestructorSavesIntoTheOpenedFolder)
{
    cTempFolder folder;
    makeCatalogue(folder.file("database"), {});
    {
        cPlayerDatabase database;
        ASSERT_TRUE(database.open(folder.widePath()));
        database.addFavourite(u"Kept", u"", u"http://kept");
    }
    cPlayerDatabase reader;
    ASSERT_TRUE(reader.open(folder.widePath()));
    EXPECT_EQ(reader.favouriteNames(), tList{u"Kept"});
}

TEST(Favourites, FailedSaveKeepsTheOldFile)
{
    cTempFolder folder;
    const std::string old = favouritesFile(u"<item name=\"Old\" url=\"0061\">kept</item>\n");
    writeBytes(folder.file("favorites.xml"), old);
    // The file beside the target cannot be made: the save fails before
    // anything replaces the target.
    std::filesystem::create_directory(folder.file("favorites.xml.tmp"));
    cPlayerDatabase database;
    database.addFavourite(u"New", u"", u"http://new");
    EXPECT_FALSE(database.saveFavourites(folder.widePath()));
    EXPECT_EQ(readBytes(folder.file("favorites.xml")), old);
    EXPECT_FALSE(database.saveFavourites(folder.widePath() + u"/no/such/folder"));
}

TEST(Favourites, UnreadableFileLeavesNoFavouritesSaysWhyAndStaysUntouched)
{
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> make;
        const char* why;
    };
    const Case cases[] = {
        // Far larger than any favourites file: refused instead of read whole.
        {"too large",
         [](const std::string& path) {
             writeBytes(path, favouritesFile(u""));
             std::filesystem::resize_file(path, 17u * 1024u * 1024u);
         },
         "larger than"},
        {"a folder", [](const std::string& path) { std::filesystem::create_directory(path); }, "not a plain file"},
        {"no permission",
         [](const std::string& path) {
             writeBytes(path, favouritesFile(u"<item name=\"Mine\" url=\"0061\"></item>\n"));
             std::filesystem::permissions(path, std::filesystem::perms::none);
         },
         "Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "no permission" && geteuid() == 0) {
            continue; // the superuser reads it anyway
        }
        cTempFolder folder;
        makeCatalogue(folder.file("database"), {});
        const std::string path = folder.file("favorites.xml");
        c.make(path);
        const auto before = std::filesystem::status(path).type() == std::filesystem::file_type::regular
                                ? std::filesystem::file_size(path)
                                : 0;
        std::vector<std::string> lines;
        kestrel::testing::setLogRecorder([&lines](const std::string& line) { lines.push_back(line); });
        {
            cPlayerDatabase database;
            EXPECT_TRUE(database.open(folder.widePath()));
            EXPECT_TRUE(database.favouriteNames().empty());
            database.addFavourite(u"Added", u"", u"http://added");
        }
        kestrel::testing::setLogRecorder({});
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("lumivex: catalogue: warning: can't read the favourites in " + path + ": ", 0), 0u)
            << lines[0];
        EXPECT_NE(lines[0].find(c.why), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find("the file is left as it is"), std::string::npos) << lines[0];
        // The shutdown save did not replace the file it could not read.
        if (before != 0) {
            std::filesystem::permissions(path, std::filesystem::perms::owner_read);
            EXPECT_EQ(std::filesystem::file_size(path), before);
        } else {
            EXPECT_TRUE(std::filesystem::is_directory(path));
        }
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    }
}

TEST(Favourites, TextWithMarkupSurvivesASaveAndALoad)
{
    cTempFolder folder;
    makeCatalogue(folder.file("database"), {});
    const struct {
        std::u16string name;
        std::u16string description;
    } favourites[] = {
        {u"The \"Best\" TV", u"x < y > z"},
        {u"Rock & Roll 'n' more", u"ends the item early</item><item name=\"y\" url=\"0062\">"},
        {u"<b>&amp;</b>", u"&lt; written out & kept"},
    };
    {
        cPlayerDatabase database;
        ASSERT_TRUE(database.open(folder.widePath()));
        for (size_t i = 0; i < std::size(favourites); ++i) {
            database.addFavourite(favourites[i].name, favourites[i].description,
                                  u"http://f/" + std::u16string(1, static_cast<char16_t>(u'a' + i)));
        }
    }
    for (int run = 0; run < 2; ++run) { // twice: nothing wears off through another save
        cPlayerDatabase database;
        ASSERT_TRUE(database.open(folder.widePath()));
        ASSERT_EQ(database.favouriteNames().size(), std::size(favourites));
        for (size_t i = 0; i < std::size(favourites); ++i) {
            database.selectFavourite(static_cast<int>(i));
            EXPECT_EQ(database.currentName(), favourites[i].name);
            EXPECT_EQ(database.currentDescription(), favourites[i].description);
            EXPECT_EQ(database.currentAddress(), u"http://f/" + std::u16string(1, static_cast<char16_t>(u'a' + i)));
        }
    }
}

// A favourite keeps its channel's request headers in optional attributes
// of its item; one without headers is written exactly as before, and a
// value that could break a request line is not read back.
TEST(Favourites, RequestHeadersAreKeptWithTheFavourite)
{
    cTempFolder folder;
    {
        cPlayerDatabase database;
        database.addFavourite(u"Plain", u"", u"http://p/");
        database.addFavourite(u"Guarded", u"About", u"http://g/", {"Agent/1 (X)", "http://portal/?a=1&b=2", "http://o"});
        ASSERT_TRUE(database.saveFavourites(folder.widePath()));
    }
    const std::string bytes = readBytes(folder.file("favorites.xml"));
    EXPECT_NE(bytes.find(utf16le(u"\">About</item>")), std::string::npos);
    EXPECT_NE(bytes.find(utf16le(u"\" useragent=\"Agent/1 (X)\" referrer=\"http://portal/?a=1&amp;b=2\" "
                                 u"origin=\"http://o\">About</item>\n")),
              std::string::npos);

    cPlayerDatabase database;
    ASSERT_TRUE(database.loadFavourites(folder.widePath()));
    ASSERT_EQ(database.favouriteNames(), (tList{u"Plain", u"Guarded"}));
    EXPECT_TRUE(database.favouriteHeaders(0).empty());
    EXPECT_EQ(database.favouriteHeaders(1), (cRequestHeaders{"Agent/1 (X)", "http://portal/?a=1&b=2", "http://o"}));
    database.selectFavourite(1);
    EXPECT_EQ(database.currentHeaders(), (cRequestHeaders{"Agent/1 (X)", "http://portal/?a=1&b=2", "http://o"}));
    database.selectFavourite(0);
    EXPECT_TRUE(database.currentHeaders().empty());

    // A value with a line break in it is dropped.
    writeBytes(folder.file("favorites.xml"),
               favouritesFile(u"<item name=\"Odd\" url=\"0068\" useragent=\"a\rb\" referrer=\"ok\">x</item>\n"));
    cPlayerDatabase odd;
    ASSERT_TRUE(odd.loadFavourites(folder.widePath()));
    EXPECT_EQ(odd.favouriteHeaders(0), (cRequestHeaders{"", "ok", ""}));
}
