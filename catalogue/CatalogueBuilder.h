#pragma once
// The catalogue builder: turns a plain text listing of channels into the
// SQLite catalogue the player downloads, and lists a catalogue back with its
// addresses decoded.
//
// The listing is UTF-8 text, one channel a line, five fields separated by
// tabs: country, type, name, description, stream address. The description
// may be empty; the address must be plain ASCII (only ASCII survives the
// address encoding). Empty lines and lines starting with '#' are skipped; a
// carriage return before the line feed is dropped.

#include <iosfwd>
#include <string>
#include <vector>

#include "catalogue/RequestHeaders.h"

struct cListingEntry {
    std::string country;     // UTF-8
    std::string type;        // UTF-8
    std::string name;        // UTF-8
    std::string description; // UTF-8
    std::string address;     // ASCII, in clear
    cRequestHeaders headers = {}; // sent with every request of the channel; none from a listing
    std::string guideId = {};     // the list's tvg-id: the channel's id in a programme guide; none from a listing
    int guideShiftMinutes = 0;    // the list's tvg-shift: its programmes are shown this much later
};

// Reads the whole listing. False with "line N: reason" in error at the first
// line that is not a valid entry; nothing partial is returned then.
bool parseListing(std::istream& listing, std::vector<cListingEntry>& entries, std::string& error);

struct cBuildOptions {
    // The indexes that serve the browser's grouped and filtered queries.
    // Only benchmarks turn them off, to show what they are worth.
    bool indexes = true;
};

// Writes the catalogue at outputPath: the `channels` table with one row per
// entry in listing order, addresses encoded. When any entry has request
// headers, a second table, `channel_headers` (url, user_agent, referrer,
// origin), holds them once per address (the first entry's), keyed by
// headersKey() of the address. Likewise, when any entry has a guide id,
// `channel_guide` (url, guide_id) holds it once per address, and when any
// entry's guide is shifted, `channel_guide_shift` (url, minutes).
// `channels`
// stays as it always was. The file is built beside the
// target and renamed over it when complete, so a server handing out the
// old file never sends a half-built one. False with a reason on failure.
bool buildCatalogue(const std::vector<cListingEntry>& entries, const std::string& outputPath,
                    const cBuildOptions& options, std::string& error);

// Writes every channel of the catalogue as a listing line (the builder's
// input form) with the address decoded, in table order. The catalogue must
// pass the check before installing (catalogue/CatalogueCheck.h). Each field
// is written printable (kestrel::printableText): tabs and line breaks as
// spaces, so that each channel stays one line, other control characters
// escaped, malformed UTF-8 as U+FFFD. False with a reason when the file is
// not a catalogue.
bool listCatalogue(const std::string& catalogPath, std::ostream& out, std::string& error);
