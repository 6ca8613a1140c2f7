#include "catalogue/ChannelLists.h"
#include "catalogue/DistinctRows.h"

#include <unordered_set>

#include <Poco/SHA1Engine.h>

#include "fetch/Fetch.h"
#include "catalogue/M3uImport.h"
#include "catalogue/PlayerDatabase.h"

namespace {

// FNV-1a, 64 bits: a short, stable file name for a source.
uint64_t fnv1a(const std::string& text)
{
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string hex64(uint64_t value)
{
    static const char Digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i) {
        text[static_cast<size_t>(i)] = Digits[value & 0xF];
        value >>= 4;
    }
    return text;
}

} // namespace

bool isListAddress(const std::string& source)
{
    return isWebAddress(source);
}

bool readListSource(const std::string& source, const cUpdateLimits& limits, const std::function<bool()>& stop,
                    std::string& text, std::string& error)
{
    text.clear();
    std::string raw;
    if (isListAddress(source)) {
        const cFetchLimits fetchLimits = webSourceLimits(limits.networkTimeoutMs, limits.listDeadlineMs,
                                                         limits.maxListBytes, limits.maxRedirects);
        try {
            fetchAddress(source, fetchLimits,
                         [&raw](const char* data, size_t size) { raw.append(data, size); }, stop);
        } catch (const cFetchFailure& failure) {
            error = failure.what();
            return false;
        }
    } else if (source.find("://") != std::string::npos) {
        error = source + " is neither a file nor an http or https address";
        return false;
    } else if (!readPlaylist(source, raw, error)) {
        return false;
    }
    if (looksGzipped(raw)) {
        std::string problem;
        if (!gunzip(raw, limits.maxListBytes, text, problem)) {
            error = source + ": " + problem;
            return false;
        }
    } else {
        text.swap(raw);
    }
    return true;
}

std::u16string listCopyPath(const std::u16string& channelFolder, const std::string& source)
{
    const std::string name = hex64(fnv1a(source)) + ".m3u";
    return channelFolder + u"/lists/" + std::u16string(name.begin(), name.end());
}

std::vector<cListingEntry> mergeLists(std::vector<std::vector<cListingEntry>>&& lists)
{
    std::vector<cListingEntry> rows;
    cDistinctRows seen(rows);
    for (std::vector<cListingEntry>& list : lists) {
        for (cListingEntry& row : list) {
            if (seen.isNew(row.country, row.type, row.name, row.address)) {
                rows.push_back(std::move(row));
                seen.remember(rows.size() - 1);
            }
        }
        // Each list's rows go as soon as they are merged.
        std::vector<cListingEntry>().swap(list);
    }
    return rows;
}

std::string rowsDigest(const std::vector<cListingEntry>& rows)
{
    Poco::SHA1Engine engine;
    for (const cListingEntry& row : rows) {
        for (const std::string* field : {&row.country, &row.type, &row.name, &row.description, &row.address}) {
            engine.update(*field);
            engine.update('\0');
        }
        // Rows without headers digest as they always did; a change of
        // headers alone installs the catalogue again.
        if (!row.headers.empty()) {
            for (const std::string* field : {&row.headers.userAgent, &row.headers.referrer, &row.headers.origin}) {
                engine.update('\t');
                engine.update(*field);
            }
        }
        // Likewise the guide id: a different character marks it, so that
        // it never digests like a header.
        if (!row.guideId.empty()) {
            engine.update('\v');
            engine.update(row.guideId);
        }
        if (row.guideShiftMinutes != 0) {
            engine.update('\f');
            engine.update(std::to_string(row.guideShiftMinutes));
        }
        engine.update('\n');
    }
    return Poco::DigestEngine::digestToHex(engine.digest());
}
