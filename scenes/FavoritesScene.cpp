#include "scenes/FavoritesScene.h"

#include "app/Keys.h"
#include "app/Stage.h"
#include "app/Words.h"
#include "catalogue/PlayerDatabase.h"
#include "playback/Zapping.h"

cFavoritesScene::cFavoritesScene(ClutterActor* root)
    : cScene(root)
    , mFrame(root, false)
    , mSearchLine(root, ChannelListPlace.x, ChannelListPlace.y, ChannelListPlace.width)
    , mGuideLine(mFrame.sceneGroup(), ChannelListPlace.x, ChannelListPlace.y + ChannelListPlace.height,
                 ChannelListPlace.width)
{
    setWordLabel(mFrame.caption(), u"favourites_caption");
    mList = std::make_unique<cListWidget>(this, ChannelListPlace.x, ChannelListPlace.y, ChannelListPlace.width,
                                          ChannelListPlace.height);
    mList->setItems(cPlayerDatabase::instance()->favouriteNames());
    mList->setClickSlot([this] { chooseFavourite(); });
    mSearchLine.setChangedSlot([this](cSearchLine::eChange change) { searchChanged(change); });
}

cFavoritesScene::~cFavoritesScene()
{
    mKeys.disconnect();
    mHandlers.disconnect();
    mList.reset();
    // The frame goes with the members.
}

void cFavoritesScene::layOutForStage(float width, float height)
{
    mFrame.place(width, height);
}

void cFavoritesScene::show()
{
    mFrame.layOut(u"favourites_title");
    followStageSize();
    // The scene is the favourites: its own button would lead nowhere.
    clutter_actor_hide(mFrame.favoritesButton());
    mList->setKeyboardFocus(true);
    mList->show(true, true);
    mFrame.enter();
    // The search sees a key before the scene's other handlers.
    mKeys.connect(mRoot, [this](const ClutterKeyEvent& key) { return handleKey(key); });
    mHandlers.connect(mRoot, [this](const ClutterEvent* event, ClutterEventType type, ClutterActor* source) {
        return handleEvent(event, type, source);
    });
}

void cFavoritesScene::hide()
{
    beginLeaving();
    mList->hide();
    mSearchLine.fadeOut();
    mGuideLine.hide();
    mFrame.fadeOut([this] { delete this; });
}

void cFavoritesScene::wordsChanged()
{
    if (!isLeaving()) {
        mSearchLine.relayWords();
        mGuideLine.relayWords();
    }
    cScene::wordsChanged();
}

void cFavoritesScene::chooseFavourite()
{
    mFrame.pulseOrb();
    const int favourite = favouriteOfRow(mList->getActive());
    cPlayerDatabase::instance()->selectFavourite(favourite);
    if (mSearchLine.isOpen()) {
        mChosenInSearch = favourite;
    }
    updateGuideLine();
}

void cFavoritesScene::updateGuideLine()
{
    // The selected row is the current channel once it has been chosen.
    cPlayerDatabase* database = cPlayerDatabase::instance();
    if (mList->getActive() >= 0 && database->mode() == cPlayerDatabase::ModeFavourite &&
        mList->getActiveText() == database->currentName()) {
        mGuideLine.showFor(database->currentAddress(), database->currentName());
    } else {
        mGuideLine.hide();
    }
}

int cFavoritesScene::favouriteOfRow(int row) const
{
    if (!mSearchLine.isOpen() || row < 0) {
        return row;
    }
    // The search indexes the favourites in their order: its rows are their
    // indexes.
    const std::vector<uint32_t>& matches = mNameSearch.matches();
    return static_cast<size_t>(row) < matches.size() ? static_cast<int>(matches[row]) : -1;
}

void cFavoritesScene::searchChanged(cSearchLine::eChange change)
{
    const std::vector<std::u16string>& favourites = cPlayerDatabase::instance()->favouriteNames();
    if (change == cSearchLine::Closed) {
        mNameSearch.setIndex(nullptr);
        mNameSearch.setText(u"");
        mList->setItems(favourites);
        mList->show(false, true);
        // The favourite chosen in the narrowed list stays chosen.
        mList->setActive(mChosenInSearch);
        updateGuideLine();
        return;
    }
    if (change == cSearchLine::Opened) {
        // The list is still the whole one: its row is the favourite.
        mChosenInSearch = mList->getActive();
        mNameSearch.setText(mSearchLine.text());
        mNameSearch.setNames(favourites);
    } else {
        mNameSearch.setText(mSearchLine.text());
    }
    mList->setItems(mNameSearch.matchingNames());
    mList->show(false, true);
    mSearchLine.setCount(static_cast<int>(mNameSearch.matches().size()));
    updateGuideLine();
}

// The key presses: the search line's table (SearchLine.h) while the scene
// stands; nothing once it is leaving.
//
//   key                         search   action                              consumed
//   printable character         any      opens or extends the search; the
//                                        list narrows                        yes
//   Backspace                   open     erases a character (the last one
//                                        closes the search)                  yes
//   Escape                      open     closes the search: every
//                                        favourite, with the one chosen
//                                        meanwhile still chosen              yes
//   other keys, or Backspace
//     and Escape without one             nothing here                        no
bool cFavoritesScene::handleKey(const ClutterKeyEvent& key)
{
    if (isLeaving()) {
        return false;
    }
    return mSearchLine.handleKey(key);
}

void cFavoritesScene::playChosenFavourite()
{
    if (mList->getActive() < 0) {
        return;
    }
    // The player steps through the favourites as the list shows them, in
    // their stored order: while a search is open, only those it found.
    std::vector<sZapChannel> channels;
    const std::vector<std::u16string> names = cPlayerDatabase::instance()->favouriteNames();
    for (int row = 0; row < mList->getCount(); ++row) {
        const int favourite = favouriteOfRow(row);
        if (favourite >= 0 && static_cast<size_t>(favourite) < names.size()) {
            channels.push_back({u"", u"", names[favourite], favourite});
        }
    }
    setZapList(std::move(channels), static_cast<size_t>(mList->getActive()));
    requestPlayerScene();
}

// The stage's handlers: what each event does by its source, and whether it
// is consumed. Events without a source never get here. The hidden
// favourites button is never picked, so it sees no events. Keys come from
// the stage; "first" marks a key that acts on its first press only.
//
//   event          source              action                              consumed
//   enter          back button         depth 10                            yes
//   enter          play orb            grow to 1.1, unless animating       no
//   leave          back button         depth 0                             yes
//   leave          play orb            back to 1.0, unless animating       no
//   button press   back button         home scene                          yes
//   button press   play orb            player scene, if a row is selected  no
//   button press   any, once leaving   nothing                             yes
//   key press      -                   first the search's own table (see
//                                      handleKey); what it leaves, below    -
//   key Up/Down    -                   selection one row up/down, as a
//                                      click                               yes
//   key Tab        -                   nothing (the one list keeps it)     yes
//   key Enter      - (first)           player scene, if a row is selected  yes
//   key Escape,    - (first)           home scene                          yes
//       Backspace
//   key press      any, once leaving   nothing (the scene that follows
//                                      takes it)                           no
//   any            anything else       nothing                             no
//   key release    -                   nothing                             no
bool cFavoritesScene::handleEvent(const ClutterEvent* event, ClutterEventType type, ClutterActor* source)
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
        if (source == mFrame.playOrb()) {
            playChosenFavourite();
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
            mList->moveSelection(key.key == eKey::Up ? -1 : 1);
            return true;
        case eKey::Tab:
            return true;
        case eKey::Enter:
            if (!key.repeated) {
                playChosenFavourite();
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
