#include "TestStreams.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <ostream>

namespace {

// Small enough for two shared cores; a key frame every second so that a
// reader joining the stream starts within a second.
const char* const VideoEncoder = "videotestsrc is-live=true pattern=ball ! "
                                 "video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! "
                                 "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=25 bitrate=300";
const char* const AudioEncoder = "audiotestsrc is-live=true wave=sine ! audio/x-raw,rate=48000,channels=1 ! "
                                 "avenc_aac bitrate=64000";

} // namespace

void writeLiveTransportStream(std::ostream& body, const std::function<bool()>& stopping)
{
    const std::string description = std::string(VideoEncoder) + " ! h264parse ! mpegtsmux name=mux ! " +
                                    "appsink name=out sync=false max-buffers=100 " + AudioEncoder +
                                    " ! aacparse ! mux.";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr || error != nullptr) {
        g_clear_error(&error);
        if (pipeline != nullptr) {
            gst_object_unref(pipeline);
        }
        return;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    while (!stopping() && body) {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 100 * GST_MSECOND);
        if (sample == nullptr) {
            if (gst_app_sink_is_eos(GST_APP_SINK(sink))) {
                break;
            }
            continue;
        }
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            body.write(reinterpret_cast<const char*>(map.data), static_cast<std::streamsize>(map.size));
            body.flush();
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
}

cTestRtspServer::cTestRtspServer()
{
    mContext = g_main_context_new();
    mLoop = g_main_loop_new(mContext, FALSE);
    mServer = gst_rtsp_server_new();
    gst_rtsp_server_set_address(mServer, "127.0.0.1");
    gst_rtsp_server_set_service(mServer, "0");
    mSourceId = gst_rtsp_server_attach(mServer, mContext);
    if (mSourceId != 0) {
        mPort = gst_rtsp_server_get_bound_port(mServer);
    }
    mThread = std::thread([this] { g_main_loop_run(mLoop); });
}

cTestRtspServer::~cTestRtspServer()
{
    vanish();
    g_main_loop_quit(mLoop);
    mThread.join();
    gst_object_unref(mServer);
    g_main_loop_unref(mLoop);
    g_main_context_unref(mContext);
}

void cTestRtspServer::addStream(const std::string& path, eTransport transport)
{
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    const std::string launch = std::string("( ") + VideoEncoder + " ! rtph264pay name=pay0 pt=96 config-interval=1 " +
                               AudioEncoder + " ! rtpmp4gpay name=pay1 pt=97 )";
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    gst_rtsp_media_factory_set_protocols(factory, transport == OverTcp ? GST_RTSP_LOWER_TRANS_TCP
                                                                       : GST_RTSP_LOWER_TRANS_UDP);
    // Each session gets its own media, so that every open is counted and
    // a reopened stream starts afresh.
    gst_rtsp_media_factory_set_shared(factory, FALSE);
    g_signal_connect(factory, "media-configure",
                     G_CALLBACK(+[](GstRTSPMediaFactory*, GstRTSPMedia*, gpointer self) {
                         ++static_cast<cTestRtspServer*>(self)->mSessions;
                     }),
                     this);
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(mServer);
    gst_rtsp_mount_points_add_factory(mounts, path.c_str(), factory); // takes the factory
    g_object_unref(mounts);
}

std::string cTestRtspServer::url(const std::string& path) const
{
    return "rtsp://127.0.0.1:" + std::to_string(mPort) + path;
}

void cTestRtspServer::vanish()
{
    if (mSourceId != 0) {
        // The listening socket belongs to the source: it closes with it.
        GSource* source = g_main_context_find_source_by_id(mContext, mSourceId);
        if (source != nullptr) {
            g_source_destroy(source);
        }
        mSourceId = 0;
    }
    gst_rtsp_server_client_filter(
        mServer, [](GstRTSPServer*, GstRTSPClient*, gpointer) { return GST_RTSP_FILTER_REMOVE; }, nullptr);
}
