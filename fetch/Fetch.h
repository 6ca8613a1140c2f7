#pragma once
// Bounded HTTP and HTTPS downloads: the catalogue server's version and
// catalogue, the user's channel lists, programme guides and ASX playlists.
// Every wait has a time-out, the whole transfer a deadline, the body a cap,
// and a stop request is seen after every piece that arrives.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct cFetchLimits {
    // Connecting, sending, and each single receive.
    unsigned networkTimeoutMs = 10000;
    // The whole exchange, redirections included; 0 for none.
    unsigned deadlineMs = 0;
    // Largest body accepted (as it arrives on the wire).
    uint64_t maxBytes = uint64_t(1) << 30;
    // Redirections followed; more is a failure.
    int maxRedirects = 5;
    // Redirections must stay on the first address's host (the catalogue
    // server); otherwise any http or https address is followed.
    bool sameHostOnly = false;
    // Largest piece handed to the sink at a time.
    size_t pieceBytes = 64 * 1024;
    // Slowest transfer accepted, in bytes a second averaged over each
    // rateWindowMs of the body; 0 for no floor. A server that trickles a
    // byte now and then never meets a single time-out, but fails this.
    uint64_t minimumRate = 0;
    unsigned rateWindowMs = 10000;
    // Asks for a gzip-compressed answer ("Accept-Encoding: gzip"); the body
    // is handed over as it comes, compressed or not.
    bool acceptGzip = false;
    // Hands over the body of any final answer, not only of a 200 (a
    // redirection is still followed).
    bool acceptAnyStatus = false;
    // Sent with the request, over the fetch's own (name and value pairs,
    // checked by whoever read them: no line breaks).
    std::vector<std::pair<std::string, std::string>> requestHeaders;
};

// The limits of a download from anywhere on the web (a channel list, a
// programme guide): redirections followed to any host, a gzip answer asked
// for, no minimum rate.
cFetchLimits webSourceLimits(unsigned networkTimeoutMs, unsigned deadlineMs, uint64_t maxBytes, int maxRedirects);

// A failed exchange: what went wrong, with the address, in English, and
// which kind of failure it was, for whoever tells it in other words.
class cFetchFailure : public std::runtime_error {
public:
    enum eReason {
        ReasonOther,       // anything below
        ReasonHostUnknown, // the host name could not be resolved
        ReasonRefused,     // nothing accepted the connection
        ReasonNoAnswer,    // a wait or the deadline ran out
        ReasonStatus,      // the server answered with status()
        ReasonSecure,      // the secure connection could not be set up
    };
    explicit cFetchFailure(const std::string& what, eReason reason = ReasonOther)
        : std::runtime_error(what), mReason(reason)
    {
    }
    cFetchFailure(const std::string& what, int status)
        : std::runtime_error(what), mReason(ReasonStatus), mStatus(status)
    {
    }
    eReason reason() const { return mReason; }
    // The server's HTTP status when it answered with one other than 200;
    // 0 for any other failure.
    int status() const { return mStatus; }

private:
    eReason mReason = ReasonOther;
    int mStatus = 0;
};

// The stop request turned true during the transfer.
class cFetchStopped {};

using tFetchSink = std::function<void(const char* data, size_t size)>;

// True for an address with the http or https scheme and a host.
bool isWebAddress(const std::string& address);

// GETs the address and hands the body of its 200 answer to sink piece by
// piece, as the pieces arrive. Follows redirections within the limits.
// Throws cFetchFailure unless the whole body arrived (no error, no more
// than maxBytes, as many bytes as announced, within the deadline and above
// the minimum rate); throws cFetchStopped when stop() turns true, which is
// asked after every piece and every tenth of a second while the answer
// waits, so a stop never waits for a time-out. https is checked against the
// system's certificate store and the address's host name.
void fetchAddress(const std::string& address, const cFetchLimits& limits, const tFetchSink& sink,
                  const std::function<bool()>& stop);
// The same, telling where the body came from after any redirection (what
// relative addresses in it are resolved against).
void fetchAddress(const std::string& address, const cFetchLimits& limits, const tFetchSink& sink,
                  const std::function<bool()>& stop, std::string& finalAddress);

// Inflates a gzip stream (RFC 1952, members one after another) into out.
// False with the reason when it is not whole or would exceed maxBytes.
bool gunzip(const std::string& compressed, uint64_t maxBytes, std::string& out, std::string& error);

// True when the bytes begin with the gzip signature.
bool looksGzipped(const std::string& bytes);
