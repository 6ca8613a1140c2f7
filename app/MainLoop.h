#pragma once
// The main loop's last line of defence and its orderly end.
//
// Toolkit callbacks return into C code, so no exception may leave them.
// Every callback of the application that runs code which may throw goes
// through runGuarded(): a failure is shown in the "Application exception"
// box and the program ends through its normal shutdown, with a non-zero
// exit status.

#include <functional>

// The one door into the main loop: runs work there once, from an idle
// callback of the given priority, whatever thread posts it. Work posted
// with the same priority runs in the order it was posted. Scene switches
// use PrioritySceneSwitch; frame uploads PriorityFrameUpload, so that a
// switch never waits behind a frame.
constexpr int PrioritySceneSwitch = 30;
constexpr int PriorityFrameUpload = 200;
void postToMainLoop(int priority, std::function<void()> work);

// Runs work; an exception that escapes it is reported (see above) and never
// propagates. Returns false when it caught one.
bool runGuarded(const std::function<void()>& work);

// Shows the exception in flight (called inside a catch block) in the box
// captioned "Application exception": the message of an exception of the
// program's family, "Fatal exception" for anything else. Never throws.
void showApplicationExceptionInFlight();

// Ends the main loop from any thread, once it runs: the quit is carried
// onto the main loop, so a request made before the loop has started still
// ends it.
void requestMainLoopQuit();

// Marks the run as failed: the process then exits with a non-zero status
// after its normal shutdown. Any thread.
void markRunFailed();
bool hasRunFailed();

// Makes SIGINT, SIGTERM and SIGHUP (Ctrl-C in a terminal, the session
// ending) end the main loop like closing the window, so that the normal
// shutdown still writes the user's files. Main thread, before the loop.
void quitMainLoopOnTerminationSignals();

// After the main loop has ended: a termination signal now ends the process
// at once (the default action) instead of waiting for a loop that no longer
// runs, so a second Ctrl-C during a long shutdown is obeyed. Main thread.
void endProcessOnTerminationSignals();
