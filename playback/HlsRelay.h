#pragma once
// A relay on 127.0.0.1 for the playlists and keys of one HLS channel whose
// servers check request headers.
//
// The media framework's HLS reader fetches master playlists, media
// playlists (the first time and at every live refresh) and AES keys with a
// client of its own that takes no request headers; only the segments come
// through source elements of the graph, which get the channel's headers.
// The graph therefore opens the channel's playlist through this relay: the
// relay fetches each playlist and key upstream with exactly the channel's
// headers (User-Agent, Referer, Origin; on every redirection too) through
// the bounded fetch, and hands it to the reader with its addresses
// rewritten: playlists and keys point back to the relay, segments to their
// absolute upstream address, which the graph fetches with the headers.
//
// The relay fetches only addresses it has handed out itself (the channel's
// playlist and what the playlists it relayed name), only over http and
// https, and answers only requests that carry its random token, so no other
// process can use it to reach anything with the channel's headers. An
// upstream refusal is passed on with its status (403, 404...), any other
// failure as 502.

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Poco::Net {
class HTTPServer;
}

class cHlsRelay {
public:
    using tHeaders = std::vector<std::pair<std::string, std::string>>;

    // Listens on 127.0.0.1 at a port the system picks; isValid() is false
    // when it cannot. Each upstream wait ends after networkTimeoutMs, each
    // fetch after deadlineMs.
    cHlsRelay(const tHeaders& headers, unsigned networkTimeoutMs, unsigned deadlineMs);
    // Stops listening; a fetch under way ends within a tenth of a second.
    ~cHlsRelay();
    cHlsRelay(const cHlsRelay&) = delete;
    cHlsRelay& operator=(const cHlsRelay&) = delete;

    bool isValid() const { return mServer != nullptr; }
    // The relay's address for the playlist at the upstream address.
    std::string playlistAddress(const std::string& upstream);
    // Requests the relay has fetched upstream, and of those, failed.
    int fetched() const;
    int failed() const;

    // True for an address the relay serves: an http or https address whose
    // path ends in ".m3u8" (case aside).
    static bool isHlsAddress(const std::string& address);

    // What a relayed address names: a playlist or a key.
    enum eKind { Playlist, Key };
    // Rewrites a playlist fetched from base (its final address): every
    // address in it is made absolute against base; those of playlists
    // (variants, renditions, I-frame playlists) and keys go through relay,
    // which returns the address to write; segments and initialisation
    // sections stay at their absolute upstream address.
    template <typename tRelay>
    static std::string rewritePlaylist(const std::string& text, const std::string& base, tRelay relay);

    struct cState; // shared with the request handlers, which may outlive the relay

private:
    static std::string rewrite(const std::string& text, const std::string& base,
                               std::string (*relay)(void*, const std::string&, eKind), void* context);

    std::shared_ptr<cState> mState;
    std::unique_ptr<Poco::Net::HTTPServer> mServer;
};

template <typename tRelay>
std::string cHlsRelay::rewritePlaylist(const std::string& text, const std::string& base, tRelay relay)
{
    return rewrite(
        text, base,
        [](void* context, const std::string& address, eKind kind) {
            return (*static_cast<tRelay*>(context))(address, kind);
        },
        &relay);
}
