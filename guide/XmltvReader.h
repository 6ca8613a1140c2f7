#pragma once
// A streaming reader of XMLTV guides. The document is read a piece at a
// time from a file on disk (gzip-compressed or plain) and handed over one
// channel and one programme at a time; it is never held whole, and what the
// parser may keep of it is capped, so a 200 MB guide is read in a few
// megabytes.
//
// The document is data: no DTD is loaded, nothing is fetched, and entities
// a document declares are never expanded in text (a reference to one is
// left out, one line counting them); expansion in attribute values is
// bounded by the parser's amplification check and the memory cap.
// Nesting, the decompressed size, every kept text and the numbers of
// channels and programmes are capped. A document that is not well-formed,
// is cut short or exceeds a size or nesting cap fails whole; single bad
// entries (a time in a wrong format, a programme that ends before it
// starts) are skipped and counted.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct cXmltvCaps {
    // The file on disk (compressed or not), and the document once
    // decompressed.
    uint64_t maxFileBytes = uint64_t(512) << 20;
    uint64_t maxXmlBytes = uint64_t(1) << 30;
    // What the XML parser itself may allocate: its buffer (a single tag,
    // comment or attribute value must fit) and its element stack.
    size_t maxParserBytes = 16u << 20;
    int maxDepth = 32;
    // Bytes kept of each text (UTF-8, cut on a character boundary).
    size_t maxIdBytes = 256;
    size_t maxNameBytes = 256;
    size_t maxTitleBytes = 512;
    size_t maxDescriptionBytes = 2048;
    size_t maxCategoryBytes = 128;
    size_t maxNamesPerChannel = 8;
    // Distinct channel ids (declared or named by a programme).
    size_t maxChannels = 50000;
    // Programmes handed over per channel and in all.
    size_t maxProgrammesPerChannel = 2000;
    size_t maxProgrammes = 1000000;
};

struct cXmltvChannel {
    std::string id;
    std::vector<std::string> names; // the display-names, in document order
};

struct cXmltvProgramme {
    std::string channel;
    int64_t start = 0;           // UTC seconds
    std::optional<int64_t> stop; // missing: ends where the channel's next programme starts
    std::string title, subTitle, description, category;
};

// Which programmes are handed over: those that may show between from and
// to (UTC seconds), and, a day either side, those whose start tells where a
// neighbour without a stop time ends.
struct cXmltvWindow {
    int64_t from = 0;
    int64_t to = 0;
};

struct cXmltvResult {
    bool whole = false;   // the document was read to its end
    bool stopped = false; // the stop request ended the read
    std::string error;    // why not, when not whole
    uint64_t xmlBytes = 0;
    size_t channels = 0;   // channel elements handed over
    size_t programmes = 0; // programmes handed over
    // What was skipped or changed, each "count what" (for one log line).
    std::vector<std::string> problems;
    // Times read as UTC for want of an offset.
    size_t timesWithoutOffset = 0;
};

struct cXmltvSink {
    std::function<void(const cXmltvChannel&)> channel;
    // False when the receiver takes no more programmes (its own cap).
    std::function<bool(const cXmltvProgramme&)> programme;
};

// Reads the guide at path (a UTF-8 file name of a plain file). The sink's
// functions may throw std::exception: the read then fails with its message.
// stop() is asked after every piece of the file.
cXmltvResult readXmltvFile(const std::string& path, const cXmltvCaps& caps, const cXmltvWindow& window,
                           const cXmltvSink& sink, const std::function<bool()>& stop);
