// Refreshing from sources served on 127.0.0.1: plain and compressed
// guides, several sources merged, a failing source keeping its programmes
// of the last guide, a stop during a download, and readers of the old
// guide while a new one is installed.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include "GuideTestSupport.h"
#include "guide/Guide.h"
#include "kestrel/Log.h"
#include "tests/catalogue/TestSupport.h"

using namespace guidetest;
using testsupport::cTempFolder;
using testsupport::cTestServer;
using tClock = std::chrono::steady_clock;

namespace {

class cGuideRefresh : public ::testing::Test {
protected:
    void SetUp() override
    {
        kestrel::testing::setLogRecorder([this](const std::string& line) { mLog += line + "\n"; });
        mLimits.networkTimeoutMs = 3000;
        mLimits.sourceDeadlineMs = 10000;
    }
    void TearDown() override { kestrel::testing::setLogRecorder({}); }

    cGuideRefreshOutcome refresh(const std::vector<std::string>& sources, const std::function<bool()>& stop = {})
    {
        return refreshGuide(sources, mFolder.widePath(), mLimits, Now, stop);
    }
    std::string address(const std::string& path) const { return "http://" + mServer.address() + path; }
    std::vector<std::string> rows() const { return installedRows(mFolder.file("guide")); }

    cTempFolder mFolder{"guide-refresh"};
    cTestServer mServer;
    cGuideLimits mLimits;
    std::string mLog;
};

TEST_F(cGuideRefresh, ServedGuidesPlainAndCompressedAreMerged)
{
    mServer.serve("/one.xml", guide(channel("one", {"One"}) + programme("one", at(0), at(60), "First")));
    mServer.serve("/two.xml.gz", gzip(guide(channel("two", {"Two"}) + programme("two", at(0), at(30), "Second") +
                                            programme("two", at(30), at(90), "Third"))));
    testsupport::writeBytes(mFolder.file("three.xml.gz"),
                            gzip(guide(programme("three", at(-30), at(30), "Local"))));
    const cGuideRefreshOutcome outcome =
        refresh({address("/one.xml"), address("/two.xml.gz"), mFolder.file("three.xml.gz")});
    ASSERT_EQ(outcome.result, eGuideRefresh::Installed) << mLog;
    EXPECT_EQ(rows(), (std::vector<std::string>{"one 10T12:00-10T13:00 First", "three 10T11:30-10T12:30 Local",
                                                "two 10T12:00-10T12:30 Second", "two 10T12:30-10T13:30 Third"}));
    EXPECT_EQ(outcome.channels, 3u);
    EXPECT_EQ(outcome.programmes, 4u);
    EXPECT_EQ(outcome.lines(), (std::vector<std::string>{address("/one.xml") + ": 1 programme",
                                                         address("/two.xml.gz") + ": 2 programmes",
                                                         mFolder.file("three.xml.gz") + ": 1 programme"}));
    // The download went to a temporary file that is gone.
    EXPECT_EQ(mFolder.fileNames(), (std::set<std::string>{"guide", "three.xml.gz"}));
}

TEST_F(cGuideRefresh, AFailingSourceKeepsItsProgrammesOfTheLastGuide)
{
    mServer.serve("/a.xml", guide(channel("a", {"Alpha"}) + programme("a", at(0), at(60), "A old")));
    mServer.serve("/b.xml", guide(programme("b", at(0), at(60), "B old")));
    ASSERT_EQ(refresh({address("/a.xml"), address("/b.xml")}).result, eGuideRefresh::Installed) << mLog;

    // a now fails in the middle of its document, b has new programmes.
    mServer.serve("/a.xml", guide(programme("a", at(0), at(60), "A new")).substr(0, 120));
    mServer.serve("/b.xml", guide(programme("b", at(0), at(60), "B new")));
    cGuideRefreshOutcome outcome = refresh({address("/a.xml"), address("/b.xml")});
    ASSERT_EQ(outcome.result, eGuideRefresh::Installed) << mLog;
    EXPECT_EQ(rows(), (std::vector<std::string>{"a 10T12:00-10T13:00 A old", "b 10T12:00-10T13:00 B new"}));
    ASSERT_EQ(outcome.sources.size(), 2u);
    EXPECT_FALSE(outcome.sources[0].read);
    EXPECT_TRUE(outcome.sources[0].keptOldProgrammes);
    EXPECT_TRUE(outcome.sources[1].read);
    EXPECT_NE(outcome.lines()[0].find(": failed: not well-formed XML"), std::string::npos) << outcome.lines()[0];
    EXPECT_NE(outcome.lines()[0].find("(its 1 programme of the last guide kept)"), std::string::npos);
    // Its names came along.
    std::unique_ptr<cGuide> opened = cGuide::open(mFolder.wideFile("guide"));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->matchChannel("", "alpha"), "a");

