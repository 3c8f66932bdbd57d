#include "data/provider/SQLResolver.h"

#include "base/DatabaseError.h"
#include "base/Text.h"
#include "data/sql/SQLDataSet.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tarnwick::provider {

using namespace dsengine;

namespace {

std::vector<std::string> SplitKeyNames(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        if (end > start) names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

// The column part of an origin "TABLE.COLUMN" (parts may be double-quoted, a backslash takes the
// next character literally; at most three parts); empty when the origin names no table.
std::string OriginColumn(const std::string& origin) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i < origin.size() && parts.size() < 3) {
        while (i < origin.size() && (origin[i] == ' ' || origin[i] == '.')) ++i;
        if (i >= origin.size()) break;
        std::string part;
        const bool quoted = origin[i] == '"';
        if (quoted) ++i;
        while (i < origin.size()) {
            const char c = origin[i];
            if (c == '\\' && i + 1 < origin.size()) {
                part += origin[i + 1];
                i += 2;
                continue;
            }
            if (quoted ? c == '"' : (c == '.' || c == ' ')) break;
            part += c;
            ++i;
        }
        if (quoted && i < origin.size()) ++i;
        parts.push_back(part);
    }
    return parts.size() >= 2 ? parts.back() : std::string();
}

std::string FailureMessage(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "SQL Error: Error mapping failed";
    }
}

bool ConflictCopyable(TFieldType type) { return !IsBlobType(type) && type != ftBytes && type != ftVarBytes; }

}  // namespace

EUpdateError WrapUpdateError(std::exception_ptr failure, const EUpdateError* previous) {
    if (!failure) failure = std::make_exception_ptr(EDatabaseError("SQL Error: Error mapping failed"));
    return EUpdateError(FailureMessage(failure), std::string(), 1, previous ? previous->ErrorCode() : 0, failure);
}

// ---------------------------------------------------------------------------------------------
// Packet datasets and the update tree

void TPacketDataSet::LoadPacket(std::vector<std::uint8_t> packet) {
    // The deltas of one provider mostly have the fields of the one before: the fields stay.
    if (ReplaceRecords(packet)) {
        CheckEngine(DSBase()->SetProp(basepropLOGCHANGES, 0));
        return;
    }
    Close();
    SetRetainedPacket(std::move(packet));
    Open();
    CheckEngine(DSBase()->SetProp(basepropLOGCHANGES, 0));
}

std::uint8_t TPacketDataSet::UpdateStatus() const {
    std::uint8_t status = 0;
    CheckEngine(DSCursor()->GetRecordAttribute(status));
    return status;
}

std::uint32_t TPacketDataSet::FieldBlank(const TField& field) const {
    std::uint32_t size = 0;
    CheckEngine(DSCursor()->GetProp(curpropRECORDSIZE, size));
    std::vector<std::uint8_t> record(size);
    CheckEngine(DSCursor()->GetCurrentRecord(record.data()));
    std::uint32_t blank = BLANK_NULL;
    CheckEngine(DSCursor()->GetField(record.data(), EngineFieldNo(field), nullptr, blank));
    return blank;
}

void TPacketDataSet::FieldBlanks(std::vector<std::uint32_t>& blanks) const {
    std::uint32_t size = 0;
    CheckEngine(DSCursor()->GetProp(curpropRECORDSIZE, size));
    record_.resize(size);
    CheckEngine(DSCursor()->GetCurrentRecord(record_.data()));
    blanks.clear();
    for (int i = 0; i < FieldTotal(); ++i) {
        std::uint32_t blank = BLANK_NULL;
        CheckEngine(DSCursor()->GetField(record_.data(), EngineFieldNo(FieldAt(i)), nullptr, blank));
        blanks.push_back(blank);
    }
}

std::string TPacketDataSet::OptParameter(const TField* field, const char* name) const {
    if (field) {
        const std::string* value = FieldParameter(EngineFieldNo(*field), name);
        return value ? *value : std::string();
    }
    std::string value;
    if (DSBase()->GetOptParameter(0, name, value) != DBERR_NONE) return {};
    return value;
}

void TUpdateTree::LoadDelta(std::vector<std::uint8_t> delta) { delta_->LoadPacket(std::move(delta)); }

