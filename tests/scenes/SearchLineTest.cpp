// The typing search of the channel browser and the favourites on the real
// toolkit: key presses with their Unicode travel the toolkit's own event
// path to the scene, over a catalogue made with the catalogue builder and
// favourites in a temporary data folder.

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SceneDriver.h"
#include "app/Effects.h"
#include "app/Scene.h"
#include "app/Stage.h"
#include "catalogue/CatalogueBuilder.h"
#include "catalogue/ChannelFolder.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"
#include "playback/Zapping.h"
#include "scenes/ChannelsScene.h"
#include "scenes/FavoritesScene.h"
#include "scenes/Scenes.h"
#include "scenes/SearchLine.h"
#include "state/Language.h"
#include "state/ListStates.h"

#include <clutter/clutter-keysyms.h>

namespace {

std::u16string wide(const std::string& text) { return kestrel::fromUtf8(text); }

std::string address(const std::string& name)
{
    std::string path;
    for (unsigned char c : name) {
        path += std::isalnum(c) ? static_cast<char>(c) : '_';
    }
    return "http://streams.example.net/" + path + ".m3u8";
}

class cPlayerStandIn : public cScene {
public:
    explicit cPlayerStandIn(ClutterActor* root) : cScene(root)
    {
        mActor = clutter_actor_new();
        clutter_actor_add_child(mRoot, mActor);
    }
    ~cPlayerStandIn() override { clutter_actor_destroy(mActor); }
    void show() override { clutter_stage_set_title(stage(), "Player"); }
    void hide() override { effectFade(cEffectTemplate(100, AlphaRampInc), mActor, 0, [this] { delete this; }); }

private:
    ClutterActor* mActor;
};

void putEvent(ClutterEvent* event)
{
    clutter_event_set_stage(event, stage());
    clutter_event_set_time(event, CLUTTER_CURRENT_TIME);
    clutter_event_put(event);
    clutter_event_free(event);
}

// Each character of text pressed and released as a key that gives it, as
// the toolkit reports typing in any script.
void typeText(const std::string& text)
{
    const std::u32string characters = [&] {
        std::u32string out;
        glong count = 0;
        gunichar* units = g_utf8_to_ucs4_fast(text.c_str(), -1, &count);
        out.assign(units, units + count);
        g_free(units);
        return out;
    }();
    for (const char32_t c : characters) {
        for (ClutterEventType type : {CLUTTER_KEY_PRESS, CLUTTER_KEY_RELEASE}) {
            ClutterEvent* event = clutter_event_new(type);
            clutter_event_set_key_symbol(event, clutter_unicode_to_keysym(c));
            clutter_event_set_key_unicode(event, c);
            putEvent(event);
        }
    }
    settle();
}

void press(guint keyval)
{
    typeKey(keyval);
    settle();
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

// The shown row label of the list at place with that text, null when none.
ClutterActor* rowLabel(const sListPlace& place, const std::string& text)
{
    ClutterActor* found = nullptr;
    forEachActor(stageActor(), [&](ClutterActor* actor) {
        if (found != nullptr || !CLUTTER_IS_TEXT(actor) || !clutter_actor_is_mapped(actor) ||
            text != clutter_text_get_text(CLUTTER_TEXT(actor))) {
            return;
        }
        ClutterVertex vertices[4];
        clutter_actor_get_abs_allocation_vertices(actor, vertices);
        const float x = (vertices[0].x + vertices[3].x) / 2.0f;
        const float y = (vertices[0].y + vertices[3].y) / 2.0f;
        if (x >= place.x && x < place.x + place.width && y >= place.y + 25 && y < place.y + place.height - 25) {
            found = actor;
        }
    });
    return found;
}

void clickRow(const sListPlace& place, const std::string& text)
{
    ClutterActor* row = rowLabel(place, text);
    ASSERT_NE(row, nullptr) << text;
    ClutterVertex vertices[4];
    clutter_actor_get_abs_allocation_vertices(row, vertices);
    clickAt((vertices[0].x + vertices[3].x) / 2.0f, (vertices[0].y + vertices[3].y) / 2.0f);
    settle();
}

// The list's rows, read through its own selection (restored afterwards).
std::vector<std::string> rowsOf(cListWidget& list)
{
    std::vector<std::string> rows;
    const sListState state = listStateOf(list);
    for (int i = 0; i < list.getCount(); ++i) {
        list.setActive(i);
        rows.push_back(kestrel::toUtf8(list.getActiveText()));
    }
    applyListState(list, state);
    return rows;
}

std::string textOf(ClutterActor* label) { return clutter_text_get_text(CLUTTER_TEXT(label)); }

struct sChannel {
    std::string country, type, name;
};

const std::vector<sChannel> Catalogue = {
    {"Chile", "News", "Café Andes"},   {"Chile", "Sport", "Gol Chile"},  {"Ireland", "News", "CAFE Dublin"},
    {"Ireland", "Music", "Celtic Beat"}, {"Norway", "News", "Fjord News"}, {"Russia", "News", "Первый ТВ"},
    {"Russia", "Music", "Музыка тв"},  {"Peru", "Sport", "Gol Peru"},     {"Spain", "Sport", "Golf Mundo"},
};

struct sPlayed {
    cPlayerDatabase::eMode mode;
    std::u16string country, type, name;
};

class SearchLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        parkPointer();
        installScenes();
        setCurrentPlayerDestroyer({});
        setPlayChannelProcedure([this] {
            cPlayerDatabase* database = cPlayerDatabase::instance();
            mPlayed.push_back(
                {database->mode(), database->currentCountry(), database->currentType(), database->currentName()});
            closeCurrentScene();
            presentScene(new cPlayerStandIn(stageActor()));
        });
        closeCurrentScene();
        waitForEffectsToEnd();
        cPlayerDatabase::destroyInstance();
        mData = std::make_unique<cUserData>();
        mChannels = mData->widePath() + u"/channels";
        ASSERT_TRUE(ensureChannelFolder(mChannels + u"/"));
        std::vector<cListingEntry> entries;
        for (const sChannel& channel : Catalogue) {
            entries.push_back({channel.country, channel.type, channel.name, "", address(channel.name)});
        }
        std::string error;
        ASSERT_TRUE(buildCatalogue(entries, kestrel::toUtf8(mChannels) + "/database", {}, error)) << error;
        cPlayerDatabase writer;
        for (const char* name : {"Zebra TV", "Café Andes", "Nordlys", "CAFE Dublin"}) {
            writer.addFavourite(wide(name), u"", wide(address(name)));
        }
        ASSERT_TRUE(writer.saveFavourites(mChannels));
        ASSERT_TRUE(cPlayerDatabase::instance()->open(mChannels));
    }

