#pragma once
// What the player may open: network media only. A catalogue, an ASX
// playlist or an HLS playlist comes from outside and must not make the
// player read local files, open devices or listen on every interface.
//
// Allowed: http, https, rtsp, rtsps, rtspt, rtmp, rtmps with a host, and
// udp and rtp only to a multicast group (224.0.0.0/4, ff00::/8), which is
// what a multicast channel names. Everything else (file, fd, multifile,
// cameras, DVB cards, discs, bare paths, udp on a local port) is refused.

#include <string>

typedef struct _GstElement GstElement;

// True when the address may be opened; otherwise false with the reason in
// a few words ("scheme \"file\" is not a network stream").
bool checkStreamAddress(const std::string& address, std::string& reason);

// Removes from the media framework every source element that reads
// anything but the allowed network protocols (the file, fd, multifile,
// camera, DVB, disc... sources), so that no playlist, redirect or HLS
// segment can make a graph open one. For the whole process, once; the
// program calls it at start-up. Initialises the media framework if needed.
// From then on every graph also watches the elements added inside it (the
// sources an HLS demuxer makes for its segments, for one): a source that
// would read anything else never starts, and the graph fails.
void restrictMediaSources();

// True once restrictMediaSources() has run.
bool mediaSourcesRestricted();

// True when the element is a URI source that reads only network streams,
// or no URI source at all; false for a file, device or disc source.
bool isPermittedElement(GstElement* element);
