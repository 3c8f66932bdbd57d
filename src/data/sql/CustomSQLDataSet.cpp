#include "data/sql/CustomSQLDataSet.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "base/DatabaseError.h"
#include "base/Text.h"
#include "data/sql/DriverError.h"
#include "data/sql/ParamMarkers.h"
#include "data/sql/SQLScanner.h"

namespace tarnwick::sql {

using namespace sqlfb;

namespace {

std::string Trimmed(std::string_view text) {
    std::size_t start = 0, end = text.size();
    while (start < end && static_cast<unsigned char>(text[start]) <= ' ') ++start;
    while (end > start && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    return std::string(text.substr(start, end - start));
}

// The integer of a trimmed parameter value, or nothing when it is empty or no integer.
std::optional<int> IntegerOf(std::string_view value) {
    const std::string text = Trimmed(value);
    if (text.empty()) return std::nullopt;
    int out = 0;
    const char* begin = text.data();
    if (*begin == '+') ++begin;
    const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), out);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return out;
}

std::vector<std::string> SplitNames(const std::string& list) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = list.find(';', start);
        const std::string part = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty()) out.push_back(part);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

constexpr int kDefaultRowsetSize = 20;

}  // namespace

TCustomSQLDataSet::TCustomSQLDataSet(TComponent* owner) : TDataSet(owner) {}

TCustomSQLDataSet::~TCustomSQLDataSet() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; the statement is released below either way.
    }
    ReleaseStatement();
    if (connection_ != nullptr) connection_->UnregisterClient(this);
}

void TCustomSQLDataSet::SetSQLConnection(TSQLConnection* connection) {
    if (connection == connection_) return;
    CheckInactive();
    ReleaseStatement();
    if (connection_ != nullptr) connection_->UnregisterClient(this);
    connection_ = connection;
    if (connection_ == nullptr) return;
    connection_->RegisterClient(this);
    if (maxBlobSize_ == 0) maxBlobSize_ = IntegerOf(connection_->ParamValue("BlobSize")).value_or(-1);
}

void TCustomSQLDataSet::SetCommandType(TSQLCommandType type) {
    if (type == commandType_) return;
    CheckInactive();
    ReleaseStatement();
    commandType_ = type;
}

void TCustomSQLDataSet::CheckInactive() const {
    if (Active()) Error("Cannot perform this operation on an open dataset");
}

void TCustomSQLDataSet::EnsureConnection() const {
    if (connection_ == nullptr)
        throw EDatabaseError("SQLConnection property required for this operation");
}

// ---------------------------------------------------------------------------------------------
// Errors

void TCustomSQLDataSet::SQLError(SQLResult code, TErrorSource source) const {
    std::string serverPart;
    if (source == TErrorSource::eSourceCommand) serverPart = ServerDriverErrorText(command_.get());
    else if (source == TErrorSource::eSourceCursor) serverPart = ServerDriverErrorText(cursor_.get());
    else if (source == TErrorSource::eSourceConnection) serverPart = ServerDriverErrorText(driverConnection_);
    lastError_ = AssembleDriverError(code, StaticDriverErrorText(code), serverPart, lastError_);
    throw EDatabaseError(lastError_);
}

// ---------------------------------------------------------------------------------------------
// Statement life cycle

void TCustomSQLDataSet::ChooseDriverConnection() {
    TSQLConnection& connection = *connection_;
    const bool needClone = connection.MaxStmtsPerConn() > 0 &&
                           connection.ActiveStatements() >= connection.MaxStmtsPerConn() &&
                           !connection.TransactionActive() && connection.AutoClone();
    if (needClone) {
        cloneConnection_ = connection.CloneConnection();
        driverConnection_ = cloneConnection_->DriverConnection();
    } else {
        driverConnection_ = connection.DriverConnection();
    }
    connection.SetActiveStatements(0);
}

void TCustomSQLDataSet::AllocateStatement() {
    lastError_.clear();
    EnsureConnection();
    ReleaseStatement();
    ChooseDriverConnection();
    if (commandText_.empty()) Error("No SQL statement available");
    if (driverConnection_ == nullptr) SQLError(kSQLInvalidHandle, TErrorSource::eSourceNone);

    ISQLCommand* made = nullptr;
    const SQLResult code = driverConnection_->GetSQLCommand(&made);
    command_.reset(made);
    if (code != kSQLSuccess) SQLError(code, command_ ? TErrorSource::eSourceCommand : TErrorSource::eSourceNone);

    const int rowset = IntegerOf(connection_->RowsetSizeText()).value_or(kDefaultRowsetSize);
    command_->SetOption(kCommRowsetSize, rowset);
    if (transactionLevel_ > 0) command_->SetOption(kCommTransactionId, transactionLevel_);

    statementOpen_ = true;
    if (nativeCommand_.empty())
        nativeCommand_ = params_.Empty() ? commandText_ : ReplaceParamMarkers(commandText_, connection_->QuoteChar());
}

std::uint16_t TCustomSQLDataSet::ParamCount() {
    if (paramCount_ < 0) paramCount_ = params_.Count();
    return static_cast<std::uint16_t>(paramCount_);
}

void TCustomSQLDataSet::PrepareStatement() {
    if (commandText_.empty()) Error("No SQL statement available");
    if (StartsWithSelect(commandText_)) connection_->SetActiveStatements(connection_->ActiveStatements() + 1);
    AllocateStatement();
    const SQLResult option = command_->SetOption(kCommStoredProc, commandType_ == ctStoredProc ? 1 : 0);
    if (option != kSQLSuccess) SQLError(option, TErrorSource::eSourceCommand);
    const std::string text = PrepareText();
    const SQLResult code = command_->Prepare(text.c_str(), ParamCount());
    if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCommand);
}

