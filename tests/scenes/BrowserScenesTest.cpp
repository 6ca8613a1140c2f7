// The channel browser and the favourites scene on the real toolkit, over a
// real SQLite catalogue made with the catalogue builder and real settings
// and favourites in a temporary data folder. Clicks, hover and the wheel
// travel the toolkit's own event path; the player scene request runs a
// stand-in procedure that records the current channel.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../catalogue/TestSupport.h"
#include "SceneDriver.h"
#include "app/Effects.h"
#include "app/Scene.h"
#include "app/Stage.h"
#include "app/Words.h"
#include "catalogue/ChannelFolder.h"
#include "catalogue/PlayerDatabase.h"
#include "guide/Guide.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"
#include "scenes/ChannelsScene.h"
#include "scenes/FavoritesScene.h"
#include "scenes/GuideLines.h"
#include "scenes/IdleScene.h"
#include "scenes/Scenes.h"
#include "state/Language.h"
#include "state/ListStates.h"
#include "state/Settings.h"
#include "catalogue/CatalogueBuilder.h"

#include <clutter/clutter-keysyms.h>

namespace {

struct sPlayed {
    cPlayerDatabase::eMode mode;
    std::u16string country, type, name, address;
};

class cPlayerStandIn : public cScene {
public:
    explicit cPlayerStandIn(ClutterActor* root) : cScene(root)
    {
        mActor = clutter_actor_new();
        clutter_actor_add_child(mRoot, mActor);
    }
    ~cPlayerStandIn() override { clutter_actor_destroy(mActor); }
    void show() override { clutter_stage_set_title(stage(), "Player"); }
    void hide() override
    {
        effectFade(cEffectTemplate(100, AlphaRampInc), mActor, 0, [this] { delete this; });
    }

private:
    ClutterActor* mActor;
};

std::string address(const std::string& name)
{
    std::string path;
    for (unsigned char c : name) {
        path += std::isalnum(c) ? static_cast<char>(c) : '_';
    }
    return "http://streams.example.net/" + path + ".m3u8";
}

std::u16string wide(const std::string& text)
{
    return kestrel::fromUtf8(text);
}

std::string narrow(const std::u16string& text)
{
    return kestrel::toUtf8(text);
}

// Every actor under the root, depth first.
void forEachActor(ClutterActor* root, const std::function<void(ClutterActor*)>& visit)
{
    for (ClutterActor* child = clutter_actor_get_first_child(root); child != nullptr;
         child = clutter_actor_get_next_sibling(child)) {
        visit(child);
        forEachActor(child, visit);
    }
}

// Inside the list's window: between its arrows (20 pixels high in the
// skin, each with 5 pixels of space towards the rows).
bool insidePlace(float x, float y, const sListPlace& place)
{
    return x >= place.x && x < place.x + place.width && y >= place.y + 25 && y < place.y + place.height - 25;
}

void stageCentre(ClutterActor* actor, float& x, float& y)
{
    ClutterVertex vertices[4];
    clutter_actor_get_abs_allocation_vertices(actor, vertices);
    x = (vertices[0].x + vertices[3].x) / 2.0f;
    y = (vertices[0].y + vertices[3].y) / 2.0f;
}

// The texts of the rows shown in the list's window, top to bottom.
std::vector<std::string> shownRows(const sListPlace& place)
{
    std::vector<std::pair<float, std::string>> rows;
    forEachActor(stageActor(), [&](ClutterActor* actor) {
        if (!CLUTTER_IS_TEXT(actor) || !clutter_actor_is_mapped(actor)) {
            return;
        }
        float x = 0, y = 0;
        stageCentre(actor, x, y);
        if (insidePlace(x, y, place)) {
            rows.emplace_back(y, clutter_text_get_text(CLUTTER_TEXT(actor)));
        }
    });
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> texts;
    for (const auto& row : rows) {
        texts.push_back(row.second);
    }
    return texts;
}

// The shown row of the list with that text, null when there is none.
ClutterActor* rowLabel(const sListPlace& place, const std::string& text)
{
    ClutterActor* found = nullptr;
    forEachActor(stageActor(), [&](ClutterActor* actor) {
        if (found != nullptr || !CLUTTER_IS_TEXT(actor) || !clutter_actor_is_mapped(actor) ||
            text != clutter_text_get_text(CLUTTER_TEXT(actor))) {
            return;
        }
        float x = 0, y = 0;
        stageCentre(actor, x, y);
        if (insidePlace(x, y, place)) {
            found = actor;
        }
    });
    return found;
}

void clickActor(ClutterActor* actor)
{
    float x = 0, y = 0;
    stageCentre(actor, x, y);
    clickAt(x, y);
    settle();
}

// The catalogue's rows: country, type, name.
struct sChannel {
    std::string country, type, name;
};

class BrowserScenesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        parkPointer();
        installScenes();
        setCurrentPlayerDestroyer({});
        setPlayChannelProcedure([this] {
            cPlayerDatabase* database = cPlayerDatabase::instance();
            mPlayed.push_back({database->mode(), database->currentCountry(), database->currentType(),
                               database->currentName(), database->currentAddress()});
            closeCurrentScene();
            presentScene(new cPlayerStandIn(stageActor()));
        });
        closeCurrentScene();
        waitForEffectsToEnd();
        cPlayerDatabase::destroyInstance();
        mData = std::make_unique<cUserData>();
        mChannels = mData->widePath() + u"/channels";
        ASSERT_TRUE(ensureChannelFolder(mChannels + u"/"));
    }

    void TearDown() override
    {
        closeCurrentScene();
        waitForEffectsToEnd();
        setPlayChannelProcedure({});
        cPlayerDatabase::destroyInstance();
        mData.reset();
        clearLanguage();
    }

    // Builds the catalogue with the catalogue builder, stores the
    // favourites in favorites.xml and opens both as the start-up does.
    void openCatalogue(const std::vector<sChannel>& channels, const std::vector<std::string>& favourites = {})
    {
        std::vector<cListingEntry> entries;
        for (const sChannel& channel : channels) {
            entries.push_back({channel.country, channel.type, channel.name, "About " + channel.name,
                               address(channel.name)});
        }
        std::string error;
        ASSERT_TRUE(buildCatalogue(entries, narrow(mChannels) + "/database", {}, error)) << error;
        cPlayerDatabase::destroyInstance();
        if (!favourites.empty()) {
            cPlayerDatabase writer;
            for (const std::string& name : favourites) {
                writer.addFavourite(wide(name), wide("About " + name), wide(address(name)));
            }
            ASSERT_TRUE(writer.saveFavourites(mChannels));
        }
        ASSERT_TRUE(cPlayerDatabase::instance()->open(mChannels));
    }

    // Requests the scene and waits until it is current and every
    // animation (the previous scene's exit too) has ended.
    template <typename tScene>
    tScene* visit(void (*request)())
    {
        request();
        runMainLoopUntil([] { return dynamic_cast<tScene*>(currentScene) != nullptr; }, 3000);
        auto* scene = dynamic_cast<tScene*>(currentScene);
        waitForEffectsToEnd();
        return scene;
    }
    cChannelsScene* visitBrowser() { return visit<cChannelsScene>(requestChannelsScene); }
    cFavoritesScene* visitFavourites() { return visit<cFavoritesScene>(requestFavoritesScene); }

    // Leaves for the home scene and waits until the left scene has gone.
    void leaveForHome()
    {
        visit<cIdleScene>(requestHomeScene);
    }

    void clickRow(const sListPlace& place, const std::string& text)
    {
        ClutterActor* row = rowLabel(place, text);
        ASSERT_NE(row, nullptr) << text;
        clickActor(row);
    }

    void clickOrb() { clickAt(400, PlayOrbCentreY); settle(); }

    static void scrollList(const sListPlace& place, int notches)
    {
        for (int i = 0; i < notches; ++i) {
            scrollAt(place.x + place.width / 2.0f, place.y + place.height / 2.0f, CLUTTER_SCROLL_DOWN);
            settle();
            waitForEffectsToEnd();
        }
    }

    std::unique_ptr<cUserData> mData;
    std::u16string mChannels; // the channel folder, without a trailing '/'
    std::vector<sPlayed> mPlayed;
};

