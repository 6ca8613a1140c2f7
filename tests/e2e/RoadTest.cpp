// The installed program, end to end: `cmake --install` into a temporary
// prefix, then the installed lumivex under the test's X server, in a
// temporary home, against the installed catalogue server, driven from
// outside with the pointer and the wheel and watched through its window
// title, screenshots and the files it keeps.

#include "Harness.h"
#include "tests/support/PrivateDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

// The road moves the real pointer, which every client of an X server
// shares: on the display the other graphical tests use at the same time it
// would wander into their stages. The road gets an X server of its own.
[[maybe_unused]] ::testing::Environment* const privateDisplay =
    ::testing::AddGlobalTestEnvironment(new testsupport::cPrivateDisplay);

// Stage coordinates of what the road clicks (800 x 600 stage).
constexpr int ContinueX = 400, ContinueY = 528;  // the database-updated scene's continue button
constexpr int ChannelsX = 120, ChannelsY = 528;  // the home scene's channels button
constexpr int CarouselX = 400, CarouselY = 300;  // the home carousel's focused tile

// What the screenshots are checked against: a region and the mean colour
// it shows once the scene has settled, with a tolerance that survives small
// font and rasteriser differences yet tells the scenes apart.
constexpr cRect ContinueButton{330, 512, 140, 32};
constexpr cColour ContinueBlue{102, 146, 239};
constexpr cRect ChannelsButton{60, 515, 130, 26};
constexpr cColour ChannelsGrey{66, 73, 88};
constexpr cRect Logo{250, 20, 60, 60};
constexpr cColour LogoBlue{128, 170, 253};
constexpr cRect BusyIcon{352, 252, 96, 96};
constexpr int Tolerance = 30;

// The pickers (channel browser, favourites): back and favourites buttons
// at y 500, 180 x 56, 30 from the edges; the play orb's centre at
// (400, 480).
constexpr int PickerBackX = 120, PickerBackY = 528;
constexpr int FavoritesX = 680, FavoritesY = 528; // the home scene's favourites button stands there too
constexpr int PlayOrbX = 400, PlayOrbY = 480;

// A list's rows stand centred in its window, which starts below the
// 20-pixel scroll arrow and a 5-pixel gap and is 50 pixels shorter than the
// list; a row is a line of the Monospace font plus 5 pixels.
constexpr int RowPitch = 25;
struct cList {
    int x, y, width, height;
};
constexpr cList CountryList{10, 160, 160, 300};
constexpr cList ChannelList{180, 160, 440, 250};
constexpr cList TypeList{630, 160, 160, 300};
// The stage point at the middle of row index of a list of count rows.
int rowX(const cList& list)
{
    return list.x + list.width / 2;
}
int rowY(const cList& list, int index, int count)
{
    const int window = list.height - 50;
    return list.y + 25 + (window - count * RowPitch) / 2 + index * RowPitch + RowPitch / 2;
}
// The middle of a row, where the white letters of a short name stand.
cRect rowBand(const cList& list, int index, int count)
{
    return {rowX(list) - 40, rowY(list, index, count) - 8, 80, 16};
}
constexpr cColour White{255, 255, 255};

// The player scene: the video of the 320 x 240 test clip centred on the
// stage; its top rows hold only the clip's colour (the moving square runs
// lower). Controls fade in on motion: add to favourites and full screen
// 48 x 48 centred 78 from the sides at y 64, back at (30, 500) 180 x 56.
constexpr cRect Video{240, 180, 320, 240};
constexpr cRect VideoTop{250, 188, 300, 80};
constexpr cColour ClipRed{255, 0, 0};
constexpr int VideoTolerance = 70;
constexpr int AddToFavouritesX = 78, AddToFavouritesY = 64;
constexpr cRect AddToFavouritesButton{54, 40, 48, 48};
constexpr int FullScreenX = 722, FullScreenY = 64;
constexpr int PlayerBackX = 120, PlayerBackY = 528;
constexpr cRect PlayerBackButton{30, 500, 180, 56};
// The home carousel's centre tile (256 x 256 about the stage centre), its
// upper part away from the clip's square.
constexpr cRect CentreTileTop{290, 180, 220, 80};

std::string settingsItem(const std::string& name, const std::string& value)
{
    // One line of a user file as it lies on disk, without the byte-order mark.
    return utf16File("<item name=\"" + name + "\">" + value + "</item>\n").substr(2);
}

class RoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* display = std::getenv("DISPLAY");
        ASSERT_TRUE(display != nullptr && *display != '\0') << "the test's own X server (Xvfb) did not start";
        ASSERT_FALSE(cInstallation::instance().prefix().empty()) << cInstallation::instance().error();
        mFolder = makeTempFolder("e2e");
        ASSERT_FALSE(mFolder.empty());
        mPlayer.emplace(mFolder);
    }

    void TearDown() override
    {
        mPlayer.reset();
        mCatalogue.reset();
        // A failed road keeps its folder (screenshots, standard error).
        if (HasFailure()) {
            std::cout << "kept for a look: " << mFolder << "\n";
        } else if (!mFolder.empty()) {
            std::error_code ignored;
            fs::remove_all(mFolder, ignored);
        }
    }

    // A catalogue of version 1 on the installed server: four channels, one
    // with a clip the server serves, one on an address that never answers.
    void startCatalogueServer()
    {
        mCatalogue.emplace(mFolder + "/server",
                           std::vector<cChannel>{
                               {"France", "News", "Red Line", "A red test clip", "red.mp4", "", "red"},
                               {"France", "Music", "Blue Hour", "Not served", "blue.mp4", "", ""},
                               {"Spain", "News", "Dead Air", "Never answers", "", "http://127.0.0.1:9/dead.mp4", ""},
                               {"Italy", "Nature", "Green Hills", "Not served", "green.mp4", "", ""},
                           },
                           1);
        ASSERT_TRUE(mCatalogue->ready()) << mCatalogue->problem();
    }

    cPlayer& player() { return *mPlayer; }

    // The player scene's controls show on motion and hide 3 seconds after
    // the last; a move during their fade is ignored. Moves the pointer to
    // (x, y), a pixel to and fro, until they show in full: the channel's
    // name in white above the video.
    ::testing::AssertionResult revealControls(int x, int y)
    {
        const cRect name{340, 48, 120, 24};
        for (int attempt = 0; attempt < 5; ++attempt) {
            const ::testing::AssertionResult moved = player().move(x + attempt % 2, y);
            if (!moved) {
                return moved;
            }
            if (player().waitForShare("controls", name, White, 40, 0.03, 1500)) {
                return ::testing::AssertionSuccess();
            }
        }
        return ::testing::AssertionFailure() << "the controls did not show (title \"" << player().title() << "\")";
    }

    std::string mFolder;
    std::optional<cCatalogueServer> mCatalogue;
    std::optional<cPlayer> mPlayer;
};

TEST(Install, LaysOutTheProgramBesideItsFilesWithALinkAMenuEntryAndTheTools)
{
    const cInstallation& installation = cInstallation::instance();
    ASSERT_FALSE(installation.prefix().empty()) << installation.error();
    const fs::path prefix = installation.prefix();
    const fs::path program = prefix / "lib/lumivex/lumivex";

    // bin/lumivex is a relative link: the kernel resolves /proc/self/exe
    // through it to the folder that holds skin/, language/ and icons/.
    ASSERT_TRUE(fs::is_symlink(prefix / "bin/lumivex"));
    EXPECT_TRUE(fs::read_symlink(prefix / "bin/lumivex").is_relative());
    EXPECT_EQ(fs::canonical(prefix / "bin/lumivex"), fs::canonical(program));
    EXPECT_EQ(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
    for (const char* file : {"skin/idle-bg.png", "skin/update-bg.png", "skin/continue-button.png", "skin/busy.png",
                             "skin/logo.png", "skin/play-orb.png", "language/english.xml", "icons/lumivex-48.png",
                             "icons/lumivex-32.png"}) {
        EXPECT_TRUE(fs::is_regular_file(prefix / "lib/lumivex" / file)) << file;
    }
    // Every skin image of the build is installed, and nothing else there.
    size_t built = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(LUMIVEX_BUILD_DIR) / "bin/skin")) {
        ++built;
        EXPECT_TRUE(fs::exists(prefix / "lib/lumivex/skin" / entry.path().filename())) << entry.path();
    }
    EXPECT_EQ(built, static_cast<size_t>(std::distance(fs::directory_iterator(prefix / "lib/lumivex/skin"),
                                                       fs::directory_iterator())));

    // The menu entry and its icon in the desktop's icon theme.
    const std::string entry = readFile((prefix / "share/applications/lumivex.desktop").string());
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
    // It opens M3U lists, files or addresses, as "Open with" passes them.
    for (const char* line : {"\nType=Application\n", "\nName=Lumivex\n", "\nExec=lumivex %U\n", "\nIcon=lumivex\n",
                             "\nTerminal=false\n", "\nCategories=AudioVideo;Video;Player;TV;\n",
                             "\nMimeType=audio/x-mpegurl;audio/mpegurl;application/vnd.apple.mpegurl;"
                             "application/x-mpegurl;\n"}) {
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    }
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/icons/hicolor/48x48/apps/lumivex.png"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/icons/hicolor/32x32/apps/lumivex.png"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/icons/hicolor/scalable/apps/lumivex.svg"));
    EXPECT_EQ(readFile((prefix / "share/icons/hicolor/48x48/apps/lumivex.png").string()),
              readFile((prefix / "lib/lumivex/icons/lumivex-48.png").string()));

    // The catalogue tools run from the prefix.
    for (const std::string& tool : {installation.catalogueTool(), installation.serverTool()}) {
        EXPECT_TRUE(fs::is_regular_file(tool)) << tool;
    }
}

