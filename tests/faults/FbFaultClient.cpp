// A stand-in for the Firebird client library, for tests only. A drivers file whose VendorLib names
// this library makes the driver call it instead of libfbclient.so.2; every call that takes a
// status vector is counted and forwarded to the real library, except the one chosen to fail:
//
//   TARNWICK_FAULT_AT=N       the first call from the N-th on (1-based) that the server could fail
//                             that way fails; unset or 0: no call fails
//   TARNWICK_FAULT_KIND=K     how it fails:
//       network   a lost connection (isc_network_error), any call; the link stays dead, so every
//                 later call fails the same way
//       lock      a lock conflict with another transaction (isc_lock_conflict), a statement's
//                 execute or fetch or a commit; this call only
//       deadlock  an update conflict (isc_deadlock), where a lock conflict can come; this call only
//       disk      a full disk (isc_io_error, ENOSPC), a call that writes to the database or to
//                 a sort file; this call only
//       close     the close of a cursor (isc_dsql_free_statement with DSQL_close) fails as on a
//                 lost connection, but the link stays up; this call only. The server's cursor
//                 stays open, as it does when the close never reaches it.
//   TARNWICK_FAULT_LOG=PATH   appends "fault <call number> <function> <kind>" when it fires and
//                             "calls N" when the process ends normally
//   TARNWICK_FAULT_CLIENT     the real library (default libfbclient.so.2)
//
// The failing call does not reach the real library; it fills the status vector as the server
// would and answers its first error code. Entry points not defined here reach the real library
// directly, since this library lists it as a dependency.

#include <ibase.h>

#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

namespace {

constexpr const char* kCloseCursor = "isc_dsql_free_statement(DSQL_close)";

enum class Kind { Network, Lock, Deadlock, Disk, Close };

struct Settings {
    long failAt = 0;
    Kind kind = Kind::Network;
    std::string kindName = "network";
    std::string log;
    std::string client = "libfbclient.so.2";
};

const char* Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}


// Never destroyed: the count is written by a destructor at exit, in whatever order they run.
const Settings& Config() {
    static const Settings& settings = *[] {
        auto* s = new Settings;
        if (const char* at = Env("TARNWICK_FAULT_AT")) s->failAt = std::strtol(at, nullptr, 10);
        if (const char* kind = Env("TARNWICK_FAULT_KIND")) {
            s->kindName = kind;
            if (s->kindName == "lock") s->kind = Kind::Lock;
            else if (s->kindName == "deadlock") s->kind = Kind::Deadlock;
            else if (s->kindName == "disk") s->kind = Kind::Disk;
            else if (s->kindName == "close") s->kind = Kind::Close;
            else s->kindName = "network";
        }
        if (const char* log = Env("TARNWICK_FAULT_LOG")) s->log = log;
        if (const char* client = Env("TARNWICK_FAULT_CLIENT")) s->client = client;
        return s;
    }();
    return settings;
}

std::atomic<long> calls{0};
std::atomic<bool> fired{false};
std::atomic<bool> linkDead{false};

// Whether the server could fail this call with a failure of `kind`.
bool CanFail(Kind kind, std::string_view function) {
    const auto among = [function](std::initializer_list<std::string_view> names) {
        for (const std::string_view name : names)
            if (name == function) return true;
        return false;
    };
    switch (kind) {
    case Kind::Network:
        return true;
    case Kind::Lock:
    case Kind::Deadlock:
        return among({"isc_dsql_execute", "isc_dsql_execute_immediate", "isc_dsql_fetch", "isc_commit_transaction",
                      "isc_commit_retaining"});
    case Kind::Disk:
        return among({"isc_dsql_execute", "isc_dsql_execute_immediate", "isc_dsql_fetch", "isc_commit_transaction",
                      "isc_commit_retaining", "isc_rollback_transaction", "isc_start_transaction",
                      "isc_create_blob2", "isc_put_segment", "isc_close_blob"});
    case Kind::Close:
        return function == std::string_view(kCloseCursor);
    }
    return false;
}

