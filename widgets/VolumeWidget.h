#pragma once
// cVolumeWidget: a rotary knob with a value from 0 to 100 in steps of 5
// (the player scene's playback volume). The knob "volume-button.png" turns
// to value x 3 degrees (0 to 300) about its centre under the dial
// "volume-bg.png", both w x h and mirrored below; events as cValueWidget
// says. A press sets the value the pointer's direction from the centre
// means: 0 at the lower left, 20 at the left, 50 at the top, 80 at the
// right, up to 99 at the lower right (the wheel reaches 100); a press on
// the bottom of the knob, between the two ends, does nothing and starts no
// drag. A drag follows the pointer around until release or until the
// pointer crosses into or out of the knob. A muted knob is dimmed; its
// value stays what it was.

#include "widgets/ValueWidget.h"

class cVolumeWidget : public cRangeWidget<int> {
public:
    // The group stands at (x, y) in parent, which must sit at the stage's
    // origin; value 0 (knob unturned).
    cVolumeWidget(cScene* scene, ClutterActor* parent, int x, int y, int width, int height);

    // Shows the sound as muted (the knob dimmed) or not. The value and the
    // change slot are not touched.
    void setMuted(bool muted);
    bool isMuted() const { return mMuted; }

private:
    void showValue() override;
    bool pointerEvent(ClutterEvent* event, ClutterActor* source, bool isPress) override;

    ClutterActor* mKnob; // the turning part, owned by cValueWidget; main loop only
    bool mMuted = false; // main loop only
};
