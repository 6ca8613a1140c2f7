// lumivex-catalogue: builds a channel catalogue from a listing or from an
// extended M3U playlist, or lists a catalogue with its addresses decoded.

#include <cstring>
#include <fstream>
#include <iostream>

#include "kestrel/Exception.h"
#include "catalogue/CatalogueBuilder.h"
#include "catalogue/M3uImport.h"

namespace {

int usage()
{
    std::cerr << "usage:\n"
                 "  lumivex-catalogue build LISTING OUTPUT [--no-indexes]\n"
                 "      LISTING: UTF-8 text, one channel a line, tab-separated:\n"
                 "      country, type, name, description, address ('-' reads standard input)\n"
                 "  lumivex-catalogue import-m3u PLAYLIST OUTPUT\n"
                 "      PLAYLIST: an extended M3U channel list ('-' reads standard input), each\n"
                 "      channel an '#EXTINF:<duration> key=\"value\" ...,<title>' line, then its\n"
                 "      address. Name: the title. Country: tvg-country, ISO 3166-1 codes separated\n"
                 "      by ';' (shown by their English names; unknown codes are kept as written).\n"
                 "      Type: group-title, separated by ';'. Description: tvg-name. A channel\n"
                 "      with several countries or types is listed under each; one without a\n"
                 "      country or a type is listed under \"Unknown\". Addresses must be http,\n"
                 "      https, rtsp, rtmp or udp; other entries are skipped with their line\n"
                 "      number and the rest is imported. A line that is not UTF-8 is read as\n"
                 "      Latin-1 (Windows-1252). Playlists over 256 MiB are refused.\n"
                 "      Request headers (user agent, referrer, origin) come from the #EXTINF\n"
                 "      attributes user-agent, http-user-agent, http-referrer and referrer,\n"
                 "      from #EXTVLCOPT:http-user-agent=, http-referrer= and http-origin=\n"
                 "      lines, and from an 'address|User-Agent=...&Referer=...' suffix; a\n"
                 "      value with a line break or another control character is refused,\n"
                 "      naming its line.\n"
                 "  lumivex-catalogue list CATALOGUE\n"
                 "      writes the channels in the listing form, addresses decoded\n"
                 "OUTPUT is built beside its final name and renamed into place when complete;\n"
                 "on any failure the previous file stays as it was.\n"
                 "To publish a catalogue, build it as DIR/database and write its version\n"
                 "number into DIR/dbversion; then serve DIR with lumivex-server.\n";
    return 2;
}

int build(int argc, char** argv)
{
    if (argc < 4 || argc > 5) {
        return usage();
    }
    cBuildOptions options;
    if (argc == 5) {
        if (std::strcmp(argv[4], "--no-indexes") != 0) {
            return usage();
        }
        options.indexes = false;
    }
    std::vector<cListingEntry> entries;
    std::string error;
    const std::string listingPath = argv[2];
    bool parsed;
    if (listingPath == "-") {
        parsed = parseListing(std::cin, entries, error);
    } else {
        std::ifstream listing(listingPath, std::ios::binary);
        if (!listing) {
            std::cerr << "lumivex-catalogue: cannot read " << listingPath << "\n";
            return 1;
        }
        parsed = parseListing(listing, entries, error);
    }
    if (!parsed) {
        std::cerr << "lumivex-catalogue: " << listingPath << ": " << error << "\n";
        return 1;
    }
    if (!buildCatalogue(entries, argv[3], options, error)) {
        std::cerr << "lumivex-catalogue: " << error << "\n";
        return 1;
    }
    std::cerr << "lumivex-catalogue: " << entries.size() << " channels written to " << argv[3] << "\n";
    return 0;
}

int importM3u(int argc, char** argv)
{
    if (argc != 4) {
        return usage();
    }
    const std::string playlistPath = argv[2];
    const std::string outputPath = argv[3];
    std::string text;
    std::string error;
    if (!readPlaylist(playlistPath, text, error)) {
        std::cerr << "lumivex-catalogue: " << error << "\n";
        return 1;
    }
    cM3uImport playlist;
    const bool parsed = parseM3u(text, playlist, error);
    text.clear();
    text.shrink_to_fit();
    // Every skipped line is named, so that the playlist can be mended.
    constexpr size_t ShownSkips = 50;
    for (size_t i = 0; i < playlist.skipped.size() && i < ShownSkips; ++i) {
        std::cerr << playlistPath << ": line " << playlist.skipped[i].line << ": skipped: " << playlist.skipped[i].reason
                  << "\n";
    }
    if (playlist.skipped.size() > ShownSkips) {
        std::cerr << playlistPath << ": " << playlist.skipped.size() - ShownSkips << " more lines skipped\n";
    }
    for (size_t i = 0; i < playlist.refusedHeaders.size() && i < ShownSkips; ++i) {
        std::cerr << playlistPath << ": line " << playlist.refusedHeaders[i].line
                  << ": header refused: " << playlist.refusedHeaders[i].reason << "\n";
    }
    if (playlist.refusedHeaders.size() > ShownSkips) {
        std::cerr << playlistPath << ": " << playlist.refusedHeaders.size() - ShownSkips
                  << " more header values refused\n";
    }
    if (!parsed) {
        std::cerr << "lumivex-catalogue: nothing imported from " << playlistPath << ": " << error << "; "
                  << outputPath << " left as it was\n";
        return 1;
    }
    if (!buildCatalogue(playlist.entries, outputPath, {}, error)) {
        std::cerr << "lumivex-catalogue: " << error << "\n";
        return 1;
    }
    std::cout << "imported " << playlist.channels << " channels into " << outputPath << " ("
              << playlist.entries.size() << " catalogue rows)\n"
              << "countries: " << playlist.countries.size() << "\n"
              << "types: " << playlist.types.size() << "\n"
              << "duplicates dropped: " << playlist.duplicates << "\n"
              << "option and comment lines ignored: " << playlist.ignoredLines << "\n"
              << "lines read as Latin-1: " << playlist.latin1Lines.size() << "\n"
              << "lines skipped: " << playlist.skipped.size() << "\n"
              << "channels with request headers: " << playlist.channelsWithHeaders << "\n"
              << "header values refused: " << playlist.refusedHeaders.size() << "\n";
    std::cout.flush();
    return std::cout ? 0 : 1;
}

int list(int argc, char** argv)
{
    if (argc != 3) {
        return usage();
    }
    std::string error;
    if (!listCatalogue(argv[2], std::cout, error)) {
        std::cerr << "lumivex-catalogue: " << error << "\n";
        return 1;
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        return usage();
    }
    try {
        if (std::strcmp(argv[1], "build") == 0) {
            return build(argc, argv);
        }
        if (std::strcmp(argv[1], "import-m3u") == 0) {
            return importM3u(argc, argv);
        }
        if (std::strcmp(argv[1], "list") == 0) {
            return list(argc, argv);
        }
    } catch (const std::exception& failure) {
        // Paths that are not UTF-8 and the like.
        std::cerr << "lumivex-catalogue: " << failure.what() << "\n";
        return 1;
    }
    return usage();
}
