#include "guide/XmltvReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "guide/GuideText.h"

namespace {

// Size of each piece read from the file into the parser. A token longer
// than a piece is scanned again with every piece that extends it, so
// pieces are large and tokens capped (maxParserBytes).
constexpr int PieceBytes = 1 << 20;
constexpr int64_t Day = 24 * 3600;

// The parser's allocations, counted against a cap. Expat's memory
// functions take no context, so the budget of the read running on this
// thread is found through a thread-local pointer.
struct cBudget {
    size_t used = 0;
    size_t cap = 0;
};
thread_local cBudget* tBudget = nullptr;

// Each block carries its size in front, aligned for any type.
constexpr size_t HeaderBytes = alignof(std::max_align_t) > sizeof(size_t) ? alignof(std::max_align_t) : sizeof(size_t);

void* budgetMalloc(size_t size)
{
    if (tBudget != nullptr && (size > tBudget->cap || tBudget->used > tBudget->cap - size)) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + HeaderBytes));
    if (block == nullptr) {
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    if (tBudget != nullptr) {
        tBudget->used += size;
    }
    return block + HeaderBytes;
}

void budgetFree(void* pointer)
{
    if (pointer == nullptr) {
        return;
    }
    unsigned char* block = static_cast<unsigned char*>(pointer) - HeaderBytes;
    size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    if (tBudget != nullptr) {
        tBudget->used -= size < tBudget->used ? size : tBudget->used;
    }
    std::free(block);
}

void* budgetRealloc(void* pointer, size_t size)
{
    if (pointer == nullptr) {
        return budgetMalloc(size);
    }
    unsigned char* block = static_cast<unsigned char*>(pointer) - HeaderBytes;
    size_t old = 0;
    std::memcpy(&old, block, sizeof old);
    if (tBudget != nullptr && size > old && (size - old > tBudget->cap || tBudget->used > tBudget->cap - (size - old))) {
        return nullptr;
    }
    auto* grown = static_cast<unsigned char*>(std::realloc(block, size + HeaderBytes));
    if (grown == nullptr) {
        return nullptr;
    }
    std::memcpy(grown, &size, sizeof size);
    if (tBudget != nullptr) {
        tBudget->used = tBudget->used - (old < tBudget->used ? old : tBudget->used) + size;
    }
    return grown + HeaderBytes;
}

const XML_Memory_Handling_Suite BudgetSuite = {budgetMalloc, budgetRealloc, budgetFree};

// Windows-1252, which some guides declare: the characters of 0x80..0x9F
// (-1 where the code page has none); the rest is Latin-1.
const int Windows1252High[32] = {0x20AC, -1,     0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, -1,     0x017D, -1,
                                 -1,     0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, -1,     0x017E, 0x0178};

int onUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info)
{
    const std::string folded = foldGuideId(name ? name : "");
    if (folded != "windows-1252" && folded != "cp1252") {
        return XML_STATUS_ERROR;
    }
    for (int i = 0; i < 256; ++i) {
        info->map[i] = i >= 0x80 && i < 0xA0 ? Windows1252High[i - 0x80] : i;
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

enum class eField { None, DisplayName, Title, SubTitle, Description, Category };

void trim(std::string& text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    size_t end = text.size();
    while (end > 0 && blank(text[end - 1])) {
        --end;
    }
    size_t begin = 0;
    while (begin < end && blank(text[begin])) {
        ++begin;
    }
    text = text.substr(begin, end - begin);
}

class cReader {
public:
    cReader(const cXmltvCaps& caps, const cXmltvWindow& window, const cXmltvSink& sink, XML_Parser parser)
        : mCaps(caps), mWindow(window), mSink(sink), mParser(parser)
    {
    }

    static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attributes)
    {
        static_cast<cReader*>(self)->start(name, attributes);
    }
    static void XMLCALL onEnd(void* self, const XML_Char* name)
    {
        static_cast<cReader*>(self)->end(name);
    }
    static void XMLCALL onText(void* self, const XML_Char* text, int length)
    {
        static_cast<cReader*>(self)->text(text, static_cast<size_t>(length));
    }
    static void XMLCALL onEntityDeclaration(void* self, const XML_Char*, int, const XML_Char*, int,
                                            const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*)
    {
        ++static_cast<cReader*>(self)->mEntityDeclarations;
    }
    // Receives what no other handler takes; being set, it also keeps the
    // parser from expanding internal entities in text.
    static void XMLCALL onDefault(void* self, const XML_Char* text, int length)
    {
        if (length > 1 && text[0] == '&' && text[length - 1] == ';') {
            ++static_cast<cReader*>(self)->mEntityReferences;
        }
    }

    // The reason the read was ended by this side (cap, sink failure).
    std::string mFailure;
    cXmltvResult mResult;

    void finish()
    {
        const auto note = [this](size_t count, const std::string& what) {
            if (count > 0) {
                mResult.problems.push_back(std::to_string(count) + " " + what);
            }
        };
        note(mBadTimes, "programme(s) with a start or stop time in a wrong format skipped");
        note(mMissing, "programme(s) without a channel or start skipped");
        note(mEndBeforeStart, "programme(s) that end before they start skipped");
        note(mChannelsOverCap, "channel(s) beyond the cap of " + std::to_string(mCaps.maxChannels) + " left out");
        note(mOverChannelCap, "programme(s) beyond " + std::to_string(mCaps.maxProgrammesPerChannel) +
                                  " on one channel left out");
        note(mOverTotalCap, "programme(s) beyond the cap of " + std::to_string(mCaps.maxProgrammes) + " left out");
        note(mTextsCut, "text(s) longer than their cap cut");
        note(mNamesOverCap, "display-name(s) beyond " + std::to_string(mCaps.maxNamesPerChannel) +
                                " of one channel left out");
        note(mChannelsWithoutId, "channel(s) without an id skipped");
        note(mEntityDeclarations, "entity declaration(s) ignored");
        note(mEntityReferences, "reference(s) to declared entities left out of the text");
        mResult.timesWithoutOffset = mTimesWithoutOffset;
    }

private:
    void fail(const std::string& why)
    {
        if (mFailure.empty()) {
            mFailure = why;
        }
        XML_StopParser(mParser, XML_FALSE);
    }

    static const char* attribute(const XML_Char** attributes, const char* name)
    {
        for (int i = 0; attributes[i] != nullptr; i += 2) {
            if (std::strcmp(attributes[i], name) == 0) {
                return attributes[i + 1];
            }
        }
        return nullptr;
    }

    // Counts a channel id; false when it would exceed the cap.
    uint32_t* channelCount(const std::string& id)
    {
        auto found = mPerChannel.find(id);
        if (found != mPerChannel.end()) {
            return &found->second;
        }
        if (mPerChannel.size() >= mCaps.maxChannels) {
            return nullptr;
        }
        return &mPerChannel.emplace(id, 0).first->second;
    }

    void start(const XML_Char* name, const XML_Char** attributes)
    {
        ++mDepth;
        if (mDepth > mCaps.maxDepth) {
            fail("elements nested deeper than " + std::to_string(mCaps.maxDepth));
            return;
        }
        if (mDepth == 1) {
            if (std::strcmp(name, "tv") != 0) {
                fail("not an XMLTV guide (the document is a <" + std::string(name).substr(0, 64) + ">)");
            }
            return;
        }
        if (mDepth == 2) {
            if (std::strcmp(name, "channel") == 0) {
                mInChannel = true;
                mChannel = cXmltvChannel();
                const char* id = attribute(attributes, "id");
                mChannel.id = id ? id : "";
                trim(mChannel.id);
                keep(mChannel.id, mCaps.maxIdBytes);
            } else if (std::strcmp(name, "programme") == 0) {
                mInProgramme = true;
                mProgramme = cXmltvProgramme();
                const char* channel = attribute(attributes, "channel");
                const char* start = attribute(attributes, "start");
                const char* stop = attribute(attributes, "stop");
                mProgramme.channel = channel ? channel : "";
                trim(mProgramme.channel);
                keep(mProgramme.channel, mCaps.maxIdBytes);
                mProgrammeStart = start ? start : "";
                mProgrammeStop = stop ? stop : "";
                mHasStop = stop != nullptr;
                mHasStart = start != nullptr;
                mSeen = 0;
            }
            return;
        }
        if (mDepth != 3 || mField != eField::None) {
            return;
        }
        if (mInChannel && std::strcmp(name, "display-name") == 0) {
            beginField(eField::DisplayName);
        } else if (mInProgramme) {
            // The first of each kind counts (guides give one per language).
            static const struct {
                const char* element;
                eField field;
                unsigned bit;
            } Fields[] = {{"title", eField::Title, 1},
                          {"sub-title", eField::SubTitle, 2},
                          {"desc", eField::Description, 4},
                          {"category", eField::Category, 8}};
            for (const auto& field : Fields) {
                if (std::strcmp(name, field.element) == 0 && (mSeen & field.bit) == 0) {
                    mSeen |= field.bit;
                    beginField(field.field);
                }
            }
        }
    }

    void beginField(eField field)
    {
        mField = field;
        mFieldText.clear();
        mFieldCap = field == eField::DisplayName   ? mCaps.maxNameBytes
                    : field == eField::Description ? mCaps.maxDescriptionBytes
                    : field == eField::Category    ? mCaps.maxCategoryBytes
                                                   : mCaps.maxTitleBytes;
    }

    // Cuts an attribute text to its cap.
    void keep(std::string& text, size_t cap)
    {
        if (text.size() > cap) {
            cutUtf8(text, cap);
            ++mTextsCut;
        }
    }

    void text(const char* data, size_t length)
    {
        if (mField == eField::None) {
            return;
        }
        // A few bytes beyond the cap, so that the cut can find where the
        // character at the cap begins; the rest of a long text is dropped
        // as it arrives.
        const size_t room = mFieldCap + 4;
        if (mFieldText.size() < room) {
            mFieldText.append(data, std::min(length, room - mFieldText.size()));
        }
    }

    void endField()
    {
        trim(mFieldText);
        keep(mFieldText, mFieldCap);
        switch (mField) {
        case eField::DisplayName:
            if (mFieldText.empty()) {
                break;
            }
            if (mChannel.names.size() < mCaps.maxNamesPerChannel) {
                mChannel.names.push_back(mFieldText);
            } else {
                ++mNamesOverCap;
            }
            break;
        case eField::Title:
            mProgramme.title = mFieldText;
            break;
        case eField::SubTitle:
            mProgramme.subTitle = mFieldText;
            break;
        case eField::Description:
            mProgramme.description = mFieldText;
            break;
        case eField::Category:
            mProgramme.category = mFieldText;
            break;
        case eField::None:
            break;
        }
        mField = eField::None;
    }

    void end(const XML_Char*)
    {
        if (mDepth == 3 && mField != eField::None) {
            endField();
        } else if (mDepth == 2 && mInChannel) {
            mInChannel = false;
            endChannel();
        } else if (mDepth == 2 && mInProgramme) {
            mInProgramme = false;
            endProgramme();
        }
        --mDepth;
    }

    void endChannel()
    {
        if (mChannel.id.empty()) {
            ++mChannelsWithoutId;
            return;
        }
        if (channelCount(mChannel.id) == nullptr) {
            ++mChannelsOverCap;
            return;
        }
        deliver([this] {
            mSink.channel(mChannel);
            ++mResult.channels;
        });
    }

    void endProgramme()
    {
        if (mProgramme.channel.empty() || !mHasStart) {
            ++mMissing;
            return;
        }
        const std::optional<cXmltvTime> start = parseXmltvTime(mProgrammeStart);
        std::optional<cXmltvTime> stop;
        if (mHasStop) {
            stop = parseXmltvTime(mProgrammeStop);
        }
        if (!start || (mHasStop && !stop)) {
            ++mBadTimes;
            return;
        }
        mTimesWithoutOffset += (start->hadOffset ? 0 : 1) + (stop && !stop->hadOffset ? 1 : 0);
        mProgramme.start = start->utc;
        if (stop) {
            if (stop->utc <= start->utc) {
                ++mEndBeforeStart;
                return;
            }
            mProgramme.stop = stop->utc;
        }
        // Outside the window and too far from it to end a neighbour.
        const bool nearEnough = mProgramme.start >= mWindow.from - Day || (stop && stop->utc > mWindow.from);
        if (mProgramme.start >= mWindow.to + Day || !nearEnough) {
            return;
        }
        uint32_t* count = channelCount(mProgramme.channel);
        if (count == nullptr) {
            ++mChannelsOverCap;
            return;
        }
        if (*count >= mCaps.maxProgrammesPerChannel) {
            ++mOverChannelCap;
            return;
        }
        if (mResult.programmes >= mCaps.maxProgrammes) {
            ++mOverTotalCap;
            return;
        }
        deliver([this, count] {
            if (mSink.programme(mProgramme)) {
                ++*count;
                ++mResult.programmes;
            } else {
                ++mOverTotalCap;
            }
        });
    }

    // Hands an entry over; a failure of the receiver ends the read, as
    // no exception may cross the parser.
    template <typename tHandOver>
    void deliver(const tHandOver& handOver)
    {
        try {
            handOver();
        } catch (const std::exception& failure) {
            fail(failure.what());
        }
    }

    const cXmltvCaps& mCaps;
    const cXmltvWindow mWindow;
    const cXmltvSink& mSink;
    XML_Parser mParser;

    int mDepth = 0;
    bool mInChannel = false;
    bool mInProgramme = false;
    cXmltvChannel mChannel;
    cXmltvProgramme mProgramme;
    std::string mProgrammeStart, mProgrammeStop;
    bool mHasStart = false, mHasStop = false;
    unsigned mSeen = 0; // the programme's fields read so far, one bit each
    eField mField = eField::None;
    std::string mFieldText;
    size_t mFieldCap = 0;
    // Programmes handed over per channel id; its size is the channel count.
    std::unordered_map<std::string, uint32_t> mPerChannel;

    size_t mBadTimes = 0, mMissing = 0, mEndBeforeStart = 0, mChannelsOverCap = 0, mOverChannelCap = 0,
           mOverTotalCap = 0, mTextsCut = 0, mNamesOverCap = 0, mChannelsWithoutId = 0, mEntityDeclarations = 0,
           mEntityReferences = 0, mTimesWithoutOffset = 0;
};

// The file descriptor, closed at the end unless zlib took it.
struct cDescriptor {
    int fd = -1;
    ~cDescriptor()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

struct cParserHolder {
    XML_Parser parser = nullptr;
    ~cParserHolder()
    {
        if (parser != nullptr) {
            XML_ParserFree(parser);
        }
    }
};

struct cBudgetScope {
    explicit cBudgetScope(cBudget& budget) { tBudget = &budget; }
    ~cBudgetScope() { tBudget = nullptr; }
};

} // namespace

cXmltvResult readXmltvFile(const std::string& path, const cXmltvCaps& caps, const cXmltvWindow& window,
                           const cXmltvSink& sink, const std::function<bool()>& stop)
{
    cXmltvResult result;
    cDescriptor file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat status {};
    if (file.fd < 0 || ::fstat(file.fd, &status) != 0) {
        result.error = "cannot open " + path + ": " + std::strerror(errno);
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        result.error = path + " is not a plain file";
        return result;
    }
    if (static_cast<uint64_t>(status.st_size) > caps.maxFileBytes) {
        result.error = path + " is larger than " + std::to_string(caps.maxFileBytes) + " bytes";
        return result;
    }
    // A plain file never blocks; the flag only kept a pipe's open from
    // waiting.
    ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
    gzFile input = gzdopen(file.fd, "rb");
    if (input == nullptr) {
        result.error = "cannot read " + path;
        return result;
    }
    file.fd = -1; // gzclose closes it
    struct cGzHolder {
        gzFile input;
        ~cGzHolder() { gzclose(input); }
    } inputHolder{input};
    gzbuffer(input, 128 * 1024);

    cBudget budget;
    budget.cap = caps.maxParserBytes;
    cBudgetScope budgetScope(budget);
    cParserHolder holder;
    holder.parser = XML_ParserCreate_MM(nullptr, &BudgetSuite, nullptr);
    if (holder.parser == nullptr) {
        result.error = "cannot make an XML parser";
        return result;
    }
    XML_Parser parser = holder.parser;
    cReader reader(caps, window, sink, parser);
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(parser, cReader::onStart, cReader::onEnd);
    XML_SetCharacterDataHandler(parser, cReader::onText);
    XML_SetEntityDeclHandler(parser, cReader::onEntityDeclaration);
    XML_SetDefaultHandler(parser, cReader::onDefault);
    XML_SetUnknownEncodingHandler(parser, onUnknownEncoding, nullptr);
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);

    uint64_t total = 0;
    for (;;) {
        if (stop && stop()) {
            result.stopped = true;
            result.error = "stopped";
            return result;
        }
        void* buffer = XML_GetBuffer(parser, PieceBytes);
        if (buffer == nullptr) {
            result.error = "the XML parser's memory cap (" + std::to_string(caps.maxParserBytes) +
                           " bytes) was reached at line " + std::to_string(XML_GetCurrentLineNumber(parser));
            return result;
        }
        const int got = gzread(input, buffer, PieceBytes);
        if (got < 0) {
            int code = Z_OK;
            const char* message = gzerror(input, &code);
            result.error = path + " cannot be read: " + (message ? message : "error") +
                           (code == Z_BUF_ERROR ? " (the compressed file is cut short)" : "");
            return result;
        }
        total += static_cast<uint64_t>(got);
        if (total > caps.maxXmlBytes) {
            result.error = path + " holds more than " + std::to_string(caps.maxXmlBytes) + " bytes of XML";
            return result;
        }
        if (got == 0) {
            // zlib reports a compressed stream cut short only once its
            // input ends.
            int code = Z_OK;
            const char* message = gzerror(input, &code);
            if (code != Z_OK) {
                result.error = path + " cannot be read: " + (message ? message : "error");
                return result;
            }
        }
        if (XML_ParseBuffer(parser, got, got == 0) != XML_STATUS_OK) {
            if (!reader.mFailure.empty()) {
                result.error = reader.mFailure;
            } else if (XML_GetErrorCode(parser) == XML_ERROR_NO_MEMORY) {
                result.error = "the XML parser's memory cap (" + std::to_string(caps.maxParserBytes) +
                               " bytes) was reached at line " + std::to_string(XML_GetCurrentLineNumber(parser));
            } else {
                result.error = std::string("not well-formed XML at line ") +
                               std::to_string(XML_GetCurrentLineNumber(parser)) + ": " +
                               XML_ErrorString(XML_GetErrorCode(parser));
            }
            reader.finish();
            result.problems = reader.mResult.problems;
            return result;
        }
        if (got == 0) {
            break;
        }
    }
    reader.finish();
    cXmltvResult read = reader.mResult;
    read.whole = true;
    read.xmlBytes = total;
    return read;
}
