#include "fetch/Fetch.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <istream>
#include <memory>
#include <mutex>
#include <vector>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <zlib.h>

#include <Poco/Exception.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/HTTPSClientSession.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SSLException.h>
#include <Poco/Net/SSLManager.h>
#include <Poco/Timespan.h>
#include <Poco/URI.h>

namespace {

using tClock = std::chrono::steady_clock;

bool isRedirection(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// A client context for one https host: peers are checked against the
// system's certificate store, and the certificate must name the host (or
// its address) that was asked for; OpenSSL checks both during the
// handshake, before anything is sent.
Poco::Net::Context::Ptr clientContext(const std::string& host)
{
    static std::once_flag once;
    std::call_once(once, [] { Poco::Net::initializeSSL(); });
    Poco::Net::Context::Ptr context =
        new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, "", "", "", Poco::Net::Context::VERIFY_RELAXED, 9,
                               true, "ALL:!ADH:!LOW:!EXP:!MD5:@STRENGTH");
    X509_VERIFY_PARAM* parameters = SSL_CTX_get0_param(context->sslContext());
    X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    // An address literal is matched as an address, a name as a name.
    if (X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str()) != 1 &&
        X509_VERIFY_PARAM_set1_host(parameters, host.c_str(), host.size()) != 1) {
        throw cFetchFailure("cannot check certificates for the host " + host);
    }
    return context;
}

std::unique_ptr<Poco::Net::HTTPClientSession> openSession(const Poco::URI& uri)
{
    if (uri.getScheme() == "https") {
        return std::make_unique<Poco::Net::HTTPSClientSession>(uri.getHost(), uri.getPort(),
                                                               clientContext(uri.getHost()));
    }
    return std::make_unique<Poco::Net::HTTPClientSession>(uri.getHost(), uri.getPort());
}

// How many bytes the session has read from its socket and not yet handed
// on (HTTPSession keeps the count to itself).
struct cSessionPeek : Poco::Net::HTTPClientSession {
    static int pending(Poco::Net::HTTPClientSession& session)
    {
        return (session.*(&cSessionPeek::buffered))();
    }
};

std::string describe(const Poco::Exception& failure)
{
    std::string text = failure.displayText();
    return text.empty() ? failure.className() : text;
}

} // namespace

cFetchLimits webSourceLimits(unsigned networkTimeoutMs, unsigned deadlineMs, uint64_t maxBytes, int maxRedirects)
{
    cFetchLimits limits;
    limits.networkTimeoutMs = networkTimeoutMs;
    limits.deadlineMs = deadlineMs;
    limits.maxBytes = maxBytes;
    limits.maxRedirects = maxRedirects;
    limits.acceptGzip = true;
    return limits;
}

bool isWebAddress(const std::string& address)
{
    try {
        const Poco::URI uri(address);
        const std::string scheme = lower(uri.getScheme());
        return (scheme == "http" || scheme == "https") && !uri.getHost().empty();
    } catch (const Poco::Exception&) {
        return false;
    }
}

