#pragma once
// TSQLResolver: turns each row of a delta into one INSERT, UPDATE or DELETE with positional
// parameters, runs it on the provider's SQL dataset and checks that exactly one row was affected.
// A failed row is wrapped in EUpdateError, its current values are read back, and it is counted
// and logged in the error packet. Created by the provider at its first apply and kept; the
// update tree (delta, error packet) lives for one apply only.
//
// The statement builders below are free functions over plain field descriptions, so that the
// generated text can be checked without a database.

#include "data/clientdataset/ClientDataSet.h"
#include "data/clientdataset/CommandDataSet.h"
#include "data/clientdataset/FieldType.h"
#include "data/clientdataset/Variant.h"
#include "data/provider/DataSetProvider.h"
#include "data/sql/Params.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarnwick::provider {

enum TResolverResponse { rrSkip, rrAbort, rrMerge, rrApply, rrIgnore };

// One failed delta row, as the resolver counts and logs it.
class EUpdateError : public EDatabaseError {
public:
    EUpdateError(std::string message, std::string context, int errorCode, int previousError,
                 std::exception_ptr original)
        : EDatabaseError(std::move(message)),
          context_(std::move(context)),
          errorCode_(errorCode),
          previousError_(previousError),
          original_(std::move(original)) {}
    const std::string& Context() const { return context_; }
    int ErrorCode() const { return errorCode_; }
    int PreviousError() const { return previousError_; }
    const std::exception_ptr& OriginalException() const { return original_; }

private:
    std::string context_;
    int errorCode_;
    int previousError_;
    std::exception_ptr original_;
};

// An UPDATE or DELETE found by a whole unique key, run without a row savepoint, that touched more
// than one row: the rows cannot be taken back alone, so the apply fails as a whole.
class EKeyNoLongerUnique : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// Wraps a row failure (null: "SQL Error: Error mapping failed") with the previous wrapped failure
// of the same row (null the first time).
EUpdateError WrapUpdateError(std::exception_ptr failure, const EUpdateError* previous);

// Statement information, worked out once per apply.
struct TSQLInfo {
    bool IsSQLBased = true;
    std::string QuoteChar;
    std::string QuotedTableName;
    std::string TablePrefix;  // empty when SQL-based, else the quoted table name and "."
    bool HasObjectFields = false;
};

// The table name quoted with `quote`: names already quoted are kept; SQL-based names are split at
// their first two dots and each part quoted.
std::string QuoteTableName(const std::string& table, const std::string& quote, bool sqlBased);

// A delta field with the values of the row in hand.
struct TResolverField {
    std::string Name;  // the column name
    TFieldType DataType = ftString;
    int Size = 0;
    int DataSize = 0;
    bool FixedChar = false;
    bool IsBlob = false;
    TProviderFlags ProviderFlags = kDefaultProviderFlags;
    bool ReadOnly = false;
    TFieldKind FieldKind = fkData;
    bool ServerCalc = false;
    TVariant OldValue = TVariant::Null();
    TVariant NewValue;  // unassigned (varEmpty): not changed
};

// One positional parameter of a generated statement.
struct TStatementParam {
    TFieldType DataType = ftUnknown;
    TVariant Value = TVariant::Null();
    int Size = 0;
    int NumericScale = 0;
    bool Bound = true;
};

struct TGeneratedStatement {
    std::vector<std::string> Lines;
    std::vector<TStatementParam> Params;
    // The lines, each followed by carriage return and line feed.
    std::string Text() const;
    bool Empty() const { return Lines.empty(); }
};

bool FieldWritten(const TResolverField& field);
bool FieldCompared(const TResolverField& field, TUpdateMode mode, bool withSizeLimit = true);
TStatementParam MakeParam(const TResolverField& field, const TVariant& value);
// True when the WHERE clause of an UPDATE or DELETE compares the field with its old value
// ("= ?"), not with "is null" and not at all.
bool ComparedWithValue(const TSQLInfo& info, const TResolverField& field, TUpdateMode mode);

// The shape of a row's statement of that kind: what it does with each field (written, compared
// with a value, compared with null). Statements of one shape have one text; only the values of
// their parameters differ.
void StatementShape(TUpdateKind kind, const TSQLInfo& info, const std::vector<TResolverField>& fields,
                    TUpdateMode mode, std::string& shape);
// The parameters of the statement of `shape` for these fields, as the generator below makes them
// (kind and value), into `params`, whose items are reused.
void StatementParams(const std::string& shape, const std::vector<TResolverField>& fields, sql::TParams& params);

// Empty when no field was changed. The WHERE builders fail with "Unable to find record.  No key
// specified" when no field qualifies.
TGeneratedStatement GenerateUpdate(const TSQLInfo& info, const std::vector<TResolverField>& fields,
                                   TUpdateMode mode);
TGeneratedStatement GenerateInsert(const TSQLInfo& info, const std::vector<TResolverField>& fields);
TGeneratedStatement GenerateDelete(const TSQLInfo& info, const std::vector<TResolverField>& fields,
                                   TUpdateMode mode);
// The select of a failed row's current values (empty when no field would be compared).
TGeneratedStatement GenerateConflictSelect(const TSQLInfo& info,
                                           const std::vector<TResolverField>& fields,
                                           TUpdateMode mode);

