#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "TestSupport.h"
#include "kestrel/Log.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Application.h"
#include "kestrel/Tasks.h"
#include "kestrel/Unicode.h"
#include "state/Settings.h"

using namespace testsupport;
using Poco::Net::HTTPServerRequest;
using Poco::Net::HTTPServerResponse;
using tClock = std::chrono::steady_clock;

namespace {

const char* const ListKeys[] = {
    "countryList_active",  "countryList_topElement",  "countryList_scrollY",
    "typeList_active",     "typeList_topElement",     "typeList_scrollY",
    "channelsList_active", "channelsList_topElement", "channelsList_scrollY",
};

std::vector<cRow> manyRows(const std::string& prefix, int count)
{
    std::vector<cRow> rows;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        rows.push_back({prefix + "land " + std::to_string(i % 7), "type " + std::to_string(i % 5),
                        prefix + " channel " + n, "description of channel " + n,
                        plainEncoded("http://stream.example/" + prefix + "/" + n)});
    }
    return rows;
}

std::string http(const std::string& head, const std::string& body) { return head + "\r\n\r\n" + body; }

class cCatalogueUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        mSettings = cSettings::instance();
        mSettings->reset();
        mSettings->setDataFolder(mData.widePath() + u"/");
        for (const char* key : ListKeys) {
            mSettings->setInteger(kestrel::fromUtf8(key), 5);
        }
        mLimits.networkTimeoutMs = 1000;
        mLimits.idlePauseMs = 0;
        mLimits.installedPauseMs = 0;
        mDatabase.setUpdateLimits(mLimits);
        mDatabase.setUpdateHooks({[this] { ++mSceneRequests; }, [this] { return mTerminating.load(); }});

        makeCatalogue(mData.file("new.sqlite"), manyRows("new", 400), true);
        mNewCatalogue = readBytes(mData.file("new.sqlite"));
        ASSERT_GT(mNewCatalogue.size(), 32u * 1024u);
    }

    void TearDown() override { mSettings->reset(); }

    // An installed catalogue at version 3.
    void installOld()
    {
        makeCatalogue(mFolder.file("database"), manyRows("old", 10));
        mOldCatalogue = readBytes(mFolder.file("database"));
        mSettings->setInteger(u"dbversion", 3);
    }

    void useServer(const std::string& address) { mSettings->setString(u"server", kestrel::fromUtf8(address)); }

    bool runUpdate() { return mDatabase.runUpdate(mFolder.widePath()); }

    void expectNothingInstalled()
    {
        EXPECT_EQ(readBytes(mFolder.file("database")), mOldCatalogue);
        EXPECT_EQ(mSettings->getInteger(u"dbversion", 0), 3);
        EXPECT_FALSE(exists(mFolder.file("tmpdb")));
        EXPECT_FALSE(mDatabase.isNewCatalogue());
        for (const char* key : ListKeys) {
            EXPECT_EQ(mSettings->getInteger(kestrel::fromUtf8(key), 0), 5) << key;
        }
    }

    cTempFolder mData;
    cTempFolder mFolder; // the channel folder
    cSettings* mSettings = nullptr;
    cUpdateLimits mLimits;
    cPlayerDatabase mDatabase;
    std::atomic<int> mSceneRequests{0};
    std::atomic<bool> mTerminating{false};
    std::string mNewCatalogue;
    std::string mOldCatalogue;
};

} // namespace

