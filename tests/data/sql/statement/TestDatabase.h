#pragma once
// A fresh embedded Firebird database in a temporary folder, with the two configuration files and
// the per-user settings file that make a TSQLConnection named "Morvane" find it. The database is
// created with isql-fb from the DDL given; the folder is removed at the end.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "data/sql/SQLConnection.h"

namespace tarnwick::sql::testing {

class TestDatabase {
public:
    explicit TestDatabase(const std::string& ddl) {
        char pattern[] = "/tmp/sqlexec-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        folder_ = made;
        database_ = folder_ + "/store.fdb";

        const std::string script = folder_ + "/create.sql";
        {
            std::ofstream out(script);
            out << "SET SQL DIALECT 3;\n"
                << "CREATE DATABASE '" << database_ << "' USER 'SYSDBA' DEFAULT CHARACTER SET UTF8;\n"
                << ddl << "\nCOMMIT;\n";
        }
        const std::string command = "isql-fb -q -b -i '" + script + "' > '" + folder_ + "/isql.log' 2>&1";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("isql-fb failed: see " + folder_);

        WriteFile(folder_ + "/sqlconnections.ini",
                  "[Morvane]\nDriverName=Firebird\nDatabase=" + database_ +
                      "\nRoleName=RoleName\nUser_Name=SYSDBA\nPassword=masterkey\nServerCharSet=\n"
                      "SQLDialect=3\nBlobSize=-1\nCommitRetain=False\nWaitOnLocks=True\n"
                      "ErrorResourceFile=\nLocaleCode=0000\nFirebird TransIsolation=ReadCommited\n"
                      "Trim Char=False\n");
        WriteFile(folder_ + "/sqldrivers.ini",
                  "[Firebird]\nLibraryName=libsqlfb.so\nVendorLib=libfbclient.so.2\n"
                  "GetDriverFunc=getSQLDriverFIREBIRD\n");
        std::filesystem::create_directories(folder_ + "/morvane");
        WriteFile(folder_ + "/morvane/sqllink.ini",
                  "[SQLLink]\nConnection Registry File=" + folder_ +
                      "/sqlconnections.ini\nDriver Registry File=" + folder_ + "/sqldrivers.ini\n");
        setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    }

    ~TestDatabase() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // A connection configured like the window's SQLConnection1 (not yet connected).
    std::unique_ptr<TSQLConnection> Connection() const {
        auto connection = std::make_unique<TSQLConnection>();
        connection->SetName("SQLConnection1");
        connection->SetConnectionName("Morvane");
        connection->SetDriverName("Firebird");
        connection->SetLibraryName("libsqlfb.so");
        connection->SetVendorLib("libfbclient.so.2");
        connection->SetGetDriverFunc("getSQLDriverFIREBIRD");
        connection->SetLoadParamsOnConnect(true);
        connection->SetLoginPrompt(false);
        return connection;
    }

    const std::string& Path() const { return database_; }

private:
    static void WriteFile(const std::string& path, const std::string& text) {
        std::ofstream out(path);
        out << text;
    }

    std::string folder_;
    std::string database_;
};

}  // namespace tarnwick::sql::testing