// A dataset over a delta or error packet; it logs no changes of its own.
class TPacketDataSet : public TCustomClientDataSet {
public:
    explicit TPacketDataSet(TComponent* owner = nullptr) : TCustomClientDataSet(owner) {}
    ~TPacketDataSet() override { Close(); }

    // Opens the dataset on the packet, on its first row.
    void LoadPacket(std::vector<std::uint8_t> packet);
    // The update status of the current row (dsRec*).
    std::uint8_t UpdateStatus() const;
    // The engine's state of a field in the current row (BLANK_*).
    std::uint32_t FieldBlank(const TField& field) const;
    // The states of every field of the current row, in field order.
    void FieldBlanks(std::vector<std::uint32_t>& blanks) const;
    // A dataset-level or field-level optional parameter, empty when absent.
    std::string OptParameter(const TField* field, const char* name) const;

protected:
    bool KeepsDataOnClose() const override { return false; }

private:
    mutable std::vector<std::uint8_t> record_;  // room for the current record, kept between rows
};

// The delta and the error packet of one apply, and the dataset the rows are written to.
class TUpdateTree {
public:
    TPacketDataSet& Delta() { return *delta_; }
    sql::TCustomSQLDataSet* Source() const { return source_; }
    void SetSource(sql::TCustomSQLDataSet* source) { source_ = source; }
    void LoadDelta(std::vector<std::uint8_t> delta);
    bool HasErrors() const { return errorBase_ != nullptr; }
    // The error packet dataset: the delta's fields after the six error columns.
    dsengine::IDSBase& ErrorBase();
    dsengine::IDSCursor& ErrorCursor() { return *errorCursor_; }
    std::vector<std::uint8_t> ErrorPacket();
    // Releases the delta's rows and the error packet.
    void Clear();

private:
    std::unique_ptr<TPacketDataSet> delta_ = std::make_unique<TPacketDataSet>();
    sql::TCustomSQLDataSet* source_ = nullptr;
    std::unique_ptr<dsengine::IDSBase> errorBase_;
    std::unique_ptr<dsengine::IDSCursor> errorCursor_;
};

class TSQLResolver {
public:
    explicit TSQLResolver(TDataSetProvider& provider) : provider_(provider) {}

    TUpdateTree& UpdateTree() { return tree_; }
    // Resolves every row of the delta; answers the error packet (empty: no row failed).
    // `guardRows`: the transaction must outlive a failed row (the caller's own transaction, or
    // failed rows are tolerated), so a statement that could touch several rows runs behind a
    // savepoint and a failure undoes that row alone.
    std::vector<std::uint8_t> ApplyUpdates(const std::vector<std::uint8_t>& delta, int maxErrors,
                                           int& errorCount, bool guardRows = false);
    // Statement information of the last apply.
    const TSQLInfo& Info() const { return info_; }

private:
    void PrepareFields();
    void PrepareInfo();
    void MarkKeyFields();
    // The fields of the delta for its rows, without values; the kept texts are dropped when the
    // table or the columns changed since the last apply.
    void PrepareRowFields();
    // The values of the current delta row into `slot` of every field (asNew: the new values).
    void ReadValues(bool asNew, TVariant TResolverField::*slot);
    // The unique indexes of the statement's table whose every column is a delta field, as lists
    // of field positions (only worked out when rows are guarded).
    void FindUniqueKeys();
    // True when the row's UPDATE or DELETE compares every column of one of those indexes with a
    // value, so that it cannot touch more than one row.
    bool AtMostOneRow(const std::vector<TResolverField>& fields) const;
    // Resolves one row; answers false when resolving must stop.
    bool ResolveRow(TUpdateKind kind, std::vector<TResolverField>& fields, int recordNo);
    // Runs the text with params_. Where a failed row must leave the transaction going, a
    // statement that could touch several rows runs behind a savepoint, taken back when it did;
    // one that cannot (`oneRowAtMost`) runs without, and touching several ends the apply as a
    // failure of its own.
    void RunStatement(const std::string& text, bool oneRowAtMost);
    void ReadConflictValues(std::vector<TResolverField>& fields, std::vector<std::vector<std::uint8_t>>& current,
                            std::vector<bool>& currentSet);
    void LogError(const EUpdateError& error, TResolverResponse response, int recordNo,
                  const std::vector<std::vector<std::uint8_t>>& current, const std::vector<bool>& currentSet);

    TDataSetProvider& provider_;
    TUpdateTree tree_;
    TSQLInfo info_;
    std::vector<std::string> columnNames_;
    std::vector<std::pair<std::string, std::string>> origins_;  // a field's origin, its column part
    mutable std::vector<std::uint32_t> blanks_;  // field states of the row being read
    std::vector<bool> serverCalc_;
    std::vector<std::vector<std::size_t>> uniqueKeys_;
    std::vector<TResolverField> fields_;  // the delta's fields with the values of the row in hand
    // Statement texts by shape, for the table and columns of textInfo_ and textColumns_.
    static constexpr std::size_t kKeptTexts = 64;
    std::unordered_map<std::string, std::string> statementTexts_;
    TSQLInfo textInfo_;
    std::vector<std::string> textColumns_;
    std::string shape_;
    sql::TParams params_;
    int limit_ = 0;
    int errorCount_ = 0;
    bool guardRows_ = false;
    TResolverResponse previousResponse_ = rrSkip;
};

}  // namespace tarnwick::provider
