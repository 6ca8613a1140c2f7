#include "scenes/ChannelsScene.h"

#include <algorithm>
#include <vector>

#include "app/Keys.h"
#include "app/MainLoop.h"
#include "app/Stage.h"
#include "app/Words.h"
#include "catalogue/PlayerDatabase.h"
#include "playback/Zapping.h"
#include "scenes/IdleScene.h"
#include "state/Language.h"
#include "state/ListStates.h"

const char16_t* const CountryListState = u"countryList";
const char16_t* const ChannelListState = u"channelsList";
const char16_t* const TypeListState = u"typeList";

namespace {

const ClutterColor White = {255, 255, 255, 255};

constexpr unsigned SceneMilliseconds = 300;
// The orb's pulse and hover: 20 frames at 120 per second (about 167 ms).
constexpr unsigned OrbFrames = 20;
constexpr unsigned FramesPerSecond = 120;
constexpr double OrbGrown = 1.1;


const char16_t* const AnyRow = u"channels_any"; // the name of its text
const char16_t* const AnyFilter = u"*";

std::unique_ptr<cListWidget> makeList(cScene* scene, const sListPlace& place)
{
    return std::make_unique<cListWidget>(scene, place.x, place.y, place.width, place.height);
}

// The stored country or type of channels whose list names none, and the
// name of the word it is shown as.
const char16_t* const UnknownValue = u"Unknown";
const char16_t* const UnknownRow = u"channels_unknown";

// "Any", then the rows, "Unknown" in the user's language.
std::vector<std::u16string> withAny(const std::vector<std::u16string>& rows)
{
    std::vector<std::u16string> items;
    items.reserve(rows.size() + 1);
    items.emplace_back(interfaceText(AnyRow));
    for (const std::u16string& row : rows) {
        items.push_back(row == UnknownValue ? interfaceText(UnknownRow) : row);
    }
    return items;
}

} // namespace

// --- cPickerFrame --------------------------------------------------------

cPickerFrame::cPickerFrame(ClutterActor* root, bool lowQualityOrb)
    : mRoot(root)
    , mSceneTemplate(SceneMilliseconds, AlphaRampInc)
    , mOrbTimeline(OrbFrames, FramesPerSecond)
    , mOrbTemplate(mOrbTimeline, AlphaRampInc)
{
    mSceneGroup = clutter_actor_new();
    mCaption = newWordLabel("Monospace", u"channels_caption", &White);
    mBackground = loadSkinTexture("channels-by-type-bg.png", 800.0f, 600.0f);
    mLogo = loadSkinTexture("logo.png", 400.0f, 150.0f);
    mBackButton = loadLabelledButton("back-button.png", u"button_back");
    mFavoritesButton = loadLabelledButton("fav-button.png", u"button_favourites");
    mPlayOrb = loadSkinTexture("play-orb.png", 96.0f, 96.0f);
    clutter_actor_set_reactive(mBackButton, TRUE);
    clutter_actor_set_reactive(mFavoritesButton, TRUE);
    clutter_actor_set_reactive(mPlayOrb, TRUE);
    if (lowQualityOrb && CLUTTER_IS_TEXTURE(mPlayOrb) && !(cogl_get_features() & COGL_FEATURE_TEXTURE_NPOT)) {
        clutter_texture_set_filter_quality(CLUTTER_TEXTURE(mPlayOrb), CLUTTER_TEXTURE_QUALITY_LOW);
    }

    clutter_actor_add_child(mSceneGroup, mCaption);
    clutter_actor_add_child(mSceneGroup, mBackButton);
    clutter_actor_add_child(mSceneGroup, mFavoritesButton);
    clutter_actor_add_child(mSceneGroup, mPlayOrb);
    clutter_actor_add_child(mRoot, mBackground);
    clutter_actor_add_child(mRoot, mSceneGroup);
    clutter_actor_add_child(mRoot, mLogo);
    clutter_actor_show_all(mRoot);
}

cPickerFrame::~cPickerFrame()
{
    // A running pulse would call back into the frame; it stops here, with
    // every other effect on the frame's actors.
    for (ClutterActor* actor :
         {mSceneGroup, mCaption, mBackground, mLogo, mBackButton, mFavoritesButton, mPlayOrb}) {
        stopEffects(actor);
    }
    mOrbTimeline.stop();
    clutter_actor_destroy(mCaption);
    clutter_actor_destroy(mBackground);
    clutter_actor_destroy(mLogo);
    clutter_actor_destroy(mBackButton);
    clutter_actor_destroy(mFavoritesButton);
    clutter_actor_destroy(mPlayOrb);
    clutter_actor_destroy(mSceneGroup);
}

