#include "catalogue/NameSearch.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <glib.h>
#include <sqlite3.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "catalogue/CatalogueConnection.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"

namespace {

// --- folding --------------------------------------------------------------

// Latin, Greek, Cyrillic and the combining accents all lie below U+2000;
// the table covers that range and leaves everything above it alone.
constexpr char16_t TableEnd = 0x2000;

// One entry per code unit: 0 drops it, otherwise the low 16 bits are the
// first unit of its folded form and the high 16 bits a second one (or 0).
using tFoldTable = std::array<uint32_t, TableEnd>;

bool isFoldedScript(gunichar c)
{
    return c <= 0x024F                     // Basic Latin to Latin Extended-B
           || (c >= 0x0370 && c <= 0x03FF) // Greek and Coptic
           || (c >= 0x0400 && c <= 0x052F) // Cyrillic and its supplement
           || (c >= 0x1E00 && c <= 0x1FFF); // Latin Extended Additional, Greek Extended
}

// Letters that carry their mark in their shape, with no decomposition to
// strip it from, and the ligatures that people type as two letters.
uint32_t plainLetter(gunichar c)
{
    switch (c) {
    case 0x00DF: return u's' | (u's' << 16); // ß
    case 0x00E6: return u'a' | (u'e' << 16); // æ
    case 0x0153: return u'o' | (u'e' << 16); // œ
    case 0x00F8: return u'o';                // ø
    case 0x00F0: return u'd';                // ð
    case 0x0111: return u'd';                // đ
    case 0x0127: return u'h';                // ħ
    case 0x0131: return u'i';                // ı
    case 0x0142: return u'l';                // ł
    case 0x0140: return u'l';                // ŀ
    case 0x0167: return u't';                // ŧ
    case 0x017F: return u's';                // ſ
    case 0x0180: return u'b';                // ƀ
    case 0x01E5: return u'g';                // ǥ
    case 0x03C2: return 0x03C3;              // final sigma
    default: return 0;
    }
}

// Cyrillic letters written with a mark that are letters of their own in
// the alphabets that use them (й, ё, ї, ў, ѓ, ќ, and those of Chuvash,
// Mari, Udmurt, Tajik and others): only their case folds. The grave of ѐ
// and ѝ and the double grave of ѷ mark a stress and fold away.
bool isCyrillicLetterOfItsOwn(gunichar c)
{
    if (c < 0x0400 || c > 0x052F) {
        return false;
    }
    switch (c) {
    case 0x0400: case 0x0450: // Ѐ ѐ
    case 0x040D: case 0x045D: // Ѝ ѝ
    case 0x0476: case 0x0477: // Ѷ ѷ
        return false;
    default:
        break;
    }
    gunichar decomposed[G_UNICHAR_MAX_DECOMPOSITION_LENGTH];
    return g_unichar_fully_decompose(c, FALSE, decomposed, G_UNICHAR_MAX_DECOMPOSITION_LENGTH) > 1;
}

tFoldTable makeFoldTable()
{
    tFoldTable table{};
    for (gunichar c = 0; c < TableEnd; ++c) {
        if (c >= 0x0300 && c <= 0x036F) {
            table[c] = 0; // a combining accent
            continue;
        }
        if (c == 0 || !isFoldedScript(c)) {
            table[c] = c;
            continue;
        }
        if (isCyrillicLetterOfItsOwn(c)) {
            table[c] = g_unichar_tolower(c);
            continue;
        }
        // The base letter of the canonical decomposition (its marks are
        // what the search ignores), in lower case.
        gunichar decomposed[G_UNICHAR_MAX_DECOMPOSITION_LENGTH];
        const gsize parts = g_unichar_fully_decompose(c, FALSE, decomposed, G_UNICHAR_MAX_DECOMPOSITION_LENGTH);
        gunichar folded = g_unichar_tolower(parts > 0 ? decomposed[0] : c);
        if (folded == 0 || folded > 0xFFFF || (folded >= 0xD800 && folded <= 0xDFFF)) {
            folded = c;
        }
        const uint32_t plain = plainLetter(folded);
        table[c] = plain != 0 ? plain : folded;
    }
    return table;
}

const tFoldTable& foldTable()
{
    static const tFoldTable table = makeFoldTable();
    return table;
}

void appendFolded(std::u16string_view text, std::u16string& out)
{
    const tFoldTable& table = foldTable();
    char16_t previous = 0; // the unit before c in text
    for (const char16_t c : text) {
        const char16_t before = previous;
        previous = c;
        if (c >= TableEnd) {
            out.push_back(c);
            continue;
        }
        const uint32_t entry = table[c];
        if (entry == 0) {
            // A mark typed after its Cyrillic letter (и and a breve) is the
            // letter of its own that the two compose (й), as typed whole.
            gunichar composed = 0;
            if (before >= 0x0400 && before <= 0x052F && !out.empty() &&
                g_unichar_compose(before, c, &composed) && isCyrillicLetterOfItsOwn(composed)) {
                out.back() = static_cast<char16_t>(g_unichar_tolower(composed));
                previous = static_cast<char16_t>(composed);
            }
            continue;
        }
        out.push_back(static_cast<char16_t>(entry & 0xFFFF));
        if (entry >> 16) {
            out.push_back(static_cast<char16_t>(entry >> 16));
        }
    }
}

// --- scanning -------------------------------------------------------------

// The first position at or after from where unit stands, or text.size().
// Most of a search is spent here, over a whole catalogue's names.
size_t findUnit(std::u16string_view text, char16_t unit, size_t from)
{
    const char16_t* data = text.data();
    const size_t size = text.size();
    size_t i = from;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(unit));
    for (; i + 8 <= size; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(units, wanted));
        if (mask != 0) {
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
        }
    }
