#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"

#include <gtest/gtest.h>

#include <string>

using namespace kestrel;

TEST(Unicode, ConvertsBothWaysInShortestForm)
{
    struct Case {
        std::u16string wide;
        std::string narrow;
    };
    const Case cases[] = {
        {u"", ""},
        {u"A", "A"},
        {u"\u00E9", "\xC3\xA9"},
        {u"\u07FF", "\xDF\xBF"},
        {u"\u0800", "\xE0\xA0\x80"},
        {u"\u20AC", "\xE2\x82\xAC"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {{char16_t(0xD83D), char16_t(0xDE00)}, "\xF0\x9F\x98\x80"},
        {{char16_t(0xDBFF), char16_t(0xDFFF)}, "\xF4\x8F\xBF\xBF"},
        {{char16_t(0xD800), char16_t(0xDC00)}, "\xF0\x90\x80\x80"},
        {u"Radio \u00C9t\u00E9 \u20AC", "Radio \xC3\x89t\xC3\xA9 \xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toUtf8(c.wide), c.narrow);
        EXPECT_EQ(fromUtf8(c.narrow), c.wide);
    }
}

TEST(Unicode, RejectsMalformedUtf16)
{
    const std::u16string cases[] = {
        {u'a', char16_t(0xD800)},                      // high surrogate at the end
        {char16_t(0xD800), u'a'},                      // high surrogate before a plain unit
        {char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)},
        {char16_t(0xDC00)},                            // lone low surrogate
        {u'x', char16_t(0xDFFF), u'y'},
        {u'a', u'\0', char16_t(0xDC00)},               // checked past U+0000 too
    };
    for (const std::u16string& wide : cases) {
        EXPECT_THROW(toUtf8(wide), cUnicodeConversionException);
    }
}

TEST(Unicode, RejectsEverySequenceOutsideTheWellFormedTable)
{
    const std::string cases[] = {
        "\xC0\xAF",          // overlong
        "\xC1\xBF",          // overlong lead
        "\xE0\x9F\xBF",      // overlong three-byte form
        "\xED\xA0\x80",      // encoded surrogate
        "\xED\xBF\xBF",
        "\xF0\x8F\xBF\xBF",  // overlong four-byte form
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xF5\x80\x80\x80",
        "\xFF",
        "\x80",              // lone continuation
        "\xBF",
        "\xE2\x82",          // cut at the end
        "a\xF0\x9F\x98",
        "\xC3",
        "\xC3\x41",          // continuation outside 80..BF
        "\xE2\x28\xA1",
        "\xF0\x9F\x28\x80",
        "\xF0\x9F\x98\xC0",
    };
    for (const std::string& narrow : cases) {
        EXPECT_THROW(fromUtf8(narrow), cUnicodeConversionException) << "input size " << narrow.size();
    }
}

TEST(Unicode, BothConversionsStopAtU0000)
{
    EXPECT_EQ(toUtf8(std::u16string(u"ab\0cd", 5)), "ab");
    EXPECT_EQ(fromUtf8(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(fromUtf8(std::string("\0", 1)), u"");
}