void cPickerFrame::layOut(const char16_t* title)
{
    const float sw = clutter_actor_get_width(mRoot);
    const float sh = clutter_actor_get_height(mRoot);
    setTitleWord(title);

    clutter_actor_set_z_position(mSceneGroup, 100.0f);
    clutter_actor_set_opacity(mSceneGroup, 0);
    clutter_actor_set_scale(mBackground, 1.5, 1.5);

    // Anchored at their centres: the background scales about the stage
    // centre, the logo hangs from the top edge, the orb grows about its
    // middle.
    clutter_actor_set_anchor_point_from_gravity(mBackground, CLUTTER_GRAVITY_CENTER);
    clutter_actor_set_position(mBackground, clutter_actor_get_width(mBackground) / 2.0f,
                               clutter_actor_get_height(mBackground) / 2.0f);
    clutter_actor_set_anchor_point_from_gravity(mLogo, CLUTTER_GRAVITY_CENTER);
    clutter_actor_set_anchor_point_from_gravity(mPlayOrb, CLUTTER_GRAVITY_CENTER);
    place(sw, sh);
}

void cPickerFrame::place(float sw, float sh)
{
    float x = 0.0f;
    float y = 0.0f;
    captionPosition(sw, sh, clutter_actor_get_width(mCaption), clutter_actor_get_height(mCaption), x, y);
    clutter_actor_set_position(mCaption, x, y);
    clutter_actor_set_position(mLogo, sw / 2.0f, clutter_actor_get_height(mLogo) / 3.0f);
    clutter_actor_set_position(mBackButton, PickerButtonMargin, PickerButtonY);
    clutter_actor_set_position(mFavoritesButton, sw - clutter_actor_get_width(mFavoritesButton) - PickerButtonMargin,
                               PickerButtonY);
    clutter_actor_set_position(mPlayOrb, sw / 2.0f, PlayOrbCentreY);
}

void cPickerFrame::enter()
{
    effectFade(mSceneTemplate, mSceneGroup, 255);
    effectDepth(mSceneTemplate, mSceneGroup, 0.0f);
    effectScale(mSceneTemplate, mBackground, 1.0, 1.0);
}

void cPickerFrame::fadeOut(tEffectDone done)
{
    effectFade(mSceneTemplate, mSceneGroup, 0, std::move(done));
}

void cPickerFrame::scaleOrb(double scale, tEffectDone done)
{
    // The timeline runs beside the effect: while it plays, hover leaves the
    // orb alone.
    mOrbTimeline.start();
    ++mOrbScalings;
    effectScale(mOrbTemplate, mPlayOrb, scale, scale, std::move(done));
}

void cPickerFrame::pulseOrb()
{
    if (mOrbTimeline.isPlaying()) {
        return;
    }
    scaleOrb(OrbGrown, [this] { scaleOrb(1.0); });
}

bool cPickerFrame::hover(ClutterEventType type, ClutterActor* source)
{
    const bool enter = type == CLUTTER_ENTER;
    if (source == mBackButton || source == mFavoritesButton) {
        effectDepth(mSceneTemplate, source, enter ? 10.0f : 0.0f);
        return true;
    }
    if (source == mPlayOrb && !mOrbTimeline.isPlaying()) {
        scaleOrb(enter ? OrbGrown : 1.0);
    }
    return false;
}

// --- cStageHandlers ----------------------------------------------------------

void cStageHandlers::connect(ClutterActor* root, tHandle handle)
{
    disconnect();
    mRoot = root;
    mHandle = std::move(handle);
    const char* const signals[] = {"enter-event", "leave-event", "button-press-event", "key-press-event",
                                   "key-release-event"};
    for (int i = 0; i < 5; ++i) {
        mIds[i] = g_signal_connect(root, signals[i], G_CALLBACK(onEvent), this);
    }
}

void cStageHandlers::disconnect()
{
    for (gulong& id : mIds) {
        if (id != 0) {
            g_signal_handler_disconnect(mRoot, id);
            id = 0;
        }
    }
}

gboolean cStageHandlers::onEvent(ClutterActor*, ClutterEvent* event, gpointer self)
{
    ClutterActor* source = clutter_event_get_source(event);
    if (source == nullptr) {
        return CLUTTER_EVENT_PROPAGATE;
    }
    bool consumed = false;
    // A failure in a handler is reported as every main-loop failure is; the
    // event goes on.
    runGuarded([&] {
        consumed = static_cast<cStageHandlers*>(self)->mHandle(event, clutter_event_type(event), source);
    });
    return consumed ? CLUTTER_EVENT_STOP : CLUTTER_EVENT_PROPAGATE;
}