const std::vector<sChannel> SmallCatalogue = {
    {"Chile", "News", "Andes 24"}, {"Chile", "Sport", "Gol Chile"},  {"Norway", "News", "Fjord News"},
    {"Norway", "Music", "Nordlys"}, {"Ireland", "News", "Andes 24"}, {"Ireland", "Music", "Celtic Beat"},
};

} // namespace

TEST_F(BrowserScenesTest, TheFirstVisitListsEveryChannelAndChoosesTheFirst)
{
    openCatalogue(SmallCatalogue);
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Select channel...");
    EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(browser->frame().caption())), "Select channel to play");

    EXPECT_EQ(shownRows(CountryListPlace), (std::vector<std::string>{"Any", "Chile", "Ireland", "Norway"}));
    EXPECT_EQ(shownRows(TypeListPlace), (std::vector<std::string>{"Any", "Music", "News", "Sport"}));
    EXPECT_EQ(browser->countryList().getActive(), 0);
    EXPECT_EQ(browser->typeList().getActive(), 0);
    // Every name once (the one under two countries too), in ascending order.
    EXPECT_EQ(shownRows(ChannelListPlace),
              (std::vector<std::string>{"Andes 24", "Celtic Beat", "Fjord News", "Gol Chile", "Nordlys"}));
    EXPECT_EQ(browser->channelList().getActive(), 0);

    cPlayerDatabase* database = cPlayerDatabase::instance();
    EXPECT_EQ(database->mode(), cPlayerDatabase::ModeCatalogue);
    EXPECT_EQ(database->currentCountry(), u"*");
    EXPECT_EQ(database->currentType(), u"*");
    EXPECT_EQ(database->currentName(), u"Andes 24");
    // One pulse: out to 1.1 and back to 1.0.
    EXPECT_EQ(browser->frame().orbScalings(), 2);
    double scaleX = 0, scaleY = 0;
    clutter_actor_get_scale(browser->frame().playOrb(), &scaleX, &scaleY);
    EXPECT_DOUBLE_EQ(scaleX, 1.0);

    // The orb plays the chosen channel; its address is the first row with
    // that name.
    clickOrb();
    ASSERT_EQ(mPlayed.size(), 1u);
    EXPECT_EQ(mPlayed[0].name, u"Andes 24");
    EXPECT_EQ(narrow(mPlayed[0].address), address("Andes 24"));
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Player");
}

TEST_F(BrowserScenesTest, FiltersRefillTheChannelListAndTheOrbWaitsForAChoice)
{
    openCatalogue(SmallCatalogue);
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);

    clickRow(CountryListPlace, "Norway");
    clickRow(TypeListPlace, "Any");
    waitForEffectsToEnd();
    EXPECT_EQ(shownRows(ChannelListPlace), (std::vector<std::string>{"Fjord News", "Nordlys"}));
    EXPECT_EQ(browser->channelList().getActive(), -1);
    // The refill changed nothing of the current channel.
    EXPECT_EQ(cPlayerDatabase::instance()->currentName(), u"Andes 24");

    clickRow(TypeListPlace, "Music");
    waitForEffectsToEnd();
    EXPECT_EQ(shownRows(ChannelListPlace), (std::vector<std::string>{"Nordlys"}));
    clickRow(ChannelListPlace, "Nordlys");
    waitForEffectsToEnd();
    cPlayerDatabase* database = cPlayerDatabase::instance();
    EXPECT_EQ(database->currentCountry(), u"Norway");
    EXPECT_EQ(database->currentType(), u"Music");
    EXPECT_EQ(database->currentName(), u"Nordlys");

    // Another country: the list starts over without a selection and the
    // orb does nothing until a row is chosen.
    clickRow(CountryListPlace, "Ireland");
    waitForEffectsToEnd();
    EXPECT_EQ(shownRows(ChannelListPlace), (std::vector<std::string>{"Celtic Beat"}));
    EXPECT_EQ(browser->channelList().getActive(), -1);
    clickOrb();
    runMainLoopFor(100);
    EXPECT_TRUE(mPlayed.empty());
    EXPECT_EQ(currentScene, browser);

    clickRow(ChannelListPlace, "Celtic Beat");
    clickOrb();
    ASSERT_EQ(mPlayed.size(), 1u);
    EXPECT_EQ(mPlayed[0].mode, cPlayerDatabase::ModeCatalogue);
    EXPECT_EQ(mPlayed[0].country, u"Ireland");
    EXPECT_EQ(mPlayed[0].type, u"Music");
    EXPECT_EQ(mPlayed[0].name, u"Celtic Beat");
    EXPECT_EQ(narrow(mPlayed[0].address), address("Celtic Beat"));
}

TEST_F(BrowserScenesTest, ButtonsLeadHomeAndToTheFavourites)
{
    openCatalogue(SmallCatalogue);
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);

    crossActor(browser->frame().backButton(), true);
    settle();
    waitForEffectsToEnd();
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(browser->frame().backButton()), 10);
    crossActor(browser->frame().backButton(), false);
    settle();
    waitForEffectsToEnd();
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(browser->frame().backButton()), 0);

    // Keys without a meaning here do nothing.
    typeKey(CLUTTER_KEY_space);
    typeKey(CLUTTER_KEY_x);
    settle();
    EXPECT_EQ(currentScene, browser);

    clickAt(800 - 30 - 90, 528);
    settle();
    EXPECT_NE(dynamic_cast<cFavoritesScene*>(currentScene), nullptr);
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Favorite channels");
    waitForEffectsToEnd();
    clickAt(30 + 90, 528);
    settle();
    EXPECT_NE(dynamic_cast<cIdleScene*>(currentScene), nullptr);
    waitForEffectsToEnd();
    // The home scene's buttons lead here.
    clickAt(30 + 90, 528);
    settle();
    EXPECT_NE(dynamic_cast<cChannelsScene*>(currentScene), nullptr);
    waitForEffectsToEnd();
    clickAt(30 + 90, 528);
    settle();
    waitForEffectsToEnd();
    clickAt(800 - 30 - 90, 528);
    settle();
    EXPECT_NE(dynamic_cast<cFavoritesScene*>(currentScene), nullptr);
}

