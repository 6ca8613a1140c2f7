#pragma once
// The check a downloaded catalogue must pass before it replaces the
// installed one. A catalogue is data: the check accepts only
// - an SQLite file in rollback-journal mode (its header does not name WAL)
//   with UTF-8 text, that passes SQLite's quick integrity check;
// - whose `channels` is a plain table (not a view or a virtual table, no
//   generated or hidden columns) with the five columns the queries read;
// - that holds no view and no trigger anywhere;
// - whose rows and values stay inside the caps (cCatalogueCaps).
// The file is read through a hardened connection (CatalogueConnection.h),
// so the check itself cannot be made to run long or to write anything.

#include <string>

#include "catalogue/CatalogueConnection.h"

// True when the file at path is a usable catalogue; otherwise false with the
// reason in problem (English, for diagnostics).
bool checkCatalogueFile(const std::u16string& path, std::string& problem);
// The same with other caps (tests, tools).
bool checkCatalogueFile(const std::u16string& path, std::string& problem, const cCatalogueCaps& caps);

// The bounds of the check's own connection: its statements read the whole
// file (a quick integrity check, a scan of every row), which on a catalogue
// near the caps takes about a second, so each may take longer than a
// browser query.
cCatalogueBounds catalogueCheckBounds();
