#include "playback/HlsRelay.h"

#include "fetch/Fetch.h"
#include "kestrel/Log.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/URI.h>

#include <atomic>
#include <map>
#include <mutex>
#include <random>

namespace {

// The largest playlist and key relayed; a real one is far smaller.
constexpr uint64_t MaxPlaylistBytes = 8u << 20;
constexpr uint64_t MaxKeyBytes = 64u << 10;
// Addresses handed out before the table starts again (a live stream that
// changes its key with every segment names a new one each time).
constexpr size_t MaxRelayedAddresses = 4096;

std::string lowerAscii(std::string text)
{
    for (char& c : text) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string randomToken()
{
    std::random_device device;
    static const char Digits[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 32; ++i) {
        token += Digits[device() % 16];
    }
    return token;
}

} // namespace

struct cHlsRelay::cState {
    tHeaders headers;             // written before the server starts
    unsigned networkTimeoutMs = 0; // likewise
    unsigned deadlineMs = 0;       // likewise
    std::string token;             // likewise
    std::string origin;            // "http://127.0.0.1:<port>", likewise
    std::atomic<bool> stopping{false};
    std::atomic<int> fetched{0};
    std::atomic<int> failed{0};

    std::mutex lock;
    std::vector<std::pair<std::string, eKind>> relayed; // guarded by lock: the index is the id
    std::map<std::string, size_t> ids;                   // guarded by lock

    // The relay's address for an upstream one, made once per address.
    std::string relayAddress(const std::string& upstream, eKind kind)
    {
        std::lock_guard<std::mutex> guard(lock);
        auto found = ids.find(upstream);
        if (found == ids.end()) {
            if (relayed.size() >= MaxRelayedAddresses) {
                relayed.clear();
                ids.clear();
            }
            found = ids.emplace(upstream, relayed.size()).first;
            relayed.emplace_back(upstream, kind);
        }
        return origin + "/" + token + "/" + std::to_string(found->second) + (kind == Key ? ".key" : ".m3u8");
    }

    // What an id of a request names; false when it names nothing handed out.
    bool lookUp(const std::string& path, std::string& upstream, eKind& kind)
    {
        const std::string prefix = "/" + token + "/";
        if (!startsWith(path, prefix.c_str())) {
            return false;
        }
        const std::string rest = path.substr(prefix.size());
        const size_t dot = rest.find('.');
        if (dot == 0 || dot == std::string::npos || rest.find_first_not_of("0123456789") != dot) {
            return false;
        }
        const size_t id = std::stoul(rest.substr(0, dot));
        std::lock_guard<std::mutex> guard(lock);
        if (id >= relayed.size()) {
            return false;
        }
        upstream = relayed[id].first;
        kind = relayed[id].second;
        return rest.substr(dot) == (kind == Key ? ".key" : ".m3u8");
    }
};

namespace {

class cRelayHandler : public Poco::Net::HTTPRequestHandler {
public:
    explicit cRelayHandler(std::shared_ptr<cHlsRelay::cState> state) : mState(std::move(state)) {}

    void handleRequest(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response) override
    {
        std::string upstream;
        cHlsRelay::eKind kind = cHlsRelay::Playlist;
        if (!mState->lookUp(request.getURI(), upstream, kind)) {
            response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_NOT_FOUND);
            response.setContentLength(0);
            response.send();
            return;
        }
        cFetchLimits limits;
        limits.networkTimeoutMs = mState->networkTimeoutMs;
        limits.deadlineMs = mState->deadlineMs;
        limits.maxBytes = kind == cHlsRelay::Key ? MaxKeyBytes : MaxPlaylistBytes;
        limits.requestHeaders = mState->headers;
        std::string body;
        std::string finalAddress;
        ++mState->fetched;
        try {
            fetchAddress(
                upstream, limits, [&body](const char* data, size_t size) { body.append(data, size); },
                [state = mState] { return state->stopping.load(); }, finalAddress);
        } catch (const cFetchFailure& failure) {
            ++mState->failed;
            kestrel::logWarning("playback", std::string("HLS relay: ") + failure.what());
            // The reader sees the server's own refusal, so that its error
            // names it.
            const int status = failure.status() != 0 ? failure.status() : 502;
            response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(status));
            response.setContentLength(0);
            response.send();
            return;
        } catch (const cFetchStopped&) {
            response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_SERVICE_UNAVAILABLE);
            response.setContentLength(0);
            response.send();
            return;
        }
        if (kind == cHlsRelay::Playlist) {
            const std::shared_ptr<cHlsRelay::cState> state = mState;
            body = cHlsRelay::rewritePlaylist(body, finalAddress,
                                              [&state](const std::string& address, cHlsRelay::eKind relayedKind) {
                                                  return state->relayAddress(address, relayedKind);
                                              });
            response.setContentType("application/vnd.apple.mpegurl");
        } else {
            response.setContentType("application/octet-stream");
        }
        response.setContentLength(static_cast<std::streamsize>(body.size()));
        response.send() << body;
    }

