// lumivex-catalogue: builds a channel catalogue from a listing, or lists a
// catalogue with its addresses decoded.

#include <cstring>
#include <fstream>
#include <iostream>

#include "kestrel/Exception.h"
#include "tools/CatalogueBuilder.h"

namespace {

int usage()
{
    std::cerr << "usage:\n"
                 "  lumivex-catalogue build LISTING OUTPUT [--no-indexes]\n"
                 "      LISTING: UTF-8 text, one channel a line, tab-separated:\n"
                 "      country, type, name, description, address ('-' reads standard input)\n"
                 "  lumivex-catalogue list CATALOGUE\n"
                 "      writes the channels in the listing form, addresses decoded\n"
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
