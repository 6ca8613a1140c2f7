#pragma once
// The one reading of the mouse wheel for the whole interface: the list,
// the slider, the knob and the home carousel all take a wheel event through
// wheelStep.
//
// On X11 the toolkit reports each notch of a wheel twice: as a step with a
// direction (up, down, left, right) and as a smooth-scroll twin carrying
// deltas. Only the step counts; the smooth twin is dropped, so a notch moves
// things once and a notch up is never read as one down. Main loop only.

#include "app/Toolkit.h"

enum class eWheelStep {
    None, // a smooth-scroll event: nothing to do
    Up,   // direction up
    Down  // any other direction
};

inline eWheelStep wheelStep(const ClutterEvent* event)
{
    switch (clutter_event_get_scroll_direction(event)) {
    case CLUTTER_SCROLL_UP:
        return eWheelStep::Up;
    case CLUTTER_SCROLL_SMOOTH:
        return eWheelStep::None;
    default:
        return eWheelStep::Down;
    }
}
