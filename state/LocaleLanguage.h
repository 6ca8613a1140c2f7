#pragma once
// The language a first start takes from the desktop's locale, before the
// user has chosen one. The locale of messages is the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty, as the C library reads
// it; its language part (the letters before "_", "." or "@", such as "pt"
// in "pt_BR.UTF-8") names the language file. A locale whose language has
// no file ("ja_JP.UTF-8"), the "C" and "POSIX" locales and an environment
// without any of the three give English.

#include <functional>
#include <string>
#include <vector>

// The name of an environment variable -> its value, or null when unset.
using tEnvironmentReader = std::function<const char*(const char* name)>;

// The language file name ("portuguese") for the locale that `environment`
// gives, chosen among `available` (the names availableLanguages() gives);
// "english" when none fits.
std::u16string languageForLocale(const tEnvironmentReader& environment, const std::vector<std::u16string>& available);

// The language file name of an ISO 639-1 code ("de" -> "german"); empty for
// a code without a file of its own among the program's languages.
std::u16string languageOfCode(const std::string& code);
