#pragma once
// The channel browser: countries on the left, channel names in the middle,
// types on the right, each a list widget. The country and type lists are
// filters headed by "Any"; the middle list shows the names that match both.
// Choosing a name makes it the catalogue's current channel; the play orb
// then asks for the player scene. The three lists' selection and scroll
// position are kept in the settings across visits.
//
// Typing opens a search line over the channel list (SearchLine.h): the list
// then holds only the names of the chosen country and type that contain
// the typed text; changing the country or the type keeps the text. The
// saved state of the channel list is always the unfiltered list's.
//
// The favourites scene (FavoritesScene.h) is built on the same frame of
// caption, buttons and play orb, cPickerFrame.
//
// Keys: Up and Down move the selection in the list that has the keyboard
// (the channel names at first), Tab hands the keyboard to the next list,
// Enter plays as the orb does, Escape and Backspace go back.
//
// Everything here runs on the main loop.

#include <memory>
#include <string>

#include "app/Effects.h"
#include "app/Scene.h"
#include "catalogue/NameSearch.h"
#include "scenes/GuideLines.h"
#include "scenes/SearchLine.h"
#include "widgets/ListWidget.h"

// --- the frame both pickers share ---------------------------------------

// Where the pickers' lists stand on the 800 x 600 stage (x, y, width,
// height), and the names their saved states go under.
struct sListPlace {
    int x, y, width, height;
};
constexpr sListPlace CountryListPlace = {10, 160, 160, 300};
constexpr sListPlace ChannelListPlace = {180, 160, 440, 250};
constexpr sListPlace TypeListPlace = {630, 160, 160, 300};
extern const char16_t* const CountryListState; // "countryList"
extern const char16_t* const ChannelListState; // "channelsList"
extern const char16_t* const TypeListState;    // "typeList"

// The buttons stand at y 500, the back button 30 from the left edge, the
// favourites button 30 from the right; the play orb's centre at
// (stage width / 2, 480).
constexpr float PickerButtonY = 500.0f;
constexpr float PickerButtonMargin = 30.0f;
constexpr float PlayOrbCentreY = 480.0f;

// The background, logo, caption "Select channel to play", back button,
// favourites button and play orb of a picker scene, with the scene's fade
// template and the orb's pulse. Bottom to top on the root: background,
// scene group (caption, back button, favourites button, orb), logo; the
// scene's lists come above them, as they are made after the frame.
//
// Ownership: the frame makes these actors and destroys them in its
// destructor; the root container (the stage) outlives it. Main loop only.
class cPickerFrame {
public:
    // Builds the actors from the skin folder; lowQualityOrb: when the
    // graphics driver lacks non-power-of-two textures, the orb's texture
    // filter is set low.
    cPickerFrame(ClutterActor* root, bool lowQualityOrb);
    // Stops every effect on the frame's actors (their callbacks reach the
    // frame), then destroys them.
    ~cPickerFrame();
    cPickerFrame(const cPickerFrame&) = delete;
    cPickerFrame& operator=(const cPickerFrame&) = delete;

    // The first steps of a picker's show: the stage title (the name of an
    // interface text), the scene group
    // at depth 100 and transparent, the background at scale 1.5 about its
    // centre, then caption, logo, buttons and orb where they stand.
    void layOut(const char16_t* title);
    // Caption, logo, buttons and orb where they stand on a stage of this
    // size (layOut's last step, and again when the stage is resized).
    void place(float width, float height);
    // The entry animation: scene group to opacity 255 and depth 0, the
    // background back to scale 1.0, with the scene template.
    void enter();
    // The exit fade of the scene group; done runs at its end.
    void fadeOut(tEffectDone done);

    // The orb grows to 1.1 and shrinks back, unless it is animating already.
    void pulseOrb();
    // The pointer entering or leaving the frame's actors: a button moves to
    // depth 10 (enter) or 0 (leave); the orb grows towards 1.1 (enter) or
    // back to 1.0 (leave), unless it is animating already. True when the
    // event is the frame's alone (a button); the orb's goes on to the
    // scene's other handlers.
    bool hover(ClutterEventType type, ClutterActor* source);

    ClutterActor* sceneGroup() const { return mSceneGroup; }
    ClutterActor* caption() const { return mCaption; }
    ClutterActor* background() const { return mBackground; }
    ClutterActor* logo() const { return mLogo; }
    ClutterActor* backButton() const { return mBackButton; }
    ClutterActor* favoritesButton() const { return mFavoritesButton; }
    ClutterActor* playOrb() const { return mPlayOrb; }
    // While the orb timeline plays, the orb counts as animating.
    bool isOrbAnimating() const { return mOrbTimeline.isPlaying(); }
    // How many scale animations the orb has started (for checks).
    int orbScalings() const { return mOrbScalings; }

private:
    void scaleOrb(double scale, tEffectDone done = {});

