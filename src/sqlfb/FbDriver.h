#pragma once
// The Firebird implementation of the driver interfaces. One FbAttachment per driver connection
// holds the database handle, the transactions and the options; commands, cursors and the
// metadata object share it (shared_ptr), so a late delete never touches freed memory. Handles of
// an attachment that has since been detached are never used again (the epoch tells).
//
// Transactions: an explicit transaction (BeginTransaction) serves every statement while active.
// Outside it, a query runs in a read-only read-committed transaction (it holds no record locks
// and sees every commit) kept open between queries and ended before a catalog change made through
// this connection; any other statement runs in a write transaction of its own that is committed
// right after it executes, or rolled back when it fails.
// Statements are kept for reuse by text once their command lets them go (see statementCache).

#include <atomic>
#include <ibase.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sqlfb/FbClient.h"
#include "sqlfb/SQLDriver.h"

namespace tarnwick::sqlfb {

namespace detail {
struct FbStatement;
}

// Last error text of one driver object, served through GetErrorMessageLen / GetErrorMessage.
class ErrorText {
public:
    void Set(std::string text) { text_ = std::move(text); }
    void Clear() { text_.clear(); }
    SQLResult Length(std::uint16_t* length) const;
    SQLResult Copy(char* buffer, std::uint32_t bufferSize) const;

private:
    std::string text_;
};

struct IndexRow {
    std::string IndexName;
    std::string ColumnName;
    std::int16_t Position = 0;
    std::string PrimaryKeyName;
    std::int16_t Type = 0;
    std::string SortOrder;
};

struct FbAttachment {
    std::shared_ptr<const FbClient> api;
    isc_db_handle db = 0;
    unsigned epoch = 0;  // raised at every detach
    isc_tr_handle explicitTr = 0;
    bool retained = false;  // explicitTr was committed with retain: it serves as a new one
    isc_tr_handle readTr = 0;
    int readCursors = 0;  // open cursors running in readTr

    // Options.
    // Seconds a call may wait for a server over the network before the link is closed (0: no
    // bound); also the connect time-out. Set by the "Connection Timeout" option.
    static constexpr std::int32_t kDefaultTimeout = 60;
    std::int32_t timeout = kDefaultTimeout;
    bool remote = false;                   // attached over the network
    std::atomic<bool> linkClosed{false};   // the link was closed for want of an answer
    bool waitOnLocks = true;
    bool commitRetain = false;
    bool trimChar = false;
    std::int32_t isolation = 0;
    std::int32_t dialect = 3;
    std::int32_t blobSize = -1;
    std::string roleName;
    std::string charSet;
    std::string hostName;
    std::string serverPort;
    std::string qualifiedName;

    std::map<std::string, std::vector<IndexRow>> indexCache;
    // Renewed whenever indexCache is emptied; numbers are never given out twice in a process,
    // so no other attachment can show the same one.
    unsigned catalogVersion = NewCatalogVersion();
    void ForgetCatalog() {
        indexCache.clear();
        catalogVersion = NewCatalogVersion();
    }
    static unsigned NewCatalogVersion() {
        static std::atomic<unsigned> last{0};
        return ++last;
    }
    // Prepared statements no command uses any more, oldest first, found again by their text:
    // a text run again (the same UPDATE for every row) skips the server's prepare.
    static constexpr std::size_t kStatementCacheSize = 32;
    std::vector<std::shared_ptr<detail::FbStatement>> statementCache;

    bool Attached() const { return db != 0; }
    // The bound for the calls of this attachment (none for a database opened in the process).
    std::int32_t WatchSeconds() const { return remote ? timeout : 0; }
    // The client library's text of a failed call; says so when the link was closed for silence.
    std::string StatusText(const ISC_STATUS* status) const;
    bool Utf8Connection() const { return charSet.empty() || charSet == "UTF8" || charSet == "utf8"; }
    bool ExplicitActive() const { return explicitTr != 0 && !retained; }
    // Starts a transaction; false with *error set when the server refuses.
    bool Start(isc_tr_handle* tr, bool readOnly, std::int32_t isolationLevel, std::string* error);
    // The transaction to prepare statements in and to run queries in outside an explicit one.
    isc_tr_handle ReadTransaction(std::string* error);
    isc_tr_handle PrepareTransaction(std::string* error);
    // A cursor of the read transaction closed.
    void ReadCursorClosed();
    // Commits the read transaction when no cursor runs in it.
    void EndReadTransaction();
    std::shared_ptr<detail::FbStatement> TakeStatement(const std::string& sql);
    void PutStatement(std::shared_ptr<detail::FbStatement> statement);
    void ClearStatements();
    // Ends every transaction and detaches (errors ignored).
    void Detach();
};

class FbConnection;

ISQLDriver* NewFbDriver(std::shared_ptr<const FbClient> api);

}  // namespace tarnwick::sqlfb
