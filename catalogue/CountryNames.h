#pragma once
// The English short names of the ISO 3166-1 countries, by their two-letter
// codes, for catalogues made from playlists that name countries by code.

#include <cstddef>
#include <string>

// The English short name (UTF-8) for a two-letter code in either case; an
// unknown code comes back as given.
std::string countryName(const std::string& code);

// How many codes the table knows.
size_t countryCount();