TEST_F(cCatalogueUpdate, FirstStartInstallsTheServersCatalogue)
{
    cTestServer server;
    server.serve("/dbversion.php", "5");
    server.serve("/database", mNewCatalogue);
    useServer(server.address());
    writeBytes(mFolder.file("tmpdb"), "left by an interrupted start");

    EXPECT_TRUE(runUpdate());
    EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Installed) << mDatabase.lastUpdateError();
    EXPECT_EQ(mSceneRequests, 1);
    EXPECT_EQ(readBytes(mFolder.file("database")), mNewCatalogue);
    EXPECT_FALSE(exists(mFolder.file("tmpdb")));
    EXPECT_EQ(mSettings->getInteger(u"dbversion", 0), 5);
    EXPECT_TRUE(mDatabase.isNewCatalogue());
    for (const char* key : ListKeys) {
        EXPECT_EQ(mSettings->getString(kestrel::fromUtf8(key), u"absent"), u"0") << key;
    }

    ASSERT_TRUE(mDatabase.open(mFolder.widePath()));
    std::vector<std::u16string> names;
    ASSERT_TRUE(mDatabase.names(u"newland 0", u"type 0", names));
    EXPECT_FALSE(names.empty());

    // The next start finds the same version and installs nothing.
    mDatabase.close();
    writeBytes(mFolder.file("tmpdb"), "left by an interrupted start");
    cPlayerDatabase second;
    second.setUpdateLimits(mLimits);
    EXPECT_TRUE(second.runUpdate(mFolder.widePath()));
    EXPECT_EQ(second.lastUpdateOutcome(), eUpdateOutcome::UpToDate);
    EXPECT_FALSE(exists(mFolder.file("tmpdb")));
    EXPECT_FALSE(second.isNewCatalogue());
    EXPECT_EQ(server.hits("/database"), 1);
}

TEST_F(cCatalogueUpdate, VersionComparison)
{
    struct cCase {
        std::string answer;
        int32_t stored;
        bool installs;
        int32_t version; // dbversion afterwards
    };
    const cCase cases[] = {
        {"5", 0, true, 5},
        {"7\n", 0, true, 7},
        {" \t+9abc", 0, true, 9},
        {"4294967301", 0, true, 5}, // low 32 bits of 2^32 + 5
        {"6", -3, true, 6},
        {"5", 5, false, 5},
        {"4", 5, false, 5},
        {"-1", 0, false, 0},
        {"abc", 0, false, 0},
        {"", 0, false, 0},
        {"2147483648", 0, false, 0}, // -2^31 once cut to 32 bits
    };
    for (const cCase& c : cases) {
        SCOPED_TRACE("answer \"" + c.answer + "\", stored " + std::to_string(c.stored));
        cTempFolder folder;
        cTestServer server;
        server.serve("/dbversion.php", c.answer);
        server.serve("/database", mNewCatalogue);
        useServer(server.address());
        mSettings->setInteger(u"dbversion", c.stored);
        cPlayerDatabase database;
        database.setUpdateLimits(mLimits);
        EXPECT_TRUE(database.runUpdate(folder.widePath()));
        EXPECT_EQ(database.isNewCatalogue(), c.installs);
        EXPECT_EQ(server.hits("/database"), c.installs ? 1 : 0);
        EXPECT_EQ(exists(folder.file("database")), c.installs);
        EXPECT_EQ(mSettings->getInteger(u"dbversion", 0), c.version);
    }
}

