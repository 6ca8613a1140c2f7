#include "playback/MediaGraph.h"
#include "playback/HlsRelay.h"
#include "playback/StreamAddress.h"

#include "fetch/Fetch.h"
#include "kestrel/Log.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>

namespace {

std::mutex gInitLock;
bool gInitialized = false; // guarded by gInitLock
bool gShutDown = false;    // guarded by gInitLock
// The warm-up thread runs detached, so that a process ending without
// shutdownMedia() does not trip over it; shutdownMedia() waits for its end.
bool gWarmUpStarted = false; // guarded by gInitLock
bool gWarmUpRunning = false; // guarded by gInitLock

// Never destroyed: a warm-up still running while the process ends may
// signal it after static destruction.
std::condition_variable& warmUpEnded()
{
    static auto* ended = new std::condition_variable;
    return *ended;
}

// What an internet channel's graph loads first: the network sources, type
// finding, the demuxers, parsers and decoders of the common stream kinds,
// and the conversions on the way to the sinks. A name not installed here is
// skipped.
constexpr const char* WarmUpPlugins[] = {
    "coreelements", "playback", "typefindfunctions", "app", "soup", "matroska", "isomp4", "hls", "mpegtsdemux",
    "videoparsersbad", "audioparsers", "libav", "videoconvertscale", "videoconvert", "audioconvert",
    "audioresample", "autodetect", "volume",
};
std::atomic<unsigned> gNetworkTimeout{15};

GstPadProbeReturn keepBlocked(GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }
GstPadProbeReturn dropData(GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_DROP; }

int mediaTypeOf(GstPad* pad)
{
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr) {
        caps = gst_pad_query_caps(pad, nullptr);
    }
    int type = -1;
    if (caps != nullptr && gst_caps_get_size(caps) > 0) {
        const char* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
        if (g_str_has_prefix(name, "video/")) {
            type = cMediaGraph::MediaVideo;
        } else if (g_str_has_prefix(name, "audio/")) {
            type = cMediaGraph::MediaAudio;
        }
    }
    if (caps != nullptr) {
        gst_caps_unref(caps);
    }
    return type;
}

} // namespace

bool initializeMedia()
{
    std::lock_guard<std::mutex> lock(gInitLock);
    if (gShutDown) {
        return false;
    }
    if (!gInitialized) {
        gInitialized = gst_init_check(nullptr, nullptr, nullptr) == TRUE;
    }
    return gInitialized;
}

void warmUpMedia()
{
    std::lock_guard<std::mutex> lock(gInitLock);
    if (gShutDown || gWarmUpStarted) {
        return;
    }
    gWarmUpStarted = true;
    gWarmUpRunning = true;
    try {
        std::thread([] {
            if (initializeMedia()) {
                for (const char* name : WarmUpPlugins) {
                    if (GstPlugin* plugin = gst_plugin_load_by_name(name)) {
                        gst_object_unref(plugin);
                    }
                }
            }
            std::lock_guard<std::mutex> ended(gInitLock);
            gWarmUpRunning = false;
            warmUpEnded().notify_all();
        }).detach();
    } catch (const std::system_error&) {
        gWarmUpRunning = false; // no thread: the first graph loads what it needs
    }
}

void waitForMediaWarmUp()
{
    std::unique_lock<std::mutex> lock(gInitLock);
    warmUpEnded().wait(lock, [] { return !gWarmUpRunning; });
}

void shutdownMedia()
{
    std::unique_lock<std::mutex> lock(gInitLock);
    warmUpEnded().wait(lock, [] { return !gWarmUpRunning; });
    if (gInitialized && !gShutDown) {
        gst_deinit();
    }
    gShutDown = true;
}

void cMediaGraph::setNetworkTimeout(unsigned seconds) { gNetworkTimeout = seconds == 0 ? 1 : seconds; }
unsigned cMediaGraph::networkTimeout() { return gNetworkTimeout; }

cMediaGraph::cMediaGraph()
{
    if (!initializeMedia()) {
        return;
    }
    mPipeline = gst_pipeline_new(nullptr);
    if (mPipeline == nullptr) {
        return;
    }
    gst_object_ref_sink(mPipeline);
    if (mediaSourcesRestricted()) {
        keepMediaSourcesRestricted();
        g_signal_connect(mPipeline, "deep-element-added", G_CALLBACK(&cMediaGraph::onElementAdded), this);
    }
    // Messages are looked at as they are posted and never queued, so a
    // graph that nobody polls does not pile them up.
    GstBus* bus = gst_element_get_bus(mPipeline);
    gst_bus_set_sync_handler(bus, reinterpret_cast<GstBusSyncHandler>(&cMediaGraph::onBusMessage), this, nullptr);
    gst_object_unref(bus);
    mPipelineState = GST_STATE_NULL;
}

