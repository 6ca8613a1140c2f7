// The player's command line: the forms it takes, what each stores in the
// settings, and the refusals that print one line and exit 2 without
// touching any file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

#include "commandline/CommandLine.h"
#include "kestrel/Unicode.h"
#include "state/Settings.h"
#include "tests/support/TempFolder.h"

using testsupport::cTempFolder;

namespace {

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(mFolder.file("my list.m3u")) << "#EXTM3U\n";
        std::ofstream(mFolder.file("other.m3u")) << "#EXTM3U\n";
        std::ofstream(mFolder.file("guide.xml")) << "<tv/>\n";
        std::filesystem::create_directories(mFolder.file("folder.m3u"));
        mkfifo(mFolder.file("pipe.m3u").c_str(), 0600);
        cSettings::instance()->reset();
    }
    void TearDown() override { cSettings::instance()->reset(); }

    cCommandLine parse(const std::vector<std::string>& arguments) const
    {
        return parseCommandLine(arguments, mFolder.path());
    }

    cTempFolder mFolder;
};

} // namespace

TEST_F(CommandLineTest, FormsAndWhatTheyAskFor)
{
    const std::string list = mFolder.file("my list.m3u");
    const std::string other = mFolder.file("other.m3u");
    struct cCase {
        std::vector<std::string> arguments;
        cCommandLine::eAction action;
        std::vector<std::string> lists; // --list
        std::vector<std::string> added; // bare
        std::string server;
        std::string language = {};
    };
    const cCase cases[] = {
        {{}, cCommandLine::Run, {}, {}, ""},
        {{"--help"}, cCommandLine::PrintHelp, {}, {}, ""},
        {{"-h"}, cCommandLine::PrintHelp, {}, {}, ""},
        {{"--version"}, cCommandLine::PrintVersion, {}, {}, ""},
        {{"--sources"}, cCommandLine::PrintSources, {}, {}, ""},
        {{"--list", list}, cCommandLine::Run, {list}, {}, ""},
        {{"--list=" + list, "--list", "other.m3u"}, cCommandLine::Run, {list, other}, {}, ""},
        {{"--list", list, "--list", list}, cCommandLine::Run, {list}, {}, ""},
        {{"--list", "https://tv.example/get.php?u=a&p=b"}, cCommandLine::Run, {"https://tv.example/get.php?u=a&p=b"},
         {}, ""},
        // What a file manager passes: a path or a file address.
        {{list}, cCommandLine::Run, {}, {list}, ""},
        {{"file://" + mFolder.path() + "/my%20list.m3u"}, cCommandLine::Run, {}, {list}, ""},
        {{"./other.m3u", "http://127.0.0.1:9/l.m3u"}, cCommandLine::Run, {}, {other, "http://127.0.0.1:9/l.m3u"}, ""},
        {{"--", "other.m3u"}, cCommandLine::Run, {}, {other}, ""},
        {{"--server", "tv.example:8080"}, cCommandLine::Run, {}, {}, "tv.example:8080"},
        {{"--server=https://tv.example/lists/"}, cCommandLine::Run, {}, {}, "https://tv.example/lists/"},
        {{"--server", "[::1]:8400"}, cCommandLine::Run, {}, {}, "[::1]:8400"},
        // A language of the files beside the program, in any letter case.
        {{"--language", "german"}, cCommandLine::Run, {}, {}, "", "german"},
        {{"--language=Portuguese", "--list", list}, cCommandLine::Run, {list}, {}, "", "portuguese"},
    };
    for (const cCase& c : cases) {
        std::string shown;
        for (const std::string& argument : c.arguments) {
            shown += " " + argument;
        }
        SCOPED_TRACE("lumivex" + shown);
        const cCommandLine line = parse(c.arguments);
        EXPECT_EQ(line.action, c.action) << line.error;
        EXPECT_EQ(line.lists, c.lists);
        EXPECT_EQ(line.replaceLists, !c.lists.empty());
        EXPECT_EQ(line.added, c.added);
        EXPECT_EQ(line.server, c.server);
        EXPECT_EQ(line.replaceServer, !c.server.empty());
        EXPECT_EQ(line.language, c.language);
        // A later start hands the language on to the running player.
        EXPECT_EQ(parse(toArguments(line)).language, c.language);
    }
}