IDSBase& TUpdateTree::ErrorBase() {
    if (errorBase_) return *errorBase_;
    std::unique_ptr<IDSBase> base;
    delta_->CheckEngine(delta_->DSBase()->CreateEmptyCopy(copymodeERRORPACKET, base));
    std::unique_ptr<IDSCursor> cursor;
    delta_->CheckEngine(CreateDSCursor(cursor));
    delta_->CheckEngine(base->SetProp(basepropLOGCHANGES, 0));
    delta_->CheckEngine(cursor->InitCursor(base.get()));
    errorBase_ = std::move(base);
    errorCursor_ = std::move(cursor);
    return *errorBase_;
}

std::vector<std::uint8_t> TUpdateTree::ErrorPacket() {
    std::vector<std::uint8_t> packet;
    if (!errorBase_) return packet;
    delta_->CheckEngine(errorBase_->StreamDS(packet));
    return packet;
}

void TUpdateTree::Clear() {
    errorCursor_.reset();
    errorBase_.reset();
    // The rows go; the fields stay for the next delta, which mostly has the same ones.
    if (delta_->Active() && delta_->State() == dsBrowse && delta_->FilterHandle() == 0) {
        try {
            delta_->ClearRecords();
            return;
        } catch (const std::exception&) {
            // Closed below instead.
        }
    }
    delta_->Close();
}

// ---------------------------------------------------------------------------------------------
// Applying a delta

std::vector<std::uint8_t> TSQLResolver::ApplyUpdates(const std::vector<std::uint8_t>& delta, int maxErrors,
                                                     int& errorCount, bool guardRows) {
    guardRows_ = guardRows;
    struct Emptied {
        TUpdateTree& tree;
        ~Emptied() { tree.Clear(); }
    } emptied{tree_};
    tree_.LoadDelta(delta);
    PrepareFields();
    PrepareInfo();
    MarkKeyFields();
    PrepareRowFields();
    FindUniqueKeys();

    previousResponse_ = rrSkip;
    limit_ = maxErrors == -1 ? INT_MAX : maxErrors;
    errorCount_ = 0;

    TPacketDataSet& rows = tree_.Delta();
    rows.MoveFirst();
    while (!rows.AtEnd()) {
        const std::uint8_t status = rows.UpdateStatus();
        bool goOn = true;
        if (status == dsRecNew) {
            ReadValues(true, &TResolverField::NewValue);
            // An inserted row's old values are its new ones.
            for (TResolverField& field : fields_) field.OldValue = field.NewValue;
            goOn = ResolveRow(ukInsert, fields_, rows.RecordNumber());
        } else if (status == dsRecDeleted) {
            ReadValues(false, &TResolverField::OldValue);
            for (TResolverField& field : fields_) field.NewValue = TVariant();
            goOn = ResolveRow(ukDelete, fields_, rows.RecordNumber());
        } else if (status == dsRecUnmodified) {
            ReadValues(false, &TResolverField::OldValue);
            rows.MoveNext();
            if (rows.AtEnd()) break;
            // A row without its modified partner stands for nothing; the next row is looked at on its own.
            if (rows.UpdateStatus() != dsRecModified) continue;
            ReadValues(true, &TResolverField::NewValue);
            goOn = ResolveRow(ukModify, fields_, rows.RecordNumber());
        }
        if (!goOn) break;
        rows.MoveNext();
    }
    errorCount = errorCount_;
    return tree_.HasErrors() ? tree_.ErrorPacket() : std::vector<std::uint8_t>();
}

void TSQLResolver::PrepareFields() {
    TPacketDataSet& delta = tree_.Delta();
    const auto total = static_cast<std::size_t>(delta.FieldTotal());
    columnNames_.resize(total);
    serverCalc_.clear();
    // Deltas mostly carry the origins of the one before: their column parts are kept.
    origins_.resize(total);
    for (std::size_t i = 0; i < total; ++i) {
        TField& field = delta.FieldAt(static_cast<int>(i));
        auto& [origin, originColumn] = origins_[i];
        if (field.Origin() != origin) {
            origin = field.Origin();
            originColumn = OriginColumn(origin);
        }
        std::string& column = columnNames_[i];
        column = originColumn.empty() ? field.FieldName() : originColumn;
        field.SetOrigin(column);
        serverCalc_.push_back(SameTextAscii(delta.OptParameter(&field, "SERVER_CALC"), "TRUE"));
    }
}

void TSQLResolver::PrepareInfo() {
    sql::TCustomSQLDataSet& source = *tree_.Source();
    info_ = TSQLInfo();
    info_.IsSQLBased = source.PSIsSQLBased();
    info_.QuoteChar = source.PSGetQuoteChar();
    std::string table = tree_.Delta().OptParameter(nullptr, "TABLE_NAME");
    if (table.empty()) table = source.PSGetTableName();
    info_.QuotedTableName = QuoteTableName(table, info_.QuoteChar, info_.IsSQLBased);
    info_.TablePrefix = info_.IsSQLBased || info_.QuotedTableName.empty() ? "" : info_.QuotedTableName + ".";
    info_.HasObjectFields = false;
}

