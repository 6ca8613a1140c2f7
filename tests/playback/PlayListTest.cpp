// The playlist: the extension rule, the ASX fetch over a real HTTP server on
// loopback, the ref rules of the scanner pass, and the failures.

#include "TestHttpServer.h"
#include "playback/PlayList.h"

#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"

#include <gtest/gtest.h>

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace {

std::u16string wide(const std::string& text) { return kestrel::fromUtf8(text); }

std::vector<std::string> entriesOf(const cPlayList& list)
{
    std::vector<std::string> result;
    cPlayList copy = list;
    for (int i = 0; i < list.getEntryCount(); ++i) {
        result.push_back(kestrel::toUtf8(copy.getCurrentEntry()));
        copy.advance();
    }
    return result;
}

// The message the constructor throws, or "" when it does not throw; the
// cause it carries for the viewer, when given.
std::string constructionError(const std::string& url, sPlayFailure* cause = nullptr)
{
    try {
        cPlayList list(wide(url), u"n", u"d");
    } catch (const cPlayListFetchFailure& e) {
        if (cause != nullptr) {
            *cause = e.cause();
        }
        return kestrel::toUtf8(e.message());
    } catch (const kestrel::cException& e) {
        return kestrel::toUtf8(e.message());
    }
    return "";
}

} // namespace

TEST(PlayListTest, ExtensionRuleIsCaseSensitiveAndLooksAtTheWholeAddress)
{
    struct {
        const char* url;
        bool asx;
    } cases[] = {
        {"http://host/list.asx", true},
        {"http://host/list.ASX", false},
        {"http://host/list.asx?channel=1", false},
        {"http://host.example.com", false},
        {"http://host/stream", false},
        {"mms://host/a.b/list.asx", true},
        {"list.asxx", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cPlayList::isAsxAddress(wide(c.url)), c.asx) << c.url;
    }
}

TEST(PlayListTest, PlainAddressIsTheOnlyEntry)
{
    // Not an ASX address, so nothing is fetched (the port is closed).
    const std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/live.ASX";
    cPlayList list(wide(url), u"Name", u"Description");
    EXPECT_EQ(list.getUrl(), wide(url));
    EXPECT_EQ(list.getName(), u"Name");
    EXPECT_EQ(list.getDescription(), u"Description");
    ASSERT_EQ(list.getEntryCount(), 1);
    EXPECT_FALSE(list.isEmpty());
    EXPECT_EQ(list.getCurrentEntry(), wide(url));
    list.advance();
    EXPECT_EQ(list.getCurrentIndex(), 0);
    EXPECT_EQ(list.getCurrentEntry(), wide(url));
}

TEST(PlayListTest, TwoRefsUnderOneEntryGiveThreeEntriesThatWrap)
{
    cTestHttpServer server;
    server.addBody("/tv/list.asx", "<asx version=\"3.0\">\n<entry>\n<ref href=\"mms://a/one\"/>\n"
                                   "<ref href=\"http://b/two\"/>\n</entry>\n</asx>\n");
    const std::string url = server.url("/tv/list.asx");
    cPlayList list(wide(url), u"n", u"d");
    EXPECT_EQ(entriesOf(list), (std::vector<std::string>{"mms://a/one", "http://b/two", url}));
    EXPECT_EQ(server.hits("/tv/list.asx"), 1);

    const std::u16string first = list.getCurrentEntry();
    list.advance();
    list.advance();
    EXPECT_EQ(list.getCurrentEntry(), wide(url));
    list.advance();
    EXPECT_EQ(list.getCurrentIndex(), 0);
    EXPECT_EQ(list.getCurrentEntry(), first);
}

