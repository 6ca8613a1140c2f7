#include "playback/PlayList.h"

#include "kestrel/Exception.h"
#include "kestrel/File.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "kestrel/XHScanner.h"

#include "fetch/Fetch.h"
#include "kestrel/Application.h"

#include <algorithm>

namespace {

bool equalsIgnoringCase(const char16_t* text, const char16_t* lowerCase)
{
    for (; *lowerCase != 0; ++text, ++lowerCase) {
        char16_t c = *text;
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
        if (c != *lowerCase) {
            return false;
        }
    }
    return *text == 0;
}

// A body cut at the size cap may end inside a multi-byte character; drop
// that partial character so that the rest still converts.
void dropPartialUtf8Tail(std::string& bytes)
{
    size_t start = bytes.size();
    int continuation = 0;
    while (start > 0 && continuation < 3 && (static_cast<unsigned char>(bytes[start - 1]) & 0xC0) == 0x80) {
        --start;
        ++continuation;
    }
    if (start == 0) {
        return;
    }
    const unsigned char lead = static_cast<unsigned char>(bytes[start - 1]);
    int length = 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
    }
    if (length > 1 && continuation + 1 < length) {
        bytes.resize(start - 1);
    }
}

} // namespace

std::string describeChannel(const std::u16string& name, const std::u16string& address)
{
    const auto narrow = [](const std::u16string& text) {
        try {
            return kestrel::toUtf8(text);
        } catch (const kestrel::cException&) {
            return std::string("(not valid text)");
        }
    };
    return "\"" + narrow(name) + "\" at " + (address.empty() ? std::string("(no address)") : narrow(address));
}

cPlayList::cPlayList(const std::u16string& url, const std::u16string& name, const std::u16string& description)
    : cPlayList(url, name, description, tRequestHeaders())
{
}

cPlayList::cPlayList(const std::u16string& url, const std::u16string& name, const std::u16string& description,
                     const tRequestHeaders& requestHeaders)
    : mUrl(url), mName(name), mDescription(description), mRequestHeaders(requestHeaders)
{
    clearEntries();
    if (isAsxAddress(url)) {
        parseAsx(download(url));
    }
    addEntry(url);
}

cPlayList::~cPlayList() = default;

bool cPlayList::isAsxAddress(const std::u16string& url)
{
    return kestrel::cPath(url).getExtension() == u"asx";
}

std::u16string cPlayList::getCurrentEntry() const
{
    if (mEntries.empty()) {
        return std::u16string();
    }
    return mEntries[static_cast<size_t>(mCurrentIndex)];
}

void cPlayList::advance()
{
    ++mCurrentIndex;
    if (mCurrentIndex >= getEntryCount()) {
        mCurrentIndex = 0;
    }
}

bool cPlayList::isAtOwnPlaylist() const
{
    // A playlist without refs holds only its own address: opening it fails
    // and ends the channel, rather than fetching it over and over.
    return isAsxAddress(mUrl) && getEntryCount() > 1 && mCurrentIndex == getEntryCount() - 1;
}

void cPlayList::refetch()
{
    const std::u16string body = download(mUrl);
    clearEntries();
    parseAsx(body);
    addEntry(mUrl);
}

void cPlayList::clearEntries()
{
    mEntries.clear();
    mCurrentIndex = 0;
}

void cPlayList::addEntry(const std::u16string& url) { mEntries.push_back(url); }

std::u16string cPlayList::download(const std::u16string& url)
{
    cFetchLimits limits;
    limits.networkTimeoutMs = NetworkTimeoutSeconds * 1000;
    limits.deadlineMs = FetchDeadlineSeconds * 1000;
    // The status is not looked at: whatever body arrives, an error page
    // too, is scanned, up to the cap; the rest is not waited for.
    limits.acceptAnyStatus = true;
    // Only a channel with headers of its own sends any beyond the fetch's.
    limits.requestHeaders = mRequestHeaders;
    struct cFull {};
    std::string bytes;
    std::string address;
    try {
        // Only the path is asked for: the query and fragment stay behind,
        // as the extension rule reads the whole address.
        address = kestrel::toUtf8(url);
        address = address.substr(0, address.find_first_of("?#"));
        fetchAddress(
            address, limits,
            [&bytes](const char* data, size_t size) {
                bytes.append(data, std::min(size, MaxBodySize - bytes.size()));
                if (bytes.size() >= MaxBodySize) {
                    throw cFull();
                }
            },
            [] { return kestrel::applicationIsTerminating(); });
    } catch (const cFull&) {
        dropPartialUtf8Tail(bytes);
    } catch (const cFetchFailure& failure) {
        // The log line names the channel's address already.
        std::string why = failure.what();
        if (why.rfind(address + ": ", 0) == 0) {
            why = why.substr(address.size() + 2);
        }
        reportFetchFailure(why);
        throw cPlayListFetchFailure(playFailureOfFetch(failure, sPlayFailure::StepPlaylist));
    } catch (const cFetchStopped&) {
        reportFetchFailure("stopped: the program is closing");
        throw cPlayListFetchFailure(sPlayFailure{sPlayFailure::StepPlaylist});
    } catch (const kestrel::cException&) {
        reportFetchFailure("the address is not valid text");
        throw cPlayListFetchFailure(sPlayFailure{sPlayFailure::StepPlaylist});
    }
    try {
        return kestrel::fromUtf8(bytes);
    } catch (const kestrel::cException&) {
        reportFetchFailure("the playlist is not UTF-8 text");
        throw cPlayListFetchFailure(sPlayFailure{sPlayFailure::StepPlaylist});
    }
}

void cPlayList::reportFetchFailure(const std::string& why) const
{
    kestrel::logError("playback", "channel " + describeChannel(mName, mUrl) + ": playlist fetch failed: " + why);
}

bool cPlayList::parseAsx(const std::u16string& text)
{
    kestrel::cXHScannerStringInputStream stream(text);
    kestrel::cXHScanner scanner(stream);
    std::u16string pending;
    for (int token = scanner.getToken(); token != kestrel::cXHScanner::TokenEnd; token = scanner.getToken()) {
        switch (token) {
        case kestrel::cXHScanner::TokenTagStart:
            if (equalsIgnoringCase(scanner.getTagName(), u"ref")) {
                pending.clear();
            }
            break;
        case kestrel::cXHScanner::TokenAttribute:
            // An href on any element between a ref's start and its end
            // becomes that ref's address.
            if (equalsIgnoringCase(scanner.getAttrName(), u"href")) {
                pending = scanner.getValue();
            }
            break;
        case kestrel::cXHScanner::TokenTagEnd:
            if (equalsIgnoringCase(scanner.getTagName(), u"ref") && !pending.empty()) {
                addEntry(pending);
            }
            break;
        default:
            break;
        }
    }
    return true;
}
