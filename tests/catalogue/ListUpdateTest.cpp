// The start-up update from the user's own channel lists: files on disk and
// lists served on 127.0.0.1, read, merged and installed into a real channel
// folder, and read back through the player's own catalogue queries.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>

#include <Poco/Net/Context.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/SecureServerSocket.h>

#include "TestSupport.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "state/Settings.h"

using namespace testsupport;
using Poco::Net::HTTPServerRequest;
using Poco::Net::HTTPServerResponse;
using tClock = std::chrono::steady_clock;

namespace {

std::string entry(const std::string& country, const std::string& group, const std::string& name,
                  const std::string& address)
{
    return "#EXTINF:-1 tvg-country=\"" + country + "\" group-title=\"" + group + "\"," + name + "\n" + address + "\n";
}

const std::string ListA = "#EXTM3U\n" + entry("FR", "News", "Info", "http://a.example/info") +
                          entry("DE", "Music", "Welle", "http://a.example/welle");
const std::string ListB = "#EXTM3U\n" + entry("IT", "News", "Notizie", "http://b.example/notizie") +
                          // the same channel as in list A: kept once
                          entry("FR", "News", "Info", "http://a.example/info");

class cListUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        mSettings = cSettings::instance();
        mSettings->reset();
        mSettings->setDataFolder(mData.widePath() + u"/");
        mLimits.networkTimeoutMs = 2000;
        mLimits.listDeadlineMs = 4000;
        mLimits.idlePauseMs = 0;
        mLimits.installedPauseMs = 0;
        mLimits.maxListBytes = 1 << 20;
        kestrel::testing::setLogRecorder([this](const std::string& line) { mLines.push_back(line); });
    }

    void TearDown() override
    {
        kestrel::testing::setLogRecorder({});
        mSettings->reset();
    }

    void useLists(const std::vector<std::string>& lists)
    {
        std::vector<std::u16string> wide;
        for (const std::string& list : lists) {
            wide.push_back(kestrel::fromUtf8(list));
        }
        mSettings->setLists(wide);
    }

    // One start's update; the outcome.
    // guides receives the guide addresses the lists named.
    eUpdateOutcome update(bool* installed = nullptr, std::vector<std::string>* guides = nullptr)
    {
        mLines.clear();
        cPlayerDatabase database;
        database.setUpdateLimits(mLimits);
        database.setUpdateHooks({{}, [this] { return mTerminating.load(); }});
        database.runUpdate(mFolder.widePath());
        if (installed != nullptr) {
            *installed = database.isNewCatalogue();
        }
        if (guides != nullptr) {
            *guides = database.listGuideAddresses();
        }
        mError = database.lastUpdateError();
        return database.lastUpdateOutcome();
    }

    // Every "name@country/type" row of the installed catalogue, sorted.
    std::vector<std::string> rows()
    {
        std::vector<std::string> result;
        cPlayerDatabase database;
        if (!database.open(mFolder.widePath())) {
            return result;
        }
        for (const std::u16string& country : database.countries()) {
            for (const std::u16string& type : database.types()) {
                std::vector<std::u16string> names;
                database.names(country, type, names);
                for (const std::u16string& name : names) {
                    result.push_back(kestrel::toUtf8(name) + "@" + kestrel::toUtf8(country) + "/" +
                                     kestrel::toUtf8(type));
                }
            }
        }
        std::sort(result.begin(), result.end());
        return result;
    }

    std::string logText() const
    {
        std::string text;
        for (const std::string& line : mLines) {
            text += line + "\n";
        }
        return text;
    }

    cTempFolder mData;
    cTempFolder mFolder; // the channel folder
    cTempFolder mLists;  // the user's list files
    cSettings* mSettings = nullptr;
    cUpdateLimits mLimits;
    std::atomic<bool> mTerminating{false};
    std::vector<std::string> mLines;
    std::string mError;
};

const std::vector<std::string> RowsAB = {"Info@France/News", "Notizie@Italy/News", "Welle@Germany/Music"};

} // namespace