TEST(PlayListTest, RefRulesOverDocuments)
{
    std::string many;
    for (int i = 0; i < 5000; ++i) {
        many += "<ref href=\"u" + std::to_string(i) + "\"/>";
    }
    struct {
        const char* name;
        std::string body;
        std::vector<std::string> refs; // the playlist's own address follows
    } cases[] = {
        {"upper-case markup", "<ASX><ENTRY><REF HREF=\"x1\"/><Ref hRef=\"x2\"></Ref></ENTRY></ASX>", {"x1", "x2"}},
        {"empty href and ref without href", "<asx><entry><ref href=\"\"/><ref/><ref></ref><ref href=\"ok\"/></entry></asx>",
         {"ok"}},
        {"empty element and end tag alike", "<asx><entry><ref href=\"same\"/><ref href=\"same\"></ref></entry></asx>",
         {"same", "same"}},
        {"ref outside any entry", "<asx><ref href=\"lone\"/></asx>", {"lone"}},
        {"last href wins", "<asx><entry><ref href=\"a\" href=\"b\"/></entry></asx>", {"b"}},
        {"href of another element inside a ref", "<asx><ref><moreinfo href=\"inner\"/></ref></asx>", {"inner"}},
        {"other elements contribute nothing", "<asx><entryref href=\"x\"/><moreinfo href=\"y\"/></asx>", {}},
        {"values are not trimmed", "<asx><ref href=\" spaced \"/></asx>", {" spaced "}},
        {"no markup at all", "just some text", {}},
        {"empty body", "", {}},
    };
    cTestHttpServer server;
    for (size_t i = 0; i < std::size(cases); ++i) {
        server.addBody("/case" + std::to_string(i) + ".asx", cases[i].body);
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string url = server.url("/case" + std::to_string(i) + ".asx");
        cPlayList list(wide(url), u"n", u"d");
        std::vector<std::string> expected = cases[i].refs;
        expected.push_back(url);
        EXPECT_EQ(entriesOf(list), expected) << cases[i].name;
    }

    // Markup the scanner cannot make sense of yields fewer entries, never a
    // failure; the playlist's own address is always last.
    const char* garbage[] = {
        "<<<>>><ref href=<><asx <ref <ref href=\"g\"/> &&; <!-- <ref href=\"c\"/>",
        "<ref href=\"unterminated",
        "<![CDATA[<ref href=\"x\"/>",
        "</ref></ref></ref>",
        "<ref href='single'/><ref href=noquotes/>&#xFFFFFFFF;&bogus;",
    };
    for (size_t i = 0; i < std::size(garbage); ++i) {
        const std::string path = "/garbage" + std::to_string(i) + ".asx";
        server.addBody(path, garbage[i]);
        cPlayList list(wide(server.url(path)), u"n", u"d");
        ASSERT_GE(list.getEntryCount(), 1) << garbage[i];
        EXPECT_EQ(entriesOf(list).back(), server.url(path)) << garbage[i];
    }

    // Thousands of refs, and a ref to the playlist itself, are plain entries.
    server.addBody("/many.asx", many + "<ref href=\"" + server.url("/many.asx") + "\"/>");
    cPlayList list(wide(server.url("/many.asx")), u"n", u"d");
    ASSERT_EQ(list.getEntryCount(), 5002);
    EXPECT_EQ(entriesOf(list)[4999], "u4999");
    EXPECT_EQ(entriesOf(list)[5000], server.url("/many.asx"));
    EXPECT_EQ(server.hits("/many.asx"), 1);
}

TEST(PlayListTest, ErrorPageStillYieldsAPlaylist)
{
    cTestHttpServer server;
    server.addBody("/gone.asx", "<html><body><h1>404 Not Found</h1></body></html>", 404, "text/html");
    const std::string url = server.url("/gone.asx");
    cPlayList list(wide(url), u"n", u"d");
    EXPECT_EQ(entriesOf(list), std::vector<std::string>{url});
}

TEST(PlayListTest, QueryAndFragmentAreNotSentAndEmptyPathBecomesRoot)
{
    cTestHttpServer server;
    server.addBody("/q.asx", "<ref href=\"from-path\"/>");
    server.addBody("/", "<ref href=\"from-root\"/>");
    // The extension rule sees "asx" after the last full stop of the whole
    // address; only the path is requested.
    EXPECT_EQ(entriesOf(cPlayList(wide(server.url("/q.asx?pick=other.asx")), u"", u""))[0], "from-path");
    EXPECT_EQ(entriesOf(cPlayList(wide(server.url("/q.asx#frag.asx")), u"", u""))[0], "from-path");
    EXPECT_EQ(entriesOf(cPlayList(wide(server.url("") + "?list.asx"), u"", u""))[0], "from-root");
}

