#include "state/Language.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"

#include "state/UserFile.h"

namespace {

// Built on first use, so that it exists whatever the order of static
// construction.
struct cLanguageTable {
    std::mutex mutex;
    std::map<std::u16string, std::u16string> strings; // guarded by mutex
};

cLanguageTable& table()
{
    static cLanguageTable theTable;
    return theTable;
}

} // namespace

std::u16string languageFilePath(const std::u16string& applicationFolder, const std::u16string& language)
{
    return applicationFolder + u"language/" + language + u".xml";
}

std::vector<std::u16string> availableLanguages(const std::u16string& applicationFolder)
{
    std::vector<std::u16string> languages;
    std::error_code failure;
    const std::filesystem::path folder = std::filesystem::path(kestrel::toUtf8(applicationFolder)) / "language";
    for (std::filesystem::directory_iterator entry(folder, failure), end; !failure && entry != end;
         entry.increment(failure)) {
        const std::filesystem::path file = entry->path().filename();
        const std::string name = file.stem().string();
        if (file.extension() != ".xml" || name.empty() ||
            !std::all_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; }) ||
            !entry->is_regular_file(failure)) {
            continue;
        }
        languages.push_back(kestrel::fromUtf8(name));
    }
    std::sort(languages.begin(), languages.end());
    return languages;
}

bool loadLanguage(const std::u16string& path)
{
    std::u16string text;
    if (userfile::readText(path, text) != userfile::ReadDone)
        return false;
    std::vector<std::pair<std::u16string, std::u16string>> items;
    userfile::scanNamedItems(text, [&items](const std::u16string& name, const std::u16string& value) {
        items.emplace_back(name, value);
    });
    cLanguageTable& strings = table();
    std::lock_guard<std::mutex> guard(strings.mutex);
    for (auto& item : items)
        strings.strings[std::move(item.first)] = std::move(item.second);
    return true;
}

void clearLanguage()
{
    cLanguageTable& strings = table();
    std::lock_guard<std::mutex> guard(strings.mutex);
    strings.strings.clear();
}

std::map<std::u16string, std::u16string> languageStrings()
{
    cLanguageTable& strings = table();
    std::lock_guard<std::mutex> guard(strings.mutex);
    return strings.strings;
}

std::u16string languageString(const std::u16string& name, const std::u16string& defaultText)
{
    cLanguageTable& strings = table();
    std::lock_guard<std::mutex> guard(strings.mutex);
    auto found = strings.strings.find(name);
    return found == strings.strings.end() ? defaultText : found->second;
}

const std::vector<sInterfaceText>& interfaceTexts()
{
    static const std::vector<sInterfaceText> texts = {
        // The home scene: the window title and the caption under the carousel.
        {u"idle_title", u"Recent channels..."},
        {u"idle_caption", u"Recent channels"},
        // The channel browser: title, caption, and the first row of the
        // country and type lists, which stands for every country or type.
        {u"channels_title", u"Select channel..."},
        {u"channels_caption", u"Select channel to play"},
        {u"channels_any", u"Any"},
        // The country or type of channels whose list names none; the
        // catalogue keeps one stored value, shown in the user's language.
        {u"channels_unknown", u"Unknown"},
        // The favourites scene.
        {u"favourites_title", u"Favorite channels"},
        {u"favourites_caption", u"Select channel to play"},
        // The search line over the browser's channel list and the
        // favourites: the word before the typed text, and the number of
        // channels found ("%1" is the number), for one and for any other
        // number.
        {u"search_caption", u"Search:"},
        {u"search_count_one", u"%1 channel"},
        {u"search_count", u"%1 channels"},
        // The scene shown while the catalogue is checked at start-up.
        {u"update_title", u"Updating"},
        {u"update_caption", u"Updating channels database..."},
        // The scene that announces a new catalogue (the message is shown in
        // bold on one line).
        {u"newdb_title", u"Updating"},
        {u"newdb_message", u"Database updated successfully. New channels available."},
        // The words on the buttons: to the channel browser, to the
        // favourites, back to the home scene, and on from the new-catalogue
        // scene. A long word is drawn smaller to fit its button.
        {u"button_channels", u"Channels"},
        {u"button_favourites", u"Favorites"},
        {u"button_back", u"Back"},
        {u"button_continue", u"Continue"},
        // A channel that did not play, on the home scene it returns to and
        // in the player scene while zapping: "%1" is the channel's name, "%2"
        // one of the reasons below.
        {u"play_failed", u"%1 does not play: %2"},
        {u"failure_host_unknown", u"the server's name could not be found"},
        {u"failure_refused", u"the server refused the connection"},
        {u"failure_no_answer", u"the server did not answer in time"},
        // "%1" is the HTTP status number (403, 404, ...).
        {u"failure_http_status", u"the server answered with error %1"},
        {u"failure_secure_connection", u"the secure connection failed"},
        {u"failure_not_allowed", u"the address is not allowed"},
        {u"failure_unsupported_format", u"the stream's format is not supported"},
        // "%1" is what is missing, as the media framework names it
        // ("H.264 (Main Profile) decoder").
        {u"failure_missing_format", u"the stream's format is not supported (missing: %1)"},
        {u"failure_stream_ended", u"the stream ended"},
        {u"failure_not_opened", u"the stream could not be opened"},
        // What is on, from the programme guide: in the player's controls
        // the programme now and the next one ("%1" is the times and the
        // title, "20:00-21:00 News"); under the browser's channel list the
        // programme now and the minutes it has left ("%1" is the number).
        {u"guide_now", u"Now: %1"},
        {u"guide_next", u"Next: %1"},
        {u"guide_left", u"%1 min left"},
    };
    return texts;
}

std::u16string interfaceText(const std::u16string& name)
{
    for (const sInterfaceText& text : interfaceTexts()) {
        if (name == text.name) {
            std::u16string shown = languageString(name, text.english);
            // A lone surrogate from a damaged file would stop the toolkit's
            // UTF-8 conversion; such a text counts as missing.
            try {
                kestrel::toUtf8(shown);
            } catch (const kestrel::cException&) {
                shown = text.english;
            }
            return shown;
        }
    }
    return name;
}