TEST_F(cListUpdate, AFileAndAServedListAreMergedInstalledAndRefreshedOnlyWhenTheyChange)
{
    writeBytes(mLists.file("a.m3u"), ListA);
    cTestServer server;
    server.serve("/b.m3u", ListB);
    useLists({mLists.file("a.m3u"), "http://" + server.address() + "/b.m3u"});
    mSettings->setInteger(u"dbversion", 7);
    mSettings->setInteger(u"countryList_active", 4);

    bool installed = false;
    EXPECT_EQ(update(&installed), eUpdateOutcome::Installed) << mError << logText();
    EXPECT_TRUE(installed);
    EXPECT_EQ(rows(), RowsAB);
    EXPECT_FALSE(mSettings->getString(u"listsdigest", u"").empty());
    // The installed catalogue is no server's version, and the browser's
    // positions start over as after any new catalogue.
    EXPECT_EQ(mSettings->getInteger(u"dbversion", -1), 0);
    EXPECT_EQ(mSettings->getInteger(u"countryList_active", -1), 0);

    // The same lists again: nothing installed, no "Database updated".
    mSettings->setInteger(u"countryList_active", 4);
    const std::string before = readBytes(mFolder.file("database"));
    EXPECT_EQ(update(&installed), eUpdateOutcome::UpToDate) << mError;
    EXPECT_FALSE(installed);
    EXPECT_EQ(readBytes(mFolder.file("database")), before);
    EXPECT_EQ(mSettings->getInteger(u"countryList_active", -1), 4);

    // A changed list (served compressed this time) is installed.
    server.serve("/b.m3u", gzip(ListB + entry("ES", "Sport", "Deporte", "http://b.example/deporte")));
    EXPECT_EQ(update(&installed), eUpdateOutcome::Installed) << mError;
    EXPECT_TRUE(installed);
    const std::vector<std::string> changed = rows();
    EXPECT_NE(std::find(changed.begin(), changed.end(), "Deporte@Spain/Sport"), changed.end());
    EXPECT_FALSE(exists(mFolder.file("tmpdb")));
    EXPECT_FALSE(exists(mFolder.file("database.part")));
}

TEST_F(cListUpdate, AListThatFailsKeepsItsChannelsOfTheLastStart)
{
    writeBytes(mLists.file("a.m3u"), ListA);
    cTestServer server;
    server.serve("/b.m3u", ListB);
    const std::string served = "http://" + server.address() + "/b.m3u";
    useLists({mLists.file("a.m3u"), served});
    ASSERT_EQ(update(), eUpdateOutcome::Installed) << mError;

    // The served list now answers 404: its channels of the last start stay,
    // so the catalogue is unchanged and nothing is installed.
    server.on("/b.m3u", [](HTTPServerRequest&, HTTPServerResponse& response) {
        response.setStatusAndReason(HTTPServerResponse::HTTP_NOT_FOUND);
        response.send() << "gone";
    });
    bool installed = true;
    EXPECT_EQ(update(&installed), eUpdateOutcome::UpToDate) << mError << logText();
    EXPECT_FALSE(installed);
    EXPECT_EQ(rows(), RowsAB);
    ASSERT_EQ(mLines.size(), 1u) << logText();
    EXPECT_NE(mLines[0].find("list " + served + " failed: status 404"), std::string::npos) << mLines[0];
    EXPECT_NE(mLines[0].find("channels of the last start are kept"), std::string::npos) << mLines[0];

    // The file list changes meanwhile: installed, with the failing list's
    // kept channels beside it.
    writeBytes(mLists.file("a.m3u"), "#EXTM3U\n" + entry("FR", "News", "Info", "http://a.example/info"));
    EXPECT_EQ(update(&installed), eUpdateOutcome::Installed) << mError;
    EXPECT_EQ(rows(), (std::vector<std::string>{"Info@France/News", "Notizie@Italy/News"}));

    // Dropping a list from the settings forgets its copy.
    useLists({mLists.file("a.m3u")});
    EXPECT_EQ(update(&installed), eUpdateOutcome::Installed) << mError;
    EXPECT_EQ(rows(), (std::vector<std::string>{"Info@France/News"}));
    size_t copies = 0;
    for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(mFolder.file("lists"))) {
        ++copies;
    }
    EXPECT_EQ(copies, 1u);
}

