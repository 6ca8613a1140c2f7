#include "state/LocaleLanguage.h"

#include <algorithm>

namespace {

struct sCodeLanguage {
    const char* code;
    const char16_t* language;
};

// The languages the program has files for, by their ISO 639-1 code.
const sCodeLanguage CodeLanguages[] = {
    {"de", u"german"},  {"en", u"english"}, {"es", u"spanish"},   {"fr", u"french"},
    {"it", u"italian"}, {"nl", u"dutch"},   {"pl", u"polish"},    {"pt", u"portuguese"},
    {"ru", u"russian"}, {"tr", u"turkish"}, {"uk", u"ukrainian"},
};

const std::u16string English = u"english";

} // namespace

std::u16string languageOfCode(const std::string& code)
{
    for (const sCodeLanguage& entry : CodeLanguages) {
        if (code == entry.code) {
            return entry.language;
        }
    }
    return std::u16string();
}

std::u16string languageForLocale(const tEnvironmentReader& environment, const std::vector<std::u16string>& available)
{
    // The C library's order for the messages category: the first variable
    // that is set and not empty decides, even when its language has no
    // file (a user who asked for another language is better served by
    // English than by a third one from a lower variable).
    std::string locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = environment(name);
        if (value != nullptr && *value != '\0') {
            locale = value;
            break;
        }
    }
    std::string code = locale.substr(0, locale.find_first_of("_.@"));
    std::transform(code.begin(), code.end(), code.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    const std::u16string language = languageOfCode(code);
    if (!language.empty() && std::find(available.begin(), available.end(), language) != available.end()) {
        return language;
    }
    return English;
}
