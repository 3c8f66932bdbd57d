#pragma once
// Creating a store database and a store's configuration files. Used by the tool
// `tarnwick-storedb` and by the tests that need a fresh database. Failures throw
// std::runtime_error with the server's text (never with a password).

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::storedb {

struct DatabaseLogin {
    std::string ClientLibrary = "libfbclient.so.2";
    std::string User = "SYSDBA";
    std::string Password;
};

// The statements of a script: split at ";" outside quotes and comments ("--" to the end of the
// line, "/* */"), trimmed, empty ones dropped.
std::vector<std::string> SplitScript(std::string_view script);

// Creates the database `database` (a path, or host:path) with character set UTF8 and dialect 3,
// then runs every statement of `script`, each committed on its own.
void CreateDatabase(const std::string& database, const DatabaseLogin& login, std::string_view script);
// Runs the statements of `script` on an existing database, each committed on its own.
void RunScript(const std::string& database, const DatabaseLogin& login, std::string_view script);
// Drops the database (errors ignored).
void DropDatabase(const std::string& database, const DatabaseLogin& login);

// The schema of the store database built into the tool.
std::string_view StoreSchema();

// Writes `folder`/sqlconnections.ini (section "Morvane", created readable by its owner only)
// and `folder`/sqldrivers.ini (section "Firebird") for a store whose database is `database`.
void WriteStoreConfig(const std::string& folder, const std::string& database, const DatabaseLogin& login);

}  // namespace tarnwick::storedb
