// Catalogues that try to be code or to run without end: each is refused by
// the check before installing (the old catalogue stays), and each, found
// already installed, is read by the browser without freezing or throwing.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <thread>

#include <sqlite3.h>

#include "TestSupport.h"
#include "catalogue/CatalogueCheck.h"
#include "catalogue/CatalogueConnection.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "state/Settings.h"

using namespace testsupport;
using tClock = std::chrono::steady_clock;
using tList = std::vector<std::u16string>;

namespace {

const char* const PlainTable = "create table channels (country text, type text, name text, description text, url text);";
const char* const OneRow = "insert into channels values ('C', 'T', 'N', 'D', '0068');";

// A statement on a connection the test owns (not hardened).
void run(sqlite3* db, const std::string& sql)
{
    char* message = nullptr;
    const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string error = message ? message : "";
    sqlite3_free(message);
    if (result != SQLITE_OK) {
        throw std::runtime_error(sql + ": " + error);
    }
}

// A UTF-16 file whose texts hold lone surrogates, written through SQLite's
// UTF-16 binding so that the units are stored as they are.
void makeLoneSurrogates(const std::string& path)
{
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    run(db, "pragma encoding = 'UTF-16le';");
    run(db, PlainTable);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "insert into channels values (?, ?, ?, ?, '0068');", -1, &insert, nullptr);
    const std::u16string country{u'C', char16_t(0xDC00)};
    const std::u16string type{u'T'};
    const std::u16string name{u'N', char16_t(0xD800), u'x'};
    const std::u16string description{char16_t(0xDBFF)};
    const std::u16string* values[] = {&country, &type, &name, &description};
    for (int i = 0; i < 4; ++i) {
        sqlite3_bind_text16(insert, i + 1, values[i]->data(), static_cast<int>(values[i]->size() * 2),
                            SQLITE_TRANSIENT);
    }
    const int result = sqlite3_step(insert);
    sqlite3_finalize(insert);
    sqlite3_close(db);
    ASSERT_EQ(result, SQLITE_DONE);
}

void makeWal(const std::string& path)
{
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    run(db, "pragma journal_mode = wal;");
    run(db, std::string(PlainTable) + OneRow);
    sqlite3_close(db); // the log is folded into the file; its header still names WAL
}

struct cHostile {
    const char* what;
    std::function<void(const std::string& path)> make;
    const char* reason;      // part of the check's refusal
    tList countries;         // what the browser finds when the file is installed anyway
};

