#include "kestrel/MessageBox.h"

#include "kestrel/Unicode.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kestrel {

namespace {

std::mutex presenterLock;
tMessageBoxPresenter presenter; // guarded by presenterLock

// A message box must show whatever text it is given, so invalid UTF-16
// becomes U+FFFD here instead of failing like the strict conversion.
std::string toUtf8Lenient(const std::u16string& text)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp == 0) {
            break;
        }
        appendUtf8(out, cp);
    }
    return out;
}

void showDialog(const std::string& caption, const std::string& text)
{
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return; // headless: the line on standard error is the whole report
    }
    // SDL's simple message box needs no main loop and may be shown from any
    // thread; it returns when its button or the window's close is used.
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), nullptr);
}

} // namespace

void showMessageBox(const std::u16string& caption, const std::u16string& text)
{
    const std::string narrowCaption = toUtf8Lenient(caption);
    const std::string narrowText = toUtf8Lenient(text);
    std::fprintf(stderr, "%s: %s\n", narrowCaption.c_str(), narrowText.c_str());
    std::fflush(stderr);

    tMessageBoxPresenter current;
    {
        std::lock_guard<std::mutex> guard(presenterLock);
        current = presenter;
    }
    try {
        if (current) {
            current(narrowCaption, narrowText);
        } else {
            showDialog(narrowCaption, narrowText);
        }
    } catch (...) {
        // The report has reached standard error; a presenter that fails must
        // not turn an error report into a second failure.
    }
}

void setMessageBoxPresenter(tMessageBoxPresenter newPresenter)
{
    std::lock_guard<std::mutex> guard(presenterLock);
    presenter = std::move(newPresenter);
}

} // namespace kestrel
