#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "catalogue/NameSearch.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"

using namespace testsupport;
using tList = std::vector<std::u16string>;

namespace {

std::u16string wide(const std::string& text) { return kestrel::fromUtf8(text); }

tList wideList(const std::vector<std::string>& texts)
{
    tList list;
    for (const std::string& text : texts) {
        list.push_back(wide(text));
    }
    return list;
}

std::vector<cRow> searchRows()
{
    return {
        {"France", "News", "Café Noir", "", plainEncoded("http://fr/cafe")},
        {"France", "Music", "CAFÉ CONCERT", "", plainEncoded("http://fr/concert")},
        {"Germany", "News", "Kaffee Haus", "", plainEncoded("http://de/kaffee")},
        {"Germany", "News", "Info", "", plainEncoded("http://de/info")},
        {"Germany", "Music", "Straße Radio", "", plainEncoded("http://de/strasse")},
        {"France", "News", "Info Matin", "", plainEncoded("http://fr/info")},
        {"Poland", "News", "Łódź Info", "", plainEncoded("http://pl/lodz")},
        {"Russia", "News", "Первый ТВ", "", plainEncoded("http://ru/1")},
        {"Russia", "Music", "Музыка тв", "", plainEncoded("http://ru/music")},
        {"Russia", "News", "Ёлка", "", plainEncoded("http://ru/elka")},
        {"Russia", "News", "Мои песни", "", plainEncoded("http://ru/songs")},
        {"Russia", "Music", "Мой город", "", plainEncoded("http://ru/town")},
        {"Ukraine", "News", "Їжак", "", plainEncoded("http://ua/hedgehog")},
        {"Vietnam", "News", "Việt Nam 1", "", plainEncoded("http://vn/1")},
        {"Greece", "News", "Ἀθῆναι TV", "", plainEncoded("http://gr/athens")},
        {"Japan", "News", "東京テレビ", "", plainEncoded("http://jp/tokyo")},
        // The same name under a second country is listed once.
        {"Poland", "Music", "Café Noir", "", plainEncoded("http://pl/cafe")},
    };
}

// Waits (the index is built on a thread of its own) for the catalogue's
// index of every name.
std::shared_ptr<const cNameIndex> waitForIndex(cPlayerDatabase& database)
{
    std::atomic<bool> ready{false};
    std::shared_ptr<const cNameIndex> index = database.nameIndex([&] { ready = true; });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!index && std::chrono::steady_clock::now() < deadline) {
        if (ready) {
            index = database.nameIndex();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return index;
}

class NameSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeCatalogue(mFolder.file("database"), searchRows(), true);
        ASSERT_TRUE(mDatabase.open(mFolder.widePath()));
        ASSERT_NE(waitForIndex(mDatabase), nullptr);
    }

    cTempFolder mFolder;
    cPlayerDatabase mDatabase;
};

} // namespace

