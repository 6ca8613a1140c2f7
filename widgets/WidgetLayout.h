#pragma once
// The arithmetic of the widgets, apart from the toolkit: where the list
// places its actors, when its rows fit and how far it may scroll, where the
// slider's handle stands, how far the knob turns and which value a pointer
// position on either means. The widgets call these; tests check the numbers
// without reading pixels.

#include <cstdint>
#include <vector>

// --- list ------------------------------------------------------------------

// Where the list's actors stand, from its rectangle (x, y, w, h) and the
// natural sizes of its two arrow images. Positions are in the scene root's
// coordinates except where noted.
struct sListLayout {
    int visibleHeight = 0; // V = h - (upH + downH + 10): the height of the rows' window
    int backgroundX = 0, backgroundY = 0;     // size w x h
    int reflectionX = 0, reflectionY = 0;     // size w x h, 5 pixels below the background
    int clipX = 0, clipY = 0;                 // size w x V, clip rectangle (0, 0, w, V)
    int upArrowX = 0, upArrowY = 0;           // centred on the top edge
    int downArrowX = 0, downArrowY = 0;       // centred on the bottom edge
};
sListLayout listLayout(int x, int y, int width, int height, int upWidth, int upHeight, int downWidth,
                       int downHeight);

// Whether count rows of rowHeight pixels fit into the visible height,
// compared unsigned as the list always has (a row height of -1, not yet
// measured, never fits with rows; an empty list always fits).
bool listRowsFit(int count, int rowHeight, int visibleHeight);

// The vertical offset of the first row when the list is shown: rows that
// fit are centred, otherwise they start at the top.
int listStartOffset(int count, int rowHeight, int visibleHeight);

// The stop rule of scrolling down: whether the rows from `top` to the last,
// each taking its pitch (label height + 5), still fill at least the visible
// height minus one row. Pitches outside the sequence count as nothing.
bool listRowsFillFrom(const std::vector<int>& pitches, int top, int visibleHeight, int rowHeight);

struct sArrowOpacities {
    uint8_t up = 0;
    uint8_t down = 0;
};
// Both arrows transparent when the rows fit; otherwise the up arrow shows
// unless the first row is at the top, the down arrow unless the rows from
// the top element on fit.
sArrowOpacities listArrowOpacities(int count, int topElement, int rowHeight, int visibleHeight);

// --- slider and knob -----------------------------------------------------

// The slider's value range and step, and the knob's.
constexpr float ScalerMinimum = 0.0f;
constexpr float ScalerMaximum = 5.0f;
constexpr float ScalerStep = 0.5f;
constexpr int VolumeMinimum = 0;
constexpr int VolumeMaximum = 100;
constexpr int VolumeStep = 5;
// A muted knob shows at this opacity.
constexpr uint8_t VolumeMutedKnobOpacity = 80;

// The handle's x in the slider's group: the whole part of (w / 5) x value.
int scalerHandleX(int width, float value);
// The value a pointer at pointerX means on a slider whose group stands at
// groupX: 5 x (pointerX - groupX) / w, unclamped.
float scalerValueAt(float pointerX, float groupX, int width);

// The knob's turn for a value: value x 3 degrees, 0 to 300.
double volumeAngle(int value);

// The direction from the knob's centre to the pointer in screen degrees
// (y grows downwards; 0 right, 90 down, 180 left, 270 up), in [0, 360).
double pointerAngle(double dx, double dy);
// The knob's value for a pointer direction: it runs clockwise from 0 at the
// lower left (120 degrees) through 20 at the left, 50 at the top and 80 at
// the right to 99 just before the lower right (60 degrees). Directions from
// 60 to 120 degrees, the bottom of the knob, mean nothing: false.
bool volumeValueAt(double angle, int& value);