// Every bad source ends with one line naming it and why, within the
// update's bounds, and never replaces the installed catalogue with fewer
// channels than the sources hold.
TEST_F(cListUpdate, BadSourcesKeepTheInstalledCatalogueAndSayWhy)
{
    // The installed catalogue comes from list A, and list A stays in every
    // case beside the bad source, whose first start it is.
    writeBytes(mLists.file("a.m3u"), ListA);
    useLists({mLists.file("a.m3u")});
    ASSERT_EQ(update(), eUpdateOutcome::Installed) << mError;
    const std::vector<std::string> installedRows = rows();

    cTestServer server;
    server.serve("/html", "<!DOCTYPE html><html><body>Log in first</body></html>");
    server.serve("/empty.m3u", "#EXTM3U\n");
    server.on("/missing", [](HTTPServerRequest&, HTTPServerResponse& response) {
        response.setStatusAndReason(HTTPServerResponse::HTTP_NOT_FOUND);
        response.send() << "not here";
    });
    server.on("/loop", [](HTTPServerRequest&, HTTPServerResponse& response) {
        response.redirect("/loop", Poco::Net::HTTPResponse::HTTP_FOUND);
    });
    server.on("/huge", [](HTTPServerRequest&, HTTPServerResponse& response) {
        response.setContentLength64(int64_t(1) << 30); // announces 1 GiB
        response.send() << "#EXTM3U\n";
    });
    server.on("/endless", [](HTTPServerRequest&, HTTPServerResponse& response) {
        response.setChunkedTransferEncoding(true);
        std::ostream& body = response.send();
        const std::string line = entry("FR", "News", "Again", "http://a.example/again");
        for (int i = 0; i < 100000 && body.good(); ++i) {
            body << line;
        }
    });
    server.on("/trickle", [&server](HTTPServerRequest&, HTTPServerResponse& response) {
        response.setChunkedTransferEncoding(true);
        std::ostream& body = response.send();
        for (int i = 0; i < 40 && body.good(); ++i) {
            body << "#" << std::flush;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    });
    server.serve("/bomb.gz", gzip(std::string(4 << 20, '#')));
    mkdir(mLists.file("folder.m3u").c_str(), 0700);
    mkfifo(mLists.file("pipe.m3u").c_str(), 0600);
    const std::string base = "http://" + server.address();

    struct cCase {
        std::string source;
        const char* reason;
    };
    const cCase cases[] = {
        {base + "/missing", "status 404"},
        {base + "/html", "no channel entries found"},
        {base + "/empty.m3u", "no channel entries found"},
        {base + "/loop", "too many redirections"},
        {base + "/huge", "announces 1073741824 bytes"},
        {base + "/endless", "sends more than 1048576 bytes"},
        {base + "/trickle", "took longer than 4 s"},
        {base + "/bomb.gz", "decompresses to more than 1048576 bytes"},
        {"http://127.0.0.1:" + std::to_string(closedPort()) + "/list.m3u", "Connection refused"},
        {mLists.file("missing.m3u"), "No such file"},
        {mLists.file("folder.m3u"), "not a plain file"},
        {mLists.file("pipe.m3u"), "not a plain file"},
        {"ftp://files.example/list.m3u", "neither a file nor an http or https address"},
    };
    for (const cCase& c : cases) {
        SCOPED_TRACE(c.source);
        useLists({mLists.file("a.m3u"), c.source});
        const auto start = tClock::now();
        bool installed = true;
        EXPECT_EQ(update(&installed), eUpdateOutcome::UpToDate) << mError << logText();
        EXPECT_LT(tClock::now() - start, std::chrono::seconds(8));
        EXPECT_FALSE(installed);
        EXPECT_EQ(rows(), installedRows);
        ASSERT_EQ(mLines.size(), 1u) << logText();
        EXPECT_NE(mLines[0].find("warning: list " + c.source + " failed: "), std::string::npos) << mLines[0];
        EXPECT_NE(mLines[0].find(c.reason), std::string::npos) << mLines[0];
    }

    // Every list failing on a first start: nothing installed, the outcome
    // says why (the application then shows its error box).
    cTempFolder fresh;
    useLists({base + "/missing"});
    cPlayerDatabase database;
    database.setUpdateLimits(mLimits);
    database.runUpdate(fresh.widePath());
    EXPECT_EQ(database.lastUpdateOutcome(), eUpdateOutcome::Failed);
    EXPECT_NE(database.lastUpdateError().find("status 404"), std::string::npos) << database.lastUpdateError();
    EXPECT_FALSE(exists(fresh.file("database")));
    EXPECT_FALSE(database.open(fresh.widePath()));
}

// A small compressed list whose every entry makes 64 long rows (eight
// countries by eight types, each with names and an address as long as a
// catalogue takes) would hold gigabytes once imported: it fails as a
// whole, like any bad list, within a bounded amount of memory, and its
// last good copy stays.
TEST_F(cListUpdate, AListWhoseRowsWouldHoldGigabytesFailsLikeAnyBadList)
{
    std::string bomb = "#EXTM3U\n";
    const std::string name(4000, 'N');
    for (int i = 0; bomb.size() < (16u << 20); ++i) {
        bomb += "#EXTINF:-1 tvg-country=\"FR;DE;IT;ES;GB;US;PL;NL\" group-title=\"a;b;c;d;e;f;g;h\" tvg-name=\"" +
                name + "\"," + name + "\nhttp://x.example/" + std::to_string(i) + std::string(8000, 'p') + "\n";
    }
    const std::string compressed = gzip(bomb);
    ASSERT_LT(compressed.size(), 256u * 1024);
    mLimits.maxListBytes = 32u << 20;

    writeBytes(mLists.file("a.m3u"), ListA);
    cTestServer server;
    server.serve("/b.m3u", ListB);
    const std::string served = "http://" + server.address() + "/b.m3u";
    useLists({mLists.file("a.m3u"), served});
    ASSERT_EQ(update(), eUpdateOutcome::Installed) << mError;

    server.serve("/b.m3u", compressed);
    bool installed = true;
    EXPECT_EQ(update(&installed), eUpdateOutcome::UpToDate) << mError << logText();
    EXPECT_FALSE(installed);
    EXPECT_EQ(rows(), RowsAB);
    ASSERT_EQ(mLines.size(), 1u) << logText();
    EXPECT_NE(mLines[0].find("list " + served + " failed: the list's channels hold more than 384 MiB of text"),
              std::string::npos)
        << mLines[0];
    EXPECT_NE(mLines[0].find("channels of the last start are kept"), std::string::npos) << mLines[0];

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long peakMiB = usage.ru_maxrss / 1024;
    std::printf("peak memory of the process after the bomb list: %ld MiB\n", peakMiB);
    EXPECT_LT(peakMiB, 1024);
#endif
}

TEST_F(cListUpdate, ListsInOtherEncodingsAndSettingsWithOddListKeys)
{
    // UTF-16 with its mark, and a Latin-1 list.
    std::string utf16 = "\xFF\xFE";
    for (char c : ListA) {
        utf16 += c;
        utf16 += '\0';
    }
    writeBytes(mLists.file("utf16.m3u"), utf16);
    writeBytes(mLists.file("latin1.m3u"), "#EXTM3U\n" + entry("FR", "T\xe9l\xe9", "Cha\xeene", "http://c.example/"));
    // Empty and garbage values beside them, as a hand-edited file may hold.
    mSettings->setString(u"list1", kestrel::fromUtf8(mLists.file("utf16.m3u")));
    mSettings->setString(u"list2", u"");
    mSettings->setString(u"list3", u"%%% not a list \x01");
    mSettings->setString(u"list4", kestrel::fromUtf8(mLists.file("latin1.m3u")));
    EXPECT_EQ(update(), eUpdateOutcome::Installed) << mError << logText();
    EXPECT_EQ(rows(), (std::vector<std::string>{"Cha\xc3\xaene@France/T\xc3\xa9l\xc3\xa9", "Info@France/News",
                                                "Welle@Germany/Music"}));
    ASSERT_EQ(mLines.size(), 1u) << logText();
    EXPECT_NE(mLines[0].find("list %%% not a list"), std::string::npos) << mLines[0];
}

TEST_F(cListUpdate, ClosingTheProgramStopsADownload)
{
    cTestServer server;
    server.on("/slow.m3u", [](HTTPServerRequest&, HTTPServerResponse& response) {
        response.setChunkedTransferEncoding(true);
        std::ostream& body = response.send();
        for (int i = 0; i < 100 && body.good(); ++i) {
            body << "#EXTM3U\n" << std::flush;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    useLists({"http://" + server.address() + "/slow.m3u"});
    std::thread closer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        mTerminating = true;
    });
    const auto start = tClock::now();
    EXPECT_EQ(update(), eUpdateOutcome::Stopped);
    EXPECT_LT(tClock::now() - start, std::chrono::seconds(2));
    closer.join();
    EXPECT_FALSE(exists(mFolder.file("database")));
}

namespace {

// An https server on 127.0.0.1 with a certificate made for the test by the
// openssl command, for the host name given. It answers every request with
// the body, or with a redirection to the location when one is given.
class cSecureServer {
public:
    cSecureServer(const cTempFolder& folder, const std::string& name, const std::string& body,
                  const std::string& location = "")
    {
        const std::string key = folder.file(name + ".key");
        mCertificate = folder.file(name + ".pem");
        const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout '" + key +
                                    "' -out '" + mCertificate + "' -subj /CN=" + name +
                                    " -addext subjectAltName=DNS:" + name + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            return;
        }
        Poco::Net::Context::Ptr context =
            new Poco::Net::Context(Poco::Net::Context::TLS_SERVER_USE, key, mCertificate, "",
                                   Poco::Net::Context::VERIFY_NONE);
        Poco::Net::SecureServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0), 16, context);
        mPort = socket.address().port();
        mServer = std::make_unique<Poco::Net::HTTPServer>(new cFactory(body, location), socket,
                                                          new Poco::Net::HTTPServerParams);
        mServer->start();
    }
    ~cSecureServer()
    {
        if (mServer) {
            mServer->stopAll(true);
        }
    }
    bool ready() const { return mServer != nullptr; }
    uint16_t port() const { return mPort; }
    const std::string& certificate() const { return mCertificate; }

private:
    class cFactory : public Poco::Net::HTTPRequestHandlerFactory {
    public:
        cFactory(std::string body, std::string location) : mBody(std::move(body)), mLocation(std::move(location)) {}
        Poco::Net::HTTPRequestHandler* createRequestHandler(const HTTPServerRequest&) override
        {
            return new cHandler(mBody, mLocation);
        }

    private:
        class cHandler : public Poco::Net::HTTPRequestHandler {
        public:
            cHandler(const std::string& body, const std::string& location) : mBody(body), mLocation(location) {}
            void handleRequest(HTTPServerRequest&, HTTPServerResponse& response) override
            {
                if (!mLocation.empty()) {
                    response.redirect(mLocation, Poco::Net::HTTPResponse::HTTP_FOUND);
                    return;
                }
                response.setContentLength64(static_cast<int64_t>(mBody.size()));
                response.send() << mBody;
            }

        private:
            std::string mBody;
            std::string mLocation;
        };
        std::string mBody;
        std::string mLocation;
    };

    std::string mCertificate;
    uint16_t mPort = 0;
    std::unique_ptr<Poco::Net::HTTPServer> mServer;
};

} // namespace