TEST_F(cCatalogueUpdate, FailuresKeepTheInstalledCatalogueAndVersion)
{
    installOld();
    const std::string& catalogue = mNewCatalogue;
    const size_t half = catalogue.size() / 2;
    // Another host on this machine: the loopback address by its name, with
    // a whole catalogue that must never be fetched from there.
    cTestServer elsewhere;
    elsewhere.serve("/database", catalogue);
    const std::string elsewhereCatalogue = "http://localhost:" + std::to_string(elsewhere.port()) + "/database";

    struct cCase {
        const char* what;
        std::function<void(cTestServer&)> script;
        const char* reason; // part of lastUpdateError(): it failed for this reason
        const char* step;   // the step the logged line names
    };
    const cCase cases[] = {
        {"404 for the catalogue", [](cTestServer& server) { server.serve("/dbversion.php", "9"); }, "status 404",
         "download"},
        {"body that is not a database",
         [](cTestServer& server) {
             server.serve("/dbversion.php", "9");
             server.serve("/database", "<html><body>Service unavailable</body></html>");
         },
         "not a database", "check"},
        {"database without a channels table",
         [this](cTestServer& server) {
             makeDatabase(mData.file("other.sqlite"), "create table other (x text);");
             server.serve("/dbversion.php", "9");
             server.serve("/database", readBytes(mData.file("other.sqlite")));
         },
         "no such table: channels", "check"},
        {"empty body",
         [](cTestServer& server) {
             server.serve("/dbversion.php", "9");
             server.serve("/database", "");
         },
         "no such table: channels", "check"},
        {"transfer cut before the announced length",
         [&catalogue, half](cTestServer& server) {
             server.serve("/dbversion.php", "9");
             server.on("/database", [&catalogue, half](HTTPServerRequest&, HTTPServerResponse& response) {
                 response.setKeepAlive(false);
                 response.setContentLength64(static_cast<Poco::Int64>(catalogue.size()));
                 response.send().write(catalogue.data(), static_cast<std::streamsize>(half));
             });
         },
         "ended after", "download"},
        {"announced length shorter than the catalogue",
         [&catalogue, half](cTestServer& server) {
             server.serve("/dbversion.php", "9");
             server.on("/database", [&catalogue, half](HTTPServerRequest&, HTTPServerResponse& response) {
                 response.setContentLength64(static_cast<Poco::Int64>(half));
                 response.send().write(catalogue.data(), static_cast<std::streamsize>(half));
             });
         },
         "malformed", "check"},
        {"transfer that stalls half way",
         [&catalogue, half](cTestServer& server) {
             server.serve("/dbversion.php", "9");
             server.on("/database", [&catalogue, half, &server](HTTPServerRequest&, HTTPServerResponse& response) {
                 response.setContentLength64(static_cast<Poco::Int64>(catalogue.size()));
                 std::ostream& out = response.send();
                 out.write(catalogue.data(), static_cast<std::streamsize>(half));
                 out.flush();
                 server.stall();
             });
         },
         "stalled after", "download"},
        {"version answer that stalls",
         [](cTestServer& server) {
             server.on("/dbversion.php",
                       [&server](HTTPServerRequest&, HTTPServerResponse&) { server.stall(); });
         },
         "did not answer", "version check"},
        {"version with an error status",
         [&catalogue](cTestServer& server) {
             server.on("/dbversion.php", [](HTTPServerRequest&, HTTPServerResponse& response) {
                 response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_NOT_FOUND);
                 response.setContentLength(3);
                 response.send() << "404";
             });
             server.serve("/database", catalogue); // an error page is no version
         },
         "status 404", "version check"},
        {"version answer over 4 KiB",
         [&catalogue](cTestServer& server) {
             server.serve("/dbversion.php", "9" + std::string(5000, ' '));
             server.serve("/database", catalogue);
         },
         "more than 4096", "version check"},
        {"version answer that is not UTF-8",
         [&catalogue](cTestServer& server) {
             server.serve("/dbversion.php", "9\xff\xfe");
             server.serve("/database", catalogue);
         },
         "Unicode", "version check"},
        {"redirection loop",
         [](cTestServer& server) {
             server.serve("/dbversion.php", "9");
             server.on("/database", [](HTTPServerRequest&, HTTPServerResponse& response) {
                 response.redirect("/database", Poco::Net::HTTPResponse::HTTP_FOUND);
             });
         },
         "too many redirections", "download"},
        {"redirection to another host",
         [&elsewhereCatalogue](cTestServer& server) {
             server.serve("/dbversion.php", "9");
             server.on("/database", [&elsewhereCatalogue](HTTPServerRequest&, HTTPServerResponse& response) {
                 response.redirect(elsewhereCatalogue, Poco::Net::HTTPResponse::HTTP_FOUND);
             });
         },
         "leaves its host", "download"},
    };
    for (const cCase& c : cases) {
        SCOPED_TRACE(c.what);
        cTestServer server;
        c.script(server);
        useServer(server.address());
        const auto start = tClock::now();
        std::vector<std::string> lines;
        kestrel::testing::setLogRecorder([&lines](const std::string& line) { lines.push_back(line); });
        EXPECT_TRUE(runUpdate());
        kestrel::testing::setLogRecorder({});
        // One line says which step failed, why, and that nothing changed.
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("lumivex: catalogue: warning: update from " + server.address() + " failed at the " +
                                     c.step,
                                 0),
                  0u)
            << lines[0];
        EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find("; the old catalogue was kept"), std::string::npos) << lines[0];
        EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Failed);
        EXPECT_LT(tClock::now() - start, std::chrono::seconds(5)) << mDatabase.lastUpdateError();
        EXPECT_NE(mDatabase.lastUpdateError().find(c.reason), std::string::npos) << mDatabase.lastUpdateError();
        expectNothingInstalled();
        server.stop();
    }
    EXPECT_EQ(elsewhere.hits("/database"), 0);
}