void TCustomSQLDataSet::SetPrepared(bool prepared) {
    if (!prepared) {
        if (prepared_ && checkRowsAffected_ && command_) {
            std::uint32_t rows = 0;
            if (command_->GetRowsAffected(&rows) == kSQLSuccess) rowsAffected_ = static_cast<int>(rows);
        }
        ReleaseStatement();
        if (connection_ != nullptr) connection_->CloseIfIdle();
        return;
    }
    EnsureConnection();
    connection_->EnsureConnected();
    if (prepared_) return;
    rowsAffected_ = -1;
    checkRowsAffected_ = true;
    // The outcome is judged by CheckPrepareOutcome from the last error text, which must describe
    // this attempt: a message kept from an earlier statement would name the wrong failure.
    lastError_.clear();
    try {
        PrepareStatement();
        prepared_ = true;
    } catch (const std::exception&) {
        ReleaseStatement();
    }
}

void TCustomSQLDataSet::CheckPrepareOutcome() const {
    if (command_) return;
    if (!lastError_.empty()) throw EDatabaseError(lastError_);
    if (commandType_ != ctQuery && sortFieldNames_.empty()) throw EDatabaseError("Table/Procedure not found");
    throw EDatabaseError("Unable to execute Query");
}

void TCustomSQLDataSet::ReleaseStatement() {
    cursor_.reset();
    if (command_ && statementOpen_) command_->Close();
    statementOpen_ = false;
    command_.reset();
    driverConnection_ = nullptr;
    cloneConnection_.reset();
    prepared_ = false;
    paramCount_ = -1;
    fieldDefsValid_ = false;
    indexDefs_.clear();
    indexDefsLoaded_ = false;
    indexTable_.clear();
}

void TCustomSQLDataSet::BindParams(const TParams& params) {
    TParamDriverValue value;
    for (int i = 0; i < params.Count(); ++i) {
        const TParam& param = params[i];
        ParamDriverValue(param, value);
        const TParamType type = param.ParamType() == ptUnknown ? ptInput : param.ParamType();
        const SQLResult code = command_->SetParameter(
            static_cast<std::uint16_t>(i + 1), 0, static_cast<std::uint16_t>(type), value.LogType,
            value.SubType, value.Precision, value.Scale, value.Length,
            value.IsNull ? nullptr : value.Buffer.data(), value.IsNull ? 1 : 0);
        // The statement refused the value, so the statement holds the reason.
        if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCommand);
    }
}

void TCustomSQLDataSet::ExecutePrepared(std::unique_ptr<ISQLCursor>& cursor) {
    if (!params_.Empty()) BindParams(params_);
    ISQLCursor* made = nullptr;
    const SQLResult code = command_->Execute(&made);
    cursor.reset(made);
    if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCommand);
    statementOpen_ = true;
}

int TCustomSQLDataSet::RunSQL(bool direct) {
    CheckInactive();
    EnsureConnection();
    connection_->EnsureConnected();
    rowsAffected_ = 0;
    std::unique_ptr<ISQLCursor> cursor;
    struct Afterwards {
        TCustomSQLDataSet& self;
        std::unique_ptr<ISQLCursor>& cursor;
        bool direct;
        ~Afterwards() {
            if (cursor || direct) {
                cursor.reset();
                self.ReleaseStatement();
                return;
            }
            // No result: the statement stays prepared for the next run of the same text.
            if (self.command_) self.command_->Close();
            self.statementOpen_ = false;
        }
    } afterwards{*this, cursor, direct};

    if (direct) {
        AllocateStatement();
        ISQLCursor* made = nullptr;
        const SQLResult code = command_->ExecuteImmediate(commandText_.c_str(), &made);
        cursor.reset(made);
        if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCommand);
    } else {
        SetPrepared(true);
        CheckPrepareOutcome();
        ExecutePrepared(cursor);
    }
    std::uint32_t rows = 0;
    const SQLResult code = command_->GetRowsAffected(&rows);
    if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCommand);
    rowsAffected_ = static_cast<int>(rows);
    return rowsAffected_;
}

// ---------------------------------------------------------------------------------------------
// ExecuteStatement of the connection. Statements run on a command the connection keeps; a clone
// connection or a missing driver connection take the way of a dataset of its own.

int TSQLConnection::ExecuteStatementAlone(const std::string& sql, TParams* params) {
    TCustomSQLDataSet statement(nullptr);
    statement.SetSQLConnection(this);
    EnsureConnected();
    TBusyCursor busy;
    SetConnectionState(TConnectionState::csStateExecuting);
    struct RestoreState {
        TSQLConnection& connection;
        ~RestoreState() { connection.SetConnectionState(TConnectionState::csStateOpen); }
    } restore{*this};

    const bool withParams = params != nullptr && !params->Empty();
    const std::string text = withParams ? ReplaceParamMarkers(sql, QuoteChar()) : sql;
    const auto count = static_cast<std::uint16_t>(withParams ? params->Count() : 0);
    statement.SetCommandTextRaw(text);
    statement.AllocateStatement();
    ISQLCommand* command = statement.command_.get();
    SQLResult code = command->Prepare(statement.nativeCommand_.c_str(), count);
    if (code != kSQLSuccess) RaiseDriverError(code, TErrorSource::eSourceCommand, command);
    if (count > 0) statement.BindParams(*params);

    ISQLCursor* made = nullptr;
    code = command->Execute(&made);
    std::unique_ptr<ISQLCursor> cursor(made);
    if (code != kSQLSuccess) RaiseDriverError(code, TErrorSource::eSourceCommand, command);
    std::uint32_t rows = 0;
    code = command->GetRowsAffected(&rows);
    if (code != kSQLSuccess) RaiseDriverError(code, TErrorSource::eSourceCommand, command);
    return static_cast<int>(rows);
}