#endif
    for (; i < size; ++i) {
        if (data[i] == unit) {
            return i;
        }
    }
    return size;
}

} // namespace

std::u16string foldForSearch(std::u16string_view text)
{
    std::u16string folded;
    folded.reserve(text.size());
    appendFolded(text, folded);
    return folded;
}

// --- cNameIndex -------------------------------------------------------------

cNameIndex::cNameIndex(std::vector<std::u16string> names)
    : mNames(std::move(names))
{
    size_t length = mNames.size();
    for (const std::u16string& name : mNames) {
        length += name.size();
    }
    mFolded.reserve(length + length / 16);
    mStarts.reserve(mNames.size() + 1);
    for (const std::u16string& name : mNames) {
        mStarts.push_back(static_cast<uint32_t>(mFolded.size()));
        appendFolded(name, mFolded);
        mFolded.push_back(u'\0');
    }
    mStarts.push_back(static_cast<uint32_t>(mFolded.size()));

    mUtf8.reserve(length);
    mUtf8Starts.reserve(mNames.size() + 1);
    for (const std::u16string& name : mNames) {
        mUtf8Starts.push_back(static_cast<uint32_t>(mUtf8.size()));
        if (std::all_of(name.begin(), name.end(), [](char16_t c) { return c != 0 && c < 0x80; })) {
            mUtf8.append(name.begin(), name.end());
        } else {
            // A name cut at a zero or holding a lone surrogate (the file's
            // text is converted leniently) shows as the list would show it.
            mUtf8 += kestrel::toUtf8(kestrel::repairUtf16(name));
        }
        mUtf8.push_back('\0');
    }
    mUtf8Starts.push_back(static_cast<uint32_t>(mUtf8.size()));
}

void cNameIndex::utf8Rows(const std::vector<uint32_t>& rows, std::string& texts, std::vector<size_t>& starts) const
{
    size_t length = 0;
    for (const uint32_t row : rows) {
        length += mUtf8Starts[row + 1] - mUtf8Starts[row];
    }
    texts.clear();
    texts.resize(length);
    starts.clear();
    starts.resize(rows.size() + 1);
    size_t at = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const uint32_t row = rows[i];
        const size_t size = mUtf8Starts[row + 1] - mUtf8Starts[row];
        starts[i] = at;
        std::memcpy(texts.data() + at, mUtf8.data() + mUtf8Starts[row], size);
        at += size;
    }
    starts[rows.size()] = at;
}

bool cNameIndex::rowContains(uint32_t row, std::u16string_view folded) const
{
    const std::u16string_view name(mFolded.data() + mStarts[row], mStarts[row + 1] - mStarts[row] - 1);
    return name.find(folded) != std::u16string_view::npos;
}

void cNameIndex::find(std::u16string_view folded, std::vector<uint32_t>& rows) const
{
    rows.clear();
    const uint32_t count = static_cast<uint32_t>(mNames.size());
    if (folded.empty()) {
        rows.resize(count);
        for (uint32_t row = 0; row < count; ++row) {
            rows[row] = row;
        }
        return;
    }
    // One pass over the whole buffer for the first unit of the text; where
    // the rest follows, the row is found from the position (rows only move
    // forward) and the scan goes on after that row's end.
    const std::u16string_view all(mFolded);
    const std::u16string_view rest = folded.substr(1);
    uint32_t row = 0;
    size_t at = findUnit(all, folded[0], 0);
    while (at < all.size()) {
        if (all.compare(at + 1, rest.size(), rest) == 0) {
            while (mStarts[row + 1] <= at) {
                ++row;
            }
            rows.push_back(row);
            at = mStarts[row + 1];
        } else {
            ++at;
        }
        at = findUnit(all, folded[0], at);
    }
}