TEST_F(cCatalogueUpdate, ServersThatCannotBeReachedOrMisbehaveAtTheWireLevel)
{
    installOld();
    const std::string& catalogue = mNewCatalogue;
    const size_t half = catalogue.size() / 2;
    const auto hex = [](size_t n) {
        char text[32];
        std::snprintf(text, sizeof(text), "%zx", n);
        return std::string(text);
    };
    cRawServer chunkedCut([&](const std::string& path) {
        if (path == "/dbversion.php") {
            return http("HTTP/1.1 200 OK\r\nContent-Length: 1", "9");
        }
        return http("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked",
                    hex(half) + "\r\n" + catalogue.substr(0, half) + "\r\n");
    });
    cRawServer closeDelimitedCut([&](const std::string& path) {
        if (path == "/dbversion.php") {
            return http("HTTP/1.0 200 OK", "9");
        }
        return http("HTTP/1.0 200 OK", catalogue.substr(0, half));
    });
    cRawServer notHttp([](const std::string&) { return std::string("SSH-2.0-OpenSSH_9.2\r\n"); });
    cSilentListener silent;
    cFullListener full;

    struct cCase {
        const char* what;
        std::string address;
        const char* reason;
    };
    // A chunked body cut off between chunks ends the stream as if it were
    // complete; the check of the file is what catches it.
    const cCase cases[] = {
        {"nothing listening", "127.0.0.1:" + std::to_string(closedPort()), "refused"},
        {"connection never completes", full.address(), "did not answer"},
        {"accepts and never answers", silent.address(), "did not answer"},
        {"chunked transfer cut off", chunkedCut.address(), "malformed"},
        {"connection closed early without a length", closeDelimitedCut.address(), "malformed"},
        {"answer that is not HTTP", notHttp.address(), "Malformed message"},
        {"malformed server setting", "[not a host", "URI"},
    };
    for (const cCase& c : cases) {
        SCOPED_TRACE(c.what);
        useServer(c.address);
        const auto start = tClock::now();
        EXPECT_TRUE(runUpdate());
        EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Failed);
        EXPECT_LT(tClock::now() - start, std::chrono::seconds(5)) << mDatabase.lastUpdateError();
        EXPECT_NE(mDatabase.lastUpdateError().find(c.reason), std::string::npos) << mDatabase.lastUpdateError();
        expectNothingInstalled();
    }
}

TEST_F(cCatalogueUpdate, CataloguesOverTheCapAreRefused)
{
    installOld();
    mLimits.maxCatalogueBytes = 16 * 1024;
    mDatabase.setUpdateLimits(mLimits);
    const std::string& catalogue = mNewCatalogue;
    for (bool announced : {true, false}) {
        SCOPED_TRACE(announced ? "announced length" : "chunked");
        cTestServer server;
        server.serve("/dbversion.php", "9");
        server.on("/database", [&catalogue, announced](HTTPServerRequest&, HTTPServerResponse& response) {
            if (announced) {
                response.setContentLength64(static_cast<Poco::Int64>(catalogue.size()));
            } else {
                response.setChunkedTransferEncoding(true);
            }
            response.send().write(catalogue.data(), static_cast<std::streamsize>(catalogue.size()));
        });
        useServer(server.address());
        EXPECT_TRUE(runUpdate());
        EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Failed);
        EXPECT_NE(mDatabase.lastUpdateError().find("16384"), std::string::npos) << mDatabase.lastUpdateError();
        expectNothingInstalled();
    }
}

TEST_F(cCatalogueUpdate, FollowsARedirectionAndAcceptsChunkedBodies)
{
    installOld();
    cTestServer server;
    server.serve("/dbversion.php", "4");
    server.on("/database", [](HTTPServerRequest&, HTTPServerResponse& response) {
        response.redirect("/files/catalogue.sqlite", Poco::Net::HTTPResponse::HTTP_FOUND);
    });
    const std::string& catalogue = mNewCatalogue;
    server.on("/files/catalogue.sqlite", [&catalogue](HTTPServerRequest&, HTTPServerResponse& response) {
        response.setChunkedTransferEncoding(true);
        response.send().write(catalogue.data(), static_cast<std::streamsize>(catalogue.size()));
    });
    useServer(server.address());
    EXPECT_TRUE(runUpdate());
    EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Installed) << mDatabase.lastUpdateError();
    EXPECT_EQ(readBytes(mFolder.file("database")), mNewCatalogue);
    EXPECT_EQ(mSettings->getInteger(u"dbversion", 0), 4);
}

