#include "sqlfb/FbCursor.h"

#include <algorithm>
#include <cstring>

#include "base/Text.h"
#include "base/ValueForms.h"
#include "sqlfb/FbStatement.h"
#include "sqlfb/FbValues.h"
#include "sqlfb/FbWatchdog.h"

namespace tarnwick::sqlfb::detail {

namespace {

class FbCursor final : public ISQLCursor {
public:
    FbCursor(std::shared_ptr<FbStatement> statement, isc_tr_handle tr)
        : st_(std::move(statement)), tr_(tr), generation_(st_->generation) {}

    ~FbCursor() override {
        if (Live()) st_->CloseCursor();
    }

    SQLResult GetColumnCount(std::uint16_t* count) override {
        *count = static_cast<std::uint16_t>(st_->columns.size());
        return kSQLSuccess;
    }
    SQLResult GetColumnName(std::uint16_t column, char* name, std::uint32_t bufferSize) override {
        const Column* c = At(column);
        if (c == nullptr) return kSQLOutOfRange;
        if (name == nullptr || bufferSize == 0) return kSQLInvalidParameter;
        const auto text = Utf8Prefix(c->name, bufferSize - 1);
        std::memcpy(name, text.data(), text.size());
        name[text.size()] = '\0';
        return kSQLSuccess;
    }
    SQLResult GetColumnType(std::uint16_t column, std::uint16_t* logType, std::uint16_t* subType) override {
        const Column* c = At(column);
        if (c == nullptr) return kSQLOutOfRange;
        *logType = c->logType;
        *subType = c->subType;
        return kSQLSuccess;
    }
    SQLResult GetColumnLength(std::uint16_t column, std::uint32_t* length) override {
        const Column* c = At(column);
        if (c == nullptr) return kSQLOutOfRange;
        *length = c->length;
        return kSQLSuccess;
    }
    SQLResult GetColumnPrecision(std::uint16_t column, std::uint16_t* precision) override {
        const Column* c = At(column);
        if (c == nullptr) return kSQLOutOfRange;
        *precision = c->precision;
        return kSQLSuccess;
    }
    SQLResult GetColumnScale(std::uint16_t column, std::int16_t* scale) override {
        const Column* c = At(column);
        if (c == nullptr) return kSQLOutOfRange;
        *scale = c->scale;
        return kSQLSuccess;
    }
    SQLResult IsNullable(std::uint16_t column, int* nullable) override {
        const Column* c = At(column);
        if (c == nullptr) return kSQLOutOfRange;
        *nullable = c->nullable ? 1 : 0;
        return kSQLSuccess;
    }
    SQLResult IsReadOnly(std::uint16_t column, int* readOnly) override {
        const Column* c = At(column);
        if (c == nullptr) return kSQLOutOfRange;
        *readOnly = c->readOnly ? 1 : 0;
        return kSQLSuccess;
    }

    SQLResult Next() override {
        if (atEnd_) return kSQLEndOfData;
        if (!Live()) return Fail(kSQLInvalidHandle, "The cursor is closed");
        const FbAttachment& att = *st_->att;
        const WatchedCall watch(*att.api, att.db, att.WatchSeconds(), &st_->att->linkClosed);
        ISC_STATUS_ARRAY status;
        const ISC_STATUS rc = st_->att->api->dsql_fetch(status, &st_->handle, SQL_DIALECT_V6, st_->out.get());
        if (rc == 100) {
            atEnd_ = true;
            return kSQLEndOfData;
        }
        if (rc != 0) return Fail(kSQLServerError, st_->att->StatusText(status));
        ++st_->row;
        onRow_ = true;
        return kSQLSuccess;
    }

    SQLResult GetString(std::uint16_t column, char* buffer, std::uint32_t bufferSize, int* isNull) override {
        Column* c = nullptr;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        if (buffer == nullptr || bufferSize == 0) return kSQLInvalidParameter;
        std::string_view text;
        if (c->sqltype == SQL_VARYING) {
            short n = 0;
            std::memcpy(&n, c->data.data(), 2);
            text = std::string_view(c->data.data() + 2, static_cast<std::size_t>(std::max<short>(n, 0)));
        } else if (c->sqltype == SQL_TEXT) {
            text = std::string_view(c->data.data(), static_cast<std::size_t>(c->sqllen));
            const int perChar = BytesPerChar(c->sqlsubtype & 0xFF);
            if (perChar > 1 && ((c->sqlsubtype & 0xFF) == 4 || (c->sqlsubtype & 0xFF) == 3))
                text = Utf8Chars(text, static_cast<std::size_t>(c->sqllen / perChar));
            if (st_->att->trimChar) {
                while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
            }
        } else {
            return Fail(kSQLInvalidTranslation, "The column is no text column");
        }
        text = Utf8Prefix(text, bufferSize - 1);
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = '\0';
        return kSQLSuccess;
    }