TEST_F(BrowserScenesTest, KeysChooseInTheListThatHasTheKeyboardAndPlay)
{
    openCatalogue(SmallCatalogue);
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    cListWidget* const lists[] = {&browser->countryList(), &browser->channelList(), &browser->typeList()};
    // One row per key, in order: which list has the keyboard afterwards
    // (0 countries, 1 channels, 2 types), the three lists' selections, and
    // how many channels have been played.
    struct sStep {
        guint key;
        int keyboard;
        int country, channel, type;
        size_t played;
    };
    const sStep steps[] = {
        {CLUTTER_KEY_Down, 1, 0, 1, 0, 0},    // the channels have it at first
        {CLUTTER_KEY_KP_Down, 1, 0, 2, 0, 0},
        {CLUTTER_KEY_Up, 1, 0, 1, 0, 0},
        {CLUTTER_KEY_Up, 1, 0, 0, 0, 0},
        {CLUTTER_KEY_Up, 1, 0, 0, 0, 0},      // stops at the first row
        {CLUTTER_KEY_Tab, 2, 0, 0, 0, 0},
        {CLUTTER_KEY_Down, 2, 0, -1, 1, 0},   // a type refills the channels
        {CLUTTER_KEY_Down, 2, 0, -1, 2, 0},   // "News"
        {CLUTTER_KEY_Tab, 0, 0, -1, 2, 0},
        {CLUTTER_KEY_Down, 0, 1, -1, 2, 0},   // "Chile"
        {CLUTTER_KEY_Tab, 1, 1, -1, 2, 0},
        {CLUTTER_KEY_Return, 1, 1, -1, 2, 0}, // no channel chosen: nothing
        {CLUTTER_KEY_Down, 1, 1, 0, 2, 0},    // the first one, "Andes 24"
        {CLUTTER_KEY_space, 1, 1, 0, 2, 0},
        {CLUTTER_KEY_Return, 1, 1, 0, 2, 1},  // plays as the orb does
    };
    int row = 0;
    for (const sStep& step : steps) {
        SCOPED_TRACE("step " + std::to_string(row++));
        typeKey(step.key);
        settle();
        ASSERT_EQ(mPlayed.size(), step.played);
        if (currentScene != browser) {
            break; // gone to the player; the browser fades out
        }
        for (int list = 0; list < 3; ++list) {
            EXPECT_EQ(lists[list]->hasKeyboardFocus(), list == step.keyboard) << list;
        }
        EXPECT_EQ(lists[0]->getActive(), step.country);
        EXPECT_EQ(lists[1]->getActive(), step.channel);
        EXPECT_EQ(lists[2]->getActive(), step.type);
        waitForEffectsToEnd();
    }
    // What was played is what the lists showed: the chosen country, type
    // and channel.
    ASSERT_EQ(mPlayed.size(), 1u);
    EXPECT_EQ(mPlayed[0].mode, cPlayerDatabase::ModeCatalogue);
    EXPECT_EQ(mPlayed[0].country, u"Chile");
    EXPECT_EQ(mPlayed[0].type, u"News");
    EXPECT_EQ(mPlayed[0].name, u"Andes 24");
    waitForEffectsToEnd();

    // The way back, with either key; the list with the keyboard shows it
    // with a brighter background.
    for (guint key : {CLUTTER_KEY_Escape, CLUTTER_KEY_BackSpace}) {
        browser = visitBrowser();
        ASSERT_NE(browser, nullptr);
        EXPECT_TRUE(browser->channelList().hasKeyboardFocus());
        typeKey(key);
        settle();
        EXPECT_NE(dynamic_cast<cIdleScene*>(currentScene), nullptr);
        waitForEffectsToEnd();
    }
}

TEST_F(BrowserScenesTest, KeysChooseAFavouriteAndPlayIt)
{
    const std::vector<std::string> favourites = {"Zulu One", "Alpha Two", "Mitte Drei"};
    openCatalogue(SmallCatalogue, favourites);
    cFavoritesScene* scene = visitFavourites();
    ASSERT_NE(scene, nullptr);
    EXPECT_TRUE(scene->favouritesList().hasKeyboardFocus());
    struct sStep {
        guint key;
        int active;
        size_t played;
    };
    const sStep steps[] = {
        {CLUTTER_KEY_Return, -1, 0}, // nothing chosen yet
        {CLUTTER_KEY_Down, 0, 0},    // from no selection, the first row
        {CLUTTER_KEY_Page_Down, 0, 0},
        {CLUTTER_KEY_Down, 1, 0},
        {CLUTTER_KEY_Down, 2, 0},
        {CLUTTER_KEY_Down, 2, 0},    // stops at the last row
        {CLUTTER_KEY_Up, 1, 0},
        {CLUTTER_KEY_Tab, 1, 0},     // the one list keeps the keyboard
        {CLUTTER_KEY_KP_Enter, 1, 1},
    };
    for (const sStep& step : steps) {
        typeKey(step.key);
        settle();
        ASSERT_EQ(mPlayed.size(), step.played) << step.key;
        if (currentScene != scene) {
            break; // gone to the player; the scene fades out
        }
        EXPECT_EQ(scene->favouritesList().getActive(), step.active) << step.key;
        waitForEffectsToEnd();
    }
    EXPECT_EQ(mPlayed[0].mode, cPlayerDatabase::ModeFavourite);
    EXPECT_EQ(narrow(mPlayed[0].name), favourites[1]);
    waitForEffectsToEnd();

    scene = visitFavourites();
    ASSERT_NE(scene, nullptr);
    typeKey(CLUTTER_KEY_Escape);
    settle();
    EXPECT_NE(dynamic_cast<cIdleScene*>(currentScene), nullptr);
}

