#pragma once
// The process-wide table of interface texts read from a language file:
// name -> text, names compared by code units. Filled once at start-up,
// cleared at shutdown; the scenes keep their own fixed texts, so a missing
// or faulty language file changes nothing on screen.

#include <map>
#include <string>

// The language file of a language: applicationFolder (ending in '/') +
// "language/" + language + ".xml".
std::u16string languageFilePath(const std::u16string& applicationFolder, const std::u16string& language);

// Lays the items of the file over the table (a name already there gets the
// file's text, other names stay). False, with the table unchanged, when the
// file cannot be opened or read.
bool loadLanguage(const std::u16string& path);
void clearLanguage();

// A copy of the table.
std::map<std::u16string, std::u16string> languageStrings();
// The text of a name, or defaultText when the table lacks it.
std::u16string languageString(const std::u16string& name, const std::u16string& defaultText);