void AppendLog(const std::string& line) {
    if (Config().log.empty()) return;
    if (FILE* file = std::fopen(Config().log.c_str(), "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

struct CountAtExit {
    CountAtExit() { Config(); }
    ~CountAtExit() { AppendLog("calls " + std::to_string(calls.load())); }
} countAtExit;

void* Real(const char* name) {
    static void* library = [] {
        void* handle = ::dlopen(Config().client.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "fault client: %s\n", ::dlerror());
            std::abort();
        }
        return handle;
    }();
    void* symbol = ::dlsym(library, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "fault client: %s has no %s\n", Config().client.c_str(), name);
        std::abort();
    }
    return symbol;
}

// The status vector of a failure of `kind`, as the server fills it. Strings are constants, so
// the vector stays readable after the call.
ISC_STATUS Fill(ISC_STATUS* status, Kind kind) {
    ISC_STATUS* s = status;
    auto gds = [&s](ISC_STATUS code) { *s++ = isc_arg_gds; *s++ = code; };
    auto text = [&s](const char* value) { *s++ = isc_arg_string; *s++ = reinterpret_cast<ISC_STATUS>(value); };
    auto number = [&s](ISC_STATUS value) { *s++ = isc_arg_number; *s++ = value; };
    switch (kind) {
    case Kind::Network:
    case Kind::Close:
        gds(isc_network_error);
        text("localhost");
        gds(isc_net_read_err);
        break;
    case Kind::Lock:
        gds(isc_lock_conflict);
        gds(isc_concurrent_transaction);
        number(4711);
        break;
    case Kind::Deadlock:
        gds(isc_deadlock);
        gds(isc_update_conflict);
        gds(isc_concurrent_transaction);
        number(4711);
        break;
    case Kind::Disk:
        gds(isc_io_error);
        text("write");
        text("POSDATA.FDB");
        gds(isc_io_write_err);
        *s++ = isc_arg_unix;
        *s++ = ENOSPC;
        break;
    }
    *s = isc_arg_end;
    return status[1];
}

// Counts the call; true (with the status vector filled) when it is to fail.
bool Fails(ISC_STATUS* status, const char* function) {
    const long number = ++calls;
    const Settings& config = Config();
    if (linkDead.load()) {
        Fill(status, Kind::Network);
        return true;
    }
    if (config.failAt <= 0 || number < config.failAt || fired.load() || !CanFail(config.kind, function)) return false;
    fired = true;
    AppendLog("fault " + std::to_string(number) + " " + function + " " + config.kindName);
    if (config.kind == Kind::Network) linkDead = true;
    Fill(status, config.kind);
    return true;
}

}  // namespace

