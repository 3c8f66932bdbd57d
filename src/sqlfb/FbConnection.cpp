#include "sqlfb/FbConnection.h"

#include <cstring>
#include <string>

#include "base/Text.h"
#include "sqlfb/FbCommand.h"
#include "sqlfb/FbDriver.h"
#include "sqlfb/FbHelpers.h"
#include "sqlfb/FbMetaData.h"
#include "sqlfb/FbStatement.h"
#include "sqlfb/FbWatchdog.h"

namespace tarnwick::sqlfb {

namespace detail {

namespace {

// The text inside the quotes of a quoted name, doubled quotes made single.
std::string Unquoted(const std::string& name) {
    std::string out;
    for (std::size_t i = 1; i + 1 < name.size(); ++i) {
        out += name[i];
        if (name[i] == '"' && name[i + 1] == '"' && i + 2 < name.size()) ++i;
    }
    return out;
}

// The object name that Firebird stores for a name as written in a statement: a quoted name as it
// stands inside its quotes, any other name in upper case; a qualifier before "." is dropped.
std::string ObjectName(std::string name) {
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') return Unquoted(name);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) name = name.substr(dot + 1);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') return Unquoted(name);
    return AsciiUpperCase(name);
}

class FbConnectionImpl final : public ISQLConnection {
public:
    explicit FbConnectionImpl(std::shared_ptr<const FbClient> api) : att_(std::make_shared<FbAttachment>()) {
        att_->api = std::move(api);
    }
    ~FbConnectionImpl() override { att_->Detach(); }

    SQLResult Connect(const char* database, const char* user, const char* password) override {
        return Guarded([&] { return DoConnect(database, user, password); });
    }

    SQLResult DoConnect(const char* database, const char* user, const char* password) {
        error_.Clear();
        if (att_->Attached()) att_->Detach();
        const std::string path = DatabasePath(database != nullptr ? database : "");
        std::string dpb(1, static_cast<char>(isc_dpb_version1));
        AppendDpb(dpb, isc_dpb_user_name, user != nullptr ? user : "");
        AppendDpb(dpb, isc_dpb_password, password != nullptr ? password : "");
        AppendDpb(dpb, isc_dpb_lc_ctype, att_->charSet.empty() ? "UTF8" : att_->charSet);
        if (!att_->roleName.empty()) AppendDpb(dpb, isc_dpb_sql_role_name, att_->roleName);
        dpb += static_cast<char>(isc_dpb_sql_dialect);
        dpb += static_cast<char>(4);
        const std::int32_t dialect = att_->dialect;
        dpb.append(reinterpret_cast<const char*>(&dialect), 4);
        att_->remote = Remote(path);
        att_->linkClosed = false;
        if (att_->remote && att_->timeout > 0) {
            // The client library's own wait for the server's first answer.
            dpb += static_cast<char>(isc_dpb_connect_timeout);
            dpb += static_cast<char>(4);
            const std::int32_t seconds = att_->timeout;
            dpb.append(reinterpret_cast<const char*>(&seconds), 4);
        }

        ISC_STATUS_ARRAY status;
        isc_db_handle db = 0;
        if (att_->api->attach_database(status, 0, path.c_str(), &db, static_cast<short>(dpb.size()), dpb.data()) != 0) {
            error_.Set(att_->StatusText(status));
            return kSQLConnectionFailed;
        }
        att_->db = db;
        return kSQLSuccess;
    }

    SQLResult Disconnect() override {
        att_->Detach();
        return kSQLSuccess;
    }

    SQLResult GetSQLCommand(ISQLCommand** command) override {
        if (command == nullptr) return kSQLInvalidParameter;
        *command = nullptr;
        if (!att_->Attached()) return Fail(kSQLInvalidHandle, "The connection is closed");
        return Guarded([&] {
            *command = NewFbCommand(att_);
            return kSQLSuccess;
        });
    }