TEST_F(CommandLineTest, RefusalsPrintOneLineAndTheUsageAndExit2WithoutTouchingAnyFile)
{
    struct cCase {
        std::vector<std::string> arguments;
        const char* says;
    };
    const cCase cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"-x"}, "unknown option -x"},
        {{"--list"}, "--list needs a file or an address"},
        {{"--server"}, "--server needs an address"},
        {{"--list", "missing.m3u"}, "no such file"},
        {{"missing.m3u"}, "no such file"},
        {{"--list", "folder.m3u"}, "not a plain file"},
        {{"pipe.m3u"}, "not a plain file"},
        {{"ftp://files.example/list.m3u"}, "not a file or an http or https address"},
        {{"file://otherhost/list.m3u"}, "not a local file address"},
        {{"--server", "not a host"}, "not a server address"},
        {{"--server", "tv.example:99999"}, "not a server address"},
        {{"--server", "ftp://tv.example/"}, "not a server address"},
        {{"--server", "tv.example", "--list", "other.m3u"}, "cannot be chosen together"},
        {{"--sources", "other.m3u"}, "give it alone"},
        {{"--help=yes"}, "takes no argument"},
        {{"--language"}, "--language needs a language"},
        {{"--language", "klingon"}, "no language \"klingon\" (there are: dutch, english, french, german"},
        {{"--language", "../language/german"}, "no language"},
        {{"--guide"}, "--guide needs a file or an address"},
        {{"--guide", "missing.xml"}, "no such file"},
        {{"--guide", "ftp://files.example/guide.xml"}, "not a file or an http or https address"},
        {{"--guide", ""}, "not a guide"},
        {{"--sources", "--guide", "guide.xml"}, "give it alone"},
        {{"--language", ""}, "no language"},
        {{"--sources", "--language", "german"}, "give it alone"},
    };
    const std::string settingsPath = mFolder.file("settings.xml");
    std::ofstream(settingsPath) << "untouched";
    for (const cCase& c : cases) {
        SCOPED_TRACE(c.says);
        std::vector<const char*> argv = {"lumivex"};
        for (const std::string& argument : c.arguments) {
            argv.push_back(argument.c_str());
        }
        std::ostringstream out;
        std::ostringstream error;
        cCommandLine line;
        bool askedForSettings = false;
        const int status = handleCommandLine(
            static_cast<int>(argv.size()), argv.data(), mFolder.path(),
            [&] {
                askedForSettings = true;
                return kestrel::fromUtf8(settingsPath);
            },
            out, error, line);
        EXPECT_EQ(status, 2);
        EXPECT_EQ(out.str(), "");
        EXPECT_NE(error.str().find(c.says), std::string::npos) << error.str();
        // One line, then the help's first line.
        EXPECT_EQ(error.str().rfind("lumivex: ", 0), 0u) << error.str();
        EXPECT_EQ(error.str().substr(error.str().find('\n') + 1), usageLine() + "\n");
        EXPECT_EQ(helpText().substr(0, usageLine().size() + 1), usageLine() + "\n");
        EXPECT_FALSE(askedForSettings);
    }
    std::ifstream in(settingsPath);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "untouched");
}

