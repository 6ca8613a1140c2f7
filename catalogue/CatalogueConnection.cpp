#include "catalogue/CatalogueConnection.h"

#include <cstring>
#include <fstream>

#include <sqlite3.h>

#include "kestrel/Log.h"

namespace {

using tClock = std::chrono::steady_clock;

// SQLite calls the guard after this many virtual machine steps. One step
// may be a function call working on a value as long as the length limit,
// so the guard looks often; reading the clock costs far less than the
// steps between two looks.
constexpr int ProgressSteps = 100;
// The statements the program runs are a line each, compile to a few dozen
// instructions and use no patterns.
constexpr int MaxStatementBytes = 64 * 1024;
constexpr int MaxPatternBytes = 256;
constexpr int MaxProgramInstructions = 100000;

// The state of one connection's guard. SQLite calls the trace and the
// progress callbacks only from inside calls on this connection, which
// hold its mutex, so the fields need no lock of their own.
struct cGuard {
    std::string path;           // set at open
    tClock::duration limit{};   // set at open
    sqlite3* connection = nullptr; // set at open; the connection this guard belongs to
    sqlite3_stmt* current = nullptr; // the statement the clock runs for, or null
    tClock::time_point since;   // start of the current statement, or of its work since its last row
    bool rowSeen = false;       // the current statement has made a row since the guard last looked
    bool warned = false;        // the current statement's run has been reported
};

// Registered only so that SQLite deletes the guard with the connection.
void noValue(sqlite3_context* context, int, sqlite3_value**) { sqlite3_result_null(context); }

// Takes the place of the built-in functions that can work for seconds in
// one call, where the guard cannot look (a format such as '%.*c' with a
// precision of two thousand million). The program's own statements use
// none of them; a schema expression that does fails at once.
void refused(sqlite3_context* context, int, sqlite3_value**)
{
    sqlite3_result_error(context, "function not available on a catalogue", -1);
}
const char* const RefusedFunctions[] = {"printf", "format"};

void destroyGuard(void* guard) { delete static_cast<cGuard*>(guard); }

int onTrace(unsigned type, void* context, void* p, void*)
{
    cGuard& guard = *static_cast<cGuard*>(context);
    auto* statement = static_cast<sqlite3_stmt*>(p);
    switch (type) {
    case SQLITE_TRACE_STMT:
        // Reported again while it runs (trigger programs): the run's clock
        // keeps going.
        if (guard.current == statement) {
            break;
        }
        guard.current = statement;
        guard.since = tClock::now();
        guard.rowSeen = false;
        guard.warned = false;
        break;
    case SQLITE_TRACE_ROW:
        if (guard.current == statement) {
            guard.rowSeen = true;
        }
        break;
    case SQLITE_TRACE_PROFILE:
        if (guard.current != statement) {
            break;
        }
        guard.current = nullptr;
        // A statement started earlier and still between its rows goes on
        // under a fresh clock.
        for (sqlite3_stmt* other = sqlite3_next_stmt(guard.connection, nullptr); other;
             other = sqlite3_next_stmt(guard.connection, other)) {
            if (other != statement && sqlite3_stmt_busy(other)) {
                guard.current = other;
                guard.since = tClock::now();
                guard.rowSeen = false;
                guard.warned = false;
                break;
            }
        }
        break;
    default:
        break;
    }
    return 0;
}

int onProgress(void* context)
{
    cGuard& guard = *static_cast<cGuard*>(context);
    if (!guard.current) {
        return 0;
    }
    const tClock::time_point now = tClock::now();
    if (guard.rowSeen) {
        // The caller has taken a row and asked for the next: only SQLite's
        // work from here on counts.
        guard.rowSeen = false;
        guard.since = now;
        return 0;
    }
    if (now - guard.since < guard.limit) {
        return 0;
    }
    if (!guard.warned) {
        guard.warned = true;
        const char* sql = sqlite3_sql(guard.current);
        const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(guard.limit).count();
        kestrel::logWarning("catalogue", "stopped a query of " + guard.path + " after " +
                                             std::to_string(milliseconds) + " ms without a result: " +
                                             (sql ? sql : "?"));
    }
    return 1; // the step ends with SQLITE_INTERRUPT
}

// The file name as the path of a "file:" address: every byte but the
// unreserved ones and '/' percent-encoded, so that '?', '#' and '%' in a
// name stay part of it.
std::string fileAddress(const std::string& nativePath, bool immutable)
{
    static const char Digits[] = "0123456789ABCDEF";
    std::string address = "file:";
    for (const char c : nativePath) {
        const unsigned char byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                           byte == '~' || byte == '/';
        if (plain) {
            address += c;
        } else {
            address += '%';
            address += Digits[byte >> 4];
            address += Digits[byte & 0x0F];
        }
    }
    return immutable ? address + "?immutable=1" : address;
}

bool setFlag(sqlite3* connection, int option, int value)
{
    int now = -1;
    return sqlite3_db_config(connection, option, value, &now) == SQLITE_OK && now == value;
}

} // namespace

