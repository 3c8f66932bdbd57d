#pragma once
// What every benchmark's reference program needs straight on the Firebird client library, and the
// process CPU clock the benchmarks report beside wall-clock time. Header only: each benchmark
// links libfbclient itself.

#include <ibase.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace tarnwick::bench {

// Process CPU time in seconds. The embedded server runs inside the process, so this counts the
// database's work too, and a busy machine does not stretch it as it stretches wall-clock time.
inline double CpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Ends the benchmark with the client library's text when `status` holds a failure.
inline void Check(const ISC_STATUS* status, const char* what) {
    if (status[0] != 1 || status[1] == 0) return;
    char text[512];
    const ISC_STATUS* vector = status;
    std::fprintf(stderr, "%s failed:", what);
    while (fb_interpret(text, sizeof text, &vector) != 0) std::fprintf(stderr, " %s", text);
    std::fprintf(stderr, "\n");
    std::exit(1);
}

// A zeroed descriptor area for `columns` columns; free it with std::free.
inline XSQLDA* NewSqlda(int columns) {
    auto* sqlda = static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(columns)));
    sqlda->version = SQLDA_VERSION1;
    sqlda->sqln = static_cast<short>(columns);
    return sqlda;
}

// Attaches as SYSDBA with UTF8 as the connection character set. asyncWrites: commits are not
// forced to disk, so the figures show the software's own cost rather than the disk's.
inline isc_db_handle Attach(const std::string& database, const std::string& password, bool asyncWrites = false) {
    ISC_STATUS_ARRAY status;
    isc_db_handle db = 0;
    std::vector<char> dpb{isc_dpb_version1};
    auto add = [&](char tag, const std::string& value) {
        dpb.push_back(tag);
        dpb.push_back(static_cast<char>(value.size()));
        dpb.insert(dpb.end(), value.begin(), value.end());
    };
    add(isc_dpb_user_name, "SYSDBA");
    add(isc_dpb_password, password);
    add(isc_dpb_lc_ctype, "UTF8");
    if (asyncWrites) {
        dpb.push_back(isc_dpb_force_write);
        dpb.push_back(1);
        dpb.push_back(0);
    }
    isc_attach_database(status, 0, database.c_str(), &db, static_cast<short>(dpb.size()), dpb.data());
    Check(status, "attach");
    return db;
}

}  // namespace tarnwick::bench
