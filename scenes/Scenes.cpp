#include "scenes/Scenes.h"

#include "app/Scene.h"
#include "playback/Playback.h"
#include "playback/Zapping.h"
#include "scenes/ChannelsScene.h"
#include "scenes/FavoritesScene.h"
#include "scenes/IdleScene.h"
#include "scenes/PlayerScene.h"
#include "scenes/UpdateScenes.h"

void installScenes()
{
    registerSceneFactory(SceneHome, [](ClutterActor* root) { return new cIdleScene(root); });
    registerSceneFactory(SceneUpdate, [](ClutterActor* root) { return new cUpdateScene(root); });
    registerSceneFactory(SceneNewDB, [](ClutterActor* root) { return new cNewDBScene(root); });
    registerSceneFactory(SceneChannels, [](ClutterActor* root) { return new cChannelsScene(root); });
    registerSceneFactory(SceneFavorites, [](ClutterActor* root) { return new cFavoritesScene(root); });
    setPlayerSceneFactory([](ClutterActor* root) { return new cPlayerScene(root); });
    // A channel that fails while zapping is shown by the player scene.
    setZapFailureShower([](const sChannelFailure& failure) {
        if (auto* scene = dynamic_cast<cPlayerScene*>(currentScene)) {
            scene->showZapFailure(failure);
        }
    });
}