void TSQLResolver::MarkKeyFields() {
    TPacketDataSet& delta = tree_.Delta();
    for (int i = 0; i < delta.FieldTotal(); ++i)
        if (delta.FieldAt(i).ProviderFlags().Contains(pfInKey)) return;
    const std::vector<std::string> keys = SplitKeyNames(tree_.Source()->PSGetKeyFields());
    for (int i = 0; i < delta.FieldTotal(); ++i) {
        TField& field = delta.FieldAt(i);
        for (const std::string& key : keys) {
            if (!SameTextAscii(field.Origin(), key)) continue;
            TProviderFlags flags = field.ProviderFlags();
            flags.Include(pfInKey);
            field.SetProviderFlags(flags);
        }
    }
}

namespace {

// Types whose "= ?" is the very equality a unique index keeps apart. Floating values may meet a
// column of another type in a rounded form, and the driver widens a time comparison to a range.
bool ExactlyCompared(TFieldType type) {
    switch (type) {
    case ftString: case ftFixedChar: case ftWideString: case ftGuid:
    case ftSmallint: case ftInteger: case ftWord: case ftLargeint: case ftAutoInc:
    case ftBCD: case ftFMTBcd: case ftBoolean:
        return true;
    default:
        return false;
    }
}

}  // namespace

void TSQLResolver::FindUniqueKeys() {
    uniqueKeys_.clear();
    if (!guardRows_ || info_.QuoteChar.empty()) return;
    sql::TCustomSQLDataSet& source = *tree_.Source();
    const std::vector<sql::TIndexDef>* defs = nullptr;
    try {
        defs = &source.IndexDefs();
    } catch (const std::exception&) {
        return;  // without the indexes every row keeps its savepoint
    }
    // The indexes must be those of the table the statements write to.
    const std::string& table = source.IndexDefsTable();
    if (table.empty() || table.find(info_.QuoteChar) != std::string::npos ||
        info_.QuotedTableName != info_.QuoteChar + table + info_.QuoteChar)
        return;
    for (const sql::TIndexDef& index : *defs) {
        if (!index.Options.Contains(sql::ixUnique)) continue;
        std::vector<std::size_t> key;
        bool complete = !index.Fields.empty();
        for (const std::string& column : SplitKeyNames(index.Fields)) {
            const auto found = std::find(columnNames_.begin(), columnNames_.end(), column);
            if (found == columnNames_.end()) {
                complete = false;
                break;
            }
            key.push_back(static_cast<std::size_t>(found - columnNames_.begin()));
        }
        if (complete && !key.empty()) uniqueKeys_.push_back(std::move(key));
    }
}

bool TSQLResolver::AtMostOneRow(const std::vector<TResolverField>& fields) const {
    const TUpdateMode mode = provider_.UpdateMode();
    for (const std::vector<std::size_t>& key : uniqueKeys_) {
        const bool covered = std::all_of(key.begin(), key.end(), [&](std::size_t i) {
            return i < fields.size() && ExactlyCompared(fields[i].DataType) &&
                   ComparedWithValue(info_, fields[i], mode);
        });
        if (covered) return true;
    }
    return false;
}

void TSQLResolver::ReadValues(bool asNew, TVariant TResolverField::*slot) {
    TPacketDataSet& delta = tree_.Delta();
    delta.FieldBlanks(blanks_);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const std::uint32_t blank = blanks_[i];
        TVariant& value = fields_[i].*slot;
        if (blank == BLANK_NOTCHANGED) value = asNew ? TVariant() : TVariant::Null();
        else if (blank != BLANK_NONE) value = TVariant::Null();
        else value = delta.FieldAt(static_cast<int>(i)).VariantValue();
    }
}