int TSQLConnection::ExecuteStatement(const std::string& sql, TParams* params) {
    EnsureConnected();
    // What a dataset's statement would do first: a clone connection when this one is taken.
    const bool needClone = MaxStmtsPerConn() > 0 && ActiveStatements() >= MaxStmtsPerConn() &&
                           !TransactionActive() && AutoClone();
    ISQLConnection* const driverConnection = DriverConnection();
    if (needClone || driverConnection == nullptr || sql.empty()) return ExecuteStatementAlone(sql, params);
    SetActiveStatements(0);

    TBusyCursor busy;
    SetConnectionState(TConnectionState::csStateExecuting);
    struct Afterwards {
        TSQLConnection& connection;
        ~Afterwards() {
            connection.SetConnectionState(TConnectionState::csStateOpen);
            // The statement goes back to the driver as a freed command's would; a command that
            // failed is not used again.
            if (std::uncaught_exceptions() > exceptions) connection.DropRunner();
            else if (connection.runner_.Command)
                (void)connection.runner_.Command->SetOption(kCommReleaseStatement, 1);
        }
        int exceptions = std::uncaught_exceptions();
    } afterwards{*this};

    TStatementRunner& run = runner_;
    if (!run.Command || run.Owner != driverConnection) {
        DropRunner();
        ISQLCommand* made = nullptr;
        const SQLResult code = driverConnection->GetSQLCommand(&made);
        std::unique_ptr<ISQLCommand> command(made);
        if (code != kSQLSuccess || !command) return ExecuteStatementAlone(sql, params);
        run.Command = std::move(command);
        run.Owner = driverConnection;
    }
    if (!run.Value) run.Value = std::make_unique<TParamDriverValue>();
    ISQLCommand* const command = run.Command.get();

    const std::string& rowsetText = RowsetSizeText();
    if (!run.RowsetKnown || rowsetText != run.RowsetText) {
        run.Rowset = IntegerOf(rowsetText).value_or(kDefaultRowsetSize);
        run.RowsetText = rowsetText;
        run.RowsetKnown = true;
    }
    command->SetOption(kCommRowsetSize, run.Rowset);

    const bool withParams = params != nullptr && !params->Empty();
    if (withParams && (sql != run.Sql || QuoteChar() != run.Quote)) {
        run.Text = ReplaceParamMarkers(sql, QuoteChar());
        run.Sql = sql;
        run.Quote = QuoteChar();
    }
    const std::string& text = withParams ? run.Text : sql;
    const auto count = static_cast<std::uint16_t>(withParams ? params->Count() : 0);
    SQLResult code = command->Prepare(text.c_str(), count);
    if (code != kSQLSuccess) RaiseDriverError(code, TErrorSource::eSourceCommand, command);

    TParamDriverValue& value = *run.Value;
    for (int i = 0; i < count; ++i) {
        const TParam& param = (*params)[i];
        ParamDriverValue(param, value);
        const TParamType type = param.ParamType() == ptUnknown ? ptInput : param.ParamType();
        code = command->SetParameter(static_cast<std::uint16_t>(i + 1), 0, static_cast<std::uint16_t>(type),
                                     value.LogType, value.SubType, value.Precision, value.Scale, value.Length,
                                     value.IsNull ? nullptr : value.Buffer.data(), value.IsNull ? 1 : 0);
        // Refused values are reported as a dataset reports them: with no earlier text behind.
        if (code != kSQLSuccess)
            throw EDatabaseError(AssembleDriverError(code, StaticDriverErrorText(code),
                                                     ServerDriverErrorText(command), std::string()));
    }

    ISQLCursor* made = nullptr;
    code = command->Execute(&made);
    std::unique_ptr<ISQLCursor> cursor(made);
    if (code != kSQLSuccess) RaiseDriverError(code, TErrorSource::eSourceCommand, command);
    cursor.reset();
    std::uint32_t rows = 0;
    code = command->GetRowsAffected(&rows);
    if (code != kSQLSuccess) RaiseDriverError(code, TErrorSource::eSourceCommand, command);
    return static_cast<int>(rows);
}

// Savepoints run as statements of their own, like any other statement.
void TSQLConnection::Savepoint(std::string_view name) {
    if (transactionCount_ <= 0) DatabaseError("There is no active transaction", this);
    ExecuteStatement("SAVEPOINT " + std::string(name), nullptr);
}

void TSQLConnection::RollbackToSavepoint(std::string_view name) {
    if (transactionCount_ <= 0) DatabaseError("There is no active transaction", this);
    ExecuteStatement("ROLLBACK TO SAVEPOINT " + std::string(name), nullptr);
}

