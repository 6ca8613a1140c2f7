#pragma once
// The stage and its window: the toolkit's default stage, whose X11 window
// is the program's only visible window, the table of named windows, the
// window geometry kept in the settings, and the immediate redraw.
//
// Everything here runs on the main thread: initializeUi() before the main
// loop starts, the rest inside main-loop callbacks.

#include "app/Toolkit.h"

// Initialises the media framework and the toolkit (X11 back end), sizes
// the default stage to 800 x 600, paints it opaque black, gives its window
// the application icon (icons/lumivex-48.png and icons/lumivex-32.png
// beside the executable), shows it, fills the window table and applies a
// stored window position. False when the toolkit cannot start (no
// display); then nothing else is usable.
bool initializeUi();

// The stage, as the root actor for scenes and as a stage. Null before
// initializeUi().
ClutterActor* stageActor();
ClutterStage* stage();

// The named windows of the program, indexed by position. Entry 0 is "main",
// the stage's X11 window.
struct sWindowEntry {
    const char* name;
    unsigned long window; // the X11 window id; 0 before initializeUi()
};
constexpr int WindowTableSize = 1;
const sWindowEntry& windowTableEntry(int index);

// Writes, for every window of the table, "window_" + name + "_pos_x",
// "_pos_y" (the outer top-left corner of the window on the screen),
// "_size_x", "_size_y" (the stage size), "_maxi" (false) and "_visible"
// into the settings. Nothing is written to disk here.
void saveWindowGeometry();
// Moves every window of the table to its stored position (when both
// coordinates are stored) and shows or hides it as stored (hidden when
// nothing is stored).
void restoreWindowGeometry();

// Puts the stage into full-screen mode or takes it out. The window manager
// carries the request out after this has returned, by resizing the stage
// (and without a window manager nobody does, so the stage's own state only
// changes when one answers). stageFullScreenRequested() is the last request.
void setStageFullScreen(bool fullScreen);
bool stageFullScreenRequested();

// Brings the stage's window to the front (and asks a window manager to
// give it the focus): a later start of the program on the same data folder
// asks for it.
void presentStage();

// Redraws the stage now, not waiting for the next scheduled frame.
void redrawStage();

// The outer top-left corner of the window on the screen and whether it is
// viewable, as the geometry calls see them. False when the window is
// unknown.
bool readWindowPlacement(unsigned long window, int& x, int& y, bool& visible);