cMediaGraph::~cMediaGraph()
{
    if (mPipeline == nullptr) {
        return;
    }
    {
        // Waits for a frame callback in progress; none starts afterwards.
        std::lock_guard<std::mutex> lock(mCallbackLock);
        mCallback = nullptr;
    }
    interrupt();
    // Stopping also releases pads that are held by a blocking probe and
    // cancels a connection that is still being made.
    gst_element_set_state(mPipeline, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(mPipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    {
        std::lock_guard<std::mutex> lock(mLock);
        for (cSourcePad& pad : mPads) {
            gst_object_unref(pad.pad);
        }
        mPads.clear();
        if (mGrabber != nullptr) {
            gst_object_unref(mGrabber);
            mGrabber = nullptr;
        }
    }
    gst_object_unref(mPipeline);
    mPipeline = nullptr;
}

GstElement* cMediaGraph::makeElement(const char* factory)
{
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element == nullptr) {
        std::lock_guard<std::mutex> lock(mLock);
        mMissingPlugins.push_back(std::string("GStreamer element \"") + factory + "\"");
        mLastError = std::string("the GStreamer element \"") + factory + "\" is not installed";
    }
    return element;
}

double cMediaGraph::volumeForAttenuation(long attenuation)
{
    if (attenuation <= -10000) {
        return 0.0;
    }
    if (attenuation >= 0) {
        return 1.0;
    }
    return std::pow(10.0, static_cast<double>(attenuation) / 2000.0);
}

void cMediaGraph::setVolume(long attenuation)
{
    GstElement* volume = nullptr;
    {
        std::lock_guard<std::mutex> lock(mLock);
        mAttenuation = attenuation;
        if (mVolume != nullptr) {
            volume = GST_ELEMENT(gst_object_ref(mVolume));
        }
    }
    if (volume != nullptr) {
        g_object_set(volume, "volume", volumeForAttenuation(attenuation), nullptr);
        gst_object_unref(volume);
    }
}

bool cMediaGraph::addSampleGrabber(cFrameCallback* callback)
{
    if (mPipeline == nullptr) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (mGrabber != nullptr) {
            return false;
        }
    }
    GstElement* sink = makeElement("appsink");
    if (sink == nullptr) {
        return false;
    }
    // The layout the video texture stores, so the upload converts nothing.
    // The fourth byte is alpha: opaque (the converter's default) for every
    // stream without alpha of its own.
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRA", nullptr);
    // Frames are handed over at their presentation time, so the picture
    // follows the clock as a video sink would.
    g_object_set(sink, "caps", caps, "sync", TRUE, "emit-signals", FALSE, "max-buffers", 2u, "drop", FALSE,
                 nullptr);
    gst_caps_unref(caps);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = reinterpret_cast<GstFlowReturn (*)(GstAppSink*, gpointer)>(&cMediaGraph::onNewSample);
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    {
        std::lock_guard<std::mutex> lock(mCallbackLock);
        mCallback = callback;
    }
    // Kept out of the pipeline until a stream is rendered into it: a sink
    // without data would hold the pipeline's start for ever.
    std::lock_guard<std::mutex> lock(mLock);
    mGrabber = GST_ELEMENT(gst_object_ref_sink(sink));
    return true;
}

bool cMediaGraph::addNullRenderer()
{
    if (mPipeline == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mLock);
    mHasNullRenderer = true;
    return true;
}

bool cMediaGraph::addSource()
{
    if (mPipeline == nullptr) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (mSource != nullptr) {
            return false;
        }
    }
    GstElement* source = makeElement("uridecodebin");
    if (source == nullptr) {
        return false;
    }
    g_signal_connect(source, "pad-added", G_CALLBACK(&cMediaGraph::onPadAdded), this);
    g_signal_connect(source, "no-more-pads", G_CALLBACK(&cMediaGraph::onNoMorePads), this);
    g_signal_connect(source, "source-setup", G_CALLBACK(&cMediaGraph::onSourceSetup), this);
    g_signal_connect(source, "autoplug-select", G_CALLBACK(&cMediaGraph::onAutoplugSelect), this);
    g_signal_connect(mPipeline, "deep-element-added", G_CALLBACK(&cMediaGraph::onDeepElementAdded), this);
    if (!gst_bin_add(GST_BIN(mPipeline), source)) {
        gst_object_unref(source);
        return false;
    }
    std::lock_guard<std::mutex> lock(mLock);
    mSource = source;
    return true;
}

