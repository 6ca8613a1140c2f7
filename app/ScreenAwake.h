#pragma once
// The screen stays awake while a channel shows pictures: the desktop's
// screen saver is asked to hold off on the session bus
// (org.freedesktop.ScreenSaver Inhibit, given back with UnInhibit), and the
// X server's own screen saver is suspended (XScreenSaverSuspend) for
// desktops without that service.
//
// Without a session bus, or without the service on it, one debug line
// says so and the X server's part still holds. Should the program die
// while it holds, the bus and the X server let go of what it asked for
// with its connections.
//
// Main loop only: the X display is the toolkit's, and the bus's replies
// arrive on the main loop.

// Holds the screen awake (true) or lets it sleep again (false). Asking for
// what already holds changes nothing, so every place that shows or stops
// pictures may say so.
void keepScreenAwake(bool awake);
// What was last asked for.
bool screenKeptAwake();

// Shutdown, main thread, after the main loop has ended: lets the screen
// sleep again and waits, at most a second, until the bus has carried the
// release, then lets the bus go.
void releaseScreenAwake();