TEST_F(cCatalogueUpdate, ReplacementThatFailsKeepsTheVersion)
{
    // A folder in the catalogue's place cannot be replaced by a file.
    std::filesystem::create_directory(mFolder.file("database"));
    mSettings->setInteger(u"dbversion", 3);
    cTestServer server;
    server.serve("/dbversion.php", "9");
    server.serve("/database", mNewCatalogue);
    useServer(server.address());
    EXPECT_TRUE(runUpdate());
    EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Failed);
    EXPECT_TRUE(std::filesystem::is_directory(mFolder.file("database")));
    EXPECT_EQ(mSettings->getInteger(u"dbversion", 0), 3);
    EXPECT_FALSE(exists(mFolder.file("tmpdb")));
    EXPECT_FALSE(mDatabase.isNewCatalogue());
}

TEST_F(cCatalogueUpdate, MissingChannelFolderEndsAtOnce)
{
    cTestServer server;
    server.serve("/dbversion.php", "9");
    server.serve("/database", mNewCatalogue);
    useServer(server.address());
    mLimits.idlePauseMs = 5000; // must not be slept here
    mDatabase.setUpdateLimits(mLimits);
    const auto start = tClock::now();
    EXPECT_TRUE(mDatabase.runUpdate(mFolder.widePath() + u"/missing"));
    EXPECT_LT(tClock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::NoTemporaryFile);
    EXPECT_EQ(server.hits("/database"), 0);
    EXPECT_FALSE(exists(mFolder.file("missing")));
    EXPECT_EQ(mSettings->getInteger(u"dbversion", -1), 0);

    // An update that was never given a folder has nowhere to write.
    cPlayerDatabase unset;
    unset.setUpdateLimits(mLimits);
    EXPECT_TRUE(unset.update());
    EXPECT_EQ(unset.lastUpdateOutcome(), eUpdateOutcome::NoTemporaryFile);
    EXPECT_EQ(server.hits("/dbversion.php"), 1);
}

TEST_F(cCatalogueUpdate, TerminationStopsTheDownload)
{
    installOld();
    cTestServer server;
    server.serve("/dbversion.php", "9");
    const std::string& catalogue = mNewCatalogue;
    std::atomic<bool>& terminating = mTerminating;
    server.on("/database", [&catalogue, &terminating](HTTPServerRequest&, HTTPServerResponse& response) {
        response.setContentLength64(static_cast<Poco::Int64>(catalogue.size()));
        std::ostream& out = response.send();
        out.write(catalogue.data(), 1024);
        out.flush();
        terminating = true; // the application begins to shut down mid-transfer
        out.write(catalogue.data() + 1024, static_cast<std::streamsize>(catalogue.size() - 1024));
    });
    useServer(server.address());
    mLimits.idlePauseMs = 5000; // a stop is not followed by the pause
    mDatabase.setUpdateLimits(mLimits);
    const auto start = tClock::now();
    EXPECT_FALSE(runUpdate());
    EXPECT_LT(tClock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Stopped);
    expectNothingInstalled();
}