void TSQLConnection::ReleaseSavepoint(std::string_view name) {
    if (transactionCount_ <= 0) DatabaseError("There is no active transaction", this);
    ExecuteStatement("RELEASE SAVEPOINT " + std::string(name), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Result sets

void TCustomSQLDataSet::InternalOpen() {
    if (commandText_.empty()) throw EDatabaseError("Missing query, table name or procedure name");
    EnsureConnection();
    connection_->EnsureConnected();
    SetPrepared(true);
    CheckPrepareOutcome();
    ExecutePrepared(cursor_);
    if (!cursor_) {
        command_->Close();
        statementOpen_ = false;
        Error("Cursor not returned from Query");
    }
    rowsFetched_ = 0;
    endOfData_ = false;
    replayFirst_ = false;
    if (!fieldDefsValid_) {
        // Definitions made from this very prepared statement (a new text of the same shape, a
        // key in it changed) are still its columns' own.
        const std::uint64_t serial = StatementSerial();
        if (serial != 0 && serial == fieldDefsSerial_ && FieldDefs().Count() > 0) fieldDefsValid_ = true;
        else BuildFieldDefs();
    }
    CreateFields();
    MarkKeyFields();
    if (maxBlobSize_ > 0) blobBuffer_.reserve(static_cast<std::size_t>(maxBlobSize_) * 1024);
}

void TCustomSQLDataSet::InternalClose() {
    cursor_.reset();
    if (command_ && statementOpen_) command_->Close();
    statementOpen_ = false;
    blobBuffer_.clear();
    blobBuffer_.shrink_to_fit();
    rowsFetched_ = 0;
    endOfData_ = false;
    replayFirst_ = false;
    const bool lastUser = connection_ != nullptr && !connection_->KeepConnection() &&
                          connection_->Clients().size() == 1;
    if (connection_ == nullptr || lastUser) SetPrepared(false);
}

void TCustomSQLDataSet::InternalFirst() {
    if (rowsFetched_ <= 1) {
        replayFirst_ = rowsFetched_ == 1;
        return;
    }
    // A forward-only cursor cannot go back: run the statement again from its first row.
    cursor_.reset();
    command_->Close();
    statementOpen_ = false;
    ExecutePrepared(cursor_);
    if (!cursor_) Error("Cursor not returned from Query");
    rowsFetched_ = 0;
    endOfData_ = false;
    replayFirst_ = false;
}

bool TCustomSQLDataSet::InternalNext() {
    if (replayFirst_) {
        replayFirst_ = false;
        return true;
    }
    if (endOfData_ || !cursor_) return false;
    const SQLResult code = cursor_->Next();
    if (code == kSQLSuccess) {
        ++rowsFetched_;
        return true;
    }
    if (code == kSQLEof || code == kSQLEndOfData) {
        endOfData_ = true;
        return false;
    }
    SQLError(code, TErrorSource::eSourceCursor);
}

void TCustomSQLDataSet::BuildFieldDefs() {
    if (!cursor_) Error("Cannot perform this operation on a closed dataset");
    std::uint16_t count = 0;
    SQLResult code = cursor_->GetColumnCount(&count);
    if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCursor);
    FieldDefs().Clear();
    int fieldNo = 1;
    for (std::uint16_t column = 1; column <= count; ++column) {
        int nullable = 0, readOnly = 0;
        char name[32] = {};
        std::uint16_t logType = 0, subType = 0, precision = 0;
        std::int16_t scale = 0;
        std::uint32_t length = 0;
        if ((code = cursor_->IsNullable(column, &nullable)) != kSQLSuccess ||
            (code = cursor_->GetColumnName(column, name, sizeof name)) != kSQLSuccess ||
            (code = cursor_->GetColumnType(column, &logType, &subType)) != kSQLSuccess ||
            (code = cursor_->GetColumnLength(column, &length)) != kSQLSuccess ||
            (code = cursor_->GetColumnPrecision(column, &precision)) != kSQLSuccess ||
            (code = cursor_->GetColumnScale(column, &scale)) != kSQLSuccess ||
            (code = cursor_->IsReadOnly(column, &readOnly)) != kSQLSuccess)
            SQLError(code, TErrorSource::eSourceCursor);
        name[sizeof name - 1] = '\0';
        AddFieldDef(name, logType, subType, precision, scale, length, nullable != 0, readOnly != 0, fieldNo);
    }
    fieldDefsValid_ = true;
    fieldDefsSerial_ = StatementSerial();
}

std::uint64_t TCustomSQLDataSet::StatementSerial() const {
    std::uint64_t serial = 0;
    std::int32_t length = 0;
    if (!command_ || command_->GetOption(kCommStatementSerial, &serial, sizeof serial, &length) != kSQLSuccess ||
        length != sizeof serial)
        return 0;
    return serial;
}

namespace {

TFieldType FieldTypeOfLogical(std::uint16_t logType) {
    static const TFieldType map[] = {
        ftUnknown, ftString,   ftDate,     ftBlob,    ftBoolean,   ftSmallint, ftInteger,
        ftFloat,   ftBCD,      ftBytes,    ftTime,    ftDateTime,  ftWord,     ftInteger,
        ftUnknown, ftVarBytes, ftUnknown,  ftCursor,  ftLargeint,  ftLargeint, ftADT,
        ftArray,   ftReference, ftDataSet, ftTimeStamp, ftFMTBcd,
    };
    return logType < std::size(map) ? map[logType] : ftUnknown;
}

TFieldType FieldTypeOfBlobSubtype(std::uint16_t subType) {
    switch (subType) {
        case 22: return ftMemo;
        case 24: return ftFmtMemo;
        case 25: return ftParadoxOle;
        case 26: return ftGraphic;
        case 27: return ftDBaseOle;
        case 28: return ftTypedBinary;
        case 33: return ftOraClob;
        case 34: return ftOraBlob;
        default: return ftBlob;
    }
}

}  // namespace

void ColumnToFieldDef(std::uint16_t logType, std::uint16_t subType, std::uint16_t precisionIn,
                      std::int16_t scaleIn, std::uint32_t length, bool nullable, bool readOnly,
                      TFieldDef& def) {
    def.DataType = FieldTypeOfLogical(logType);
    int precision = precisionIn;
    int scale = scaleIn;
    bool required = !nullable;

    if (logType == kLogBcd || logType == kLogFmtBcd) {
        scale = scale < 0 ? -scale : scale;
        if (precision < scale) precision = scale;
        if (precision > 14 || scale > 4) {
            def.DataType = ftFMTBcd;
            logType = kLogFmtBcd;
            if (precision == 38 && (scale == 0 || scale == 38)) {
                precision = 32;
                scale = 8;
            } else if (precision > 32) {
                precision = 32;
            }
        }
    }

    switch (logType) {
        case kLogString: case kLogBytes: case kLogVarBytes: case kLogRef:
            def.Size = precision;
            if (precision == 0) {
                def.DataType = ftUnknown;
                def.Size = 0;
            }
            break;
        case kLogInt16: case kLogUInt16:
            def.Size = 0;
            if (length != 2) def.DataType = ftUnknown;
            break;
        case kLogInt32:
            def.Size = 0;
            if (subType == kSubAutoInc) {
                def.DataType = ftAutoInc;
                required = false;
            }
            break;
        case kLogFloat:
            def.Size = 0;
            if (subType == kSubMoney) def.DataType = ftCurrency;
            break;
        case kLogBcd: case kLogFmtBcd:
            def.Size = scale;
            def.Precision = precision;
            break;
        case kLogBlob:
            def.Size = precision;
            if (subType >= 22 && subType <= 36) def.DataType = FieldTypeOfBlobSubtype(subType);
            break;
        case kLogAdt: case kLogArray:
            def.Size = scale;
            def.Precision = precision;
            break;
        default:
            def.Size = 0;
            def.Precision = 0;
            break;
    }
    TFieldAttributes attributes;
    if (required) attributes.Include(faRequired);
    if (readOnly) attributes.Include(faReadonly);
    if (subType == kSubFixed) attributes.Include(faFixed);
    def.Attributes = attributes;
}


void TCustomSQLDataSet::AddFieldDef(const std::string& columnName, std::uint16_t logType,
                                    std::uint16_t subType, std::uint16_t precision,
                                    std::int16_t scale, std::uint32_t length, bool nullable,
                                    bool readOnly, int& fieldNo) {
    // A repeated column name becomes NAME_1, NAME_2, ...
    std::string name = FieldDefs().UniqueName(columnName);
    TFieldDef& def = FieldDefs().AddFieldDef();
    def.Name = std::move(name);
    ColumnToFieldDef(logType, subType, precision, scale, length, nullable, readOnly, def);
    def.FieldNo = fieldNo++;
}

void TCustomSQLDataSet::MarkKeyFields() {
    const std::vector<std::string> keys = SplitNames(PSGetKeyFields());
    for (int i = 0; i < FieldTotal(); ++i) {
        TField& field = FieldAt(i);
        for (const std::string& key : keys) {
            if (!SameTextAscii(field.FieldName(), key)) continue;
            TProviderFlags flags = field.ProviderFlags();
            flags.Include(pfInKey);
            field.SetProviderFlags(flags);
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Field values

bool TCustomSQLDataSet::ReadBcd(const TField& field, std::uint16_t column, void* buffer) const {
    TBcd bcd;
    int isNull = 0;
    const SQLResult code = cursor_->GetBcd(column, &bcd, &isNull);
    if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCursor);
    if (isNull != 0) return false;
    int precision = 32;
    const auto* f = field.DataType() == ftFMTBcd ? dynamic_cast<const TFMTBCDField*>(&field) : nullptr;
    const auto* b = field.DataType() == ftBCD ? dynamic_cast<const TBCDField*>(&field) : nullptr;
    if (f) precision = f->Precision();
    else if (b) precision = b->Precision();
    if (precision <= 0 || precision > 32) precision = 32;
    int places = field.Size();
    if (places > precision) places = precision;
    const auto normalized = BcdNormalize(bcd, precision, places < 0 ? 0 : places);
    if (!normalized) throw EBcdException("BCD overflow");
    if (buffer != nullptr) std::memcpy(buffer, &*normalized, sizeof(TBcd));
    return true;
}

bool TCustomSQLDataSet::GetFieldData(const TField& field, void* buffer) const {
    CheckActive();
    if (field.FieldNo() <= 0 || !cursor_) return false;
    const auto column = static_cast<std::uint16_t>(field.FieldNo());
    std::uint16_t logType = 0, subType = 0;
    SQLResult code = cursor_->GetColumnType(column, &logType, &subType);
    if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCursor);

    if (logType == kLogBlob) {
        // A null test of a blob asks only the size and the null indicator.
        std::uint32_t length = 0;
        int isNull = 0;
        code = cursor_->GetBlobSize(column, &length, &isNull);
        if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCursor);
        return isNull == 0;
    }
    if (logType == kLogBcd || logType == kLogFmtBcd) return ReadBcd(field, column, buffer);

    const std::size_t size = static_cast<std::size_t>(std::max(field.DataSize(), field.Size()));
    void* target = buffer;
    if (target == nullptr) {
        scratch_.assign(std::max<std::size_t>(size, 34), 0);
        target = scratch_.data();
    }
    int isNull = 0;
    switch (logType) {
        case kLogString:
            code = cursor_->GetString(column, static_cast<char*>(target),
                                      static_cast<std::uint32_t>(field.DataSize()), &isNull);
            break;
        case kLogDate:
            code = cursor_->GetDate(column, static_cast<std::int32_t*>(target), &isNull);
            break;
        case kLogBoolean: case kLogInt16: case kLogUInt16:
            code = cursor_->GetShort(column, static_cast<std::int16_t*>(target), &isNull);
            break;
        case kLogInt32: case kLogUInt32:
            code = cursor_->GetLong(column, static_cast<std::int32_t*>(target), &isNull);
            break;
        case kLogFloat:
            code = cursor_->GetDouble(column, static_cast<double*>(target), &isNull);
            break;
        case kLogBytes: {
            std::uint32_t got = 0;
            code = cursor_->GetBytes(column, target, static_cast<std::uint32_t>(field.DataSize()), &got, &isNull);
            break;
        }
        case kLogVarBytes: {
            // The varying-bytes form is a 16-bit length followed by the bytes.
            std::uint32_t got = 0;
            const int room = field.DataSize() - 2;
            auto* bytes = static_cast<std::uint8_t*>(target);
            code = cursor_->GetBytes(column, bytes + 2, static_cast<std::uint32_t>(room < 0 ? 0 : room), &got, &isNull);
            const auto prefix = static_cast<std::uint16_t>(got);
            std::memcpy(bytes, &prefix, 2);
            break;
        }
        case kLogTime:
            code = cursor_->GetTime(column, static_cast<std::int32_t*>(target), &isNull);
            break;
        case kLogTimeStamp:
            code = cursor_->GetTimeStamp(column, target, &isNull);
            break;
        default:
            return false;  // types the dataset does not read stay null
    }
    if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCursor);
    return isNull == 0;
}

