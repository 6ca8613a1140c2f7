#pragma once
// The check a downloaded catalogue must pass before it replaces the
// installed one: an SQLite file that passes SQLite's quick integrity check
// and has a `channels` table with the five columns the queries read.

#include <string>

// True when the file at path is a usable catalogue; otherwise false with the
// reason in problem (English, for diagnostics).
bool checkCatalogueFile(const std::u16string& path, std::string& problem);