void cMediaGraph::onElementAdded(GstBin*, GstBin*, GstElement* element, void*)
{
    // Whatever made it (an HLS segment that names a file, a redirect), a
    // source that reads no network stream never starts: it stays in its
    // state and the graph fails with the reason.
    if (isPermittedElement(element)) {
        return;
    }
    gst_element_set_locked_state(element, TRUE);
    gchar* uri = gst_uri_handler_get_uri(GST_URI_HANDLER(element));
    const std::string text = std::string("refused a source that reads no network stream: ") +
                             GST_OBJECT_NAME(element) + (uri != nullptr ? std::string(" for ") + uri : std::string());
    g_free(uri);
    kestrel::logWarning("playback", text);
    GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ, text.c_str());
    gst_element_post_message(element, gst_message_new_error(GST_OBJECT(element), error, text.c_str()));
    g_error_free(error);
}

void cMediaGraph::setRequestHeaders(const std::vector<std::pair<std::string, std::string>>& headers)
{
    std::lock_guard<std::mutex> lock(mLock);
    mRequestHeaders = headers;
}

bool cMediaGraph::applyRequestHeaders(GstElement* source)
{
    std::vector<std::pair<std::string, std::string>> headers;
    {
        std::lock_guard<std::mutex> lock(mLock);
        headers = mRequestHeaders;
    }
    GObjectClass* sourceType = G_OBJECT_GET_CLASS(source);
    GParamSpec* agent = g_object_class_find_property(sourceType, "user-agent");
    GParamSpec* extra = g_object_class_find_property(sourceType, "extra-headers");
    if (headers.empty() || agent == nullptr || agent->value_type != G_TYPE_STRING) {
        return false;
    }
    // The user agent has a property of its own (the HTTP and RTSP sources
    // both have it); the others join the source's extra headers, which
    // the HTTP source sends with its request and every redirection.
    GstStructure* extraHeaders = nullptr;
    if (extra != nullptr && extra->value_type == GST_TYPE_STRUCTURE) {
        g_object_get(source, "extra-headers", &extraHeaders, nullptr);
    }
    if (extraHeaders == nullptr) {
        extraHeaders = gst_structure_new_empty("extra-headers");
    }
    bool changed = false;
    for (const auto& [name, value] : headers) {
        if (g_ascii_strcasecmp(name.c_str(), "User-Agent") == 0) {
            gchar* current = nullptr;
            g_object_get(source, "user-agent", &current, nullptr);
            if (current == nullptr || value != current) {
                g_object_set(source, "user-agent", value.c_str(), nullptr);
            }
            g_free(current);
        } else {
            const gchar* current = gst_structure_get_string(extraHeaders, name.c_str());
            if (current == nullptr || value != current) {
                gst_structure_set(extraHeaders, name.c_str(), G_TYPE_STRING, value.c_str(), nullptr);
                changed = true;
            }
        }
    }
    if (changed && extra != nullptr && extra->value_type == GST_TYPE_STRUCTURE) {
        g_object_set(source, "extra-headers", extraHeaders, nullptr);
    }
    gst_structure_free(extraHeaders);
    return true;
}

void cMediaGraph::onSourceSetup(GstElement*, GstElement* source, void* data)
{
    static_cast<cMediaGraph*>(data)->applyRequestHeaders(source);
    // A udp or rtp source reads from the group it was given and from no
    // other address, whatever its address said: it must never bind every
    // interface of the machine.
    GObjectClass* sourceClass = G_OBJECT_GET_CLASS(source);
    GParamSpec* bound = g_object_class_find_property(sourceClass, "address");
    const gchar* factory = gst_element_get_factory(source) != nullptr
                               ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(gst_element_get_factory(source)))
                               : "";
    if (bound != nullptr && bound->value_type == G_TYPE_STRING &&
        (g_strcmp0(factory, "udpsrc") == 0 || g_strcmp0(factory, "rtpsrc") == 0)) {
        gchar* address = nullptr;
        g_object_get(source, "address", &address, nullptr);
        const bool group = address != nullptr && isMulticastAddress(address);
        if (!group) {
            const std::string text = std::string("refused a ") + factory + " that would read from " +
                                     (address != nullptr ? address : "every address") + ", not a multicast group";
            gst_element_set_locked_state(source, TRUE);
            kestrel::logWarning("playback", text);
            {
                std::lock_guard<std::mutex> lock(static_cast<cMediaGraph*>(data)->mLock);
                static_cast<cMediaGraph*>(data)->mSourceRefused = true;
            }
            GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ, text.c_str());
            gst_element_post_message(source, gst_message_new_error(GST_OBJECT(source), error, text.c_str()));
            g_error_free(error);
        }
        g_free(address);
    }
    // The network source gives up after the same silence as our waits, and
    // once: retrying a server that does not answer only multiplies the wait.
    GObjectClass* type = G_OBJECT_GET_CLASS(source);
    GParamSpec* timeout = g_object_class_find_property(type, "timeout");
    if (timeout != nullptr && timeout->value_type == G_TYPE_UINT) {
        g_object_set(source, "timeout", static_cast<guint>(gNetworkTimeout.load()), nullptr);
    }
    GParamSpec* retries = g_object_class_find_property(type, "retries");
    if (retries != nullptr && retries->value_type == G_TYPE_INT) {
        g_object_set(source, "retries", 0, nullptr);
    }
}