// --- cChannelsScene ------------------------------------------------------------

cChannelsScene::cChannelsScene(ClutterActor* root)
    : cScene(root)
    , mFrame(root, true)
    , mSearchLine(root, ChannelListPlace.x, ChannelListPlace.y, ChannelListPlace.width)
    , mGuideLine(mFrame.sceneGroup(), ChannelListPlace.x, ChannelListPlace.y + ChannelListPlace.height,
                 ChannelListPlace.width)
{
    cPlayerDatabase* database = cPlayerDatabase::instance();
    // The index for a search over the whole catalogue starts building now,
    // off the main loop, so that it is there by the time the user types.
    database->nameIndex();
    mSearchLine.setChangedSlot([this](cSearchLine::eChange change) { searchChanged(change); });
    mCountryList = makeList(this, CountryListPlace);
    mChannelList = makeList(this, ChannelListPlace);
    mTypeList = makeList(this, TypeListPlace);
    mCountryList->setItems(withAny(database->countries()));
    mTypeList->setItems(withAny(database->types()));
    mCountryList->setClickSlot([this] { refillChannels(); });
    mTypeList->setClickSlot([this] { refillChannels(); });
    mChannelList->setClickSlot([this] { chooseChannel(); });
}

cChannelsScene::~cChannelsScene()
{
    mKeys.disconnect();
    mHandlers.disconnect();
    // A scene that hid has saved them already.
    if (!isLeaving()) {
        saveListStates();
    }
    mCountryList.reset();
    mChannelList.reset();
    mTypeList.reset();
    // The frame goes with the members.
}

void cChannelsScene::layOutForStage(float width, float height)
{
    mFrame.place(width, height);
}

void cChannelsScene::show()
{
    mFrame.layOut(u"channels_title");
    followStageSize();

    mCountryList->show(true, true);
    mTypeList->show(true, true);
    restoreListState(CountryListState, *mCountryList);
    restoreListState(TypeListState, *mTypeList);

    std::vector<std::u16string> names;
    cPlayerDatabase::instance()->names(filterOf(*mCountryList), filterOf(*mTypeList), names);
    mChannelList->setItems(names);
    mChannelList->show(true, false);
    restoreListState(ChannelListState, *mChannelList);
    if (mChannelList->getActive() >= 0) {
        chooseChannel();
    }

    mChannelList->setKeyboardFocus(true);
    updateGuideLine();
    mFrame.enter();
    // The search sees a key before the scene's other handlers.
    mKeys.connect(mRoot, [this](const ClutterKeyEvent& key) { return handleKey(key); });
    mHandlers.connect(mRoot, [this](const ClutterEvent* event, ClutterEventType type, ClutterActor* source) {
        return handleEvent(event, type, source);
    });
}

void cChannelsScene::hide()
{
    beginLeaving();
    // Saved now, not when the fade has ended: at shutdown the main loop has
    // already ended, the fade never ends and the settings are written next.
    saveListStates();
    mCountryList->hide();
    mTypeList->hide();
    mChannelList->hide();
    mSearchLine.fadeOut();
    mGuideLine.hide();
    mFrame.fadeOut([this] { delete this; });
}

void cChannelsScene::wordsChanged()
{
    if (!isLeaving()) {
        // The filters' first row is the word "Any"; their choices stay.
        cPlayerDatabase* database = cPlayerDatabase::instance();
        const std::pair<cListWidget*, std::vector<std::u16string>> filters[] = {
            {mCountryList.get(), database->countries()}, {mTypeList.get(), database->types()}};
        for (const auto& [list, rows] : filters) {
            const sListState state = listStateOf(*list);
            list->setItems(withAny(rows));
            list->show(false, true);
            applyListState(*list, state);
        }
        mSearchLine.relayWords();
        mGuideLine.relayWords();
    }
    cScene::wordsChanged();
}

void cChannelsScene::saveListStates()
{
    saveListState(CountryListState, *mCountryList);
    saveListState(TypeListState, *mTypeList);
    // A search never changes what is kept: the narrowed list's rows are not
    // the rows a later visit shows.
    if (mSearchLine.isOpen()) {
        writeListState(ChannelListState, mUnfilteredState);
    } else {
        saveListState(ChannelListState, *mChannelList);
    }
}

