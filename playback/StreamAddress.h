#pragma once
// What the player may open: network media only. A catalogue, an ASX
// playlist or an HLS playlist comes from outside and must not make the
// player read local files, open devices or listen on every interface.
//
// Allowed: http, https, rtsp, rtsps, rtspt, rtmp, rtmps with a host, and
// udp and rtp only to a multicast group (224.0.0.0/4, ff00::/8), which is
// what a multicast channel names, with no option that would change the
// address it reads from ("?address=..."). Everything else (file, fd, multifile,
// cameras, DVB cards, discs, bare paths, udp on a local port) is refused.

#include <string>

typedef struct _GstElement GstElement;

// True when the address may be opened; otherwise false with the reason in
// a few words ("scheme \"file\" is not a network stream").
bool checkStreamAddress(const std::string& address, std::string& reason);

// Removes from the media framework every source element that reads
// anything but the allowed network protocols (the file, fd, multifile,
// camera, DVB, disc... sources), so that no playlist, redirect or HLS
// segment can make a graph open one. For the whole process; the program
// calls it at start-up, before the warm-up. Initialises the media framework
// if needed. A plugin loaded later (the warm-up, a graph that needs one)
// registers its sources again: from this call on, every such source is
// taken out again as it is registered.
// From then on every graph also watches the elements added inside it (the
// sources an HLS demuxer makes for its segments, for one): a source that
// would read anything else never starts, and the graph fails.
void restrictMediaSources();

// Takes out again any source that reads local things, once
// restrictMediaSources() has run (a check every graph makes as it is built,
// besides the registry's watch).
void keepMediaSourcesRestricted();

// True for an address of a multicast group (224.0.0.0/4, ff00::/8; an IPv6
// address with or without its brackets).
bool isMulticastAddress(const std::string& host);

// True once restrictMediaSources() has run.
bool mediaSourcesRestricted();

// True when the element is a URI source that reads only network streams,
// or no URI source at all; false for a file, device or disc source.
bool isPermittedElement(GstElement* element);