// https lists are checked against the system's certificate store (here the
// test's own authority, through SSL_CERT_FILE) and the host name.
TEST_F(cListUpdate, HttpsListsNeedACertificateThatIsTrustedAndNamesTheHost)
{
    cTempFolder keys;
    cSecureServer good(keys, "localhost", ListA);
    cSecureServer wrong(keys, "other.example", ListB);
    ASSERT_TRUE(good.ready() && wrong.ready()) << "the openssl command could not make a certificate";
    // Both certificates are trusted; only one names the host asked for.
    writeBytes(keys.file("trusted.pem"), readBytes(good.certificate()) + readBytes(wrong.certificate()));
    setenv("SSL_CERT_FILE", keys.file("trusted.pem").c_str(), 1);

    const std::string goodList = "https://localhost:" + std::to_string(good.port()) + "/a.m3u";
    const std::string wrongList = "https://localhost:" + std::to_string(wrong.port()) + "/b.m3u";
    useLists({goodList, wrongList});
    EXPECT_EQ(update(), eUpdateOutcome::Installed) << mError << logText();
    EXPECT_EQ(rows(), (std::vector<std::string>{"Info@France/News", "Welle@Germany/Music"}));
    ASSERT_EQ(mLines.size(), 1u) << logText();
    EXPECT_NE(mLines[0].find("list " + wrongList + " failed: secure connection"), std::string::npos) << mLines[0];

    // A secure address never hands over to a plain one, even on its host.
    cTestServer plain;
    plain.serve("/b.m3u", ListB);
    const std::string plainPort = plain.address().substr(plain.address().find(':') + 1);
    cTempFolder otherKeys;
    cSecureServer downgrade(otherKeys, "localhost", "", "http://localhost:" + plainPort + "/b.m3u");
    ASSERT_TRUE(downgrade.ready());
    writeBytes(keys.file("trusted.pem"), readBytes(good.certificate()) + readBytes(downgrade.certificate()));
    const std::string downgradeList = "https://localhost:" + std::to_string(downgrade.port()) + "/b.m3u";
    useLists({goodList, downgradeList});
    EXPECT_EQ(update(), eUpdateOutcome::UpToDate) << mError << logText();
    ASSERT_EQ(mLines.size(), 1u) << logText();
    EXPECT_NE(mLines[0].find("list " + downgradeList + " failed: redirection from"), std::string::npos) << mLines[0];
    EXPECT_NE(mLines[0].find("leaves https"), std::string::npos) << mLines[0];
}

