#pragma once
// TSQLConnection: the one database connection, configured by name from the connections file and
// the drivers file. It loads the driver library on connect and owns the driver objects (driver,
// driver connection, metadata) until it disconnects; SQL datasets register with it and use its
// driver connection. Not connected at creation; `EnsureConnected` connects on first use.
// Failures raise EDatabaseError at once (driver result codes through `RaiseDriverError`).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Component.h"
#include "data/sql/ConnectionConfig.h"
#include "sqlfb/SQLDriver.h"

namespace tarnwick::sql {

class TParams;  // statement parameters (data/sql, statement side)
struct TParamDriverValue;

enum class TConnectionState {
    csStateClosed,
    csStateOpen,
    csStateConnecting,
    csStateExecuting,
    csStateDisconnecting,
};

// Which driver object's error message completes a translated result code.
enum class TErrorSource {
    eSourceConnection,  // the driver connection
    eSourceCommand,     // the statement passed along
    eSourceCursor,      // the cursor passed along
    eSourceMetaData,    // the metadata object
    eSourceNone,        // no object: the last error text only
};

// What the connection needs of an SQL dataset registered with it.
class ISQLConnectionClient {
public:
    virtual ~ISQLConnectionClient() = default;
    // True when the dataset is in any state other than inactive.
    virtual bool ClientActive() const = 0;
    // Before the connection disconnects: close the dataset if open and release its driver statement.
    virtual void CloseForDisconnect() = 0;
    // After a connect or before a disconnect.
    virtual void ConnectionStateChanged(bool connecting) { (void)connecting; }
    // The connection is being destroyed (after its disconnect): forget it, never call it again.
    virtual void ConnectionDestroyed() {}
};

// The busy cursor around a connect or statement: the window may install a hook (true = busy,
// false = normal). Nested uses show the busy cursor once.
class TBusyCursor {
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

    static void SetHook(std::function<void(bool busy)> hook);
};

class TSQLConnection : public TComponent {
public:
    explicit TSQLConnection(TComponent* owner = nullptr);
    ~TSQLConnection() override;

    // Design settings.
    const std::string& ConnectionName() const { return connectionName_; }
    void SetConnectionName(std::string name) { connectionName_ = std::move(name); }
    const std::string& DriverName() const { return driverName_; }
    void SetDriverName(std::string name) { driverName_ = std::move(name); }
    const std::string& LibraryName() const { return libraryName_; }
    void SetLibraryName(std::string name) { libraryName_ = std::move(name); }
    const std::string& VendorLib() const { return vendorLib_; }
    void SetVendorLib(std::string name) { vendorLib_ = std::move(name); }
    const std::string& GetDriverFunc() const { return getDriverFunc_; }
    void SetGetDriverFunc(std::string name) { getDriverFunc_ = std::move(name); }
    bool LoadParamsOnConnect() const { return loadParamsOnConnect_; }
    void SetLoadParamsOnConnect(bool on) { loadParamsOnConnect_ = on; }
    bool LoginPrompt() const { return loginPrompt_; }
    void SetLoginPrompt(bool on) { loginPrompt_ = on; }
    bool KeepConnection() const { return keepConnection_; }
    void SetKeepConnection(bool on) { keepConnection_ = on; }
    int TableScope() const { return tableScope_; }
    void SetTableScope(int scope) { tableScope_ = scope; }
    TConnectionParams& Params() { return params_; }
    const TConnectionParams& Params() const { return params_; }

    // Value of a parameter (name without case), empty when missing.
    std::string ParamValue(std::string_view name) const { return params_.Value(name); }
    // "LocaleCode" as a hexadecimal number, 0 when absent or not a number.
    std::uint32_t LocaleCode() const;
    // The value of "RowsetSize" as written (empty when absent).
    const std::string& RowsetSizeText() const;

    // The configuration file paths: the connections file is resolved at creation, the drivers
    // file at each call.
    const std::string& ConnectionFilePath() const { return connectionFilePath_; }
    std::string DriverFilePath() const;

    // Connecting and disconnecting.
    bool Connected() const;
    void SetConnected(bool connected);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    void EnsureConnected();
    // Disconnects when nothing needs the connection any more (only with KeepConnection false).
    void CloseIfIdle();

    std::function<void()> BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

    // Transactions.
    void BeginTransaction(const sqlfb::TTransactionDesc& desc);
    void CommitTransaction(const sqlfb::TTransactionDesc& desc);
    void RollbackTransaction(const sqlfb::TTransactionDesc& desc);
    bool TransactionActive() const { return transactionCount_ > 0; }
    int TransactionCount() const { return transactionCount_; }
    bool TransactionsSupported() const { return transactionsSupported_; }
    bool MultipleTransactionsSupported() const { return multipleTransactions_ != 0; }
    std::int32_t IsolationLevel() const { return isolationLevel_; }
    // The descriptor the provider side uses: {1, 0, isolation level, 0}.
    sqlfb::TTransactionDesc DefaultTransactionDesc() const;
    // Savepoints of the open transaction, each run as a statement of its own ("SAVEPOINT name",
    // "ROLLBACK TO SAVEPOINT name", "RELEASE SAVEPOINT name"). Setting a name again moves it.
    // Without an open transaction: "There is no active transaction".
    void Savepoint(std::string_view name);
    void RollbackToSavepoint(std::string_view name);
    void ReleaseSavepoint(std::string_view name);