    void TearDown() override
    {
        closeCurrentScene();
        waitForEffectsToEnd();
        setPlayChannelProcedure({});
        cPlayerDatabase::destroyInstance();
        mData.reset();
    }

    template <typename tScene>
    tScene* visit(void (*request)())
    {
        request();
        runMainLoopUntil([] { return dynamic_cast<tScene*>(currentScene) != nullptr; }, 3000);
        auto* scene = dynamic_cast<tScene*>(currentScene);
        waitForEffectsToEnd();
        return scene;
    }

    // Waits until the search has its names (the catalogue's index is built
    // off the main loop) and the count shows.
    static void waitForCount(const cSearchLine& line)
    {
        runMainLoopUntil([&] { return textOf(line.count()) != "\xe2\x80\xa6"; }, 5000);
    }

    std::unique_ptr<cUserData> mData;
    std::u16string mChannels;
    std::vector<sPlayed> mPlayed;
};

} // namespace

TEST_F(SearchLineTest, TypingNarrowsTheBrowserBackspaceEditsEscapeRestoresAndTheFiltersKeepTheText)
{
    cChannelsScene* browser = visit<cChannelsScene>(requestChannelsScene);
    ASSERT_NE(browser, nullptr);
    const cSearchLine& line = browser->searchLine();
    cListWidget& channels = browser->channelList();
    const std::vector<std::string> everything = rowsOf(channels);
    ASSERT_EQ(everything.size(), Catalogue.size());
    EXPECT_FALSE(clutter_actor_is_mapped(line.caption()));

    // Case and accents: "cafe" finds both cafés, over the whole catalogue.
    typeText("cafe");
    waitForCount(line);
    EXPECT_TRUE(line.isOpen());
    EXPECT_TRUE(clutter_actor_is_mapped(line.caption()));
    EXPECT_EQ(textOf(line.caption()), "Search: cafe");
    EXPECT_EQ(rowsOf(channels), (std::vector<std::string>{"CAFE Dublin", "Café Andes"}));
    EXPECT_EQ(textOf(line.count()), "2 channels");

    // A letter that matches nothing: an empty list and "0 channels".
    typeText("x");
    EXPECT_EQ(channels.getCount(), 0);
    EXPECT_EQ(textOf(line.count()), "0 channels");
    // Backspace erases it.
    press(CLUTTER_KEY_BackSpace);
    EXPECT_EQ(line.text(), u"cafe");
    EXPECT_EQ(channels.getCount(), 2);

    // A country keeps the text and narrows within it.
    clickRow(CountryListPlace, "Ireland");
    EXPECT_EQ(line.text(), u"cafe");
    EXPECT_EQ(rowsOf(channels), (std::vector<std::string>{"CAFE Dublin"}));
    EXPECT_EQ(textOf(line.count()), "1 channel");

    // Escape: the whole list of the filters, without the search.
    press(CLUTTER_KEY_Escape);
    EXPECT_FALSE(line.isOpen());
    EXPECT_FALSE(clutter_actor_is_mapped(line.caption()));
    EXPECT_EQ(rowsOf(channels), (std::vector<std::string>{"CAFE Dublin", "Celtic Beat"}));

    // Cyrillic in either case; Backspace of the last letter closes.
    clickRow(CountryListPlace, "Any");
    typeText("ТВ");
    waitForCount(line);
    EXPECT_EQ(rowsOf(channels), (std::vector<std::string>{"Музыка тв", "Первый ТВ"}));
    press(CLUTTER_KEY_BackSpace);
    EXPECT_EQ(line.text(), u"Т");
    press(CLUTTER_KEY_BackSpace);
    EXPECT_FALSE(line.isOpen());
    EXPECT_EQ(rowsOf(channels), everything);

    // With no search open, Escape is the scene's own again: it goes back.
    EXPECT_EQ(currentScene, browser);
    press(CLUTTER_KEY_Escape);
    EXPECT_NE(currentScene, browser);
}

