#include "app/Scene.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/Effects.h"
#include "app/MainLoop.h"
#include "app/Stage.h"
#include "app/Words.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"
#include "state/Language.h"

cScene* currentScene = nullptr;

namespace {

// Registrations: written by whoever wires the program, read by the switch
// on the main loop and by the two requests that destroy the player on the
// calling thread.
std::mutex registrationLock;
std::map<eSceneKind, tSceneFactory> sceneFactories; // guarded by registrationLock
std::function<void()> playChannelProcedure;         // guarded by registrationLock
std::function<void()> currentPlayerDestroyer;       // guarded by registrationLock

char skinPathBuffer[4096]; // main loop only

// The application folder in UTF-8, found once: the executable does not
// move while it runs.
const std::string& applicationFolder()
{
    static const std::string folder = kestrel::toUtf8(kestrel::cSystem::getApplicationPath());
    return folder;
}

// A scene of this library's own for a kind that has no factory: a black
// stage with the scene's title in the middle.
class cPlaceholderScene : public cScene {
public:
    cPlaceholderScene(ClutterActor* root, eSceneKind kind) : cScene(root), mKind(kind)
    {
        const ClutterColor white = {255, 255, 255, 255};
        mLabel = clutter_text_new_full("Monospace 24px", sceneTitle(kind), &white);
        clutter_actor_set_opacity(mLabel, 0);
        clutter_actor_add_child(mRoot, mLabel);
    }

    ~cPlaceholderScene() override
    {
        stopEffects(mLabel);
        clutter_actor_destroy(mLabel);
    }

    void show() override
    {
        clutter_stage_set_title(stage(), sceneTitle(mKind));
        const float width = clutter_actor_get_width(mRoot);
        const float height = clutter_actor_get_height(mRoot);
        clutter_actor_set_position(mLabel, (width - clutter_actor_get_width(mLabel)) / 2.0f,
                                   (height - clutter_actor_get_height(mLabel)) / 2.0f);
        effectFade(cEffectTemplate(300, AlphaRampInc), mLabel, 255);
    }

    void hide() override
    {
        beginLeaving();
        effectFade(cEffectTemplate(300, AlphaRampInc), mLabel, 0, [this] { delete this; });
    }

private:
    eSceneKind mKind;      // main loop only
    ClutterActor* mLabel;  // main loop only; owned by the stage until the destructor
};

cScene* buildScene(eSceneKind kind)
{
    tSceneFactory factory;
    {
        std::lock_guard<std::mutex> guard(registrationLock);
        auto position = sceneFactories.find(kind);
        if (position != sceneFactories.end()) {
            factory = position->second;
        }
    }
    if (factory) {
        return factory(stageActor());
    }
    return new cPlaceholderScene(stageActor(), kind);
}

// The switch: runs once on the main loop.
void switchScene(eSceneKind kind)
{
    runGuarded([kind] {
        destroyCurrentPlayer();
        closeCurrentScene();
        presentScene(buildScene(kind));
    });
}

void scheduleSwitch(eSceneKind kind)
{
    postToMainLoop(PrioritySceneSwitch, [kind] { switchScene(kind); });
}

void playChannel()
{
    std::function<void()> procedure;
    {
        std::lock_guard<std::mutex> guard(registrationLock);
        procedure = playChannelProcedure;
    }
    if (procedure) {
        runGuarded(procedure);
    } else {
        switchScene(SceneHome);
    }
}

// Busy notifications reach whatever scene is current when they run, if
// they are still wanted then.
void deliverBusy(bool start, const std::function<bool()>& wanted)
{
    if (wanted && !wanted()) {
        return;
    }
    if (currentScene != nullptr) {
        runGuarded([start] { start ? currentScene->busyStart() : currentScene->busyEnd(); });
    }
}

// A grey texture with a lighter frame, so that a missing image still shows
// its place and size on any background.
ClutterActor* standInTexture(float width, float height)
{
    // Sizes come from the caller's layout; a nonsensical one still gets a
    // small visible square instead of a huge or empty allocation.
    const int pixelWidth = (width >= 1.0f && width <= 4096.0f) ? static_cast<int>(width) : 32;
    const int pixelHeight = (height >= 1.0f && height <= 4096.0f) ? static_cast<int>(height) : 32;
    std::vector<guchar> pixels(static_cast<size_t>(pixelWidth) * pixelHeight * 3, 0x80);
    for (int y = 0; y < pixelHeight; ++y) {
        for (int x = 0; x < pixelWidth; ++x) {
            if (x == 0 || y == 0 || x == pixelWidth - 1 || y == pixelHeight - 1) {
                guchar* pixel = &pixels[(static_cast<size_t>(y) * pixelWidth + x) * 3];
                pixel[0] = pixel[1] = pixel[2] = 0xC0;
            }
        }
    }
    ClutterActor* texture = clutter_texture_new();
    clutter_texture_set_from_rgb_data(CLUTTER_TEXTURE(texture), pixels.data(), FALSE, pixelWidth, pixelHeight,
                                      pixelWidth * 3, 3, CLUTTER_TEXTURE_NONE, nullptr);
    clutter_actor_set_size(texture, width >= 1.0f ? width : pixelWidth, height >= 1.0f ? height : pixelHeight);
    return texture;
}

} // namespace

