#include <gtest/gtest.h>

#include <sstream>

#include "ToolsTestSupport.h"
#include "catalogue/ChannelFolder.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"
#include "state/Settings.h"
#include "catalogue/CatalogueBuilder.h"
#include "tools/CatalogueServer.h"

using namespace toolstest;

// The whole road of a catalogue: a listing built into a catalogue, served
// by the server tool, installed by a player's start-up update and browsed.
TEST(CatalogueTools, BuiltCatalogueIsServedAndInstalled)
{
    cTempFolder serverFolder;
    cTempFolder dataFolder;
    std::istringstream listing("France\tNews\tInfo 24\tRolling news\thttp://127.0.0.1:9/info.asx\n"
                               "France\tSport\tStade\t\thttp://127.0.0.1:9/stade.mp4\n"
                               "Italia\tNews\tInfo 24\tNotizie\thttp://127.0.0.1:9/notizie.m3u8\n");
    std::vector<cListingEntry> entries;
    std::string error;
    ASSERT_TRUE(parseListing(listing, entries, error)) << error;
    ASSERT_TRUE(buildCatalogue(entries, serverFolder.file("database"), {}, error)) << error;
    writeFile(serverFolder.file("dbversion"), "2\n");
    cCatalogueServer server(serverFolder.path());
    server.start();

    cSettings* settings = cSettings::instance();
    settings->reset();
    settings->setString(u"server", kestrel::fromUtf8("127.0.0.1:" + std::to_string(server.port())));
    const std::u16string channels = channelFolderPath(kestrel::fromUtf8(dataFolder.path()) + u"/");
    ASSERT_TRUE(ensureChannelFolder(channels));

    cUpdateLimits limits;
    limits.idlePauseMs = 0;
    limits.installedPauseMs = 0;
    {
        cPlayerDatabase database;
        database.setUpdateLimits(limits);
        EXPECT_TRUE(database.runUpdate(channels));
        EXPECT_EQ(database.lastUpdateOutcome(), eUpdateOutcome::Installed) << database.lastUpdateError();
        EXPECT_TRUE(database.isNewCatalogue());
        EXPECT_EQ(settings->getInteger(u"dbversion", 0), 2);
        EXPECT_EQ(readFile(dataFolder.file("channels/database")), readFile(serverFolder.file("database")));

        ASSERT_TRUE(database.open(channels));
        EXPECT_EQ(database.countries(), (std::vector<std::u16string>{u"France", u"Italia"}));
        std::vector<std::u16string> names;
        ASSERT_TRUE(database.names(u"*", u"News", names));
        EXPECT_EQ(names, std::vector<std::u16string>{u"Info 24"});
        database.setCurrentCountry(u"Italia");
        database.setCurrentType(u"News");
        database.setCurrentName(u"Info 24");
        EXPECT_EQ(database.currentAddress(), u"http://127.0.0.1:9/notizie.m3u8");
        EXPECT_EQ(database.currentDescription(), u"Notizie");
    }
    {
        // The next start: same version, nothing installed.
        cPlayerDatabase database;
        database.setUpdateLimits(limits);
        EXPECT_TRUE(database.runUpdate(channels));
        EXPECT_EQ(database.lastUpdateOutcome(), eUpdateOutcome::UpToDate);
        EXPECT_FALSE(database.isNewCatalogue());
    }
    settings->reset();
}
