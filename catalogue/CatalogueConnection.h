#pragma once
// The one way to open a catalogue file. A catalogue comes from a server and
// is data, never code: every connection to one (the check before
// installing, the browser, the catalogue tool) is opened here, read-only
// and hardened, so that nothing a file holds can run for long, grow
// without bound, or leave files beside it.
//
// A hardened connection
// - opens the file read-only, and a file whose header names WAL mode also
//   immutable (no locks, no -wal or -shm files made beside it): the
//   program never changes a catalogue in place, it renames a new file over
//   it;
// - refuses views and triggers and treats the schema as untrusted (no
//   functions with side effects in generated columns or indexes), in
//   defensive mode, with every cell's size checked as it is read;
// - refuses any single value (or row) longer than maxValueBytes, attached
//   databases, and the formatting functions (printf, format), which can
//   work for seconds in one call;
// - ends a statement on which SQLite has worked for longer than
//   statementTime since it started or since its last row (time the caller
//   spends between rows does not count): the step returns SQLITE_INTERRUPT,
//   so the query yields what it had (for a grouped query, nothing), and one
//   warning line names the file and the statement.

#include <chrono>
#include <cstdint>
#include <string>

struct sqlite3;

// What a catalogue may hold; the check before installing refuses more.
struct cCatalogueCaps {
    // Rows of `channels`.
    int64_t maxRows = 1000000;
    // Bytes of each of country, type, name and description (UTF-8).
    int64_t maxTextBytes = 4096;
    // Bytes of url as stored: four hexadecimal digits per character of an
    // address of at most 8192 characters.
    int64_t maxEncodedAddressBytes = 4 * 8192;
};

struct cCatalogueBounds {
    // SQLite's own work on one statement without a row.
    std::chrono::milliseconds statementTime{1000};
    // Longest value or row SQLite will make or read on this connection: a
    // few times the longest row inside the caps.
    int maxValueBytes = 256 * 1024;
};

// What the first 100 bytes of an SQLite file say; sqlite is false when the
// file is shorter or does not start with SQLite's magic text.
struct cCatalogueHeader {
    bool sqlite = false;
    int writeVersion = 0; // 1 rollback journal, 2 WAL
    int readVersion = 0;  // the same
    uint32_t encoding = 0; // 1 UTF-8, 2 UTF-16le, 3 UTF-16be, 0 before any table
};
cCatalogueHeader readCatalogueHeader(const std::string& nativePath);

// Opens the catalogue at nativePath (a UTF-8 file name) hardened as above.
// Returns the connection, which the caller closes with sqlite3_close (the
// guard's own state goes with it); null with the reason in problem when the
// file cannot be opened or hardened.
sqlite3* openCatalogueConnection(const std::string& nativePath, std::string& problem,
                                 const cCatalogueBounds& bounds = cCatalogueBounds());

