#include "playback/StreamAddress.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <gst/gst.h>

#include "kestrel/Log.h"
#include "playback/MediaGraph.h"

namespace {

const char* const NetworkSchemes[] = {"http", "https", "rtsp", "rtsps", "rtspt", "rtmp", "rtmps"};
const char* const MulticastSchemes[] = {"udp", "rtp"};
// Options of a udp or rtp address that do not change where it reads from.
const char* const MulticastOptions[] = {"multicast-iface", "multicast-source", "ttl", "ttl-mc", "encoding-name",
                                        "latency", "buffer-size"};
// What a source element may read besides those: the network variants of
// the same protocols, and appsrc, which reads only what the program feeds.
const char* const SourceProtocols[] = {"http",   "https",  "icy",    "icyx",   "rtsp",   "rtspu", "rtspt",
                                       "rtsph",  "rtsps",  "rtspsu", "rtspst", "rtspsh", "rtsp-sdp", "rtmp",
                                       "rtmps",  "rtmpt",  "rtmpe",  "rtmpte", "rtmpts", "rtmfp", "udp",
                                       "rtp",    "appsrc"};

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

bool isOneOf(const std::string& scheme, const char* const* begin, const char* const* end)
{
    return std::find_if(begin, end, [&scheme](const char* allowed) { return scheme == allowed; }) != end;
}

// The host part of "scheme://[user@]host[:port][/...]", brackets removed.
std::string hostOf(const std::string& rest)
{
    std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        authority = authority.substr(at + 1);
    }
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        return close == std::string::npos ? std::string() : authority.substr(1, close - 1);
    }
    return authority.substr(0, authority.find(':'));
}

bool isMulticast(const std::string& host)
{
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 28) == 0xE;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        return v6.s6_addr[0] == 0xFF;
    }
    return false;
}

std::atomic<bool> gRestricted{false};

bool readsOnlyNetworkProtocols(const gchar* const* protocols)
{
    // A source that also reads one other protocol goes too: one that
    // reads "file" besides "http" would be chosen for a file address.
    bool allowed = protocols != nullptr && protocols[0] != nullptr;
    for (size_t i = 0; protocols != nullptr && protocols[i] != nullptr; ++i) {
        allowed = allowed && isOneOf(lower(protocols[i]), std::begin(SourceProtocols), std::end(SourceProtocols));
    }
    return allowed;
}

} // namespace

bool mediaSourcesRestricted()
{
    return gRestricted.load();
}

bool isPermittedElement(GstElement* element)
{
    if (!GST_IS_URI_HANDLER(element) || gst_uri_handler_get_uri_type(GST_URI_HANDLER(element)) != GST_URI_SRC) {
        return true;
    }
    return readsOnlyNetworkProtocols(gst_uri_handler_get_protocols(GST_URI_HANDLER(element)));
}

bool checkStreamAddress(const std::string& address, std::string& reason)
{
    const size_t separator = address.find("://");
    if (separator == std::string::npos || separator == 0) {
        reason = "not a network address (no scheme://)";
        return false;
    }
    const std::string scheme = lower(address.substr(0, separator));
    const std::string host = hostOf(address.substr(separator + 3));
    const bool network = isOneOf(scheme, std::begin(NetworkSchemes), std::end(NetworkSchemes));
    const bool multicast = isOneOf(scheme, std::begin(MulticastSchemes), std::end(MulticastSchemes));
    if (!network && !multicast) {
        reason = "scheme \"" + address.substr(0, separator) + "\" is not a network stream";
        return false;
    }
    if (std::any_of(address.begin(), address.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7F || c == ' '; })) {
        reason = "the address holds spaces or control characters";
        return false;
    }
    if (host.empty()) {
        reason = "the address names no host";
        return false;
    }
    if (multicast && !isMulticast(host)) {
        reason = scheme + " is taken only from a multicast group, not from " + host;
        return false;
    }
    // The framework's udp and rtp sources set any of their properties from
    // the query ("?address=0.0.0.0" would replace the group just checked):
    // only options that leave the group as it is are taken.
    const size_t query = address.find('?');
    if (multicast && query != std::string::npos) {
        size_t at = query + 1;
        while (at <= address.size()) {
            const size_t end = std::min(address.find('&', at), address.size());
            const std::string pair = address.substr(at, end - at);
            const std::string key = lower(pair.substr(0, pair.find('=')));
            if (!key.empty() && !isOneOf(key, std::begin(MulticastOptions), std::end(MulticastOptions))) {
                reason = "the " + scheme + " option \"" + key + "\" is not taken";
                return false;
            }
            at = end + 1;
        }
    }
    return true;
}

bool isMulticastAddress(const std::string& host)
{
    std::string bare = host;
    if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
        bare = bare.substr(1, bare.size() - 2);
    }
    return isMulticast(bare);
}

namespace {

// Takes every source that reads anything but the network protocols out of
// the registry; the names it took, for the log.
std::string removeLocalSources()
{
    GstRegistry* registry = gst_registry_get();
    GList* factories = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_SRC, GST_RANK_NONE);
    std::string removed;
    for (GList* item = factories; item != nullptr; item = item->next) {
        GstElementFactory* factory = GST_ELEMENT_FACTORY(item->data);
        if (gst_element_factory_get_uri_type(factory) != GST_URI_SRC) {
            continue;
        }
        if (!readsOnlyNetworkProtocols(gst_element_factory_get_uri_protocols(factory))) {
            removed += std::string(removed.empty() ? "" : ", ") + GST_OBJECT_NAME(factory);
            gst_registry_remove_feature(registry, GST_PLUGIN_FEATURE(factory));
        }
    }
    gst_plugin_feature_list_free(factories);
    return removed;
}

// Loading a plugin registers its elements again, the file and descriptor
// sources of the core plugin among them (the warm-up loads it, and so does
// the first graph that needs any of its elements): each comes back through
// here and goes at once, before anything can look it up by its protocol.
void onFeatureAdded(GstRegistry* registry, GstPluginFeature* feature, gpointer)
{
    if (!GST_IS_ELEMENT_FACTORY(feature)) {
        return;
    }
    GstElementFactory* factory = GST_ELEMENT_FACTORY(feature);
    if (gst_element_factory_get_uri_type(factory) == GST_URI_SRC &&
        !readsOnlyNetworkProtocols(gst_element_factory_get_uri_protocols(factory))) {
        kestrel::logDebug("playback", std::string("a plugin load brought back ") + GST_OBJECT_NAME(feature) +
                                          "; taken out again");
        gst_registry_remove_feature(registry, feature);
    }
}

} // namespace

void restrictMediaSources()
{
    if (!initializeMedia()) {
        return;
    }
    static std::once_flag watched;
    std::call_once(watched, [] {
        g_signal_connect(gst_registry_get(), "feature-added", G_CALLBACK(&onFeatureAdded), nullptr);
    });
    const std::string removed = removeLocalSources();
    gRestricted = true;
    kestrel::logDebug("playback", "sources that read no network stream are off: " + removed);
}

void keepMediaSourcesRestricted()
{
    if (gRestricted.load()) {
        const std::string removed = removeLocalSources();
        if (!removed.empty()) {
            kestrel::logWarning("playback", "sources that read no network stream came back and were taken out: " +
                                                removed);
        }
    }
}