std::uint32_t TCustomSQLDataSet::BlobLength(const TField& field) const {
    if (maxBlobSize_ == 0 || field.FieldNo() <= 0 || !cursor_) return 0;
    std::uint32_t length = 0;
    int isNull = 0;
    const SQLResult code = cursor_->GetBlobSize(static_cast<std::uint16_t>(field.FieldNo()), &length, &isNull);
    if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCursor);
    return isNull != 0 ? 0 : length;
}

bool TCustomSQLDataSet::GetBlobData(const TField& field, std::string& out) const {
    CheckActive();
    out.clear();
    if (maxBlobSize_ == 0 || field.FieldNo() <= 0 || !cursor_) return false;
    const auto column = static_cast<std::uint16_t>(field.FieldNo());
    std::uint32_t length = 0;
    int isNull = 0;
    SQLResult code = cursor_->GetBlobSize(column, &length, &isNull);
    if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCursor);
    if (isNull != 0) return false;
    blobBuffer_.resize(length);
    if (length > 0) {
        code = cursor_->GetBlob(column, blobBuffer_.data(), &isNull, length);
        if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceCursor);
    }
    out.assign(reinterpret_cast<const char*>(blobBuffer_.data()), blobBuffer_.size());
    return isNull == 0;
}

// ---------------------------------------------------------------------------------------------
// Index metadata and key fields

