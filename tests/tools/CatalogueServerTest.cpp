#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include <unistd.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include "ToolsTestSupport.h"
#include "tools/CatalogueServer.h"
#include "tools/ServedFile.h"

using namespace toolstest;

namespace {

class cServedFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        mRoot = mFolder.file("root");
        std::filesystem::create_directories(mRoot + "/streams");
        writeFile(mRoot + "/dbversion", "7\n");
        writeFile(mRoot + "/database", "SQLite format 3 and more");
        writeFile(mRoot + "/streams/news.asx", "<asx version=\"3.0\"></asx>");
        writeFile(mRoot + "/streams/clip.MP4", "0123456789");
        writeFile(mFolder.file("secret.txt"), "outside the root");
        std::filesystem::create_symlink(mFolder.file("secret.txt"), mRoot + "/link-out");
        std::filesystem::create_symlink(mRoot + "/streams/clip.MP4", mRoot + "/link-in.mp4");
        mServer = std::make_unique<cCatalogueServer>(mRoot);
        mServer->start();
    }

    cTempFolder mFolder;
    std::string mRoot;
    std::unique_ptr<cCatalogueServer> mServer;
};

} // namespace

TEST_F(cServedFolder, AnswersVersionCatalogueAndFilesWithTheirTypes)
{
    struct cCase {
        const char* target;
        const char* body;
        const char* type;
    };
    const cCase cases[] = {
        {"/dbversion.php", "7\n", "text/plain; charset=utf-8"},
        {"/dbversion.php?client=1", "7\n", "text/plain; charset=utf-8"},
        {"/database", "SQLite format 3 and more", "application/vnd.sqlite3"},
        {"/streams/news.asx", "<asx version=\"3.0\"></asx>", "video/x-ms-asf"},
        {"/streams/clip.MP4", "0123456789", "video/mp4"},
        {"/streams/%63lip.MP4", "0123456789", "video/mp4"}, // percent-encoded name
        {"/link-in.mp4", "0123456789", "video/mp4"},         // a link that stays inside
        {"/dbversion", "7\n", "application/octet-stream"},
    };
    for (const cCase& c : cases) {
        const cAnswer answer = request(mServer->port(), c.target);
        EXPECT_EQ(answer.status, 200) << c.target;
        EXPECT_EQ(answer.body, c.body) << c.target;
        EXPECT_EQ(answer.header("Content-Type"), c.type) << c.target;
    }
    const cAnswer head = request(mServer->port(), "/streams/clip.MP4", {}, "HEAD");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("Content-Length"), "10");
    EXPECT_EQ(head.body, "");
}

TEST_F(cServedFolder, ServesSingleByteRanges)
{
    struct cCase {
        const char* range;
        int status;
        const char* body;
        const char* contentRange;
    };
    const cCase cases[] = {
        {"bytes=2-5", 206, "2345", "bytes 2-5/10"},
        {"bytes=7-", 206, "789", "bytes 7-9/10"},
        {"bytes=-3", 206, "789", "bytes 7-9/10"},
        {"bytes=-30", 206, "0123456789", "bytes 0-9/10"},
        {"bytes=8-100", 206, "89", "bytes 8-9/10"},
        {"bytes=10-", 416, nullptr, "bytes */10"},
        {"bytes=-0", 416, nullptr, "bytes */10"},
        {"bytes=5-2", 200, "0123456789", ""},   // malformed: the whole file
        {"bytes=0-1,4-5", 200, "0123456789", ""}, // several ranges: the whole file
        {"items=0-1", 200, "0123456789", ""},
    };
    for (const cCase& c : cases) {
        const cAnswer answer = request(mServer->port(), "/streams/clip.MP4", {{"Range", c.range}});
        EXPECT_EQ(answer.status, c.status) << c.range;
        if (c.body) {
            EXPECT_EQ(answer.body, c.body) << c.range;
        }
        EXPECT_EQ(answer.header("Content-Range"), c.contentRange) << c.range;
        EXPECT_EQ(answer.header("Accept-Ranges"), "bytes") << c.range;
    }
}

TEST_F(cServedFolder, RefusesPathsOutsideTheFolder)
{
    struct cCase {
        const char* target;
        int status;
    };
    const cCase cases[] = {
        {"/../secret.txt", 403},
        {"/streams/../../secret.txt", 403},
        {"/%2e%2e/secret.txt", 403},
        {"/streams/%2E%2E/%2E%2E/secret.txt", 403},
        {"/link-out", 403},
        {"/streams/..", 403},
        {"/missing.txt", 404},
        {"/streams", 404},   // folders are not listed
        {"/streams/", 404},
        {"/", 404},
        {"/a%00b", 400},
    };
    for (const cCase& c : cases) {
        const cAnswer answer = request(mServer->port(), c.target);
        EXPECT_EQ(answer.status, c.status) << c.target;
        EXPECT_EQ(answer.body.find("outside the root"), std::string::npos) << c.target;
    }
    EXPECT_EQ(request(mServer->port(), "/database", {}, "POST").status, 405);
    EXPECT_EQ(request(mServer->port(), "/database", {}, "DELETE").status, 405);
    EXPECT_TRUE(std::filesystem::exists(mRoot + "/database"));
}