TEST_F(SearchLineTest, AChannelChosenInTheNarrowedListPlaysAndTheSavedStateStaysTheUnfilteredOne)
{
    cChannelsScene* browser = visit<cChannelsScene>(requestChannelsScene);
    ASSERT_NE(browser, nullptr);
    // The first visit chose the first row; that is what is kept.
    const sListState before = listStateOf(browser->channelList());
    ASSERT_EQ(before.active, 0);

    typeText("dublin");
    waitForCount(browser->searchLine());
    clickRow(ChannelListPlace, "CAFE Dublin");
    EXPECT_EQ(browser->channelList().getActive(), 0);
    clickAt(400, PlayOrbCentreY);
    settle();
    ASSERT_EQ(mPlayed.size(), 1u);
    EXPECT_EQ(mPlayed[0].mode, cPlayerDatabase::ModeCatalogue);
    EXPECT_EQ(mPlayed[0].name, u"CAFE Dublin");
    EXPECT_EQ(mPlayed[0].country, u"*");
    waitForEffectsToEnd();

    // The browser left with its search open: the stored state is the
    // unfiltered list's as it was before typing.
    const sListState stored = readListState(ChannelListState);
    EXPECT_EQ(stored.active, before.active);
    EXPECT_EQ(stored.topElement, before.topElement);
    EXPECT_EQ(stored.scrollY, before.scrollY);
}

TEST_F(SearchLineTest, FavouritesNarrowAndTheChosenOneIsTheRightFavourite)
{
    cFavoritesScene* favourites = visit<cFavoritesScene>(requestFavoritesScene);
    ASSERT_NE(favourites, nullptr);
    const cSearchLine& line = favourites->searchLine();
    cListWidget& list = favourites->favouritesList();

    typeText("CAFÉ");
    EXPECT_EQ(rowsOf(list), (std::vector<std::string>{"Café Andes", "CAFE Dublin"}));
    EXPECT_EQ(textOf(line.count()), "2 channels");
    // The second row of the narrowed list is the fourth favourite.
    clickRow(ChannelListPlace, "CAFE Dublin");
    EXPECT_EQ(cPlayerDatabase::instance()->currentName(), u"CAFE Dublin");

    // Escape: every favourite again, the chosen one still chosen.
    press(CLUTTER_KEY_Escape);
    EXPECT_FALSE(line.isOpen());
    EXPECT_EQ(rowsOf(list), (std::vector<std::string>{"Zebra TV", "Café Andes", "Nordlys", "CAFE Dublin"}));
    EXPECT_EQ(list.getActive(), 3);

    typeText("zzz");
    EXPECT_EQ(list.getCount(), 0);
    EXPECT_EQ(textOf(line.count()), "0 channels");
    press(CLUTTER_KEY_Escape);

    clickAt(400, PlayOrbCentreY);
    settle();
    ASSERT_EQ(mPlayed.size(), 1u);
    EXPECT_EQ(mPlayed[0].mode, cPlayerDatabase::ModeFavourite);
    EXPECT_EQ(mPlayed[0].name, u"CAFE Dublin");
}

