#pragma once
// Reads an extended M3U playlist (the channel lists people keep) into the
// catalogue builder's entries.
//
// Each channel is an "#EXTINF:<duration> key="value" ...,<title>" line
// followed by its address line. The title after the first comma outside
// quotes is the name; tvg-country gives the countries (ISO 3166-1 codes
// separated by ';', shown by their English names, unknown codes kept as
// written), group-title (or an "#EXTGRP:" line before the address) the
// types (separated by ';'), tvg-name the description. Without tvg-country,
// the country is the ISO code at the end of tvg-id before any '@'
// ("ORF1.at@SD": Austria), else a country code or English name at the head
// of a group followed by a separator ("UK | Sports", "|DE| News",
// "FR: Films", "[ES] Deportes": the rest is the type). A channel with
// several countries or types is listed under each; one without a country
// or a type (or whose group is "Undefined") is listed under "Unknown".
// tvg-shift (hours, fractional or negative; on the "#EXTM3U" line for every
// entry without its own) shows the channel's programmes that much later.
// Attribute names are matched without regard to case, values may be quoted
// or not, attributes come in any order. A byte-order mark, carriage returns
// and blank lines are accepted, and UTF-16 text with its byte-order mark is
// read as well.
//
// Request headers a channel's servers insist on are read in the forms lists
// use: the #EXTINF attributes user-agent / http-user-agent and
// http-referrer / referrer / referer (and http-origin),
// "#EXTVLCOPT:http-user-agent=", "#EXTVLCOPT:http-referrer=" and
// "#EXTVLCOPT:http-origin=" lines, "#KODIPROP:inputstream.adaptive.
// stream_headers=User-Agent=...&Referer=..." (percent-encoded) and
// "#EXTHTTP:{"User-Agent":"...","Referer":"..."}" (a JSON object of
// strings; any other text is ignored, naming its line) between one address
// and the next, and an "address|User-Agent=...&Referer=..."
// suffix (also Origin; values percent-decoded, the suffix removed from the
// address). Where several forms name one header, the suffix wins over the
// option line, which wins over the attribute. A value with a control
// character (a line break would inject a header line) or longer than
// MaxHeaderValueBytes is dropped, naming its line; the channel is still
// imported. Other '#' lines (other options and properties, comments) are
// ignored. A line that is not UTF-8 is read as Latin-1 (with
// the Windows-1252 characters in 0x80-0x9F). Entries without an address,
// addresses whose scheme is not http, https, rtsp, rtmp or udp, and address
// lines without an #EXTINF are skipped with their line number; the rest is
// imported. The same country, type, name and address is kept once.

#include <cstddef>
#include <string>
#include <vector>

#include "catalogue/CatalogueBuilder.h"

// No playlist larger than this is read.
constexpr size_t MaxPlaylistBytes = 256u * 1024 * 1024;
// A longer line is skipped: no real entry comes near it.
constexpr size_t MaxPlaylistLineBytes = 64 * 1024;
// Rows one entry may make (its countries by its types); the rest of its
// combinations are left out, naming the line.
constexpr size_t MaxRowsPerEntry = 64;
// Rows of one import (the installed catalogue's own cap); entries beyond
// it are left out, naming the line.
constexpr size_t MaxImportedRows = 1000000;
// Text the rows of one import may hold in all (fields, headers, guide ids,
// counted for every row an entry makes). A real catalogue of a million
// channels holds about 200 MB; a small compressed list whose every entry
// makes many long rows would hold gigabytes, and fails as a whole.
constexpr size_t MaxImportedBytes = size_t(384) << 20;
// Longest name, description, country or type, and address, that a
// catalogue takes; an entry with a longer one is skipped, naming its line.
constexpr size_t MaxFieldBytes = 4096;
constexpr size_t MaxAddressBytes = 8192;
// A longer tvg-id is left out (the channel is still imported).
constexpr size_t MaxGuideIdBytes = 256;
// Guide addresses taken from one list, and the longest one.
constexpr size_t MaxGuideAddresses = 32;
constexpr size_t MaxGuideAddressBytes = 2048;

// The name a channel without a country or a type is listed under.
extern const char* const UnknownCategory;

struct cM3uSkip {
    size_t line = 0;    // 1-based
    std::string reason; // what was wrong, in a few words
};

struct cM3uImport {
    std::vector<cListingEntry> entries;  // the catalogue's rows, in playlist order
    size_t channels = 0;                 // distinct name and address pairs
    std::vector<std::string> countries;  // distinct, sorted byte-wise
    std::vector<std::string> types;      // distinct, sorted byte-wise
    size_t duplicates = 0;               // rows dropped as already present
    size_t ignoredLines = 0;             // option lines and comments
    std::vector<size_t> latin1Lines;     // lines read as Latin-1
    std::vector<cM3uSkip> skipped;       // in line order
    std::vector<cM3uSkip> refusedHeaders; // header values dropped, in line order
    size_t channelsWithHeaders = 0;      // entries imported with request headers
    std::vector<std::string> guideAddresses; // from the "#EXTM3U" line, each once
};

// Reads the whole playlist text. False, with the reason in error, when
// nothing can be imported (the skipped lines are still filled in).
bool parseM3u(const std::string& text, cM3uImport& result, std::string& error);

// Reads the file ('-': standard input) whole, refusing one larger than
// MaxPlaylistBytes. False with the reason in error.
bool readPlaylist(const std::string& path, std::string& text, std::string& error);
