#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sqlite3.h>

#include "ToolsTestSupport.h"
#include "catalogue/AddressCodec.h"
#include "kestrel/Unicode.h"
#include "catalogue/CatalogueBuilder.h"

using namespace toolstest;

namespace {

const char* const Listing = "# country\ttype\tname\tdescription\taddress\n"
                            "France\tNews\tInfo 24\tRolling news\thttp://fr.example/info.asx\n"
                            "\n"
                            "Deutschland\tSport\tKick\t\tmms://de.example/kick\r\n"
                            "\xc3\x84gypten\tNews\tNil TV\tAus Kairo\thttp://eg.example/nil.m3u8\n";

std::vector<std::vector<std::string>> tableRows(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "select country, type, name, description, url from channels order by rowid;", -1,
                       &select, nullptr);
    while (sqlite3_step(select) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < 5; ++i) {
            const unsigned char* text = sqlite3_column_text(select, i);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
        rows.push_back(row);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    return rows;
}

std::string queryPlan(const std::string& path, const std::string& statement)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* explain = nullptr;
    std::string plan;
    if (sqlite3_prepare_v2(db, ("explain query plan " + statement).c_str(), -1, &explain, nullptr) == SQLITE_OK) {
        while (sqlite3_step(explain) == SQLITE_ROW) {
            plan += reinterpret_cast<const char*>(sqlite3_column_text(explain, 3));
            plan += "; ";
        }
    }
    sqlite3_finalize(explain);
    sqlite3_close(db);
    return plan;
}

} // namespace

TEST(CatalogueBuilder, ParsesAListing)
{
    std::istringstream listing(Listing);
    std::vector<cListingEntry> entries;
    std::string error;
    ASSERT_TRUE(parseListing(listing, entries, error)) << error;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "Info 24");
    EXPECT_EQ(entries[1].description, "");
    EXPECT_EQ(entries[1].address, "mms://de.example/kick"); // carriage return dropped
    EXPECT_EQ(entries[2].country, "\xc3\x84gypten");
}

TEST(CatalogueBuilder, RefusesBadLinesWithTheirNumber)
{
    struct cCase {
        std::string listing;
        const char* error;
    };
    const cCase cases[] = {
        {"A\tB\tC\tD\n", "line 1: expected 5"},
        {"A\tB\tC\tD\thttp://x\n\nA\tB\tC\tD\thttp://x\textra\n", "line 3: expected 5"},
        {"A\tB\t\tD\thttp://x\n", "line 1: country, type and name"},
        {"A\tB\tC\tD\t\n", "line 1: the address is empty"},
        {"A\tB\tC\tD\thttp://\xc3\xa9t\xc3\xa9\n", "line 1: the address must be printable ASCII"},
        {"A\tB\tC\tD\thttp://a b\x01\n", "line 1: the address must be printable ASCII"},
        {"A\xff\tB\tC\tD\thttp://x\n", "line 1: not valid UTF-8"},
        {"A\tB\tC\t" + std::string(70000, 'd') + "\thttp://x\n", "line 1: longer than"},
    };
    for (const cCase& c : cases) {
        std::istringstream listing(c.listing);
        std::vector<cListingEntry> entries{{"kept", "", "", "", ""}};
        std::string error;
        EXPECT_FALSE(parseListing(listing, entries, error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
        EXPECT_EQ(entries.size(), 1u); // nothing partial
    }
}

TEST(CatalogueBuilder, BuildsTheChannelsTableWithEncodedAddressesAndListsItBack)
{
    cTempFolder folder;
    std::istringstream listing(Listing);
    std::vector<cListingEntry> entries;
    std::string error;
    ASSERT_TRUE(parseListing(listing, entries, error));
    const std::string path = folder.file("database");
    ASSERT_TRUE(buildCatalogue(entries, path, {}, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));

    const auto rows = tableRows(path);
    ASSERT_EQ(rows.size(), entries.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], entries[i].country);
        EXPECT_EQ(rows[i][2], entries[i].name);
        EXPECT_EQ(rows[i][3], entries[i].description);
        const std::string& url = rows[i][4];
        EXPECT_EQ(url.size(), entries[i].address.size() * 4);
        EXPECT_EQ(url.find_first_not_of("0123456789abcdef"), std::string::npos);
        EXPECT_EQ(kestrel::toUtf8(decodeAddress(kestrel::fromUtf8(url))), entries[i].address);
    }

    std::ostringstream listed;
    ASSERT_TRUE(listCatalogue(path, listed, error)) << error;
    EXPECT_EQ(listed.str(), "France\tNews\tInfo 24\tRolling news\thttp://fr.example/info.asx\n"
                            "Deutschland\tSport\tKick\t\tmms://de.example/kick\n"
                            "\xc3\x84gypten\tNews\tNil TV\tAus Kairo\thttp://eg.example/nil.m3u8\n");

    std::ostringstream ignored;
    EXPECT_FALSE(listCatalogue(folder.file("missing"), ignored, error));
    writeFile(folder.file("junk"), "not a catalogue");
    EXPECT_FALSE(listCatalogue(folder.file("junk"), ignored, error));
}