bool TCustomSQLDataSet::IsDatasetField(const std::string& name) const {
    if (FieldTotal() > 0) return FindFieldNamed(name) != nullptr;
    return FieldDefs().IndexOf(name) >= 0;
}

const std::vector<TIndexDef>& TCustomSQLDataSet::IndexDefs() {
    if (!indexDefsLoaded_) LoadIndexDefs();
    return indexDefs_;
}

void TCustomSQLDataSet::LoadIndexDefs() {
    indexDefs_.clear();
    indexTable_.clear();
    std::string tableName;
    std::string writtenName;  // a quoted name stays quoted: the server keeps its letter case
    // A text that runs as the very statement the kept indexes were read for names their table.
    const std::uint64_t serial = StatementSerial();
    const bool sameStatement = serial != 0 && serial == indexMemo_.Serial;
    if (noMetadata_ || !getMetadata_ ||
        (!sameStatement && !ReadSingleTable(commandText_, tableName, &writtenName))) {
        indexDefsLoaded_ = true;
        return;
    }
    if (sameStatement) {
        tableName = indexMemo_.Table;
        writtenName = indexMemo_.WrittenTable;
    }
    EnsureConnection();
    connection_->EnsureConnected();
    ISQLConnection* driverConnection = connection_->DriverConnection();
    ISQLMetaData* metaData = connection_->MetaData();
    if (driverConnection == nullptr || metaData == nullptr)
        connection_->RaiseDriverError(65535, TErrorSource::eSourceMetaData);

    std::int32_t catalogVersion = -1;
    std::int32_t versionLength = 0;
    if (driverConnection->GetOption(kConnCatalogVersion, &catalogVersion, sizeof catalogVersion, &versionLength) !=
        kSQLSuccess)
        catalogVersion = -1;
    std::string fieldNames = DatasetFieldNames();
    if (catalogVersion >= 0 && indexMemo_.Connection == driverConnection &&
        indexMemo_.CatalogVersion == catalogVersion && indexMemo_.WrittenTable == writtenName &&
        indexMemo_.Schema == schemaName_ && indexMemo_.FieldNames == fieldNames) {
        indexDefs_ = indexMemo_.Defs;
        indexTable_ = indexMemo_.CatalogTable;
        indexDefsLoaded_ = true;
        return;
    }
    const std::string memoTable = tableName;
    SQLResult code =
        driverConnection->SetOption(kConnQualifiedName, reinterpret_cast<std::intptr_t>(writtenName.c_str()));
    if (code != kSQLSuccess) SQLError(code, TErrorSource::eSourceNone);
    auto readOption = [&](std::uint16_t option) {
        char buffer[256] = {};
        std::int32_t length = 0;
        const SQLResult result = driverConnection->GetOption(option, buffer, sizeof buffer - 1, &length);
        if (result != kSQLSuccess) SQLError(result, TErrorSource::eSourceNone);
        buffer[sizeof buffer - 1] = '\0';
        return std::string(buffer);
    };
    std::string catalog = readOption(kConnCatalogName);
    std::string schema = readOption(kConnSchemaName);
    const std::string objectName = readOption(kConnObjectName);
    if (!objectName.empty()) tableName = objectName;
    if (catalog.empty()) catalog = connection_->ParamValue("Database");
    if (schema.empty()) schema = !schemaName_.empty() ? schemaName_ : connection_->ParamValue("USER_NAME");
    if (!catalog.empty()) metaData->SetOption(kMetaCatalogName, reinterpret_cast<std::intptr_t>(catalog.c_str()));
    if (!schema.empty()) metaData->SetOption(kMetaSchemaName, reinterpret_cast<std::intptr_t>(schema.c_str()));

    ISQLCursor* made = nullptr;
    code = metaData->GetIndices(tableName.c_str(), 0, &made);
    std::unique_ptr<ISQLCursor> list(made);
    if (code != kSQLSuccess) connection_->RaiseDriverError(code, TErrorSource::eSourceMetaData);
    if (!list) connection_->RaiseDriverError(65535, TErrorSource::eSourceMetaData);

    auto listError = [&](SQLResult result) {
        std::string message = AssembleDriverError(result, StaticDriverErrorText(result),
                                                  ServerDriverErrorText(list.get()), lastError_);
        lastError_ = message;
        throw EDatabaseError(message);
    };
    std::uint16_t columns = 0;
    if ((code = list->GetColumnCount(&columns)) != kSQLSuccess) listError(code);
    std::uint16_t colIndexName = 0, colColumnName = 0, colIndexType = 0, colSortOrder = 0;
    for (std::uint16_t c = 1; c <= columns; ++c) {
        char name[64] = {};
        if (list->GetColumnName(c, name, sizeof name) != kSQLSuccess) continue;
        if (SameTextAscii(name, "INDEX_NAME")) colIndexName = c;
        else if (SameTextAscii(name, "COLUMN_NAME")) colColumnName = c;
        else if (SameTextAscii(name, "INDEX_TYPE")) colIndexType = c;
        else if (SameTextAscii(name, "SORT_ORDER")) colSortOrder = c;
    }
    auto readText = [&](std::uint16_t column) {
        if (column == 0) return std::string();
        char buffer[256] = {};
        int isNull = 0;
        const SQLResult result = list->GetString(column, buffer, sizeof buffer, &isNull);
        if (result != kSQLSuccess) listError(result);
        return isNull != 0 ? std::string() : std::string(buffer);
    };

    // An index whose first column is no field of the result is left out as a whole: its later
    // columns must not start a shorter index that would pass for a key.
    std::vector<std::string> skipped;
    while (true) {
        code = list->Next();
        if (code == kSQLEof || code == kSQLEndOfData) break;
        if (code != kSQLSuccess) listError(code);
        const std::string indexName = Trimmed(readText(colIndexName));
        const std::string columnName = Trimmed(readText(colColumnName));
        std::int16_t indexType = 0;
        int isNull = 0;
        if (colIndexType != 0 && (code = list->GetShort(colIndexType, &indexType, &isNull)) != kSQLSuccess)
            listError(code);
        const std::string sortOrder = Trimmed(readText(colSortOrder));

        auto defined = std::find_if(indexDefs_.begin(), indexDefs_.end(),
                                    [&](const TIndexDef& d) { return d.Name == indexName; });
        if (defined != indexDefs_.end()) {
            defined->Fields += ";" + columnName;
            continue;
        }
        if (std::find(skipped.begin(), skipped.end(), indexName) != skipped.end()) continue;
        bool allFields = true;
        for (const std::string& part : SplitNames(columnName))
            if (!IsDatasetField(part)) allFields = false;
        if (!allFields) {
            skipped.push_back(indexName);
            continue;
        }
        TIndexDef def;
        def.Name = indexName;
        def.Fields = columnName;
        if (indexType & kIndexPrimary) def.Options.Include(ixPrimary);
        if (indexType & kIndexUnique) def.Options.Include(ixUnique);
        if (sortOrder == "D") def.Options.Include(ixDescending);
        indexDefs_.push_back(def);
    }
    indexDefsLoaded_ = true;
    indexTable_ = tableName;
    if (catalogVersion >= 0)
        indexMemo_ = {driverConnection, catalogVersion, serial,      memoTable,   schemaName_,
                      std::move(fieldNames), indexDefs_, writtenName, tableName};
}