std::vector<cHostile> hostileCatalogues()
{
    return {
        {"recursive view",
         [](const std::string& path) {
             makeDatabase(path, "create view channels (country, type, name, description, url) as "
                                "with recursive r(n) as (select 1 union all select n + 1 from r) "
                                "select 'c' || n, 't', 'n' || n, '', '' from r;");
         },
         "not a plain table (view)", {}},
        // The columns are added after the rows, so that writing the fixture
        // does not compute them.
        {"generated column that grows without end",
         [](const std::string& path) {
             makeDatabase(path, "create table channels (type text, name text, description text, url text);"
                                "insert into channels values ('T', 'N', '', '');"
                                "alter table channels add column country text generated always as "
                                "(printf('%.*c', 2000000000, 'x')) virtual;");
         },
         "generated", {}},
        {"generated column that takes long for every row",
         [](const std::string& path) {
             makeDatabase(path, "create table channels (type text, name text, description text, url text);"
                                "with recursive r(n) as (select 1 union all select n + 1 from r where n < 4000) "
                                "insert into channels select 'T', 'N' || n, '', '' from r;"
                                "alter table channels add column country text generated always as "
                                "(length(replace(replace(hex(zeroblob(40000 + length(name))), '0', 'ab'), 'b', "
                                "'cd'))) virtual;");
         },
         "generated or hidden column: country", {}},
        {"trigger",
         [](const std::string& path) {
             makeDatabase(path, std::string(PlainTable) + OneRow +
                                    "create trigger wipe after insert on channels begin delete from channels; end;");
         },
         "holds code: trigger wipe", {u"C"}},
        {"view beside a plain table",
         [](const std::string& path) {
             makeDatabase(path, std::string(PlainTable) + OneRow + "create view other as select * from channels;");
         },
         "holds code: view other", {u"C"}},
        // The side tables are read on every play: they are held to the
        // same rule, and no virtual table may be anywhere.
        {"request headers as a full-text table",
         [](const std::string& path) {
             makeDatabase(path, std::string(PlainTable) + OneRow +
                                    "create virtual table channel_headers using fts5 "
                                    "(url, user_agent, referrer, origin);");
         },
         "channel_headers is a virtual table", {u"C"}},
        {"guide ids with a generated column",
         [](const std::string& path) {
             makeDatabase(path, std::string(PlainTable) + OneRow +
                                    "create table channel_guide (url text, id text);"
                                    "insert into channel_guide values ('0068', 'a');"
                                    "alter table channel_guide add column guide_id text generated always as "
                                    "(upper(id)) virtual;");
         },
         "channel_guide has a generated or hidden column: guide_id", {u"C"}},
        {"guide ids without rowid",
         [](const std::string& path) {
             makeDatabase(path, std::string(PlainTable) + OneRow +
                                    "create table channel_guide (url text primary key, guide_id text) without rowid;");
         },
         "channel_guide is not a plain table (without rowid)", {u"C"}},
        {"an r-tree beside the tables",
         [](const std::string& path) {
             makeDatabase(path, std::string(PlainTable) + OneRow +
                                    "create virtual table places using rtree (id, x0, x1);");
         },
         "places is a virtual table", {u"C"}},
        {"lone surrogates in a UTF-16 file", makeLoneSurrogates, "UTF-16 little-endian", {{u'C', char16_t(0xFFFD)}}},
        {"WAL mode", makeWal, "WAL mode", {u"C"}},
        {"a value over the cap",
         [](const std::string& path) {
             makeDatabase(path, std::string(PlainTable) + OneRow +
                                    "insert into channels values ('C', 'T', 'Long', printf('%.*c', 4097, 'd'), '');");
         },
         "has a value longer than 4096", {u"C"}},
        {"a value over the length limit of every connection",
         [](const std::string& path) {
             makeDatabase(path, std::string(PlainTable) + OneRow +
                                    "insert into channels values ('C', 'T', 'Huge', '', printf('%.*c', 2000000, 'a'));");
         },
         "too big", {u"C"}},
    };
}

// Lines the log writes while the recorder lives.
class cLogLines {
public:
    cLogLines()
    {
        kestrel::testing::setLogRecorder([this](const std::string& line) { mLines.push_back(line); });
    }
    ~cLogLines() { kestrel::testing::setLogRecorder({}); }
    const std::vector<std::string>& lines() const { return mLines; }

private:
    std::vector<std::string> mLines; // the test thread's: the browser and the check run on it
};

} // namespace

TEST(HostileCatalogue, TheCheckRefusesEachWithItsReason)
{
    cTempFolder folder;
    for (const cHostile& hostile : hostileCatalogues()) {
        SCOPED_TRACE(hostile.what);
        const std::string path = folder.file("candidate");
        hostile.make(path);
        const auto start = tClock::now();
        std::string problem;
        EXPECT_FALSE(checkCatalogueFile(cTempFolder::wide(path), problem));
        EXPECT_NE(problem.find(hostile.reason), std::string::npos) << problem;
        EXPECT_LT(tClock::now() - start, std::chrono::seconds(3));
        // Nothing is left beside the file (no -wal, -shm or journal).
        EXPECT_EQ(folder.fileNames(), std::set<std::string>{"candidate"});
        std::remove(path.c_str());
    }
}

TEST(HostileCatalogue, TheRowCapCountsRows)
{
    cTempFolder folder;
    const std::string path = folder.file("database");
    makeDatabase(path, std::string(PlainTable) +
                           "with recursive r(n) as (select 1 union all select n + 1 from r where n < 101) "
                           "insert into channels select 'C', 'T', 'N' || n, '', '' from r;");
    cCatalogueCaps caps;
    caps.maxRows = 101;
    std::string problem;
    EXPECT_TRUE(checkCatalogueFile(cTempFolder::wide(path), problem, caps)) << problem;
    caps.maxRows = 100;
    EXPECT_FALSE(checkCatalogueFile(cTempFolder::wide(path), problem, caps));
    EXPECT_EQ(problem, "more than 100 rows (101)");
}