// The folding, and what a search finds with it: Latin, Greek and Cyrillic
// lose their case and the marks that sit on a letter, but a letter of its
// own alphabet that is written with a mark (й, ё, ї) stays itself.
TEST(NameFolding, LatinGreekAndCyrillicLoseCaseAndAccentsOtherScriptsStay)
{
    const struct {
        const char* text;
        const char* folded;
    } cases[] = {
        {"Việt Nam", "viet nam"}, // Latin Extended Additional: letters with two marks
        {"Мой МОЙ Мои", "мой мой мои"},
        {"Йод Ёж Їжак Ўсход", "йод ёж їжак ўсход"},
        {"Ѓ Ќ Ӂ Ӓ", "ѓ ќ ӂ ӓ"},
        {"Ѝ ѐ", "и е"}, // a stress mark, not a letter
        {"\xd0\x98\xcc\x86 \xd0\xb5\xcc\x88 \xd0\xb8\xcc\x80", "й ё и"}, // a letter and its combining mark
        {"Café", "cafe"},
        {"CAFÉ", "cafe"},
        {"Cafe\xcc\x81", "cafe"}, // e and a combining acute
        {"Ærø Straße", "aero strasse"},
        {"Łódź", "lodz"},
        {"ÑANDÚ İstanbul", "nandu istanbul"},
        {"Первый ТВ Ёлка Їжак", "первый тв ёлка їжак"},
        {"Ἀθῆναι ΣΟΦΟΣ", "αθηναι σοφοσ"},
        {"東京テレビ", "東京テレビ"},
        {"Ա ա", "Ա ա"}, // Armenian keeps its case: only three scripts fold
        {"12 + 3", "12 + 3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kestrel::toUtf8(foldForSearch(wide(c.text))), c.folded) << c.text;
    }
}

// What a search finds with that folding, over the names as a list has them.
TEST(NameFolding, SearchesFindAccentedLettersButNotDistinctOnes)
{
    const std::vector<std::string> names = {"Việt Nam", "Мой город", "Мои песни", "Ёлка", "Елена", "Їжак",
                                            "Ідея", "Йога"};
    const struct {
        const char* text;
        std::vector<std::string> found;
    } cases[] = {
        {"viet", {"Việt Nam"}},
        {"VIỆT", {"Việt Nam"}},
        {"мой", {"Мой город"}},
        {"мои", {"Мои песни"}},
        {"МО", {"Мой город", "Мои песни"}},
        {"ёл", {"Ёлка"}},
        {"ел", {"Елена"}},
        {"ї", {"Їжак"}},
        {"і", {"Ідея"}},
        {"й", {"Мой город", "Йога"}},
    };
    cNameSearch search;
    search.setNames(wideList(names));
    for (const auto& c : cases) {
        search.setText(wide(c.text));
        EXPECT_EQ(search.matchingNames(), wideList(c.found)) << c.text;
    }
}

TEST_F(NameSearchTest, FindsNamesThatHoldTheTextWithinTheFilters)
{
    const struct {
        const char* text;
        const char* country;
        const char* type;
        std::vector<std::string> names; // in the browser's order
    } cases[] = {
        // Case and accents, both ways.
        {"cafe", "*", "*", {"CAFÉ CONCERT", "Café Noir"}},
        {"CAFÉ", "*", "*", {"CAFÉ CONCERT", "Café Noir"}},
        {"noir", "*", "*", {"Café Noir"}},
        // Cyrillic: "ТВ" finds "тв" and the other way round; ё, й and ї
        // are letters of their own.
        {"тв", "*", "*", {"Музыка тв", "Первый ТВ"}},
        {"ТВ", "*", "*", {"Музыка тв", "Первый ТВ"}},
        {"ёлка", "*", "*", {"Ёлка"}},
        {"елка", "*", "*", {}},
        {"мой", "*", "*", {"Мой город"}},
        {"Мои", "*", "*", {"Мои песни"}},
        {"їж", "*", "*", {"Їжак"}},
        {"іж", "*", "*", {}},
        // Latin letters with two marks.
        {"viet", "*", "*", {"Việt Nam 1"}},
        // Greek without its breathing and accents, stroke letters and ß.
        {"ΑΘΗΝ", "*", "*", {"Ἀθῆναι TV"}},
        {"lodz", "*", "*", {"Łódź Info"}},
        {"strasse", "*", "*", {"Straße Radio"}},
        // Other scripts as typed, here in the middle of the name.
        {"テレ", "*", "*", {"東京テレビ"}},
        // The middle and the end of names.
        {"fo", "*", "*", {"Info", "Info Matin", "Łódź Info"}},
        // Latin "tv" is not Cyrillic "тв", however alike they look.
        {" tv", "*", "*", {"Ἀθῆναι TV"}},
        // No match: an empty list.
        {"zzz", "*", "*", {}},
        {"cafex", "*", "*", {}},
        // Filters: country, type, both.
        {"cafe", "France", "*", {"CAFÉ CONCERT", "Café Noir"}},
        {"cafe", "Poland", "*", {"Café Noir"}},
        {"cafe", "*", "Music", {"CAFÉ CONCERT", "Café Noir"}},
        {"cafe", "France", "Music", {"CAFÉ CONCERT"}},
        {"info", "Germany", "*", {"Info"}},
        {"info", "Germany", "Music", {}},
        {"cafe", "Germany", "*", {}},
    };
    for (const auto& c : cases) {
        cNameSearch search;
        search.setCatalogueFilters(mDatabase, wide(c.country), wide(c.type));
        ASSERT_TRUE(search.isReady());
        search.setText(wide(c.text));
        const tList expected = wideList(c.names);
        EXPECT_EQ(search.matchingNames(), expected) << c.text << " in " << c.country << " / " << c.type;
        EXPECT_EQ(search.matches().size(), expected.size());
    }
}

TEST_F(NameSearchTest, TypingLetterByLetterAndErasingGiveWhatAFreshSearchGives)
{
    // Narrowing from the last matches must never lose or keep a name that a
    // search from scratch would not.
    const char* const steps[] = {"i", "in", "inf", "info", "info ", "info m", "info", "in", "n", "", "c", "ca",
                                 "caf", "café", "cafe", "af", "т", "тв", "Т"};
    cNameSearch typed;
    typed.setCatalogueFilters(mDatabase, u"*", u"*");
    for (const char* step : steps) {
        typed.setText(wide(step));
        cNameSearch fresh;
        fresh.setCatalogueFilters(mDatabase, u"*", u"*");
        fresh.setText(wide(step));
        EXPECT_EQ(typed.matchingNames(), fresh.matchingNames()) << step;
    }
    // An empty text matches every name, in the browser's order.
    typed.setText(u"");
    tList all;
    mDatabase.names(u"*", u"*", all);
    EXPECT_EQ(typed.matchingNames(), all);
}

TEST_F(NameSearchTest, ChangingTheFiltersKeepsTheText)
{
    cNameSearch search;
    search.setCatalogueFilters(mDatabase, u"France", u"*");
    search.setText(u"cafe");
    EXPECT_EQ(search.matchingNames(), wideList({"CAFÉ CONCERT", "Café Noir"}));
    search.setCatalogueFilters(mDatabase, u"Poland", u"*");
    EXPECT_EQ(search.text(), u"cafe");
    EXPECT_EQ(search.matchingNames(), wideList({"Café Noir"}));
    search.setCatalogueFilters(mDatabase, u"Russia", u"*");
    EXPECT_TRUE(search.matchingNames().empty());
}

TEST_F(NameSearchTest, FavouritesAreSearchedInTheirOrderAndMatchesGiveTheirIndexes)
{
    cNameSearch search;
    search.setNames(wideList({"Zebra TV", "Café Noir", "Alpha", "CAFE 2"}));
    search.setText(u"CAFÉ");
    EXPECT_EQ(search.matchingNames(), wideList({"Café Noir", "CAFE 2"}));
    EXPECT_EQ(search.matches(), (std::vector<uint32_t>{1, 3}));
    search.setText(u"nothing");
    EXPECT_TRUE(search.matches().empty());
}

TEST(NameIndexTask, IsBuiltOffTheCallersThreadOnceAndFollowsTheBrowsersOrder)
{
    cTempFolder folder;
    makeCatalogue(folder.file("database"), searchRows(), false);
    cPlayerDatabase database;
    // Without an open catalogue there is nothing to index.
    EXPECT_EQ(database.nameIndex(), nullptr);
    ASSERT_TRUE(database.open(folder.widePath()));

    std::atomic<int> calls{0};
    std::atomic<bool> onOtherThread{false};
    const std::thread::id caller = std::this_thread::get_id();
    // The first call only starts the build.
    EXPECT_EQ(database.nameIndex([&] {
        onOtherThread = std::this_thread::get_id() != caller;
        ++calls;
    }),
              nullptr);
    const std::shared_ptr<const cNameIndex> index = waitForIndex(database);
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(onOtherThread.load());
    tList all;
    database.names(u"*", u"*", all);
    EXPECT_EQ(index->names(), all);
    // Built once: later calls share it and keep no listener.
    EXPECT_EQ(database.nameIndex([&] { ++calls; }), index);
    EXPECT_EQ(calls.load(), 1);

    // Another catalogue gets an index of its own.
    cTempFolder other;
    makeCatalogue(other.file("database"), {{"X", "Y", "Only One", "", plainEncoded("http://x")}}, false);
    ASSERT_TRUE(database.open(other.widePath()));
    const std::shared_ptr<const cNameIndex> second = waitForIndex(database);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->names(), wideList({"Only One"}));
}

TEST(NameIndexTask, ClosingWhileItBuildsEndsItWithoutCallingBack)
{
    cTempFolder folder;
    std::vector<cRow> rows;
    for (int i = 0; i < 20000; ++i) {
        rows.push_back({"C", "T", "Channel " + std::to_string(i), "", plainEncoded("http://c/" + std::to_string(i))});
    }
    makeCatalogue(folder.file("database"), rows, false);
    std::atomic<int> calls{0};
    for (int round = 0; round < 3; ++round) {
        cPlayerDatabase database;
        ASSERT_TRUE(database.open(folder.widePath()));
        database.nameIndex([&] { ++calls; });
        database.close();
        EXPECT_EQ(database.nameIndex(), nullptr);
    }
    // A run that finished before the close may have called back; none can
    // call back after it.
    const int seen = calls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(calls.load(), seen);
}