// A list's request headers reach the catalogue the update installs, and
// the current channel carries them; a change of headers alone installs
// the catalogue again; a header with a line break is dropped with one
// warning naming the list and the line.
TEST_F(cListUpdate, AListsRequestHeadersReachTheInstalledCatalogue)
{
    const std::string list = "#EXTM3U\n"
                             "#EXTINF:-1 tvg-country=\"FR\" group-title=\"News\",Info\n"
                             "#EXTVLCOPT:http-user-agent=Agent/1\n"
                             "http://a.example/info|Referer=http%3A%2F%2Fportal.example%2F\n"
                             "#EXTINF:-1 tvg-country=\"FR\" group-title=\"News\" user-agent=\"bad\x01value\",Sport\n"
                             "http://a.example/sport\n";
    writeBytes(mLists.file("a.m3u"), list);
    useLists({mLists.file("a.m3u")});
    EXPECT_EQ(update(), eUpdateOutcome::Installed) << mError << logText();
    int warnings = 0;
    for (const std::string& line : mLines) {
        warnings += line.find("warning: list " + mLists.file("a.m3u") + ": line 5: the User-Agent value") !=
                    std::string::npos;
    }
    EXPECT_EQ(warnings, 1) << logText();

    {
        cPlayerDatabase database;
        ASSERT_TRUE(database.open(mFolder.widePath()));
        database.setCurrentCountry(u"France");
        database.setCurrentType(u"News");
        database.setCurrentName(u"Info");
        EXPECT_EQ(database.currentAddress(), u"http://a.example/info");
        EXPECT_EQ(database.currentHeaders(), (cRequestHeaders{"Agent/1", "http://portal.example/", ""}));
        database.setCurrentName(u"Sport");
        EXPECT_TRUE(database.currentHeaders().empty());
    }

    // Only the headers change: installed again.
    std::string changed = list;
    changed.replace(changed.find("Agent/1"), 7, "Agent/2");
    writeBytes(mLists.file("a.m3u"), changed);
    EXPECT_EQ(update(), eUpdateOutcome::Installed) << mError;
    cPlayerDatabase database;
    ASSERT_TRUE(database.open(mFolder.widePath()));
    EXPECT_EQ(database.catalogueHeaders(u"http://a.example/info").userAgent, "Agent/2");
}