    SQLResult GetShort(std::uint16_t column, std::int16_t* value, int* isNull) override {
        Column* c = nullptr;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        if (c->sqltype == SQL_BOOLEAN) {
            *value = c->data[0] != 0 ? 1 : 0;
            return kSQLSuccess;
        }
        if (c->sqltype == SQL_SHORT && c->sqlscale == 0) {
            std::memcpy(value, c->data.data(), 2);
            return kSQLSuccess;
        }
        return Fail(kSQLInvalidTranslation, "The column is no 16-bit column");
    }

    SQLResult GetLong(std::uint16_t column, std::int32_t* value, int* isNull) override {
        std::int64_t wide = 0;
        if (const SQLResult r = GetInt64(column, &wide, isNull); r != kSQLSuccess || *isNull) return r;
        if (wide < INT32_MIN || wide > INT32_MAX) return Fail(kSQLOutOfRange, "The value does not fit 32 bits");
        *value = static_cast<std::int32_t>(wide);
        return kSQLSuccess;
    }

    SQLResult GetInt64(std::uint16_t column, std::int64_t* value, int* isNull) override {
        Column* c = nullptr;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        if (c->sqlscale != 0) return Fail(kSQLInvalidTranslation, "The column has decimal places");
        switch (c->sqltype) {
            case SQL_SHORT: { std::int16_t v; std::memcpy(&v, c->data.data(), 2); *value = v; return kSQLSuccess; }
            case SQL_LONG: { std::int32_t v; std::memcpy(&v, c->data.data(), 4); *value = v; return kSQLSuccess; }
            case SQL_INT64: { std::int64_t v; std::memcpy(&v, c->data.data(), 8); *value = v; return kSQLSuccess; }
            default: return Fail(kSQLInvalidTranslation, "The column is no integer column");
        }
    }

    SQLResult GetDouble(std::uint16_t column, double* value, int* isNull) override {
        Column* c = nullptr;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        switch (c->sqltype) {
            case SQL_FLOAT: { float v; std::memcpy(&v, c->data.data(), 4); *value = v; return kSQLSuccess; }
            case SQL_DOUBLE:
            case SQL_D_FLOAT: std::memcpy(value, c->data.data(), 8); return kSQLSuccess;
            default: break;
        }
        std::int64_t scaled = 0;
        if (!Scaled(*c, &scaled)) return Fail(kSQLInvalidTranslation, "The column is no number column");
        double v = static_cast<double>(scaled);
        for (int i = 0; i < -c->sqlscale; ++i) v /= 10.0;
        *value = v;
        return kSQLSuccess;
    }

    SQLResult GetBcd(std::uint16_t column, void* bcd, int* isNull) override {
        Column* c = nullptr;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        std::int64_t scaled = 0;
        if (!Scaled(*c, &scaled)) return Fail(kSQLInvalidTranslation, "The column is no exact number column");
        const TBcd value = BcdFromScaled(scaled, c->sqlscale);
        std::memcpy(bcd, &value, sizeof value);
        return kSQLSuccess;
    }

    SQLResult GetTimeStamp(std::uint16_t column, void* timeStamp, int* isNull) override {
        Column* c = nullptr;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        ISC_TIMESTAMP ts{};
        if (c->sqltype == SQL_TIMESTAMP) std::memcpy(&ts, c->data.data(), sizeof ts);
        else if (c->sqltype == SQL_TYPE_DATE) std::memcpy(&ts.timestamp_date, c->data.data(), 4);
        else if (c->sqltype == SQL_TYPE_TIME) {
            ts.timestamp_date = IscDateFromDayNumber(0);  // blank date
            std::memcpy(&ts.timestamp_time, c->data.data(), 4);
        } else return Fail(kSQLInvalidTranslation, "The column is no date or time column");
        TSQLTimeStamp value = TimeStampFromIsc(ts);
        if (c->sqltype == SQL_TYPE_TIME) value.Year = value.Month = value.Day = 0;
        std::memcpy(timeStamp, &value, sizeof value);
        return kSQLSuccess;
    }