    SQLResult GetSQLMetaData(ISQLMetaData** metaData) override {
        if (metaData == nullptr) return kSQLInvalidParameter;
        *metaData = nullptr;
        return Guarded([&] {
            *metaData = NewFbMetaData(att_);
            return kSQLSuccess;
        });
    }

    SQLResult SetOption(std::uint16_t option, std::intptr_t value) override {
        const auto text = [value]() {
            const char* p = reinterpret_cast<const char*>(value);
            return std::string(p != nullptr ? p : "");
        };
        switch (option) {
            case kConnBlobSize: att_->blobSize = static_cast<std::int32_t>(value); break;
            case kConnRoleName: att_->roleName = text(); break;
            case kConnWaitOnLocks: att_->waitOnLocks = value != 0; break;
            case kConnCommitRetain: att_->commitRetain = value != 0; break;
            case kConnTxnIsoLevel: att_->isolation = static_cast<std::int32_t>(value); break;
            case kConnHostName: att_->hostName = text(); break;
            case kConnServerCharSet: att_->charSet = text(); break;
            case kConnSqlDialect: att_->dialect = static_cast<std::int32_t>(value); break;
            case kConnServerPort: att_->serverPort = text(); break;
            case kConnTrimChar: att_->trimChar = value != 0; break;
            case kConnQualifiedName: att_->qualifiedName = text(); break;
            case kConnTimeout: att_->timeout = std::max<std::int32_t>(static_cast<std::int32_t>(value), 0); break;
            default: break;  // the rest mean nothing to Firebird and are accepted as they come
        }
        return kSQLSuccess;
    }

    SQLResult GetOption(std::uint16_t option, void* buffer, std::int32_t maxLength, std::int32_t* length) override {
        if (buffer == nullptr) return kSQLInvalidParameter;
        const auto number = [&](std::int32_t value) {
            if (maxLength < 4) return kSQLInvalidLength;
            std::memcpy(buffer, &value, 4);
            if (length != nullptr) *length = 4;
            return kSQLSuccess;
        };
        const auto text = [&](const std::string& value) {
            if (maxLength < 1) return kSQLInvalidLength;
            const auto part = Utf8Prefix(value, static_cast<std::size_t>(maxLength - 1));
            std::memcpy(buffer, part.data(), part.size());
            static_cast<char*>(buffer)[part.size()] = '\0';
            if (length != nullptr) *length = static_cast<std::int32_t>(part.size());
            return kSQLSuccess;
        };
        switch (option) {
            case kConnMaxStatements: return number(0);
            case kConnBlobSize: return number(att_->blobSize);
            case kConnWaitOnLocks: return number(att_->waitOnLocks ? 1 : 0);
            case kConnCommitRetain: return number(att_->commitRetain ? 1 : 0);
            case kConnTxnIsoLevel: return number(att_->isolation);
            case kConnSqlDialect: return number(att_->dialect);
            case kConnTrimChar: return number(att_->trimChar ? 1 : 0);
            case kConnTimeout: return number(att_->timeout);
            case kConnServerCharSet: return text(att_->charSet.empty() ? "UTF8" : att_->charSet);
            case kConnCatalogName: return text("");
            case kConnSchemaName: return text("");
            case kConnObjectName: return text(ObjectName(att_->qualifiedName));
            case kConnCatalogVersion: return number(static_cast<std::int32_t>(att_->catalogVersion));
            default: return kSQLNotSupported;
        }
    }

    SQLResult BeginTransaction(const TTransactionDesc* desc) override {
        error_.Clear();
        if (!att_->Attached()) return Fail(kSQLInvalidHandle, "The connection is closed");
        if (att_->retained) {
            // A transaction committed with retain carries on as the new one.
            att_->retained = false;
            return kSQLSuccess;
        }
        if (att_->explicitTr != 0) return Fail(kSQLTransactionActive, "A transaction is already active");
        const WatchedCall watch(*att_->api, att_->db, att_->WatchSeconds(), &att_->linkClosed);
        const std::int32_t level = desc != nullptr ? desc->IsolationLevel : att_->isolation;
        if (level < kIsoReadCommitted || level > kIsoDirtyRead)
            return Fail(kSQLInvalidIsolation, "Invalid transaction isolation level");
        std::string error;
        if (!att_->Start(&att_->explicitTr, false, level, &error)) return Fail(kSQLServerError, error);
        // Firebird never reads uncommitted rows: a dirty read runs as read committed, and says so.
        return level == kIsoDirtyRead ? kSQLNotSupported : kSQLSuccess;
    }

