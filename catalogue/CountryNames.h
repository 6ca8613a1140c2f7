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

// True for a two-letter ISO 3166-1 code in either case ("UK" too).
bool isCountryCode(const std::string& code);

// The English short name of the country a text names, by its code or its
// English short name (case aside); empty when it names none.
std::string countryNamed(const std::string& text);
