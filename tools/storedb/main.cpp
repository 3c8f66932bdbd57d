// tarnwick-storedb: creates a store database from the built-in schema and writes the store's
// configuration files. The password comes from the environment, never from the command line,
// and is never printed.
//
//   tarnwick-storedb --database <path> [--config-dir <folder>] [--user <name>]
//                    [--client <library>] [--schema <file>] [--no-create] [--print-schema]
//   environment: TARNWICK_DB_PASSWORD (default "masterkey")

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "StoreDb.h"

namespace {

int Usage() {
    std::cerr << "usage: tarnwick-storedb --database <path> [--config-dir <folder>] [--user <name>]\n"
                 "                        [--client <library>] [--schema <file>] [--no-create] [--print-schema]\n"
                 "The password is taken from TARNWICK_DB_PASSWORD (default: masterkey).\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarnwick::storedb;
    std::string database, configDir, schemaFile;
    bool create = true;
    DatabaseLogin login;
    const char* password = std::getenv("TARNWICK_DB_PASSWORD");
    login.Password = password != nullptr && *password != '\0' ? password : "masterkey";

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](std::string& target) {
            if (i + 1 >= argc) return false;
            target = argv[++i];
            return true;
        };
        if (arg == "--database") { if (!value(database)) return Usage(); }
        else if (arg == "--config-dir") { if (!value(configDir)) return Usage(); }
        else if (arg == "--user") { if (!value(login.User)) return Usage(); }
        else if (arg == "--client") { if (!value(login.ClientLibrary)) return Usage(); }
        else if (arg == "--schema") { if (!value(schemaFile)) return Usage(); }
        else if (arg == "--no-create") create = false;
        else if (arg == "--print-schema") { std::cout << StoreSchema(); return 0; }
        else return Usage();
    }
    if (database.empty()) return Usage();

    try {
        std::string schema(StoreSchema());
        if (!schemaFile.empty()) {
            std::ifstream in(schemaFile);
            if (!in) throw std::runtime_error("cannot read " + schemaFile);
            std::ostringstream text;
            text << in.rdbuf();
            schema = text.str();
        }
        if (create) {
            CreateDatabase(database, login, schema);
            std::cout << "created " << database << "\n";
        }
        if (!configDir.empty()) {
            WriteStoreConfig(configDir, database, login);
            std::cout << "wrote " << configDir << "/sqlconnections.ini and " << configDir << "/sqldrivers.ini\n";
        }
    } catch (const std::exception& e) {
        std::cerr << "tarnwick-storedb: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