std::u16string cChannelsScene::filterOf(const cListWidget& list)
{
    if (list.getActive() == 0) {
        return AnyFilter;
    }
    // The shown word stands for the stored value.
    const std::u16string text = list.getActiveText();
    return text == interfaceText(UnknownRow) ? std::u16string(UnknownValue) : text;
}

void cChannelsScene::refillChannels()
{
    if (mSearchLine.isOpen()) {
        // The unfiltered list of the new filters would start over without
        // a selection; that is what is kept for it.
        mUnfilteredState = sListState{-1, 0, 0};
        searchCatalogue();
        return;
    }
    // The channel list starts over without a selection; the current
    // channel stays what it was.
    std::vector<std::u16string> names;
    cPlayerDatabase::instance()->names(filterOf(*mCountryList), filterOf(*mTypeList), names);
    mChannelList->setItems(names);
    mChannelList->show(false, true);
    updateGuideLine();
}

void cChannelsScene::chooseChannel()
{
    mFrame.pulseOrb();
    cPlayerDatabase* database = cPlayerDatabase::instance();
    database->setCurrentCountry(filterOf(*mCountryList));
    database->setCurrentType(filterOf(*mTypeList));
    database->setCurrentName(mChannelList->getActiveText());
    if (mSearchLine.isOpen()) {
        mChosenInSearch = mChannelList->getActiveText();
    }
    updateGuideLine();
}

void cChannelsScene::updateGuideLine()
{
    // The selected row is the catalogue's current channel once it has been
    // chosen; a row selected otherwise (a restored position) shows nothing
    // until it is.
    cPlayerDatabase* database = cPlayerDatabase::instance();
    if (mChannelList->getActive() >= 0 && mChannelList->getActiveText() == database->currentName()) {
        mGuideLine.showFor(database->currentAddress(), mChannelList->getActiveText());
    } else {
        mGuideLine.hide();
    }
}

void cChannelsScene::searchChanged(cSearchLine::eChange change)
{
    switch (change) {
    case cSearchLine::Opened:
        mUnfilteredState = listStateOf(*mChannelList);
        mChosenInSearch.clear();
        mNameSearch.setText(mSearchLine.text());
        searchCatalogue();
        break;
    case cSearchLine::Edited:
        mNameSearch.setText(mSearchLine.text());
        showSearchMatches();
        break;
    case cSearchLine::Closed: {
        mNameSearch.setIndex(nullptr);
        mNameSearch.setText(u"");
        std::vector<std::u16string> names;
        cPlayerDatabase::instance()->names(filterOf(*mCountryList), filterOf(*mTypeList), names);
        mChannelList->setItems(names);
        mChannelList->show(false, true);
        if (mChosenInSearch.empty()) {
            // Back where the user was before typing.
            applyListState(*mChannelList, mUnfilteredState);
        } else {
            // The channel chosen in the narrowed list stays chosen.
            const auto chosen = std::find(names.begin(), names.end(), mChosenInSearch);
            mChannelList->setActive(chosen == names.end() ? -1 : static_cast<int>(chosen - names.begin()));
        }
        updateGuideLine();
        break;
    }
    }
}

void cChannelsScene::searchCatalogue()
{
    mNameSearch.setCatalogueFilters(*cPlayerDatabase::instance(), filterOf(*mCountryList), filterOf(*mTypeList),
                                    mSearchLine.onMainLoop([this] {
                                        if (!isLeaving() && mSearchLine.isOpen() && !mNameSearch.isReady()) {
                                            searchCatalogue();
                                        }
                                    }));
    showSearchMatches();
}

void cChannelsScene::showSearchMatches()
{
    // Until the catalogue's index is there the list stays as it is and the
    // count waits; the index's arrival searches again.
    if (!mNameSearch.isReady()) {
        mSearchLine.setCount(-1);
        return;
    }
    // The rows go over as the list keeps them: a whole catalogue refills
    // within one frame.
    std::string texts;
    std::vector<size_t> starts;
    mNameSearch.matchingUtf8(texts, starts);
    mChannelList->setItemsUtf8(std::move(texts), std::move(starts));
    mChannelList->show(false, true);
    mSearchLine.setCount(static_cast<int>(mNameSearch.matches().size()));
    updateGuideLine();
}

// The key presses: the search line's table (SearchLine.h) while the scene
// stands; nothing once it is leaving.
//
//   key                         search   action                              consumed
//   printable character         any      opens or extends the search; the
//                                        channel list narrows                yes
//   Backspace                   open     erases a character (the last one
//                                        closes the search)                  yes
//   Escape                      open     closes the search: the whole list
//                                        as before, or with the channel
//                                        chosen meanwhile                    yes
//   other keys, or Backspace
//     and Escape without one             nothing here                        no
bool cChannelsScene::handleKey(const ClutterKeyEvent& key)
{
    if (isLeaving()) {
        return false;
    }
    return mSearchLine.handleKey(key);
}

