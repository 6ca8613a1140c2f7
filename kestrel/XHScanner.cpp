#include "kestrel/XHScanner.h"

namespace kestrel {

namespace {

bool isAsciiAlphanumeric(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

bool nameIs(const char16_t* name, int length, const char16_t* expected)
{
    int i = 0;
    for (; expected[i] != 0; ++i) {
        if (i >= length || name[i] != expected[i]) {
            return false;
        }
    }
    return i == length;
}

} // namespace

cXHScanner::cXHScanner(cInputStream& stream) : mStream(stream) {}

char16_t cXHScanner::resolveEntity(const char16_t*, int) { return 0; }

bool cXHScanner::isWhiteSpace(char16_t c)
{
    return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}

char16_t cXHScanner::nextChar()
{
    if (mPushedBack != 0) {
        const char16_t c = mPushedBack;
        mPushedBack = 0;
        return c;
    }
    return mStream.getChar();
}

char16_t cXHScanner::skipWhiteSpace()
{
    char16_t c;
    do {
        c = nextChar();
    } while (c != 0 && isWhiteSpace(c));
    return c;
}

// Characters beyond a full buffer are dropped; the input is still consumed.
void cXHScanner::appendValue(char16_t c)
{
    if (mValueLength < MaxValueLength) {
        mValue[mValueLength++] = c;
        mValue[mValueLength] = 0;
    }
}

void cXHScanner::appendTagName(char16_t c)
{
    if (mTagNameLength < MaxNameLength) {
        mTagName[mTagNameLength++] = c;
        mTagName[mTagNameLength] = 0;
    }
}

void cXHScanner::appendAttrName(char16_t c)
{
    if (mAttrNameLength < MaxNameLength) {
        mAttrName[mAttrNameLength++] = c;
        mAttrName[mAttrNameLength] = 0;
    }
}

int cXHScanner::getToken()
{
    int token;
    switch (mState) {
    case StateTagHead:
        token = scanTagHead();
        break;
    case StateComment:
    case StateCData:
    case StateEntityDecl:
        token = scanContent(mState);
        break;
    case StateText:
    default:
        token = scanText();
        break;
    }
    mLastToken = token;
    return token;
}

int cXHScanner::scanText()
{
    mValueLength = 0;
    mValue[0] = 0;
    char16_t c = nextChar();
    if (c == 0) {
        return TokenEnd;
    }
    if (c == u'<') {
        return scanTag();
    }
    bool spaceRun = false;
    // A character that ended an entity name and belongs to the text after
    // it; 0 when there is none.
    char16_t held = 0;
    if (c == u'&') {
        held = scanEntityReference();
    } else {
        spaceRun = isWhiteSpace(c);
        appendValue(c);
    }
    // The run goes on straight from the stream: the ";" that ended an
    // entity name is dropped. Callers rely on it.
    for (;;) {
        char16_t next = held;
        held = 0;
        if (next == 0) {
            next = mStream.getChar();
        }
        if (next == 0 || next == u'<' || next == u'&' || isWhiteSpace(next) != spaceRun) {
            pushBack(next);
            break;
        }
        appendValue(next);
    }
    return spaceRun ? TokenSpace : TokenWord;
}

char16_t cXHScanner::scanEntityReference()
{
    char16_t name[32];
    int length = 0;
    char16_t end = 0; // what ended the name; 0 at the end of the input or the length limit
    while (length < 31) {
        const char16_t c = mStream.getChar();
        if (c == 0 || !isAsciiAlphanumeric(c)) {
            end = c;
            break;
        }
        name[length++] = c;
    }
    name[length] = 0;
    char16_t decoded = 0;
    if (end != 0) {
        if (nameIs(name, length, u"gt")) {
            decoded = u'>';
        } else if (nameIs(name, length, u"lt")) {
            decoded = u'<';
        } else if (nameIs(name, length, u"amp")) {
            decoded = u'&';
        } else if (nameIs(name, length, u"apos")) {
            decoded = u'\'';
        } else if (nameIs(name, length, u"quot")) {
            decoded = u'"';
        } else {
            decoded = resolveEntity(name, length);
        }
    }
    if (decoded != 0) {
        appendValue(decoded);
    } else {
        // Unknown, or cut off by the end of the input: comes through as
        // written, a closing ";" included.
        appendValue(u'&');
        for (int i = 0; i < length; ++i) {
            appendValue(name[i]);
        }
        if (end == u';') {
            appendValue(u';');
        }
    }
    // Anything but ";" (a blank, "<", another "&") is text of its own and
    // must not be lost: a lone "&" before a closing tag keeps that tag.
    return end == u';' ? 0 : end;
}

int cXHScanner::scanTag()
{
    mTagNameLength = 0;
    mTagName[0] = 0;
    char16_t c = nextChar();
    bool closing = false;
    if (c == u'/') {
        closing = true;
        c = nextChar();
    }
    while (c != 0) {
        if (isWhiteSpace(c)) {
            c = skipWhiteSpace();
            break;
        }
        if (c == u'/' || c == u'>') {
            break;
        }
        appendTagName(c);
        if (nameIs(mTagName, mTagNameLength, u"!--")) {
            mState = StateComment;
            return TokenCommentStart;
        }
        if (nameIs(mTagName, mTagNameLength, u"!ENTITY")) {
            mState = StateEntityDecl;
            return TokenEntityStart;
        }
        if (nameIs(mTagName, mTagNameLength, u"![CDATA[")) {
            mState = StateCData;
            return TokenCDataStart;
        }
        c = nextChar();
    }
    if (c == 0) {
        return TokenError;
    }
    if (closing) {
        return c == u'>' ? TokenTagEnd : TokenError;
    }
    pushBack(c);
    mState = StateTagHead;
    return TokenTagStart;
}

int cXHScanner::scanTagHead()
{
    char16_t c = skipWhiteSpace();
    if (c == u'>') {
        mState = StateText;
        return TokenTagHeadEnd;
    }
    if (c == u'/') {
        const char16_t next = nextChar();
        if (next == u'>') {
            mState = StateText;
            return TokenTagEnd;
        }
        pushBack(next);
        return TokenError;
    }

    mAttrNameLength = 0;
    mAttrName[0] = 0;
    mValueLength = 0;
    mValue[0] = 0;
    while (c != u'=') {
        if (c == 0) {
            return TokenEnd;
        }
        if (c == u'>') {
            pushBack(c);
            return TokenAttribute;
        }
        if (isWhiteSpace(c)) {
            c = skipWhiteSpace();
            if (c == u'=') {
                break;
            }
            pushBack(c);
            return TokenAttribute;
        }
        if (c == u'<') {
            return TokenError;
        }
        appendAttrName(c);
        c = nextChar();
    }

    c = skipWhiteSpace();
    if (c == u'"' || c == u'\'') {
        const char16_t quote = c;
        for (;;) {
            c = nextChar();
            if (c == 0) {
                return TokenError;
            }
            if (c == quote) {
                return TokenAttribute;
            }
            appendValue(c);
        }
    }
    for (;;) {
        if (c == 0) {
            return TokenError;
        }
        if (isWhiteSpace(c)) {
            return TokenAttribute;
        }
        if (c == u'>') {
            pushBack(c);
            return TokenAttribute;
        }
        appendValue(c);
        c = nextChar();
    }
}

int cXHScanner::scanContent(eState state)
{
    if (mEndSeen) {
        mEndSeen = false;
        mState = StateText;
        return state == StateComment ? TokenCommentEnd : state == StateCData ? TokenCDataEnd : TokenEntityEnd;
    }
    mValueLength = 0;
    mValue[0] = 0;
    int quotes = 0;
    while (mValueLength < MaxValueLength) {
        const char16_t c = nextChar();
        if (c == 0) {
            return TokenEnd;
        }
        if (state == StateEntityDecl) {
            if (c == u'>' && quotes % 2 == 0) {
                mEndSeen = true;
                break;
            }
            if (c == u'"') {
                ++quotes;
            }
            appendValue(c);
            continue;
        }
        appendValue(c);
        const char16_t mark = state == StateComment ? u'-' : u']';
        if (mValueLength >= 3 && mValue[mValueLength - 1] == u'>' && mValue[mValueLength - 2] == mark &&
            mValue[mValueLength - 3] == mark) {
            mValueLength -= 3;
            mValue[mValueLength] = 0;
            mEndSeen = true;
            break;
        }
    }
    return TokenData;
}

char16_t cXHScannerStringInputStream::getChar()
{
    // U+0000 ends the input for good: the stream stays on it.
    if (mPosition >= mText.size() || mText[mPosition] == 0) {
        return 0;
    }
    return mText[mPosition++];
}

std::u16string escapeMarkup(const std::u16string& text, bool quotedValue)
{
    std::u16string escaped;
    escaped.reserve(text.size());
    for (const char16_t c : text) {
        switch (c) {
        case u'&':
            escaped += u"&amp;";
            break;
        case u'<':
            escaped += u"&lt;";
            break;
        case u'>':
            escaped += u"&gt;";
            break;
        case u'"':
            escaped += quotedValue ? u"&quot;" : u"\"";
            break;
        default:
            escaped += c;
            break;
        }
    }
    return escaped;
}

std::u16string decodeAttributeValue(const char16_t* value)
{
    static const struct {
        const char16_t* reference;
        char16_t character;
    } known[] = {{u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}, {u"&apos;", u'\''}};
    std::u16string decoded;
    for (const char16_t* p = value; *p != 0;) {
        bool replaced = false;
        if (*p == u'&') {
            for (const auto& entry : known) {
                size_t i = 0;
                while (entry.reference[i] != 0 && p[i] == entry.reference[i]) {
                    ++i;
                }
                if (entry.reference[i] == 0) {
                    decoded += entry.character;
                    p += i;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            decoded += *p++;
        }
    }
    return decoded;
}

} // namespace kestrel
