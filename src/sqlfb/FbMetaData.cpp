#include "sqlfb/FbMetaData.h"

#include <cstring>
#include <string>
#include <vector>

#include "sqlfb/FbCommand.h"
#include "sqlfb/FbCursor.h"
#include "sqlfb/FbHelpers.h"

namespace tarnwick::sqlfb::detail {

namespace {

class FbMetaData final : public ISQLMetaData {
public:
    explicit FbMetaData(std::shared_ptr<FbAttachment> att) : att_(std::move(att)) {}

    SQLResult SetOption(std::uint16_t, std::intptr_t) override {
        return kSQLSuccess;  // catalog and schema mean nothing to Firebird
    }

    SQLResult GetOption(std::uint16_t option, void* buffer, std::int32_t maxLength, std::int32_t* length) override {
        if (buffer == nullptr) return kSQLInvalidParameter;
        switch (option) {
            case kMetaSupportsTransaction:
            case kMetaMultipleTransactions: {
                if (maxLength < 4) return kSQLInvalidLength;
                const std::int32_t value = option == kMetaSupportsTransaction ? 1 : 0;
                std::memcpy(buffer, &value, 4);
                if (length != nullptr) *length = 4;
                return kSQLSuccess;
            }
            case kMetaObjectQuoteChar:
                if (maxLength < 1) return kSQLInvalidLength;
                *static_cast<char*>(buffer) = '"';
                if (length != nullptr) *length = 1;
                return kSQLSuccess;
            default:
                return kSQLNotSupported;
        }
    }

    SQLResult GetIndices(const char* tableName, std::uint32_t, ISQLCursor** cursor) override {
        return Guarded([&] { return DoGetIndices(tableName, cursor); });
    }

    SQLResult DoGetIndices(const char* tableName, ISQLCursor** cursor) {
        if (cursor == nullptr) return kSQLInvalidParameter;
        *cursor = nullptr;
        error_.Clear();
        if (!att_->Attached()) return Fail(kSQLInvalidHandle, "The connection is closed");
        const std::string table = tableName != nullptr ? tableName : "";
        auto cached = att_->indexCache.find(table);
        if (cached == att_->indexCache.end()) {
            std::vector<IndexRow> rows;
            if (const SQLResult r = ReadIndices(table, &rows); r != kSQLSuccess) return r;
            cached = att_->indexCache.emplace(table, std::move(rows)).first;
        }
        *cursor = MakeCursor(table, cached->second);
        return kSQLSuccess;
    }

    SQLResult GetErrorMessageLen(std::uint16_t* length) override { return error_.Length(length); }
    SQLResult GetErrorMessage(char* buffer, std::uint32_t bufferSize) override { return error_.Copy(buffer, bufferSize); }

private:
    SQLResult Fail(SQLResult code, std::string text) {
        error_.Set(std::move(text));
        return code;
    }

    SQLResult FailFrom(ISQLCommand& command, SQLResult code) {
        std::uint16_t n = 0;
        command.GetErrorMessageLen(&n);
        std::vector<char> text(static_cast<std::size_t>(n) + 1, '\0');
        command.GetErrorMessage(text.data(), static_cast<std::uint32_t>(text.size()));
        return Fail(code, text.data());
    }

    SQLResult FailFrom(ISQLCursor& cursor, SQLResult code) {
        std::uint16_t n = 0;
        cursor.GetErrorMessageLen(&n);
        std::vector<char> text(static_cast<std::size_t>(n) + 1, '\0');
        cursor.GetErrorMessage(text.data(), static_cast<std::uint32_t>(text.size()));
        return Fail(code, text.data());
    }