int cMediaGraph::onAutoplugSelect(GstElement*, GstPad*, void*, void* factory, void* data)
{
    // The values of the framework's autoplug-select answer.
    constexpr int TryIt = 0;
    constexpr int SkipIt = 2;
    auto* self = static_cast<cMediaGraph*>(data);
    {
        std::lock_guard<std::mutex> lock(self->mLock);
        if (self->mRequestHeaders.empty()) {
            return TryIt;
        }
    }
    // The framework's newer HLS reader fetches playlists, segments and keys
    // with a client of its own that takes no request headers; the older one
    // fetches segments through source elements of the graph, which get
    // them. Only a channel with headers is read by the older one.
    const gchar* name = gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
    if (g_strcmp0(name, "hlsdemux2") != 0) {
        return TryIt;
    }
    GstElementFactory* older = gst_element_factory_find("hlsdemux");
    if (older == nullptr) {
        return TryIt;
    }
    gst_object_unref(older);
    return SkipIt;
}

void cMediaGraph::onDeepElementAdded(GstBin*, GstBin*, GstElement* element, void* data)
{
    auto* self = static_cast<cMediaGraph*>(data);
    // Every HTTP source inside the graph (an HLS reader's segment sources)
    // sends the channel's headers; a reader that puts its own extra headers
    // on it for each segment gets ours back on top.
    GObjectClass* type = G_OBJECT_GET_CLASS(element);
    if (g_object_class_find_property(type, "extra-headers") != nullptr && self->applyRequestHeaders(element)) {
        g_signal_connect(element, "notify::extra-headers", G_CALLBACK(&cMediaGraph::onExtraHeadersChanged), self);
    }
}

void cMediaGraph::onExtraHeadersChanged(GstElement* source, void*, void* data)
{
    // Setting them again notifies once more, and then finds nothing to
    // change.
    static_cast<cMediaGraph*>(data)->applyRequestHeaders(source);
}

void cMediaGraph::onPadAdded(GstElement*, GstPad* pad, void* data)
{
    auto* self = static_cast<cMediaGraph*>(data);
    cSourcePad entry;
    entry.pad = GST_PAD(gst_object_ref(pad));
    entry.type = mediaTypeOf(pad);
    // Data waits here until the stream is rendered or declared unused, so
    // that the decoder never pushes into an unlinked pad.
    entry.blockProbe = gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM, keepBlocked, nullptr, nullptr);
    std::lock_guard<std::mutex> lock(self->mLock);
    self->mPads.push_back(entry);
    self->mLastProgress = std::chrono::steady_clock::now();
    self->mChanged.notify_all();
}

void cMediaGraph::onNoMorePads(GstElement*, void* data)
{
    auto* self = static_cast<cMediaGraph*>(data);
    std::lock_guard<std::mutex> lock(self->mLock);
    self->mNoMorePads = true;
    self->mChanged.notify_all();
}

int cMediaGraph::onBusMessage(GstBus*, GstMessage* message, void* data)
{
    auto* self = static_cast<cMediaGraph*>(data);
    std::lock_guard<std::mutex> lock(self->mLock);
    self->mLastProgress = std::chrono::steady_clock::now();
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
        self->mCompletionPending = true;
        break;
    case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        // The first error of a failing load or run names the cause; the
        // ones after it (a type finder that got no data, the source torn
        // down after a time-out) only follow from it.
        if (self->mRunning || (!self->mFailed && !self->mTimedOut)) {
            self->mLastError = error != nullptr ? error->message : "unknown error";
            // An HTTP refusal names its status ("Forbidden (HTTP 403)").
            const GstStructure* details = nullptr;
            guint status = 0;
            gst_message_parse_error_details(message, &details);
            if (details != nullptr && gst_structure_get_uint(details, "http-status-code", &status) && status >= 400) {
                self->mLastError += " (HTTP " + std::to_string(status) + ")";
            } else {
                status = 0;
            }
            GstObject* origin = GST_MESSAGE_SRC(message);
            const bool fromSource = origin != nullptr && GST_IS_URI_HANDLER(origin) &&
                                    gst_uri_handler_get_uri_type(GST_URI_HANDLER(origin)) == GST_URI_SRC;
            self->noteCause(error, debug != nullptr ? debug : "", static_cast<int>(status), fromSource);
        }
        g_free(debug);
        g_clear_error(&error);
        // Once the graph runs, a failure ends the stream like its end does,
        // so that the player moves on instead of freezing.
        if (self->mRunning) {
            if (!self->mCompletionPending) {
                self->mStreamError = self->mLastError;
            }
            self->mCompletionPending = true;
        } else {
            self->mFailed = true;
        }
        break;
    }
    case GST_MESSAGE_ELEMENT:
        // A stream the installed plugins cannot decode: the framework names
        // what is missing ("H.265 (Main Profile) decoder").
        if (gst_is_missing_plugin_message(message)) {
            gchar* description = gst_missing_plugin_message_get_description(message);
            self->mMissingPlugins.push_back(description != nullptr ? description : "an unnamed plugin");
            g_free(description);
        }
        break;
    case GST_MESSAGE_STATE_CHANGED:
        if (GST_MESSAGE_SRC(message) == GST_OBJECT(self->mPipeline)) {
            GstState newState = GST_STATE_NULL;
            gst_message_parse_state_changed(message, nullptr, &newState, nullptr);
            self->mPipelineState = newState;
        }
        break;
    default:
        break;
    }
    self->mChanged.notify_all();
    // A dropped message is ours to release.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