    SQLResult Commit(const TTransactionDesc*) override {
        error_.Clear();
        if (!att_->ExplicitActive()) return Fail(kSQLInvalidTransactionId, "There is no active transaction");
        const WatchedCall watch(*att_->api, att_->db, att_->WatchSeconds(), &att_->linkClosed);
        ISC_STATUS_ARRAY status;
        if (att_->commitRetain) {
            if (att_->api->commit_retaining(status, &att_->explicitTr) != 0)
                return Fail(kSQLServerError, att_->StatusText(status));
            att_->retained = true;
            return kSQLSuccess;
        }
        if (att_->api->commit_transaction(status, &att_->explicitTr) != 0)
            return Fail(kSQLServerError, att_->StatusText(status));
        att_->explicitTr = 0;
        return kSQLSuccess;
    }

    SQLResult Rollback(const TTransactionDesc*) override {
        error_.Clear();
        if (!att_->ExplicitActive()) return Fail(kSQLInvalidTransactionId, "There is no active transaction");
        const WatchedCall watch(*att_->api, att_->db, att_->WatchSeconds(), &att_->linkClosed);
        ISC_STATUS_ARRAY status;
        if (att_->api->rollback_transaction(status, &att_->explicitTr) != 0) {
            const std::string text = att_->StatusText(status);
            att_->explicitTr = 0;  // a failed rollback leaves nothing to roll back
            return Fail(kSQLServerError, text);
        }
        att_->explicitTr = 0;
        return kSQLSuccess;
    }

    SQLResult GetErrorMessageLen(std::uint16_t* length) override { return error_.Length(length); }
    SQLResult GetErrorMessage(char* buffer, std::uint32_t bufferSize) override { return error_.Copy(buffer, bufferSize); }

private:
    SQLResult Fail(SQLResult code, std::string text) {
        error_.Set(std::move(text));
        return code;
    }

    // True when the database text names a server ("host:path").
    static bool Remote(const std::string& path) {
        const auto colon = path.find(':');
        const auto slash = path.find_first_of("/\\");
        return colon != std::string::npos && colon > 1 && (slash == std::string::npos || slash < colon);
    }

    // "host:path" and "host/port:path" go over TCP; a plain path opens the file embedded. The
    // "HostName" and "Server Port" options add what the database text leaves out.
    std::string DatabasePath(const std::string& database) const {
        const auto colon = database.find(':');
        const auto slash = database.find_first_of("/\\");
        const bool hasHost = colon != std::string::npos && colon > 1 && (slash == std::string::npos || slash < colon);
        const bool hostOnlySlash = hasHost && slash != std::string::npos && slash < colon;
        if (!hasHost) {
            if (att_->hostName.empty()) return database;
            std::string host = att_->hostName;
            if (!att_->serverPort.empty()) host += "/" + att_->serverPort;
            return host + ":" + database;
        }
        if (!att_->serverPort.empty() && !hostOnlySlash)
            return database.substr(0, colon) + "/" + att_->serverPort + database.substr(colon);
        return database;
    }

    std::shared_ptr<FbAttachment> att_;
    ErrorText error_;
};

}  // namespace

ISQLConnection* NewFbConnection(std::shared_ptr<const FbClient> api) { return new FbConnectionImpl(std::move(api)); }

}  // namespace detail

using namespace detail;

// ---------------------------------------------------------------------------------------------
// Attachment

