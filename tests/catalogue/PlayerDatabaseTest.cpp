#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <sqlite3.h>

#include "TestSupport.h"
#include "catalogue/AddressCodec.h"
#include "catalogue/ChannelFolder.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"

using namespace testsupport;
using tList = std::vector<std::u16string>;

namespace {

std::u16string wide(const std::string& text) { return kestrel::fromUtf8(text); }

// Rows chosen so that a wrong statement or a binding in the wrong position
// gives a visibly different answer: "News" is both a country and a type,
// "Info" exists under two countries and two types, "Twin" twice under the
// same country and type with different descriptions and addresses.
std::vector<cRow> browserRows()
{
    return {
        {"France", "News", "Info", "french news", plainEncoded("http://fr/info")},
        {"Germany", "News", "Info", "german news", plainEncoded("http://de/info")},
        {"France", "Sport", "Stade", "", plainEncoded("http://fr/stade")},
        {"News", "Music", "Crossed", "country named News", plainEncoded("http://news/crossed")},
        {"Germany", "Music", "Info", "german music", plainEncoded("http://de/music-info")},
        {"France", "News", "Twin", "first twin", plainEncoded("http://fr/twin-1")},
        {"France", "News", "Twin", "second twin", plainEncoded("http://fr/twin-2")},
        {"\xc3\x84gypten", "News", "Nil", "", plainEncoded("http://eg/nil")},
        {"", "News", "Blank", "no country", plainEncoded("http://blank")},
        {"austria", "News", "Alpen", "", plainEncoded("http://at/alpen")},
    };
}

class cDatabaseQueries : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        makeCatalogue(mFolder.file("database"), browserRows(), GetParam());
        ASSERT_TRUE(mDatabase.open(mFolder.widePath()));
    }

    std::u16string addressFor(const std::string& country, const std::string& type, const std::string& name)
    {
        mDatabase.setCurrentCountry(wide(country));
        mDatabase.setCurrentType(wide(type));
        mDatabase.setCurrentName(wide(name));
        return mDatabase.currentAddress();
    }

    cTempFolder mFolder;
    cPlayerDatabase mDatabase;
};

} // namespace

TEST_P(cDatabaseQueries, DistinctListsInByteOrder)
{
    // "" < "France" < "Germany" < "News" < "austria" < "Ägypten" (0xC3 0x84)
    EXPECT_EQ(mDatabase.countries(), (tList{u"", u"France", u"Germany", u"News", u"austria", u"\u00c4gypten"}));
    EXPECT_EQ(mDatabase.types(), (tList{u"Music", u"News", u"Sport"}));
}

TEST_P(cDatabaseQueries, NamesByFilterBindOnlyTheGivenFilters)
{
    struct cCase {
        const char* country;
        const char* type;
        tList names;
    };
    const cCase cases[] = {
        {"*", "*", {u"Alpen", u"Blank", u"Crossed", u"Info", u"Nil", u"Stade", u"Twin"}},
        {"France", "News", {u"Info", u"Twin"}},
        {"*", "News", {u"Alpen", u"Blank", u"Info", u"Nil", u"Twin"}}, // "Info" once, from two countries
        {"News", "*", {u"Crossed"}},                                   // the country News, not the type
        {"Germany", "*", {u"Info"}},                                   // two types, listed once
        {"", "News", {u"Blank"}},                                      // empty filter is a value
        {"France", "Music", {}},
        {"*", "Nothing", {}},
        {"\xc3\x84gypten", "*", {u"Nil"}},
    };
    for (const cCase& c : cases) {
        tList out{u"left over"};
        EXPECT_TRUE(mDatabase.names(wide(c.country), wide(c.type), out));
        EXPECT_EQ(out, c.names) << c.country << " / " << c.type;
    }
}