bool cMediaGraph::waitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done)
{
    mLastProgress = std::chrono::steady_clock::now();
    const auto silence = std::chrono::seconds(gNetworkTimeout.load());
    while (!done()) {
        if (mFailed || mInterrupted) {
            return false;
        }
        const auto deadline = std::min(mLastProgress + silence, mDeadline);
        if (std::chrono::steady_clock::now() >= deadline) {
            mLastError = deadline == mDeadline ? std::string("out of time")
                                               : "no progress within " + std::to_string(gNetworkTimeout.load()) + " s";
            mTimedOut = true;
            return false;
        }
        mChanged.wait_until(lock, deadline);
    }
    return !mFailed && !mInterrupted;
}

bool cMediaGraph::load(const std::string& address)
{
    GstElement* source = nullptr;
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (mSource == nullptr || mInterrupted) {
            return false;
        }
        source = mSource;
    }
    // The HLS reader fetches playlists and keys without the channel's
    // headers: a channel that has some is read through a relay of its own
    // that fetches them with the headers.
    std::string target = address;
    std::vector<std::pair<std::string, std::string>> headers;
    {
        std::lock_guard<std::mutex> lock(mLock);
        headers = mRequestHeaders;
    }
    if (!headers.empty() && cHlsRelay::isHlsAddress(address)) {
        const unsigned timeoutMs = gNetworkTimeout.load() * 1000;
        auto relay = std::make_unique<cHlsRelay>(headers, timeoutMs, timeoutMs + 5000);
        if (relay->isValid()) {
            target = relay->playlistAddress(address);
            std::lock_guard<std::mutex> lock(mLock);
            mRelay = std::move(relay);
        }
    }
    gchar* uri = nullptr;
    if (gst_uri_is_valid(target.c_str())) {
        uri = g_strdup(target.c_str());
    } else if (g_path_is_absolute(address.c_str())) {
        uri = gst_filename_to_uri(address.c_str(), nullptr);
    }
    if (uri == nullptr) {
        std::lock_guard<std::mutex> lock(mLock);
        mLastError = "not an address: " + address;
        return false;
    }
    g_object_set(source, "uri", uri, nullptr);
    g_free(uri);
    {
        std::lock_guard<std::mutex> lock(mLock);
        mAddress = address;
        mLoadStarted = std::chrono::steady_clock::now();
    }
    const GstStateChangeReturn change = gst_element_set_state(mPipeline, GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_FAILURE) {
        std::lock_guard<std::mutex> lock(mLock);
        mFailed = true;
        if (mLastError.empty()) {
            mLastError = "the source refused to start";
        }
        return false;
    }
    if (change == GST_STATE_CHANGE_NO_PREROLL) {
        {
            std::lock_guard<std::mutex> lock(mLock);
            mLiveSource = true;
        }
        // A live source (RTSP) sends nothing until the graph plays, so its
        // streams can only be found while it does; their pads stay blocked
        // until they are rendered, and run() waits for the sinks as usual.
        gst_element_set_state(mPipeline, GST_STATE_PLAYING);
    }
    std::unique_lock<std::mutex> lock(mLock);
    const bool loaded = waitFor(lock, [this] { return mNoMorePads; });
    return loaded && !mPads.empty();
}

bool cMediaGraph::linkChain(GstPad* pad, const std::vector<GstElement*>& chain)
{
    for (GstElement* element : chain) {
        if (element == nullptr) {
            // Drop the fresh elements; the grabber is not fresh and stays.
            for (GstElement* other : chain) {
                if (other != nullptr && g_object_is_floating(other)) {
                    gst_object_unref(other);
                }
            }
            return false;
        }
    }
    for (GstElement* element : chain) {
        gst_bin_add(GST_BIN(mPipeline), element);
    }
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        if (!gst_element_link(chain[i], chain[i + 1])) {
            return false;
        }
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        gst_element_sync_state_with_parent(*it);
    }
    GstPad* sinkPad = gst_element_get_static_pad(chain.front(), "sink");
    const bool linked = gst_pad_link(pad, sinkPad) == GST_PAD_LINK_OK;
    gst_object_unref(sinkPad);
    return linked;
}

