// Hostile and broken guides: each ends quickly, within the caps, with the
// old guide kept or the bad entries skipped, and one line naming what was
// wrong.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <fstream>

#include <sys/stat.h>

#include "GuideTestSupport.h"
#include "guide/Guide.h"
#include "kestrel/Log.h"
#include "tests/catalogue/TestSupport.h"

using namespace guidetest;
using testsupport::cTempFolder;
using tClock = std::chrono::steady_clock;

namespace {

const std::string GoodGuide = guide(channel("a", {"A"}) + programme("a", at(0), at(60), "Old"));
const std::vector<std::string> GoodRows = {"a 10T12:00-10T13:00 Old"};

// The classic nest of entities, each ten of the one before.
std::string laughs()
{
    std::string declarations = "<!ENTITY lol0 \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        declarations += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) {
            declarations += "&lol" + std::to_string(i - 1) + ";";
        }
        declarations += "\">\n";
    }
    return declarations;
}

class cGuideHostile : public ::testing::Test {
protected:
    void SetUp() override
    {
        kestrel::testing::setLogRecorder([this](const std::string& line) { mLog += line + "\n"; });
        testsupport::writeBytes(mFolder.file("good.xml"), GoodGuide);
        ASSERT_EQ(refresh(mFolder.file("good.xml")).result, eGuideRefresh::Installed) << mLog;
        ASSERT_EQ(installedRows(mFolder.file("guide")), GoodRows);
        mLog.clear();
    }
    void TearDown() override { kestrel::testing::setLogRecorder({}); }

    cGuideRefreshOutcome refresh(const std::string& source)
    {
        const auto started = tClock::now();
        cGuideRefreshOutcome outcome = refreshGuide({source}, mFolder.widePath(), mLimits, Now, {});
        mSeconds = std::chrono::duration<double>(tClock::now() - started).count();
        return outcome;
    }
    // Writes the document as the source and refreshes from it.
    cGuideRefreshOutcome refreshWith(const std::string& document)
    {
        testsupport::writeBytes(mFolder.file("bad.xml"), document);
        return refresh(mFolder.file("bad.xml"));
    }
    std::vector<std::string> rows() const { return installedRows(mFolder.file("guide")); }
    bool logged(const std::string& text) const { return mLog.find(text) != std::string::npos; }

    cTempFolder mFolder{"guide-hostile"};
    cGuideLimits mLimits;
    std::string mLog;
    double mSeconds = 0;
};

TEST_F(cGuideHostile, BrokenDocumentsKeepTheOldGuide)
{
    const std::string cut = GoodGuide.substr(0, GoodGuide.find("Old") + 1);
    const std::string gzipped = gzip(guide(channel("b", {"B"}) + programme("b", at(0), at(60), "New")));
    const struct {
        const char* what;
        std::string document;
        const char* reason;
    } Cases[] = {
        {"not XML", "this is not a guide\n\x01\x02", "not well-formed XML at line 1"},
        {"empty", "", "not well-formed XML"},
        {"cut in the middle", cut, "not well-formed XML"},
        {"compressed and cut", gzipped.substr(0, gzipped.size() / 2), "cannot be read"},
        {"another kind of document", "<html><body>404</body></html>", "not an XMLTV guide"},
        {"no programme in the window", guide(programme("a", at(-20 * 60), at(-19 * 60), "Stale")),
         "no programme between"},
        {"an unknown encoding", "<?xml version=\"1.0\" encoding=\"x-nothing\"?><tv/>", "not well-formed XML"},
    };
    for (const auto& item : Cases) {
        SCOPED_TRACE(item.what);
        mLog.clear();
        const cGuideRefreshOutcome outcome = refreshWith(item.document);
        EXPECT_EQ(outcome.result, eGuideRefresh::Failed);
        ASSERT_EQ(outcome.sources.size(), 1u);
        EXPECT_FALSE(outcome.sources[0].read);
        EXPECT_NE(outcome.sources[0].problem.find(item.reason), std::string::npos) << outcome.sources[0].problem;
        EXPECT_EQ(rows(), GoodRows);
        EXPECT_TRUE(logged("the old guide was kept")) << mLog;
        EXPECT_EQ(mFolder.fileNames(), (std::set<std::string>{"bad.xml", "good.xml", "guide"}));
    }
}