// First start against a catalogue server: the catalogue arrives, the
// database-updated scene's continue button leads home, the wheel turns the
// carousel, the channel browser plays a channel, which is added to the
// favourites and shows in the carousel, the favourites scene plays it
// again, and closing the window keeps the settings, the recent channels
// with the picture and the favourites.
TEST_F(RoadTest, FirstStartInstallsTheCatalogueAndLeadsHomeAndOn)
{
    startCatalogueServer();
    player().writeSettings(mCatalogue->address());

    ASSERT_TRUE(player().start());
    ASSERT_TRUE(player().waitForTitle("Updating"));
    ASSERT_TRUE(player().waitForRegion("newdb", ContinueButton, ContinueBlue, Tolerance));
    EXPECT_EQ(player().userFile("channels/database"), readFile(mCatalogue->database()));
    ASSERT_TRUE(player().click(ContinueX, ContinueY));
    ASSERT_TRUE(player().waitForTitle("Recent channels..."));
    ASSERT_TRUE(player().waitForStill("home"));
    EXPECT_TRUE(player().lastShot().near(ChannelsButton, ChannelsGrey, Tolerance));
    // The skin comes from the installed folder, not a grey stand-in.
    EXPECT_TRUE(player().lastShot().near(Logo, LogoBlue, Tolerance));
    ASSERT_TRUE(player().wheel(CarouselX, CarouselY, true, 2));
    ASSERT_TRUE(player().wheel(CarouselX, CarouselY, false, 1));
    ASSERT_TRUE(player().waitForStill("home-turned"));
    ASSERT_EQ(player().title(), "Recent channels...");
    ASSERT_TRUE(player().click(ChannelsX, ChannelsY));
    ASSERT_TRUE(player().waitForTitle("Select channel..."));
    ASSERT_TRUE(player().waitForStill("channels"));
    // The browser stands on the skin too, with its country and type lists
    // (Any, France, Italy, Spain; Any, Music, Nature, News).
    EXPECT_TRUE(player().lastShot().near(Logo, LogoBlue, Tolerance));
    EXPECT_GT(player().lastShot().shareNear(rowBand(CountryList, 1, 4), White, 60), 0.03);
    EXPECT_GT(player().lastShot().shareNear(rowBand(TypeList, 3, 4), White, 60), 0.03);

    // France, News, Red Line, the play orb: the player scene under the
    // channel's name, then the clip's red, moving.
    ASSERT_TRUE(player().click(rowX(CountryList), rowY(CountryList, 1, 4)));
    ASSERT_TRUE(player().click(rowX(TypeList), rowY(TypeList, 3, 4)));
    ASSERT_TRUE(player().waitForShare("france-news", rowBand(ChannelList, 0, 1), White, 60, 0.03, 5000));
    ASSERT_TRUE(player().click(rowX(ChannelList), rowY(ChannelList, 0, 1)));
    ASSERT_TRUE(player().click(PlayOrbX, PlayOrbY));
    ASSERT_TRUE(player().waitForTitle("Red Line"));
    ASSERT_TRUE(player().waitForRegion("playing", VideoTop, ClipRed, VideoTolerance));
    ASSERT_TRUE(player().waitForChange("moving", Video, 15000));
    // A picture of the channel is kept once enough frames have played.
    std::string picture;
    ASSERT_TRUE(player().waitForPicture(picture, 30000));
    ASSERT_TRUE(revealControls(AddToFavouritesX, AddToFavouritesY));
    ASSERT_TRUE(player().click(AddToFavouritesX, AddToFavouritesY));
    ASSERT_TRUE(revealControls(PlayerBackX, PlayerBackY));
    ASSERT_TRUE(player().click(PlayerBackX, PlayerBackY));
    ASSERT_TRUE(player().waitForTitle("Recent channels..."));
    // The carousel's centre tile shows the kept picture: the clip's red.
    ASSERT_TRUE(player().waitForStill("home-recent"));
    EXPECT_GT(player().lastShot().shareNear(CentreTileTop, ClipRed, VideoTolerance), 0.5);

    // The favourites scene lists the channel and plays it; full screen
    // (which nothing carries out without a window manager) keeps it
    // playing, and back leads home.
    ASSERT_TRUE(player().click(FavoritesX, FavoritesY));
    ASSERT_TRUE(player().waitForTitle("Favorite channels"));
    ASSERT_TRUE(player().waitForShare("favourites", rowBand(ChannelList, 0, 1), White, 60, 0.03, 5000));
    ASSERT_TRUE(player().click(rowX(ChannelList), rowY(ChannelList, 0, 1)));
    ASSERT_TRUE(player().click(PlayOrbX, PlayOrbY));
    ASSERT_TRUE(player().waitForTitle("Red Line"));
    ASSERT_TRUE(player().waitForRegion("favourite-playing", VideoTop, ClipRed, VideoTolerance));
    ASSERT_TRUE(revealControls(FullScreenX, FullScreenY));
    ASSERT_TRUE(player().click(FullScreenX, FullScreenY));
    ASSERT_TRUE(player().waitForChange("full-screen-moving", Video, 15000));
    EXPECT_EQ(player().title(), "Red Line");
    ASSERT_TRUE(revealControls(PlayerBackX, PlayerBackY));
    ASSERT_TRUE(player().click(PlayerBackX, PlayerBackY));
    ASSERT_TRUE(player().waitForTitle("Recent channels..."));

    ASSERT_TRUE(player().closeWindow());
    ASSERT_TRUE(player().waitForExit());

    EXPECT_EQ(player().exitStatus(), 0) << player().errorText();
    const std::string settings = player().userFile("settings.xml");
    EXPECT_EQ(settings.rfind(utf16File("<settings>\n"), 0), 0u);
    EXPECT_NE(settings.find(settingsItem("dbversion", "1")), std::string::npos);
    EXPECT_NE(settings.find(settingsItem("language", "english")), std::string::npos);
    EXPECT_NE(settings.find(settingsItem("server", mCatalogue->address())), std::string::npos);
    const std::string name = utf16File("Red Line").substr(2);
    EXPECT_NE(player().userFile("recent.xml").find(name), std::string::npos);
    EXPECT_NE(player().userFile("channels/favorites.xml").find(name), std::string::npos);
    EXPECT_FALSE(readFile(picture).empty()) << picture;
    EXPECT_EQ(player().errorText().find("Application"), std::string::npos) << player().errorText();
}