// Found already installed (by a version without the check), each is read
// with every query the browser and the player make: nothing throws, no
// query holds the caller much longer than the statement limit, every text
// converts for the screen, and nothing is written beside the file.
TEST(HostileCatalogue, InstalledAnywayTheBrowserNeitherFreezesNorThrows)
{
    for (const cHostile& hostile : hostileCatalogues()) {
        SCOPED_TRACE(hostile.what);
        cTempFolder folder;
        hostile.make(folder.file("database"));
        cLogLines log;
        cPlayerDatabase database;
        ASSERT_TRUE(database.open(folder.widePath()));
        std::vector<tList> lists;
        tClock::duration longest{};
        tClock::duration total{};
        // Each query of the browser and the player, timed alone.
        const auto query = [&](const std::function<tList()>& ask) {
            const auto start = tClock::now();
            lists.push_back(ask());
            const auto took = tClock::now() - start;
            longest = std::max(longest, took);
            total += took;
        };
        query([&] { return database.countries(); });
        query([&] { return database.types(); });
        for (const auto& [country, type] : std::vector<std::pair<std::u16string, std::u16string>>{
                 {u"*", u"*"}, {u"C", u"*"}, {u"*", u"T"}, {u"C", u"T"}}) {
            query([&] {
                tList names;
                database.names(country, type, names);
                return names;
            });
        }
        for (const char16_t* name : {u"N", u"Long"}) {
            database.setCurrentCountry(u"C");
            database.setCurrentType(u"T");
            database.setCurrentName(name);
            query([&] { return tList{database.currentDescription()}; });
            query([&] { return tList{database.currentAddress()}; });
        }
        database.close();
        EXPECT_LT(longest, std::chrono::milliseconds(2500));
        EXPECT_EQ(lists[0], hostile.countries);
        for (const tList& list : lists) {
            for (const std::u16string& text : list) {
                EXPECT_NO_THROW(kestrel::toUtf8(text));
            }
        }
        EXPECT_EQ(folder.fileNames(), std::set<std::string>{"database"});
        for (const std::string& line : log.lines()) {
            EXPECT_EQ(line.rfind("lumivex: catalogue: warning: stopped a query of " + folder.file("database"), 0), 0u)
                << line;
        }
        std::cout << "    [" << hostile.what << "] " << lists.size() << " queries in "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(total).count() << " ms, the longest "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(longest).count() << " ms, "
                  << log.lines().size() << " stopped\n";
    }
}

TEST(HostileCatalogue, AStatementThatRunsOnIsStoppedWithOneWarning)
{
    cTempFolder folder;
    makeDatabase(folder.file("database"), std::string(PlainTable) + OneRow);
    // A recursion that never ends, one that fills a temporary sort, and a
    // value that grows until it reaches the length limit.
    struct cCase {
        const char* sql;
        int result;
        bool warned;
    };
    const cCase cases[] = {
        {"with recursive r(n) as (select 1 union all select n + 1 from r) select count(*) from r;", SQLITE_INTERRUPT,
         true},
        {"with recursive r(n) as (select 1 union all select n + 1 from r) select n, randomblob(100) from r order by 2;",
         SQLITE_INTERRUPT, true},
        {"select printf('%.*c', 2000000000, 'x');", SQLITE_ERROR, false},
        {"select zeroblob(2000000);", SQLITE_TOOBIG, false},
        {"select replace(hex(zeroblob(100000)), '0', 'abc');", SQLITE_TOOBIG, false},
    };
    for (const cCase& c : cases) {
        SCOPED_TRACE(c.sql);
        std::string problem;
        sqlite3* db = openCatalogueConnection(folder.file("database"), problem);
        ASSERT_NE(db, nullptr) << problem;
        cLogLines log;
        sqlite3_stmt* statement = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, c.sql, -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        const auto start = tClock::now();
        int result = sqlite3_step(statement);
        const auto took = tClock::now() - start;
        sqlite3_finalize(statement);
        EXPECT_EQ(result, c.result) << sqlite3_errstr(result);
        EXPECT_LT(took, std::chrono::milliseconds(2500));
        if (c.warned) {
            EXPECT_GE(took, std::chrono::milliseconds(900));
            ASSERT_EQ(log.lines().size(), 1u);
            EXPECT_EQ(log.lines()[0], "lumivex: catalogue: warning: stopped a query of " + folder.file("database") +
                                          " after 1000 ms without a result: " + c.sql);
            std::cout << "    stopped after " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                      << " ms\n";
        } else {
            EXPECT_TRUE(log.lines().empty());
        }
        sqlite3_close(db);
    }
}