cCatalogueHeader readCatalogueHeader(const std::string& nativePath)
{
    static const char Magic[] = "SQLite format 3"; // with its zero, 16 bytes
    unsigned char bytes[100];
    std::ifstream in(nativePath, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes), sizeof(bytes));
    cCatalogueHeader header;
    if (in.gcount() != static_cast<std::streamsize>(sizeof(bytes)) || std::memcmp(bytes, Magic, 16) != 0) {
        return header;
    }
    header.sqlite = true;
    header.writeVersion = bytes[18];
    header.readVersion = bytes[19];
    header.encoding = uint32_t(bytes[56]) << 24 | uint32_t(bytes[57]) << 16 | uint32_t(bytes[58]) << 8 | bytes[59];
    return header;
}

sqlite3* openCatalogueConnection(const std::string& nativePath, std::string& problem, const cCatalogueBounds& bounds)
{
    // A read-only connection to a WAL-mode file would make -wal and -shm
    // files beside it; read as it stands, it needs neither.
    const cCatalogueHeader header = readCatalogueHeader(nativePath);
    const bool immutable = header.writeVersion == 2 || header.readVersion == 2;
    sqlite3* connection = nullptr;
    if (sqlite3_open_v2(fileAddress(nativePath, immutable).c_str(), &connection, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                        nullptr) != SQLITE_OK) {
        problem = connection ? sqlite3_errmsg(connection) : "cannot open " + nativePath;
        sqlite3_close(connection); // a failed open may still hand out a handle
        return nullptr;
    }
    const auto fail = [&](const std::string& what) {
        problem = "cannot harden the connection: " + what;
        sqlite3_close(connection);
        return nullptr;
    };
    if (!setFlag(connection, SQLITE_DBCONFIG_DEFENSIVE, 1) || !setFlag(connection, SQLITE_DBCONFIG_ENABLE_VIEW, 0) ||
        !setFlag(connection, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0) ||
        !setFlag(connection, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0) ||
        !setFlag(connection, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0)) {
        return fail("configuration refused");
    }
    sqlite3_limit(connection, SQLITE_LIMIT_LENGTH, bounds.maxValueBytes);
    sqlite3_limit(connection, SQLITE_LIMIT_SQL_LENGTH, MaxStatementBytes);
    sqlite3_limit(connection, SQLITE_LIMIT_VDBE_OP, MaxProgramInstructions);
    sqlite3_limit(connection, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_limit(connection, SQLITE_LIMIT_WORKER_THREADS, 0);
    sqlite3_limit(connection, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, MaxPatternBytes);
    for (const char* name : RefusedFunctions) {
        if (sqlite3_create_function_v2(connection, name, -1, SQLITE_UTF8 | SQLITE_INNOCUOUS, nullptr, refused, nullptr,
                                       nullptr, nullptr) != SQLITE_OK) {
            return fail(sqlite3_errmsg(connection));
        }
    }
    if (sqlite3_exec(connection, "pragma cell_size_check = on;", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return fail(sqlite3_errmsg(connection));
    }

    auto* guard = new cGuard;
    guard->path = nativePath;
    guard->limit = bounds.statementTime;
    guard->connection = connection;
    // SQLite owns the guard from here: it deletes it when the connection
    // closes, or at once when the registration fails. Direct-only, so no
    // schema can call it.
    if (sqlite3_create_function_v2(connection, "lumivex_catalogue_guard", 0, SQLITE_UTF8 | SQLITE_DIRECTONLY, guard,
                                   noValue, nullptr, nullptr, destroyGuard) != SQLITE_OK) {
        return fail(sqlite3_errmsg(connection));
    }
    sqlite3_trace_v2(connection, SQLITE_TRACE_STMT | SQLITE_TRACE_ROW | SQLITE_TRACE_PROFILE, onTrace, guard);
    sqlite3_progress_handler(connection, ProgressSteps, onProgress, guard);
    return connection;
}