TEST_F(CommandLineTest, WhatEachFormStores)
{
    cSettings& settings = *cSettings::instance();
    const std::string list = mFolder.file("my list.m3u");
    const std::string other = mFolder.file("other.m3u");
    settings.setInteger(u"dbversion", 12);

    // A start without arguments changes nothing.
    EXPECT_FALSE(applyCommandLine(parse({}), settings));

    // --list replaces the stored lists; the server stays as it was.
    EXPECT_TRUE(applyCommandLine(parse({"--list", list}), settings));
    EXPECT_EQ(settings.getLists(), std::vector<std::u16string>{kestrel::fromUtf8(list)});
    EXPECT_EQ(settings.getServer(), cSettings::DefaultServer);

    // A bare list is added once, however often it is opened.
    EXPECT_TRUE(applyCommandLine(parse({other}), settings));
    EXPECT_FALSE(applyCommandLine(parse({other}), settings));
    EXPECT_EQ(settings.getLists(), (std::vector<std::u16string>{kestrel::fromUtf8(list), kestrel::fromUtf8(other)}));
    EXPECT_TRUE(applyCommandLine(parse({"--list", other}), settings));
    EXPECT_EQ(settings.getLists(), std::vector<std::u16string>{kestrel::fromUtf8(other)});

    // --server drops the lists and the installed version, so that the
    // server's catalogue is installed whatever its number.
    settings.setString(u"listsdigest", u"abc");
    EXPECT_TRUE(applyCommandLine(parse({"--server", "https://tv.example/lists/"}), settings));
    EXPECT_TRUE(settings.getLists().empty());
    EXPECT_EQ(settings.getServer(), u"https://tv.example/lists/");
    EXPECT_EQ(settings.getInteger(u"dbversion", -1), 0);
    EXPECT_EQ(settings.getString(u"listsdigest", u"absent"), u"absent");
    // The same server again keeps what it installed.
    settings.setInteger(u"dbversion", 4);
    EXPECT_FALSE(applyCommandLine(parse({"--server", "https://tv.example/lists/"}), settings));
    EXPECT_EQ(settings.getInteger(u"dbversion", -1), 4);

    // --language stores the language; the same again changes nothing.
    EXPECT_EQ(settings.getLanguage(), u"english");
    EXPECT_TRUE(applyCommandLine(parse({"--language", "french"}), settings));
    EXPECT_EQ(settings.getLanguage(), u"french");
    EXPECT_FALSE(applyCommandLine(parse({"--language", "French"}), settings));
    EXPECT_EQ(settings.getInteger(u"dbversion", -1), 4);

    EXPECT_EQ(sourcesText(settings), "server: https://tv.example/lists/\n");
    EXPECT_TRUE(applyCommandLine(parse({list}), settings));
    EXPECT_EQ(sourcesText(settings),
              "list 1: " + list + "\nserver: https://tv.example/lists/ (not used while lists are stored)\n");

    // --guide replaces the stored guides, keeps the lists, and a later
    // start hands it on to the running player as it was given.
    const std::string guide = mFolder.file("guide.xml");
    const cCommandLine guides = parse({"--guide", "guide.xml", "--guide=https://tv.example/guide.xml.gz"});
    EXPECT_EQ(guides.guides, (std::vector<std::string>{guide, "https://tv.example/guide.xml.gz"}));
    EXPECT_EQ(parse(toArguments(guides)).guides, guides.guides);
    EXPECT_TRUE(applyCommandLine(guides, settings));
    EXPECT_FALSE(applyCommandLine(guides, settings));
    EXPECT_EQ(settings.getGuides(),
              (std::vector<std::u16string>{kestrel::fromUtf8(guide), u"https://tv.example/guide.xml.gz"}));
    EXPECT_EQ(settings.getLists(), std::vector<std::u16string>{kestrel::fromUtf8(list)});
    EXPECT_EQ(sourcesText(settings), "list 1: " + list +
                                         "\nserver: https://tv.example/lists/ (not used while lists are stored)\n"
                                         "guide 1: " + guide + "\nguide 2: https://tv.example/guide.xml.gz\n");
    EXPECT_TRUE(applyCommandLine(parse({"--guide", "https://tv.example/guide.xml.gz"}), settings));
    EXPECT_EQ(settings.getGuides(), std::vector<std::u16string>{u"https://tv.example/guide.xml.gz"});
}

TEST_F(CommandLineTest, SourcesAreReadFromTheSettingsFile)
{
    cSettings& settings = *cSettings::instance();
    settings.setLists({u"http://tv.example/a.m3u?x=1&y=2"});
    ASSERT_TRUE(settings.save(kestrel::fromUtf8(mFolder.file("settings.xml"))));
    settings.reset();
    const char* argv[] = {"lumivex", "--sources"};
    std::ostringstream out;
    std::ostringstream error;
    cCommandLine line;
    EXPECT_EQ(handleCommandLine(2, argv, mFolder.path(),
                                [this] { return kestrel::fromUtf8(mFolder.file("settings.xml")); }, out, error,
                                line),
              0);
    EXPECT_EQ(out.str(), "list 1: http://tv.example/a.m3u?x=1&y=2\nserver: " +
                             kestrel::toUtf8(cSettings::DefaultServer) + " (not used while lists are stored)\n");
    EXPECT_EQ(error.str(), "");
}
