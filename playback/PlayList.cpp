#include "playback/PlayList.h"

#include "kestrel/Exception.h"
#include "kestrel/File.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "kestrel/XHScanner.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Timespan.h>
#include <Poco/URI.h>

#include <chrono>
#include <istream>

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
    try {
        const Poco::URI uri(kestrel::toUtf8(url));
        if (uri.getHost().empty()) {
            throw kestrel::cException(u"no host");
        }
        const std::string target = uri.getPath().empty() ? std::string(1, '/') : uri.getPath();

        Poco::Net::HTTPClientSession session(uri.getHost(), uri.getPort());
        // A server that accepts and then says nothing must not hold the
        // main loop for ever.
        session.setTimeout(Poco::Timespan(NetworkTimeoutSeconds, 0));
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, target, Poco::Net::HTTPMessage::HTTP_1_1);
        // Only a channel with headers of its own sends any beyond the
        // library's.
        for (const auto& [field, value] : mRequestHeaders) {
            request.set(field, value);
        }
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        std::istream& body = session.receiveResponse(response);

        // The status is not looked at: whatever body arrives, an error page
        // too, is scanned. It is read up to the cap and the deadline.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(FetchDeadlineSeconds);
        std::string bytes;
        char buffer[8192];
        while (bytes.size() < MaxBodySize) {
            // Each wait is at most what is left of the deadline, and what has
            // arrived is taken as it is: a server that trickles a byte now and
            // then cannot stretch the fetch past its deadline.
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                throw kestrel::cException(u"took longer than the fetch deadline");
            }
            session.socket().setReceiveTimeout(
                Poco::Timespan(std::min<long long>(left.count(), NetworkTimeoutSeconds * 1000LL) * 1000));
            const size_t wanted = std::min(sizeof(buffer), MaxBodySize - bytes.size());
            body.read(buffer, 1);
            std::streamsize got = body.gcount();
            if (got > 0 && wanted > 1) {
                got += body.readsome(buffer + 1, static_cast<std::streamsize>(wanted - 1));
            }
            if (got > 0) {
                bytes.append(buffer, static_cast<size_t>(got));
            }
            if (!body) {
                if (std::chrono::steady_clock::now() > deadline) {
                    throw kestrel::cException(u"took longer than the fetch deadline");
                }
                break;
            }
        }
        if (body.bad()) {
            throw kestrel::cException(u"transfer failed");
        }
        if (bytes.size() >= MaxBodySize) {
            dropPartialUtf8Tail(bytes);
        }
        return kestrel::fromUtf8(bytes);
    } catch (const Poco::Exception& failure) {
        reportFetchFailure(failure.displayText());
    } catch (const kestrel::cException& failure) {
        std::string reason = "unreadable reason";
        try {
            reason = kestrel::toUtf8(failure.message().empty() ? failure.typeName() : failure.message());
        } catch (const kestrel::cException&) {
            // The reasons thrown here are plain ASCII; keep the stand-in.
        }
        reportFetchFailure(reason);
    } catch (const std::exception& failure) {
        reportFetchFailure(failure.what());
    } catch (...) {
        reportFetchFailure("unexpected exception");
    }
    throw kestrel::cException(u"can't download ASX file");
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