// The word of a 180 x 56 button standing at (x, y), on a screenshot: white
// letters in its room (x 52 to 166 of the button), none between the icon
// and that room nor between the room and the rim, and none above the
// button: the whole word inside its button.
::testing::AssertionResult wordInside(const cImage& shot, int x, int y)
{
    const double letters = shot.shareNear({x + 52, y + 8, 114, 40}, White, 60);
    const double beforeRoom = shot.shareNear({x + 46, y + 4, 5, 48}, White, 60);
    const double afterRoom = shot.shareNear({x + 168, y, 16, 56}, White, 60);
    const double above = shot.shareNear({x, y - 20, 180, 18}, White, 60);
    if (letters > 0.02 && beforeRoom == 0 && afterRoom == 0 && above == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << shot.name << ": the word of the button at (" << x << ", " << y
                                         << ") covers " << letters << " of its room, " << beforeRoom << " before it, "
                                         << afterRoom << " after it, " << above << " above the button";
}

// A first start on a German desktop: every scene in German, every button's
// word inside its button, and German stored for the next start.
TEST_F(RoadTest, AFirstStartOnAGermanDesktopSpeaksGerman)
{
    startCatalogueServer();
    player().writeSettings(mCatalogue->address());
    player().setLocale("de_DE.UTF-8");

    ASSERT_TRUE(player().start());
    ASSERT_TRUE(player().waitForTitle("Aktualisierung"));
    ASSERT_TRUE(player().waitForRegion("de-newdb", ContinueButton, ContinueBlue, Tolerance));
    ASSERT_TRUE(player().waitForStill("de-newdb-still"));
    EXPECT_TRUE(wordInside(player().lastShot(), 310, 500));
    ASSERT_TRUE(player().click(ContinueX, ContinueY));
    ASSERT_TRUE(player().waitForTitle("Zuletzt gesehen..."));
    // The pointer away from every button, so that none stands raised.
    ASSERT_TRUE(player().move(400, 590));
    ASSERT_TRUE(player().waitForStill("de-home"));
    EXPECT_TRUE(wordInside(player().lastShot(), 30, 500));
    EXPECT_TRUE(wordInside(player().lastShot(), 590, 500));

    ASSERT_TRUE(player().click(ChannelsX, ChannelsY));
    ASSERT_TRUE(player().waitForTitle("Sender ausw\u00e4hlen..."));
    ASSERT_TRUE(player().move(400, 590));
    ASSERT_TRUE(player().waitForStill("de-channels"));
    EXPECT_TRUE(wordInside(player().lastShot(), 30, 500));
    EXPECT_TRUE(wordInside(player().lastShot(), 590, 500));
    // "Alle" heads the filters and still means any: France, then Alle.
    ASSERT_TRUE(player().click(rowX(CountryList), rowY(CountryList, 1, 4)));
    ASSERT_TRUE(player().click(rowX(TypeList), rowY(TypeList, 0, 4)));
    ASSERT_TRUE(player().waitForShare("de-france", rowBand(ChannelList, 1, 2), White, 60, 0.03, 5000));
    ASSERT_TRUE(player().click(rowX(ChannelList), rowY(ChannelList, 1, 2)));
    ASSERT_TRUE(player().click(PlayOrbX, PlayOrbY));
    ASSERT_TRUE(player().waitForTitle("Red Line"));
    ASSERT_TRUE(player().waitForRegion("de-playing", VideoTop, ClipRed, VideoTolerance));
    ASSERT_TRUE(revealControls(400, 590));
    ASSERT_TRUE(player().waitForShare("de-player", {82, 512, 84, 32}, White, 60, 0.02, 5000));
    EXPECT_TRUE(wordInside(player().lastShot(), 30, 500));
    ASSERT_TRUE(revealControls(PlayerBackX, PlayerBackY));
    ASSERT_TRUE(player().click(PlayerBackX, PlayerBackY));
    ASSERT_TRUE(player().waitForTitle("Zuletzt gesehen..."));
    ASSERT_TRUE(player().waitForStill("de-home-again"));

    ASSERT_TRUE(player().click(FavoritesX, FavoritesY));
    ASSERT_TRUE(player().waitForTitle("Lieblingssender"));
    ASSERT_TRUE(player().move(400, 590));
    ASSERT_TRUE(player().waitForStill("de-favourites"));
    EXPECT_TRUE(wordInside(player().lastShot(), 30, 500));

    ASSERT_TRUE(player().closeWindow());
    ASSERT_TRUE(player().waitForExit());
    EXPECT_EQ(player().exitStatus(), 0) << player().errorText();
    EXPECT_NE(player().userFile("settings.xml").find(settingsItem("language", "german")), std::string::npos);
}

// A user's own list on the command line of a fresh data folder: the update
// scene, "Database updated", the list's channels in the browser, one of
// them playing; a later plain start reads the same list and, as nothing
// changed, leads straight home.
TEST_F(RoadTest, AListOnTheCommandLineIsBrowsedAndPlayedAndReadAgainAtTheNextStart)
{
    // The catalogue server only serves the clip here; the player never
    // asks it for a catalogue.
    startCatalogueServer();
    const std::string list = mFolder + "/my channels.m3u";
    std::ofstream(list) << "#EXTM3U\n#EXTINF:-1 tvg-country=\"FR\" group-title=\"News\",Red Line\nhttp://"
                        << mCatalogue->address() << "/red.mp4\n";

    ASSERT_TRUE(player().start({"--list", list}));
    ASSERT_TRUE(player().waitForTitle("Updating"));
    ASSERT_TRUE(player().waitForRegion("list-newdb", ContinueButton, ContinueBlue, Tolerance));
    ASSERT_TRUE(player().click(ContinueX, ContinueY));
    ASSERT_TRUE(player().waitForTitle("Recent channels..."));
    ASSERT_TRUE(player().waitForStill("list-home"));
    ASSERT_TRUE(player().click(ChannelsX, ChannelsY));
    ASSERT_TRUE(player().waitForTitle("Select channel..."));
    ASSERT_TRUE(player().waitForStill("list-channels"));
    // Any, France; Any, News.
    ASSERT_TRUE(player().click(rowX(CountryList), rowY(CountryList, 1, 2)));
    ASSERT_TRUE(player().click(rowX(TypeList), rowY(TypeList, 1, 2)));
    ASSERT_TRUE(player().waitForShare("list-france-news", rowBand(ChannelList, 0, 1), White, 60, 0.03, 5000));
    ASSERT_TRUE(player().click(rowX(ChannelList), rowY(ChannelList, 0, 1)));
    ASSERT_TRUE(player().click(PlayOrbX, PlayOrbY));
    ASSERT_TRUE(player().waitForTitle("Red Line"));
    ASSERT_TRUE(player().waitForRegion("list-playing", VideoTop, ClipRed, VideoTolerance));
    ASSERT_TRUE(player().closeWindow());
    ASSERT_TRUE(player().waitForExit());
    EXPECT_EQ(player().exitStatus(), 0) << player().errorText();

    ASSERT_TRUE(player().start());
    ASSERT_TRUE(player().waitForTitle("Recent channels...", 60000));
    ASSERT_TRUE(player().closeWindow());
    ASSERT_TRUE(player().waitForExit());
    EXPECT_EQ(player().exitStatus(), 0) << player().errorText();
    EXPECT_NE(player().userFile("settings.xml").find(settingsItem("list1", list)), std::string::npos);
    EXPECT_EQ(player().errorText().find("failed"), std::string::npos) << player().errorText();
}

// An XMLTV time of the UTC seconds, "YYYYMMDDhhmmss +0000".
std::string xmltvTime(time_t utc)
{
    std::tm parts{};
    gmtime_r(&utc, &parts);
    char text[32];
    std::strftime(text, sizeof(text), "%Y%m%d%H%M%S +0000", &parts);
    return text;
}

// A list whose header names a programme guide served beside it: once the
// guide has been read, the browser shows the selected channel's programme
// under its channel list, and the player's controls show what is on now
// and next under the channel's name.
TEST_F(RoadTest, AListsGuideShowsWhatIsOnInTheBrowserAndThePlayer)
{
    startCatalogueServer();
    const time_t now = std::time(nullptr);
    std::ofstream(mFolder + "/server/guide.xml")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv>\n"
        << "<channel id=\"red.line\"><display-name>Red Line</display-name></channel>\n"
        << "<programme channel=\"red.line\" start=\"" << xmltvTime(now - 1200) << "\" stop=\""
        << xmltvTime(now + 2400) << "\"><title>Evening News</title></programme>\n"
        << "<programme channel=\"red.line\" start=\"" << xmltvTime(now + 2400) << "\" stop=\""
        << xmltvTime(now + 6000) << "\"><title>Late Film</title></programme>\n</tv>\n";
    const std::string list = mFolder + "/guided.m3u";
    std::ofstream(list) << "#EXTM3U url-tvg=\"http://" << mCatalogue->address() << "/guide.xml\"\n"
                        << "#EXTINF:-1 tvg-id=\"red.line\" tvg-country=\"FR\" group-title=\"News\",Red Line\nhttp://"
                        << mCatalogue->address() << "/red.mp4\n";

    ASSERT_TRUE(player().start({"--list", list}));
    ASSERT_TRUE(player().waitForRegion("guide-newdb", ContinueButton, ContinueBlue, Tolerance));
    ASSERT_TRUE(player().click(ContinueX, ContinueY));
    ASSERT_TRUE(player().waitForTitle("Recent channels..."));
    ASSERT_TRUE(player().waitForStill("guide-home"));
    // The guide is read on its own thread; the browser looks at it when a
    // channel is chosen.
    const std::string guideFile = player().dataFolder() + "/channels/guide";
    for (int waited = 0; waited < 300 && !fileExists(guideFile); ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(fileExists(guideFile)) << player().errorText();
    ASSERT_TRUE(player().click(ChannelsX, ChannelsY));
    ASSERT_TRUE(player().waitForTitle("Select channel..."));
    ASSERT_TRUE(player().waitForStill("guide-channels"));
    // Under the channel list, the chosen channel's programme (the list's
    // only row, chosen again here): small white letters where a browser
    // without a guide shows only the list's dark reflection.
    const cRect guideLine{ChannelList.x, ChannelList.y + ChannelList.height + 4, ChannelList.width, 18};
    ASSERT_TRUE(player().click(rowX(ChannelList), rowY(ChannelList, 0, 1)));
    ASSERT_TRUE(player().waitForShare("guide-browser-line", guideLine, White, 60, 0.008, 10000));

    ASSERT_TRUE(player().click(PlayOrbX, PlayOrbY));
    ASSERT_TRUE(player().waitForTitle("Red Line"));
    ASSERT_TRUE(player().waitForRegion("guide-playing", VideoTop, ClipRed, VideoTolerance));
    ASSERT_TRUE(revealControls(400, 450));
    // Two lines under the name: now and next.
    const cImage& shot = player().lastShot();
    EXPECT_GT(shot.shareNear({200, 72, 400, 16}, White, 60), 0.008);
    EXPECT_GT(shot.shareNear({200, 90, 400, 16}, White, 60), 0.008);

    ASSERT_TRUE(player().closeWindow());
    ASSERT_TRUE(player().waitForExit());
    EXPECT_EQ(player().exitStatus(), 0) << player().errorText();
}

// The keyboard on the road: a channel chosen in the browser, zapping to
// the previous channel (not served: the player scene stays and says why)
// and back, full screen on and off with F and Escape, and Escape home.
TEST_F(RoadTest, ZappingAndTheKeysOfThePlayer)
{
    startCatalogueServer();
    player().writeSettings(mCatalogue->address());
    ASSERT_TRUE(player().start());
    ASSERT_TRUE(player().waitForRegion("keys-newdb", ContinueButton, ContinueBlue, Tolerance));
    ASSERT_TRUE(player().key("Return"));
    ASSERT_TRUE(player().waitForTitle("Recent channels..."));
    ASSERT_TRUE(player().waitForStill("keys-home"));
    ASSERT_TRUE(player().key("c"));
    ASSERT_TRUE(player().waitForTitle("Select channel..."));
    ASSERT_TRUE(player().waitForStill("keys-channels"));
    // Any and Any: Blue Hour, Dead Air, Green Hills, Red Line.
    ASSERT_TRUE(player().click(rowX(ChannelList), rowY(ChannelList, 3, 4)));
    ASSERT_TRUE(player().key("Return"));
    ASSERT_TRUE(player().waitForTitle("Red Line"));
    ASSERT_TRUE(player().waitForRegion("keys-playing", VideoTop, ClipRed, VideoTolerance));

    ASSERT_TRUE(player().key("Up"));
    ASSERT_TRUE(player().waitForTitle("Green Hills"));
    ASSERT_TRUE(player().key("Down"));
    ASSERT_TRUE(player().waitForTitle("Red Line"));
    ASSERT_TRUE(player().waitForRegion("keys-back-to-red", VideoTop, ClipRed, VideoTolerance));

    // Nothing carries full screen out without a window manager: the picture
    // plays on, and Escape leaves full screen before it leaves the channel.
    ASSERT_TRUE(player().key("f"));
    ASSERT_TRUE(player().waitForChange("keys-full-screen", Video, 15000));
    ASSERT_TRUE(player().key("Escape"));
    ASSERT_TRUE(player().waitForChange("keys-windowed", Video, 15000));
    EXPECT_EQ(player().title(), "Red Line");
    ASSERT_TRUE(player().key("Escape"));
    ASSERT_TRUE(player().waitForTitle("Recent channels..."));

    ASSERT_TRUE(player().closeWindow());
    ASSERT_TRUE(player().waitForExit());
    EXPECT_EQ(player().exitStatus(), 0) << player().errorText();
    EXPECT_NE(player().errorText().find("Green Hills"), std::string::npos) << player().errorText();
}

// The unreachable channel: the player scene gives up and the home scene
// comes back. The channel went to the front of the recent list when it
// started, but a channel that never showed a picture is not kept in
// recent.xml.
TEST_F(RoadTest, AnUnreachableChannelLeadsHomeAndIsKeptAmongTheRecent)
{
    startCatalogueServer();
    player().installCatalogue(mCatalogue->database());
    player().writeSettings(mCatalogue->address(), "<item name=\"dbversion\">1</item>\n");

    ASSERT_TRUE(player().start());
    ASSERT_TRUE(player().waitForTitle("Recent channels..."));
    ASSERT_TRUE(player().waitForStill("home"));
    ASSERT_TRUE(player().click(ChannelsX, ChannelsY));
    ASSERT_TRUE(player().waitForTitle("Select channel..."));
    ASSERT_TRUE(player().waitForStill("channels"));
    ASSERT_TRUE(player().click(rowX(CountryList), rowY(CountryList, 3, 4)));
    ASSERT_TRUE(player().click(rowX(TypeList), rowY(TypeList, 3, 4)));
    ASSERT_TRUE(player().waitForShare("spain-news", rowBand(ChannelList, 0, 1), White, 60, 0.03, 5000));
    ASSERT_TRUE(player().click(rowX(ChannelList), rowY(ChannelList, 0, 1)));
    ASSERT_TRUE(player().click(PlayOrbX, PlayOrbY));
    ASSERT_TRUE(player().waitForTitle("Recent channels...", 60000));
    ASSERT_TRUE(player().closeWindow());
    ASSERT_TRUE(player().waitForExit());
    EXPECT_EQ(player().exitStatus(), 0) << player().errorText();
    EXPECT_NE(player().errorText().find("\"Dead Air\""), std::string::npos) << player().errorText();
    EXPECT_EQ(player().userFile("recent.xml").find(utf16File("Dead Air").substr(2)), std::string::npos);
}

// A channel whose playlist's server never answers: while the playlist is
// fetched the player scene stands with its busy icon turning; Escape leaves
// it for the home scene at once, and closing the window during the fetch
// ends the program at once, though the fetch would wait for its network
// time-out.
TEST_F(RoadTest, APlaylistHeldByItsServerCanBeLeftAndTheWindowClosed)
{
    cSilentServer silent;
    ASSERT_TRUE(silent.ready());
    mCatalogue.emplace(mFolder + "/server",
                       std::vector<cChannel>{
                           {"France", "News", "Red Line", "A red test clip", "red.mp4", "", "red"},
                           {"Spain", "News", "Held List", "Never answers", "", "http://" + silent.address() + "/held.asx",
                            ""},
                       },
                       1);
    ASSERT_TRUE(mCatalogue->ready()) << mCatalogue->problem();
    player().installCatalogue(mCatalogue->database());
    player().writeSettings(mCatalogue->address(), "<item name=\"dbversion\">1</item>\n");

    ASSERT_TRUE(player().start());
    ASSERT_TRUE(player().waitForTitle("Recent channels..."));
    ASSERT_TRUE(player().waitForStill("held-home"));
    ASSERT_TRUE(player().click(ChannelsX, ChannelsY));
    ASSERT_TRUE(player().waitForTitle("Select channel..."));
    ASSERT_TRUE(player().waitForStill("held-channels"));
    // Any and Any: Held List, Red Line.
    ASSERT_TRUE(player().click(rowX(ChannelList), rowY(ChannelList, 0, 2)));
    ASSERT_TRUE(player().click(PlayOrbX, PlayOrbY));
    ASSERT_TRUE(player().waitForTitle("Held List", 10000));
    // Once the scene's entrance has ended, only the busy icon moves.
    ASSERT_TRUE(player().waitForStill("held-waiting", {0, 0, 800, 200}, 10000));
    ASSERT_TRUE(player().waitForChange("held-busy", BusyIcon, 5000));

    const auto pressed = std::chrono::steady_clock::now();
    ASSERT_TRUE(player().key("Escape"));
    ASSERT_TRUE(player().waitForTitle("Recent channels...", 5000));
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(4));

    // Again from the home carousel, where the channel now stands in front;
    // this time the window is closed during the fetch.
    ASSERT_TRUE(player().waitForStill("held-home-again"));
    ASSERT_TRUE(player().click(CarouselX, CarouselY));
    ASSERT_TRUE(player().waitForTitle("Held List", 10000));
    const auto closing = std::chrono::steady_clock::now();
    ASSERT_TRUE(player().closeWindow());
    ASSERT_TRUE(player().waitForExit(6000)) << player().errorText();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(6));
    EXPECT_EQ(player().exitStatus(), 0) << player().errorText();
}