// The names the indexes are checked against (IsDatasetField), one string.
std::string TCustomSQLDataSet::DatasetFieldNames() const {
    std::string names;
    if (FieldTotal() > 0) {
        for (int i = 0; i < FieldTotal(); ++i) (names += FieldAt(i).FieldName()) += ';';
    } else {
        for (int i = 0; i < FieldDefs().Count(); ++i) (names += FieldDefs()[i].Name) += ';';
    }
    return names;
}

std::string TCustomSQLDataSet::PSGetKeyFields() {
    if (commandType_ == ctStoredProc) return {};
    std::string keys;
    for (int i = 0; i < FieldTotal(); ++i) {
        const TField& field = FieldAt(i);
        if (!field.ProviderFlags().Contains(pfInKey)) continue;
        if (!keys.empty()) keys += ';';
        keys += field.FieldName();
    }
    if (!keys.empty()) return keys;
    for (const TIndexDef& index : IndexDefs()) {
        if (!index.Options.Contains(ixUnique)) continue;
        bool usable = true;
        if (FieldTotal() > 0)
            for (const std::string& name : SplitNames(index.Fields))
                if (FindFieldNamed(name) == nullptr) usable = false;
        if (usable) return index.Fields;
    }
    return {};
}

std::optional<TIndexDef> TCustomSQLDataSet::PSGetDefaultOrder() {
    std::vector<std::string> fieldNames, defNames;
    fieldNames.reserve(static_cast<std::size_t>(FieldTotal()));
    defNames.reserve(static_cast<std::size_t>(FieldDefs().Count()));
    for (int i = 0; i < FieldTotal(); ++i) fieldNames.push_back(FieldAt(i).FieldName());
    // Most texts have no ORDER BY at all; only one holding the word is scanned for it.
    const bool ordered = MayHoldOrderBy(commandText_);
    if (ordered)
        for (int i = 0; i < FieldDefs().Count(); ++i) defNames.push_back(FieldDefs()[i].Name);
    if (const auto order = ordered ? OrderByIndex(commandText_, fieldNames, defNames) : std::nullopt) {
        TIndexDef def;
        def.Fields = order->Fields;
        if (!order->DescFields.empty()) def.Options.Include(ixDescending);
        return def;
    }
    // Without ORDER BY: the first primary index whose fields all occur among the result fields.
    std::string resultList;
    for (const std::string& name : fieldNames) resultList += (resultList.empty() ? "" : ",") + name;
    for (const TIndexDef& index : IndexDefs()) {
        if (!index.Options.Contains(ixPrimary)) continue;
        bool usable = true;
        std::size_t start = 0;
        const std::string& list = index.Fields;
        while (start < list.size()) {
            std::size_t end = list.find_first_of(", ", start);
            if (end == std::string::npos) end = list.size();
            const std::string piece = list.substr(start, end - start);
            if (!piece.empty() && resultList.find(piece) == std::string::npos) usable = false;
            start = end + 1;
        }
        if (usable) return index;
    }
    return std::nullopt;
}