bool cMediaGraph::hasStream(eMediaType type)
{
    std::lock_guard<std::mutex> lock(mLock);
    for (const cSourcePad& pad : mPads) {
        if (pad.type == type && !pad.rendered) {
            return true;
        }
    }
    return false;
}

bool cMediaGraph::renderStream(eMediaType type, eFilter from, eFilter to)
{
    if (mPipeline == nullptr) {
        return false;
    }
    GstPad* pad = nullptr;
    unsigned long blockProbe = 0;
    GstElement* grabber = nullptr;
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (from == FilterSampleGrabber) {
            // The grabber is the end of its own chain; what it has taken is
            // discarded, as a null renderer after it would.
            return type == MediaVideo && to == FilterNullRenderer && mGrabberConnected && mHasNullRenderer;
        }
        if (from != FilterSource || mSource == nullptr) {
            return false;
        }
        const bool pairMakesSense = (type == MediaVideo && to == FilterSampleGrabber && mGrabber != nullptr &&
                                     !mGrabberConnected) ||
                                    (type == MediaAudio && to == FilterDefaultRenderer) ||
                                    (to == FilterNullRenderer && mHasNullRenderer);
        if (!pairMakesSense) {
            return false;
        }
        for (cSourcePad& candidate : mPads) {
            if (candidate.type == type && !candidate.rendered) {
                candidate.rendered = true;
                pad = GST_PAD(gst_object_ref(candidate.pad));
                blockProbe = candidate.blockProbe;
                candidate.blockProbe = 0;
                break;
            }
        }
        if (pad == nullptr) {
            return false;
        }
        if (to == FilterSampleGrabber) {
            grabber = mGrabber; // the pipeline takes a reference of its own
        }
    }

    std::vector<GstElement*> chain;
    GstElement* volume = nullptr;
    if (to == FilterSampleGrabber) {
        chain = {makeElement("videoconvert"), grabber};
    } else if (to == FilterDefaultRenderer) {
        volume = makeElement("volume");
        chain = {makeElement("audioconvert"), makeElement("audioresample"), volume, makeElement("autoaudiosink")};
    } else {
        GstElement* sink = makeElement("fakesink");
        if (sink != nullptr) {
            g_object_set(sink, "sync", TRUE, nullptr);
        }
        chain = {sink};
    }
    if (volume != nullptr) {
        std::lock_guard<std::mutex> lock(mLock);
        g_object_set(volume, "volume", volumeForAttenuation(mAttenuation), nullptr);
    }
    const bool linked = linkChain(pad, chain);
    if (grabber != nullptr && !linked) {
        std::lock_guard<std::mutex> lock(mLock);
        mLastError = "can't link the video chain";
    }
    if (blockProbe != 0) {
        gst_pad_remove_probe(pad, blockProbe);
    }
    gst_object_unref(pad);

    std::lock_guard<std::mutex> lock(mLock);
    if (linked && to == FilterSampleGrabber) {
        mGrabberConnected = true;
    }
    if (linked && volume != nullptr) {
        mVolume = volume;
        g_object_set(volume, "volume", volumeForAttenuation(mAttenuation), nullptr);
    }
    return linked;
}

bool cMediaGraph::run()
{
    if (mPipeline == nullptr) {
        return false;
    }
    std::vector<std::pair<GstPad*, unsigned long>> unused;
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (mInterrupted || mFailed) {
            return false;
        }
        mRunning = true;
        // Streams nobody rendered flow into nothing, so that they never hold
        // up the ones that play.
        for (cSourcePad& pad : mPads) {
            if (!pad.rendered && pad.blockProbe != 0) {
                unused.emplace_back(GST_PAD(gst_object_ref(pad.pad)), pad.blockProbe);
                pad.blockProbe = 0;
                pad.rendered = true;
            }
        }
    }
    for (auto& [pad, probe] : unused) {
        gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          dropData, nullptr, nullptr);
        gst_pad_remove_probe(pad, probe);
        gst_object_unref(pad);
    }
    if (gst_element_set_state(mPipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        std::lock_guard<std::mutex> lock(mLock);
        mRunning = false;
        return false;
    }
    std::unique_lock<std::mutex> lock(mLock);
    // Errors before the graph reaches the running state fail the run rather
    // than ending a stream that never started.
    mRunning = false;
    const bool running = waitFor(lock, [this] { return mPipelineState == GST_STATE_PLAYING; });
    mRunning = running;
    return running;
}

