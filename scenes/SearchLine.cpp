#include "scenes/SearchLine.h"

#include "app/Effects.h"
#include "app/MainLoop.h"
#include "app/Words.h"
#include "kestrel/Unicode.h"
#include "state/Language.h"

namespace {

const ClutterColor White = {255, 255, 255, 255};

// The line fades as the lists do.
constexpr unsigned FadeMilliseconds = 300;

// The arrival of the name index is no more urgent than a video frame.
constexpr int PriorityIndexReady = PriorityFrameUpload;

bool isBlank(gunichar c) { return g_unichar_isspace(c); }

void appendCodePoint(std::u16string& text, gunichar c)
{
    if (c < 0x10000) {
        text.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        text.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        text.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

void eraseLastCodePoint(std::u16string& text)
{
    if (text.size() >= 2 && text.back() >= 0xDC00 && text.back() <= 0xDFFF && text[text.size() - 2] >= 0xD800 &&
        text[text.size() - 2] <= 0xDBFF) {
        text.pop_back();
    }
    text.pop_back();
}

} // namespace

float searchLineY(float listY, float labelHeight)
{
    return listY - labelHeight - SearchLineGap;
}

std::string searchCountText(int count)
{
    std::string text = shownText(count == 1 ? u"search_count_one" : u"search_count");
    const std::string number = std::to_string(count);
    const size_t at = text.find("%1");
    if (at == std::string::npos) {
        return number + " " + text;
    }
    return text.replace(at, 2, number);
}

cSearchLine::cSearchLine(ClutterActor* root, int x, int y, int width)
    : mRoot(root)
    , mX(static_cast<float>(x))
    , mListY(static_cast<float>(y))
    , mWidth(static_cast<float>(width))
    , mFadeTemplate(FadeMilliseconds, AlphaRampInc)
    , mSelf(std::make_shared<const cSearchLine*>(this))
{
    mGroup = clutter_actor_new();
    mCaption = clutter_text_new_full("Monospace", "", &White);
    mCount = clutter_text_new_full("Monospace", "", &White);
    clutter_actor_add_child(mGroup, mCaption);
    clutter_actor_add_child(mGroup, mCount);
    clutter_actor_add_child(mRoot, mGroup);
    clutter_actor_hide(mGroup);
}

cSearchLine::~cSearchLine()
{
    stopEffects(mGroup);
    clutter_actor_destroy(mGroup); // with its labels
}

std::function<void()> cSearchLine::onMainLoop(std::function<void()> work) const
{
    std::weak_ptr<const cSearchLine*> line = mSelf;
    return [line, work = std::move(work)] {
        postToMainLoop(PriorityIndexReady, [line, work] {
            if (line.lock()) {
                work();
            }
        });
    };
}

bool cSearchLine::handleKey(const ClutterKeyEvent& key)
{
    const ClutterEvent* event = reinterpret_cast<const ClutterEvent*>(&key);
    const guint keyval = clutter_event_get_key_symbol(event);
    if (keyval == CLUTTER_KEY_Escape || keyval == CLUTTER_KEY_BackSpace) {
        if (!isOpen()) {
            return false;
        }
        if (keyval == CLUTTER_KEY_Escape) {
            mText.clear();
        } else {
            eraseLastCodePoint(mText);
        }
        change(isOpen() ? Edited : Closed);
        return true;
    }
    // Shortcuts are not typing.
    if (clutter_event_get_state(event) & (CLUTTER_CONTROL_MASK | CLUTTER_MOD1_MASK)) {
        return false;
    }
    const gunichar c = clutter_event_get_key_unicode(event);
    if (c == 0 || !g_unichar_validate(c) || !g_unichar_isprint(c) || (!isOpen() && isBlank(c))) {
        return false;
    }
    if (mText.size() + (c < 0x10000 ? 1 : 2) > SearchTextLimit) {
        return true; // the line is full; the letter is swallowed, not passed on
    }
    const bool opening = !isOpen();
    appendCodePoint(mText, c);
    change(opening ? Opened : Edited);
    return true;
}

void cSearchLine::change(eChange what)
{
    if (what == Opened) {
        stopEffects(mGroup);
        clutter_actor_set_opacity(mGroup, 255);
        clutter_actor_show(mGroup);
    } else if (what == Closed) {
        clutter_actor_hide(mGroup);
    }
    layOut();
    if (mChanged) {
        mChanged(what);
    }
}

void cSearchLine::relayWords()
{
    setCount(mCountValue);
}

void cSearchLine::setCount(int count)
{
    mCountValue = count;
    clutter_text_set_text(CLUTTER_TEXT(mCount), count < 0 ? "\xe2\x80\xa6" : searchCountText(count).c_str());
    layOut();
}

void cSearchLine::layOut()
{
    // The text is the user's own: shown as it is, never as markup.
    const std::string caption = shownText(u"search_caption") + " " + kestrel::toUtf8(kestrel::repairUtf16(mText));
    clutter_text_set_text(CLUTTER_TEXT(mCaption), caption.c_str());
    const float height = clutter_actor_get_height(mCaption);
    clutter_actor_set_position(mGroup, 0.0f, 0.0f);
    clutter_actor_set_position(mCaption, mX, searchLineY(mListY, height));
    clutter_actor_set_position(mCount, mX + mWidth - clutter_actor_get_width(mCount), searchLineY(mListY, height));
}

void cSearchLine::fadeOut()
{
    effectFade(mFadeTemplate, mGroup, 0);
}

// --- cKeyPressHandler ------------------------------------------------------

void cKeyPressHandler::connect(ClutterActor* root, tHandle handle)
{
    disconnect();
    mRoot = root;
    mHandle = std::move(handle);
    mId = g_signal_connect(root, "key-press-event", G_CALLBACK(onKeyPress), this);
}

void cKeyPressHandler::disconnect()
{
    if (mId != 0) {
        g_signal_handler_disconnect(mRoot, mId);
        mId = 0;
    }
}

gboolean cKeyPressHandler::onKeyPress(ClutterActor*, ClutterEvent* event, gpointer self)
{
    if (clutter_event_type(event) != CLUTTER_KEY_PRESS) {
        return CLUTTER_EVENT_PROPAGATE;
    }
    bool consumed = false;
    runGuarded([&] { consumed = static_cast<cKeyPressHandler*>(self)->mHandle(event->key); });
    return consumed ? CLUTTER_EVENT_STOP : CLUTTER_EVENT_PROPAGATE;
}
