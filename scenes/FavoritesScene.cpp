#include "scenes/FavoritesScene.h"

#include "app/Stage.h"
#include "app/Words.h"
#include "catalogue/PlayerDatabase.h"

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
    mList->show(true, true);
    mFrame.enter();
    mHandlers.connect(mRoot, [this](ClutterEventType type, ClutterActor* source) { return handleEvent(type, source); });
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

// The stage's handlers: what each event does by its source, and whether it
// is consumed. Events without a source never get here. The hidden
// favourites button is never picked, so it sees no events.
//
//   event          source              action                              consumed
//   enter          back button         depth 10                            yes
//   enter          play orb            grow to 1.1, unless animating       no
//   leave          back button         depth 0                             yes
//   leave          play orb            back to 1.0, unless animating       no
//   button press   back button         home scene                          yes
//   button press   play orb            player scene, if a row is selected  no
//   button press   any, once leaving   nothing                             yes
//   any            anything else       nothing                             no
//   key release    -                   nothing (the mouse only)            no
bool cFavoritesScene::handleEvent(ClutterEventType type, ClutterActor* source)
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
        if (source == mFrame.playOrb() && mList->getActive() >= 0) {
            requestPlayerScene();
        }
        return false;

    default:
        return false;
    }
}