// A server that sends a byte now and then never meets a time-out: the
// version check has a deadline, the catalogue a minimum rate, and a stop
// ends a transfer that waits for the server at once.
TEST_F(cCatalogueUpdate, TricklingServersEndWithinTheirBoundsAndAStopEndsAWaitAtOnce)
{
    installOld();
    const auto trickle = [](const std::string& body, int pauseMs) {
        return [body, pauseMs](HTTPServerRequest&, HTTPServerResponse& response) {
            response.setContentLength64(static_cast<Poco::Int64>(body.size()));
            std::ostream& out = response.send();
            for (size_t i = 0; i < body.size() && out.good(); ++i) {
                out.put(body[i]).flush();
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
        };
    };
    mLimits.versionDeadlineMs = 1500;
    mLimits.rateWindowMs = 1000;
    mDatabase.setUpdateLimits(mLimits);
    struct cCase {
        const char* what;
        std::function<void(cTestServer&)> script;
        const char* reason;
    } cases[] = {
        {"version", [&](cTestServer& server) { server.on("/dbversion.php", trickle("     9", 400)); },
         "took longer than 1 s"},
        {"catalogue",
         [&](cTestServer& server) {
             server.serve("/dbversion.php", "9");
             server.on("/database", trickle(mNewCatalogue, 50));
         },
         "sends slower than 16 KiB/s"},
    };
    for (const cCase& c : cases) {
        SCOPED_TRACE(c.what);
        cTestServer server;
        c.script(server);
        useServer(server.address());
        const auto start = tClock::now();
        EXPECT_TRUE(runUpdate());
        EXPECT_LT(tClock::now() - start, std::chrono::milliseconds(3000));
        EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Failed);
        EXPECT_NE(mDatabase.lastUpdateError().find(c.reason), std::string::npos) << mDatabase.lastUpdateError();
        expectNothingInstalled();
        server.stop();
    }

    // The server holds its answer (before its head, or after the first
    // bytes of the catalogue); the program closes 300 ms later: the update
    // ends at once, not after a time-out.
    mLimits.networkTimeoutMs = 10000;
    mLimits.versionDeadlineMs = 20000;
    mDatabase.setUpdateLimits(mLimits);
    for (const bool headFirst : {false, true}) {
        SCOPED_TRACE(headFirst ? "held after the first bytes" : "held before the head");
        cTestServer server;
        if (headFirst) {
            server.serve("/dbversion.php", "9");
            server.on("/database", [&server, this](HTTPServerRequest&, HTTPServerResponse& response) {
                response.setContentLength64(static_cast<Poco::Int64>(mNewCatalogue.size()));
                response.send().write(mNewCatalogue.data(), 100).flush();
                server.stall();
            });
        } else {
            server.on("/dbversion.php", [&server](HTTPServerRequest&, HTTPServerResponse&) { server.stall(); });
        }
        useServer(server.address());
        mTerminating = false;
        std::thread closer([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            mTerminating = true;
        });
        const auto start = tClock::now();
        EXPECT_FALSE(runUpdate());
        EXPECT_LT(tClock::now() - start, std::chrono::milliseconds(1500));
        EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Stopped);
        closer.join();
        server.stop();
        expectNothingInstalled();
    }
}

TEST_F(cCatalogueUpdate, WithoutAHookTheApplicationsFlagStopsTheUpdate)
{
    class cTestApplication : public kestrel::cApplication {
    public:
        int run(int32_t, int32_t) override { return 0; }
    };
    installOld();
    cTestServer server;
    server.serve("/dbversion.php", "9");
    server.serve("/database", mNewCatalogue);
    useServer(server.address());
    mDatabase.setUpdateHooks({});
    cTestApplication application;
    application.setTerminating(true);
    EXPECT_FALSE(runUpdate());
    EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Stopped);
    expectNothingInstalled();
}

TEST_F(cCatalogueUpdate, PausesKeepTheUpdateSceneOnScreen)
{
    installOld();
    cTestServer server;
    server.serve("/dbversion.php", "3");
    server.serve("/database", mNewCatalogue);
    useServer(server.address());
    cUpdateLimits limits; // the program's own pauses
    limits.networkTimeoutMs = 1000;
    mDatabase.setUpdateLimits(limits);

    auto start = tClock::now();
    EXPECT_TRUE(runUpdate());
    EXPECT_GE(tClock::now() - start, std::chrono::milliseconds(2000)); // nothing new
    EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::UpToDate);

    server.serve("/dbversion.php", "4");
    start = tClock::now();
    EXPECT_TRUE(runUpdate());
    const auto installed = tClock::now() - start;
    EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::Installed);
    EXPECT_GE(installed, std::chrono::milliseconds(1000));
    EXPECT_LT(installed, std::chrono::milliseconds(2000 + 1000)); // not the failure pause as well
}

TEST_F(cCatalogueUpdate, UpdateWithoutItsThreadEndsWithFalse)
{
    cTestServer server;
    server.serve("/dbversion.php", "9");
    useServer(server.address());
    kestrel::testing::failNextThreadCreation();
    EXPECT_FALSE(runUpdate());
    EXPECT_EQ(mDatabase.lastUpdateOutcome(), eUpdateOutcome::NotRun);
    EXPECT_EQ(mSceneRequests, 0);
}
