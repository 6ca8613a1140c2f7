#include "scenes/FavoritesScene.h"

#include "app/Keys.h"
#include "app/Stage.h"
#include "app/Words.h"
#include "catalogue/PlayerDatabase.h"
#include "playback/Zapping.h"

cFavoritesScene::cFavoritesScene(ClutterActor* root)
    : cScene(root)
    , mFrame(root, false)
{
    clutter_text_set_text(CLUTTER_TEXT(mFrame.caption()), shownText(u"favourites_caption").c_str());
    mList = std::make_unique<cListWidget>(this, ChannelListPlace.x, ChannelListPlace.y, ChannelListPlace.width,
                                          ChannelListPlace.height);
    mList->setItems(cPlayerDatabase::instance()->favouriteNames());
    mList->setClickSlot([this] { chooseFavourite(); });
}

cFavoritesScene::~cFavoritesScene()
{
    mHandlers.disconnect();
    mList.reset();
    // The frame goes with the members.
}

void cFavoritesScene::show()
{
    mFrame.layOut(shownText(u"favourites_title").c_str());
    // The scene is the favourites: its own button would lead nowhere.
    clutter_actor_hide(mFrame.favoritesButton());
    mList->setKeyboardFocus(true);
    mList->show(true, true);
    mFrame.enter();
    mHandlers.connect(mRoot, [this](const ClutterEvent* event, ClutterEventType type, ClutterActor* source) {
        return handleEvent(event, type, source);
    });
}

void cFavoritesScene::hide()
{
    beginLeaving();
    mList->hide();
    mFrame.fadeOut([this] { delete this; });
}

void cFavoritesScene::chooseFavourite()
{
    mFrame.pulseOrb();
    cPlayerDatabase::instance()->selectFavourite(mList->getActive());
}

void cFavoritesScene::playChosenFavourite()
{
    if (mList->getActive() < 0) {
        return;
    }
    // The player steps through the favourites in their stored order.
    std::vector<sZapChannel> channels;
    const std::vector<std::u16string> names = cPlayerDatabase::instance()->favouriteNames();
    for (size_t index = 0; index < names.size(); ++index) {
        channels.push_back({u"", u"", names[index], static_cast<int>(index)});
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