TEST_F(BrowserScenesTest, ComingBackRestoresTheListsAndANewCatalogueResetsThem)
{
    // Enough countries, types and names that every list scrolls.
    std::vector<sChannel> channels;
    for (int i = 0; i < 120; ++i) {
        char country[32], type[32], name[32];
        std::snprintf(country, sizeof(country), "Country %02d", i % 30);
        std::snprintf(type, sizeof(type), "Type %02d", i % 20);
        std::snprintf(name, sizeof(name), "Channel %03d", i);
        channels.push_back({country, type, name});
    }
    for (int i = 0; i < 40; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "Extra %02d", i);
        channels.push_back({"Country 07", "Type 07", name});
    }
    openCatalogue(channels);
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);

    scrollList(CountryListPlace, 4);
    clickRow(CountryListPlace, "Country 07");
    scrollList(TypeListPlace, 3);
    clickRow(TypeListPlace, "Type 07");
    waitForEffectsToEnd();
    ASSERT_GT(browser->channelList().getCount(), 20);
    scrollList(ChannelListPlace, 6);
    const std::vector<std::string> shown = shownRows(ChannelListPlace);
    ASSERT_GT(shown.size(), 3u);
    clickRow(ChannelListPlace, shown[2]);
    waitForEffectsToEnd();

    struct sSeen {
        int active, top, scrollY;
        std::string text;
    };
    auto seen = [](cListWidget& list) {
        return sSeen{list.getActive(), list.getTopElement(), list.getScrollY(), narrow(list.getActiveText())};
    };
    const sSeen countries = seen(browser->countryList());
    const sSeen types = seen(browser->typeList());
    const sSeen names = seen(browser->channelList());
    EXPECT_LT(countries.scrollY, 0);
    EXPECT_LT(types.scrollY, 0);
    EXPECT_LT(names.scrollY, 0);
    EXPECT_EQ(countries.text, "Country 07");
    EXPECT_EQ(names.text, shown[2]);

    leaveForHome();
    cPlayerDatabase::instance()->setCurrentName(u"something else");
    browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    for (const auto& [list, before] : {std::pair{&browser->countryList(), countries},
                                       std::pair{&browser->typeList(), types},
                                       std::pair{&browser->channelList(), names}}) {
        const sSeen after = seen(*list);
        EXPECT_EQ(after.active, before.active);
        EXPECT_EQ(after.top, before.top);
        EXPECT_EQ(after.scrollY, before.scrollY);
        EXPECT_EQ(after.text, before.text);
    }
    // The rows stand where they stood: the chosen channel is in view again,
    // and it is the current channel once more, with a pulse.
    EXPECT_EQ(shownRows(ChannelListPlace), shown);
    cPlayerDatabase* database = cPlayerDatabase::instance();
    EXPECT_EQ(database->currentCountry(), u"Country 07");
    EXPECT_EQ(database->currentType(), u"Type 07");
    EXPECT_EQ(narrow(database->currentName()), shown[2]);
    EXPECT_EQ(browser->frame().orbScalings(), 2);
    leaveForHome();

    // The catalogue update installs a new catalogue from the server and
    // resets the saved states: the next visit starts as the first did.
    testsupport::cTestServer server;
    const std::string served = mData->path() + "/served.sqlite";
    std::string error;
    ASSERT_TRUE(buildCatalogue({{"Peru", "News", "Lima Hoy", "", address("Lima Hoy")}}, served, {}, error)) << error;
    server.serve("/dbversion.php", "9");
    server.serve("/database", testsupport::readBytes(served));
    cSettings::instance()->setString(u"server", wide(server.address()));
    cPlayerDatabase::destroyInstance();
    cUpdateLimits limits;
    limits.networkTimeoutMs = 5000;
    limits.idlePauseMs = 0;
    limits.installedPauseMs = 0;
    cPlayerDatabase::instance()->setUpdateLimits(limits);
    cPlayerDatabase::instance()->runUpdate(mChannels);
    ASSERT_EQ(cPlayerDatabase::instance()->lastUpdateOutcome(), eUpdateOutcome::Installed)
        << cPlayerDatabase::instance()->lastUpdateError();
    ASSERT_TRUE(cPlayerDatabase::instance()->open(mChannels));

    browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(browser->countryList().getActive(), 0);
    EXPECT_EQ(browser->typeList().getActive(), 0);
    EXPECT_EQ(browser->countryList().getScrollY(), 0);
    EXPECT_EQ(browser->typeList().getScrollY(), 0);
    EXPECT_EQ(browser->channelList().getScrollY(), 0);
    EXPECT_EQ(shownRows(ChannelListPlace), (std::vector<std::string>{"Lima Hoy"}));
    EXPECT_EQ(browser->channelList().getActive(), 0);
    EXPECT_EQ(cPlayerDatabase::instance()->currentName(), u"Lima Hoy");
}

TEST_F(BrowserScenesTest, HoveringTheOrbDuringItsPulseStartsNoSecondScaling)
{
    openCatalogue(SmallCatalogue);
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    const cPickerFrame& frame = browser->frame();
    ASSERT_EQ(frame.orbScalings(), 2);

    clickRow(ChannelListPlace, "Nordlys");
    EXPECT_EQ(frame.orbScalings(), 3);
    ASSERT_TRUE(frame.isOrbAnimating());
    crossActor(frame.playOrb(), true);
    settle();
    EXPECT_EQ(frame.orbScalings(), 3);
    waitForEffectsToEnd();
    // The pulse ran its course: out and back.
    EXPECT_EQ(frame.orbScalings(), 4);
    double scaleX = 0, scaleY = 0;
    clutter_actor_get_scale(frame.playOrb(), &scaleX, &scaleY);
    EXPECT_DOUBLE_EQ(scaleX, 1.0);

    // At rest, hover grows the orb and leaving shrinks it.
    crossActor(frame.playOrb(), true);
    settle();
    waitForEffectsToEnd();
    EXPECT_EQ(frame.orbScalings(), 5);
    clutter_actor_get_scale(frame.playOrb(), &scaleX, &scaleY);
    EXPECT_DOUBLE_EQ(scaleX, 1.1);
    crossActor(frame.playOrb(), false);
    settle();
    waitForEffectsToEnd();
    clutter_actor_get_scale(frame.playOrb(), &scaleX, &scaleY);
    EXPECT_DOUBLE_EQ(scaleX, 1.0);
}

TEST_F(BrowserScenesTest, AnEmptyCatalogueGivesAnyOnlyFiltersAndNoChannels)
{
    testsupport::makeCatalogue(narrow(mChannels) + "/database", {});
    ASSERT_TRUE(cPlayerDatabase::instance()->open(mChannels));
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(browser->countryList().getCount(), 1);
    EXPECT_EQ(browser->typeList().getCount(), 1);
    EXPECT_EQ(shownRows(CountryListPlace), (std::vector<std::string>{"Any"}));
    EXPECT_EQ(shownRows(TypeListPlace), (std::vector<std::string>{"Any"}));
    EXPECT_EQ(browser->channelList().getCount(), 0);
    EXPECT_EQ(browser->channelList().getActive(), -1);
    EXPECT_EQ(browser->frame().orbScalings(), 0);
    clickOrb();
    runMainLoopFor(100);
    EXPECT_TRUE(mPlayed.empty());
    EXPECT_EQ(currentScene, browser);
}

TEST_F(BrowserScenesTest, NonAsciiNamesShowAndPlay)
{
    openCatalogue({{"España", "Noticias", "Télé Ñandú"},
                   {"Österreich", "Musik", "Ö3 Ärger"},
                   {"Ελλάδα", "Ειδήσεις", "Ελληνική Τηλεόραση"}});
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    clickRow(CountryListPlace, "Österreich");
    waitForEffectsToEnd();
    EXPECT_EQ(shownRows(ChannelListPlace), (std::vector<std::string>{"Ö3 Ärger"}));
    clickRow(CountryListPlace, "Ελλάδα");
    clickRow(TypeListPlace, "Ειδήσεις");
    waitForEffectsToEnd();
    clickRow(ChannelListPlace, "Ελληνική Τηλεόραση");
    clickOrb();
    ASSERT_EQ(mPlayed.size(), 1u);
    EXPECT_EQ(narrow(mPlayed[0].country), "Ελλάδα");
    EXPECT_EQ(narrow(mPlayed[0].type), "Ειδήσεις");
    EXPECT_EQ(narrow(mPlayed[0].name), "Ελληνική Τηλεόραση");
    EXPECT_EQ(narrow(mPlayed[0].address), address("Ελληνική Τηλεόραση"));
}

