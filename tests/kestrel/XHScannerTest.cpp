#include "kestrel/Unicode.h"
#include "kestrel/XHScanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrel;

namespace {

std::string narrow(const char16_t* text)
{
    return toUtf8(std::u16string(text));
}

// The whole token sequence of a text, one readable entry per token, ending
// with "End". Stops after a generous number of tokens so that a scanner
// that fails to progress shows up as a failure, not a hang.
std::vector<std::string> scan(const std::u16string& text)
{
    cXHScannerStringInputStream stream(text);
    cXHScanner scanner(stream);
    std::vector<std::string> tokens;
    for (size_t i = 0; i < 4 * text.size() + 8; ++i) {
        const int token = scanner.getToken();
        switch (token) {
        case cXHScanner::TokenEnd:
            tokens.push_back("End");
            return tokens;
        case cXHScanner::TokenError:
            tokens.push_back("Error");
            break;
        case cXHScanner::TokenTagStart:
            tokens.push_back("Start(" + narrow(scanner.getTagName()) + ")" + narrow(scanner.getValue()));
            break;
        case cXHScanner::TokenTagHeadEnd:
            tokens.push_back("HeadEnd(" + narrow(scanner.getTagName()) + ")");
            break;
        case cXHScanner::TokenTagEnd:
            tokens.push_back("TagEnd(" + narrow(scanner.getTagName()) + ")");
            break;
        case cXHScanner::TokenAttribute:
            tokens.push_back("Attr(" + narrow(scanner.getAttrName()) + "=" + narrow(scanner.getValue()) + ")");
            break;
        case cXHScanner::TokenWord:
            tokens.push_back("Word(" + narrow(scanner.getValue()) + ")");
            break;
        case cXHScanner::TokenSpace:
            tokens.push_back("Space(" + narrow(scanner.getValue()) + ")");
            break;
        case cXHScanner::TokenData:
            tokens.push_back("Data(" + narrow(scanner.getValue()) + ")");
            break;
        case cXHScanner::TokenCommentStart:
            tokens.push_back("CommentStart");
            break;
        case cXHScanner::TokenCommentEnd:
            tokens.push_back("CommentEnd");
            break;
        case cXHScanner::TokenCDataStart:
            tokens.push_back("CDataStart");
            break;
        case cXHScanner::TokenCDataEnd:
            tokens.push_back("CDataEnd");
            break;
        case cXHScanner::TokenEntityStart:
            tokens.push_back("EntityStart");
            break;
        case cXHScanner::TokenEntityEnd:
            tokens.push_back("EntityEnd");
            break;
        default:
            tokens.push_back("Unknown" + std::to_string(token));
        }
    }
    tokens.push_back("NoEnd");
    return tokens;
}

using Tokens = std::vector<std::string>;

struct Case {
    const char16_t* input;
    Tokens tokens;
};

} // namespace