void cNameIndex::narrow(std::u16string_view folded, const std::vector<uint32_t>& within,
                        std::vector<uint32_t>& rows) const
{
    rows.clear();
    for (const uint32_t row : within) {
        if (rowContains(row, folded)) {
            rows.push_back(row);
        }
    }
}

// --- cNameSearch --------------------------------------------------------------

void cNameSearch::setIndex(std::shared_ptr<const cNameIndex> index)
{
    mIndex = std::move(index);
    search(false);
}

void cNameSearch::setCatalogueFilters(cPlayerDatabase& database, const std::u16string& country,
                                      const std::u16string& type, std::function<void()> ready)
{
    if (country == u"*" && type == u"*") {
        setIndex(database.nameIndex(std::move(ready)));
        return;
    }
    std::vector<std::u16string> names;
    database.names(country, type, names);
    setNames(std::move(names));
}

void cNameSearch::setNames(std::vector<std::u16string> names)
{
    setIndex(std::make_shared<const cNameIndex>(std::move(names)));
}

void cNameSearch::setText(const std::u16string& text)
{
    std::u16string folded = foldForSearch(text);
    // Every name that contains the new text contains the old one too.
    const bool narrowing = !mFolded.empty() && folded.find(mFolded) != std::u16string::npos;
    mText = text;
    mFolded = std::move(folded);
    search(narrowing);
}

void cNameSearch::search(bool narrowing)
{
    if (!mIndex) {
        mMatches.clear();
        return;
    }
    if (narrowing) {
        mIndex->narrow(mFolded, mMatches, mScratch);
        mMatches.swap(mScratch);
    } else {
        mIndex->find(mFolded, mMatches);
    }
}

std::vector<std::u16string> cNameSearch::matchingNames() const
{
    std::vector<std::u16string> names;
    if (!mIndex) {
        return names;
    }
    names.reserve(mMatches.size());
    for (const uint32_t row : mMatches) {
        names.push_back(mIndex->name(row));
    }
    return names;
}

// --- cNameIndexTask -----------------------------------------------------------

cNameIndexTask::cNameIndexTask(std::string nativePath)
    : mPath(std::move(nativePath))
{
}

cNameIndexTask::~cNameIndexTask()
{
    requestStop();
    join();
}

std::shared_ptr<const cNameIndex> cNameIndexTask::index()
{
    kestrel::cScopedLock lock(mLock);
    return mIndex;
}

bool cNameIndexTask::whenReady(std::function<void()> ready)
{
    kestrel::cScopedLock lock(mLock);
    if (mIndex) {
        return false;
    }
    mListeners.push_back(std::move(ready));
    return true;
}

void cNameIndexTask::execute()
{
    std::vector<std::u16string> names;
    std::string problem;
    sqlite3* connection = openCatalogueConnection(mPath, problem);
    if (!connection) {
        kestrel::logWarning("catalogue", "name index: cannot open " + mPath + ": " + problem);
    } else {
        // The statement of the browser's list of every name, so that the
        // rows come in the same order.
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(connection, "select name from channels group by name;", -1, &statement, nullptr) ==
                SQLITE_OK &&
            statement) {
            int result = SQLITE_ROW;
            while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
                if (getState() == kestrel::TaskStopRequested) {
                    break;
                }
                names.push_back(
                    kestrel::repairUtf16(static_cast<const char16_t*>(sqlite3_column_text16(statement, 0))));
            }
            if (result != SQLITE_ROW && result != SQLITE_DONE) {
                kestrel::logWarning("catalogue", "name index: reading the names of " + mPath +
                                                     " ended early: " + sqlite3_errmsg(connection));
            }
        } else {
            kestrel::logWarning("catalogue", "name index: cannot read the names of " + mPath + ": " +
                                                 sqlite3_errmsg(connection));
        }
        sqlite3_finalize(statement);
        sqlite3_close(connection);
    }
    if (getState() == kestrel::TaskStopRequested) {
        return;
    }
    auto index = std::make_shared<const cNameIndex>(std::move(names));
    std::vector<std::function<void()>> listeners;
    {
        kestrel::cScopedLock lock(mLock);
        mIndex = std::move(index);
        listeners.swap(mListeners);
    }
    for (const std::function<void()>& ready : listeners) {
        ready();
    }
}

void cNameSearch::matchingUtf8(std::string& texts, std::vector<size_t>& starts) const
{
    if (!mIndex) {
        texts.clear();
        starts.assign(1, 0);
        return;
    }
    mIndex->utf8Rows(mMatches, texts, starts);
}
