#include "scenes/Scenes.h"

#include "app/Scene.h"
#include "playback/Playback.h"
#include "scenes/IdleScene.h"
#include "scenes/PlayerScene.h"
#include "scenes/UpdateScenes.h"

void installScenes()
{
    registerSceneFactory(SceneHome, [](ClutterActor* root) { return new cIdleScene(root); });
    registerSceneFactory(SceneUpdate, [](ClutterActor* root) { return new cUpdateScene(root); });
    registerSceneFactory(SceneNewDB, [](ClutterActor* root) { return new cNewDBScene(root); });
    setPlayerSceneFactory([](ClutterActor* root) { return new cPlayerScene(root); });
}