    // Runs one statement with positional parameters and answers the rows affected (statement side).
    int ExecuteStatement(const std::string& sql, TParams* params);

    // Builds the message for a driver result code, keeps it as the last error text and raises
    // EDatabaseError with it (no component prefix).
    [[noreturn]] void RaiseDriverError(sqlfb::SQLResult code, TErrorSource source,
                                       sqlfb::ISQLCommand* command = nullptr,
                                       sqlfb::ISQLCursor* cursor = nullptr);
    const std::string& LastError() const { return lastError_; }

    // What the statements use while connected.
    sqlfb::ISQLConnection* DriverConnection() const { return connection_.get(); }
    sqlfb::ISQLMetaData* MetaData() const { return metaData_.get(); }
    const std::string& QuoteChar() const { return quoteChar_; }
    TConnectionState ConnectionState() const { return state_; }
    void SetConnectionState(TConnectionState state) { state_ = state; }
    std::int32_t MaxStmtsPerConn() const { return maxStmtsPerConn_; }
    int ActiveStatements() const { return activeStatements_; }
    void SetActiveStatements(int count) { activeStatements_ = count; }

    // Clone connections for a second statement while the driver allows only one.
    bool AutoClone() const { return autoClone_; }
    void SetAutoClone(bool on) { autoClone_ = on; }
    bool IsClone() const { return cloneParent_ != nullptr; }
    TSQLConnection* CloneParent() const { return cloneParent_; }
    // A new free connection named Name() + "Clone1" with this connection's settings and Params,
    // LoadParamsOnConnect and LoginPrompt off, connected when this one is.
    std::unique_ptr<TSQLConnection> CloneConnection();

    // Registered datasets (not owned).
    void RegisterClient(ISQLConnectionClient* client);
    void UnregisterClient(ISQLConnectionClient* client);
    const std::vector<ISQLConnectionClient*>& Clients() const { return clients_; }

private:
    void DoConnect();
    void DoDisconnect();
    void LoadParams();
    void LoadDriver();
    void ApplyDriverOptions();
    void ReadCapabilities(const std::string& userName);
    void DropConnectAttempt();
    std::string ReadDriverValue(std::string_view name) const;
    std::string ReadConnectionValue(std::string_view name) const;

    std::string connectionName_;
    std::string driverName_;
    std::string libraryName_;
    std::string vendorLib_;
    std::string getDriverFunc_;
    // Values every statement asks for, read again once the parameters change.
    struct TParamMemo {
        std::uint64_t Version = ~std::uint64_t{0};
        std::uint32_t LocaleCode = 0;
        std::string RowsetSize;
    };
    mutable TParamMemo paramMemo_;
    const TParamMemo& ParamMemo() const;
    bool loadParamsOnConnect_ = false;
    bool loginPrompt_ = true;
    bool keepConnection_ = true;
    int tableScope_ = 0;
    TConnectionParams params_;

    std::string connectionFilePath_;
    bool paramsLoaded_ = false;
    TConnectionState state_ = TConnectionState::csStateClosed;

    void* libraryHandle_ = nullptr;
    std::unique_ptr<sqlfb::ISQLDriver> driver_;
    std::unique_ptr<sqlfb::ISQLConnection> connection_;
    std::unique_ptr<sqlfb::ISQLMetaData> metaData_;

    int transactionCount_ = 0;
    bool transactionsSupported_ = false;
    std::int32_t multipleTransactions_ = 0;
    std::int32_t isolationLevel_ = 0;
    std::string quoteChar_;
    std::int32_t maxStmtsPerConn_ = 0;
    int activeStatements_ = 0;
    std::string lastError_;
    bool autoClone_ = true;
    TSQLConnection* cloneParent_ = nullptr;
    std::vector<ISQLConnectionClient*> clients_;

    // ExecuteStatement's command, kept between statements on the driver connection that made it
    // (its prepared statement is let go after every run), and what it reuses: the last text with
    // its markers replaced, the parsed rowset size and the room for a parameter's driver form.
    struct TStatementRunner {
        std::unique_ptr<sqlfb::ISQLCommand> Command;
        sqlfb::ISQLConnection* Owner = nullptr;
        std::string Sql, Quote, Text;
        std::string RowsetText;
        int Rowset = 0;
        bool RowsetKnown = false;
        std::unique_ptr<TParamDriverValue> Value;
        ~TStatementRunner();
    };
    TStatementRunner runner_;
    // Runs the statement the way a dataset of its own would (clone connections, odd states).
    int ExecuteStatementAlone(const std::string& sql, TParams* params);
    void DropRunner() noexcept;
};

}  // namespace tarnwick::sql