    // All fields: main loop only.
    ClutterActor* mRoot; // the stage, not owned
    ClutterActor* mSceneGroup;
    ClutterActor* mCaption;
    ClutterActor* mBackground;
    ClutterActor* mLogo;
    ClutterActor* mBackButton;
    ClutterActor* mFavoritesButton;
    ClutterActor* mPlayOrb;
    cEffectTemplate mSceneTemplate;
    cTimeline mOrbTimeline;
    cEffectTemplate mOrbTemplate;
    int mOrbScalings = 0;
};

// The pointer events a picker scene takes from the stage, each read from
// the event's source. Connected by connect (in show), disconnected by
// disconnect (first thing in the destructor).
class cStageHandlers {
public:
    cStageHandlers() = default;
    ~cStageHandlers() { disconnect(); }
    cStageHandlers(const cStageHandlers&) = delete;
    cStageHandlers& operator=(const cStageHandlers&) = delete;

    // "enter-event", "leave-event", "button-press-event",
    // "key-press-event" and "key-release-event" on the root; handle gets
    // the event, its type and its source (never null; the stage for keys)
    // and says whether the event is consumed.
    using tHandle = std::function<bool(const ClutterEvent* event, ClutterEventType type, ClutterActor* source)>;
    void connect(ClutterActor* root, tHandle handle);
    void disconnect();

private:
    static gboolean onEvent(ClutterActor* root, ClutterEvent* event, gpointer self);

    ClutterActor* mRoot = nullptr; // main loop only
    gulong mIds[5] = {};
    tHandle mHandle;
};

// --- the channel browser ------------------------------------------------

class cChannelsScene : public cScene {
public:
    explicit cChannelsScene(ClutterActor* root);
    // Takes the lists and the frame down; a scene that never hid saves the
    // three lists' states first.
    ~cChannelsScene() override;

    void show() override;
    // Saves the three lists' states in the settings (so that they are kept
    // also when the program ends during the exit fade), then fades out.
    void hide() override;
    // The filters' "Any" rows, the search line and the guide line in the
    // new language, then the frame laid out again.
    void wordsChanged() override;

protected:
    void layOutForStage(float width, float height) override;

public:
    // For checks.
    cListWidget& countryList() const { return *mCountryList; }
    cListWidget& channelList() const { return *mChannelList; }
    cListWidget& typeList() const { return *mTypeList; }
    const cPickerFrame& frame() const { return mFrame; }
    const cSearchLine& searchLine() const { return mSearchLine; }
    // Under the channel list: what the programme guide says the selected
    // channel airs now and its minutes left; hidden without either.
    ClutterActor* guideLine() const { return mGuideLine.actor(); }

private:
    // The list's active text, "*" for its "Any" row, empty without a
    // selection.
    static std::u16string filterOf(const cListWidget& list);
    // "countryList", "typeList" and "channelsList", in this order.
    void saveListStates();
    void refillChannels();
    void chooseChannel();
    // Plays the chosen channel, if there is one (the play orb, Enter).
    void playChosenChannel();
    // The list that has the keyboard; Tab hands it to the next one.
    cListWidget& keyboardList() const;
    void moveKeyboard();
    bool handleEvent(const ClutterEvent* event, ClutterEventType type, ClutterActor* source);
    bool handleKey(const ClutterKeyEvent& key);
    // The search line's text changed: the channel list follows it.
    void searchChanged(cSearchLine::eChange change);
    // Searches the names of the current filters, or waits for the
    // catalogue's index when they are "Any" and "Any".
    void searchCatalogue();
    // The channel list shows the search's matches and the line their count.
    void showSearchMatches();
    // The guide line for the selected channel (hidden without one).
    void updateGuideLine();

    // All fields: main loop only. The lists are deleted before the frame,
    // whose actors lie below theirs.
    cPickerFrame mFrame;
    cSearchLine mSearchLine;
    std::unique_ptr<cListWidget> mCountryList;
    std::unique_ptr<cListWidget> mChannelList;
    std::unique_ptr<cListWidget> mTypeList;
    int mKeyboardList = 1; // 0 countries, 1 channel names, 2 types
    cNameSearch mNameSearch;
    // While a search is open: the state of the unfiltered channel list
    // (what is saved), and the name chosen in the narrowed list, if any.
    sListState mUnfilteredState;
    std::u16string mChosenInSearch;
    cKeyPressHandler mKeys;
    cStageHandlers mHandlers;
    cGuideLine mGuideLine; // in the frame's scene group
};
