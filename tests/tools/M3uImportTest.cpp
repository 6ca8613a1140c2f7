// The M3U import of the catalogue tool, driven from the command line on
// playlists of the shapes people really have, checked against the rows
// that the tool's own list command reads back.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ToolsTestSupport.h"
#include "catalogue/M3uImport.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"
#include "catalogue/CountryNames.h"

#include <sqlite3.h>

using namespace toolstest;

namespace {

const std::string Tool = LUMIVEX_CATALOGUE_TOOL;

struct cRun {
    int status = -1;
    std::string out;
    std::string err;
};

cRun importM3u(const cTempFolder& folder, const std::string& playlist, const std::string& output)
{
    writeFile(folder.file("playlist.m3u"), playlist);
    cRun run;
    run.status = runCommand(Tool + " import-m3u " + folder.file("playlist.m3u") + " " + output + " 2>" +
                                folder.file("stderr"),
                            &run.out);
    run.err = readFile(folder.file("stderr"));
    return run;
}

std::string listed(const std::string& catalogue)
{
    std::string out;
    EXPECT_EQ(runCommand(Tool + " list " + catalogue, &out), 0);
    return out;
}

struct cCase {
    const char* name;
    std::string playlist;
    std::string rows;                 // as `list` writes them
    std::vector<size_t> skippedLines; // each named on standard error
    std::string summary;              // a line the summary must hold, if any
};

const std::string LongTitle(70000, 'x');

// UTF-16 little-endian bytes, with the byte-order mark.
std::string utf16Bytes(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// "AD;AE;AF;..." : count real country codes.
std::string manyCodes(int count)
{
    static const char* const Codes[] = {"AD", "AE", "AF", "AG", "AI", "AL", "AM", "AO", "AQ", "AR"};
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += std::string(i ? ";" : "") + Codes[i];
    }
    return text;
}

std::string manyTypes(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += (i ? ";T" : "T") + std::to_string(i);
    }
    return text;
}