TEST_P(cDatabaseQueries, AddressAndDescriptionTakeTheFirstRow)
{
    struct cCase {
        const char* country;
        const char* type;
        const char* name;
        const char16_t* address;
    };
    const cCase cases[] = {
        {"France", "News", "Twin", u"http://fr/twin-1"},
        {"*", "*", "Info", u"http://fr/info"},         // first row named Info
        {"*", "Music", "Info", u"http://de/music-info"}, // type and name bound
        {"Germany", "*", "Info", u"http://de/info"},   // country and name bound
        {"Germany", "Music", "Info", u"http://de/music-info"},
        {"*", "*", "Missing", u""},
        {"France", "Sport", "Info", u""},
    };
    for (const cCase& c : cases) {
        EXPECT_EQ(addressFor(c.country, c.type, c.name), c.address) << c.country << "/" << c.type << "/" << c.name;
    }

    addressFor("France", "News", "Twin");
    EXPECT_EQ(mDatabase.currentDescription(), u"first twin");
    EXPECT_EQ(mDatabase.currentName(), u"Twin");
    EXPECT_EQ(mDatabase.currentCountry(), u"France");
    EXPECT_EQ(mDatabase.currentType(), u"News");
    // The description has no wildcard forms.
    addressFor("*", "News", "Twin");
    EXPECT_EQ(mDatabase.currentDescription(), u"");
    addressFor("France", "*", "Twin");
    EXPECT_EQ(mDatabase.currentDescription(), u"");
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutIndexes, cDatabaseQueries, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Indexed" : "Plain";
                         });

TEST(PlayerDatabase, CachedListsAreKeptButAnEmptyCacheIsAskedAgain)
{
    cTempFolder folder;
    makeCatalogue(folder.file("database"), {});
    cPlayerDatabase database;
    ASSERT_TRUE(database.open(folder.widePath()));
    EXPECT_TRUE(database.countries().empty());

    // Another process adds rows while the catalogue is open.
    const auto addRow = [&folder](const char* country) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(folder.file("database").c_str(), &db), SQLITE_OK);
        const std::string sql = std::string("insert into channels values ('") + country + "', 'T', 'N', '', '');";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };
    addRow("First");
    EXPECT_EQ(database.countries(), tList{u"First"});
    addRow("Second");
    EXPECT_EQ(database.countries(), tList{u"First"}); // cached
    tList out;
    EXPECT_TRUE(database.names(u"Second", u"*", out));
    EXPECT_EQ(out, tList{u"N"}); // filtered queries are not cached
}

TEST(PlayerDatabase, BrokenCataloguesYieldNothing)
{
    struct cCase {
        const char* what;
        std::function<void(const std::string&)> make;
        bool namesPrepared;
    };
    const cCase cases[] = {
        {"empty table", [](const std::string& path) { makeCatalogue(path, {}); }, true},
        {"no channels table", [](const std::string& path) { makeDatabase(path, "create table other (x text);"); },
         false},
        {"table without the expected columns", [](const std::string& path) {
             makeDatabase(path, "create table channels (x text);"
                                "insert into channels values ('A');");
         }, false},
        {"not a database", [](const std::string& path) { writeBytes(path, std::string(4096, 'x')); }, false},
        {"empty file", [](const std::string& path) { writeBytes(path, ""); }, false},
    };
    for (const cCase& c : cases) {
        SCOPED_TRACE(c.what);
        cTempFolder folder;
        c.make(folder.file("database"));
        cPlayerDatabase database;
        ASSERT_TRUE(database.open(folder.widePath()));
        EXPECT_TRUE(database.countries().empty());
        EXPECT_TRUE(database.types().empty());
        tList out{u"left over"};
        EXPECT_EQ(database.names(u"A", u"B", out), c.namesPrepared);
        EXPECT_TRUE(out.empty());
        EXPECT_TRUE(database.names(u"*", u"*", out));
        EXPECT_TRUE(out.empty());
        database.setCurrentCountry(u"A");
        database.setCurrentType(u"B");
        database.setCurrentName(u"N");
        EXPECT_EQ(database.currentAddress(), u"");
        EXPECT_EQ(database.currentDescription(), u"");
    }
}

TEST(PlayerDatabase, NullColumnsReadAsEmptyText)
{
    cTempFolder folder;
    makeDatabase(folder.file("database"),
                 "create table channels (country text, type text, name text, description text, url text);"
                 "insert into channels values (null, 'T', 'N', null, null);");
    cPlayerDatabase database;
    ASSERT_TRUE(database.open(folder.widePath()));
    EXPECT_EQ(database.countries(), tList{u""});
    database.setCurrentCountry(u"*");
    database.setCurrentType(u"T");
    database.setCurrentName(u"N");
    EXPECT_EQ(database.currentAddress(), u"");
}