// No server and no catalogue: the program says it cannot open the channel
// database, still writes the settings and ends with a failure status. The
// box shows where the display can draw it (SDL needs X core fonts or zenity
// for it); the test closes it as the user would.
TEST_F(RoadTest, NoServerAndNoCatalogueReportsTheDatabaseAndEnds)
{
    const std::string server = refusedAddress();
    player().writeSettings(server);
    ASSERT_TRUE(player().start());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (player().running() && std::chrono::steady_clock::now() < end) {
        player().closeWindowTitled("Application exception");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(player().waitForExit(1000));
    EXPECT_NE(player().exitStatus(), 0);
    EXPECT_NE(player().errorText().find(
                  "Application exception: Can't initialize player database. Please, re-install application.\n"),
              std::string::npos)
        << player().errorText();
    const std::string settings = player().userFile("settings.xml");
    EXPECT_NE(settings.find(settingsItem("dbversion", "0")), std::string::npos) << settings.size();
    EXPECT_NE(settings.find(settingsItem("server", server)), std::string::npos);
}

// No server but a catalogue from an earlier start: the update scene for
// about two seconds, then the home scene on the old catalogue.
TEST_F(RoadTest, NoServerWithACatalogueShowsTheUpdateSceneThenHome)
{
    startCatalogueServer();
    player().installCatalogue(mCatalogue->database());
    player().writeSettings(refusedAddress(), "<item name=\"dbversion\">1</item>\n");

    ASSERT_TRUE(player().start());
    ASSERT_TRUE(player().waitForTitle("Updating"));
    const auto updating = std::chrono::steady_clock::now();
    // The update scene: its logo, and the busy icon turning.
    ASSERT_TRUE(player().waitForRegion("update", Logo, LogoBlue, Tolerance, 5000));
    ASSERT_TRUE(player().waitForChange("update-busy", BusyIcon, 5000));
    ASSERT_TRUE(player().waitForTitle("Recent channels..."));
    const auto waited = std::chrono::steady_clock::now() - updating;
    // The update waits two seconds after the failed request; the title was
    // seen at most a poll after the scene came up.
    EXPECT_GE(waited, std::chrono::milliseconds(1500));
    ASSERT_TRUE(player().waitForRegion("home-old-catalogue", ChannelsButton, ChannelsGrey, Tolerance));
    ASSERT_TRUE(player().closeWindow());
    ASSERT_TRUE(player().waitForExit());
    EXPECT_EQ(player().exitStatus(), 0) << player().errorText();
    EXPECT_EQ(player().userFile("channels/database"), readFile(mCatalogue->database()));
    EXPECT_NE(player().userFile("settings.xml").find(settingsItem("dbversion", "1")), std::string::npos);
}

// The window closed while a newer catalogue is still arriving: the program
// ends cleanly and keeps the catalogue and the version it had.
TEST_F(RoadTest, ClosingTheWindowDuringTheDownloadKeepsTheOldCatalogue)
{
    startCatalogueServer();
    player().installCatalogue(mCatalogue->database());
    cStallingServer stalling(2);
    ASSERT_TRUE(stalling.ready());
    player().writeSettings(stalling.address(), "<item name=\"dbversion\">1</item>\n");

    ASSERT_TRUE(player().start());
    ASSERT_TRUE(player().waitForTitle("Updating"));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (stalling.bodyBytesSent() <= 4096 && player().running() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_GT(stalling.bodyBytesSent(), 4096) << "the download never started\n" << player().errorText();
    ASSERT_TRUE(player().closeWindow());
    ASSERT_TRUE(player().waitForExit());
    EXPECT_EQ(player().exitStatus(), 0) << player().errorText();
    EXPECT_EQ(player().userFile("channels/database"), readFile(mCatalogue->database()));
    const std::string settings = player().userFile("settings.xml");
    EXPECT_NE(settings.find(settingsItem("dbversion", "1")), std::string::npos);
    EXPECT_EQ(settings.find(settingsItem("dbversion", "2")), std::string::npos);
}

} // namespace
} // namespace e2e