    SQLResult GetTime(std::uint16_t column, std::int32_t* milliseconds, int* isNull) override {
        Column* c = nullptr;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        ISC_TIME t = 0;
        if (c->sqltype == SQL_TYPE_TIME) std::memcpy(&t, c->data.data(), 4);
        else if (c->sqltype == SQL_TIMESTAMP) std::memcpy(&t, c->data.data() + 4, 4);
        else return Fail(kSQLInvalidTranslation, "The column is no time column");
        *milliseconds = static_cast<std::int32_t>(t / 10);
        return kSQLSuccess;
    }

    SQLResult GetDate(std::uint16_t column, std::int32_t* dayNumber, int* isNull) override {
        Column* c = nullptr;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        if (c->sqltype != SQL_TYPE_DATE && c->sqltype != SQL_TIMESTAMP)
            return Fail(kSQLInvalidTranslation, "The column is no date column");
        ISC_DATE d = 0;
        std::memcpy(&d, c->data.data(), 4);
        *dayNumber = DayNumberFromIscDate(d);
        return kSQLSuccess;
    }

    SQLResult GetBytes(std::uint16_t column, void* buffer, std::uint32_t bufferSize, std::uint32_t* length,
                       int* isNull) override {
        Column* c = nullptr;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        const char* bytes = c->data.data();
        std::size_t n = static_cast<std::size_t>(c->sqllen);
        if (c->sqltype == SQL_VARYING) {
            short len = 0;
            std::memcpy(&len, c->data.data(), 2);
            bytes += 2;
            n = static_cast<std::size_t>(std::max<short>(len, 0));
        } else if (c->sqltype != SQL_TEXT) {
            return Fail(kSQLInvalidTranslation, "The column is no byte column");
        }
        n = std::min<std::size_t>(n, bufferSize);
        if (n > 0) std::memcpy(buffer, bytes, n);
        if (length != nullptr) *length = static_cast<std::uint32_t>(n);
        return kSQLSuccess;
    }

    SQLResult GetBlobSize(std::uint16_t column, std::uint32_t* length, int* isNull) override {
        return Guarded([&] { return DoGetBlobSize(column, length, isNull); });
    }

    SQLResult DoGetBlobSize(std::uint16_t column, std::uint32_t* length, int* isNull) {
        Column* c = nullptr;
        *length = 0;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        if (const SQLResult r = LoadBlob(*c); r != kSQLSuccess) return r;
        *length = static_cast<std::uint32_t>(c->blob.size());
        return kSQLSuccess;
    }

    SQLResult GetBlob(std::uint16_t column, void* buffer, int* isNull, std::uint32_t length) override {
        return Guarded([&] { return DoGetBlob(column, buffer, isNull, length); });
    }

    SQLResult DoGetBlob(std::uint16_t column, void* buffer, int* isNull, std::uint32_t length) {
        Column* c = nullptr;
        if (const SQLResult r = Value(column, &c, isNull); r != kSQLSuccess || *isNull) return r;
        if (const SQLResult r = LoadBlob(*c); r != kSQLSuccess) return r;
        const std::size_t n = std::min<std::size_t>(length, c->blob.size());
        if (n > 0) std::memcpy(buffer, c->blob.data(), n);
        return kSQLSuccess;
    }

    SQLResult GetErrorMessageLen(std::uint16_t* length) override { return error_.Length(length); }
    SQLResult GetErrorMessage(char* buffer, std::uint32_t bufferSize) override { return error_.Copy(buffer, bufferSize); }

private:
    bool Live() const { return st_->cursorOpen && st_->generation == generation_ && st_->HandleValid(); }

    Column* At(std::uint16_t column) {
        if (column < 1 || column > st_->columns.size()) return nullptr;
        return &st_->columns[column - 1];
    }

    SQLResult Fail(SQLResult code, std::string text) {
        error_.Set(std::move(text));
        return code;
    }

    // The column of the current row, with its null indicator.
    SQLResult Value(std::uint16_t column, Column** c, int* isNull) {
        *isNull = 1;
        *c = At(column);
        if (*c == nullptr) return Fail(kSQLOutOfRange, "Column number out of range");
        if (!onRow_ || atEnd_ || !Live()) return Fail(kSQLEof, "No current row");
        *isNull = ((*c)->nullable && (*c)->indicator < 0) ? 1 : 0;
        return kSQLSuccess;
    }