private:
    std::shared_ptr<cHlsRelay::cState> mState;
};

class cRelayHandlers : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit cRelayHandlers(std::shared_ptr<cHlsRelay::cState> state) : mState(std::move(state)) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override
    {
        return new cRelayHandler(mState);
    }

private:
    std::shared_ptr<cHlsRelay::cState> mState;
};

// The value of an attribute URI="..." in a tag line, with where it stands;
// false when the line has none.
bool findUriAttribute(const std::string& line, size_t& begin, size_t& end)
{
    const size_t at = line.find("URI=\"");
    if (at == std::string::npos) {
        return false;
    }
    begin = at + 5;
    end = line.find('"', begin);
    return end != std::string::npos;
}

} // namespace

cHlsRelay::cHlsRelay(const tHeaders& headers, unsigned networkTimeoutMs, unsigned deadlineMs)
    : mState(std::make_shared<cState>())
{
    mState->headers = headers;
    mState->networkTimeoutMs = networkTimeoutMs;
    mState->deadlineMs = deadlineMs;
    mState->token = randomToken();
    try {
        Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0), 16);
        mState->origin = "http://127.0.0.1:" + std::to_string(socket.address().port());
        auto* parameters = new Poco::Net::HTTPServerParams;
        parameters->setMaxThreads(4);
        parameters->setKeepAlive(false);
        mServer = std::make_unique<Poco::Net::HTTPServer>(new cRelayHandlers(mState), socket, parameters);
        mServer->start();
    } catch (const Poco::Exception& failure) {
        kestrel::logWarning("playback", "HLS relay: cannot listen on 127.0.0.1: " + failure.displayText());
        mServer.reset();
    }
}

cHlsRelay::~cHlsRelay()
{
    mState->stopping = true;
    if (mServer) {
        mServer->stopAll(true);
    }
}

std::string cHlsRelay::playlistAddress(const std::string& upstream)
{
    return mState->relayAddress(upstream, Playlist);
}

int cHlsRelay::fetched() const { return mState->fetched; }
int cHlsRelay::failed() const { return mState->failed; }

bool cHlsRelay::isHlsAddress(const std::string& address)
{
    try {
        const Poco::URI uri(address);
        const std::string scheme = lowerAscii(uri.getScheme());
        const std::string path = lowerAscii(uri.getPath());
        return (scheme == "http" || scheme == "https") && path.size() > 5 &&
               path.compare(path.size() - 5, 5, ".m3u8") == 0;
    } catch (const Poco::Exception&) {
        return false;
    }
}

std::string cHlsRelay::rewrite(const std::string& text, const std::string& base,
                               std::string (*relay)(void*, const std::string&, eKind), void* context)
{
    Poco::URI baseUri;
    bool haveBase = true;
    try {
        baseUri = Poco::URI(base);
    } catch (const Poco::Exception&) {
        haveBase = false;
    }
    const auto absolute = [&](const std::string& reference) {
        if (!haveBase) {
            return reference;
        }
        try {
            Poco::URI resolved(baseUri);
            resolved.resolve(reference);
            return resolved.toString();
        } catch (const Poco::Exception&) {
            return reference;
        }
    };
    // Only web addresses go through the relay; anything else is left for
    // the graph, which refuses what it must.
    const auto relayed = [&](const std::string& reference, eKind kind) {
        const std::string address = absolute(reference);
        const std::string scheme = lowerAscii(address.substr(0, address.find(':')));
        return scheme == "http" || scheme == "https" ? relay(context, address, kind) : address;
    };

    std::string out;
    out.reserve(text.size() + text.size() / 2);
    bool nextIsPlaylist = false;
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(position, end - position);
        position = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        if (line.empty()) {
            out += '\n';
            continue;
        }
        if (line[0] != '#') {
            out += nextIsPlaylist ? relayed(line, Playlist) : absolute(line);
            out += '\n';
            nextIsPlaylist = false;
            continue;
        }
        size_t begin = 0;
        size_t close = 0;
        const bool key = startsWith(line, "#EXT-X-KEY:") || startsWith(line, "#EXT-X-SESSION-KEY:");
        const bool playlist = startsWith(line, "#EXT-X-MEDIA:") || startsWith(line, "#EXT-X-I-FRAME-STREAM-INF:");
        const bool section = startsWith(line, "#EXT-X-MAP:");
        if ((key || playlist || section) && findUriAttribute(line, begin, close)) {
            const std::string reference = line.substr(begin, close - begin);
            const std::string replaced = section ? absolute(reference) : relayed(reference, key ? Key : Playlist);
            line = line.substr(0, begin) + replaced + line.substr(close);
        } else if (startsWith(line, "#EXT-X-STREAM-INF:")) {
            nextIsPlaylist = true;
        }
        out += line;
        out += '\n';
    }
    return out;
}
