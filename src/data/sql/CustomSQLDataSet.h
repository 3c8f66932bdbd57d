#pragma once
// TCustomSQLDataSet: a forward-only dataset over one SQL statement of a TSQLConnection. It owns
// the driver statement and cursor (and a clone connection when one was needed) and releases them
// with the statement; field values are read straight from the driver's current row, nothing is
// buffered. The connection is used, not owned; the dataset registers with it while it is set.
// TSQLQuery (SQL lines) and TSQLDataSet (CommandText) are the two concrete kinds.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/clientdataset/DataSet.h"
#include "data/sql/Params.h"
#include "data/sql/SQLConnection.h"
#include "sqlfb/SQLDriver.h"

namespace tarnwick::sql {

enum TSQLCommandType { ctQuery, ctTable, ctStoredProc };

enum TIndexOption { ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression, ixNonMaintained };
using TIndexOptions = TSet<TIndexOption>;

// One index of the statement's table, as the driver's index list describes it.
struct TIndexDef {
    std::string Name;
    std::string Fields;  // ";"-separated
    TIndexOptions Options;
};

// The data type, size, precision and attributes of the field definition for one result column as
// the driver describes it (logical type, subtype, precision, scale, length, nullable, read-only).
void ColumnToFieldDef(std::uint16_t logType, std::uint16_t subType, std::uint16_t precision,
                      std::int16_t scale, std::uint32_t length, bool nullable, bool readOnly,
                      TFieldDef& def);

class TCustomSQLDataSet : public TDataSet, public ISQLConnectionClient {
public:
    explicit TCustomSQLDataSet(TComponent* owner = nullptr);
    ~TCustomSQLDataSet() override;

    TSQLConnection* SQLConnection() const { return connection_; }
    // Registers with the connection; a MaxBlobSize of 0 takes the connection's "BlobSize".
    void SetSQLConnection(TSQLConnection* connection);

    const std::string& CommandText() const { return commandText_; }
    TSQLCommandType CommandType() const { return commandType_; }
    void SetCommandType(TSQLCommandType type);
    // The text handed to the driver's prepare (markers replaced); empty until computed.
    const std::string& NativeCommand() const { return nativeCommand_; }

    TParams& Params() { return params_; }
    const TParams& Params() const { return params_; }
    bool ParamCheck() const { return paramCheck_; }
    void SetParamCheck(bool on) { paramCheck_ = on; }
    int MaxBlobSize() const { return maxBlobSize_; }
    void SetMaxBlobSize(int kib) { maxBlobSize_ = kib; }
    bool NoMetadata() const { return noMetadata_; }
    void SetNoMetadata(bool on) { noMetadata_ = on; }
    bool GetMetadata() const { return getMetadata_; }
    void SetGetMetadata(bool on) { getMetadata_ = on; }
    const std::string& SortFieldNames() const { return sortFieldNames_; }
    void SetSortFieldNames(std::string names) { sortFieldNames_ = std::move(names); }
    const std::string& SchemaName() const { return schemaName_; }
    void SetSchemaName(std::string name) { schemaName_ = std::move(name); }
    std::int16_t TransactionLevel() const { return transactionLevel_; }
    void SetTransactionLevel(std::int16_t level) { transactionLevel_ = level; }

    // Runs the statement without keeping a result; answers the rows affected.
    int RunSQL(bool direct = false);
    // Rows affected by the last statement run (-1 when not known).
    int RowsAffected() const { return rowsAffected_; }

    bool Prepared() const { return prepared_; }
    void SetPrepared(bool prepared);
    // The message of the latest driver result code this dataset translated.
    const std::string& LastError() const { return lastError_; }

    // Index metadata of a single-table statement (loaded on the first request).
    const std::vector<TIndexDef>& IndexDefs();
    bool IndexDefsLoaded() const { return indexDefsLoaded_; }
    // The table, as the catalog names it, that the loaded index definitions were read for; empty
    // while none are loaded or the text names no single table.
    const std::string& IndexDefsTable() const { return indexTable_; }

    // Provider support.
    // A non-empty text becomes the command text (the kinds that take one override this).
    virtual void PSSetCommandText(const std::string& text) { (void)text; }
    void PSSetParams(const TParams& params);
    TParams& PSGetParams() { return params_; }
    int PSExecute() { return RunSQL(false); }
    bool PSInTransaction() const;
    void PSStartTransaction();
    void PSEndTransaction(bool commit);
    int PSExecuteStatement(const std::string& sql, TParams* params);
    bool PSIsSQLBased() const { return true; }
    std::string PSGetQuoteChar() const;
    std::string PSGetTableName() const;
    // Key fields, ";"-separated (see KeyFieldsOf below).
    std::string PSGetKeyFields();
    // ORDER BY fields of the text, else the first usable primary index; nothing otherwise.
    std::optional<TIndexDef> PSGetDefaultOrder();
    // The index definitions with one of `kinds` whose fields are all fields of the dataset.
    std::vector<TIndexDef> PSGetIndexDefs(TIndexOptions kinds);
    // The locale code of the connection ("LCID").
    std::uint32_t PSGetLocaleCode() const;
    void PSReset();
    bool PSUpdateRecord() { return false; }