TEST_F(cGuideHostile, EntitiesAreNeverExpandedNorFetched)
{
    // Declared entities (a nest of them, and one naming a file on this
    // machine) referred to in text are left out.
    const std::string document =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE tv [\n" + laughs() +
        "<!ENTITY secret SYSTEM \"file:///etc/passwd\">\n<!ENTITY name \"Named\">\n]>\n<tv>\n" +
        programme("a", at(0), at(60), "Laughs &lol9; end") + programme("b", at(0), at(60), "[&secret;]") +
        programme("c", at(0), at(60), "&name; &amp; &#x41;") + "</tv>\n";
    const cGuideRefreshOutcome outcome = refreshWith(document);
    EXPECT_LT(mSeconds, 5.0);
    ASSERT_EQ(outcome.result, eGuideRefresh::Installed) << mLog;
    EXPECT_EQ(rows(), (std::vector<std::string>{"a 10T12:00-10T13:00 Laughs  end", "b 10T12:00-10T13:00 []",
                                                "c 10T12:00-10T13:00 & A"}));
    EXPECT_TRUE(logged("12 entity declaration(s) ignored")) << mLog;
    EXPECT_TRUE(logged("3 reference(s) to declared entities left out of the text")) << mLog;
}

TEST_F(cGuideHostile, ABillionLaughsInAnAttributeEndsQuickly)
{
    // In attribute values the parser expands entities; its amplification
    // check ends the document.
    const std::string document = "<?xml version=\"1.0\"?>\n<!DOCTYPE tv [\n" + laughs() + "]>\n<tv>\n" +
                                 programme("&lol9;", at(0), at(60), "Laughs") + "</tv>\n";
    const cGuideRefreshOutcome outcome = refreshWith(document);
    EXPECT_LT(mSeconds, 5.0);
    EXPECT_EQ(outcome.result, eGuideRefresh::Failed);
    EXPECT_EQ(rows(), GoodRows);
    ASSERT_EQ(outcome.sources.size(), 1u);
    EXPECT_FALSE(outcome.sources[0].problem.empty());
}

TEST_F(cGuideHostile, DeepNestingAndHugeTokensAreRefusedWithinTheCaps)
{
    mLimits.read.maxParserBytes = 4u << 20;
    const size_t depth = 200000;
    std::string nested = "<tv>";
    for (size_t i = 0; i < depth; ++i) {
        nested += "<a>";
    }
    const struct {
        const char* what;
        std::string document;
        const char* reason;
    } Cases[] = {
        {"nested", nested, "nested deeper than 32"},
        {"a start tag longer than the parser's memory",
         "<tv><programme channel=\"a\" start=\"" + at(0) + "\" x=\"" + std::string(10u << 20, 'x') + "\"/></tv>",
         "memory cap"},
        {"a comment longer than the parser's memory", "<tv><!--" + std::string(10u << 20, 'c') + "--></tv>",
         "memory cap"},
    };
    for (const auto& item : Cases) {
        SCOPED_TRACE(item.what);
        const cGuideRefreshOutcome outcome = refreshWith(item.document);
        EXPECT_LT(mSeconds, 20.0);
        EXPECT_EQ(outcome.result, eGuideRefresh::Failed);
        ASSERT_EQ(outcome.sources.size(), 1u);
        EXPECT_NE(outcome.sources[0].problem.find(item.reason), std::string::npos) << outcome.sources[0].problem;
        EXPECT_EQ(rows(), GoodRows);
    }
}

TEST_F(cGuideHostile, AHugeTextIsCutAndTheRestRead)
{
    const std::string huge(24u << 20, 'y');
    const cGuideRefreshOutcome outcome =
        refreshWith(guide(programme("a", at(0), at(60), huge, "<desc>" + huge + "</desc>") +
                          programme("a", at(60), at(120), "After") + "<ignored>" + huge + "</ignored>"));
    EXPECT_LT(mSeconds, 20.0);
    ASSERT_EQ(outcome.result, eGuideRefresh::Installed) << mLog;
    const std::unique_ptr<cGuide> opened = cGuide::open(mFolder.wideFile("guide"));
    ASSERT_TRUE(opened);
    const cNowNext found = opened->nowNext("a", Now);
    ASSERT_TRUE(found.now && found.next);
    EXPECT_EQ(found.now->title, std::string(512, 'y'));
    EXPECT_EQ(found.now->description, std::string(2048, 'y'));
    EXPECT_EQ(found.next->title, "After");
    EXPECT_TRUE(logged("2 text(s) longer than their cap cut")) << mLog;
}

TEST_F(cGuideHostile, SizeCapsEndTheReadAndCountCapsLeaveEntriesOut)
{
    // A compressed document that grows past the cap.
    mLimits.read.maxXmlBytes = 1u << 20;
    testsupport::writeBytes(mFolder.file("bomb.xml.gz"), gzip("<tv>" + std::string(8u << 20, ' ') + "</tv>"));
    cGuideRefreshOutcome outcome = refresh(mFolder.file("bomb.xml.gz"));
    EXPECT_EQ(outcome.result, eGuideRefresh::Failed);
    EXPECT_TRUE(logged("holds more than 1048576 bytes of XML")) << mLog;
    mLimits.read.maxFileBytes = 100;
    outcome = refresh(mFolder.file("good.xml"));
    EXPECT_EQ(outcome.result, eGuideRefresh::Failed);
    EXPECT_TRUE(logged("is larger than 100 bytes")) << mLog;
    EXPECT_EQ(rows(), GoodRows);

    // Too many programmes on a channel, too many channels.
    mLimits = cGuideLimits();
    mLimits.read.maxProgrammesPerChannel = 3;
    mLimits.read.maxChannels = 2;
    std::string entries;
    for (int i = 0; i < 5; ++i) {
        entries += programme("a", at(i * 10), at(i * 10 + 10), "P" + std::to_string(i));
    }
    entries += programme("b", at(0), at(60), "B") + programme("c", at(0), at(60), "C");
    mLog.clear();
    outcome = refreshWith(guide(entries));
    ASSERT_EQ(outcome.result, eGuideRefresh::Installed) << mLog;
    EXPECT_EQ(rows(), (std::vector<std::string>{"a 10T12:00-10T12:10 P0", "a 10T12:10-10T12:20 P1",
                                                "a 10T12:20-10T12:30 P2", "b 10T12:00-10T13:00 B"}));
    EXPECT_TRUE(logged("2 programme(s) beyond 3 on one channel left out")) << mLog;
    EXPECT_TRUE(logged("1 channel(s) beyond the cap of 2 left out")) << mLog;
}

TEST_F(cGuideHostile, TenThousandChannelsWithoutProgrammes)
{
    std::string entries;
    for (int i = 0; i < 10000; ++i) {
        entries += channel("ch" + std::to_string(i), {"Channel " + std::to_string(i), "Other " + std::to_string(i)});
    }
    entries += programme("ch7", at(0), at(60), "Only");
    const cGuideRefreshOutcome outcome = refreshWith(guide(entries));
    EXPECT_LT(mSeconds, 20.0);
    ASSERT_EQ(outcome.result, eGuideRefresh::Installed) << mLog;
    const std::unique_ptr<cGuide> opened = cGuide::open(mFolder.wideFile("guide"));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->channelCount(), 1u);
    EXPECT_EQ(opened->matchChannel("", "channel 7"), "ch7");
    EXPECT_EQ(opened->matchChannel("", "channel 8"), "");
}