    SQLResult ReadIndices(const std::string& table, std::vector<IndexRow>* rows) {
        static const char* kSql =
            "SELECT I.RDB$INDEX_NAME, S.RDB$FIELD_NAME, S.RDB$FIELD_POSITION, I.RDB$UNIQUE_FLAG, "
            "I.RDB$INDEX_TYPE, RC.RDB$CONSTRAINT_TYPE "
            "FROM RDB$INDICES I JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = I.RDB$INDEX_NAME "
            "LEFT JOIN RDB$RELATION_CONSTRAINTS RC ON RC.RDB$INDEX_NAME = I.RDB$INDEX_NAME "
            "WHERE I.RDB$RELATION_NAME = ? AND COALESCE(I.RDB$INDEX_INACTIVE, 0) = 0 "
            "ORDER BY I.RDB$INDEX_NAME, S.RDB$FIELD_POSITION";
        const std::unique_ptr<ISQLCommand> command(NewFbCommand(att_));
        if (const SQLResult r = command->Prepare(kSql, 1); r != kSQLSuccess) return FailFrom(*command, r);
        const std::string name = table + '\0';
        command->SetParameter(1, 0, kParamInput, kLogString, kSubNone, 0, 0,
                              static_cast<std::uint32_t>(name.size()), name.data(), 0);
        ISQLCursor* raw = nullptr;
        if (const SQLResult r = command->Execute(&raw); r != kSQLSuccess) return FailFrom(*command, r);
        std::unique_ptr<ISQLCursor> cursor(raw);
        for (;;) {
            const SQLResult next = cursor->Next();
            if (next == kSQLEndOfData) break;
            if (next != kSQLSuccess) return FailFrom(*cursor, next);
            IndexRow row;
            char text[256];
            int isNull = 0;
            cursor->GetString(1, text, sizeof text, &isNull);
            row.IndexName = isNull ? "" : TrimRight(text);
            cursor->GetString(2, text, sizeof text, &isNull);
            row.ColumnName = isNull ? "" : TrimRight(text);
            std::int16_t position = 0;
            cursor->GetShort(3, &position, &isNull);
            row.Position = isNull ? 0 : position;
            std::int16_t unique = 0;
            cursor->GetShort(4, &unique, &isNull);
            const bool isUnique = !isNull && unique == 1;
            std::int16_t order = 0;
            cursor->GetShort(5, &order, &isNull);
            row.SortOrder = (!isNull && order == 1) ? "D" : "A";
            cursor->GetString(6, text, sizeof text, &isNull);
            const bool primary = !isNull && TrimRight(text) == "PRIMARY KEY";
            row.Type = primary ? static_cast<std::int16_t>(kIndexPrimary | kIndexUnique)
                               : static_cast<std::int16_t>(isUnique ? kIndexUnique : kIndexNonUnique);
            if (primary) row.PrimaryKeyName = row.IndexName;
            rows->push_back(std::move(row));
        }
        return kSQLSuccess;
    }

    static ISQLCursor* MakeCursor(const std::string& table, const std::vector<IndexRow>& rows) {
        using Cell = MemoryCell;
        std::vector<MemoryColumn> columns = {
            {"RECNO", kLogInt32, 4},        {"CATALOG_NAME", kLogString, 128}, {"SCHEMA_NAME", kLogString, 128},
            {"TABLE_NAME", kLogString, 128}, {"INDEX_NAME", kLogString, 128},   {"COLUMN_NAME", kLogString, 128},
            {"COLUMN_POSITION", kLogInt16, 2}, {"PKEY_NAME", kLogString, 128},  {"INDEX_TYPE", kLogInt16, 2},
            {"SORT_ORDER", kLogString, 1},   {"FILTER", kLogString, 128},
        };
        std::vector<std::vector<Cell>> cells;
        std::int32_t recno = 0;
        const Cell null{true, {}, 0};
        for (const auto& row : rows) {
            cells.push_back({Cell{false, {}, ++recno}, null, null, Cell{false, table, 0},
                             Cell{false, row.IndexName, 0}, Cell{false, row.ColumnName, 0},
                             Cell{false, {}, row.Position + 1},
                             row.PrimaryKeyName.empty() ? null : Cell{false, row.PrimaryKeyName, 0},
                             Cell{false, {}, row.Type}, Cell{false, row.SortOrder, 0}, null});
        }
        return NewMemoryCursor(std::move(columns), std::move(cells));
    }

    std::shared_ptr<FbAttachment> att_;
    ErrorText error_;
};

}  // namespace

ISQLMetaData* NewFbMetaData(std::shared_ptr<FbAttachment> att) { return new FbMetaData(std::move(att)); }

}  // namespace tarnwick::sqlfb::detail