// Zapping after a search goes through the list as the user saw it when
// choosing, the narrowed one, from the chosen channel on, wrapping at its
// ends: in the browser and in the favourites.
TEST_F(SearchLineTest, ZappingAfterASearchStepsThroughTheNarrowedListFromTheChosenChannel)
{
    struct sCase {
        const char* what;
        void (*open)();
        const char* typed;
        const char* chosen;
        cPlayerDatabase::eMode mode;
        std::vector<std::pair<int, std::string>> steps; // the step, the channel it lands on
    };
    const sCase cases[] = {
        {"browser", requestChannelsScene, "gol", "Gol Peru", cPlayerDatabase::ModeCatalogue,
         {{1, "Golf Mundo"}, {1, "Gol Chile"}, {-1, "Golf Mundo"}, {-1, "Gol Peru"}, {-1, "Gol Chile"}}},
        {"favourites", requestFavoritesScene, "caf", "CAFE Dublin", cPlayerDatabase::ModeFavourite,
         {{1, "Café Andes"}, {1, "CAFE Dublin"}, {-1, "Café Andes"}, {2, "Café Andes"}}},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.what);
        mPlayed.clear();
        c.open();
        ASSERT_TRUE(runMainLoopUntil(
            [] {
                return dynamic_cast<cChannelsScene*>(currentScene) != nullptr ||
                       dynamic_cast<cFavoritesScene*>(currentScene) != nullptr;
            },
            3000));
        waitForEffectsToEnd();
        typeText(c.typed);
        if (auto* browser = dynamic_cast<cChannelsScene*>(currentScene)) {
            waitForCount(browser->searchLine());
        }
        clickRow(ChannelListPlace, c.chosen);
        clickAt(400, PlayOrbCentreY);
        settle();
        ASSERT_EQ(mPlayed.size(), 1u);
        EXPECT_EQ(kestrel::toUtf8(mPlayed[0].name), c.chosen);
        for (const auto& [step, channel] : c.steps) {
            const size_t played = mPlayed.size();
            EXPECT_EQ(kestrel::toUtf8(zapBy(step)), channel) << "step " << step;
            ASSERT_TRUE(runMainLoopUntil([&] { return mPlayed.size() > played; }, 3000));
            ASSERT_FALSE(mPlayed.empty());
            EXPECT_EQ(mPlayed.back().mode, c.mode);
            EXPECT_EQ(kestrel::toUtf8(mPlayed.back().name), channel);
        }
        EXPECT_EQ(mPlayed.size(), c.steps.size() + 1);
        clearZapList();
        closeCurrentScene();
        waitForEffectsToEnd();
    }
}

// A key held on the home scene opens its picker once; its repeats belong
// to the home scene and type nothing into the picker's search. A key
// first pressed in the picker types on every repeat, as typing does.
TEST_F(SearchLineTest, AKeyHeldOnTheHomeSceneOpensItsPickerAndTypesNothingThere)
{
    struct sCase {
        guint key;
        const char* title;
        const char16_t* typed; // by the same key held in the picker
    };
    const sCase cases[] = {
        {CLUTTER_KEY_c, "Select channel...", u"ccc"},
        {CLUTTER_KEY_V, "Favorite channels", u"VVV"},
    };
    const auto searchOf = []() -> const cSearchLine* {
        if (auto* browser = dynamic_cast<cChannelsScene*>(currentScene)) {
            return &browser->searchLine();
        }
        if (auto* favourites = dynamic_cast<cFavoritesScene*>(currentScene)) {
            return &favourites->searchLine();
        }
        return nullptr;
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.title);
        requestHomeScene();
        ASSERT_TRUE(runMainLoopUntil([&] { return currentScene != nullptr && !searchOf(); }, 3000));
        waitForEffectsToEnd();
        pressKey(c.key);
        settle();
        ASSERT_TRUE(runMainLoopUntil([&] { return searchOf() != nullptr; }, 3000));
        cScene* picker = currentScene;
        EXPECT_STREQ(clutter_stage_get_title(stage()), c.title);
        for (int repeat = 0; repeat < 6; ++repeat) {
            pressKey(c.key);
            settle();
        }
        releaseKey(c.key);
        settle();
        EXPECT_EQ(currentScene, picker);
        EXPECT_FALSE(searchOf()->isOpen()) << kestrel::toUtf8(searchOf()->text());

        // Held in the picker itself: every repeat types.
        for (int repeat = 0; repeat < 3; ++repeat) {
            pressKey(c.key);
            settle();
        }
        releaseKey(c.key);
        settle();
        EXPECT_EQ(searchOf()->text(), c.typed);
        closeCurrentScene();
        waitForEffectsToEnd();
    }
}