const cCase Cases[] = {
    {"quoted attributes in any order, header with its own attributes",
     "#EXTM3U x-tvg-url=\"http://epg.example/guide.xml\"\n"
     "#EXTINF:-1 tvg-id=\"info.fr\" tvg-name=\"Info Vingt-Quatre\" tvg-country=\"FR\" group-title=\"News\",Info 24\n"
     "http://fr.example/info.m3u8\n"
     "#EXTINF:-1 group-title=\"Sport\" tvg-logo=\"http://logo\" TVG-COUNTRY=\"de\",Kick\n"
     "rtsp://de.example/kick\n",
     "France\tNews\tInfo 24\tInfo Vingt-Quatre\thttp://fr.example/info.m3u8\n"
     "Germany\tSport\tKick\t\trtsp://de.example/kick\n",
     {},
     "imported 2 channels"},
    {"byte-order mark, CRLF, blank lines, comments and player options",
     "\xEF\xBB\xBF#EXTM3U\r\n\r\n# my own list\r\n"
     "#EXTINF:0 tvg-country=\"IT\" group-title=\"Music\",Radio Uno\r\n"
     "#EXTVLCOPT:http-user-agent=Mozilla/5.0\r\n#KODIPROP:inputstream=inputstream.adaptive\r\n\r\n"
     "http://it.example/uno.ts\r\n",
     "Italy\tMusic\tRadio Uno\t\thttp://it.example/uno.ts\n",
     {},
     "option and comment lines ignored: 2"},
    {"unquoted and single-quoted values, commas in titles and in quoted values",
     "#EXTM3U\n"
     "#EXTINF:-1 tvg-country=ES group-title=News tvg-name=\"Noticias, 24h\",Noticias, en directo, 24h\n"
     "https://es.example/noticias.m3u8\n"
     "#EXTINF:-1 group-title='Kids' tvg-country=pt , Canal Panda\n"
     "http://pt.example/panda\n",
     "Spain\tNews\tNoticias, en directo, 24h\tNoticias, 24h\thttps://es.example/noticias.m3u8\n"
     "Portugal\tKids\tCanal Panda\t\thttp://pt.example/panda\n",
     {},
     ""},
    {"several countries and types, unknown codes, missing ones",
     "#EXTM3U\n"
     "#EXTINF:-1 tvg-country=\"BE;lu;XK\" group-title=\"News;Local\",Multi\n"
     "http://multi.example/\n"
     "#EXTINF:-1 tvg-country=\"UK\" group-title=\"Entertainment\",Brit\n"
     "http://uk.example/\n"
     "#EXTINF:-1,Bare\n"
     "http://bare.example/\n"
     "#EXTINF:-1 tvg-country=\"\" group-title=\" ; \",Empty lists\n"
     "http://empty.example/\n",
     "Belgium\tNews\tMulti\t\thttp://multi.example/\n"
     "Belgium\tLocal\tMulti\t\thttp://multi.example/\n"
     "Luxembourg\tNews\tMulti\t\thttp://multi.example/\n"
     "Luxembourg\tLocal\tMulti\t\thttp://multi.example/\n"
     "XK\tNews\tMulti\t\thttp://multi.example/\n"
     "XK\tLocal\tMulti\t\thttp://multi.example/\n"
     "United Kingdom\tEntertainment\tBrit\t\thttp://uk.example/\n"
     "Unknown\tUnknown\tBare\t\thttp://bare.example/\n"
     "Unknown\tUnknown\tEmpty lists\t\thttp://empty.example/\n",
     {},
     "countries: 5"},
    {"duplicates kept once per country, type, name and address",
     "#EXTM3U\n"
     "#EXTINF:-1 tvg-country=\"NL\" group-title=\"News\",Nieuws\nhttp://nl.example/a\n"
     "#EXTINF:-1 tvg-country=\"NL\" group-title=\"News\",Nieuws\nhttp://nl.example/a\n"
     "#EXTINF:-1 tvg-country=\"NL;nl\" group-title=\"News;News;Local\",Nieuws\nhttp://nl.example/a\n"
     "#EXTINF:-1 tvg-country=\"NL\" group-title=\"News\",Nieuws\nhttp://nl.example/backup\n",
     "Netherlands\tNews\tNieuws\t\thttp://nl.example/a\n"
     "Netherlands\tLocal\tNieuws\t\thttp://nl.example/a\n"
     "Netherlands\tNews\tNieuws\t\thttp://nl.example/backup\n",
     {},
     "duplicates dropped: 2"},
    {"a line that is not UTF-8 is read as Latin-1",
     "#EXTM3U\n"
     "#EXTINF:-1 tvg-country=\"FR\" group-title=\"T\xe9l\xe9\",Cha\xeene \x80uro\n"
     "http://fr.example/chaine\n"
     "#EXTINF:-1 tvg-country=\"FR\" group-title=\"T\xc3\xa9l\xc3\xa9\",Cha\xc3\xaene UTF-8\n"
     "http://fr.example/utf8\n",
     "France\tT\xc3\xa9l\xc3\xa9\tCha\xc3\xaene \xe2\x82\xacuro\t\thttp://fr.example/chaine\n"
     "France\tT\xc3\xa9l\xc3\xa9\tCha\xc3\xaene UTF-8\t\thttp://fr.example/utf8\n",
     {},
     "lines read as Latin-1: 1"},
    {"entries without an address, other schemes, stray addresses, an endless line",
     "#EXTM3U\n"
     "#EXTINF:-1,No address\n"
     "#EXTINF:-1,Ftp\n"
     "ftp://files.example/y\n"
     "#EXTINF:-1,Local file\n"
     "/home/me/video.ts\n"
     "http://orphan.example/\n"
     "#EXTINF:-1,Multicast\n"
     "udp://@239.0.0.1:1234\n"
     "#EXTINF:-1,Flash\n"
     "RTMP://r.example/live\n"
     "#EXTINF:-1,Trailing\n"
     "#EXTINF:-1," + LongTitle + "\n",
     "Unknown\tUnknown\tMulticast\t\tudp://@239.0.0.1:1234\n"
     "Unknown\tUnknown\tFlash\t\tRTMP://r.example/live\n",
     {2, 4, 6, 7, 12, 13},
     "lines skipped: 6"},
    {"addresses beyond ASCII are percent-encoded; an empty title takes tvg-name",
     "#EXTM3U\n"
     "#EXTINF:-1 tvg-name=\"Named\" group-title=\"Docs\",\n"
     "http://x.example/cha\xc3\xaene tv.m3u8\n",
     "Unknown\tDocs\tNamed\tNamed\thttp://x.example/cha%C3%AEne%20tv.m3u8\n",
     {},
     ""},
    {"UTF-16 text with its mark, little-endian, with a character beyond the basic plane",
     utf16Bytes(u"#EXTM3U\r\n#EXTINF:-1 tvg-country=\"GR\" group-title=\"\u0395\u03b9\u03b4\u03ae\u03c3\u03b5\u03b9\","
                u"\u0395\u03a1\u03a4 \U0001F4FA\r\nhttp://gr.example/ert\r\n"),
     "Greece\t\xce\x95\xce\xb9\xce\xb4\xce\xae\xcf\x83\xce\xb5\xce\xb9\t\xce\x95\xce\xa1\xce\xa4 "
     "\xf0\x9f\x93\xba\t\thttp://gr.example/ert\n",
     {},
     "imported 1 channel"},
    {"countries from guide ids and from the heads of groups, types without those heads, #EXTGRP",
     "#EXTM3U\n"
     "#EXTINF:-1 tvg-id=\"ORF1.at@SD\" group-title=\"General\",ORF 1\nhttp://at.example/orf1\n"
     "#EXTINF:-1 tvg-id=\"BBC1.uk\",BBC One\nhttp://uk.example/bbc1\n"
     "#EXTINF:-1 tvg-id=\"Some.xx\" group-title=\"UK | Sports\",Sky Sports\nhttp://uk.example/sky\n"
     "#EXTINF:-1 group-title=\"|DE| News\",Tagesschau\nhttp://de.example/ts\n"
     "#EXTINF:-1 group-title=\"FR: Films\",Cine\nhttp://fr.example/cine\n"
     "#EXTINF:-1 group-title=\"[ES] Deportes\",Gol\nhttp://es.example/gol\n"
     "#EXTINF:-1 group-title=\"Italy - Musica\",Radio\nhttp://it.example/radio\n"
     "#EXTINF:-1 tvg-country=\"PL\" tvg-id=\"Both.de\" group-title=\"DE | Kids\",Both\nhttp://pl.example/both\n"
     "#EXTINF:-1 group-title=\"Sports: Football\",Ball\nhttp://x.example/ball\n"
     "#EXTINF:-1 group-title=\"Undefined\",Undef\nhttp://x.example/undef\n"
     "#EXTINF:-1 group-title=\"|NL|\",Headless\nhttp://nl.example/headless\n"
     "#EXTINF:-1,Grouped\n#EXTGRP:Docs\nhttp://x.example/docs\n"
     "#EXTINF:-1 tvg-id=\"Channel.com\",Dotcom\nhttp://x.example/com\n",
     "Austria\tGeneral\tORF 1\t\thttp://at.example/orf1\n"
     "United Kingdom\tUnknown\tBBC One\t\thttp://uk.example/bbc1\n"
     "United Kingdom\tSports\tSky Sports\t\thttp://uk.example/sky\n"
     "Germany\tNews\tTagesschau\t\thttp://de.example/ts\n"
     "France\tFilms\tCine\t\thttp://fr.example/cine\n"
     "Spain\tDeportes\tGol\t\thttp://es.example/gol\n"
     "Italy\tMusica\tRadio\t\thttp://it.example/radio\n"
     "Poland\tKids\tBoth\t\thttp://pl.example/both\n"
     "Unknown\tSports: Football\tBall\t\thttp://x.example/ball\n"
     "Unknown\tUnknown\tUndef\t\thttp://x.example/undef\n"
     "Netherlands\tUnknown\tHeadless\t\thttp://nl.example/headless\n"
     "Unknown\tDocs\tGrouped\t\thttp://x.example/docs\n"
     "Unknown\tUnknown\tDotcom\t\thttp://x.example/com\n",
     {},
     ""},
};

} // namespace