void TSQLResolver::PrepareRowFields() {
    TPacketDataSet& delta = tree_.Delta();
    const auto total = static_cast<std::size_t>(delta.FieldTotal());
    fields_.resize(total);
    for (std::size_t i = 0; i < total; ++i) {
        const TField& field = delta.FieldAt(static_cast<int>(i));
        TResolverField& f = fields_[i];
        f.Name = columnNames_[i];
        f.DataType = field.DataType();
        f.Size = field.Size();
        f.DataSize = field.DataSize();
        f.FixedChar = false;
        if (IsStringType(field.DataType()))
            if (const auto* text = dynamic_cast<const TStringField*>(&field)) f.FixedChar = text->FixedChar();
        f.IsBlob = field.IsBlob();
        f.ProviderFlags = field.ProviderFlags();
        f.ReadOnly = field.ReadOnly();
        f.FieldKind = field.FieldKind();
        f.ServerCalc = serverCalc_[i];
    }
    // Texts already made stay good while the table and the columns they name stay the same.
    const bool sameInfo = info_.IsSQLBased == textInfo_.IsSQLBased && info_.QuoteChar == textInfo_.QuoteChar &&
                          info_.QuotedTableName == textInfo_.QuotedTableName &&
                          info_.TablePrefix == textInfo_.TablePrefix &&
                          info_.HasObjectFields == textInfo_.HasObjectFields;
    if (!sameInfo || columnNames_ != textColumns_) {
        statementTexts_.clear();
        textInfo_ = info_;
        textColumns_ = columnNames_;
    }
}

bool TSQLResolver::ResolveRow(TUpdateKind kind, std::vector<TResolverField>& fields, int recordNo) {
    std::exception_ptr failure;
    try {
        const TProviderOptions options = provider_.Options();
        if (kind == ukModify && options.Contains(poDisableEdits)) DatabaseError("Modifications are not allowed");
        if (kind == ukInsert && options.Contains(poDisableInserts)) DatabaseError("Inserts are not allowed");
        if (kind == ukDelete && options.Contains(poDisableDeletes)) DatabaseError("Deletes are not allowed");
        if (!tree_.Source()->PSUpdateRecord()) {
            if (info_.QuotedTableName.empty()) DatabaseError("Unable to resolve records.  Table name not found.");
            // Rows of one shape run one text: it is made once, and only the parameters per row.
            const TUpdateMode mode = provider_.UpdateMode();
            StatementShape(kind, info_, fields, mode, shape_);
            auto known = statementTexts_.find(shape_);
            if (known == statementTexts_.end()) {
                TGeneratedStatement statement;
                if (kind == ukInsert) statement = GenerateInsert(info_, fields);
                else if (kind == ukModify) statement = GenerateUpdate(info_, fields, mode);
                else statement = GenerateDelete(info_, fields, mode);
                if (statementTexts_.size() >= kKeptTexts) statementTexts_.clear();
                known = statementTexts_.emplace(shape_, statement.Empty() ? std::string() : statement.Text()).first;
            }
            // An INSERT writes one row or fails whole, and a refused statement is undone by the
            // database itself; only an UPDATE or DELETE that could match several rows can leave
            // rows that must be taken back.
            if (!known->second.empty()) {
                StatementParams(shape_, fields, params_);
                RunStatement(known->second, kind == ukInsert || AtMostOneRow(fields));
            }
        }
        return true;
    } catch (const EKeyNoLongerUnique&) {
        throw;  // not this row's failure: the apply ends, and its caller's transaction with it
    } catch (...) {
        failure = std::current_exception();
    }

    const EUpdateError error = WrapUpdateError(failure, nullptr);
    TResolverResponse response = errorCount_ >= limit_ ? rrAbort : rrSkip;
    std::vector<std::vector<std::uint8_t>> current(fields.size());
    std::vector<bool> currentSet(fields.size(), false);
    try {
        ReadConflictValues(fields, current, currentSet);
    } catch (...) {
        // The current values only help the one who reconciles; without them the row still fails.
    }
    ++errorCount_;
    if (errorCount_ > limit_) response = rrAbort;
    if (response == rrAbort) limit_ = errorCount_ - 1;
    LogError(error, response, recordNo, current, currentSet);
    previousResponse_ = response;
    return errorCount_ <= limit_;
}

namespace {
constexpr std::string_view kRowSavepoint = "APPLY_ROW";
}

void TSQLResolver::RunStatement(const std::string& text, bool oneRowAtMost) {
    sql::TCustomSQLDataSet& source = *tree_.Source();
    sql::TSQLConnection* connection = source.SQLConnection();
    const bool guarded = guardRows_ && !oneRowAtMost && connection != nullptr && connection->TransactionActive();
    if (guarded) connection->Savepoint(kRowSavepoint);
    const int rows = source.PSExecuteStatement(text, &params_);
    if (rows > 1 && !provider_.Options().Contains(poAllowMultiRecordUpdates)) {
        // A unique key said one row at most (the index must have gone since it was read): without
        // a savepoint the rows cannot be taken back alone, so nothing of the transaction may stay.
        if (guardRows_ && oneRowAtMost) throw EKeyNoLongerUnique("Update affected more than 1 record.");
        // Every row it touched must be undone before anything else runs: behind a savepoint
        // this row's statement alone, otherwise the whole transaction.
        if (guarded) {
            connection->RollbackToSavepoint(kRowSavepoint);
        } else {
            source.PSEndTransaction(false);
            provider_.ClearTransactionStarted();
        }
        DatabaseError("Update affected more than 1 record.");
    }
    if (rows < 1) DatabaseError("Record not found or changed by another user");
}