// --- cScene ------------------------------------------------------------------

cScene::cScene(ClutterActor* root) : mRoot(root) {}

cScene::~cScene()
{
    if (mSizeHandler != 0) {
        g_signal_handler_disconnect(mRoot, mSizeHandler);
    }
}

void cScene::followStageSize()
{
    mLaidOutWidth = clutter_actor_get_width(mRoot);
    mLaidOutHeight = clutter_actor_get_height(mRoot);
    if (mSizeHandler == 0) {
        mSizeHandler = g_signal_connect(mRoot, "allocation-changed", G_CALLBACK(onStageAllocation), this);
    }
}

void cScene::layOutForStage(float, float) {}

void cScene::onStageAllocation(ClutterActor*, ClutterActorBox* box, ClutterAllocationFlags, gpointer self)
{
    auto* scene = static_cast<cScene*>(self);
    const float width = clutter_actor_box_get_width(box);
    const float height = clutter_actor_box_get_height(box);
    // The stage is allocated on every relayout; only a new size matters,
    // and a leaving scene is no longer laid out.
    if (scene->mLeaving || (width == scene->mLaidOutWidth && height == scene->mLaidOutHeight)) {
        return;
    }
    scene->mLaidOutWidth = width;
    scene->mLaidOutHeight = height;
    scene->layOutForStage(width, height);
}

const char* cScene::skinPath(const char* fileName, const char* folder)
{
    return ::skinPath(fileName, folder);
}

void cScene::busyStart() {}

void cScene::busyEnd() {}

void cScene::streamParts(bool, bool) {}

void cScene::wordsChanged()
{
    layOutForStage(clutter_actor_get_width(mRoot), clutter_actor_get_height(mRoot));
}

void changeLanguage(const std::u16string& languagePath)
{
    clearLanguage();
    // A file that cannot be read leaves the English words.
    loadLanguage(languagePath);
    relayWords(stageActor());
    if (currentScene != nullptr) {
        cScene* scene = currentScene;
        runGuarded([scene] { scene->wordsChanged(); });
    }
}

// --- free functions -------------------------------------------------------

const char* skinPath(const char* fileName, const char* folder)
{
    skinPathBuffer[0] = '\0';
    std::snprintf(skinPathBuffer, sizeof(skinPathBuffer), "%s%s/%s", applicationFolder().c_str(),
                  folder != nullptr ? folder : "", fileName != nullptr ? fileName : "");
    return skinPathBuffer;
}