TEST(PlayListTest, FailuresThrowTheExactMessage)
{
    cTestHttpServer server;
    server.addBody("/bad-utf8.asx", std::string("<ref href=\"\xff\xfe\"/>"));
    const std::string refused = "http://127.0.0.1:" + std::to_string(closedPort()) + "/list.asx";
    using F = sPlayFailure;
    struct {
        const char* name;
        std::string url;
        F::eKind kind; // what the viewer is told
    } cases[] = {
        {"connection refused", refused, F::KindRefused},
        {"not a URI", "http://[broken/list.asx", F::KindNotOpened},
        {"no host", "list.asx", F::KindNotOpened},
        {"unknown scheme port", "gopher://127.0.0.1/list.asx", F::KindNotOpened},
        {"body is not UTF-8", server.url("/bad-utf8.asx"), F::KindNotOpened},
        {"a host under a reserved name", "http://lumivex-test.invalid/list.asx", F::KindHostUnknown},
        {"https to a plain http server", "https://127.0.0.1:" + std::to_string(server.port()) + "/bad-utf8.asx",
         F::KindSecureConnection},
    };
    for (const auto& c : cases) {
        sPlayFailure cause;
        cause.kind = F::KindStreamEnded; // none the fetch gives
        EXPECT_EQ(constructionError(c.url, &cause), "can't download ASX file") << c.name;
        EXPECT_STREQ(playFailureKindName(cause.kind), playFailureKindName(c.kind)) << c.name;
        EXPECT_EQ(cause.step, F::StepPlaylist) << c.name;
    }
}

TEST(PlayListTest, OversizedBodyIsCutAtTheCap)
{
    // 2 MiB of refs: the first MiB is scanned, the rest is never read, and a
    // character split by the cut does not spoil the text.
    std::string body;
    const std::string ref = "<ref href=\"\xc3\xa9t\xc3\xa9\"/>"; // 21 bytes, two 2-byte characters
    while (body.size() < 2 * cPlayList::MaxBodySize) {
        body += ref;
    }
    cTestHttpServer server;
    server.addBody("/huge.asx", body);
    cPlayList list(wide(server.url("/huge.asx")), u"n", u"d");
    const int refsInCap = static_cast<int>(cPlayList::MaxBodySize / ref.size());
    EXPECT_EQ(list.getEntryCount(), refsInCap + 1);
    EXPECT_EQ(list.getCurrentEntry(), u"\u00e9t\u00e9");
}

TEST(PlayListTest, StalledServerGivesUpWithinTheTimeOut)
{
    cTestHttpServer server;
    server.addStall("/stall.asx");
    const auto start = std::chrono::steady_clock::now();
    sPlayFailure cause;
    EXPECT_EQ(constructionError(server.url("/stall.asx"), &cause), "can't download ASX file");
    EXPECT_EQ(cause.kind, sPlayFailure::KindNoAnswer);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(seconds, cPlayList::NetworkTimeoutSeconds + 2);
}

// A server that sends a byte every two seconds never meets the network
// time-out, but the whole fetch still ends at its deadline.
TEST(PlayListTest, TricklingServerGivesUpAtTheDeadline)
{
    cTestHttpServer server;
    server.addGenerator("/trickle.asx", "video/x-ms-asf", [](std::ostream& body, const std::function<bool()>& stopping) {
        for (int i = 0; i < 60 && !stopping() && body.good(); ++i) {
            body << ' ' << std::flush;
            for (int slice = 0; slice < 20 && !stopping(); ++slice) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(constructionError(server.url("/trickle.asx")), "can't download ASX file");
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(seconds, cPlayList::FetchDeadlineSeconds + 2);
}
