#include "state/Language.h"

#include <mutex>
#include <utility>
#include <vector>

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