// Channels whose list names no country or type are stored under
// "Unknown", which the filters show in the user's language; choosing that
// row still finds them.
TEST_F(BrowserScenesTest, UnknownCountriesAndTypesShowInTheUsersLanguage)
{
    openCatalogue({{"Unknown", "Unknown", "Somewhere"}, {"Chile", "Unknown", "Santiago"}});
    const std::u16string applicationFolder = kestrel::cSystem::getApplicationPath();
    ASSERT_TRUE(loadLanguage(languageFilePath(applicationFolder, u"german")));
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(shownRows(CountryListPlace), (std::vector<std::string>{"Alle", "Chile", "Unbekannt"}));
    EXPECT_EQ(shownRows(TypeListPlace), (std::vector<std::string>{"Alle", "Unbekannt"}));
    clickRow(CountryListPlace, "Unbekannt");
    waitForEffectsToEnd();
    EXPECT_EQ(shownRows(ChannelListPlace), (std::vector<std::string>{"Somewhere"}));
    clickRow(CountryListPlace, "Chile");
    clickRow(TypeListPlace, "Unbekannt");
    waitForEffectsToEnd();
    EXPECT_EQ(shownRows(ChannelListPlace), (std::vector<std::string>{"Santiago"}));
}

// --- favourites -----------------------------------------------------------

TEST_F(BrowserScenesTest, FavouritesStartUnselectedAndPlayTheChosenOneInStoredOrder)
{
    const std::vector<std::string> favourites = {"Zulu One", "Alpha Two", "Mitte Drei", "Ünïcødé Vier", "Echo Five"};
    openCatalogue(SmallCatalogue, favourites);
    cFavoritesScene* scene = visitFavourites();
    ASSERT_NE(scene, nullptr);
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Favorite channels");
    // Stored order, not sorted.
    EXPECT_EQ(shownRows(ChannelListPlace), favourites);
    EXPECT_EQ(scene->favouritesList().getActive(), -1);
    EXPECT_EQ(scene->favouritesList().getScrollY(), 0);

    // Before a choice the orb does nothing.
    clickOrb();
    runMainLoopFor(100);
    EXPECT_TRUE(mPlayed.empty());

    // The favourites button is hidden: a click where it would stand
    // reaches nothing.
    EXPECT_FALSE(clutter_actor_is_visible(scene->frame().favoritesButton()));
    clickAt(800 - 30 - 90, 528);
    settle();
    runMainLoopFor(100);
    EXPECT_EQ(currentScene, scene);

    clickRow(ChannelListPlace, favourites[3]);
    EXPECT_EQ(scene->favouritesList().getActive(), 3);
    EXPECT_EQ(scene->frame().orbScalings(), 1);
    waitForEffectsToEnd();
    clickOrb();
    ASSERT_EQ(mPlayed.size(), 1u);
    EXPECT_EQ(mPlayed[0].mode, cPlayerDatabase::ModeFavourite);
    EXPECT_EQ(narrow(mPlayed[0].name), favourites[3]);
    EXPECT_EQ(narrow(mPlayed[0].address), address(favourites[3]));
    waitForEffectsToEnd();

    // The next visit starts without a selection again.
    scene = visitFavourites();
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(scene->favouritesList().getActive(), -1);
    clickAt(30 + 90, 528);
    settle();
    EXPECT_NE(dynamic_cast<cIdleScene*>(currentScene), nullptr);
}

TEST_F(BrowserScenesTest, NoFavouritesGiveAnEmptyListWithoutArrowsAndAnIdleOrb)
{
    openCatalogue(SmallCatalogue);
    cFavoritesScene* scene = visitFavourites();
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(scene->favouritesList().getCount(), 0);
    EXPECT_TRUE(shownRows(ChannelListPlace).empty());
    // The arrows, picked where they stand, are transparent.
    const float middle = ChannelListPlace.x + ChannelListPlace.width / 2.0f;
    for (float y : {ChannelListPlace.y + 2.0f, ChannelListPlace.y + ChannelListPlace.height - 2.0f}) {
        ClutterActor* arrow = clutter_stage_get_actor_at_pos(stage(), CLUTTER_PICK_REACTIVE, middle, y);
        ASSERT_NE(arrow, nullptr);
        EXPECT_NE(arrow, stageActor());
        EXPECT_EQ(clutter_actor_get_opacity(arrow), 0) << y;
    }
    clickOrb();
    runMainLoopFor(100);
    EXPECT_TRUE(mPlayed.empty());
    EXPECT_EQ(scene->frame().orbScalings(), 0);
    EXPECT_EQ(currentScene, scene);
}

// --- screenshots ----------------------------------------------------------

namespace {

// The list's panel: brighter than the dark background around it.
void expectPanel(const sScreenshot& shot, const sListPlace& place, const sRegion& outside)
{
    const sRegion panel = regionOf(shot, place.x + 10, place.y + 30, place.x + place.width - 10, place.y + place.height - 30);
    EXPECT_GT(panel.red + panel.green + panel.blue, outside.red + outside.green + outside.blue + 15) << place.x;
}

void expectButtonsAndOrb(const sScreenshot& shot, bool favouritesButton)
{
    // The back button's bluish face with its white label, nothing of it
    // above y 500; the favourites button likewise, or nothing where it
    // would stand.
    const sRegion back = regionOf(shot, 40, 505, 200, 550);
    EXPECT_GT(back.bright, 100);
    EXPECT_GT(back.blue, back.red);
    EXPECT_EQ(regionOf(shot, 40, 480, 200, 497).bright, 0);
    const sRegion favourites = regionOf(shot, 600, 505, 760, 550);
    if (favouritesButton) {
        EXPECT_GT(favourites.bright, 100);
        EXPECT_GT(favourites.blue, favourites.red);
    } else {
        EXPECT_EQ(favourites.bright, 0);
    }
    // The orb's vivid face around (400, 480).
    EXPECT_GT(regionOf(shot, 380, 460, 420, 500).vivid, 200);
    EXPECT_EQ(regionOf(shot, 380, 400, 420, 420).vivid, 0);
}

} // namespace

TEST_F(BrowserScenesTest, ScreenshotOfTheBrowser)
{
    openCatalogue(SmallCatalogue);
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    const sScreenshot shot = takeScreenshot();
    ASSERT_EQ(shot.width, 800);
    keepScreenshot(shot, "channels");
    // Between the lists the background shows.
    const sRegion gap = regionOf(shot, 172, 200, 178, 400);
    expectPanel(shot, CountryListPlace, gap);
    expectPanel(shot, ChannelListPlace, gap);
    expectPanel(shot, TypeListPlace, gap);
    // White text rows inside each list.
    EXPECT_GT(regionOf(shot, CountryListPlace.x, 180, CountryListPlace.x + 160, 440).bright, 50);
    EXPECT_GT(regionOf(shot, ChannelListPlace.x, 180, ChannelListPlace.x + 440, 390).bright, 100);
    EXPECT_GT(regionOf(shot, TypeListPlace.x, 180, TypeListPlace.x + 160, 440).bright, 50);
    expectButtonsAndOrb(shot, true);
}