void cMediaGraph::stop()
{
    if (mPipeline == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mLock);
        mRunning = false;
    }
    gst_element_set_state(mPipeline, GST_STATE_NULL);
}

bool cMediaGraph::getFrameSize(int& width, int& height)
{
    GstElement* grabber = nullptr;
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (!mGrabberConnected || mGrabber == nullptr) {
            return false;
        }
        grabber = GST_ELEMENT(gst_object_ref(mGrabber));
    }
    bool known = false;
    GstPad* pad = gst_element_get_static_pad(grabber, "sink");
    GstCaps* caps = gst_pad_get_current_caps(pad);
    GstVideoInfo info;
    if (caps != nullptr && gst_video_info_from_caps(&info, caps)) {
        width = GST_VIDEO_INFO_WIDTH(&info);
        height = GST_VIDEO_INFO_HEIGHT(&info);
        known = true;
    }
    if (caps != nullptr) {
        gst_caps_unref(caps);
    }
    gst_object_unref(pad);
    gst_object_unref(grabber);
    return known;
}

cMediaGraph::eEvent cMediaGraph::pollEvent(std::string* streamError)
{
    std::lock_guard<std::mutex> lock(mLock);
    if (mCompletionPending) {
        mCompletionPending = false;
        if (streamError != nullptr) {
            *streamError = mStreamError;
        }
        mStreamError.clear();
        return EventComplete;
    }
    return EventNone;
}

bool cMediaGraph::isLive()
{
    if (mPipeline == nullptr) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (mLiveSource) {
            return true;
        }
    }
    gint64 duration = -1;
    return !gst_element_query_duration(mPipeline, GST_FORMAT_TIME, &duration) || duration <= 0;
}

void cMediaGraph::setDeadline(std::chrono::steady_clock::time_point deadline)
{
    std::lock_guard<std::mutex> lock(mLock);
    mDeadline = deadline;
    mChanged.notify_all();
}

namespace {

bool mentions(const std::string& text, const char* word)
{
    return g_strstr_len(text.c_str(), -1, word) != nullptr;
}

// Waits no longer than the fetch does: stops after the answer's first piece.
struct cProbeAnswered {};

} // namespace

void cMediaGraph::noteCause(const GError* error, const std::string& debug, int httpStatus, bool fromSource)
{
    mCause = sPlayFailure::KindNotOpened;
    mCauseStatus = 0;
    mCauseNeedsProbe = false;
    // Both the message and the developer's text are read: an HTTP source
    // names the network's failure in the latter ("Could not resolve ...",
    // "Connection refused", "timed out").
    gchar* lower = g_ascii_strdown((std::string(error != nullptr ? error->message : "") + " " + debug).c_str(), -1);
    const std::string text = lower;
    g_free(lower);
    if (mSourceRefused) {
        mCause = sPlayFailure::KindNotAllowed;
    } else if (httpStatus >= 400) {
        mCause = sPlayFailure::KindHttpStatus;
        mCauseStatus = httpStatus;
    } else if (error != nullptr && error->domain == GST_RESOURCE_ERROR) {
        if (mentions(text, "resolv")) {
            mCause = sPlayFailure::KindHostUnknown;
        } else if (mentions(text, "refused")) {
            mCause = sPlayFailure::KindRefused;
        } else if (mentions(text, "timed out") || mentions(text, "timeout")) {
            mCause = sPlayFailure::KindNoAnswer;
        } else if (mentions(text, "tls") || mentions(text, "ssl") || mentions(text, "certificate")) {
            mCause = sPlayFailure::KindSecureConnection;
        } else {
            mCauseNeedsProbe = fromSource;
        }
    } else if (error != nullptr && error->domain == GST_STREAM_ERROR) {
        switch (error->code) {
        case GST_STREAM_ERROR_TYPE_NOT_FOUND:
            // The type finder reached the end of a stream too short to tell
            // ("Can't typefind stream"), or read data it knows nothing of.
            mCause = mentions(text, "enough data") || mentions(text, "can't typefind")
                         ? sPlayFailure::KindStreamEnded
                         : sPlayFailure::KindUnsupportedFormat;
            break;
        case GST_STREAM_ERROR_CODEC_NOT_FOUND:
        case GST_STREAM_ERROR_WRONG_TYPE:
            mCause = sPlayFailure::KindUnsupportedFormat;
            break;
        case GST_STREAM_ERROR_FAILED:
            // A network source stops its stream with this generic error and
            // keeps the cause to its debug log: the address is asked again
            // by the probe of failureCause().
            mCauseNeedsProbe = fromSource;
            break;
        default:
            break;
        }
    }
    // A source that fails only after the whole time-out has passed without
    // data gave up on a silent server.
    if (mCauseNeedsProbe && std::chrono::steady_clock::now() - mLoadStarted >=
                                std::chrono::seconds(gNetworkTimeout.load())) {
        mCause = sPlayFailure::KindNoAnswer;
        mCauseNeedsProbe = false;
    }
}