void fetchAddress(const std::string& address, const cFetchLimits& limits, const tFetchSink& sink,
                  const std::function<bool()>& stop)
{
    const tClock::time_point start = tClock::now();
    const auto remainingMs = [&]() -> long long {
        if (limits.deadlineMs == 0) {
            return limits.networkTimeoutMs;
        }
        const long long spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(tClock::now() - start).count();
        return static_cast<long long>(limits.deadlineMs) - spent;
    };
    const auto overDeadline = [&](const std::string& where) {
        return cFetchFailure(where + " took longer than " + std::to_string(limits.deadlineMs / 1000) + " s");
    };
    // A wait is the shorter of the network time-out and what is left of the
    // deadline.
    const auto waitFor = [&](const std::string& where) {
        const long long left = remainingMs();
        if (left <= 0) {
            throw overDeadline(where);
        }
        const long long ms = std::min<long long>(left, limits.networkTimeoutMs);
        return Poco::Timespan(static_cast<Poco::Timespan::TimeDiff>(ms) * 1000);
    };

    Poco::URI uri;
    try {
        uri = Poco::URI(address);
    } catch (const Poco::Exception& failure) {
        throw cFetchFailure("not an address: " + address + " (" + describe(failure) + ")");
    }
    const std::string firstHost = lower(uri.getHost());
    // Waits until the session's socket has something to read, in slices of
    // a tenth of a second so that a stop or the deadline is seen at once;
    // after a network time-out of silence, silent() throws what that means
    // at this point of the exchange.
    const auto waitReadable = [&](Poco::Net::HTTPClientSession& session, const std::function<void()>& silent) {
        const tClock::time_point end = tClock::now() + std::chrono::milliseconds(limits.networkTimeoutMs);
        while (!session.socket().poll(Poco::Timespan(100 * 1000),
                                      Poco::Net::Socket::SELECT_READ | Poco::Net::Socket::SELECT_ERROR)) {
            if (stop && stop()) {
                throw cFetchStopped();
            }
            if (remainingMs() <= 0) {
                throw overDeadline(uri.toString());
            }
            if (tClock::now() >= end) {
                silent();
            }
        }
    };
    try {
        for (int redirects = 0;; ++redirects) {
            const std::string scheme = lower(uri.getScheme());
            if ((scheme != "http" && scheme != "https") || uri.getHost().empty()) {
                throw cFetchFailure("not an http or https address: " + uri.toString());
            }
            if (limits.sameHostOnly && lower(uri.getHost()) != firstHost) {
                throw cFetchFailure("redirection from " + address + " leaves its host: " + uri.toString());
            }
            const std::unique_ptr<Poco::Net::HTTPClientSession> session = openSession(uri);
            const Poco::Timespan first = waitFor(uri.toString());
            session->setTimeout(first, first, first);
            std::string path = uri.getPathAndQuery();
            if (path.empty()) {
                path = "/";
            }
            Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path, Poco::Net::HTTPMessage::HTTP_1_1);
            request.set("User-Agent", "Lumivex/1");
            if (limits.acceptGzip) {
                request.set("Accept-Encoding", "gzip");
            }
            // The request's head goes out with the first flush.
            session->sendRequest(request).flush();
            // The answer's head is waited for in slices too, so that a stop
            // need not wait for a silent server's time-out.
            waitReadable(*session, [] { throw Poco::TimeoutException(); });
            Poco::Net::HTTPResponse response;
            std::istream& body = session->receiveResponse(response);
            const int status = response.getStatus();
            if (isRedirection(status) && response.has("Location")) {
                if (redirects >= limits.maxRedirects) {
                    throw cFetchFailure("too many redirections from " + address);
                }
                uri.resolve(response.get("Location"));
                continue;
            }
            if (status != Poco::Net::HTTPResponse::HTTP_OK) {
                throw cFetchFailure("status " + std::to_string(status) + " for " + uri.toString());
            }

            const bool announced = response.hasContentLength();
            const uint64_t announcedLength = announced ? static_cast<uint64_t>(response.getContentLength64()) : 0;
            if (announced && announcedLength > limits.maxBytes) {
                throw cFetchFailure(uri.toString() + " announces " + std::to_string(announcedLength) +
                                    " bytes, more than " + std::to_string(limits.maxBytes));
            }
            std::vector<char> piece(std::max<size_t>(limits.pieceBytes, 1));
            uint64_t received = 0;
            tClock::time_point windowStart = tClock::now();
            uint64_t receivedAtWindowStart = 0;
            for (;;) {
                // Nothing is waiting anywhere on our side: wait for the
                // socket in short slices, so that a stop is seen at once.
                if (body.rdbuf()->in_avail() <= 0 && cSessionPeek::pending(*session) == 0 &&
                    session->socket().available() == 0) {
                    waitReadable(*session, [&] {
                        throw cFetchFailure("transfer of " + uri.toString() + " stalled after " +
                                            std::to_string(received) + " bytes: nothing came for " +
                                            std::to_string(limits.networkTimeoutMs / 1000) + " s");
                    });
                }
                session->socket().setReceiveTimeout(waitFor(uri.toString()));
                // One byte waits for the next arrival; what else has arrived
                // with it comes at once.
                body.read(piece.data(), 1);
                std::streamsize got = body.gcount();
                if (got <= 0) {
                    break;
                }
                if (piece.size() > 1) {
                    got += body.readsome(piece.data() + 1, static_cast<std::streamsize>(piece.size() - 1));
                }
                if (stop && stop()) {
                    throw cFetchStopped();
                }
                received += static_cast<uint64_t>(got);
                if (received > limits.maxBytes) {
                    throw cFetchFailure(uri.toString() + " sends more than " + std::to_string(limits.maxBytes) +
                                        " bytes");
                }
                sink(piece.data(), static_cast<size_t>(got));
                if (remainingMs() <= 0) {
                    throw overDeadline(uri.toString());
                }
                if (limits.minimumRate > 0 &&
                    tClock::now() - windowStart >= std::chrono::milliseconds(limits.rateWindowMs)) {
                    const uint64_t floor = limits.minimumRate * limits.rateWindowMs / 1000;
                    if (received - receivedAtWindowStart < floor) {
                        throw cFetchFailure(uri.toString() + " sends slower than " +
                                            std::to_string(limits.minimumRate / 1024) + " KiB/s");
                    }
                    windowStart = tClock::now();
                    receivedAtWindowStart = received;
                }
            }
            // The stream turns a broken connection or a time-out into badbit.
            if (body.bad()) {
                if (remainingMs() <= 0) {
                    throw overDeadline(uri.toString());
                }
                throw cFetchFailure("transfer of " + uri.toString() + " broke off after " + std::to_string(received) +
                                    " bytes");
            }
            if (announced && received != announcedLength) {
                throw cFetchFailure("transfer of " + uri.toString() + " ended after " + std::to_string(received) +
                                    " of " + std::to_string(announcedLength) + " bytes");
            }
            return;
        }
    } catch (const Poco::Net::SSLException& failure) {
        throw cFetchFailure("secure connection to " + uri.toString() + " failed: " + describe(failure));
    } catch (const Poco::TimeoutException&) {
        if (remainingMs() <= 0) {
            throw overDeadline(uri.toString());
        }
        throw cFetchFailure(uri.toString() + " did not answer within " +
                            std::to_string(limits.networkTimeoutMs / 1000) + " s");
    } catch (const Poco::Exception& failure) {
        throw cFetchFailure(uri.toString() + ": " + describe(failure));
    }
}

bool looksGzipped(const std::string& bytes)
{
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

bool gunzip(const std::string& compressed, uint64_t maxBytes, std::string& out, std::string& error)
{
    out.clear();
    z_stream stream{};
    // 16 + MAX_WBITS: a gzip wrapper, not a bare zlib one.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        error = "cannot start decompression";
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::vector<char> buffer(256 * 1024);
    int result = Z_OK;
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            break;
        }
        out.append(buffer.data(), buffer.size() - stream.avail_out);
        if (out.size() > maxBytes) {
            inflateEnd(&stream);
            out.clear();
            error = "decompresses to more than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
        if (result == Z_STREAM_END) {
            if (stream.avail_in == 0) {
                break;
            }
            // Another member follows.
            if (inflateReset(&stream) != Z_OK) {
                result = Z_DATA_ERROR;
                break;
            }
        } else if (stream.avail_in == 0 && stream.avail_out != 0) {
            result = Z_BUF_ERROR; // the input ended inside a member
            break;
        }
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) {
        out.clear();
        error = "the compressed data is damaged or cut short";
        return false;
    }
    return true;
}