TEST_F(BrowserScenesTest, ScreenshotOfTheFavourites)
{
    openCatalogue(SmallCatalogue, {"Andes 24", "Nordlys", "Celtic Beat"});
    cFavoritesScene* scene = visitFavourites();
    ASSERT_NE(scene, nullptr);
    const sScreenshot shot = takeScreenshot();
    ASSERT_EQ(shot.width, 800);
    keepScreenshot(shot, "favorites");
    const sRegion left = regionOf(shot, 40, 200, 160, 400);
    expectPanel(shot, ChannelListPlace, left);
    EXPECT_GT(regionOf(shot, ChannelListPlace.x, 180, ChannelListPlace.x + 440, 390).bright, 50);
    // No list on either side.
    EXPECT_EQ(regionOf(shot, 20, 200, 160, 400).bright, 0);
    EXPECT_EQ(regionOf(shot, 640, 200, 780, 400).bright, 0);
    expectButtonsAndOrb(shot, false);
}

// The browser in German, as a first start on a German desktop shows it:
// title, caption and the "any" rows in German (the row still filters for
// any), and each button's word whole between its icon and its rim. The
// favourites button carries a longer word than the shipped one, as a
// translator might choose; it is drawn smaller and still fits.
TEST_F(BrowserScenesTest, InGermanEveryWordShowsAndFitsItsButton)
{
    const std::u16string applicationFolder = kestrel::cSystem::getApplicationPath();
    ASSERT_TRUE(loadLanguage(languageFilePath(applicationFolder, u"german")));
    const std::string longer = mData->path() + "/longer.xml";
    {
        const std::u16string text = u"<locale><item name=\"button_favourites\">Lieblingssender</item></locale>";
        std::string bytes = "\xFF\xFE";
        for (char16_t c : text) {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
        std::ofstream(longer, std::ios::binary) << bytes;
    }
    ASSERT_TRUE(loadLanguage(wide(longer)));
    openCatalogue(SmallCatalogue);
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);

    EXPECT_STREQ(clutter_stage_get_title(stage()), "Sender ausw\u00e4hlen...");
    EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(browser->frame().caption())), "W\u00e4hlen Sie einen Sender aus");
    EXPECT_EQ(shownRows(CountryListPlace), (std::vector<std::string>{"Alle", "Chile", "Ireland", "Norway"}));
    EXPECT_EQ(shownRows(TypeListPlace), (std::vector<std::string>{"Alle", "Music", "News", "Sport"}));
    clickRow(TypeListPlace, "Music");
    clickRow(TypeListPlace, "Alle");
    waitForEffectsToEnd();
    EXPECT_EQ(shownRows(ChannelListPlace).size(), 5u);

    struct {
        ClutterActor* button;
        const char* word;
        bool fullSize;
    } const buttons[] = {{browser->frame().backButton(), "Zur\u00fcck", true},
                         {browser->frame().favoritesButton(), "Lieblingssender", false}};
    const sScreenshot shot = takeScreenshot();
    ASSERT_EQ(shot.width, 800);
    keepScreenshot(shot, "channels-german");
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.word);
        ClutterActor* label = buttonWordLabel(b.button);
        ASSERT_NE(label, nullptr);
        EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(label)), b.word);
        const double pixels =
            pango_font_description_get_size(clutter_text_get_font_description(CLUTTER_TEXT(label))) / double(PANGO_SCALE);
        if (b.fullSize) {
            EXPECT_DOUBLE_EQ(pixels, ButtonWordPixels);
        } else {
            EXPECT_LT(pixels, ButtonWordPixels);
            EXPECT_GE(pixels, 10.0);
        }
        // On the screen: the white word in its place, nothing white between
        // the icon and the word, towards the rim or above the button.
        float x = 0, y = 0;
        clutter_actor_get_position(b.button, &x, &y);
        const int left = static_cast<int>(x);
        EXPECT_GT(regionOf(shot, left + 52, 505, left + 166, 551).bright, 60);
        EXPECT_EQ(regionOf(shot, left + 45, 505, left + 51, 551).bright, 0);
        EXPECT_EQ(regionOf(shot, left + 167, 500, left + 182, 556).bright, 0);
        EXPECT_EQ(regionOf(shot, left, 480, left + 180, 497).bright, 0);
        // The whole word: its right half is there too.
        float labelX = 0, labelY = 0;
        clutter_actor_get_position(label, &labelX, &labelY);
        const int middle = left + static_cast<int>(labelX + clutter_actor_get_width(label) / 2);
        EXPECT_GT(regionOf(shot, middle, 505, left + 166, 551).bright, 25);
    }
}

// From its hide on, a scene still takes the presses that reach its stage
// handlers (so that the second press of a double click does not land on
// whatever stands there in the next scene) but acts on none of them; its
// lists likewise.
TEST_F(BrowserScenesTest, ALeavingSceneActsOnNoPress)
{
    openCatalogue(SmallCatalogue);
    mData->writeRecent({{"Chile", "Andes 24", "News", makePicture(64, 48, {255, 0, 0}, {0, 0, 255}), 64, 48}});
    static int homes;
    registerSceneFactory(SceneHome, [](ClutterActor* root) {
        ++homes;
        return new cIdleScene(root);
    });
    struct sPoint {
        float x, y;
    };
    struct sCase {
        const char* what;
        // Brings the first scene up and says where the two presses go.
        std::function<void(sPoint& first, sPoint& second)> prepare;
        int homes;
        size_t played;
        const char* title; // the stage title at the end
    } cases[] = {
        {"a double click on a recent tile",
         [this](sPoint& first, sPoint& second) {
             leaveForHome();
             first = second = {400, 300};
         },
         0, 1, "Player"},
        {"a click just below the browser's channel list as it opens",
         [this](sPoint& first, sPoint& second) {
             leaveForHome();
             // The home scene's channels button opens the browser; the
             // second press falls where the home's centre tile still shows.
             first = {30 + 90, PickerButtonY + 28};
             second = {400, 422};
         },
         0, 0, "Select channel..."},
        {"a double click on the browser's back button",
         [this](sPoint& first, sPoint& second) {
             leaveForHome();
             visitBrowser();
             first = second = {PickerButtonMargin + 20, PickerButtonY + 20};
         },
         1, 0, "Recent channels..."},
        {"a double click on the play orb",
         [this](sPoint& first, sPoint& second) {
             leaveForHome();
             visitBrowser();
             first = second = {400, PlayOrbCentreY};
         },
         0, 1, "Player"},
        {"a press on the play orb, then on a row of the leaving browser",
         [this](sPoint& first, sPoint& second) {
             leaveForHome();
             visitBrowser();
             first = {400, PlayOrbCentreY};
             float x = 0, y = 0;
             stageCentre(rowLabel(ChannelListPlace, "Fjord News"), x, y);
             second = {x, y};
         },
         0, 1, "Player"},
        {"a double click on the favourites' back button",
         [this](sPoint& first, sPoint& second) {
             visitFavourites();
             first = second = {PickerButtonMargin + 20, PickerButtonY + 20};
         },
         1, 0, "Recent channels..."},
        {"a double click on Continue",
         [this](sPoint& first, sPoint& second) {
             requestNewDBScene();
             runMainLoopUntil([] { return currentScene != nullptr && std::string(clutter_stage_get_title(stage())) ==
                                                                         "Updating"; },
                              3000);
             waitForEffectsToEnd();
             first = second = {400, 520};
         },
         1, 0, "Recent channels..."},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.what);
        sPoint first{}, second{};
        c.prepare(first, second);
        ASSERT_NE(currentScene, nullptr);
        homes = 0;
        mPlayed.clear();
        clickAt(first.x, first.y);
        settle();
        clickAt(second.x, second.y);
        settle();
        waitForEffectsToEnd();
        EXPECT_EQ(homes, c.homes);
        EXPECT_EQ(mPlayed.size(), c.played);
        EXPECT_STREQ(clutter_stage_get_title(stage()), c.title);
        if (!mPlayed.empty()) {
            EXPECT_EQ(cPlayerDatabase::instance()->currentName(), mPlayed.front().name)
                << "nothing chosen after the first press";
        }
    }
}