void TSQLResolver::ReadConflictValues(std::vector<TResolverField>& fields,
                                      std::vector<std::vector<std::uint8_t>>& current,
                                      std::vector<bool>& currentSet) {
    const TGeneratedStatement select = GenerateConflictSelect(info_, fields, provider_.UpdateMode());
    if (select.Empty()) return;
    sql::TCustomSQLDataSet& source = *tree_.Source();
    sql::TSQLDataSet query(nullptr);
    query.SetSQLConnection(source.SQLConnection());
    query.SetParamCheck(false);
    query.SetCommandText(select.Text());
    for (const TStatementParam& p : select.Params) query.Params().AddValue(p.Value, p.DataType);
    query.Open();
    if (query.AtEnd()) return;
    TPacketDataSet& delta = tree_.Delta();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const TResolverField& field = fields[i];
        if (!ConflictCopyable(field.DataType)) continue;
        TField* column = query.FindFieldNamed(field.Name);
        if (!column || column->DataSize() != delta.FieldAt(static_cast<int>(i)).DataSize()) continue;
        const TVariant value = column->IsNull() ? TVariant::Null() : column->VariantValue();
        if (value == field.OldValue) continue;
        if (!field.NewValue.IsEmpty() && value == field.NewValue) continue;
        current[i].assign(static_cast<std::size_t>(column->DataSize()), 0);
        if (!column->GetData(current[i].data())) current[i].clear();
        currentSet[i] = true;
    }
}

// The error packet's row of a delta row: the six error columns, then the current values read back
// (an empty value form stands for null).
void TSQLResolver::LogError(const EUpdateError& error, TResolverResponse response, int recordNo,
                            const std::vector<std::vector<std::uint8_t>>& current,
                            const std::vector<bool>& currentSet) {
    TPacketDataSet& delta = tree_.Delta();
    tree_.ErrorBase();
    IDSCursor& cursor = tree_.ErrorCursor();
    std::uint32_t size = 0;
    delta.CheckEngine(cursor.GetProp(curpropRECORDSIZE, size));
    std::vector<std::uint8_t> record(size);

    bool found = false;
    delta.CheckEngine(cursor.MoveToBOF());
    while (!found && !IsFailure(cursor.MoveRelative(1))) {
        delta.CheckEngine(cursor.GetCurrentRecord(record.data()));
        std::int32_t no = 0;
        std::uint32_t blank = BLANK_NULL;
        delta.CheckEngine(cursor.GetField(record.data(), 1, &no, blank));
        found = blank == BLANK_NONE && no == recordNo;
    }
    if (!found) {
        delta.CheckEngine(cursor.MoveToEOF());
        delta.CheckEngine(cursor.InitRecord(record.data()));
    }

    const auto putInt = [&](std::uint32_t no, std::int32_t value) {
        delta.CheckEngine(cursor.PutField(record.data(), no, &value));
    };
    const auto putText = [&](std::uint32_t no, const std::string& text) {
        std::string value(Utf8Prefix(text, static_cast<std::size_t>(kErrorTextWidth)));
        delta.CheckEngine(cursor.PutField(record.data(), no, value.c_str()));
    };
    putInt(1, recordNo);
    putInt(2, static_cast<std::int32_t>(response) + 1);
    putText(3, error.Message());
    putText(4, error.Context());
    putInt(5, 1);
    putInt(6, error.ErrorCode());
    for (std::size_t i = 0; i < currentSet.size(); ++i) {
        if (!currentSet[i]) continue;
        const std::uint32_t no = 6 + delta.EngineFieldNo(delta.FieldAt(static_cast<int>(i)));
        delta.CheckEngine(cursor.PutField(record.data(), no, current[i].empty() ? nullptr : current[i].data()));
    }
    if (found) delta.CheckEngine(cursor.ModifyRecord(record.data()));
    else delta.CheckEngine(cursor.InsertRecord(record.data()));
}

}  // namespace tarnwick::provider
