#pragma once
// What the programme guide says is on, as the scenes show it: the player's
// "Now: 20:00–21:00 Title" and "Next: ..." lines under the channel's name,
// and the browser's line under its channel list with the programme now and
// its minutes left. A channel the guide does not know gets empty lines,
// which the scenes do not show.
//
// The guide is the file the guide update keeps beside the catalogue; a new
// one is read from the next lookup on. A channel finds its guide channel by
// the guide id its list gave it (looked up by its address in the
// catalogue), otherwise by its name. Main loop only.

#include <cstdint>
#include <string>

#include "app/Toolkit.h"

struct cProgramme;

struct sGuideLines {
    std::string now;   // "Now: 20:00–21:00 Title"; empty without a programme now
    std::string next;  // "Next: 21:00–22:00 Title"; empty without a next one
    std::string brief; // "Now: Title · 35 min left"; empty without a programme now
    // When the lines change (UTC seconds): the end of the programme now,
    // else the start of the next; 0 when nothing is known to come.
    int64_t changesAt = 0;
};

// The lines for the channel at nowUtc (seconds since 1970).
sGuideLines guideLinesFor(const std::u16string& address, const std::u16string& name, int64_t nowUtc);

// The plain rules, for checks: "20:00–21:00 Title" in local time, and the
// whole minutes left (rounded up) before stop.
std::string programmeSpan(const cProgramme& programme);
int64_t minutesLeft(int64_t stopUtc, int64_t nowUtc);

// Seconds since 1970, now.
int64_t currentUtc();

// The line under a picker's list (the browser's channels, the favourites):
// the chosen channel's programme now and its minutes left, centred under
// the list and no wider than it; hidden for a channel the guide does not
// know or when no channel is chosen. While a channel is chosen the line
// follows the guide: the minutes are counted again every RefreshSeconds,
// a programme that ends or starts changes it on time, and with nothing on
// it looks again every WaitSeconds, so that a guide that lands after the
// choice shows. The actor is a child of the parent given, which takes it
// away.
class cGuideLine {
public:
    static constexpr int64_t RefreshSeconds = 30;
    static constexpr int64_t WaitSeconds = 5;

    // Under the list whose left edge is x, bottom y and width `width`.
    cGuideLine(ClutterActor* parent, float x, float bottom, float width);
    ~cGuideLine();
    cGuideLine(const cGuideLine&) = delete;
    cGuideLine& operator=(const cGuideLine&) = delete;

    // Shows the line for the channel; an empty address hides it.
    void showFor(const std::u16string& address, const std::u16string& name);
    // Hides it and stops counting.
    void hide();
    // Shows the line anew (the language has changed).
    void relayWords() { refresh(); }
    ClutterActor* actor() const { return mLabel; }

private:
    static gboolean onTimer(gpointer self);
    void refresh();

    // Main loop only.
    ClutterActor* mLabel;
    float mX;
    float mBottom;
    float mWidth;
    std::u16string mAddress; // the channel shown; empty when hidden
    std::u16string mName;
    guint mTimer = 0; // the next look at the guide while a channel is chosen; 0 when none
};
