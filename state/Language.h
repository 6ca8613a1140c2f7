#pragma once
// The process-wide table of interface texts read from a language file:
// name -> text, names compared by code units. Filled once at start-up,
// cleared at shutdown. Every word the interface shows is looked up here by
// one of the names of interfaceTexts(); a name the file lacks (or a missing
// or faulty file) shows that name's English text, so the interface is never
// without words.

#include <map>
#include <string>
#include <vector>

// The language file of a language: applicationFolder (ending in '/') +
// "language/" + language + ".xml".
std::u16string languageFilePath(const std::u16string& applicationFolder, const std::u16string& language);

// The languages that have a file in applicationFolder + "language/": the
// file names without ".xml", in ascending order. Only names of lower-case
// ASCII letters count (such a name is safe to store and to join to a
// path). Empty when the folder cannot be read.
std::vector<std::u16string> availableLanguages(const std::u16string& applicationFolder);

// Lays the items of the file over the table (a name already there gets the
// file's text, other names stay). False, with the table unchanged, when the
// file cannot be opened or read.
bool loadLanguage(const std::u16string& path);
void clearLanguage();

// A copy of the table.
std::map<std::u16string, std::u16string> languageStrings();
// The text of a name, or defaultText when the table lacks it.
std::u16string languageString(const std::u16string& name, const std::u16string& defaultText);

// One text of the interface: the name a language file gives it under and
// its English wording.
struct sInterfaceText {
    const char16_t* name;
    const char16_t* english;
};
// Every text the interface shows, in the order the language files list
// them. A language file names each of these and nothing else.
const std::vector<sInterfaceText>& interfaceTexts();
// The loaded language's text for one of the names of interfaceTexts(), its
// English wording when the table lacks it or holds a text that is not
// well-formed UTF-16; an unknown name comes back as it is, so that a slip
// shows on screen instead of an empty label.
std::u16string interfaceText(const std::u16string& name);