TEST(HostileCatalogue, ViewsTriggersAndOtherFilesAreRefusedOnEveryConnection)
{
    cTempFolder folder;
    makeDatabase(folder.file("database"), std::string(PlainTable) + OneRow +
                                              "create view shown as select * from channels;"
                                              "create trigger wipe after insert on channels begin delete from channels; end;");
    std::string problem;
    sqlite3* db = openCatalogueConnection(folder.file("database"), problem);
    ASSERT_NE(db, nullptr) << problem;
    const char* const refused[] = {
        "select * from shown;",
        "insert into channels values ('a', 'b', 'c', 'd', 'e');", // read-only
        "attach database ':memory:' as other;",
        "select load_extension('x');",
    };
    for (const char* sql : refused) {
        SCOPED_TRACE(sql);
        EXPECT_NE(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    }
    EXPECT_EQ(sqlite3_exec(db, "select lumivex_catalogue_guard();", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(folder.fileNames(), std::set<std::string>{"database"});
}

TEST(HostileCatalogue, TimeTheCallerSpendsBetweenRowsDoesNotCount)
{
    cTempFolder folder;
    makeDatabase(folder.file("database"),
                 std::string(PlainTable) + "insert into channels values ('A', 'T', 'N', '', '');"
                                           "insert into channels values ('B', 'T', 'N', '', '');"
                                           "insert into channels values ('C', 'T', 'N', '', '');");
    cCatalogueBounds bounds;
    bounds.statementTime = std::chrono::milliseconds(100);
    std::string problem;
    sqlite3* db = openCatalogueConnection(folder.file("database"), problem, bounds);
    ASSERT_NE(db, nullptr) << problem;
    cLogLines log;
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "select country from channels order by rowid;", -1, &statement, nullptr),
              SQLITE_OK);
    int rows = 0;
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        ++rows;
        std::this_thread::sleep_for(std::chrono::milliseconds(250)); // a slow consumer of the rows
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    EXPECT_EQ(result, SQLITE_DONE);
    EXPECT_EQ(rows, 3);
    EXPECT_TRUE(log.lines().empty());
}

namespace {

class cHostileInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        mSettings = cSettings::instance();
        mSettings->reset();
        mSettings->setDataFolder(mData.widePath() + u"/");
        cUpdateLimits limits;
        limits.networkTimeoutMs = 2000;
        limits.idlePauseMs = 0;
        limits.installedPauseMs = 0;
        mDatabase.setUpdateLimits(limits);
        makeCatalogue(mFolder.file("database"), {{"Old", "T", "N", "", plainEncoded("http://old")}});
        mOldCatalogue = readBytes(mFolder.file("database"));
        mSettings->setInteger(u"dbversion", 3);
    }
    void TearDown() override { mSettings->reset(); }

    cTempFolder mData;
    cTempFolder mFolder; // the channel folder
    cSettings* mSettings = nullptr;
    cPlayerDatabase mDatabase;
    std::string mOldCatalogue;
};

} // namespace

TEST_F(cHostileInstall, EachIsRefusedAndTheOldCatalogueKept)
{
    for (const cHostile& hostile : hostileCatalogues()) {
        SCOPED_TRACE(hostile.what);
        hostile.make(mData.file("hostile"));
        cTestServer server;
        server.serve("/dbversion.php", "9");
        server.serve("/database", readBytes(mData.file("hostile")));
        mSettings->setString(u"server", kestrel::fromUtf8(server.address()));
        const auto start = tClock::now();
        cLogLines log;
        EXPECT_TRUE(mDatabase.runUpdate(mFolder.widePath()));
        const auto took = tClock::now() - start;
        EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Failed);
        EXPECT_NE(mDatabase.lastUpdateError().find(hostile.reason), std::string::npos) << mDatabase.lastUpdateError();
        EXPECT_LT(took, std::chrono::seconds(5));
        EXPECT_EQ(readBytes(mFolder.file("database")), mOldCatalogue);
        EXPECT_EQ(mSettings->getInteger(u"dbversion", 0), 3);
        EXPECT_FALSE(mDatabase.isNewCatalogue());
        EXPECT_EQ(mFolder.fileNames(), std::set<std::string>{"database"});
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_NE(log.lines()[0].find("; the old catalogue was kept"), std::string::npos) << log.lines()[0];
        std::cout << "    [" << hostile.what << "] refused in "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";

        // The old catalogue still serves the browser.
        ASSERT_TRUE(mDatabase.open(mFolder.widePath()));
        EXPECT_EQ(mDatabase.countries(), tList{u"Old"});
        mDatabase.close();
    }
}
