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

TEST(Unicode, LenientUtf8ReplacesEachMaximalMalformedPart)
{
    const char16_t R = 0xFFFD;
    struct Case {
        std::string narrow;
        std::u16string wide;
    };
    const Case cases[] = {
        {"plain \xC3\xA9", u"plain \u00E9"},
        {"\xC0\xAF", {R, R}},                   // overlong: two bad lead bytes
        {"\xED\xA0\x80", {R, R, R}},            // encoded surrogate: ED cannot take A0
        {"\xF4\x90\x80\x80", {R, R, R, R}},     // above U+10FFFF
        {"a\xE2\x82", {u'a', R}},               // cut at the end: one part
        {"\xE2\x82z", {R, u'z'}},               // cut before a plain byte
        {"\xF0\x9F\x98\xC3\xA9", {R, u'\u00E9'}},
        {"\x80\xBF", {R, R}},                   // lone continuation bytes
        {"\xFF\xFEok", {R, R, u'o', u'k'}},
        {"\xF0\x9F\x98\x80", {char16_t(0xD83D), char16_t(0xDE00)}},
        {std::string("a\0\xFF", 3), u"a"},      // ends at U+0000
    };
    for (const Case& c : cases) {
        const std::u16string wide = fromUtf8Lenient(c.narrow);
        EXPECT_EQ(wide, c.wide) << "input size " << c.narrow.size();
        EXPECT_NO_THROW(toUtf8(wide));
    }
}

TEST(Unicode, RepairUtf16ReplacesLoneSurrogatesOnly)
{
    const char16_t R = 0xFFFD;
    const char16_t H = 0xD83D;
    const char16_t L = 0xDE00;
    struct Case {
        std::u16string in;
        std::u16string out;
    };
    const Case cases[] = {
        {u"", u""},
        {u"abc", u"abc"},
        {{H, L}, {H, L}},
        {{u'a', H}, {u'a', R}},        // high surrogate at the end
        {{H, u'a'}, {R, u'a'}},
        {{H, H, L}, {R, H, L}},
        {{L}, {R}},
        {{L, H}, {R, R}},
        {{u'x', L, u'y'}, {u'x', R, u'y'}},
        {{u'a', u'\0', L}, u"a"},      // ends at U+0000
    };
    for (const Case& c : cases) {
        EXPECT_EQ(repairUtf16(c.in), c.out);
        EXPECT_NO_THROW(toUtf8(repairUtf16(c.in)));
    }
    EXPECT_EQ(repairUtf16(static_cast<const char16_t*>(nullptr)), u"");
    EXPECT_EQ(toUtf8(repairUtf16({u'a', H})), "a\xEF\xBF\xBD");
}