TEST(CatalogueBuilder, ListingShowsOutsideTextPrintableAndRefusesHostileFiles)
{
    cTempFolder folder;
    const std::string path = folder.file("database");
    // Written directly, as a catalogue made elsewhere may be: control
    // characters in every field, malformed UTF-8, an address that decodes
    // to an escape sequence.
    const std::string encodedEscape = "001b005b0032004a0068"; // ESC [ 2 J h
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const std::string sql =
        "create table channels (country text, type text, name text, description text, url text);"
        "insert into channels values ('Fr' || char(27) || ']0;x' || char(7), 'News' || char(9) || 'x', "
        "'Line' || char(10) || 'two', cast(x'41ff42c29b' as text), '" + encodedEscape + "');";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    std::ostringstream listed;
    std::string error;
    ASSERT_TRUE(listCatalogue(path, listed, error)) << error;
    EXPECT_EQ(listed.str(), "Fr\\x1B]0;x\\x07\tNews x\tLine two\tA\xEF\xBF\xBD" "B\\x9B\t\\x1B[2Jh\n");

    // A catalogue the player would refuse is not listed either.
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "create view everything as select * from channels;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    std::ostringstream refused;
    EXPECT_FALSE(listCatalogue(path, refused, error));
    EXPECT_NE(error.find("holds code: view everything"), std::string::npos) << error;
    EXPECT_EQ(refused.str(), "");
}

TEST(CatalogueBuilder, IndexesServeTheBrowserQueries)
{
    cTempFolder folder;
    std::vector<cListingEntry> entries;
    for (int i = 0; i < 500; ++i) {
        entries.push_back({"country " + std::to_string(i % 20), "type " + std::to_string(i % 7),
                           "name " + std::to_string(i), "", "http://x/" + std::to_string(i)});
    }
    std::string error;
    ASSERT_TRUE(buildCatalogue(entries, folder.file("indexed"), {}, error)) << error;
    ASSERT_TRUE(buildCatalogue(entries, folder.file("plain"), {false}, error)) << error;

    const char* const statements[] = {
        "select country from channels group by country;",
        "select type from channels group by type;",
        "select name from channels group by name;",
        "select name from channels where country = 'a' and type = 'b' group by name;",
        "select name from channels where type = 'b' group by name;",
        "select name from channels where country = 'a' group by name;",
        "select description from channels where country = 'a' and type = 'b' and name = 'c';",
        "select url from channels where country = 'a' and type = 'b' and name = 'c';",
        "select url from channels where name = 'c';",
        "select url from channels where type = 'b' and name = 'c';",
        "select url from channels where country = 'a' and name = 'c';",
    };
    for (const char* statement : statements) {
        const std::string plan = queryPlan(folder.file("indexed"), statement);
        EXPECT_NE(plan.find("INDEX"), std::string::npos) << statement << " -> " << plan;
        EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << statement << " -> " << plan;
        EXPECT_EQ(queryPlan(folder.file("plain"), statement).find("INDEX"), std::string::npos) << statement;
    }
}

TEST(CatalogueBuilder, FailedBuildKeepsThePreviousCatalogue)
{
    cTempFolder folder;
    const std::string path = folder.file("database");
    std::string error;
    ASSERT_TRUE(buildCatalogue({{"A", "B", "C", "", "http://old"}}, path, {}, error));
    const std::string old = readFile(path);
    // The target's folder cannot take the part file.
    EXPECT_FALSE(buildCatalogue({{"A", "B", "C", "", "http://new"}}, folder.file("missing/database"), {}, error));
    EXPECT_FALSE(error.empty());
    // A folder in the target's place cannot be replaced.
    std::filesystem::create_directory(folder.file("taken"));
    EXPECT_FALSE(buildCatalogue({{"A", "B", "C", "", "http://new"}}, folder.file("taken"), {}, error));
    EXPECT_FALSE(std::filesystem::exists(folder.file("taken.part")));
    EXPECT_EQ(readFile(path), old);
}

TEST(CatalogueTool, BuildsAndListsFromTheCommandLine)
{
    cTempFolder folder;
    writeFile(folder.file("listing.txt"), Listing);
    const std::string tool = LUMIVEX_CATALOGUE_TOOL;
    const std::string build = tool + " build " + folder.file("listing.txt") + " " + folder.file("database");
    EXPECT_EQ(runCommand(build + " 2>/dev/null"), 0);
    std::string listed;
    EXPECT_EQ(runCommand(tool + " list " + folder.file("database"), &listed), 0);
    EXPECT_EQ(listed.substr(0, listed.find('\n')), "France\tNews\tInfo 24\tRolling news\thttp://fr.example/info.asx");

    writeFile(folder.file("bad.txt"), "only\tthree\tfields\n");
    std::string message;
    EXPECT_EQ(runCommand(tool + " build " + folder.file("bad.txt") + " " + folder.file("other") + " 2>&1", &message),
              1);
    EXPECT_NE(message.find("line 1: expected 5"), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(folder.file("other")));
    EXPECT_EQ(runCommand(tool + " 2>/dev/null"), 2);
}