    static bool Scaled(const Column& c, std::int64_t* value) {
        switch (c.sqltype) {
            case SQL_SHORT: { std::int16_t v; std::memcpy(&v, c.data.data(), 2); *value = v; return true; }
            case SQL_LONG: { std::int32_t v; std::memcpy(&v, c.data.data(), 4); *value = v; return true; }
            case SQL_INT64: { std::int64_t v; std::memcpy(&v, c.data.data(), 8); *value = v; return true; }
            default: return false;
        }
    }

    SQLResult LoadBlob(Column& c) {
        if (c.sqltype != SQL_BLOB) return Fail(kSQLInvalidTranslation, "The column is no blob column");
        if (c.blobRow == st_->row) return kSQLSuccess;
        c.blob.clear();
        const FbClient& api = *st_->att->api;
        const WatchedCall watch(api, st_->att->db, st_->att->WatchSeconds(), &st_->att->linkClosed);
        ISC_STATUS_ARRAY status;
        isc_blob_handle blob = 0;
        ISC_QUAD id;
        std::memcpy(&id, c.data.data(), sizeof id);
        if (api.open_blob2(status, &st_->att->db, &tr_, &blob, &id, 0, nullptr) != 0)
            return Fail(kSQLServerError, st_->att->StatusText(status));
        // A positive "BlobSize" limits a blob to that many KiB; otherwise it is read whole.
        const std::size_t limit = st_->att->blobSize > 0 ? static_cast<std::size_t>(st_->att->blobSize) * 1024 : SIZE_MAX;
        char segment[kMaxSegment];
        for (;;) {
            unsigned short got = 0;
            const ISC_STATUS rc = api.get_segment(status, &blob, &got, sizeof segment, segment);
            if (rc != 0 && rc != isc_segment) {
                if (rc == isc_segstr_eof) break;
                ISC_STATUS_ARRAY ignored;
                api.close_blob(ignored, &blob);
                c.blob.clear();
                return Fail(kSQLServerError, st_->att->StatusText(status));
            }
            c.blob.insert(c.blob.end(), segment, segment + got);
            if (c.blob.size() >= limit) {
                c.blob.resize(limit);
                break;
            }
        }
        api.close_blob(status, &blob);
        c.blobRow = st_->row;
        return kSQLSuccess;
    }

    std::shared_ptr<FbStatement> st_;
    isc_tr_handle tr_;
    unsigned generation_;
    bool onRow_ = false;
    bool atEnd_ = false;
    ErrorText error_;
};

// A cursor over rows the driver made itself (the index list).
class MemoryCursor final : public ISQLCursor {
public:
    using Cell = MemoryCell;
    using ColumnSpec = MemoryColumn;

    MemoryCursor(std::vector<ColumnSpec> columns, std::vector<std::vector<Cell>> rows)
        : columns_(std::move(columns)), rows_(std::move(rows)) {}

