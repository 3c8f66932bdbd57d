#include "data/sql/SQLConnection.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/DatabaseError.h"
#include "base/Exception.h"
#include "base/Text.h"
#include "data/sql/DriverError.h"
#include "data/sql/Params.h"
#include "platform/DynamicLibrary.h"
#include "platform/SettingsStore.h"

namespace tarnwick::sql {
namespace {

using namespace tarnwick::sqlfb;

std::function<void(bool)>& BusyHook() {
    static std::function<void(bool)> hook;
    return hook;
}
int busyDepth = 0;

// The driver entry point found at the latest connect on this thread.
thread_local GetDriverFunc threadEntryPoint = nullptr;

std::string Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// Whole-text 32-bit integer, as the parameter values are written ("-1", "3").
std::int32_t IntegerValue(const std::string& text) {
    const std::string value = Trimmed(text);
    if (!value.empty()) {
        errno = 0;
        char* end = nullptr;
        const long long number = std::strtoll(value.c_str(), &end, 10);
        const bool digitsOnly = value.find_first_not_of("+-0123456789") == std::string::npos;
        if (digitsOnly && end != nullptr && *end == '\0' && errno == 0 && number >= INT32_MIN &&
            number <= INT32_MAX)
            return static_cast<std::int32_t>(number);
    }
    throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
}

std::intptr_t Flag(const std::string& value) {
    return AsciiUpperCase(Trimmed(value)) == "TRUE" ? 1 : 0;
}

}  // namespace

TBusyCursor::TBusyCursor() {
    if (busyDepth++ == 0 && BusyHook()) BusyHook()(true);
}

TBusyCursor::~TBusyCursor() {
    if (--busyDepth == 0 && BusyHook()) BusyHook()(false);
}

void TBusyCursor::SetHook(std::function<void(bool busy)> hook) { BusyHook() = std::move(hook); }

TSQLConnection::TSQLConnection(TComponent* owner) : TComponent(owner) {
    try {
        connectionFilePath_ = ConfigFilePath(kConnectionRegistryFile, kDefaultConnectionsFile);
    } catch (const std::exception&) {
        connectionFilePath_.clear();  // the first connect reports the missing file
    }
}

TSQLConnection::~TSQLConnection() {
    try {
        SetConnected(false);
    } catch (const std::exception&) {
        // Nothing can report a failed disconnect while the connection goes away.
    }
    DropRunner();
    // Datasets still registered must not call back into a connection that is gone.
    for (auto* client : std::vector<ISQLConnectionClient*>(clients_)) client->ConnectionDestroyed();
    clients_.clear();
}

const TSQLConnection::TParamMemo& TSQLConnection::ParamMemo() const {
    if (paramMemo_.Version == params_.Version()) return paramMemo_;
    const std::string locale = Trimmed(ParamValue("LocaleCode"));
    paramMemo_.LocaleCode =
        locale.empty() || locale.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos
            ? 0
            : static_cast<std::uint32_t>(std::strtoul(locale.c_str(), nullptr, 16));
    paramMemo_.RowsetSize = ParamValue("RowsetSize");
    paramMemo_.Version = params_.Version();
    return paramMemo_;
}

std::uint32_t TSQLConnection::LocaleCode() const { return ParamMemo().LocaleCode; }

const std::string& TSQLConnection::RowsetSizeText() const { return ParamMemo().RowsetSize; }

std::string TSQLConnection::DriverFilePath() const {
    return ConfigFilePath(kDriverRegistryFile, kDefaultDriversFile);
}

bool TSQLConnection::Connected() const {
    return connection_ != nullptr && state_ != TConnectionState::csStateClosed &&
           state_ != TConnectionState::csStateConnecting &&
           state_ != TConnectionState::csStateDisconnecting;
}

void TSQLConnection::SetConnected(bool connected) {
    if (connected == Connected()) return;
    if (connected) {
        if (BeforeConnect) BeforeConnect();
        DoConnect();
        for (auto* client : std::vector<ISQLConnectionClient*>(clients_)) client->ConnectionStateChanged(true);
        if (AfterConnect) AfterConnect();
        return;
    }
    if (BeforeDisconnect) BeforeDisconnect();
    for (auto* client : std::vector<ISQLConnectionClient*>(clients_)) client->ConnectionStateChanged(false);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect();
}

void TSQLConnection::EnsureConnected() {
    if (!Connected()) SetConnected(true);
}

void TSQLConnection::CloseIfIdle() {
    if (!Connected() || keepConnection_ || TransactionActive()) return;
    for (const auto* client : clients_) {
        if (client->ClientActive()) return;
    }
    SetConnected(false);
}

std::string TSQLConnection::ReadConnectionValue(std::string_view name) const {
    return ReadConfigValue(connectionFilePath_, connectionName_, name);
}

std::string TSQLConnection::ReadDriverValue(std::string_view name) const {
    return ReadConfigValue(DriverFilePath(), driverName_, name);
}

void TSQLConnection::LoadParams() {
    if (paramsLoaded_) return;
    if (connectionName_.empty()) DatabaseError("Connection name missing");
    const auto file = platform::IniFile::Read(connectionFilePath_);
    if (!file.Exists())
        DatabaseError(Format("Driver/Connection Registry File '%s' not found", connectionFilePath_.c_str()));
    const auto* entries = file.Section(connectionName_);
    params_.SetLines(entries == nullptr ? std::vector<std::string>{} : *entries);
    paramsLoaded_ = true;
}

void TSQLConnection::DoConnect() {
    if (loadParamsOnConnect_) {
        LoadParams();
        driverName_ = ReadConnectionValue("DriverName");
    }
    if (driverName_.empty()) DatabaseError("Missing DriverName property");
    if (loadParamsOnConnect_) libraryName_ = ReadDriverValue("LibraryName");
    if (libraryName_.empty()) DatabaseError("DLL/Shared Library Name not Set", this);
    if (loadParamsOnConnect_) vendorLib_ = Trimmed(ReadDriverValue("VendorLib"));
    if (vendorLib_.empty()) DatabaseError("DLL/Shared Library Name not Set", this);
    if (loadParamsOnConnect_) getDriverFunc_ = ReadDriverValue("GetDriverFunc");
    if (Trimmed(ParamValue("Database")).empty()) {
        if (connectionName_.empty()) DatabaseError("Connection name missing");
        DatabaseError("Missing Database property");
    }

    state_ = TConnectionState::csStateConnecting;
    try {
        LoadDriver();
        TBusyCursor busy;
        ISQLDriver* driver = nullptr;
        const SQLResult entryResult =
            threadEntryPoint(vendorLib_.c_str(), Trimmed(ParamValue("ErrorResourceFile")).c_str(), &driver);
        if (entryResult != kSQLSuccess || driver == nullptr) {
            delete driver;
            DatabaseError(Format("Unable to Load %s", vendorLib_.c_str()));
        }
        metaData_.reset();
        connection_.reset();
        driver_.reset(driver);

        ISQLConnection* connection = nullptr;
        const SQLResult connResult = driver_->GetSQLConnection(&connection);
        connection_.reset(connection);
        if (connResult != kSQLSuccess) RaiseDriverError(connResult, TErrorSource::eSourceConnection);

        // The login values: the first line of each name wins; no prompt is ever shown.
        const std::string password = ParamValue("PASSWORD");
        const std::string userName = ParamValue("USER_NAME");
        const std::string database = Trimmed(ParamValue("Database"));

        ApplyDriverOptions();
        const SQLResult loginResult =
            connection_->Connect(database.c_str(), userName.c_str(), password.c_str());
        if (loginResult != kSQLSuccess) RaiseDriverError(loginResult, TErrorSource::eSourceConnection);

        std::int32_t length = 0;
        maxStmtsPerConn_ = 0;
        (void)connection_->GetOption(kConnMaxStatements, &maxStmtsPerConn_, sizeof maxStmtsPerConn_, &length);

        ISQLMetaData* metaData = nullptr;
        const SQLResult metaResult = connection_->GetSQLMetaData(&metaData);
        metaData_.reset(metaData);
        if (metaResult != kSQLSuccess) RaiseDriverError(metaResult, TErrorSource::eSourceConnection);

        ReadCapabilities(Trimmed(userName));
        state_ = TConnectionState::csStateOpen;
    } catch (...) {
        DropConnectAttempt();
        throw;
    }
}

void TSQLConnection::DropConnectAttempt() {
    if (state_ != TConnectionState::csStateConnecting) return;
    state_ = TConnectionState::csStateClosed;
    libraryHandle_ = nullptr;  // the library stays loaded; the next attempt looks it up again
    metaData_.reset();
    connection_.reset();
}

void TSQLConnection::LoadDriver() {
    TBusyCursor busy;
    if (libraryHandle_ == nullptr) {
        libraryHandle_ = platform::LoadLibrary(Trimmed(libraryName_));
        if (libraryHandle_ == nullptr) DatabaseError(Format("Unable to Load %s", libraryName_.c_str()));
    }
    void* entry = platform::LibrarySymbol(libraryHandle_, Trimmed(getDriverFunc_));
    if (entry == nullptr) DatabaseError(Format("Unable to Find Procedure %s", getDriverFunc_.c_str()));
    threadEntryPoint = reinterpret_cast<sqlfb::GetDriverFunc>(entry);
}

void TSQLConnection::ApplyDriverOptions() {
    ISQLConnection& conn = *connection_;
    // Text options pass the address of a zero-terminated copy that lives through the call.
    const auto text = [&conn](std::uint16_t option, const std::string& value) {
        const std::string copy = Trimmed(value);
        (void)conn.SetOption(option, reinterpret_cast<std::intptr_t>(copy.c_str()));
    };
    const auto apply = [this](const char* name, const std::function<void(const std::string&)>& set) {
        const std::string value = ParamValue(name);
        if (!value.empty()) set(value);
    };
    apply("HostName", [&](const std::string& v) { text(kConnHostName, v); });
    apply("RoleName", [&](const std::string& v) { text(kConnRoleName, v); });
    apply("WaitOnLocks", [&](const std::string& v) { (void)conn.SetOption(kConnWaitOnLocks, Flag(v)); });
    apply("CommitRetain", [&](const std::string& v) { (void)conn.SetOption(kConnCommitRetain, Flag(v)); });
    apply("AutoCommit", [&](const std::string& v) { (void)conn.SetOption(kConnAutoCommit, Flag(v)); });
    apply("BlockingMode", [&](const std::string& v) { (void)conn.SetOption(kConnBlockingMode, Flag(v)); });
    apply("ServerCharSet", [&](const std::string& v) {
        if (!Trimmed(v).empty()) text(kConnServerCharSet, v);
    });
    isolationLevel_ = kIsoReadCommitted;
    apply((driverName_ + " TransIsolation").c_str(), [&](const std::string& v) {
        const std::string lower = AsciiLowerCase(v);  // not trimmed
        if (lower == "repeatableread") isolationLevel_ = kIsoRepeatableRead;
        else if (lower == "dirtyread") isolationLevel_ = kIsoDirtyRead;
        (void)conn.SetOption(kConnTxnIsoLevel, isolationLevel_);
    });
    apply("SqlDialect", [&](const std::string& v) { (void)conn.SetOption(kConnSqlDialect, IntegerValue(v)); });
    apply("OS Authentication", [&](const std::string& v) { (void)conn.SetOption(kConnOSAuthentication, Flag(v)); });
    apply("Server Port", [&](const std::string& v) { text(kConnServerPort, v); });
    apply("Multiple Transaction", [&](const std::string& v) { (void)conn.SetOption(kConnMultipleTransaction, Flag(v)); });
    apply("Trim Char", [&](const std::string& v) { (void)conn.SetOption(kConnTrimChar, Flag(v)); });
    apply("Custom String", [&](const std::string& v) { text(kConnCustomInfo, v); });
    apply("Connection Timeout", [&](const std::string& v) { (void)conn.SetOption(kConnTimeout, IntegerValue(v)); });
}

void TSQLConnection::ReadCapabilities(const std::string& userName) {
    std::int32_t length = 0;
    if (!userName.empty())
        (void)metaData_->SetOption(kMetaSchemaName, reinterpret_cast<std::intptr_t>(userName.c_str()));

    char quote[2] = {0, 0};
    const SQLResult quoteResult = metaData_->GetOption(kMetaObjectQuoteChar, quote, 1, &length);
    quoteChar_ = (quoteResult == kSQLSuccess && quote[0] != '\0') ? std::string(1, quote[0]) : std::string{};

    const std::string blobSize = Trimmed(ParamValue("BlobSize"));
    (void)connection_->SetOption(kConnBlobSize, blobSize.empty() ? -1 : IntegerValue(blobSize));

    std::int32_t supported = 0;
    (void)metaData_->GetOption(kMetaSupportsTransaction, &supported, sizeof supported, &length);
    transactionsSupported_ = supported != 0;
    multipleTransactions_ = 0;
    (void)metaData_->GetOption(kMetaMultipleTransactions, &multipleTransactions_, sizeof multipleTransactions_,
                               &length);
}

TSQLConnection::TStatementRunner::~TStatementRunner() = default;

void TSQLConnection::DropRunner() noexcept {
    runner_.Command.reset();
    runner_.Owner = nullptr;
}

void TSQLConnection::DoDisconnect() {
    DropRunner();  // its command is the driver's: it goes before the driver does
    if (driver_ != nullptr) {
        state_ = TConnectionState::csStateDisconnecting;
        for (auto* client : std::vector<ISQLConnectionClient*>(clients_)) client->CloseForDisconnect();
        if (connection_ != nullptr) {
            SQLResult result = connection_->SetOption(kConnCallback, 0);
            if (result == kSQLSuccess) result = connection_->SetOption(kConnCallbackInfo, 0);
            if (result != kSQLSuccess) {
                state_ = TConnectionState::csStateOpen;
                RaiseDriverError(result, TErrorSource::eSourceConnection);
            }
        }
        metaData_.reset();
        if (connection_ != nullptr) (void)connection_->Disconnect();
        transactionCount_ = 0;
        connection_.reset();
        libraryHandle_ = nullptr;
        state_ = TConnectionState::csStateClosed;
        driver_.reset();
    }
    paramsLoaded_ = false;
}

sqlfb::TTransactionDesc TSQLConnection::DefaultTransactionDesc() const {
    TTransactionDesc desc;
    desc.TransactionID = 1;
    desc.GlobalID = 0;
    desc.IsolationLevel = isolationLevel_;
    desc.CustomIsolation = 0;
    return desc;
}

void TSQLConnection::BeginTransaction(const sqlfb::TTransactionDesc& desc) {
    EnsureConnected();
    if (!Connected()) DatabaseError("Cannot perform this operation on a closed connection", this);
    if (!transactionsSupported_) return;
    if (TransactionActive() && multipleTransactions_ == 0) DatabaseError("A transaction is already active", this);
    const TTransactionDesc copy = desc;
    const SQLResult result = connection_->BeginTransaction(&copy);
    if (result != kSQLSuccess && result != kSQLNotSupported)
        RaiseDriverError(result, TErrorSource::eSourceConnection);
    ++transactionCount_;
}

void TSQLConnection::CommitTransaction(const sqlfb::TTransactionDesc& desc) {
    if (!transactionsSupported_) return;
    if (transactionCount_ <= 0) DatabaseError("There is no active transaction", this);
    if (connection_ == nullptr) DatabaseError("Cannot perform this operation on a closed connection", this);
    const TTransactionDesc copy = desc;
    const SQLResult result = connection_->Commit(&copy);
    if (result != kSQLSuccess && result != kSQLNotSupported)
        RaiseDriverError(result, TErrorSource::eSourceConnection);
    --transactionCount_;
    CloseIfIdle();
}

void TSQLConnection::RollbackTransaction(const sqlfb::TTransactionDesc& desc) {
    if (!transactionsSupported_) return;
    if (transactionCount_ <= 0) DatabaseError("There is no active transaction", this);
    if (connection_ == nullptr) DatabaseError("Cannot perform this operation on a closed connection", this);
    const TTransactionDesc copy = desc;
    const SQLResult result = connection_->Rollback(&copy);
    if (result != kSQLSuccess && result != kSQLNotSupported)
        RaiseDriverError(result, TErrorSource::eSourceConnection);
    --transactionCount_;
    CloseIfIdle();
}

void TSQLConnection::RaiseDriverError(sqlfb::SQLResult code, TErrorSource source, sqlfb::ISQLCommand* command,
                                      sqlfb::ISQLCursor* cursor) {
    std::string serverPart;
    switch (source) {
        case TErrorSource::eSourceConnection: serverPart = ServerDriverErrorText(connection_.get()); break;
        case TErrorSource::eSourceCommand: serverPart = ServerDriverErrorText(command); break;
        case TErrorSource::eSourceCursor: serverPart = ServerDriverErrorText(cursor); break;
        case TErrorSource::eSourceMetaData: serverPart = ServerDriverErrorText(metaData_.get()); break;
        case TErrorSource::eSourceNone: break;
    }
    lastError_ = AssembleDriverError(code, StaticDriverErrorText(code), serverPart, lastError_);
    throw EDatabaseError(lastError_);
}

std::unique_ptr<TSQLConnection> TSQLConnection::CloneConnection() {
    auto clone = std::make_unique<TSQLConnection>(nullptr);
    clone->SetName(Name() + "Clone1");
    clone->loadParamsOnConnect_ = false;
    clone->loginPrompt_ = false;
    clone->driverName_ = driverName_;
    clone->connectionName_ = connectionName_;
    clone->params_ = params_;
    clone->getDriverFunc_ = getDriverFunc_;
    clone->libraryName_ = libraryName_;
    clone->vendorLib_ = vendorLib_;
    clone->tableScope_ = tableScope_;
    clone->cloneParent_ = this;
    if (Connected()) clone->Open();
    return clone;
}

void TSQLConnection::RegisterClient(ISQLConnectionClient* client) {
    if (client == nullptr) return;
    if (std::find(clients_.begin(), clients_.end(), client) == clients_.end()) clients_.push_back(client);
}

void TSQLConnection::UnregisterClient(ISQLConnectionClient* client) {
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

}  // namespace tarnwick::sql
