#pragma once
// Conversion between the program's UTF-16 text and UTF-8 text at the edges
// (toolkit, database, network).
//
// The strict conversions throw cUnicodeConversionException on malformed
// input and return nothing partial. The lenient ones are for text that
// comes from outside and is only shown (a catalogue's names, a log line):
// every malformed part becomes U+FFFD, so they never throw and their result
// always converts strictly (toUtf8(repairUtf16(text)) never throws). All results end at the first U+0000 of the
// input.

#include <string>

namespace kestrel {

std::string toUtf8(const std::u16string& wide);

// Appends one code point (at most U+10FFFF) in its shortest UTF-8 form.
void appendUtf8(std::string& out, char32_t codePoint);
std::u16string fromUtf8(const std::string& narrow);

// Each maximal malformed byte sequence becomes one U+FFFD.
std::u16string fromUtf8Lenient(const std::string& narrow);
// Each lone surrogate (a high one not followed by a low one, a low one not
// preceded by a high one) becomes U+FFFD. The pointer form reads up to the
// terminating zero; null gives an empty text.
std::u16string repairUtf16(const std::u16string& text);
std::u16string repairUtf16(const char16_t* text);

// The value of one hexadecimal digit (either case); -1 for any other
// character. For the %XX escapes of addresses.
int hexDigitValue(char c);

} // namespace kestrel