sPlayFailure cMediaGraph::failureCause(sPlayFailure::eStep step)
{
    sPlayFailure failure;
    failure.step = step;
    std::string address;
    std::vector<std::pair<std::string, std::string>> headers;
    bool probe = false;
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (!mMissingPlugins.empty()) {
            failure.kind = sPlayFailure::KindUnsupportedFormat;
            failure.format = mMissingPlugins.front();
            return failure;
        }
        // The graph's own watch gave up on silence or on the deadline.
        if (mTimedOut) {
            failure.kind = sPlayFailure::KindNoAnswer;
            return failure;
        }
        failure.kind = static_cast<sPlayFailure::eKind>(mCause);
        failure.httpStatus = mCauseStatus;
        probe = mCauseNeedsProbe;
        address = mAddress;
        headers = mRequestHeaders;
    }
    if (!probe || !isWebAddress(address)) {
        return failure;
    }
    // The source said only that its stream stopped: asking the address
    // once more, with the same headers and time-out, tells what the
    // network answers.
    cFetchLimits limits;
    limits.networkTimeoutMs = gNetworkTimeout.load() * 1000;
    limits.deadlineMs = limits.networkTimeoutMs + 2000;
    limits.requestHeaders = headers;
    try {
        fetchAddress(
            address, limits, [](const char*, size_t) { throw cProbeAnswered(); },
            [this] { return isInterrupted(); });
    } catch (const cProbeAnswered&) {
        // It answers now: the cause is not the connection.
    } catch (const cFetchFailure& fetchFailure) {
        const sPlayFailure probed = playFailureOfFetch(fetchFailure, step);
        failure.kind = probed.kind;
        failure.httpStatus = probed.httpStatus;
    } catch (const cFetchStopped&) {
    }
    return failure;
}

std::string cMediaGraph::missingPlugins()
{
    std::lock_guard<std::mutex> lock(mLock);
    std::string joined;
    for (const std::string& plugin : mMissingPlugins) {
        joined += (joined.empty() ? "" : ", ") + plugin;
    }
    return joined;
}

bool cMediaGraph::timedOut()
{
    std::lock_guard<std::mutex> lock(mLock);
    return mTimedOut;
}

void cMediaGraph::interrupt()
{
    std::lock_guard<std::mutex> lock(mLock);
    mInterrupted = true;
    mChanged.notify_all();
}

bool cMediaGraph::isInterrupted()
{
    std::lock_guard<std::mutex> lock(mLock);
    return mInterrupted;
}

std::string cMediaGraph::lastError()
{
    std::lock_guard<std::mutex> lock(mLock);
    return mLastError;
}

int cMediaGraph::onNewSample(GstAppSink* sink, void* data)
{
    return static_cast<cMediaGraph*>(data)->deliverSample(sink);
}

int cMediaGraph::deliverSample(GstAppSink* sink)
{
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample == nullptr) {
        return GST_FLOW_EOS;
    }
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    GstVideoFrame frame;
    if (buffer != nullptr && caps != nullptr && gst_video_info_from_caps(&info, caps) &&
        gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        cVideoFrame view;
        view.width = GST_VIDEO_FRAME_WIDTH(&frame);
        view.height = GST_VIDEO_FRAME_HEIGHT(&frame);
        view.stride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
        view.data = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        GstMapInfo& map = frame.map[0];
        view.length = map.size - static_cast<size_t>(view.data - map.data);
        if (view.width > cVideoFrame::MaxFrameSide || view.height > cVideoFrame::MaxFrameSide) {
            const std::string text = "a frame of " + std::to_string(view.width) + "x" + std::to_string(view.height) +
                                     " is larger than " + std::to_string(cVideoFrame::MaxFrameSide) + "x" +
                                     std::to_string(cVideoFrame::MaxFrameSide);
            gst_video_frame_unmap(&frame);
            gst_sample_unref(sample);
            GError* error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT, text.c_str());
            gst_element_post_message(GST_ELEMENT(sink), gst_message_new_error(GST_OBJECT(sink), error, text.c_str()));
            g_error_free(error);
            return GST_FLOW_ERROR;
        }
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        const double sampleTime = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<double>(pts) / GST_SECOND : -1.0;
        {
            // The frame is read in place: the callback copies what it keeps.
            std::lock_guard<std::mutex> lock(mCallbackLock);
            if (mCallback != nullptr && view.isWhole()) {
                mCallback->sampleCB(sampleTime, view);
            }
        }
        gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}
