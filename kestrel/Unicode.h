#pragma once
// Strict conversion between the program's UTF-16 text and UTF-8 text at the
// edges (toolkit, database, network). Malformed input throws
// cUnicodeConversionException and returns nothing partial. Both results end
// at the first U+0000 of the input.

#include <string>

namespace kestrel {

std::string toUtf8(const std::u16string& wide);

// Appends one code point (at most U+10FFFF) in its shortest UTF-8 form.
void appendUtf8(std::string& out, char32_t codePoint);
std::u16string fromUtf8(const std::string& narrow);

} // namespace kestrel