    // ISQLConnectionClient
    bool ClientActive() const override { return State() != dsInactive; }
    void CloseForDisconnect() override;
    // The connection is going away: forget it (the statement went with its disconnect).
    void ConnectionDestroyed() override;

    // Field values straight from the driver's current row.
    bool GetFieldData(const TField& field, void* buffer) const override;
    bool GetBlobData(const TField& field, std::string& out) const override;
    // Blob length of the current row (0 with MaxBlobSize 0 or a null blob).
    std::uint32_t BlobLength(const TField& field) const;

    // Translates a driver result code of this dataset's statement or cursor into EDatabaseError,
    // keeping the message as the last error text.
    [[noreturn]] void SQLError(sqlfb::SQLResult code, TErrorSource source) const;

protected:
    // Text change of the dataset kind: TSQLQuery and TSQLDataSet apply their own rules.
    void SetCommandTextRaw(std::string text) { commandText_ = std::move(text); }
    void SetNativeCommand(std::string text) { nativeCommand_ = std::move(text); }
    void CheckInactive() const;
    // Allocates the driver statement (first half of every prepare).
    void AllocateStatement();
    // Prepares the statement (allocation included); failures raise.
    virtual void PrepareStatement();
    // The text the prepare hands to the driver.
    virtual std::string PrepareText() const { return nativeCommand_; }
    // Releases cursor, statement and clone connection; field and index definitions go stale.
    void ReleaseStatement();
    // After a failed prepare: the dataset's last error, or the generic message.
    void CheckPrepareOutcome() const;
    // Binds Params and executes the prepared statement; the cursor (if any) goes to `cursor`.
    void ExecutePrepared(std::unique_ptr<sqlfb::ISQLCursor>& cursor);
    void BindParams(const TParams& params);
    std::uint16_t ParamCount();
    bool FieldDefsValid() const { return fieldDefsValid_; }

    void InternalOpen() override;
    void InternalClose() override;
    void InternalFirst() override;
    bool InternalNext() override;

private:
    friend class TSQLConnection;
    void EnsureConnection() const;
    void ChooseDriverConnection();
    void BuildFieldDefs();
    void AddFieldDef(const std::string& columnName, std::uint16_t logType, std::uint16_t subType,
                     std::uint16_t precision, std::int16_t scale, std::uint32_t length,
                     bool nullable, bool readOnly, int& fieldNo);
    void MarkKeyFields();
    void LoadIndexDefs();
    bool IsDatasetField(const std::string& name) const;
    bool ReadBcd(const TField& field, std::uint16_t column, void* buffer) const;

    TSQLConnection* connection_ = nullptr;
    std::string commandText_;
    std::string nativeCommand_;
    TSQLCommandType commandType_ = ctQuery;
    TParams params_;
    bool paramCheck_ = true;
    int maxBlobSize_ = 0;
    bool noMetadata_ = false;
    bool getMetadata_ = true;
    std::string sortFieldNames_;
    std::string schemaName_;
    std::int16_t transactionLevel_ = 0;

    // The statement. Declaration order matters: the cursor goes before the statement, the
    // statement before the clone connection whose driver connection made it.
    std::unique_ptr<TSQLConnection> cloneConnection_;
    sqlfb::ISQLConnection* driverConnection_ = nullptr;
    std::unique_ptr<sqlfb::ISQLCommand> command_;
    std::unique_ptr<sqlfb::ISQLCursor> cursor_;
    bool prepared_ = false;
    bool statementOpen_ = false;
    int rowsAffected_ = -1;
    bool checkRowsAffected_ = false;
    int paramCount_ = -1;
    mutable std::string lastError_;

    // Rows of the open cursor: how many were fetched, whether the end was reached, and whether
    // the first row stands ready again after a move to the first row.
    int rowsFetched_ = 0;
    bool endOfData_ = false;
    bool replayFirst_ = false;

    bool fieldDefsValid_ = false;
    std::uint64_t fieldDefsSerial_ = 0;  // the statement the definitions were made from
    std::uint64_t StatementSerial() const;
    std::vector<TIndexDef> indexDefs_;
    bool indexDefsLoaded_ = false;
    std::string indexTable_;  // see IndexDefsTable
    // The indexes last read from the catalog, kept past the release of the statement: a new
    // text on the same table over the same fields, the catalog unchanged since, has the same.
    struct TIndexDefsMemo {
        sqlfb::ISQLConnection* Connection = nullptr;
        std::int32_t CatalogVersion = -1;
        std::uint64_t Serial = 0;  // the statement they were read for
        std::string Table;
        std::string Schema;
        std::string FieldNames;
        std::vector<TIndexDef> Defs;
        std::string WrittenTable;  // Table as the text writes it (a quoted name in its quotes)
        std::string CatalogTable;  // the name the indexes were read under
    };
    TIndexDefsMemo indexMemo_;
    std::string DatasetFieldNames() const;

    mutable std::vector<std::uint8_t> blobBuffer_;
    mutable std::vector<std::uint8_t> scratch_;
};

}  // namespace tarnwick::sql
