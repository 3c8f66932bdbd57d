#include "sqlfb/FbClient.h"

#include <dlfcn.h>

namespace tarnwick::sqlfb {
namespace {

template <class Fn>
bool Bind(void* library, const char* name, Fn& target, std::string* error) {
    target = reinterpret_cast<Fn>(::dlsym(library, name));
    if (target != nullptr) return true;
    if (error != nullptr) *error = std::string("entry point missing: ") + name;
    return false;
}

}  // namespace

std::shared_ptr<const FbClient> FbClient::Load(const std::string& libraryName, std::string* error) {
    if (libraryName.empty()) {
        if (error != nullptr) *error = "no client library name";
        return nullptr;
    }
    // Never closed: the client library keeps threads and exit handlers of its own.
    void* library = ::dlopen(libraryName.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) {
        if (error != nullptr) {
            const char* text = ::dlerror();
            *error = text != nullptr ? text : "cannot load " + libraryName;
        }
        return nullptr;
    }
    auto client = std::make_shared<FbClient>();
    const bool ok = Bind(library, "isc_attach_database", client->attach_database, error) &&
                    Bind(library, "isc_detach_database", client->detach_database, error) &&
                    Bind(library, "isc_create_database", client->create_database, error) &&
                    Bind(library, "isc_drop_database", client->drop_database, error) &&
                    Bind(library, "isc_start_transaction", client->start_transaction, error) &&
                    Bind(library, "isc_commit_transaction", client->commit_transaction, error) &&
                    Bind(library, "isc_commit_retaining", client->commit_retaining, error) &&
                    Bind(library, "isc_rollback_transaction", client->rollback_transaction, error) &&
                    Bind(library, "isc_dsql_allocate_statement", client->dsql_allocate_statement, error) &&
                    Bind(library, "isc_dsql_prepare", client->dsql_prepare, error) &&
                    Bind(library, "isc_dsql_describe", client->dsql_describe, error) &&
                    Bind(library, "isc_dsql_describe_bind", client->dsql_describe_bind, error) &&
                    Bind(library, "isc_dsql_execute", client->dsql_execute, error) &&
                    Bind(library, "isc_dsql_execute_immediate", client->dsql_execute_immediate, error) &&
                    Bind(library, "isc_dsql_fetch", client->dsql_fetch, error) &&
                    Bind(library, "isc_dsql_free_statement", client->dsql_free_statement, error) &&
                    Bind(library, "isc_dsql_sql_info", client->dsql_sql_info, error) &&
                    Bind(library, "isc_open_blob2", client->open_blob2, error) &&
                    Bind(library, "isc_create_blob2", client->create_blob2, error) &&
                    Bind(library, "isc_get_segment", client->get_segment, error) &&
                    Bind(library, "isc_put_segment", client->put_segment, error) &&
                    Bind(library, "isc_close_blob", client->close_blob, error) &&
                    Bind(library, "isc_cancel_blob", client->cancel_blob, error) &&
                    Bind(library, "isc_blob_info", client->blob_info, error) &&
                    Bind(library, "fb_cancel_operation", client->cancel_operation, error) &&
                    Bind(library, "fb_interpret", client->interpret, error) &&
                    Bind(library, "isc_sqlcode", client->sqlcode, error) &&
                    Bind(library, "isc_vax_integer", client->vax_integer, error);
    if (!ok) return nullptr;
    return client;
}

std::string FbClient::StatusText(const ISC_STATUS* status) const {
    std::string text;
    const ISC_STATUS* cursor = status;
    char line[1024];
    while (interpret(line, sizeof line, &cursor) > 0) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    const long code = sqlcode(status);
    if (!text.empty()) text += '\n';
    text += "SQL code: " + std::to_string(code);
    return text;
}

}  // namespace tarnwick::sqlfb