TEST_F(cListUpdate, GuideIdsInstallTheCatalogueAgainAndGuideAddressesComeFromEveryListAndItsLastCopy)
{
    const std::string list = "#EXTM3U url-tvg=\"http://epg.example/a.xml.gz\"\n"
                             "#EXTINF:-1 tvg-country=\"FR\" group-title=\"News\",Info\n"
                             "http://a.example/info\n";
    writeBytes(mLists.file("a.m3u"), list);
    cTestServer server;
    server.serve("/b.m3u", "#EXTM3U x-tvg-url=\"http://epg.example/b.xml,http://epg.example/a.xml.gz\"\n" +
                               entry("IT", "News", "Notizie", "http://b.example/notizie"));
    useLists({mLists.file("a.m3u"), "http://" + server.address() + "/b.m3u"});
    std::vector<std::string> guides;
    EXPECT_EQ(update(nullptr, &guides), eUpdateOutcome::Installed) << mError;
    const std::vector<std::string> both = {"http://epg.example/a.xml.gz", "http://epg.example/b.xml"};
    EXPECT_EQ(guides, both);

    // A guide id alone changes the rows: installed again, and read back.
    std::string withId = list;
    withId.replace(withId.find("tvg-country"), 0, "tvg-id=\"info.fr\" ");
    writeBytes(mLists.file("a.m3u"), withId);
    EXPECT_EQ(update(nullptr, &guides), eUpdateOutcome::Installed) << mError;
    {
        cPlayerDatabase database;
        ASSERT_TRUE(database.open(mFolder.widePath()));
        EXPECT_EQ(database.catalogueGuideId(u"http://a.example/info"), "info.fr");
    }

    // The served list fails: its guide still comes from its last copy.
    server.on("/b.m3u", [](HTTPServerRequest&, HTTPServerResponse& response) {
        response.setStatusAndReason(HTTPServerResponse::HTTP_NOT_FOUND);
        response.send() << "gone";
    });
    EXPECT_EQ(update(nullptr, &guides), eUpdateOutcome::UpToDate) << mError;
    EXPECT_EQ(guides, both);
}
