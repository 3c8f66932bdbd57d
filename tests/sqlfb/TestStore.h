#pragma once
// A throw-away store for tests: a temporary folder with a fresh embedded Firebird database, the
// two configuration files, and a per-user settings file that points the connection at them
// (XDG_CONFIG_HOME is set to the folder for the life of the object and restored afterwards).
// The database is dropped and the folder removed on destruction. Header-only; link
// tarnwick_storedb and add_dependencies(<test> sqlfb).

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "StoreDb.h"

namespace tarnwick::testing {

// Embedded Firebird keeps its lock files in /tmp/firebird, which the server package makes
// writable for its own group only. A test run by another user gets a lock folder of its own
// (the test databases are private, so nothing else needs to share their locks). Call before the
// client library is first used.
inline void EnsureFirebirdLockFolder() {
    if (std::getenv("FIREBIRD_LOCK") != nullptr || ::access("/tmp/firebird", W_OK | X_OK) == 0) return;
    const auto folder = std::filesystem::temp_directory_path() / ("tarnwick-fblock-" + std::to_string(::getuid()));
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    ::setenv("FIREBIRD_LOCK", folder.c_str(), 0);
}

class TestStore {
public:
    static constexpr const char* kPassword = "masterkey";

    // `script` runs after the database is created; the store schema when not given.
    explicit TestStore(std::optional<std::string_view> script = std::nullopt) {
        EnsureFirebirdLockFolder();
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-store-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
        folder_ = pattern;
        database_ = folder_ + "/POSDATA.FDB";
        login_.Password = kPassword;
        storedb::CreateDatabase(database_, login_, script ? *script : storedb::StoreSchema());
        storedb::WriteStoreConfig(folder_, database_, login_);
        PointSettingsAt(folder_ + "/sqlconnections.ini", folder_ + "/sqldrivers.ini");
    }

    ~TestStore() {
        if (oldXdg_) ::setenv("XDG_CONFIG_HOME", oldXdg_->c_str(), 1);
        else ::unsetenv("XDG_CONFIG_HOME");
        storedb::DropDatabase(database_, login_);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    TestStore(const TestStore&) = delete;
    TestStore& operator=(const TestStore&) = delete;

    const std::string& Folder() const { return folder_; }
    const std::string& Database() const { return database_; }
    const storedb::DatabaseLogin& Login() const { return login_; }

    // Writes the settings file with the two paths (an empty path leaves the value out).
    void PointSettingsAt(const std::string& connectionsFile, const std::string& driversFile) {
        if (!oldXdg_) {
            const char* old = std::getenv("XDG_CONFIG_HOME");
            oldXdg_ = old != nullptr ? std::string(old) : std::string();
        }
        std::filesystem::create_directories(folder_ + "/config/morvane");
        std::ofstream out(folder_ + "/config/morvane/sqllink.ini", std::ios::trunc);
        out << "[SQLLink]\n";
        if (!connectionsFile.empty()) out << "Connection Registry File=" << connectionsFile << "\n";
        if (!driversFile.empty()) out << "Driver Registry File=" << driversFile << "\n";
        out.close();
        ::setenv("XDG_CONFIG_HOME", (folder_ + "/config").c_str(), 1);
    }

    void RunSql(std::string_view script) const { storedb::RunScript(database_, login_, script); }

private:
    std::string folder_;
    std::string database_;
    storedb::DatabaseLogin login_;
    std::optional<std::string> oldXdg_;
};

}  // namespace tarnwick::testing
