#include "StoreDb.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "sqlfb/FbClient.h"

namespace tarnwick::storedb {
namespace {

using sqlfb::FbClient;

std::shared_ptr<const FbClient> Client(const DatabaseLogin& login) {
    std::string error;
    auto client = FbClient::Load(login.ClientLibrary, &error);
    if (client == nullptr) throw std::runtime_error("Unable to Load " + login.ClientLibrary + ": " + error);
    return client;
}

void AppendItem(std::string& dpb, char tag, const std::string& value) {
    dpb += tag;
    dpb += static_cast<char>(std::min<std::size_t>(value.size(), 255));
    dpb.append(value, 0, std::min<std::size_t>(value.size(), 255));
}

std::string LoginDpb(const DatabaseLogin& login, bool create) {
    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    AppendItem(dpb, isc_dpb_user_name, login.User);
    AppendItem(dpb, isc_dpb_password, login.Password);
    AppendItem(dpb, isc_dpb_lc_ctype, "UTF8");
    if (create) {
        AppendItem(dpb, isc_dpb_set_db_charset, "UTF8");
        dpb += static_cast<char>(isc_dpb_sql_dialect);
        dpb += static_cast<char>(4);
        const std::int32_t dialect = 3;
        dpb.append(reinterpret_cast<const char*>(&dialect), 4);
    }
    return dpb;
}

void Check(const FbClient& api, const ISC_STATUS* status, ISC_STATUS rc, const std::string& what) {
    if (rc != 0) throw std::runtime_error(what + ": " + api.StatusText(status));
}

void RunStatements(const FbClient& api, isc_db_handle& db, std::string_view script) {
    for (const auto& statement : SplitScript(script)) {
        ISC_STATUS_ARRAY status;
        isc_tr_handle tr = 0;
        const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                            isc_tpb_wait};
        Check(api, status, api.start_transaction(status, &tr, 1, &db, static_cast<int>(sizeof tpb), tpb),
              "cannot start a transaction");
        const ISC_STATUS rc = api.dsql_execute_immediate(status, &db, &tr, 0, statement.c_str(), 3, nullptr);
        if (rc != 0) {
            const std::string text = api.StatusText(status);
            ISC_STATUS_ARRAY ignored;
            api.rollback_transaction(ignored, &tr);
            throw std::runtime_error("statement failed: " + statement.substr(0, 80) + "\n" + text);
        }
        Check(api, status, api.commit_transaction(status, &tr), "commit failed");
    }
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
    // Created with its final mode, and narrowed again in case the file was already there.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    ::fchmod(fd, mode);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path);
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace

std::vector<std::string> SplitScript(std::string_view script) {
    std::vector<std::string> statements;
    std::string current;
    const auto flush = [&]() {
        const auto first = current.find_first_not_of(" \t\r\n");
        if (first != std::string::npos) {
            const auto last = current.find_last_not_of(" \t\r\n");
            statements.push_back(current.substr(first, last - first + 1));
        }
        current.clear();
    };
    char quote = 0;
    for (std::size_t i = 0; i < script.size(); ++i) {
        const char c = script[i];
        if (quote != 0) {
            current += c;
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            current += c;
        } else if (c == '-' && i + 1 < script.size() && script[i + 1] == '-') {
            while (i < script.size() && script[i] != '\n') ++i;
            current += '\n';
        } else if (c == '/' && i + 1 < script.size() && script[i + 1] == '*') {
            const auto end = script.find("*/", i + 2);
            i = end == std::string_view::npos ? script.size() : end + 1;
            current += ' ';
        } else if (c == ';') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return statements;
}

void CreateDatabase(const std::string& database, const DatabaseLogin& login, std::string_view script) {
    auto api = Client(login);
    const std::string dpb = LoginDpb(login, true);
    ISC_STATUS_ARRAY status;
    isc_db_handle db = 0;
    Check(*api, status,
          api->create_database(status, 0, database.c_str(), &db, static_cast<short>(dpb.size()), dpb.data(), 0),
          "cannot create " + database);
    try {
        RunStatements(*api, db, script);
    } catch (...) {
        ISC_STATUS_ARRAY ignored;
        api->detach_database(ignored, &db);
        throw;
    }
    api->detach_database(status, &db);
}

void RunScript(const std::string& database, const DatabaseLogin& login, std::string_view script) {
    auto api = Client(login);
    const std::string dpb = LoginDpb(login, false);
    ISC_STATUS_ARRAY status;
    isc_db_handle db = 0;
    Check(*api, status, api->attach_database(status, 0, database.c_str(), &db, static_cast<short>(dpb.size()), dpb.data()),
          "cannot open " + database);
    try {
        RunStatements(*api, db, script);
    } catch (...) {
        ISC_STATUS_ARRAY ignored;
        api->detach_database(ignored, &db);
        throw;
    }
    api->detach_database(status, &db);
}

void DropDatabase(const std::string& database, const DatabaseLogin& login) {
    std::string error;
    auto api = FbClient::Load(login.ClientLibrary, &error);
    if (api == nullptr) return;
    const std::string dpb = LoginDpb(login, false);
    ISC_STATUS_ARRAY status;
    isc_db_handle db = 0;
    if (api->attach_database(status, 0, database.c_str(), &db, static_cast<short>(dpb.size()), dpb.data()) != 0) return;
    api->drop_database(status, &db);
}

void WriteStoreConfig(const std::string& folder, const std::string& database, const DatabaseLogin& login) {
    const std::string connections =
        "[Morvane]\n"
        "DriverName=Firebird\n"
        "Database=" + database + "\n"
        "RoleName=RoleName\n"
        "User_Name=" + login.User + "\n"
        "Password=" + login.Password + "\n"
        "ServerCharSet=\n"
        "SQLDialect=3\n"
        "BlobSize=-1\n"
        "CommitRetain=False\n"
        "WaitOnLocks=True\n"
        "ErrorResourceFile=\n"
        "LocaleCode=0000\n"
        "Firebird TransIsolation=ReadCommited\n"
        "Trim Char=False\n";
    const std::string drivers =
        "[Firebird]\n"
        "LibraryName=libsqlfb.so\n"
        "VendorLib=" + login.ClientLibrary + "\n"
        "GetDriverFunc=getSQLDriverFIREBIRD\n";
    WriteFile(folder + "/sqlconnections.ini", connections, 0600);
    WriteFile(folder + "/sqldrivers.ini", drivers, 0644);
}

}  // namespace tarnwick::storedb