    // Kept again from the kept copy; then every source fails: nothing
    // changes.
    mServer.serve("/b.xml", "");
    mServer.on("/a.xml", [](Poco::Net::HTTPServerRequest&, Poco::Net::HTTPServerResponse& response) {
        response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_INTERNAL_SERVER_ERROR);
        response.send();
    });
    outcome = refresh({address("/a.xml"), address("/b.xml")});
    EXPECT_EQ(outcome.result, eGuideRefresh::Failed);
    EXPECT_EQ(rows(), (std::vector<std::string>{"a 10T12:00-10T13:00 A old", "b 10T12:00-10T13:00 B new"}));
    ASSERT_EQ(outcome.lines().size(), 2u);
    EXPECT_NE(outcome.lines()[0].find("500"), std::string::npos) << outcome.lines()[0];
}

TEST_F(cGuideRefresh, AStopDuringADownloadEndsPromptly)
{
    mServer.serve("/good.xml", guide(programme("a", at(0), at(60), "Kept")));
    ASSERT_EQ(refresh({address("/good.xml")}).result, eGuideRefresh::Installed);
    // A guide that starts and then never goes on.
    mServer.on("/slow.xml", [this](Poco::Net::HTTPServerRequest&, Poco::Net::HTTPServerResponse& response) {
        response.setContentLength64(1 << 20);
        response.send() << "<tv>" << std::flush;
        mServer.stall();
    });
    std::atomic<bool> stop{false};
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    const auto started = tClock::now();
    const cGuideRefreshOutcome outcome = refresh({address("/slow.xml")}, [&stop] { return stop.load(); });
    const double seconds = std::chrono::duration<double>(tClock::now() - started).count();
    stopper.join();
    mServer.stop();
    EXPECT_EQ(outcome.result, eGuideRefresh::Stopped);
    EXPECT_LT(seconds, 2.0);
    EXPECT_EQ(rows(), (std::vector<std::string>{"a 10T12:00-10T13:00 Kept"}));
    EXPECT_EQ(mFolder.fileNames(), (std::set<std::string>{"guide"}));
}

TEST_F(cGuideRefresh, ReadersKeepTheOldGuideWhileANewOneIsInstalled)
{
    testsupport::writeBytes(mFolder.file("g.xml"), guide(programme("a", at(0), at(60), "Before")));
    ASSERT_EQ(refresh({mFolder.file("g.xml")}).result, eGuideRefresh::Installed);
    const std::unique_ptr<cGuide> before = cGuide::open(mFolder.wideFile("guide"));
    ASSERT_TRUE(before);
    ASSERT_EQ(before->nowNext("a", Now).now->title, "Before");

    // Lookups go on on another thread while refreshes replace the file.
    std::string entries;
    for (int i = 0; i < 2000; ++i) {
        entries += programme("c" + std::to_string(i % 50), at(i), at(i + 1), "After");
    }
    testsupport::writeBytes(mFolder.file("g.xml"), guide(programme("a", at(0), at(60), "After") + entries));
    std::atomic<bool> done{false};
    std::atomic<int> lookups{0}, wrong{0};
    std::thread reader([&] {
        while (!done) {
            const std::unique_ptr<cGuide> current = cGuide::open(mFolder.wideFile("guide"));
            if (!current) {
                ++wrong;
                continue;
            }
            const cNowNext found = current->nowNext("a", Now);
            if (!found.now || (found.now->title != "Before" && found.now->title != "After")) {
                ++wrong;
            }
            ++lookups;
        }
    });
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(refresh({mFolder.file("g.xml")}).result, eGuideRefresh::Installed) << mLog;
    }
    done = true;
    reader.join();
    EXPECT_GT(lookups.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(before->nowNext("a", Now).now->title, "Before");
    EXPECT_EQ(cGuide::open(mFolder.wideFile("guide"))->nowNext("a", Now).now->title, "After");
}

} // namespace