// Each counted entry point: fail as chosen, or hand the call to the real library.
#define TARNWICK_FORWARD(name, params, args)                                           \
    extern "C" ISC_STATUS ISC_EXPORT name params {                                     \
        if (Fails(status, #name)) return status[1];                                    \
        return reinterpret_cast<decltype(&::name)>(Real(#name)) args;                  \
    }

TARNWICK_FORWARD(isc_attach_database,
                 (ISC_STATUS* status, short length, const ISC_SCHAR* name, isc_db_handle* db, short dpbLength,
                  const ISC_SCHAR* dpb),
                 (status, length, name, db, dpbLength, dpb))
TARNWICK_FORWARD(isc_detach_database, (ISC_STATUS* status, isc_db_handle* db), (status, db))
TARNWICK_FORWARD(isc_create_database,
                 (ISC_STATUS* status, short length, const ISC_SCHAR* name, isc_db_handle* db, short dpbLength,
                  const ISC_SCHAR* dpb, short type),
                 (status, length, name, db, dpbLength, dpb, type))
TARNWICK_FORWARD(isc_drop_database, (ISC_STATUS* status, isc_db_handle* db), (status, db))
TARNWICK_FORWARD(isc_commit_transaction, (ISC_STATUS* status, isc_tr_handle* tr), (status, tr))
TARNWICK_FORWARD(isc_commit_retaining, (ISC_STATUS* status, isc_tr_handle* tr), (status, tr))
TARNWICK_FORWARD(isc_rollback_transaction, (ISC_STATUS* status, isc_tr_handle* tr), (status, tr))
TARNWICK_FORWARD(isc_dsql_allocate_statement, (ISC_STATUS* status, isc_db_handle* db, isc_stmt_handle* stmt),
                 (status, db, stmt))
TARNWICK_FORWARD(isc_dsql_prepare,
                 (ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short length,
                  const ISC_SCHAR* text, unsigned short dialect, XSQLDA* sqlda),
                 (status, tr, stmt, length, text, dialect, sqlda))
TARNWICK_FORWARD(isc_dsql_describe,
                 (ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda),
                 (status, stmt, dialect, sqlda))
TARNWICK_FORWARD(isc_dsql_describe_bind,
                 (ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, XSQLDA* sqlda),
                 (status, stmt, dialect, sqlda))
TARNWICK_FORWARD(isc_dsql_execute,
                 (ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* stmt, unsigned short dialect,
                  const XSQLDA* sqlda),
                 (status, tr, stmt, dialect, sqlda))
TARNWICK_FORWARD(isc_dsql_execute_immediate,
                 (ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, unsigned short length,
                  const ISC_SCHAR* text, unsigned short dialect, const XSQLDA* sqlda),
                 (status, db, tr, length, text, dialect, sqlda))
TARNWICK_FORWARD(isc_dsql_fetch,
                 (ISC_STATUS* status, isc_stmt_handle* stmt, unsigned short dialect, const XSQLDA* sqlda),
                 (status, stmt, dialect, sqlda))
// Counted under a name of its own when it closes a cursor, so that the close can fail apart from
// the drop of a statement.
extern "C" ISC_STATUS ISC_EXPORT isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* stmt,
                                                         unsigned short option) {
    if (Fails(status, option == DSQL_close ? kCloseCursor : "isc_dsql_free_statement")) return status[1];
    return reinterpret_cast<decltype(&::isc_dsql_free_statement)>(Real("isc_dsql_free_statement"))(status, stmt,
                                                                                                  option);
}
TARNWICK_FORWARD(isc_dsql_sql_info,
                 (ISC_STATUS* status, isc_stmt_handle* stmt, short itemsLength, const ISC_SCHAR* items,
                  short bufferLength, ISC_SCHAR* buffer),
                 (status, stmt, itemsLength, items, bufferLength, buffer))
TARNWICK_FORWARD(isc_open_blob2,
                 (ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, isc_blob_handle* blob, ISC_QUAD* id,
                  ISC_USHORT bpbLength, const ISC_UCHAR* bpb),
                 (status, db, tr, blob, id, bpbLength, bpb))
TARNWICK_FORWARD(isc_create_blob2,
                 (ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr, isc_blob_handle* blob, ISC_QUAD* id,
                  short bpbLength, const ISC_SCHAR* bpb),
                 (status, db, tr, blob, id, bpbLength, bpb))
TARNWICK_FORWARD(isc_get_segment,
                 (ISC_STATUS* status, isc_blob_handle* blob, unsigned short* got, unsigned short length,
                  ISC_SCHAR* buffer),
                 (status, blob, got, length, buffer))
TARNWICK_FORWARD(isc_put_segment,
                 (ISC_STATUS* status, isc_blob_handle* blob, unsigned short length, const ISC_SCHAR* buffer),
                 (status, blob, length, buffer))
TARNWICK_FORWARD(isc_close_blob, (ISC_STATUS* status, isc_blob_handle* blob), (status, blob))
TARNWICK_FORWARD(isc_cancel_blob, (ISC_STATUS* status, isc_blob_handle* blob), (status, blob))
TARNWICK_FORWARD(isc_blob_info,
                 (ISC_STATUS* status, isc_blob_handle* blob, short itemsLength, const ISC_SCHAR* items,
                  short bufferLength, ISC_SCHAR* buffer),
                 (status, blob, itemsLength, items, bufferLength, buffer))

// The one entry point with a variable argument list: one (database, parameter block) pair per
// database of the transaction, handed on through the array form.
extern "C" ISC_STATUS ISC_EXPORT_VARARG isc_start_transaction(ISC_STATUS* status, isc_tr_handle* tr, short count,
                                                              ...) {
    if (Fails(status, "isc_start_transaction")) return status[1];
    struct Teb {
        isc_db_handle* db;
        int length;
        const ISC_SCHAR* tpb;
    };
    Teb tebs[8];
    if (count < 1 || count > 8) {
        std::fprintf(stderr, "fault client: isc_start_transaction with %d databases\n", count);
        std::abort();
    }
    va_list args;
    va_start(args, count);
    for (short i = 0; i < count; ++i) {
        tebs[i].db = va_arg(args, isc_db_handle*);
        tebs[i].length = va_arg(args, int);
        tebs[i].tpb = va_arg(args, const ISC_SCHAR*);
    }
    va_end(args);
    using StartMultiple = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, short, void*);
    return reinterpret_cast<StartMultiple>(Real("isc_start_multiple"))(status, tr, count, tebs);
}
