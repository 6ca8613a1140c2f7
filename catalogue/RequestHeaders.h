#pragma once
// The HTTP request headers a channel list gives one channel (a user agent,
// a referrer, an origin), which its servers may insist on. They travel
// with the channel: from the M3U importer into the catalogue (a table of
// their own beside `channels`, keyed by the address), into the favourites,
// and to playback, which sends them with every request of the channel.
// A channel without them sends exactly what it always sent.

#include <string>
#include <utility>
#include <vector>

struct cRequestHeaders {
    std::string userAgent; // "User-Agent"
    std::string referrer;  // "Referer"
    std::string origin;    // "Origin"

    bool empty() const { return userAgent.empty() && referrer.empty() && origin.empty(); }
    bool operator==(const cRequestHeaders& other) const
    {
        return userAgent == other.userAgent && referrer == other.referrer && origin == other.origin;
    }
    bool operator!=(const cRequestHeaders& other) const { return !(*this == other); }
};

// Header name and value pairs, in the order they are sent: how the
// playlist fetch and the media graph take them.
using tHeaderFields = std::vector<std::pair<std::string, std::string>>;

// The non-empty headers as fields ("User-Agent", "Referer", "Origin").
tHeaderFields headerFields(const cRequestHeaders& headers);
// Back from fields (names without regard to case); others are ignored.
cRequestHeaders headersFromFields(const tHeaderFields& fields);

// True when the value can be sent as it is: no control character (a line
// break would let a list inject a header line of its own), nothing beyond
// what one header line may hold.
bool isSendableHeaderValue(const std::string& value);

// The longest header value taken; a longer one is refused like a broken one.
constexpr size_t MaxHeaderValueBytes = 4096;

// The key of a channel's headers in the catalogue: its address in the
// catalogue's address encoding without the random part, so that the same
// address always gives the same key (decodeAddress() reads it back).
std::u16string headersKey(const std::u16string& address);
