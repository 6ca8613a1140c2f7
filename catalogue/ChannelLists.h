#pragma once
// The user's own channel lists as the catalogue's source: each list is an
// M3U file on disk or an http/https address. At every start the update
// reads them all, imports them with the M3U importer, merges them into one
// catalogue and installs it when its rows differ from the installed ones.
//
// A list that cannot be read or imported keeps the channels it gave last
// time: the last good copy of every list is kept in the channel folder
// ("lists/<digest of the source>.m3u"). A list that never gave any
// channel contributes none; the other lists are still installed.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/CatalogueBuilder.h"

struct cUpdateLimits;

// True when the source names an http or https address; anything else is a
// local path.
bool isListAddress(const std::string& source);

// Reads one list source into text (decompressed when it is gzip data):
// a web address through fetchAddress within the limits' list deadline and
// size, a local path only when it is a plain file no larger than the cap.
// False with the reason (naming the source) in error. Throws cFetchStopped
// when stop() turns true during a download.
bool readListSource(const std::string& source, const cUpdateLimits& limits, const std::function<bool()>& stop,
                    std::string& text, std::string& error);

// Where the last good copy of a source is kept, inside the channel folder.
std::u16string listCopyPath(const std::u16string& channelFolder, const std::string& source);

// The rows of every list, in list order, each row once (a channel that two
// lists name alike is kept from the first). The lists' rows are moved out,
// and each list emptied as it is merged.
std::vector<cListingEntry> mergeLists(std::vector<std::vector<cListingEntry>>&& lists);

// A digest of the rows (hexadecimal text): equal rows (with their request
// headers and guide ids) in equal order give equal digests. Stored as the `listsdigest` setting of the installed
// catalogue.
std::string rowsDigest(const std::vector<cListingEntry>& rows);
