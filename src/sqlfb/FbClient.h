#pragma once
// The Firebird client library, loaded at run time. `FbClient::Load` opens the library by name
// (dlopen) and looks up every entry point the driver and the store tool call; the library is
// never unloaded. Shared, read-only after loading: hold it by shared_ptr.
// Also the two helpers every caller needs: the status vector as text, and its SQL code.

#include <ibase.h>

#include <memory>
#include <string>

namespace tarnwick::sqlfb {

struct FbClient {
    decltype(&::isc_attach_database) attach_database = nullptr;
    decltype(&::isc_detach_database) detach_database = nullptr;
    decltype(&::isc_create_database) create_database = nullptr;
    decltype(&::isc_drop_database) drop_database = nullptr;
    decltype(&::isc_start_transaction) start_transaction = nullptr;
    decltype(&::isc_commit_transaction) commit_transaction = nullptr;
    decltype(&::isc_commit_retaining) commit_retaining = nullptr;
    decltype(&::isc_rollback_transaction) rollback_transaction = nullptr;
    decltype(&::isc_dsql_allocate_statement) dsql_allocate_statement = nullptr;
    decltype(&::isc_dsql_prepare) dsql_prepare = nullptr;
    decltype(&::isc_dsql_describe) dsql_describe = nullptr;
    decltype(&::isc_dsql_describe_bind) dsql_describe_bind = nullptr;
    decltype(&::isc_dsql_execute) dsql_execute = nullptr;
    decltype(&::isc_dsql_execute_immediate) dsql_execute_immediate = nullptr;
    decltype(&::isc_dsql_fetch) dsql_fetch = nullptr;
    decltype(&::isc_dsql_free_statement) dsql_free_statement = nullptr;
    decltype(&::isc_dsql_sql_info) dsql_sql_info = nullptr;
    decltype(&::isc_open_blob2) open_blob2 = nullptr;
    decltype(&::isc_create_blob2) create_blob2 = nullptr;
    decltype(&::isc_get_segment) get_segment = nullptr;
    decltype(&::isc_put_segment) put_segment = nullptr;
    decltype(&::isc_close_blob) close_blob = nullptr;
    decltype(&::isc_cancel_blob) cancel_blob = nullptr;
    decltype(&::isc_blob_info) blob_info = nullptr;
    decltype(&::fb_cancel_operation) cancel_operation = nullptr;
    decltype(&::fb_interpret) interpret = nullptr;
    decltype(&::isc_sqlcode) sqlcode = nullptr;
    decltype(&::isc_vax_integer) vax_integer = nullptr;

    // Null (and *error set) when the library cannot be loaded or lacks an entry point.
    static std::shared_ptr<const FbClient> Load(const std::string& libraryName, std::string* error);

    // The messages of a failed call, one per line, then "SQL code: <n>".
    std::string StatusText(const ISC_STATUS* status) const;
};

// True when the status vector reports a failure.
inline bool Failed(const ISC_STATUS* status) { return status[0] == 1 && status[1] != 0; }

}  // namespace tarnwick::sqlfb
