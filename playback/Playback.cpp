#include "playback/Playback.h"

#include "playback/PlayerManager.h"

#include "app/Stage.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"
#include "state/Recent.h"

#include <malloc.h>
#include <mutex>
#include <string>

namespace {

std::mutex gFactoryLock;
tPlayerSceneFactory gPlayerSceneFactory; // guarded by gFactoryLock

// Shows the video texture centred on the stage, turned upright (frames
// arrive bottom row first), until the real player scene is registered.
class cVideoScene : public cScene {
public:
    explicit cVideoScene(ClutterActor* root) : cScene(root)
    {
        mTexture = clutter_texture_new();
        clutter_actor_set_size(mTexture, 256, 256);
        clutter_actor_add_child(mRoot, mTexture);
        mSizeHandler = g_signal_connect(mTexture, "size-change", G_CALLBACK(&cVideoScene::onSizeChange), this);
    }

    ~cVideoScene() override
    {
        g_signal_handler_disconnect(mTexture, mSizeHandler);
        clutter_actor_destroy(mTexture);
    }

    void show() override
    {
        std::string title = "Lumivex";
        try {
            title = kestrel::toUtf8(cPlayerDatabase::instance()->currentName());
        } catch (...) {
            // The window title is only a courtesy.
        }
        if (ClutterActor* stage = clutter_actor_get_stage(mRoot)) {
            clutter_stage_set_title(CLUTTER_STAGE(stage), title.c_str());
        }
        if (cVideoPlayer* player = cPlayerManager::instance()->currentPlayer()) {
            player->setTexture(CLUTTER_TEXTURE(mTexture));
        }
        layOut(256, 256);
    }

    void hide() override { delete this; }

private:
    static void onSizeChange(ClutterTexture*, gint width, gint height, gpointer self)
    {
        static_cast<cVideoScene*>(self)->layOut(width, height);
    }

    void layOut(int width, int height)
    {
        const float stageWidth = clutter_actor_get_width(mRoot);
        const float stageHeight = clutter_actor_get_height(mRoot);
        clutter_actor_set_size(mTexture, static_cast<float>(width), static_cast<float>(height));
        clutter_actor_set_anchor_point(mTexture, width / 2.0f, height / 2.0f);
        clutter_actor_set_position(mTexture, stageWidth / 2, stageHeight / 2);
        // About the anchor point, which is the middle of the texture.
        clutter_actor_set_rotation(mTexture, CLUTTER_X_AXIS, 180.0, 0, 0, 0);
    }

    ClutterActor* mTexture = nullptr; // main loop only
    gulong mSizeHandler = 0;          // main loop only
};

cScene* makePlayerScene()
{
    tPlayerSceneFactory factory;
    {
        std::lock_guard<std::mutex> lock(gFactoryLock);
        factory = gPlayerSceneFactory;
    }
    if (factory) {
        return factory(stageActor());
    }
    return new cVideoScene(stageActor());
}

} // namespace

void setPlayerSceneFactory(tPlayerSceneFactory factory)
{
    std::lock_guard<std::mutex> lock(gFactoryLock);
    gPlayerSceneFactory = std::move(factory);
}

void limitMemoryArenas()
{
    mallopt(M_ARENA_MAX, 2);
}

void installPlayback()
{
    setPlayChannelProcedure(playChannelProcedure);
    setCurrentPlayerDestroyer([] { cPlayerManager::instance()->destroyCurrentPlayer(); });
}

void playChannelProcedure()
{
    cPlayerManager* manager = cPlayerManager::instance();
    manager->destroyCurrentPlayer();
    closeCurrentScene();

    cPlayerDatabase* database = cPlayerDatabase::instance();
    const std::u16string address = database->currentAddress();
    const std::u16string name = database->currentName();
    const std::u16string type = database->currentType();
    const std::u16string country = database->currentCountry();
    const std::u16string description = database->currentDescription();

    // Before the playlist, so that a channel whose playlist cannot be
    // fetched still appears among the recent channels.
    cRecent::instance()->add(country, name, type);

    cPlayList* playList = nullptr;
    try {
        playList = new cPlayList(address, name, description);
    } catch (...) {
        requestHomeScene();
        return;
    }
    if (!manager->createPlayer(playList)) {
        delete playList;
        requestHomeScene();
        return;
    }
    presentScene(makePlayerScene());
    // The result only says whether the work started; the play task asks
    // for the home scene when the stream does not play.
    manager->currentPlayer()->open();
}

void shutdownPlayback()
{
    cPlayerManager* manager = cPlayerManager::instance();
    manager->destroyCurrentPlayer();
    manager->waitForDestroyers();
    cPlayerManager::destroyInstance();
}