TEST(XHScanner, TokenSequences)
{
    const Case cases[] = {
        {u"", {"End"}},
        {u"<item name=\"volume\">80</item>",
         {"Start(item)", "Attr(name=volume)", "HeadEnd(item)", "Word(80)", "TagEnd(item)", "End"}},
        {u"<item name='x'/>", {"Start(item)", "Attr(name=x)", "TagEnd(item)", "End"}},
        {u"a &amp; b", {"Word(a)", "Space( )", "Word(&)", "Space( )", "Word(b)", "End"}},
        {u"&amp;x", {"Word(&x)", "End"}},
        {u"&lt;&gt;&apos;&quot;", {"Word(<)", "Word(>)", "Word(')", "Word(\")", "End"}}, // each reference starts a word
        {u"&nbsp;x", {"Word(&nbsp;x)", "End"}},
        {u"&#65;", {"Word(&#65;)", "End"}}, // numeric references come through as written
        {u"&ab", {"Word(&ab)", "End"}},
        // A character other than ";" that ends a name is kept: a lone "&"
        // never swallows the blank or the tag after it.
        {u"Rock & Roll", {"Word(Rock)", "Space( )", "Word(&)", "Space( )", "Word(Roll)", "End"}},
        {u"x&</i>", {"Word(x)", "Word(&)", "TagEnd(i)", "End"}},
        {u"&amp x", {"Word(&)", "Space( )", "Word(x)", "End"}},
        {u"&amp&lt;", {"Word(&)", "Word(<)", "End"}},
        {u"<a href=\"x&amp;y\">", {"Start(a)", "Attr(href=x&amp;y)", "HeadEnd(a)", "End"}},
        {u"<!--x-->", {"CommentStart", "Data(x)", "CommentEnd", "End"}},
        {u"<!---->", {"CommentStart", "Data()", "CommentEnd", "End"}},
        {u"<![CDATA[a<b]]>c", {"CDataStart", "Data(a<b)", "CDataEnd", "Word(c)", "End"}},
        {u"<!ENTITY e \"a>b\">x", {"EntityStart", "Data( e \"a>b\")", "EntityEnd", "Word(x)", "End"}},
        {u"<!--x", {"CommentStart", "End"}},
        {u"<a b=\"unterminated", {"Start(a)", "Error", "End"}},
        {u"</item >", {"TagEnd(item)", "End"}},
        {u"</item x>", {"Error", "Word(>)", "End"}},
        {u"<a b c=d e = 'f' g>",
         {"Start(a)", "Attr(b=)", "Attr(c=d)", "Attr(e=f)", "Attr(g=)", "HeadEnd(a)", "End"}},
        {u"<a b=c>", {"Start(a)", "Attr(b=c)", "HeadEnd(a)", "End"}},
        {u"<a/x>", {"Start(a)", "Error", "Attr(x=)", "HeadEnd(a)", "End"}},
        {u"<a <b>", {"Start(a)", "Error", "Attr(b=)", "HeadEnd(a)", "End"}},
        {u"<?xml version=\"1.0\"?>",
         {"Start(?xml)", "Attr(version=1.0)", "Attr(?=)", "HeadEnd(?xml)", "End"}},
        {u"<", {"Error", "End"}},
        {u"<a", {"Error", "End"}},
        {u"<a ", {"Error", "End"}},
        {u"<a b", {"Start(a)", "End"}},
        {u"<a b=", {"Start(a)", "Error", "End"}},
        {u" \t\r\n\f x", {"Space( \t\r\n\f )", "Word(x)", "End"}},
        {u"<R><Entry REF=\"u\"/></R>",
         {"Start(R)", "HeadEnd(R)", "Start(Entry)", "Attr(REF=u)", "TagEnd(Entry)", "TagEnd(R)", "End"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scan(c.input), c.tokens) << narrow(c.input);
    }
}

TEST(XHScanner, LimitsCutNamesAndValues)
{
    const std::u16string longWord(2000, u'w');
    EXPECT_EQ(scan(longWord + u" x"), (Tokens{"Word(" + std::string(1023, 'w') + ")", "Space( )", "Word(x)", "End"}));

    const std::u16string longName(300, u'n');
    EXPECT_EQ(scan(u"<" + longName + u" " + longName + u"=v>"),
              (Tokens{"Start(" + std::string(127, 'n') + ")", "Attr(" + std::string(127, 'n') + "=v)",
                      "HeadEnd(" + std::string(127, 'n') + ")", "End"}));

    // Long comment content arrives in chunks of 1023 characters.
    const std::u16string content(2500, u'c');
    EXPECT_EQ(scan(u"<!--" + content + u"-->"),
              (Tokens{"CommentStart", "Data(" + std::string(1023, 'c') + ")", "Data(" + std::string(1023, 'c') + ")",
                      "Data(" + std::string(454, 'c') + ")", "CommentEnd", "End"}));

    // A terminator split across two chunks is not seen: the scan runs on.
    const std::u16string split = std::u16string(1022, u'c') + u"-->tail";
    const Tokens tokens = scan(u"<!--" + split);
    EXPECT_EQ(tokens.front(), "CommentStart");
    EXPECT_EQ(tokens.back(), "End");
    EXPECT_EQ(tokens.size(), 3u); // one Data chunk, then the end of input; no CommentEnd
}

TEST(XHScanner, EndsAtU0000AndReportsTheLastToken)
{
    const std::u16string text(u"ab\0<c>", 6);
    EXPECT_EQ(scan(text), (Tokens{"Word(ab)", "End"}));

    const std::u16string word = u"x";
    cXHScannerStringInputStream stream(word);
    cXHScanner scanner(stream);
    EXPECT_EQ(scanner.getToken(), cXHScanner::TokenWord);
    EXPECT_EQ(scanner.getLastToken(), cXHScanner::TokenWord);
    EXPECT_EQ(scanner.getToken(), cXHScanner::TokenEnd);
    EXPECT_EQ(scanner.getToken(), cXHScanner::TokenEnd); // stays at the end
}

TEST(XHScanner, EscapedTextReadsBackUnchanged)
{
    const std::u16string texts[] = {
        u"plain words", u"Radio \"Classic\"", u"It's", u"x < y > z", u"R&B", u"&amp; as text", u"a</item><item b=\"c\">",
        u"&", u"<!-- not a comment -->", u"\"'<>&",
    };
    for (const std::u16string& text : texts) {
        SCOPED_TRACE(toUtf8(text));
        const std::u16string markup =
            u"<item name=\"" + escapeMarkup(text, true) + u"\">" + escapeMarkup(text, false) + u"</item>";
        cXHScannerStringInputStream stream(markup);
        cXHScanner scanner(stream);
        std::u16string attribute;
        std::u16string content;
        int ends = 0;
        for (int token = scanner.getToken(); token != cXHScanner::TokenEnd; token = scanner.getToken()) {
            if (token == cXHScanner::TokenAttribute) {
                attribute = decodeAttributeValue(scanner.getValue());
            } else if (token == cXHScanner::TokenWord || token == cXHScanner::TokenSpace) {
                content += scanner.getValue();
            } else if (token == cXHScanner::TokenTagEnd) {
                ++ends;
            }
        }
        EXPECT_EQ(attribute, text);
        EXPECT_EQ(content, text);
        EXPECT_EQ(ends, 1);
    }
    // Text without markup characters is written as it is.
    EXPECT_EQ(escapeMarkup(u"Radio 1 - News, it's 24/7", true), u"Radio 1 - News, it's 24/7");
    EXPECT_EQ(escapeMarkup(u"say \"hi\"", false), u"say \"hi\"");
    // Values written before escaping: a lone or unknown reference stays.
    EXPECT_EQ(decodeAttributeValue(u"R&B &nbsp; &amp &lt;&gt;&quot;&apos;&amp;amp;"), u"R&B &nbsp; &amp <>\"'&amp;");
}