TEST(PlayerDatabase, OpenFailsWithoutAUsableCatalogueFile)
{
    cTempFolder folder;
    cPlayerDatabase database;
    EXPECT_FALSE(database.open(folder.widePath())); // nothing there
    writeBytes(folder.file("favorites.xml"), "\xff\xfe");
    EXPECT_FALSE(database.open(folder.widePath())); // favourites load, no catalogue
    std::filesystem::create_directory(folder.file("database"));
    EXPECT_FALSE(database.open(folder.widePath())); // a folder is not a catalogue
    EXPECT_FALSE(database.open(folder.widePath() + u"/missing-folder"));
    // Opening never creates anything in the folder.
    EXPECT_FALSE(exists(folder.file("missing-folder")));
}

TEST(PlayerDatabase, OpeningAnotherCatalogueForgetsTheCachedLists)
{
    cTempFolder first;
    cTempFolder second;
    makeCatalogue(first.file("database"), {{"A", "T1", "N1", "", ""}});
    makeCatalogue(second.file("database"), {{"B", "T2", "N2", "", ""}});
    cPlayerDatabase database;
    ASSERT_TRUE(database.open(first.widePath()));
    tList out;
    database.names(u"*", u"*", out);
    EXPECT_EQ(database.countries(), tList{u"A"});
    EXPECT_EQ(database.types(), tList{u"T1"});
    ASSERT_TRUE(database.open(second.widePath()));
    EXPECT_EQ(database.countries(), tList{u"B"});
    EXPECT_EQ(database.types(), tList{u"T2"});
    database.names(u"*", u"*", out);
    EXPECT_EQ(out, tList{u"N2"});
}

TEST(PlayerDatabase, BusyCatalogueIsRetriedForABoundedTime)
{
    cTempFolder folder;
    makeCatalogue(folder.file("database"), {{"A", "T", "N", "", plainEncoded("http://a")}});
    cPlayerDatabase database;
    ASSERT_TRUE(database.open(folder.widePath()));
    tList out;
    ASSERT_TRUE(database.names(u"A", u"*", out)); // schema read while free

    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(folder.file("database").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK);

    // A lock released soon: the query waits it out and gets its rows.
    std::thread releaser([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        sqlite3_exec(holder, "commit;", nullptr, nullptr, nullptr);
    });
    EXPECT_TRUE(database.names(u"A", u"*", out));
    EXPECT_EQ(out, tList{u"N"});
    releaser.join();

    // A lock that is never released: the query gives up with no rows
    // instead of holding the caller forever.
    ASSERT_EQ(sqlite3_exec(holder, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(database.names(u"A", u"*", out));
    EXPECT_TRUE(out.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    sqlite3_exec(holder, "commit;", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
}

TEST(PlayerDatabase, InstanceIsOneObjectUntilDestroyed)
{
    cPlayerDatabase* first = cPlayerDatabase::instance();
    EXPECT_EQ(cPlayerDatabase::instance(), first);
    EXPECT_FALSE(first->isNewCatalogue());
    EXPECT_EQ(first->mode(), cPlayerDatabase::ModeCatalogue);
    cPlayerDatabase::destroyInstance();
    cPlayerDatabase::destroyInstance(); // a second call finds nothing to delete
    EXPECT_NE(cPlayerDatabase::instance(), nullptr);
    cPlayerDatabase::destroyInstance();
}

TEST(ChannelFolder, IsMadeInsideTheDataFolderWhenMissing)
{
    cTempFolder data;
    const std::u16string folder = channelFolderPath(data.widePath() + u"/");
    EXPECT_EQ(folder, data.widePath() + u"/channels");
    EXPECT_TRUE(ensureChannelFolder(folder));
    EXPECT_TRUE(std::filesystem::is_directory(data.file("channels")));
    writeBytes(data.file("channels/keep"), "x");
    EXPECT_TRUE(ensureChannelFolder(folder)); // an existing folder is left as it is
    EXPECT_EQ(readBytes(data.file("channels/keep")), "x");
    EXPECT_FALSE(ensureChannelFolder(data.widePath() + u"/no/such/parent"));
}