std::vector<TIndexDef> TCustomSQLDataSet::PSGetIndexDefs(TIndexOptions kinds) {
    std::vector<TIndexDef> out;
    for (const TIndexDef& index : IndexDefs()) {
        if ((index.Options.Bits() & kinds.Bits()) == 0) continue;
        bool usable = true;
        for (const std::string& name : SplitNames(index.Fields))
            if (!IsDatasetField(name)) usable = false;
        if (usable) out.push_back(index);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Provider support

void TCustomSQLDataSet::PSSetParams(const TParams& params) {
    if (!params.Empty()) {
        params_.Assign(params);
        if (prepared_ && nativeCommand_.find('?') == std::string::npos) SetPrepared(false);
    }
    Close();
}

bool TCustomSQLDataSet::PSInTransaction() const {
    return connection_ != nullptr && connection_->TransactionActive();
}

void TCustomSQLDataSet::PSStartTransaction() {
    EnsureConnection();
    connection_->BeginTransaction(connection_->DefaultTransactionDesc());
}

void TCustomSQLDataSet::PSEndTransaction(bool commit) {
    EnsureConnection();
    const TTransactionDesc desc = connection_->DefaultTransactionDesc();
    if (commit) connection_->CommitTransaction(desc);
    else connection_->RollbackTransaction(desc);
}

int TCustomSQLDataSet::PSExecuteStatement(const std::string& sql, TParams* params) {
    EnsureConnection();
    return connection_->ExecuteStatement(sql, params);
}

std::string TCustomSQLDataSet::PSGetQuoteChar() const {
    return connection_ != nullptr ? connection_->QuoteChar() : std::string();
}

std::string TCustomSQLDataSet::PSGetTableName() const {
    if (commandType_ == ctTable) return commandText_;
    // The text runs as the statement whose table the kept indexes were read for: that table.
    const std::uint64_t serial = StatementSerial();
    if (serial != 0 && serial == indexMemo_.Serial) return indexMemo_.Table;
    return FindTableName(commandText_);
}

std::uint32_t TCustomSQLDataSet::PSGetLocaleCode() const {
    return connection_ != nullptr ? connection_->LocaleCode() : 0;
}

void TCustomSQLDataSet::PSReset() {
    if (Active() && !AtStart()) MoveFirst();
}

void TCustomSQLDataSet::CloseForDisconnect() {
    Close();
    ReleaseStatement();
}

void TCustomSQLDataSet::ConnectionDestroyed() {
    try {
        Close();
    } catch (...) {
        // The connection is gone; nothing is left to report to.
    }
    ReleaseStatement();
    connection_ = nullptr;
}

}  // namespace tarnwick::sql