TEST(M3uImport, RealWorldPlaylistsBecomeTheseRows)
{
    for (const cCase& c : Cases) {
        SCOPED_TRACE(c.name);
        cTempFolder folder;
        const cRun run = importM3u(folder, c.playlist, folder.file("database"));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(listed(folder.file("database")), c.rows);
        for (size_t line : c.skippedLines) {
            EXPECT_NE(run.err.find("line " + std::to_string(line) + ": skipped"), std::string::npos)
                << "line " << line << " in:\n"
                << run.err;
        }
        if (c.skippedLines.empty()) {
            EXPECT_EQ(run.err.find("skipped"), std::string::npos) << run.err;
        }
        if (!c.summary.empty()) {
            EXPECT_NE(run.out.find(c.summary), std::string::npos) << run.out;
        }
        EXPECT_EQ(folder.fileNames(), (std::set<std::string>{"database", "playlist.m3u", "stderr"}));
    }
}

TEST(M3uImport, SkippedLinesSayWhy)
{
    cTempFolder folder;
    const cRun run = importM3u(folder, Cases[6].playlist, folder.file("database"));
    ASSERT_EQ(run.status, 0);
    const char* const reasons[] = {
        "line 2: skipped: entry without an address",
        "line 4: skipped: address scheme \"ftp\" is not http, https, rtsp, rtmp or udp",
        "line 6: skipped: not a network address",
        "line 7: skipped: address without an #EXTINF line before it",
        "line 12: skipped: entry without an address",
        "line 13: skipped: longer than 65536 bytes",
    };
    for (const char* reason : reasons) {
        EXPECT_NE(run.err.find(reason), std::string::npos) << reason << " in:\n" << run.err;
    }
    EXPECT_NE(run.out.find("imported 2 channels"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("countries: 1\ntypes: 1\n"), std::string::npos) << run.out;
}

TEST(M3uImport, NothingImportableFailsAndKeepsThePreviousCatalogue)
{
    cTempFolder folder;
    const std::string target = folder.file("database");
    ASSERT_EQ(importM3u(folder, "#EXTINF:-1,Old\nhttp://old.example/\n", target).status, 0);
    const std::string old = readFile(target);
    const struct {
        const char* name;
        std::string playlist;
        const char* message;
    } cases[] = {
        {"empty file", "", "no channel entries found"},
        {"comments only", "#EXTM3U\n# nothing here\n", "no channel entries found"},
        {"only refused addresses", "#EXTM3U\n#EXTINF:-1,A\nftp://a/\n#EXTINF:-1,B\nfile:///b\n",
         "no channel could be imported: 2 line(s) skipped"},
        {"UTF-16 text without entries", std::string("\xFF\xFE#\0E\0X\0", 8), "no channel entries found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const cRun run = importM3u(folder, c.playlist, target);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("left as it was"), std::string::npos) << run.err;
        EXPECT_EQ(readFile(target), old);
        EXPECT_FALSE(std::filesystem::exists(target + ".part"));
    }

    // Too large to read: refused before anything is read.
    {
        std::filesystem::resize_file((writeFile(folder.file("huge.m3u"), "#EXTM3U\n"), folder.file("huge.m3u")),
                                     257ull * 1024 * 1024);
        std::string out;
        EXPECT_EQ(runCommand(Tool + " import-m3u " + folder.file("huge.m3u") + " " + target + " 2>&1", &out), 1);
        EXPECT_NE(out.find("larger than 256 MiB"), std::string::npos) << out;
        EXPECT_EQ(readFile(target), old);
    }
    // A missing playlist, and a target that cannot be written.
    std::string out;
    EXPECT_EQ(runCommand(Tool + " import-m3u " + folder.file("missing.m3u") + " " + target + " 2>&1", &out), 1);
    EXPECT_NE(out.find("cannot read"), std::string::npos) << out;
    EXPECT_EQ(importM3u(folder, "#EXTINF:-1,A\nhttp://a/\n", folder.file("no/such/folder/database")).status, 1);
    EXPECT_EQ(runCommand(Tool + " import-m3u " + folder.file("playlist.m3u") + " 2>/dev/null"), 2);
}

TEST(M3uImport, ReadsStandardInput)
{
    cTempFolder folder;
    writeFile(folder.file("in.m3u"), "#EXTM3U\n#EXTINF:-1 tvg-country=\"JP\",NHK\nhttp://jp.example/\n");
    EXPECT_EQ(runCommand(Tool + " import-m3u - " + folder.file("database") + " <" + folder.file("in.m3u") +
                         " >/dev/null 2>&1"),
              0);
    EXPECT_EQ(listed(folder.file("database")), "Japan\tUnknown\tNHK\t\thttp://jp.example/\n");
}

TEST(M3uImport, CountryTable)
{
    EXPECT_EQ(countryCount(), 249u);
    const std::pair<const char*, const char*> table[] = {
        {"FR", "France"},
        {"fr", "France"},
        {"Gb", "United Kingdom"},
        {"UK", "United Kingdom"},
        {"US", "United States"},
        {"CI", "C\xc3\xb4te d'Ivoire"},
        {"AX", "\xc3\x85land Islands"},
        {"ZW", "Zimbabwe"},
        {"AD", "Andorra"},
        {"XK", "XK"},
        {"zz", "zz"},
        {"FRA", "FRA"},
        {"", ""},
    };
    for (const auto& [code, name] : table) {
        EXPECT_EQ(countryName(code), name) << code;
    }
}

// An entry's countries by its types could make millions of rows from one
// line: it makes 64 at most, and its line is named.
TEST(M3uImport, OneEntryMakesAtMost64Rows)
{
    cTempFolder folder;
    const cRun run = importM3u(folder,
                               "#EXTM3U\n#EXTINF:-1 tvg-country=\"" + manyCodes(9) + "\" group-title=\"" +
                                   manyTypes(8) + "\",Everywhere\nhttp://all.example/\n",
                               folder.file("database"));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string rows = listed(folder.file("database"));
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 64) << rows;
    EXPECT_NE(run.err.find("line 2"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("only the first 64"), std::string::npos) << run.err;

    // A title longer than a catalogue takes: that entry alone is skipped.
    const cRun longer = importM3u(folder,
                                  "#EXTM3U\n#EXTINF:-1," + std::string(5000, 'n') + "\nhttp://long.example/\n"
                                  "#EXTINF:-1,Short\nhttp://short.example/\n",
                                  folder.file("database"));
    ASSERT_EQ(longer.status, 0) << longer.err;
    EXPECT_EQ(listed(folder.file("database")), "Unknown\tUnknown\tShort\t\thttp://short.example/\n");
    EXPECT_NE(longer.err.find("line 2"), std::string::npos) << longer.err;
}

// The imported catalogue is what the player browses.
TEST(M3uImport, ThePlayerBrowsesTheImportedCatalogue)
{
    cTempFolder folder;
    std::filesystem::create_directories(folder.file("channels"));
    const cRun run = importM3u(folder, Cases[3].playlist, folder.file("channels/database"));
    ASSERT_EQ(run.status, 0) << run.err;
    cPlayerDatabase database;
    ASSERT_TRUE(database.open(kestrel::fromUtf8(folder.file("channels"))));
    EXPECT_EQ(database.countries(), (std::vector<std::u16string>{u"Belgium", u"Luxembourg", u"United Kingdom",
                                                                  u"Unknown", u"XK"}));
    std::vector<std::u16string> names;
    ASSERT_TRUE(database.names(u"Luxembourg", u"Local", names));
    EXPECT_EQ(names, std::vector<std::u16string>{u"Multi"});
    database.setCurrentCountry(u"*");
    database.setCurrentType(u"Unknown");
    database.setCurrentName(u"Bare");
    EXPECT_EQ(database.currentAddress(), u"http://bare.example/");
}

namespace {

// The schema entries of the catalogue: type, name and statement.
std::vector<std::string> schemaOf(const std::string& catalogue)
{
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(catalogue.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "select type, name, sql from sqlite_master order by name;", -1, &statement, nullptr);
        while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
            std::string row;
            for (int column = 0; column < 3; ++column) {
                const unsigned char* text = sqlite3_column_text(statement, column);
                row += std::string(column ? "|" : "") + (text ? reinterpret_cast<const char*>(text) : "");
            }
            rows.push_back(row);
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

} // namespace

// The request headers of every form lists use reach the catalogue beside
// the unchanged channels table, each channel's own; a value with a line
// break is refused at import, naming its line, and its channel still
// comes in.
TEST(M3uImport, RequestHeadersInEveryFormReachTheCatalogue)
{
    cTempFolder folder;
    const std::string playlist =
        "#EXTM3U\n"
        "#EXTINF:-1 tvg-country=\"FR\" user-agent=\"Agent/1\" referrer=\"http://one.example/\",Attributes\n"
        "http://a.example/one.m3u8\n"
        "#EXTINF:-1 http-user-agent=\"Agent/2\" http-referrer=\"http://two.example/\",Http attributes\n"
        "http://a.example/two.m3u8\n"
        "#EXTVLCOPT:http-user-agent=Agent/3 (X11; Linux)\n"
        "#EXTINF:-1,Options\n"
        "#EXTVLCOPT:http-referrer=http://three.example/page\n"
        "#EXTVLCOPT:http-origin=http://three.example\n"
        "http://a.example/three.ts\n"
        "#EXTINF:-1,Suffix\n"
        "http://a.example/four.m3u8|User-Agent=Agent%2F4%20(Win)&Referer=http%3A%2F%2Ffour.example%2F&Origin=x\n"
        "#EXTINF:-1 user-agent=\"Attribute\",Precedence\n"
        "#EXTVLCOPT:http-user-agent=Option\n"
        "http://a.example/five|user-agent=Suffix\n"
        "#EXTINF:-1,Injected\n"
        "http://a.example/six|User-Agent=evil%0D%0AX-Injected:%20yes&Referer=http://six.example/\n"
        "#EXTINF:-1,Plain\n"
        "http://a.example/seven.m3u8\n"
        "#EXTINF:-1 referer=\"http://eight.example/\",Referer attribute\n"
        "http://a.example/eight\n"
        "#EXTINF:-1,Properties\n"
        "#KODIPROP:inputstream.adaptive.stream_headers=User-Agent=Agent%2F9&Referer=http%3A%2F%2Fnine.example%2F\n"
        "http://a.example/nine\n"
        "#EXTINF:-1,Json\n"
        "#EXTHTTP:{\"User-Agent\": \"Agent/10 \\\"q\\\"\", \"Referer\":\"http:\\/\\/ten.example\\/\", \"Origin\":\"http://ten.example\"}\n"
        "http://a.example/ten\n"
        "#EXTINF:-1,Bad json\n"
        "#EXTHTTP:{\"User-Agent\":Agent/11}\n"
        "http://a.example/eleven\n";
    const cRun run = importM3u(folder, playlist, folder.file("database"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("channels with request headers: 9\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("header values refused: 2\n"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("line 17: header refused: the User-Agent value contains a line break"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("line 29: header refused: the #EXTHTTP line is not a JSON object of strings"),
              std::string::npos)
        << run.err;
    // The suffixes are gone from the addresses.
    EXPECT_NE(listed(folder.file("database")).find("\tSuffix\t\thttp://a.example/four.m3u8\n"), std::string::npos);
    EXPECT_NE(listed(folder.file("database")).find("\tInjected\t\thttp://a.example/six\n"), std::string::npos);

    cPlayerDatabase database;
    ASSERT_TRUE(database.open(kestrel::fromUtf8(folder.path())));
    const struct {
        const char* address;
        cRequestHeaders headers;
    } cases[] = {
        {"http://a.example/one.m3u8", {"Agent/1", "http://one.example/", ""}},
        {"http://a.example/two.m3u8", {"Agent/2", "http://two.example/", ""}},
        {"http://a.example/three.ts", {"Agent/3 (X11; Linux)", "http://three.example/page", "http://three.example"}},
        {"http://a.example/four.m3u8", {"Agent/4 (Win)", "http://four.example/", "x"}},
        {"http://a.example/five", {"Suffix", "", ""}},
        {"http://a.example/six", {"", "http://six.example/", ""}},
        {"http://a.example/seven.m3u8", {}},
        {"http://a.example/eight", {"", "http://eight.example/", ""}},
        {"http://a.example/nine", {"Agent/9", "http://nine.example/", ""}},
        {"http://a.example/ten", {"Agent/10 \"q\"", "http://ten.example/", "http://ten.example"}},
        {"http://a.example/eleven", {}},
        {"http://a.example/four.m3u8|User-Agent=Agent%2F4%20(Win)", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        const cRequestHeaders got = database.catalogueHeaders(kestrel::fromUtf8(c.address));
        EXPECT_EQ(got.userAgent, c.headers.userAgent);
        EXPECT_EQ(got.referrer, c.headers.referrer);
        EXPECT_EQ(got.origin, c.headers.origin);
    }
    database.close();

    // The channels table as it always was; the headers in a plain table of
    // their own.
    const std::vector<std::string> schema = schemaOf(folder.file("database"));
    EXPECT_NE(std::find(schema.begin(), schema.end(),
                        "table|channels|CREATE TABLE channels (country text, type text, name text, description "
                        "text, url text)"),
              schema.end());
    EXPECT_NE(std::find(schema.begin(), schema.end(),
                        "table|channel_headers|CREATE TABLE channel_headers (url text, user_agent text, referrer "
                        "text, origin text)"),
              schema.end());

    // A list without headers makes a catalogue without the second table,
    // which reads as no headers.
    cTempFolder plain;
    ASSERT_EQ(importM3u(plain, "#EXTINF:-1,Plain\nhttp://a.example/seven.m3u8\n", plain.file("database")).status, 0);
    for (const std::string& row : schemaOf(plain.file("database"))) {
        EXPECT_EQ(row.find("channel_headers"), std::string::npos) << row;
    }
    ASSERT_TRUE(database.open(kestrel::fromUtf8(plain.path())));
    EXPECT_TRUE(database.catalogueHeaders(u"http://a.example/seven.m3u8").empty());
}

TEST(M3uImport, GuideIdsReachTheCatalogueAndGuideAddressesAreCollected)
{
    const std::string playlist =
        "#EXTM3U url-tvg=\"http://epg.example/a.xml.gz, https://epg.example/b.xml\" x-tvg-url=http://epg.example/a.xml.gz"
        " tvg-shift=0 url-tvg2=\"/etc/passwd\"\n"
        "#EXTINF:-1 tvg-id=\"Info.fr\" tvg-country=\"FR\",Info 24\n"
        "http://a.example/info.m3u8\n"
        "#EXTINF:-1 tvg-id=\"\",No id\n"
        "http://a.example/none\n"
        "#EXTINF:-1 tvg-id=\"" + std::string(300, 'x') + "\",Long id\n"
        "http://a.example/long\n";
    cM3uImport imported;
    std::string error;
    ASSERT_TRUE(parseM3u(playlist, imported, error)) << error;
    EXPECT_EQ(imported.guideAddresses,
              (std::vector<std::string>{"http://epg.example/a.xml.gz", "https://epg.example/b.xml"}));
    ASSERT_EQ(imported.entries.size(), 3u);
    EXPECT_EQ(imported.entries[0].guideId, "Info.fr");
    EXPECT_EQ(imported.entries[1].guideId, "");
    EXPECT_EQ(imported.entries[2].guideId, "") << "an id longer than a guide could name is left out";

    // Only web addresses are taken from a list: one from the web must not
    // make the player read a local file.
    ASSERT_TRUE(parseM3u("#EXTM3U url-tvg=\"/home/me/guide.xml,file:///etc/passwd\"\n#EXTINF:-1,A\nhttp://a.example/\n",
                         imported, error));
    EXPECT_TRUE(imported.guideAddresses.empty());
    EXPECT_EQ(imported.skipped.size(), 2u);
    // tvg-shift in hours, on an entry or for all on the "#EXTM3U" line.
    ASSERT_TRUE(parseM3u("#EXTM3U tvg-shift=\"-1.5\"\n"
                         "#EXTINF:-1,Default\nhttp://a.example/1\n"
                         "#EXTINF:-1 tvg-shift=\"2\",Own\nhttp://a.example/2\n"
                         "#EXTINF:-1 tvg-shift=\"+0.25\",Quarter\nhttp://a.example/3\n"
                         "#EXTINF:-1 tvg-shift=\"0\",None\nhttp://a.example/4\n"
                         "#EXTINF:-1 tvg-shift=\"1,5\",Comma\nhttp://a.example/5\n"
                         "#EXTINF:-1 tvg-shift=\"48\",Too far\nhttp://a.example/6\n",
                         imported, error));
    ASSERT_EQ(imported.entries.size(), 6u);
    const int shifts[] = {-90, 120, 15, 0, 0, 0};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(imported.entries[i].guideShiftMinutes, shifts[i]) << imported.entries[i].name;
    }
    // A list's guide addresses are read up to 32; one line names the rest.
    std::string many = "#EXTM3U url-tvg=\"";
    for (int i = 1; i <= 34; ++i) {
        many += (i > 1 ? "," : "") + std::string("http://epg.example/") + std::to_string(i) + ".xml";
    }
    ASSERT_TRUE(parseM3u(many + "\"\n#EXTINF:-1,A\nhttp://a.example/\n", imported, error));
    EXPECT_EQ(imported.guideAddresses.size(), 32u);
    ASSERT_EQ(imported.skipped.size(), 1u);
    EXPECT_NE(imported.skipped[0].reason.find("more than 32 guide addresses; these were ignored: "
                                              "http://epg.example/33.xml http://epg.example/34.xml"),
              std::string::npos)
        << imported.skipped[0].reason;
    // Nor may a carriage return inside an address reach a request line.
    ASSERT_TRUE(parseM3u("#EXTM3U url-tvg=\"http://epg.example/g.xml\rX-Injected: 1\"\n#EXTINF:-1,A\nhttp://a.example/\n",
                         imported, error));
    EXPECT_TRUE(imported.guideAddresses.empty());
    EXPECT_EQ(imported.skipped.size(), 1u);

    // The ids are kept once per address in a table of their own, which the
    // player reads by address; a catalogue without ids has no such table.
    cTempFolder folder;
    ASSERT_EQ(importM3u(folder, playlist, folder.file("database")).status, 0);
    const std::vector<std::string> schema = schemaOf(folder.file("database"));
    EXPECT_NE(std::find(schema.begin(), schema.end(),
                        "table|channel_guide|CREATE TABLE channel_guide (url text, guide_id text)"),
              schema.end());
    cPlayerDatabase database;
    ASSERT_TRUE(database.open(kestrel::fromUtf8(folder.path())));
    EXPECT_EQ(database.catalogueGuideId(u"http://a.example/info.m3u8"), "Info.fr");
    EXPECT_EQ(database.catalogueGuideId(u"http://a.example/none"), "");
    EXPECT_EQ(database.catalogueGuideId(u"http://a.example/other"), "");
    database.close();

    cTempFolder plain;
    ASSERT_EQ(importM3u(plain, "#EXTINF:-1,Plain\nhttp://a.example/seven.m3u8\n", plain.file("database")).status, 0);
    for (const std::string& row : schemaOf(plain.file("database"))) {
        EXPECT_EQ(row.find("channel_guide"), std::string::npos) << row;
    }
    ASSERT_TRUE(database.open(kestrel::fromUtf8(plain.path())));
    EXPECT_EQ(database.catalogueGuideId(u"http://a.example/seven.m3u8"), "");
}
