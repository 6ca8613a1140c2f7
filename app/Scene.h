#pragma once
// Scenes and the switching between them.
//
// The user interface is a sequence of full-window scenes, at most one of
// them current. Any thread may ask for a scene; the switch itself always
// runs on the main loop in an idle callback: the current player is
// destroyed, the old scene is told to hide (it fades out and deletes
// itself), the new scene is built on the stage, made current and shown.
//
// The scene classes and the player manager live in libraries built on top
// of this one, so they reach the switching through registration: each
// scene kind gets a factory, the player scene request gets the
// play-channel procedure, and the switch gets the player destroyer. A kind
// without a factory shows a plain placeholder scene with its title.

#include <functional>
#include <string>

#include "app/Toolkit.h"

class cScene {
public:
    // root: the stage actor; the scene adds its actors to it.
    explicit cScene(ClutterActor* root);
    virtual ~cScene();
    cScene(const cScene&) = delete;
    cScene& operator=(const cScene&) = delete;

    // Called once right after construction: lays the scene out, sets the
    // stage title and starts the entry animation.
    virtual void show() = 0;
    // Called once when the scene stops being current: starts the exit
    // animation, at whose end the scene deletes itself. Every scene's hide
    // begins with beginLeaving().
    virtual void hide() = 0;
    // True from the hide operation on. A leaving scene still consumes every
    // button press its stage handlers see, so that the second press of a
    // double click does not land on whatever stands there in the next
    // scene, but acts on none of them.
    bool isLeaving() const { return mLeaving; }
    // The container the scene adds its actors to (the stage actor); widgets
    // that belong to the scene place theirs there too.
    ClutterActor* root() const { return mRoot; }
    // The skin path rule (see ::skinPath below).
    virtual const char* skinPath(const char* fileName, const char* folder);
    // A media player starts opening a stream / the stream is running.
    // Nothing here; the player scene shows its busy indication.
    virtual void busyStart();
    virtual void busyEnd();
    // A media player's stream runs with these parts (at least one of them).
    // Nothing here; the player scene shows a still card in place of the
    // picture for a stream without video.
    virtual void streamParts(bool video, bool audio);
    // The interface's language has changed while the scene stands: its
    // labels, button words and title made through app/Words.h show the new
    // words already; the scene shows anew what it composes itself (counts,
    // the guide's lines) and lays out again. Here: layOutForStage for the
    // stage's size.
    virtual void wordsChanged();

protected:
    void beginLeaving() { mLeaving = true; }
    // From now until the scene goes, layOutForStage() runs again whenever
    // the stage takes another size (a window manager carrying out full
    // screen or its end after the request has returned). Called by a
    // scene's show.
    void followStageSize();
    // Places the scene's actors for a stage of this size; positions only
    // (a carousel may glide to its new places). Nothing here.
    virtual void layOutForStage(float width, float height);

    ClutterActor* mRoot; // main loop only; the stage owns it

private:
    static void onStageAllocation(ClutterActor* stage, ClutterActorBox* box, ClutterAllocationFlags flags,
                                  gpointer self);

    bool mLeaving = false;            // main loop only
    unsigned long mSizeHandler = 0;   // main loop only; "allocation-changed" on the stage
    float mLaidOutWidth = 0.0f;       // main loop only: the size layOutForStage last saw
    float mLaidOutHeight = 0.0f;
};

// The current scene, null before the first scene and after
// closeCurrentScene(). Read and written on the main loop only; it does not
// own the scene.
extern cScene* currentScene;

// The path of a skin image: the application folder, the folder, "/" and
// the file name, in UTF-8. The result lives in one shared buffer of 4096
// bytes that the next call overwrites. Main loop only.
const char* skinPath(const char* fileName, const char* folder);

// The skin image fileName (folder "skin") as a texture. When the image
// cannot be loaded, a neutral grey texture of width x height stands in for
// it, so that the scene still shows where the image belongs. Main loop
// only.
ClutterActor* loadSkinTexture(const char* fileName, float width, float height);
// The same for a full path.
ClutterActor* loadTextureFile(const char* path, float width, float height);

// Main loop: the interface speaks the language of this file from now on:
// the table of texts is loaded anew (English where the file lacks a text
// or cannot be read), every word on the stage takes its new text
// (relayWords) and the current scene its wordsChanged.
void changeLanguage(const std::u16string& languagePath);

// Main loop: if there is a current scene, hide it and clear currentScene.
void closeCurrentScene();
// Main loop: makes the scene current and shows it.
void presentScene(cScene* scene);

// Any thread: the current scene's busyStart()/busyEnd(), carried onto the
// main loop so that they never meet a scene that is being replaced. They
// reach whatever scene is current when they run, unless `wanted` (asked on
// the main loop, just before) says they are no longer wanted: a player
// that was aborted meanwhile must not start the icon over the next
// player's video.
void notifyBusyStart(std::function<bool()> wanted = {});
void notifyBusyEnd(std::function<bool()> wanted = {});
// Any thread: the current scene's streamParts(), carried onto the main loop
// in the same way and order as the busy notifications.
void notifyStreamParts(bool video, bool audio, std::function<bool()> wanted = {});

// Any thread: schedule a switch (an idle callback of priority 30 on the
// main loop). Requests are carried out in the order in which they were
// made.
void requestHomeScene();
void requestChannelsScene();
void requestFavoritesScene();
// Runs the play-channel procedure on the main loop (the home scene when
// none is registered).
void requestPlayerScene();
// Main loop: runs it now, as the request's callback does (for a caller
// that schedules its own callback, as zapping does to keep one waiting).
void runPlayChannelProcedure();
// These two first destroy the current player on the calling thread.
void requestUpdateScene();
void requestNewDBScene();

enum eSceneKind { SceneHome, SceneChannels, SceneFavorites, SceneUpdate, SceneNewDB };
using tSceneFactory = std::function<cScene*(ClutterActor* root)>;

// Registration; any thread, as a rule once before the main loop starts.
// An empty function removes the registration.
void registerSceneFactory(eSceneKind kind, tSceneFactory factory);
// The procedure that the player scene request runs on the main loop.
void setPlayChannelProcedure(std::function<void()> procedure);
// Destroys the current player (nothing when there is none).
void setCurrentPlayerDestroyer(std::function<void()> destroyer);

// Runs the registered player destroyer, if any. Any thread.
void destroyCurrentPlayer();

// The stage title of the placeholder scene of a kind.
const char* sceneTitle(eSceneKind kind);
