// Small guides written by the test, installed into a real channel folder
// and read back: time zones, overlaps, missing stops, the window, the
// fields kept, the matching of catalogue channels and the now/next lookup.

#include <gtest/gtest.h>

#include <cstdlib>

#include "GuideTestSupport.h"
#include "guide/Guide.h"
#include "kestrel/Log.h"
#include "tests/catalogue/TestSupport.h"

using namespace guidetest;
using testsupport::cTempFolder;

namespace {

class cGuideRead : public ::testing::Test {
protected:
    void SetUp() override
    {
        kestrel::testing::setLogRecorder([this](const std::string& line) { mLog += line + "\n"; });
    }
    void TearDown() override { kestrel::testing::setLogRecorder({}); }

    // Installs the document as the folder's only source.
    cGuideRefreshOutcome install(const std::string& document)
    {
        testsupport::writeBytes(mFolder.file("source.xml"), document);
        return refreshGuide({mFolder.file("source.xml")}, mFolder.widePath(), cGuideLimits(), Now, {});
    }
    std::string guidePath() const { return mFolder.file("guide"); }

    cTempFolder mFolder{"guide"};
    std::string mLog;
};

TEST(cGuideText, XmltvTimesAreReadWithTheirOffsets)
{
    const int64_t noon = utcSeconds(2024, 3, 10, 12, 0, 0);
    ASSERT_EQ(noon, Now);
    const struct {
        const char* text;
        int64_t utc; // -1: refused
        bool offset;
    } Cases[] = {
        {"20240310120000 +0000", noon, true},
        {"20240310130000 +0100", noon, true},
        {"20240310070000 -0500", noon, true},
        {"20240310120000", noon, false},          // no offset: UTC
        {"202403101200 +0000", noon, true},        // seconds left out
        {"20240310120000+0000", noon, true},       // no blank before the offset
        {"20240310173000 +05:30", noon, true},     // offset with a colon
        {"20240310120000 Z", noon, true},
        {"20240310120059 +0000", noon + 59, true},
        {"20240229120000 +0000", utcSeconds(2024, 2, 29, 12, 0, 0), true},
        {"19700101000000 +0000", 0, true},
        {"20230229120000 +0000", -1, false},       // no such day
        {"20241310120000 +0000", -1, false},
        {"20240310246000 +0000", -1, false},
        {"2024031012 +0000", -1, false},           // hours only
        {"2024-03-10 12:00:00", -1, false},
        {"20240310120000 +01", -1, false},
        {"20240310120000 +2500", -1, false},
        {"20240310120000 CET", -1, false},
        {"", -1, false},
        {"tomorrow", -1, false},
    };
    for (const auto& item : Cases) {
        const std::optional<cXmltvTime> time = parseXmltvTime(item.text);
        if (item.utc < 0) {
            EXPECT_FALSE(time.has_value()) << item.text;
            continue;
        }
        ASSERT_TRUE(time.has_value()) << item.text;
        EXPECT_EQ(time->utc, item.utc) << item.text;
        EXPECT_EQ(time->hadOffset, item.offset) << item.text;
        // Written back as UTC, the time reads the same.
        const std::optional<cXmltvTime> again = parseXmltvTime(formatXmltvTime(item.utc));
        ASSERT_TRUE(again.has_value()) << formatXmltvTime(item.utc);
        EXPECT_EQ(again->utc, item.utc);
    }
    EXPECT_EQ(formatXmltvTime(noon + 59), "20240310120059 +0000");
}

TEST(cGuideText, NameKeysIgnoreCaseAccentsAndPunctuation)
{
    const struct {
        const char* name;
        const char* key;
    } Cases[] = {
        {"BBC One", "bbcone"},
        {"bbc-one HD", "bbcone"},
        {"Named Channel HD (720p)", "namedchannel"},
        {"Named Channel FHD", "namedchannel"},
        {"Named Channel UHD 4K", "namedchannel"},
        {"Named Channel SD [Geo-blocked]", "namedchannel"},
        {"Named Channel (1080p50)", "namedchannel"},
        {"Named Channel +1 HD", "namedchannel1"},
        {"Named Channel (East)", "namedchanneleast"},
        {"Channel 4", "channel4"},
        {"HD", "hd"},
        {"4K [Test]", "4k"},
        {"Télé-Ciné 1", "telecine1"},
        {"ÀÉÎÕÜ àéîõü", "aeiouaeiou"},
        {"Çà & Ñø!", "cano"},
        {"Straße", "strasse"},
        {"Æon Œuvre", "aeonoeuvre"},
        {"Łódź TV", "lodztv"},
        {"Čt 24", "ct24"},
        {"Ğüzel Şov", "guzelsov"},
        {"Ÿ ÿ", "yy"},
        {"Kanal «5» — live…", "kanal5live"},
        {"  ", ""},
        {"Первый канал", "первыйканал"},
        {"ΕΡΤ 1", "ερτ1"},
        {"日本テレビ", "日本テレビ"},
        {"bad\xff\xfe bytes", "badbytes"},
    };
    for (const auto& item : Cases) {
        EXPECT_EQ(guideNameKey(item.name), item.key) << item.name;
    }
    EXPECT_EQ(foldGuideId("BBC1.uk"), "bbc1.uk");
}

TEST(cGuideText, TextsAreCutOnCharacterBoundaries)
{
    std::string text = "ab\xc3\xa9"; // "abé"
    cutUtf8(text, 3);
    EXPECT_EQ(text, "ab");
    text = "ab\xc3\xa9";
    cutUtf8(text, 4);
    EXPECT_EQ(text, "ab\xc3\xa9");
    text = "\xe2\x82\xac\xe2\x82\xac"; // two euro signs
    cutUtf8(text, 5);
    EXPECT_EQ(text, "\xe2\x82\xac");
}

TEST(cGuideText, LocalClockUsesTheTimeZone)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC-1", 1); // one hour east of UTC
    tzset();
    EXPECT_EQ(formatLocalClock(Now), "13:00");
    EXPECT_EQ(formatLocalClock(Now + 7 * 3600 + 5 * 60), "20:05");
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST_F(cGuideRead, SmallGuidesGiveTheirSettledRows)
{
    const struct {
        const char* what;
        std::string entries;
        std::vector<std::string> rows;
    } Cases[] = {
        {"time zones, seconds left out",
         programme("a", at(0, "+0100"), at(60, "+0100"), "East") +   // 11:00-12:00 UTC
             programme("b", at(0, "-0500"), at(60, "-0500"), "West") + // 17:00-18:00 UTC
             programme("c", at(0, ""), at(30, ""), "Plain") +
             programme("d", "202403101200 +0000", "202403101315 +0000", "Short"),
         {"a 10T11:00-10T12:00 East", "b 10T17:00-10T18:00 West", "c 10T12:00-10T12:30 Plain",
          "d 10T12:00-10T13:15 Short"}},
        {"an overlap is cut by the later start",
         programme("a", at(0), at(90), "First") + programme("a", at(60), at(120), "Second"),
         {"a 10T12:00-10T13:00 First", "a 10T13:00-10T14:00 Second"}},
        {"a missing stop ends at the next start; the last one without a stop is left out",
         programme("a", at(0), "", "Open") + programme("a", at(45), at(60), "Closed") +
             programme("a", at(60), "", "Dangling"),
         {"a 10T12:00-10T12:45 Open", "a 10T12:45-10T13:00 Closed"}},
        {"programmes in any order, and a start given twice",
         programme("a", at(60), at(120), "Later") + programme("a", at(0), at(60), "Earlier") +
             programme("a", at(0), at(30), "Again"),
         {"a 10T12:00-10T13:00 Earlier", "a 10T13:00-10T14:00 Later"}},
        {"end before start and wrong time formats are skipped",
         programme("a", at(60), at(0), "Backwards") + programme("a", at(0), at(0), "Empty") +
             programme("a", "2024-03-10 12:00", at(60), "Dashes") + programme("a", at(0), "soon", "Word") +
             programme("a", at(0), at(60), "Good"),
         {"a 10T12:00-10T13:00 Good"}},
        {"the window: six hours back, two days ahead",
         programme("a", at(-8 * 60), at(-7 * 60), "Gone") + programme("a", at(-7 * 60), at(-5 * 60), "Ending") +
             programme("a", at(47 * 60), at(49 * 60), "Edge") + programme("a", at(49 * 60), at(50 * 60), "Far"),
         {"a 10T05:00-10T07:00 Ending", "a 12T11:00-12T13:00 Edge"}},
        {"a programme without stop just before the window ends where the next, outside it, starts",
         programme("a", at(-9 * 60), "", "Old") + programme("a", at(-7 * 60), at(-6 * 60 - 30), "Older") +
             programme("a", at(0), at(60), "Now"),
         {"a 10T12:00-10T13:00 Now"}},
    };
    for (const auto& item : Cases) {
        SCOPED_TRACE(item.what);
        const cGuideRefreshOutcome outcome = install(guide(item.entries));
        ASSERT_EQ(outcome.result, eGuideRefresh::Installed) << mLog;
        EXPECT_EQ(installedRows(guidePath()), item.rows) << mLog;
    }
}

TEST_F(cGuideRead, EveryKindOfProblemIsOneCountedLine)
{
    std::string entries;
    for (int i = 0; i < 20; ++i) {
        entries += programme("a", "20240310 1200", at(60), "Bad" + std::to_string(i));
        entries += programme("b", at(60 * i + 60), at(60 * i), "Backwards");
    }
    entries += programme("a", at(0, ""), at(60, ""), "Plain");
    entries += programme("a", at(30), at(90), "Overlap");
    // The times read as UTC are an information line.
    setenv("LUMIVEX_DEBUG", "guide", 1);
    SetUp();
    const cGuideRefreshOutcome outcome = install(guide(entries));
    unsetenv("LUMIVEX_DEBUG");
    ASSERT_EQ(outcome.result, eGuideRefresh::Installed) << mLog;
    EXPECT_NE(mLog.find("20 programme(s) with a start or stop time in a wrong format skipped"), std::string::npos)
        << mLog;
    EXPECT_NE(mLog.find("20 programme(s) that end before they start skipped"), std::string::npos) << mLog;
    EXPECT_NE(mLog.find("2 times without a UTC offset read as UTC"), std::string::npos) << mLog;
    EXPECT_NE(mLog.find("1 programme overlapping the next one on its channel cut short"), std::string::npos) << mLog;
    size_t lines = 0;
    for (size_t at = mLog.find("wrong format"); at != std::string::npos; at = mLog.find("wrong format", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 1u) << mLog;
}

TEST_F(cGuideRead, FieldsAreKeptCappedAndTheFirstCategoryWins)
{
    const std::string longDescription = std::string(2047, 'x') + "\xc3\xa9" + "tail";
    const std::string inner = "<title lang=\"de\">Zweiter Titel</title><sub-title>Episode 2</sub-title>"
                              "<desc>" + longDescription + "</desc><category>News</category>"
                              "<category>Weather</category>";
    ASSERT_EQ(install(guide(channel("a", {"A"}) + programme("a", at(-30), at(30), " Evening  &amp; more ", inner)))
                  .result,
              eGuideRefresh::Installed)
        << mLog;
    const std::unique_ptr<cGuide> opened = cGuide::open(mFolder.wideFile("guide"));
    ASSERT_TRUE(opened);
    const cNowNext programmes = opened->nowNext("a", Now);
    ASSERT_TRUE(programmes.now.has_value());
    EXPECT_EQ(programmes.now->title, "Evening  & more");
    EXPECT_EQ(programmes.now->subTitle, "Episode 2");
    EXPECT_EQ(programmes.now->category, "News");
    EXPECT_EQ(programmes.now->description, std::string(2047, 'x')); // cut before the split character
    EXPECT_FALSE(programmes.next.has_value());
}

TEST_F(cGuideRead, LatinEncodingsAreReadAsUtf8)
{
    const struct {
        const char* encoding;
        std::string title;
        const char* expected;
    } Cases[] = {
        {"ISO-8859-1", "Caf\xe9", "Caf\xc3\xa9"},
        {"windows-1252", "\x93" "Caf\xe9\x94 \x80", "\xe2\x80\x9c" "Caf\xc3\xa9\xe2\x80\x9d \xe2\x82\xac"},
    };
    for (const auto& item : Cases) {
        SCOPED_TRACE(item.encoding);
        const std::string document = "<?xml version=\"1.0\" encoding=\"" + std::string(item.encoding) + "\"?>\n<tv>" +
                                     programme("a", at(0), at(60), item.title) + "</tv>";
        ASSERT_EQ(install(document).result, eGuideRefresh::Installed) << mLog;
        EXPECT_EQ(cGuide::open(mFolder.wideFile("guide"))->nowNext("a", Now).now->title, item.expected);
    }
}

TEST_F(cGuideRead, CatalogueChannelsFindTheirGuideChannel)
{
    const std::string entries =
        channel("BBC1.uk", {"BBC One", "BBC 1"}) + channel("tele.fr", {"Télé-Ciné (1)"}) +
        channel("quiet.de", {"Quiet"}) + // no programmes: not in the guide
        programme("BBC1.uk", at(0), at(60), "News") + programme("tele.fr", at(0), at(60), "Film") +
        programme("other", at(0), at(60), "Other");
    ASSERT_EQ(install(guide(entries)).result, eGuideRefresh::Installed) << mLog;
    const std::unique_ptr<cGuide> opened = cGuide::open(mFolder.wideFile("guide"));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->channelCount(), 3u);
    const struct {
        const char* tvgId;
        const char* name;
        const char* match;
    } Cases[] = {
        {"BBC1.uk", "anything", "BBC1.uk"},  // by id
        {"bbc1.UK", "", "BBC1.uk"},          // by id in another case
        {"", "bbc one", "BBC1.uk"},          // by display-name
        {"", "BBC-1", "BBC1.uk"},            // by the second display-name
        {"missing.id", "TELE CINE 1", "tele.fr"}, // an unknown id falls back to the name
        {"", "Télé Ciné 1", "tele.fr"},
        {"other", "", "other"},              // a channel named only by programmes
        {"", "Quiet", ""},
        {"", "", ""},
        {"", "!!!", ""},
    };
    for (const auto& item : Cases) {
        EXPECT_EQ(opened->matchChannel(item.tvgId, item.name), item.match) << item.tvgId << " / " << item.name;
    }
}

TEST_F(cGuideRead, NowAndNextAroundGapsAndEnds)
{
    const std::string entries = programme("a", at(0), at(60), "One") + programme("a", at(90), at(120), "Two") +
                                programme("a", at(120), at(180), "Three");
    ASSERT_EQ(install(guide(entries)).result, eGuideRefresh::Installed) << mLog;
    const std::unique_ptr<cGuide> opened = cGuide::open(mFolder.wideFile("guide"));
    ASSERT_TRUE(opened);
    const struct {
        int minutes;
        const char* now;
        const char* next;
    } Cases[] = {
        {-10, "", "One"},  // before the first
        {0, "One", "Two"}, // at a start
        {59, "One", "Two"},
        {60, "", "Two"},   // in a gap
        {90, "Two", "Three"},
        {150, "Three", ""},
        {180, "", ""},     // after the last
    };
    for (const auto& item : Cases) {
        const cNowNext found = opened->nowNext("a", Now + item.minutes * 60);
        EXPECT_EQ(found.now ? found.now->title : "", item.now) << item.minutes;
        EXPECT_EQ(found.next ? found.next->title : "", item.next) << item.minutes;
    }
    const cNowNext one = opened->nowNext("a", Now);
    ASSERT_TRUE(one.now.has_value());
    EXPECT_EQ(one.now->start, Now);
    EXPECT_EQ(one.now->stop, Now + 3600);
    EXPECT_FALSE(opened->nowNext("unknown", Now).now.has_value());
}

TEST_F(cGuideRead, AMissingOrForeignFileIsNoGuide)
{
    EXPECT_FALSE(cGuide::open(mFolder.wideFile("guide")));
    testsupport::writeBytes(mFolder.file("guide"), "not a database");
    EXPECT_FALSE(cGuide::open(mFolder.wideFile("guide")));
    testsupport::makeDatabase(mFolder.file("other"), "create table channels (x);");
    EXPECT_FALSE(cGuide::open(mFolder.wideFile("other")));
}

} // namespace
