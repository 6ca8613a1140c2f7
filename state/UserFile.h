#pragma once
// Shared pieces of the readers and writers of the user's XML files
// (settings.xml, recent.xml and the language files): bounded reading of the
// UTF-16 text, name comparison and the common "item with a name" scan.
// Internal to the state library.

#include <cstdint>
#include <functional>
#include <string>

namespace userfile {

// A user file larger than this is not read: none of these files comes near
// it, and reading it whole would only cost memory.
constexpr uint64_t MaxFileBytes = 16u * 1024u * 1024u;

enum eReadResult {
    ReadMissing, // the file could not be opened
    ReadFailed,  // not a plain file, too large or not readable
    ReadDone,
};

// The whole file as UTF-16 little-endian text; the byte-order mark, if any,
// stays in the text as U+FEFF.
eReadResult readText(const std::u16string& path, std::u16string& text);

// True for an existing plain file. Anything else (a pipe or a device could
// block the reader for ever) is not opened for reading.
bool isPlainFile(const std::u16string& path);
// True when something, of whatever kind, exists at the path.
bool pathExists(const std::u16string& path);

// True when name equals lowerName, ignoring the case of ASCII letters.
// lowerName is written in lower case.
bool equalsName(const char16_t* name, const char16_t* lowerName);

// Scans "<item name=...>text</item>" elements, whatever encloses them:
// calls store(name, text) for every item whose name and text are both
// non-empty. Runs of white space in the text become one space; the text's
// entities are decoded by the scanner, the name is taken as written.
void scanNamedItems(const std::u16string& text,
                    const std::function<void(const std::u16string&, const std::u16string&)>& store);

// ASCII text to UTF-16.
std::u16string widen(const std::string& ascii);

} // namespace userfile