// Closing the window while the browser is shown: the shutdown closes the
// scene after the main loop has ended, so its exit fade never ends, and
// writes the settings next. The visit's list positions are in them.
TEST_F(BrowserScenesTest, TheListsAreSavedWhenTheProgramEndsInTheBrowser)
{
    std::vector<sChannel> channels = SmallCatalogue;
    for (int i = 0; i < 30; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "Fjord %02d", i);
        channels.push_back({"Norway", "News", name});
    }
    openCatalogue(channels);
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    clickRow(CountryListPlace, "Norway");
    waitForEffectsToEnd();
    scrollList(ChannelListPlace, 3);
    const std::vector<std::string> shown = shownRows(ChannelListPlace);
    ASSERT_GT(shown.size(), 2u);
    clickRow(ChannelListPlace, shown[1]);
    waitForEffectsToEnd();
    struct sExpected {
        const char16_t* name;
        const cListWidget* list;
    } const lists[] = {{CountryListState, &browser->countryList()},
                       {TypeListState, &browser->typeList()},
                       {ChannelListState, &browser->channelList()}};
    std::vector<sListState> before;
    for (const sExpected& list : lists) {
        before.push_back({list.list->getActive(), list.list->getTopElement(), list.list->getScrollY()});
    }
    ASSERT_LT(before[2].scrollY, 0);

    closeCurrentScene(); // no main loop turns after this
    for (size_t i = 0; i < before.size(); ++i) {
        SCOPED_TRACE(narrow(lists[i].name));
        const sListState saved = readListState(lists[i].name);
        EXPECT_EQ(saved.active, before[i].active);
        EXPECT_EQ(saved.topElement, before[i].topElement);
        EXPECT_EQ(saved.scrollY, before[i].scrollY);
    }
    waitForEffectsToEnd();
}

// A window manager carries out full screen (and its end) by resizing the
// stage after the request has returned: every scene lays itself out again
// for the new size, and back for the old one.
TEST_F(BrowserScenesTest, EveryPickerSceneLaysOutAgainWhenTheStageIsResized)
{
    const auto resize = [](float width, float height) {
        clutter_actor_set_size(stageActor(), width, height);
        runMainLoopUntil([&] { return clutter_actor_get_width(stageActor()) == width; }, 3000);
        runMainLoopFor(100);
    };
    const auto frameAt = [](const cPickerFrame& frame, float width) {
        EXPECT_FLOAT_EQ(clutter_actor_get_x(frame.playOrb()), width / 2.0f);
        EXPECT_FLOAT_EQ(clutter_actor_get_x(frame.logo()), width / 2.0f);
        EXPECT_FLOAT_EQ(clutter_actor_get_x(frame.favoritesButton()),
                        width - clutter_actor_get_width(frame.favoritesButton()) - PickerButtonMargin);
    };
    for (const bool browser : {true, false}) {
        SCOPED_TRACE(browser ? "browser" : "favourites");
        const cPickerFrame* frame = nullptr;
        if (browser) {
            cChannelsScene* scene = visitBrowser();
            ASSERT_NE(scene, nullptr);
            frame = &scene->frame();
        } else {
            cFavoritesScene* scene = visitFavourites();
            ASSERT_NE(scene, nullptr);
            frame = &scene->frame();
        }
        frameAt(*frame, 800.0f);
        resize(1024.0f, 768.0f);
        ASSERT_FLOAT_EQ(clutter_actor_get_width(stageActor()), 1024.0f);
        frameAt(*frame, 1024.0f);
        resize(800.0f, 600.0f);
        frameAt(*frame, 800.0f);
        leaveForHome();
    }
}

// Under the channel list (and the favourites), the chosen channel's
// programme now and its minutes left: found by the list's guide id, or by
// the name; nothing for a channel the guide does not know or while no
// channel is chosen.
TEST_F(BrowserScenesTest, TheGuideLineShowsTheChosenChannelsAndFavouritesProgramme)
{
    std::vector<cListingEntry> entries;
    for (const sChannel& channel : SmallCatalogue) {
        entries.push_back({channel.country, channel.type, channel.name, "", address(channel.name)});
    }
    entries[2].guideId = "fjord.no"; // Fjord News
    // Its list says it shows the guide's programmes ten minutes later.
    entries[2].guideShiftMinutes = 10;
    std::string error;
    ASSERT_TRUE(buildCatalogue(entries, narrow(mChannels) + "/database", {}, error)) << error;
    cPlayerDatabase::destroyInstance();
    ASSERT_TRUE(cPlayerDatabase::instance()->open(mChannels));

    const int64_t now = currentUtc();
    const std::string guide = narrow(mData->widePath()) + "/guide.xml";
    std::ofstream(guide) << "<tv><channel id=\"FJORD.NO\"><display-name>Another name</display-name></channel>"
                         << "<channel id=\"n1\"><display-name>Nordlys</display-name></channel>"
                         << "<programme channel=\"FJORD.NO\" start=\"" << formatXmltvTime(now - 600) << "\" stop=\""
                         << formatXmltvTime(now + 1500) << "\"><title>Evening News</title></programme>"
                         << "<programme channel=\"n1\" start=\"" << formatXmltvTime(now - 60) << "\" stop=\""
                         << formatXmltvTime(now + 7200) << "\"><title>Aurora</title></programme></tv>";
    ASSERT_EQ(refreshGuide({guide}, mChannels, cGuideLimits(), now, [] { return false; }).result,
              eGuideRefresh::Installed);

    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    ClutterActor* line = browser->guideLine();
    const auto shown = [line] {
        return CLUTTER_ACTOR_IS_VISIBLE(line) ? std::string(clutter_text_get_text(CLUTTER_TEXT(line)))
                                              : std::string("(hidden)");
    };
    EXPECT_EQ(shown(), "(hidden)") << "Andes 24 is not in the guide";
    clickRow(ChannelListPlace, "Fjord News");
    EXPECT_EQ(shown(), "Now: Evening News \u00b7 35 min left");
    // Under the channel list, within its width.
    EXPECT_GE(clutter_actor_get_y(line), ChannelListPlace.y + ChannelListPlace.height);
    EXPECT_GE(clutter_actor_get_x(line), ChannelListPlace.x);
    EXPECT_LE(clutter_actor_get_x(line) + clutter_actor_get_width(line), ChannelListPlace.x + ChannelListPlace.width);
    clickRow(ChannelListPlace, "Nordlys");
    EXPECT_EQ(shown(), "Now: Aurora \u00b7 120 min left");
    // Another filter: the list starts over without a choice.
    clickRow(CountryListPlace, "Chile");
    waitForEffectsToEnd();
    EXPECT_EQ(shown(), "(hidden)");

    // The favourites show the chosen favourite's programme the same way.
    cPlayerDatabase::instance()->addFavourite(wide("Nordlys"), wide(""), wide(address("Nordlys")));
    cFavoritesScene* favourites = visitFavourites();
    ASSERT_NE(favourites, nullptr);
    ClutterActor* favouriteLine = favourites->guideLine();
    EXPECT_FALSE(CLUTTER_ACTOR_IS_VISIBLE(favouriteLine));
    clickRow(ChannelListPlace, "Nordlys");
    ASSERT_TRUE(CLUTTER_ACTOR_IS_VISIBLE(favouriteLine));
    EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(favouriteLine)), "Now: Aurora \u00b7 120 min left");
}