ClutterActor* loadTextureFile(const char* path, float width, float height)
{
    GError* error = nullptr;
    ClutterActor* texture = path != nullptr ? clutter_texture_new_from_file(path, &error) : nullptr;
    if (texture != nullptr) {
        return texture;
    }
    // A broken installation should not leave holes in the interface: say
    // once which image is missing and show its stand-in.
    static std::set<std::string> reported; // main loop only
    if (reported.insert(path != nullptr ? path : "").second) {
        std::fprintf(stderr, "lumivex: cannot load image %s: %s\n", path != nullptr ? path : "(none)",
                     error != nullptr ? error->message : "unknown error");
    }
    if (error != nullptr) {
        g_error_free(error);
    }
    return standInTexture(width, height);
}

ClutterActor* loadSkinTexture(const char* fileName, float width, float height)
{
    const std::string path = skinPath(fileName, "skin");
    return loadTextureFile(path.c_str(), width, height);
}

void closeCurrentScene()
{
    cScene* scene = currentScene;
    currentScene = nullptr;
    if (scene != nullptr) {
        scene->hide();
    }
}

void presentScene(cScene* scene)
{
    currentScene = scene;
    if (scene != nullptr) {
        scene->show();
    }
}

void notifyBusyStart(std::function<bool()> wanted)
{
    postToMainLoop(PrioritySceneSwitch, [wanted = std::move(wanted)] { deliverBusy(true, wanted); });
}

void notifyBusyEnd(std::function<bool()> wanted)
{
    postToMainLoop(PrioritySceneSwitch, [wanted = std::move(wanted)] { deliverBusy(false, wanted); });
}

void notifyStreamParts(bool video, bool audio, std::function<bool()> wanted)
{
    postToMainLoop(PrioritySceneSwitch, [video, audio, wanted = std::move(wanted)] {
        if (wanted && !wanted()) {
            return;
        }
        if (currentScene != nullptr) {
            runGuarded([video, audio] { currentScene->streamParts(video, audio); });
        }
    });
}

void requestHomeScene()
{
    scheduleSwitch(SceneHome);
}

void requestChannelsScene()
{
    scheduleSwitch(SceneChannels);
}

void requestFavoritesScene()
{
    scheduleSwitch(SceneFavorites);
}

void requestPlayerScene()
{
    postToMainLoop(PrioritySceneSwitch, playChannel);
}

void runPlayChannelProcedure()
{
    playChannel();
}

void requestUpdateScene()
{
    destroyCurrentPlayer();
    scheduleSwitch(SceneUpdate);
}

void requestNewDBScene()
{
    destroyCurrentPlayer();
    scheduleSwitch(SceneNewDB);
}

void registerSceneFactory(eSceneKind kind, tSceneFactory factory)
{
    std::lock_guard<std::mutex> guard(registrationLock);
    if (factory) {
        sceneFactories[kind] = std::move(factory);
    } else {
        sceneFactories.erase(kind);
    }
}

void setPlayChannelProcedure(std::function<void()> procedure)
{
    std::lock_guard<std::mutex> guard(registrationLock);
    playChannelProcedure = std::move(procedure);
}

void setCurrentPlayerDestroyer(std::function<void()> destroyer)
{
    std::lock_guard<std::mutex> guard(registrationLock);
    currentPlayerDestroyer = std::move(destroyer);
}

void destroyCurrentPlayer()
{
    std::function<void()> destroyer;
    {
        std::lock_guard<std::mutex> guard(registrationLock);
        destroyer = currentPlayerDestroyer;
    }
    if (destroyer) {
        destroyer();
    }
}

const char* sceneTitle(eSceneKind kind)
{
    switch (kind) {
    case SceneHome:
        return "Recent channels...";
    case SceneChannels:
        return "Select channel...";
    case SceneFavorites:
        return "Favorite channels";
    case SceneUpdate:
    case SceneNewDB:
        return "Updating";
    }
    return "";
}
