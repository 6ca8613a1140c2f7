#pragma once
// Shared pieces of the widget tests: a skin folder of small generated
// images, a scene that reads its skin from there, and mouse events handed
// to the toolkit's own event path (queued on the stage, picked up by its
// frame, passed through capture and bubbling) rather than to the handlers.

#include <initializer_list>
#include <string>

#include "app/Scene.h"
#include "app/Toolkit.h"
#include "tests/support/TempFolder.h"

// A skin folder with every image the widgets load, each a solid colour of
// a known natural size (the dial's middle is transparent). Sizes and
// colours below; an empty skin has no images at all.
struct sSkinImage {
    const char* name;
    int width;
    int height;
    guint8 red, green, blue;
};
extern const sSkinImage TestSkinImages[];
const sSkinImage& testSkinImage(const char* name);

class cTestSkin {
public:
    explicit cTestSkin(bool withImages = true);
    // The folder that holds "skin/".
    const std::string& folder() const { return mFolder.path(); }

private:
    testsupport::cTempFolder mFolder{"widgets-skin"};
};

// A scene on the stage whose skin images come from a test skin.
class cTestScene : public cScene {
public:
    explicit cTestScene(const cTestSkin& skin);
    void show() override {}
    void hide() override {}
    const char* skinPath(const char* fileName, const char* folder) override;

private:
    std::string mFolder;
    std::string mPath;
};

// Moves the X pointer off the stage, so that no real crossing event meets
// the widgets under test.
void parkPointerOutsideStage();

// Synthetic events for the stage, aimed at an explicit source actor (as
// the toolkit's pick would have found it) at stage coordinates.
ClutterEvent* buttonEvent(ClutterEventType type, ClutterActor* source, float x, float y);
ClutterEvent* motionEvent(ClutterActor* source, float x, float y);
ClutterEvent* scrollEvent(ClutterActor* source, ClutterScrollDirection direction);
ClutterEvent* crossingEvent(ClutterEventType type, ClutterActor* source);

// Queues the events on the stage together (they are handled in the same
// frame, in order), frees them and runs the main loop until the stage has
// handled all of them. False on time-out.
bool deliver(std::initializer_list<ClutterEvent*> events);
// How many of the delivered events reached the stage's own handlers, that
// is, were not consumed on the way up.
int eventsReachingStage();

// The reactive actor the toolkit picks at a stage point.
ClutterActor* actorAt(float x, float y);
// The label on the stage showing text, or null.
ClutterActor* findLabel(const char* text);

// Runs the main loop until no effect is running any more.
bool waitForEffects();