// The line follows the guide while a channel stays chosen: a programme
// that starts after the choice shows when it starts, and a guide that
// lands after the choice shows without another choice.
TEST_F(BrowserScenesTest, TheGuideLineAppearsWhenAProgrammeStartsOrTheGuideLands)
{
    openCatalogue(SmallCatalogue);
    const std::string guide = narrow(mData->widePath()) + "/guide.xml";
    const auto install = [&](const std::string& channel, int64_t start, const std::string& title) {
        const int64_t now = currentUtc();
        std::ofstream(guide) << "<tv><channel id=\"c\"><display-name>" << channel << "</display-name></channel>"
                             << "<programme channel=\"c\" start=\"" << formatXmltvTime(start) << "\" stop=\""
                             << formatXmltvTime(start + 3600) << "\"><title>" << title << "</title></programme></tv>";
        return refreshGuide({guide}, mChannels, cGuideLimits(), now, [] { return false; }).result;
    };
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    ClutterActor* line = browser->guideLine();
    const auto shown = [line] {
        return CLUTTER_ACTOR_IS_VISIBLE(line) ? std::string(clutter_text_get_text(CLUTTER_TEXT(line)))
                                              : std::string("(hidden)");
    };
    // Nordlys's programme starts three seconds from now.
    ASSERT_EQ(install("Nordlys", currentUtc() + 3, "Aurora"), eGuideRefresh::Installed);
    clickRow(ChannelListPlace, "Nordlys");
    EXPECT_EQ(shown(), "(hidden)");
    EXPECT_TRUE(runMainLoopUntil([&] { return shown() != "(hidden)"; }, 6000));
    EXPECT_EQ(shown().rfind("Now: Aurora", 0), 0u) << shown();

    // Fjord News has nothing in this guide; one that knows it lands.
    clickRow(ChannelListPlace, "Fjord News");
    EXPECT_EQ(shown(), "(hidden)");
    runMainLoopFor(500);
    ASSERT_EQ(install("Fjord News", currentUtc() - 60, "Evening News"), eGuideRefresh::Installed);
    EXPECT_TRUE(runMainLoopUntil([&] { return shown() != "(hidden)"; },
                                 static_cast<int>(cGuideLine::WaitSeconds * 1000 + 3000)));
    EXPECT_EQ(shown(), "Now: Evening News \u00b7 59 min left");
}

// A language that changes while the player runs is spoken at once by the
// scene that stands: its title, caption, button words, the filters' "Any"
// and an open search; the choices stay.
TEST_F(BrowserScenesTest, ANewLanguageIsSpokenAtOnceByTheSceneThatStands)
{
    openCatalogue(SmallCatalogue);
    const std::u16string folder = kestrel::cSystem::getApplicationPath();
    const auto text = [](ClutterActor* label) { return std::string(clutter_text_get_text(CLUTTER_TEXT(label))); };

    cIdleScene* home = visit<cIdleScene>(requestHomeScene);
    ASSERT_NE(home, nullptr);
    const float captionCentre = clutter_actor_get_x(home->caption()) + clutter_actor_get_width(home->caption()) / 2;
    changeLanguage(languageFilePath(folder, u"german"));
    settle();
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Zuletzt gesehen...");
    EXPECT_EQ(text(home->caption()), "Zuletzt gesehene Sender");
    // Still centred as before, at its new width.
    EXPECT_NEAR(clutter_actor_get_x(home->caption()) + clutter_actor_get_width(home->caption()) / 2, captionCentre,
                1.0f);

    changeLanguage(languageFilePath(folder, u"english"));
    cChannelsScene* browser = visitBrowser();
    ASSERT_NE(browser, nullptr);
    clickRow(CountryListPlace, "Chile");
    waitForEffectsToEnd();
    typeKey(CLUTTER_KEY_n);
    settle();
    const cSearchLine& line = browser->searchLine();
    ASSERT_TRUE(runMainLoopUntil([&] { return text(line.count()) != "\xe2\x80\xa6"; }, 5000));
    EXPECT_EQ(text(line.count()), "1 channel");

    changeLanguage(languageFilePath(folder, u"german"));
    settle();
    waitForEffectsToEnd();
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Sender ausw\u00e4hlen...");
    EXPECT_EQ(text(browser->frame().caption()), "W\u00e4hlen Sie einen Sender aus");
    EXPECT_EQ(text(buttonWordLabel(browser->frame().backButton())), "Zur\u00fcck");
    EXPECT_EQ(text(buttonWordLabel(browser->frame().favoritesButton())), "Favoriten");
    EXPECT_EQ(shownRows(TypeListPlace).front(), "Alle");
    EXPECT_EQ(browser->countryList().getActiveText(), u"Chile");
    EXPECT_EQ(text(line.caption()), "Suche: n");
    EXPECT_EQ(text(line.count()), "1 Sender");
    EXPECT_EQ(browser->channelList().getCount(), 1);
    EXPECT_EQ(currentScene, browser);
}

// Names longer than their list is wide end in an ellipsis within the
// list, even grown under the pointer; short ones show whole.
TEST_F(BrowserScenesTest, LongNamesEndInAnEllipsisWithinTheirList)
{
    const std::string longCountry = "Bosnia and Herzegovina Federation";
    const std::string longName = "Canal Internacional de Noticias y Deportes en Directo las Veinticuatro Horas";
    openCatalogue({{longCountry, "News", longName}, {"Chile", "News", "Andes 24"}});
    ASSERT_NE(visitBrowser(), nullptr);
    const struct {
        const sListPlace& place;
        std::string text;
        bool cut;
    } rows[] = {{CountryListPlace, longCountry, true},
                {ChannelListPlace, longName, true},
                {ChannelListPlace, "Andes 24", false},
                {CountryListPlace, "Chile", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        ClutterActor* label = rowLabel(row.place, row.text);
        ASSERT_NE(label, nullptr);
        gfloat x = 0, y = 0;
        clutter_actor_get_transformed_position(label, &x, &y);
        const float width = clutter_actor_get_width(label);
        EXPECT_GE(x, static_cast<float>(row.place.x));
        EXPECT_LE(x + width, static_cast<float>(row.place.x + row.place.width));
        EXPECT_LE(width * 1.2f, static_cast<float>(row.place.width) + 0.5f);
        EXPECT_EQ(static_cast<bool>(pango_layout_is_ellipsized(clutter_text_get_layout(CLUTTER_TEXT(label)))), row.cut);
    }
}
