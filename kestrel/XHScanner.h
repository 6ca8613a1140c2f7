#pragma once
// A small, forgiving pull scanner for XML-like markup. It builds no tree and
// never throws: the caller asks for one token at a time and reads the tag
// name, attribute name and value from fixed buffers. Malformed markup gives
// TokenError and the scan goes on; every call consumes input or reports
// TokenEnd.

#include <string>

namespace kestrel {

class cXHScanner {
public:
    class cInputStream {
    public:
        // The next UTF-16 code unit, or 0 at the end of the input.
        virtual char16_t getChar() = 0;

    protected:
        ~cInputStream() = default;
    };

    enum eToken : int {
        TokenError = -1,
        TokenEnd = 0,
        TokenTagStart = 1,
        TokenTagHeadEnd = 2,
        TokenTagEnd = 3,
        TokenAttribute = 4,
        TokenWord = 5,
        TokenSpace = 6,
        TokenData = 7,
        TokenCommentStart = 8,
        TokenCommentEnd = 9,
        TokenCDataStart = 10,
        TokenCDataEnd = 11,
        TokenEntityStart = 14,
        TokenEntityEnd = 15,
    };

    static constexpr int MaxValueLength = 1023;
    static constexpr int MaxNameLength = 127;

    explicit cXHScanner(cInputStream& stream);
    virtual ~cXHScanner() = default;
    cXHScanner(const cXHScanner&) = delete;
    cXHScanner& operator=(const cXHScanner&) = delete;

    int getToken();
    int getLastToken() const { return mLastToken; }
    // Zero-terminated views into the scanner, valid until the next getToken().
    const char16_t* getValue() const { return mValue; }
    const char16_t* getTagName() const { return mTagName; }
    const char16_t* getAttrName() const { return mAttrName; }

protected:
    // A character for an entity name the scanner does not know, or 0.
    virtual char16_t resolveEntity(const char16_t* name, int length);

private:
    enum eState { StateText, StateTagHead, StateComment, StateCData, StateEntityDecl };

    char16_t nextChar();
    void pushBack(char16_t c) { mPushedBack = c; }
    char16_t skipWhiteSpace();
    static bool isWhiteSpace(char16_t c);

    void appendValue(char16_t c);
    void appendTagName(char16_t c);
    void appendAttrName(char16_t c);

    int scanText();
    int scanTag();
    int scanTagHead();
    int scanContent(eState state);
    // After "&" in text: appends what the reference stands for and returns
    // the character that ended its name when that belongs to the text that
    // follows (anything but ";"), otherwise 0.
    char16_t scanEntityReference();

    cInputStream& mStream;
    eState mState = StateText;
    int mLastToken = TokenEnd;
    char16_t mValue[MaxValueLength + 1] = {};
    int mValueLength = 0;
    char16_t mTagName[MaxNameLength + 1] = {};
    int mTagNameLength = 0;
    char16_t mAttrName[MaxNameLength + 1] = {};
    int mAttrNameLength = 0;
    char16_t mPushedBack = 0; // 0 = none
    bool mEndSeen = false;
};

class cXHScannerStringInputStream : public cXHScanner::cInputStream {
public:
    // Refers to the text, which must outlive the stream.
    explicit cXHScannerStringInputStream(const std::u16string& text) : mText(text) {}
    char16_t getChar() override;

private:
    const std::u16string& mText;
    size_t mPosition = 0;
};

// The writing side of the scanner, for files it reads back. Replaces "&",
// "<" and ">" (and, for a value written between quotation marks, the
// quotation mark) by the standard entity references; text without any of
// them comes back unchanged, byte for byte.
std::u16string escapeMarkup(const std::u16string& text, bool quotedValue);

// Attribute values come from the scanner as written: this decodes the
// references escapeMarkup writes and "&apos;". Anything else, a lone "&"
// included, stays as written, so values written before escaping read back
// as they were.
std::u16string decodeAttributeValue(const char16_t* value);

} // namespace kestrel
