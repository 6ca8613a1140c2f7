#pragma once
// cScalerWidget: a horizontal slider with a value from 0 to 5 in steps of
// 0.5 (the player scene pushes the video back in depth with it). A track
// "scaler-bg.png" of w x h with a handle "scaler-slider.png" centred on the
// value's place along it, both mirrored below; events as cValueWidget says.
// A press anywhere on the track sets the value under the pointer and starts
// a drag that follows the pointer until release or until the pointer
// crosses into or out of the slider.
//
// setValue(v) clamps to [0, 5] and slides the handle to x = (w / 5) x v
// (whole part); increase and decrease step by 0.5.

#include "widgets/ValueWidget.h"

class cScalerWidget : public cRangeWidget<float> {
public:
    // The group stands at (x, y) in parent, which must sit at the stage's
    // origin; value 0 (handle at the left end).
    cScalerWidget(cScene* scene, ClutterActor* parent, int x, int y, int width, int height);

private:
    void showValue() override;
    bool pointerEvent(ClutterEvent* event, ClutterActor* source, bool isPress) override;

    // The moving parts, owned by cValueWidget. Main loop only.
    ClutterActor* mHandle;
    ClutterActor* mHandleReflection;
};