    SQLResult GetColumnCount(std::uint16_t* count) override {
        *count = static_cast<std::uint16_t>(columns_.size());
        return kSQLSuccess;
    }
    SQLResult GetColumnName(std::uint16_t column, char* name, std::uint32_t bufferSize) override {
        if (!Valid(column)) return kSQLOutOfRange;
        if (name == nullptr || bufferSize == 0) return kSQLInvalidParameter;
        const auto text = Utf8Prefix(columns_[column - 1].name, bufferSize - 1);
        std::memcpy(name, text.data(), text.size());
        name[text.size()] = '\0';
        return kSQLSuccess;
    }
    SQLResult GetColumnType(std::uint16_t column, std::uint16_t* logType, std::uint16_t* subType) override {
        if (!Valid(column)) return kSQLOutOfRange;
        *logType = columns_[column - 1].logType;
        *subType = kSubNone;
        return kSQLSuccess;
    }
    SQLResult GetColumnLength(std::uint16_t column, std::uint32_t* length) override {
        if (!Valid(column)) return kSQLOutOfRange;
        *length = columns_[column - 1].width;
        return kSQLSuccess;
    }
    SQLResult GetColumnPrecision(std::uint16_t column, std::uint16_t* precision) override {
        if (!Valid(column)) return kSQLOutOfRange;
        *precision = static_cast<std::uint16_t>(columns_[column - 1].width);
        return kSQLSuccess;
    }
    SQLResult GetColumnScale(std::uint16_t column, std::int16_t* scale) override {
        if (!Valid(column)) return kSQLOutOfRange;
        *scale = 0;
        return kSQLSuccess;
    }
    SQLResult IsNullable(std::uint16_t column, int* nullable) override {
        if (!Valid(column)) return kSQLOutOfRange;
        *nullable = 1;
        return kSQLSuccess;
    }
    SQLResult IsReadOnly(std::uint16_t column, int* readOnly) override {
        if (!Valid(column)) return kSQLOutOfRange;
        *readOnly = 1;
        return kSQLSuccess;
    }
    SQLResult Next() override {
        if (next_ >= rows_.size()) {
            current_ = rows_.size();
            return kSQLEndOfData;
        }
        current_ = next_++;
        return kSQLSuccess;
    }
    SQLResult GetString(std::uint16_t column, char* buffer, std::uint32_t bufferSize, int* isNull) override {
        const Cell* cell = CellAt(column, isNull);
        if (cell == nullptr) return kSQLEof;
        if (*isNull) return kSQLSuccess;
        if (buffer == nullptr || bufferSize == 0) return kSQLInvalidParameter;
        const auto text = Utf8Prefix(cell->text, bufferSize - 1);
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = '\0';
        return kSQLSuccess;
    }
    SQLResult GetShort(std::uint16_t column, std::int16_t* value, int* isNull) override {
        const Cell* cell = CellAt(column, isNull);
        if (cell == nullptr) return kSQLEof;
        if (!*isNull) *value = static_cast<std::int16_t>(cell->number);
        return kSQLSuccess;
    }
    SQLResult GetLong(std::uint16_t column, std::int32_t* value, int* isNull) override {
        const Cell* cell = CellAt(column, isNull);
        if (cell == nullptr) return kSQLEof;
        if (!*isNull) *value = cell->number;
        return kSQLSuccess;
    }
    SQLResult GetInt64(std::uint16_t column, std::int64_t* value, int* isNull) override {
        const Cell* cell = CellAt(column, isNull);
        if (cell == nullptr) return kSQLEof;
        if (!*isNull) *value = cell->number;
        return kSQLSuccess;
    }
    SQLResult GetDouble(std::uint16_t, double*, int*) override { return kSQLInvalidTranslation; }
    SQLResult GetBcd(std::uint16_t, void*, int*) override { return kSQLInvalidTranslation; }
    SQLResult GetTimeStamp(std::uint16_t, void*, int*) override { return kSQLInvalidTranslation; }
    SQLResult GetTime(std::uint16_t, std::int32_t*, int*) override { return kSQLInvalidTranslation; }
    SQLResult GetDate(std::uint16_t, std::int32_t*, int*) override { return kSQLInvalidTranslation; }
    SQLResult GetBytes(std::uint16_t, void*, std::uint32_t, std::uint32_t*, int*) override {
        return kSQLInvalidTranslation;
    }
    SQLResult GetBlobSize(std::uint16_t, std::uint32_t*, int*) override { return kSQLInvalidTranslation; }
    SQLResult GetBlob(std::uint16_t, void*, int*, std::uint32_t) override { return kSQLInvalidTranslation; }
    SQLResult GetErrorMessageLen(std::uint16_t* length) override { return error_.Length(length); }
    SQLResult GetErrorMessage(char* buffer, std::uint32_t bufferSize) override { return error_.Copy(buffer, bufferSize); }

private:
    bool Valid(std::uint16_t column) const { return column >= 1 && column <= columns_.size(); }
    const Cell* CellAt(std::uint16_t column, int* isNull) {
        *isNull = 1;
        if (!Valid(column) || current_ >= rows_.size()) return nullptr;
        const Cell& cell = rows_[current_][column - 1];
        *isNull = cell.isNull ? 1 : 0;
        return &cell;
    }

    std::vector<ColumnSpec> columns_;
    std::vector<std::vector<Cell>> rows_;
    std::size_t next_ = 0;
    std::size_t current_ = SIZE_MAX;
    ErrorText error_;
};

}  // namespace

ISQLCursor* NewFbCursor(std::shared_ptr<FbStatement> statement, isc_tr_handle tr) {
    return new FbCursor(std::move(statement), tr);
}

ISQLCursor* NewMemoryCursor(std::vector<MemoryColumn> columns, std::vector<std::vector<MemoryCell>> rows) {
    return new MemoryCursor(std::move(columns), std::move(rows));
}

}  // namespace tarnwick::sqlfb::detail
