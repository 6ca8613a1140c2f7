#include "scenes/GuideLines.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include <sys/stat.h>

#include "app/MainLoop.h"
#include "app/Words.h"
#include "catalogue/PlayerDatabase.h"
#include "guide/Guide.h"
#include "guide/GuideText.h"
#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"

namespace {

// The picker's guide line: its font and its gap below the list.
const char* const GuideLineFont = "Monospace 11";
constexpr float GuideLineGap = 6.0f;

// The guide file read last, and what it was when it was opened: a new file
// (the update renames it into place) is opened again at the next lookup.
struct sOpenGuide {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    std::unique_ptr<cGuide> guide;
};

const cGuide* currentGuide()
{
    static sOpenGuide open;
    const std::u16string folder = cPlayerDatabase::instance()->folder();
    if (folder.empty()) {
        return nullptr;
    }
    const std::u16string widePath = guideFilePath(folder);
    const std::string path = kestrel::toUtf8(widePath);
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        open = sOpenGuide();
        return nullptr;
    }
    if (open.path != path || open.device != status.st_dev || open.inode != status.st_ino) {
        open.path = path;
        open.device = status.st_dev;
        open.inode = status.st_ino;
        open.guide = cGuide::open(widePath);
    }
    return open.guide.get();
}

// The interface text with "%1" replaced by value (value after the text
// when a translation left "%1" out).
std::string filledIn(const char16_t* name, const std::string& value)
{
    std::string text = shownText(name);
    const size_t at = text.find("%1");
    if (at == std::string::npos) {
        return text + " " + value;
    }
    return text.replace(at, 2, value);
}

} // namespace

std::string programmeSpan(const cProgramme& programme)
{
    return formatLocalClock(programme.start) + "\u2013" + formatLocalClock(programme.stop) + " " + programme.title;
}

int64_t minutesLeft(int64_t stopUtc, int64_t nowUtc)
{
    return stopUtc <= nowUtc ? 0 : (stopUtc - nowUtc + 59) / 60;
}

int64_t currentUtc()
{
    return static_cast<int64_t>(std::time(nullptr));
}

sGuideLines guideLinesFor(const std::u16string& address, const std::u16string& name, int64_t nowUtc)
{
    sGuideLines lines;
    const cGuide* guide = currentGuide();
    if (guide == nullptr) {
        return lines;
    }
    std::string channel;
    try {
        channel = guide->matchChannel(cPlayerDatabase::instance()->catalogueGuideId(address), kestrel::toUtf8(name));
    } catch (const kestrel::cException&) {
        return lines; // a name that is not text matches nothing
    }
    if (channel.empty()) {
        return lines;
    }
    // A list may say that the channel shows its guide's programmes later
    // (or earlier): they are looked up and shown shifted.
    const int64_t shift = int64_t(cPlayerDatabase::instance()->catalogueGuideShiftMinutes(address)) * 60;
    cNowNext programmes = guide->nowNext(channel, nowUtc - shift);
    for (std::optional<cProgramme>* programme : {&programmes.now, &programmes.next}) {
        if (*programme) {
            (*programme)->start += shift;
            (*programme)->stop += shift;
        }
    }
    if (programmes.now) {
        lines.now = filledIn(u"guide_now", programmeSpan(*programmes.now));
        lines.brief = filledIn(u"guide_now", programmes.now->title) + " \u00b7 " +
                      filledIn(u"guide_left", std::to_string(minutesLeft(programmes.now->stop, nowUtc)));
        lines.changesAt = programmes.now->stop;
    }
    if (programmes.next) {
        lines.next = filledIn(u"guide_next", programmeSpan(*programmes.next));
        if (!programmes.now) {
            lines.changesAt = programmes.next->start;
        }
    }
    return lines;
}

cGuideLine::cGuideLine(ClutterActor* parent, float x, float bottom, float width)
    : mX(x), mBottom(bottom), mWidth(width)
{
    const ClutterColor white = {255, 255, 255, 255};
    mLabel = clutter_text_new_full(GuideLineFont, "", &white);
    // Titles come from outside: never markup, cut rather than overflowing.
    clutter_text_set_use_markup(CLUTTER_TEXT(mLabel), FALSE);
    clutter_text_set_ellipsize(CLUTTER_TEXT(mLabel), PANGO_ELLIPSIZE_END);
    clutter_actor_add_child(parent, mLabel);
    clutter_actor_hide(mLabel);
}

cGuideLine::~cGuideLine()
{
    if (mTimer != 0) {
        g_source_remove(mTimer);
    }
}

void cGuideLine::showFor(const std::u16string& address, const std::u16string& name)
{
    mAddress = address;
    mName = name;
    refresh();
}

void cGuideLine::hide()
{
    showFor(std::u16string(), std::u16string());
}

void cGuideLine::refresh()
{
    if (mTimer != 0) {
        g_source_remove(mTimer);
        mTimer = 0;
    }
    if (mAddress.empty()) {
        clutter_actor_hide(mLabel);
        return;
    }
    const int64_t now = currentUtc();
    const sGuideLines lines = guideLinesFor(mAddress, mName, now);
    // While a channel is chosen the line keeps looking: a programme that
    // starts later, or a guide that lands after the choice, shows without
    // another choice. The next change is met on time; between changes the
    // minutes are counted again, and a line with nothing on looks for a
    // new guide more often (a look is one stat of the guide file).
    int64_t wait = lines.brief.empty() ? WaitSeconds : RefreshSeconds;
    if (lines.changesAt > now) {
        wait = std::min(wait, lines.changesAt - now);
    }
    mTimer = clutter_threads_add_timeout_full(G_PRIORITY_DEFAULT, static_cast<guint>(wait * 1000), onTimer, this,
                                              nullptr);
    if (lines.brief.empty()) {
        clutter_actor_hide(mLabel);
        return;
    }
    clutter_text_set_text(CLUTTER_TEXT(mLabel), lines.brief.c_str());
    fitLineWithin(mLabel, mWidth);
    const float width = clutter_actor_get_width(mLabel);
    clutter_actor_set_position(mLabel, mX + (mWidth - width) / 2.0f, mBottom + GuideLineGap);
    clutter_actor_show(mLabel);
}

gboolean cGuideLine::onTimer(gpointer self)
{
    auto* line = static_cast<cGuideLine*>(self);
    line->mTimer = 0;
    runGuarded([line] { line->refresh(); });
    return G_SOURCE_REMOVE;
}