void cChannelsScene::playChosenChannel()
{
    if (mChannelList->getActive() < 0) {
        return;
    }
    // The player steps through the names as the list shows them when the
    // channel is chosen, under the same filters: while a search is open
    // that is the narrowed list, whose rows the chosen row counts.
    const std::u16string country = filterOf(*mCountryList);
    const std::u16string type = filterOf(*mTypeList);
    std::vector<std::u16string> names;
    if (mSearchLine.isOpen() && mNameSearch.isReady()) {
        names = mNameSearch.matchingNames();
    } else {
        // Until the search has its index the list still shows these.
        cPlayerDatabase::instance()->names(country, type, names);
    }
    // The zapping starts from the chosen channel, wherever it stands.
    size_t position = static_cast<size_t>(mChannelList->getActive());
    const std::u16string chosen = mChannelList->getActiveText();
    if (position >= names.size() || names[position] != chosen) {
        const auto found = std::find(names.begin(), names.end(), chosen);
        position = found == names.end() ? 0 : static_cast<size_t>(found - names.begin());
    }
    std::vector<sZapChannel> channels;
    channels.reserve(names.size());
    for (std::u16string& name : names) {
        channels.push_back({country, type, std::move(name), -1});
    }
    setZapList(std::move(channels), position);
    requestPlayerScene();
}

cListWidget& cChannelsScene::keyboardList() const
{
    cListWidget* const lists[] = {mCountryList.get(), mChannelList.get(), mTypeList.get()};
    return *lists[mKeyboardList];
}

void cChannelsScene::moveKeyboard()
{
    keyboardList().setKeyboardFocus(false);
    mKeyboardList = (mKeyboardList + 1) % 3;
    keyboardList().setKeyboardFocus(true);
}

// The stage's handlers: what each event does by its source, and whether it
// is consumed. Events without a source never get here. Keys come from the
// stage; "first" marks a key that acts on its first press only, not on the
// repeats of a key held down.
//
//   event          source              action                              consumed
//   enter          back / favourites   depth 10                            yes
//   enter          play orb            grow to 1.1, unless animating       no
//   leave          back / favourites   depth 0                             yes
//   leave          play orb            back to 1.0, unless animating       no
//   button press   back button         home scene                          yes
//   button press   favourites button   favourites scene                    yes
//   button press   play orb            player scene, if a channel is
//                                      selected                            no
//   button press   any, once leaving   nothing                             yes
//   key press      -                   first the search's own table (see
//                                      handleKey); what it leaves, below    -
//   key Up/Down    -                   selection of the keyboard's list
//                                      one row up/down, as a click         yes
//   key Tab        -                   keyboard to the next list (countries,
//                                      channels, types, countries...)      yes
//   key Enter      - (first)           player scene, if a channel is
//                                      selected (as the orb)               yes
//   key Escape,    - (first)           home scene                          yes
//       Backspace
//   key press      any, once leaving   nothing (the scene that follows
//                                      takes it)                           no
//   any            anything else       nothing                             no
//   key release    -                   nothing                             no
bool cChannelsScene::handleEvent(const ClutterEvent* event, ClutterEventType type, ClutterActor* source)
{
    switch (type) {
    case CLUTTER_ENTER:
    case CLUTTER_LEAVE:
        return mFrame.hover(type, source);

    case CLUTTER_BUTTON_PRESS:
        if (isLeaving()) {
            return true;
        }
        if (source == mFrame.backButton()) {
            requestHomeScene();
            return true;
        }
        if (source == mFrame.favoritesButton()) {
            requestFavoritesScene();
            return true;
        }
        if (source == mFrame.playOrb()) {
            playChosenChannel();
        }
        return false;

    case CLUTTER_KEY_PRESS: {
        if (isLeaving()) {
            return false;
        }
        const sKeyPress key = readKey(event);
        switch (key.key) {
        case eKey::Up:
        case eKey::Down:
            keyboardList().moveSelection(key.key == eKey::Up ? -1 : 1);
            return true;
        case eKey::Tab:
            moveKeyboard();
            return true;
        case eKey::Enter:
            if (!key.repeated) {
                playChosenChannel();
            }
            return true;
        case eKey::Escape:
        case eKey::BackSpace:
            if (!key.repeated) {
                requestHomeScene();
            }
            return true;
        default:
            return false;
        }
    }

    default:
        return false;
    }
}