bool FbAttachment::Start(isc_tr_handle* tr, bool readOnly, std::int32_t isolationLevel, std::string* error) {
    // Transaction parameter block: version, access, isolation, lock resolution.
    std::string tpb;
    tpb += static_cast<char>(isc_tpb_version3);
    tpb += static_cast<char>(readOnly ? isc_tpb_read : isc_tpb_write);
    if (isolationLevel == kIsoRepeatableRead) {
        tpb += static_cast<char>(isc_tpb_concurrency);
    } else {
        tpb += static_cast<char>(isc_tpb_read_committed);
        tpb += static_cast<char>(isc_tpb_rec_version);
    }
    tpb += static_cast<char>(readOnly || !waitOnLocks ? isc_tpb_nowait : isc_tpb_wait);
    ISC_STATUS_ARRAY status;
    *tr = 0;
    if (api->start_transaction(status, tr, 1, &db, static_cast<int>(tpb.size()), tpb.data()) != 0) {
        *tr = 0;
        *error = StatusText(status);
        return false;
    }
    return true;
}

isc_tr_handle FbAttachment::ReadTransaction(std::string* error) {
    if (readTr == 0 && !Start(&readTr, true, kIsoReadCommitted, error)) return 0;
    return readTr;
}

std::shared_ptr<detail::FbStatement> FbAttachment::TakeStatement(const std::string& sql) {
    for (auto it = statementCache.begin(); it != statementCache.end(); ++it) {
        if ((*it)->sql == sql) {
            auto statement = std::move(*it);
            statementCache.erase(it);
            return statement;
        }
    }
    return nullptr;
}

void FbAttachment::PutStatement(std::shared_ptr<detail::FbStatement> statement) {
    if (!Attached() || statement == nullptr) return;
    for (auto& kept : statementCache) {
        if (kept->sql == statement->sql) {
            kept = std::move(statement);
            return;
        }
    }
    if (statementCache.size() >= kStatementCacheSize) statementCache.erase(statementCache.begin());
    statementCache.push_back(std::move(statement));
}

void FbAttachment::ClearStatements() {
    // Moved out first: dropping a statement must not touch the list being cleared.
    auto statements = std::move(statementCache);
    statementCache.clear();
    statements.clear();
}

void FbAttachment::ReadCursorClosed() {
    if (readCursors > 0) --readCursors;
}

void FbAttachment::EndReadTransaction() {
    // Firebird keeps every table a transaction has read from in use until the transaction ends.
    // The read transaction stays open between queries (a transaction start costs a header page
    // write), so it is ended where a catalog change of this connection needs its tables free.
    if (readTr == 0 || readCursors > 0) return;
    ISC_STATUS_ARRAY status;
    if (api->commit_transaction(status, &readTr) != 0) {
        ISC_STATUS_ARRAY ignored;
        api->rollback_transaction(ignored, &readTr);
    }
    readTr = 0;
}

isc_tr_handle FbAttachment::PrepareTransaction(std::string* error) {
    return ExplicitActive() ? explicitTr : ReadTransaction(error);
}

std::string FbAttachment::StatusText(const ISC_STATUS* status) const {
    std::string text = api->StatusText(status);
    if (linkClosed) {
        text += "\nNo answer from the server within " + std::to_string(timeout) +
                " seconds: the connection was closed (\"Connection Timeout\")";
    }
    return text;
}

void FbAttachment::Detach() {
    ClearStatements();  // also breaks the statement -> attachment ownership cycle
    if (db == 0) return;
    const WatchedCall watch(*api, db, WatchSeconds(), &linkClosed);
    ISC_STATUS_ARRAY status;
    if (readTr != 0) api->commit_transaction(status, &readTr);
    if (explicitTr != 0) {
        // An explicit transaction still open at disconnect is rolled back; one committed with
        // retain has nothing left to keep.
        if (retained) api->commit_transaction(status, &explicitTr);
        else api->rollback_transaction(status, &explicitTr);
    }
    readTr = 0;
    readCursors = 0;
    explicitTr = 0;
    retained = false;
    api->detach_database(status, &db);
    db = 0;
    ++epoch;
    ForgetCatalog();
}

}  // namespace tarnwick::sqlfb