TEST_F(cServedFolder, DotfilesAreNotServed)
{
    std::filesystem::create_directories(mRoot + "/.git");
    writeFile(mRoot + "/.git/config", "[remote] url = secret");
    writeFile(mRoot + "/.htpasswd", "admin:secret");
    writeFile(mRoot + "/streams/.news.asx.swp", "secret draft");
    std::filesystem::create_symlink(mRoot + "/.htpasswd", mRoot + "/plain-name"); // a plain name for a dotfile
    std::filesystem::create_symlink(mRoot + "/.git", mRoot + "/repository");
    const char* const targets[] = {
        "/.git/config", "/.htpasswd", "/streams/.news.asx.swp", "/%2Ehtpasswd", "/plain-name",
        "/repository/config", "/./database", "/streams/./news.asx",
    };
    for (const char* target : targets) {
        const cAnswer answer = request(mServer->port(), target);
        EXPECT_EQ(answer.status, 404) << target;
        EXPECT_EQ(answer.body.find("secret"), std::string::npos) << target;
    }
    EXPECT_EQ(request(mServer->port(), "/streams/news.asx").status, 200);
}

TEST_F(cServedFolder, MissingVersionFileIsNotFound)
{
    std::filesystem::remove(mRoot + "/dbversion");
    EXPECT_EQ(request(mServer->port(), "/dbversion.php").status, 404);
}

TEST(CatalogueServer, RefusesAMissingFolder)
{
    cTempFolder folder;
    EXPECT_ANY_THROW(cCatalogueServer(folder.file("missing")));
    writeFile(folder.file("file"), "x");
    EXPECT_ANY_THROW(cCatalogueServer(folder.file("file")));
}

TEST(CatalogueServer, ContentTypesByExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"a.asx", "video/x-ms-asf"},     {"a.ASF", "video/x-ms-asf"},
        {"a.wmv", "video/x-ms-wmv"},     {"a.mkv", "video/x-matroska"},
        {"a.webm", "video/webm"},        {"a.ts", "video/mp2t"},
        {"a.m3u8", "application/vnd.apple.mpegurl"},
        {"dir.d/noext", "application/octet-stream"},
        {"a.unknown", "application/octet-stream"},
    };
    for (const auto& [name, type] : cases) {
        EXPECT_EQ(contentTypeFor(name), type) << name;
    }
}

TEST(CatalogueServer, ByteRangesOfAFile)
{
    const struct {
        const char* header;
        uint64_t size;
        eRangeKind kind;
        uint64_t first, last;
    } cases[] = {
        {"bytes=0-99", 1000, eRangeKind::Part, 0, 99},
        {"bytes=900-", 1000, eRangeKind::Part, 900, 999},
        {"bytes=900-5000", 1000, eRangeKind::Part, 900, 999},
        {"bytes=-100", 1000, eRangeKind::Part, 900, 999},
        {"bytes=-5000", 1000, eRangeKind::Part, 0, 999},
        {"bytes=1000-", 1000, eRangeKind::Unsatisfiable, 0, 0},
        {"bytes=-0", 1000, eRangeKind::Unsatisfiable, 0, 0},
        {"bytes=0-", 0, eRangeKind::Unsatisfiable, 0, 0},
        {"bytes=5-4", 1000, eRangeKind::Whole, 0, 0},
        {"bytes=0-1,5-6", 1000, eRangeKind::Whole, 0, 0},
        {"items=0-1", 1000, eRangeKind::Whole, 0, 0},
        {"bytes=a-b", 1000, eRangeKind::Whole, 0, 0},
        {"bytes=1234567890123456789-", 1000, eRangeKind::Whole, 0, 0},
    };
    for (const auto& c : cases) {
        cByteRange range;
        EXPECT_EQ(parseRange(c.header, c.size, range), c.kind) << c.header;
        if (c.kind == eRangeKind::Part) {
            EXPECT_EQ(range.first, c.first) << c.header;
            EXPECT_EQ(range.last, c.last) << c.header;
        }
    }
}

TEST(ServerTool, PrintsItsPortAndEndsOnTermination)
{
    cTempFolder folder;
    writeFile(folder.file("dbversion"), "12");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The server dies with the test, even when an assertion below ends it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(LUMIVEX_SERVER_TOOL, LUMIVEX_SERVER_TOOL, "--root", folder.path().c_str(), "--port", "0",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        line.push_back(c);
    }
    close(out[0]);
    const int port = std::atoi(line.c_str());
    ASSERT_GT(port, 0) << "first line: " << line;
    const cAnswer answer = request(static_cast<uint16_t>(port), "/dbversion.php");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "12");
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    const std::string server = LUMIVEX_SERVER_TOOL;
    EXPECT_EQ(runCommand(server + " --root " + folder.file("missing") + " --port 0 2>/dev/null"), 1);
    EXPECT_EQ(runCommand(server + " --port 0 2>/dev/null"), 2); // no folder given
    EXPECT_EQ(runCommand(server + " --root " + folder.path() + " --port 0 --threads 0 2>/dev/null"), 2);
    EXPECT_EQ(runCommand(server + " --root " + folder.path() + " --port 0 --header-timeout soon 2>/dev/null"), 2);

    // The help names every limit and the alternative for serving at scale.
    std::string help;
    EXPECT_EQ(runCommand(server + " --help", &help), 0);
    for (const char* text : {"--header-timeout", "--io-timeout", "--threads", "--queue", "--max-waiting",
                             "static web server or a CDN"}) {
        EXPECT_NE(help.find(text), std::string::npos) << text;
    }
}