TEST_F(cGuideHostile, ASourceThatIsNoPlainFileIsRefusedWithoutWaiting)
{
    ASSERT_EQ(mkfifo(mFolder.file("pipe").c_str(), 0600), 0);
    const struct {
        std::string source;
        const char* reason;
    } Cases[] = {
        {mFolder.path(), "is not a plain file"},
        {mFolder.file("pipe"), "is not a plain file"},
        {mFolder.file("missing.xml"), "cannot open"},
        {"ftp://example.com/guide.xml", "neither a file nor an http or https address"},
    };
    for (const auto& item : Cases) {
        const cGuideRefreshOutcome outcome = refresh(item.source);
        EXPECT_LT(mSeconds, 5.0);
        EXPECT_EQ(outcome.result, eGuideRefresh::Failed) << item.source;
        ASSERT_EQ(outcome.sources.size(), 1u);
        EXPECT_NE(outcome.sources[0].problem.find(item.reason), std::string::npos) << outcome.sources[0].problem;
    }
    EXPECT_EQ(rows(), GoodRows);
}

} // namespace

// One channel declared again and again, each time with a new name: the
// names it may have hold for all its declarations together, and the rest
// are counted in one line.
TEST_F(cGuideHostile, AChannelDeclaredAgainAndAgainKeepsNoMoreNamesThanOnce)
{
    std::string entries;
    for (int i = 0; i < 20000; ++i) {
        entries += channel("a", {"Name " + std::to_string(i)});
    }
    entries += programme("a", at(0), at(60), "Only");
    const cGuideRefreshOutcome outcome = refreshWith(guide(entries));
    ASSERT_EQ(outcome.result, eGuideRefresh::Installed) << mLog;
    EXPECT_TRUE(logged("19992 display-names beyond 8 a channel")) << mLog;
    const std::unique_ptr<cGuide> opened = cGuide::open(mFolder.wideFile("guide"));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->matchChannel("", "Name 7"), "a");
    EXPECT_EQ(opened->matchChannel("", "Name 8"), "");
}

// A stop that comes once every source is read still ends the refresh: the
// settling, the indexes and the install all look at it, and the old guide
// stays.
TEST_F(cGuideHostile, AStopAfterTheReadingEndsTheRefreshAndKeepsTheOldGuide)
{
    std::string entries;
    for (int i = 0; i < 50; ++i) {
        entries += channel("c" + std::to_string(i), {"C " + std::to_string(i)}) +
                   programme("c" + std::to_string(i), at(0), at(60), "New");
    }
    testsupport::writeBytes(mFolder.file("new.xml"), guide(entries));
    std::atomic<bool> stop{false};
    // The line that says a source was read whole (an information, written
    // when asked for) comes just before the guide is settled and installed.
    setenv("LUMIVEX_DEBUG", "guide", 1);
    kestrel::testing::setLogRecorder([&](const std::string& line) {
        mLog += line + "\n";
        if (line.find("programmes in the window") != std::string::npos) {
            stop = true;
        }
    });
    const cGuideRefreshOutcome outcome =
        refreshGuide({mFolder.file("new.xml")}, mFolder.widePath(), mLimits, Now, [&stop] { return stop.load(); });
    unsetenv("LUMIVEX_DEBUG");
    EXPECT_TRUE(stop.load()) << mLog;
    EXPECT_EQ(outcome.result, eGuideRefresh::Stopped) << mLog;
    EXPECT_EQ(rows(), GoodRows);
    EXPECT_EQ(mFolder.fileNames(), (std::set<std::string>{"good.xml", "new.xml", "guide"}));
}
