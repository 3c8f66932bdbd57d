#include "sqlfb/FbDriver.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/Text.h"
#include "base/ValueForms.h"
#include "sqlfb/FbValues.h"

namespace tarnwick::sqlfb {

// ---------------------------------------------------------------------------------------------
// Error texts

SQLResult ErrorText::Length(std::uint16_t* length) const {
    if (length == nullptr) return kSQLInvalidParameter;
    *length = static_cast<std::uint16_t>(std::min<std::size_t>(text_.size(), 65535));
    return kSQLSuccess;
}

SQLResult ErrorText::Copy(char* buffer, std::uint32_t bufferSize) const {
    if (buffer == nullptr || bufferSize == 0) return kSQLInvalidParameter;
    const std::string_view text = Utf8Prefix(text_, std::min<std::size_t>(bufferSize - 1, 65535));
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return kSQLSuccess;
}

namespace detail {

// ---------------------------------------------------------------------------------------------
// Small helpers

// Nothing may be thrown across the driver boundary: an allocation failure or any other
// exception inside an operation becomes a result code.
template <class Fn>
SQLResult Guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return kSQLNoMemory;
    } catch (...) {
        return kSQLInvalidParameter;
    }
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using SqlDa = std::unique_ptr<XSQLDA, FreeDeleter>;

SqlDa NewSqlDa(int count) {
    count = std::max(count, 1);
    auto* da = static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(count)));
    if (da == nullptr) throw std::bad_alloc();
    da->version = SQLDA_VERSION1;
    da->sqln = static_cast<ISC_SHORT>(count);
    return SqlDa(da);
}

std::string TrimRight(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// Bytes per character of a Firebird character set id (for fixed CHAR padding).
int BytesPerChar(int charSet) {
    switch (charSet) {
        case 3: return 3;            // UNICODE_FSS
        case 4: case 69: return 4;   // UTF8, GB18030
        case 5: case 6: case 44: case 56: case 57: case 67: case 68: return 2;
        default: return 1;
    }
}

// A UTF-8 text cut after `chars` characters (the padding Firebird adds to fixed CHAR values in a
// multi-byte character set goes beyond the declared length).
std::string_view Utf8Chars(std::string_view text, std::size_t chars) {
    std::size_t i = 0;
    std::size_t seen = 0;
    while (i < text.size()) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == chars) break;
            ++seen;
        }
        ++i;
    }
    return text.substr(0, i);
}

std::size_t Utf8Length(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

bool IdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool IdentChar(char c) { return IdentStart(c) || std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '$'; }

// Reads a query or a DELETE for string values that its WHERE clause compares a column with
// ("COL = 'v'", at the outer level, not joined with || nor followed by COLLATE). On success `shape`
// is the text with each such value replaced by "?" and `literals` the values, quotes undone.
// Anything unusual (comments, UNION, an unterminated quote, no such value) answers false.
bool SplitComparedLiterals(std::string_view sql, std::string* shape, std::vector<std::string>* literals) {
    enum class Token { kNone, kIdent, kEquals, kOther };
    std::size_t i = 0;
    const std::size_t n = sql.size();
    while (i < n && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
    const auto startsWith = [&](std::string_view word) {
        return n - i >= word.size() && SameTextAscii(sql.substr(i, word.size()), word) &&
               (n - i == word.size() || !IdentChar(sql[i + word.size()]));
    };
    if (!startsWith("SELECT") && !startsWith("DELETE")) return false;
    shape->assign(sql.substr(0, i));
    literals->clear();
    int depth = 0;
    bool inWhere = false;
    bool stopped = false;
    Token last = Token::kNone;
    Token beforeEquals = Token::kNone;
    while (i < n) {
        const char c = sql[i];
        if ((c == '-' && i + 1 < n && sql[i + 1] == '-') || (c == '/' && i + 1 < n && sql[i + 1] == '*')) return false;
        if (c == '"') {
            const std::size_t start = i++;
            for (;;) {
                if (i >= n) return false;
                if (sql[i] == '"' && i + 1 < n && sql[i + 1] == '"') { i += 2; continue; }
                if (sql[i++] == '"') break;
            }
            shape->append(sql.substr(start, i - start));
            last = Token::kIdent;
            continue;
        }
        if (c == '\'') {
            const std::size_t start = i++;
            std::string value;
            for (;;) {
                if (i >= n) return false;
                if (sql[i] == '\'' && i + 1 < n && sql[i + 1] == '\'') { value += '\''; i += 2; continue; }
                if (sql[i] == '\'') { ++i; break; }
                value += sql[i++];
            }
            bool take = inWhere && !stopped && depth == 0 && last == Token::kEquals && beforeEquals == Token::kIdent;
            if (take) {
                std::size_t j = i;
                while (j < n && std::isspace(static_cast<unsigned char>(sql[j]))) ++j;
                if (j < n && sql[j] != ';') {
                    std::size_t k = j;
                    while (k < n && IdentChar(sql[k])) ++k;
                    take = k > j && IdentStart(sql[j]) && !SameTextAscii(sql.substr(j, k - j), "COLLATE");
                }
            }
            if (take) {
                *shape += '?';
                literals->push_back(std::move(value));
            } else {
                shape->append(sql.substr(start, i - start));
            }
            last = Token::kOther;
            continue;
        }
        if (IdentStart(c)) {
            const std::size_t start = i;
            while (i < n && IdentChar(sql[i])) ++i;
            const std::string_view word = sql.substr(start, i - start);
            if (depth == 0) {
                if (SameTextAscii(word, "UNION")) return false;
                if (SameTextAscii(word, "WHERE")) inWhere = true;
                for (const char* end : {"ORDER", "GROUP", "HAVING", "PLAN", "ROWS", "FOR", "FETCH", "OFFSET", "RETURNING"}) {
                    if (inWhere && SameTextAscii(word, end)) stopped = true;
                }
            }
            shape->append(word);
            last = Token::kIdent;
            continue;
        }
        if (c == '=') {
            const bool compound = last == Token::kOther && !shape->empty() &&
                                  std::string_view("<>!~^").find(shape->back()) != std::string_view::npos;
            beforeEquals = last;
            last = compound ? Token::kOther : Token::kEquals;
        } else if (c == '(') {
            ++depth;
            last = Token::kOther;
        } else if (c == ')') {
            --depth;
            last = Token::kOther;
        } else if (c == '.') {
            // "T.COL": the name goes on.
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            last = Token::kOther;
        }
        *shape += c;
        ++i;
    }
    return !literals->empty() && depth == 0;
}

void AppendDpb(std::string& dpb, char tag, const std::string& value) {
    const std::size_t n = std::min<std::size_t>(value.size(), 255);
    dpb += tag;
    dpb += static_cast<char>(n);
    dpb.append(value, 0, n);
}

constexpr unsigned kMaxSegment = 32767;

// ---------------------------------------------------------------------------------------------
// Statement state shared by a command and its cursor

struct Column {
    std::string name;
    short sqltype = 0;  // without the nullable bit
    short sqlscale = 0;
    short sqlsubtype = 0;
    short sqllen = 0;
    bool nullable = false;
    bool readOnly = false;
    std::uint16_t logType = kLogUnknown;
    std::uint16_t subType = kSubNone;
    std::uint16_t precision = 0;
    std::int16_t scale = 0;
    std::uint32_t length = 0;
    std::vector<char> data;
    short indicator = 0;
    // The blob of the current row, read whole on the first request.
    std::vector<char> blob;
    std::uint64_t blobRow = 0;
};

void DescribeColumn(const XSQLVAR& var, Column& c) {
    c.name.assign(var.aliasname, static_cast<std::size_t>(std::max<short>(var.aliasname_length, 0)));
    c.sqltype = static_cast<short>(var.sqltype & ~1);
    c.sqlscale = var.sqlscale;
    c.sqlsubtype = var.sqlsubtype;
    c.sqllen = var.sqllen;
    c.nullable = (var.sqltype & 1) != 0;
    c.readOnly = var.relname_length == 0;
    const auto places = static_cast<std::int16_t>(-var.sqlscale);
    switch (c.sqltype) {
        case SQL_TEXT:
            c.logType = kLogString;
            c.subType = kSubFixed;
            c.precision = static_cast<std::uint16_t>(var.sqllen);
            c.length = static_cast<std::uint32_t>(var.sqllen);
            break;
        case SQL_VARYING:
            c.logType = kLogString;
            c.precision = static_cast<std::uint16_t>(var.sqllen);
            c.length = static_cast<std::uint32_t>(var.sqllen);
            break;
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64:
            if (c.sqltype == SQL_INT64 || var.sqlscale != 0) {
                // Exact numerics with places, and every 64-bit integer, travel as BCD: a 64-bit
                // value has no logical type the data layer reads.
                c.logType = kLogBcd;
                c.precision = c.sqltype == SQL_SHORT ? 4 : c.sqltype == SQL_LONG ? 9 : (var.sqlscale == 0 ? 19 : 18);
                c.scale = places;
                c.length = sizeof(TBcd);
            } else if (c.sqltype == SQL_SHORT) {
                c.logType = kLogInt16;
                c.precision = 5;
                c.length = 2;
            } else {
                c.logType = kLogInt32;
                c.precision = 10;
                c.length = 4;
            }
            break;
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            c.logType = kLogFloat;
            c.precision = 15;
            c.length = 8;
            break;
        case SQL_TYPE_DATE:
            c.logType = kLogDate;
            c.length = 4;
            break;
        case SQL_TYPE_TIME:
            c.logType = kLogTime;
            c.length = 4;
            break;
        case SQL_TIMESTAMP:
            c.logType = kLogTimeStamp;
            c.length = sizeof(TSQLTimeStamp);
            break;
        case SQL_BOOLEAN:
            c.logType = kLogBoolean;
            c.length = 2;
            break;
        case SQL_BLOB:
            c.logType = kLogBlob;
            c.subType = var.sqlsubtype == 1 ? kSubMemo : kSubBinary;
            break;
        case SQL_NULL:
            c.logType = kLogString;
            c.precision = 1;
            c.length = 1;
            break;
        default:
            c.logType = kLogUnknown;
            break;
    }
    // Room for the value as Firebird delivers it (VARYING: 2-byte length first).
    std::size_t room = static_cast<std::size_t>(std::max<short>(var.sqllen, 0));
    if (c.sqltype == SQL_VARYING) room += 2;
    c.data.assign(std::max<std::size_t>(room, 8), '\0');
}

struct FbStatement {
    std::shared_ptr<FbAttachment> att;
    std::string sql;  // the prepared text
    isc_stmt_handle handle = 0;
    unsigned epoch = 0;
    bool prepared = false;
    int type = 0;
    SqlDa out;
    std::vector<Column> columns;
    SqlDa in;
    std::vector<XSQLVAR> inDescribed;  // input variables as the server described them
    bool cursorOpen = false;
    bool inReadTransaction = false;  // the open cursor runs in the attachment's read transaction
    unsigned generation = 0;  // raised whenever the open cursor ends
    std::uint64_t row = 0;    // raised at every fetched row
    std::uint64_t serial = 0;  // given at every prepare, never twice in a process

    bool HandleValid() const { return handle != 0 && att->Attached() && att->epoch == epoch; }

    void CloseCursor() {
        const bool wasOpen = cursorOpen && HandleValid();
        if (wasOpen) {
            ISC_STATUS_ARRAY status;
            att->api->dsql_free_statement(status, &handle, DSQL_close);
        }
        cursorOpen = false;
        ++generation;
        if (wasOpen && inReadTransaction) att->ReadCursorClosed();
        inReadTransaction = false;
    }

    ~FbStatement() {
        CloseCursor();
        if (HandleValid()) {
            ISC_STATUS_ARRAY status;
            att->api->dsql_free_statement(status, &handle, DSQL_drop);
        }
    }
};

// ---------------------------------------------------------------------------------------------
// Cursors

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
        ISC_STATUS_ARRAY status;
        const ISC_STATUS rc = st_->att->api->dsql_fetch(status, &st_->handle, SQL_DIALECT_V6, st_->out.get());
        if (rc == 100) {
            atEnd_ = true;
            return kSQLEndOfData;
        }
        if (rc != 0) return Fail(kSQLServerError, st_->att->api->StatusText(status));
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
        ISC_STATUS_ARRAY status;
        isc_blob_handle blob = 0;
        ISC_QUAD id;
        std::memcpy(&id, c.data.data(), sizeof id);
        if (api.open_blob2(status, &st_->att->db, &tr_, &blob, &id, 0, nullptr) != 0)
            return Fail(kSQLServerError, api.StatusText(status));
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
                return Fail(kSQLServerError, api.StatusText(status));
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
    struct Cell {
        bool isNull = false;
        std::string text;
        std::int32_t number = 0;
    };
    struct ColumnSpec {
        const char* name;
        std::uint16_t logType;
        std::uint32_t width;
    };

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

// ---------------------------------------------------------------------------------------------
// Commands

struct ParamValue {
    bool set = false;
    bool isNull = true;
    std::uint16_t logType = kLogUnknown;
    std::uint16_t subType = kSubNone;
    std::string bytes;  // as handed over (short values stay inside the object)
};

class FbCommand final : public ISQLCommand {
public:
    explicit FbCommand(std::shared_ptr<FbAttachment> att) : st_(std::make_shared<FbStatement>()) {
        st_->att = std::move(att);
    }

    SQLResult SetOption(std::uint16_t option, std::intptr_t value) override {
        if (option == kCommRowsetSize) rowsetSize_ = static_cast<std::int32_t>(value);
        return kSQLSuccess;  // the other options change nothing here
    }
    SQLResult GetOption(std::uint16_t option, void* buffer, std::int32_t maxLength, std::int32_t* length) override {
        if (option == kCommStatementSerial && buffer != nullptr && maxLength >= 8) {
            const std::uint64_t serial = st_->prepared && st_->HandleValid() ? st_->serial : 0;
            std::memcpy(buffer, &serial, 8);
            if (length != nullptr) *length = 8;
            return kSQLSuccess;
        }
        if (option != kCommRowsetSize || buffer == nullptr || maxLength < 4) return kSQLNotSupported;
        std::memcpy(buffer, &rowsetSize_, 4);
        if (length != nullptr) *length = 4;
        return kSQLSuccess;
    }

    SQLResult SetParameter(std::uint16_t position, std::uint16_t, std::uint16_t, std::uint16_t logType,
                           std::uint16_t subType, std::int32_t, std::int32_t, std::uint32_t length,
                           const void* buffer, int isNull) override {
        return Guarded([&] { return DoSetParameter(position, logType, subType, length, buffer, isNull); });
    }

    SQLResult DoSetParameter(std::uint16_t position, std::uint16_t logType, std::uint16_t subType,
                             std::uint32_t length, const void* buffer, int isNull) {
        if (position < 1) return Fail(kSQLOutOfRange, "Parameter number out of range");
        if (!Bindable(logType)) return Fail(kSQLInvalidFieldType, "Unsupported parameter type");
        if (params_.size() < position) params_.resize(position);
        ParamValue& p = params_[position - 1];
        p.set = true;
        p.isNull = isNull != 0 || buffer == nullptr;
        p.logType = logType;
        p.subType = subType;
        p.bytes.clear();
        if (!p.isNull) {
            const char* data = static_cast<const char*>(buffer);
            p.bytes.assign(data, data + length);
        }
        return kSQLSuccess;
    }

    ~FbCommand() override { ReleaseStatement(); }

    SQLResult Prepare(const char* sql, std::uint16_t paramCount) override {
        return Guarded([&] { return DoPrepare(sql, paramCount); });
    }

    SQLResult DoPrepare(const char* sql, std::uint16_t paramCount) {
        error_.Clear();
        FbAttachment& att = *st_->att;
        if (!att.Attached()) return Fail(kSQLInvalidHandle, "The connection is closed");
        if (sql == nullptr) return Fail(kSQLInvalidParameter, "No statement text");
        params_.clear();
        params_.reserve(paramCount);
        literals_.clear();
        rowsAffected_ = 0;
        ReleaseStatement();
        // A query or delete that differs from an earlier one only in the string values it
        // compares its columns with ("... where PROD_ID = 'k'") runs as the same prepared
        // statement with those values bound: a new key then costs no server prepare.
        std::string shape;
        std::vector<std::string> literals;
        if (paramCount == 0 && att.Utf8Connection() && SplitComparedLiterals(sql, &shape, &literals)) {
            if (PrepareText(shape.c_str(), static_cast<std::uint16_t>(literals.size())) == kSQLSuccess &&
                LiteralsFit(literals)) {
                literals_ = std::move(literals);
                return kSQLSuccess;
            }
            ReleaseStatement();  // not usable that way: the text is prepared as written
            error_.Clear();
        }
        return PrepareText(sql, paramCount);
    }

    // Prepares `sql` on the server, or takes it from the connection's kept statements.
    SQLResult PrepareText(const char* sql, std::uint16_t paramCount) {
        FbAttachment& att = *st_->att;
        // A text prepared before on this connection comes back from the cache as it was.
        if (auto cached = att.TakeStatement(sql)) {
            st_ = std::move(cached);
            return kSQLSuccess;
        }
        const FbClient& api = *att.api;
        ISC_STATUS_ARRAY status;
        if (st_->handle == 0) {
            if (api.dsql_allocate_statement(status, &att.db, &st_->handle) != 0)
                return Fail(kSQLServerError, api.StatusText(status));
            st_->epoch = att.epoch;
        }
        std::string error;
        isc_tr_handle tr = att.PrepareTransaction(&error);
        if (tr == 0) return Fail(kSQLServerError, error);

        if (!st_->out || st_->out->sqln < 32) st_->out = NewSqlDa(32);
        if (api.dsql_prepare(status, &tr, &st_->handle, 0, sql, static_cast<unsigned short>(att.dialect),
                             st_->out.get()) != 0)
            return Fail(kSQLServerError, api.StatusText(status));
        if (st_->out->sqld > st_->out->sqln) {
            st_->out = NewSqlDa(st_->out->sqld);
            if (api.dsql_describe(status, &st_->handle, SQL_DIALECT_V6, st_->out.get()) != 0)
                return Fail(kSQLServerError, api.StatusText(status));
        }
        if (!ReadStatementType(&error)) return Fail(kSQLServerError, error);

        const int inCount = std::max<int>(paramCount, 8);
        if (!st_->in || st_->in->sqln < inCount) st_->in = NewSqlDa(inCount);
        if (api.dsql_describe_bind(status, &st_->handle, SQL_DIALECT_V6, st_->in.get()) != 0)
            return Fail(kSQLServerError, api.StatusText(status));
        if (st_->in->sqld > st_->in->sqln) {
            st_->in = NewSqlDa(st_->in->sqld);
            if (api.dsql_describe_bind(status, &st_->handle, SQL_DIALECT_V6, st_->in.get()) != 0)
                return Fail(kSQLServerError, api.StatusText(status));
        }
        st_->inDescribed.assign(st_->in->sqlvar, st_->in->sqlvar + st_->in->sqld);

        const int columns = IsQuery() ? st_->out->sqld : 0;
        st_->columns.assign(static_cast<std::size_t>(columns), Column{});
        for (int i = 0; i < columns; ++i) {
            XSQLVAR& var = st_->out->sqlvar[i];
            Column& c = st_->columns[static_cast<std::size_t>(i)];
            DescribeColumn(var, c);
            var.sqldata = c.data.data();
            var.sqlind = &c.indicator;
        }
        st_->out->sqld = static_cast<ISC_SHORT>(columns);
        st_->sql = sql;
        st_->prepared = true;
        static std::atomic<std::uint64_t> lastSerial{0};
        st_->serial = ++lastSerial;
        return kSQLSuccess;
    }

    SQLResult Execute(ISQLCursor** cursor) override {
        return Guarded([&] { return DoExecute(cursor); });
    }

    SQLResult DoExecute(ISQLCursor** cursor) {
        if (cursor != nullptr) *cursor = nullptr;
        error_.Clear();
        FbAttachment& att = *st_->att;
        if (!st_->prepared || !st_->HandleValid()) return Fail(kSQLInvalidHandle, "The statement is not prepared");
        st_->CloseCursor();
        rowsAffected_ = 0;
        const FbClient& api = *att.api;
        std::string error;

        // The transaction: the explicit one, else the read transaction for a query, else one of
        // the statement's own.
        isc_tr_handle own = 0;
        isc_tr_handle tr = 0;
        if (att.ExplicitActive()) {
            tr = att.explicitTr;
        } else if (IsQuery()) {
            tr = att.ReadTransaction(&error);
            if (tr == 0) return Fail(kSQLServerError, error);
        } else {
            if (!att.Start(&own, false, kIsoReadCommitted, &error)) return Fail(kSQLServerError, error);
            tr = own;
        }

        const auto finishOwn = [&](bool commit) {
            if (own == 0) return true;
            ISC_STATUS_ARRAY status;
            if (commit && api.commit_transaction(status, &own) == 0) return true;
            if (commit) error = api.StatusText(status);
            ISC_STATUS_ARRAY ignored;
            if (own != 0) api.rollback_transaction(ignored, &own);
            return false;
        };

        if (st_->type == isc_info_sql_stmt_ddl) {
            // Kept statements and the read transaction would hold the objects a catalog change
            // may alter or drop ("object in use"), and what was learned about tables may go stale.
            att.ForgetCatalog();
            att.ClearStatements();
            att.EndReadTransaction();
        }
        if (!literals_.empty()) {
            params_.assign(literals_.size(), ParamValue{});
            for (std::size_t i = 0; i < literals_.size(); ++i) {
                ParamValue& p = params_[i];
                p.set = true;
                p.isNull = false;
                p.logType = kLogString;
                p.bytes.assign(literals_[i].begin(), literals_[i].end());
                p.bytes.push_back('\0');
            }
        }
        SQLResult bound = BindParameters(tr);
        if (bound != kSQLSuccess) {
            finishOwn(false);
            return bound;
        }
        ISC_STATUS_ARRAY status;
        if (api.dsql_execute(status, &tr, &st_->handle, SQL_DIALECT_V6, st_->in.get()) != 0) {
            const std::string text = api.StatusText(status);
            finishOwn(false);
            return Fail(kSQLServerError, text);
        }
        if (IsQuery()) {
            st_->cursorOpen = true;
            ++st_->generation;
            if (tr == att.readTr) {
                st_->inReadTransaction = true;
                ++att.readCursors;
            }
            if (cursor != nullptr) *cursor = new FbCursor(st_, tr);
            return kSQLSuccess;
        }
        if (!ReadRowsAffected(&error)) {
            finishOwn(false);
            return Fail(kSQLServerError, error);
        }
        if (!finishOwn(true)) return Fail(kSQLServerError, error);
        if (st_->type == isc_info_sql_stmt_ddl) att.ForgetCatalog();
        return kSQLSuccess;
    }

    SQLResult ExecuteImmediate(const char* sql, ISQLCursor** cursor) override {
        if (cursor != nullptr) *cursor = nullptr;
        const SQLResult prepared = Prepare(sql, 0);
        if (prepared != kSQLSuccess) return prepared;
        return Execute(cursor);
    }

    SQLResult GetRowsAffected(std::uint32_t* rows) override {
        if (rows == nullptr) return kSQLInvalidParameter;
        *rows = rowsAffected_;
        return kSQLSuccess;
    }

    SQLResult Close() override {
        st_->CloseCursor();
        return kSQLSuccess;
    }

    SQLResult GetErrorMessageLen(std::uint16_t* length) override { return error_.Length(length); }
    SQLResult GetErrorMessage(char* buffer, std::uint32_t bufferSize) override { return error_.Copy(buffer, bufferSize); }

private:
    bool IsQuery() const {
        return st_->type == isc_info_sql_stmt_select || st_->type == isc_info_sql_stmt_select_for_upd;
    }

    // True when every value taken out of the text goes to a text parameter that holds it whole
    // (a longer value would fail where the text as written just finds nothing).
    bool LiteralsFit(const std::vector<std::string>& literals) const {
        if (st_->inDescribed.size() != literals.size()) return false;
        for (std::size_t i = 0; i < literals.size(); ++i) {
            const XSQLVAR& var = st_->inDescribed[i];
            const short type = static_cast<short>(var.sqltype & ~1);
            if (type != SQL_TEXT && type != SQL_VARYING) return false;
            const int perChar = BytesPerChar(var.sqlsubtype & 0xFF);
            if (Utf8Length(literals[i]) > static_cast<std::size_t>(var.sqllen / perChar)) return false;
            if (literals[i].find('\0') != std::string::npos) return false;
        }
        return true;
    }

    // Hands a prepared statement that no cursor uses to the connection's cache and starts afresh.
    void ReleaseStatement() {
        auto att = st_->att;
        if (st_->prepared && st_->HandleValid() && st_.use_count() == 1) {
            st_->CloseCursor();
            att->PutStatement(std::move(st_));
        }
        st_ = std::make_shared<FbStatement>();
        st_->att = std::move(att);
    }

    static bool Bindable(std::uint16_t logType) {
        switch (logType) {
            case kLogString: case kLogDate: case kLogBlob: case kLogBoolean: case kLogInt16: case kLogInt32:
            case kLogFloat: case kLogBcd: case kLogBytes: case kLogTime: case kLogDateTime: case kLogUInt16:
            case kLogUInt32: case kLogVarBytes: case kLogInt64: case kLogTimeStamp: case kLogFmtBcd:
                return true;
            default:
                return false;
        }
    }

    SQLResult Fail(SQLResult code, std::string text) {
        error_.Set(std::move(text));
        return code;
    }

    bool ReadStatementType(std::string* error) {
        const FbClient& api = *st_->att->api;
        ISC_STATUS_ARRAY status;
        const char items[] = {isc_info_sql_stmt_type};
        char info[16] = {};
        if (api.dsql_sql_info(status, &st_->handle, sizeof items, items, sizeof info, info) != 0) {
            *error = api.StatusText(status);
            return false;
        }
        st_->type = 0;
        if (info[0] == isc_info_sql_stmt_type) {
            const short len = static_cast<short>(api.vax_integer(info + 1, 2));
            st_->type = static_cast<int>(api.vax_integer(info + 3, len));
        }
        return true;
    }

    bool ReadRowsAffected(std::string* error) {
        const FbClient& api = *st_->att->api;
        ISC_STATUS_ARRAY status;
        const char items[] = {isc_info_sql_records};
        char info[64] = {};
        if (api.dsql_sql_info(status, &st_->handle, sizeof items, items, sizeof info, info) != 0) {
            *error = api.StatusText(status);
            return false;
        }
        // isc_info_sql_records, length(2), then items: code(1) length(2) count(length) ... end.
        std::uint32_t total = 0;
        if (info[0] == isc_info_sql_records) {
            const char* p = info + 3;
            const char* end = info + sizeof info;
            while (p + 3 <= end && *p != isc_info_end) {
                const char code = *p;
                const short len = static_cast<short>(api.vax_integer(p + 1, 2));
                if (len < 0 || p + 3 + len > end) break;
                const auto count = static_cast<std::uint32_t>(api.vax_integer(p + 3, len));
                if (code == isc_info_req_update_count || code == isc_info_req_delete_count ||
                    code == isc_info_req_insert_count)
                    total += count;
                p += 3 + len;
            }
        }
        rowsAffected_ = total;
        return true;
    }

    // Fills the input area from the bound values, converting each to a form Firebird converts on
    // to the parameter's own type. Blob parameters are written as blobs in `tr`.
    SQLResult BindParameters(isc_tr_handle tr) {
        XSQLDA* in = st_->in.get();
        const int count = static_cast<int>(st_->inDescribed.size());
        if (static_cast<int>(params_.size()) < count) return Fail(kSQLParameterNotSet, "Parameter not set");
        scratch_.resize(static_cast<std::size_t>(count));
        indicators_.assign(static_cast<std::size_t>(count), 0);
        blobIds_.assign(static_cast<std::size_t>(count), ISC_QUAD{});
        for (int i = 0; i < count; ++i) {
            const auto idx = static_cast<std::size_t>(i);
            ParamValue& p = params_[idx];
            if (!p.set) return Fail(kSQLParameterNotSet, "Parameter not set");
            XSQLVAR& var = in->sqlvar[i];
            var = st_->inDescribed[idx];
            const short described = static_cast<short>(var.sqltype & ~1);
            var.sqlind = &indicators_[idx];
            std::vector<char>& data = scratch_[idx];
            if (p.isNull) {
                indicators_[idx] = -1;
                data.assign(static_cast<std::size_t>(std::max<short>(var.sqllen, 0)) + 8, '\0');
                var.sqltype = static_cast<short>(described | 1);
                var.sqldata = data.data();
                continue;
            }
            const SQLResult r = Convert(p, var, described, data, blobIds_[idx], tr);
            if (r != kSQLSuccess) return r;
            var.sqltype = static_cast<short>(var.sqltype | 1);
            var.sqldata = var.sqltype == (SQL_BLOB | 1) ? reinterpret_cast<char*>(&blobIds_[idx]) : data.data();
        }
        in->sqld = static_cast<ISC_SHORT>(count);
        return kSQLSuccess;
    }

    template <class T>
    static void Put(std::vector<char>& data, XSQLVAR& var, short type, T value, short scale = 0) {
        data.resize(sizeof(T));
        std::memcpy(data.data(), &value, sizeof(T));
        var.sqltype = type;
        var.sqllen = static_cast<short>(sizeof(T));
        var.sqlscale = scale;
        var.sqlsubtype = 0;
    }

    static void PutText(std::vector<char>& data, XSQLVAR& var, short described, const char* bytes, std::size_t n,
                        short charSet) {
        data.assign(bytes, bytes + n);
        if (data.empty()) data.push_back('\0');
        const bool textTarget = described == SQL_TEXT || described == SQL_VARYING;
        var.sqltype = SQL_TEXT;
        var.sqllen = static_cast<short>(n);
        var.sqlscale = 0;
        // A text parameter keeps the character set it was described with.
        if (!textTarget) var.sqlsubtype = charSet;
    }

    template <class T>
    static T Read(const ParamValue& p) {
        T value{};
        std::memcpy(&value, p.bytes.data(), std::min(sizeof(T), p.bytes.size()));
        return value;
    }

    SQLResult Convert(const ParamValue& p, XSQLVAR& var, short described, std::vector<char>& data, ISC_QUAD& blobId,
                      isc_tr_handle tr) {
        switch (p.logType) {
            case kLogString:
            case kLogBlob:
            case kLogBytes:
            case kLogVarBytes: {
                std::size_t n = p.bytes.size();
                // Text arrives zero-terminated: the value ends at the first zero.
                if (p.logType == kLogString) n = ::strnlen(p.bytes.data(), n);
                // A memo arrives as text with its terminating zero counted in the length; the zero
                // is no part of the value and must not reach the stored text.
                if (p.logType == kLogBlob && p.subType == kSubMemo && n > 0 && p.bytes[n - 1] == '\0') --n;
                if (described == SQL_BLOB) return WriteBlob(p.bytes.data(), n, var, blobId, tr);
                if (n > kMaxSegment) return Fail(kSQLInvalidLength, "The value is too long for the parameter");
                const bool binary = p.logType == kLogBytes || p.logType == kLogVarBytes ||
                                    (p.logType == kLogBlob && p.subType != kSubMemo && p.subType != kSubFmtMemo &&
                                     p.subType != kSubHClob);
                PutText(data, var, described, p.bytes.data(), n, binary ? 1 : 0);
                return kSQLSuccess;
            }
            case kLogBoolean:
            case kLogInt16:
                if (described == SQL_BOOLEAN) {
                    Put<char>(data, var, SQL_BOOLEAN, Read<std::int16_t>(p) != 0 ? 1 : 0);
                    var.sqllen = 1;
                    return kSQLSuccess;
                }
                Put<std::int16_t>(data, var, SQL_SHORT, Read<std::int16_t>(p));
                return kSQLSuccess;
            case kLogUInt16:
                Put<std::int32_t>(data, var, SQL_LONG, Read<std::uint16_t>(p));
                return kSQLSuccess;
            case kLogInt32:
                if (described == SQL_BOOLEAN) {
                    Put<char>(data, var, SQL_BOOLEAN, Read<std::int32_t>(p) != 0 ? 1 : 0);
                    var.sqllen = 1;
                    return kSQLSuccess;
                }
                Put<std::int32_t>(data, var, SQL_LONG, Read<std::int32_t>(p));
                return kSQLSuccess;
            case kLogUInt32:
                Put<std::int64_t>(data, var, SQL_INT64, Read<std::uint32_t>(p));
                return kSQLSuccess;
            case kLogInt64:
                Put<std::int64_t>(data, var, SQL_INT64, Read<std::int64_t>(p));
                return kSQLSuccess;
            case kLogFloat:
                Put<double>(data, var, SQL_DOUBLE, Read<double>(p));
                return kSQLSuccess;
            case kLogBcd:
            case kLogFmtBcd: {
                const TBcd bcd = Read<TBcd>(p);
                if (bcd.Places() > 18) return Fail(kSQLInvalidPrecision, "Too many decimal places");
                if (const auto scaled = ScaledFromBcd(bcd)) {
                    Put<std::int64_t>(data, var, SQL_INT64, *scaled, static_cast<short>(-bcd.Places()));
                    return kSQLSuccess;
                }
                // More digits than 64 bits hold: let the server read the decimal text.
                const std::string text = BcdToString(bcd);
                PutText(data, var, described, text.data(), text.size(), 0);
                return kSQLSuccess;
            }
            case kLogDate:
                Put<ISC_DATE>(data, var, SQL_TYPE_DATE, IscDateFromDayNumber(Read<std::int32_t>(p)));
                return kSQLSuccess;
            case kLogTime: {
                const std::int32_t ms = Read<std::int32_t>(p);
                if (ms < 0 || ms >= 86400000) return Fail(kSQLInvalidTime, "Invalid time of day");
                Put<ISC_TIME>(data, var, SQL_TYPE_TIME, static_cast<ISC_TIME>(ms) * 10u);
                return kSQLSuccess;
            }
            case kLogDateTime: {
                const double value = Read<double>(p);
                const auto total = static_cast<std::int64_t>(value);
                const auto day = static_cast<std::int32_t>(total / 86400000);
                const auto ms = static_cast<ISC_TIME>(total % 86400000);
                ISC_TIMESTAMP ts{IscDateFromDayNumber(day), ms * 10u};
                Put<ISC_TIMESTAMP>(data, var, SQL_TIMESTAMP, ts);
                return kSQLSuccess;
            }
            case kLogTimeStamp: {
                const TSQLTimeStamp ts = Read<TSQLTimeStamp>(p);
                if (ts.Month < 1 || ts.Month > 12 || ts.Day < 1 || ts.Day > 31 || ts.Hour > 23 || ts.Minute > 59 ||
                    ts.Second > 59)
                    return Fail(kSQLInvalidTime, "Invalid time stamp");
                Put<ISC_TIMESTAMP>(data, var, SQL_TIMESTAMP, IscFromTimeStamp(ts));
                return kSQLSuccess;
            }
            default:
                return Fail(kSQLInvalidFieldType, "Unsupported parameter type");
        }
    }

    SQLResult WriteBlob(const char* bytes, std::size_t n, XSQLVAR& var, ISC_QUAD& blobId, isc_tr_handle tr) {
        FbAttachment& att = *st_->att;
        const FbClient& api = *att.api;
        ISC_STATUS_ARRAY status;
        isc_blob_handle blob = 0;
        if (api.create_blob2(status, &att.db, &tr, &blob, &blobId, 0, nullptr) != 0)
            return Fail(kSQLServerError, api.StatusText(status));
        for (std::size_t done = 0; done < n;) {
            const auto chunk = static_cast<unsigned short>(std::min<std::size_t>(n - done, kMaxSegment));
            if (api.put_segment(status, &blob, chunk, bytes + done) != 0) {
                const std::string text = api.StatusText(status);
                ISC_STATUS_ARRAY ignored;
                api.cancel_blob(ignored, &blob);
                return Fail(kSQLServerError, text);
            }
            done += chunk;
        }
        if (api.close_blob(status, &blob) != 0) return Fail(kSQLServerError, api.StatusText(status));
        var.sqltype = SQL_BLOB;
        var.sqllen = sizeof(ISC_QUAD);
        return kSQLSuccess;
    }

    std::shared_ptr<FbStatement> st_;
    std::vector<ParamValue> params_;
    std::vector<std::string> literals_;  // values taken out of the text, bound at every execute
    std::vector<std::vector<char>> scratch_;
    std::vector<short> indicators_;
    std::vector<ISC_QUAD> blobIds_;
    std::int32_t rowsetSize_ = 20;
    std::uint32_t rowsAffected_ = 0;
    ErrorText error_;
};

// ---------------------------------------------------------------------------------------------
// Metadata

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
        FbCommand command(att_);
        if (const SQLResult r = command.Prepare(kSql, 1); r != kSQLSuccess) return FailFrom(command, r);
        const std::string name = table + '\0';
        command.SetParameter(1, 0, kParamInput, kLogString, kSubNone, 0, 0,
                             static_cast<std::uint32_t>(name.size()), name.data(), 0);
        ISQLCursor* raw = nullptr;
        if (const SQLResult r = command.Execute(&raw); r != kSQLSuccess) return FailFrom(command, r);
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
        using Cell = MemoryCursor::Cell;
        std::vector<MemoryCursor::ColumnSpec> columns = {
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
        return new MemoryCursor(std::move(columns), std::move(cells));
    }

    std::shared_ptr<FbAttachment> att_;
    ErrorText error_;
};

// ---------------------------------------------------------------------------------------------
// Connections

// The object name that Firebird stores for a name as written in a statement: a quoted name as it
// stands inside its quotes, any other name in upper case; a qualifier before "." is dropped.
std::string ObjectName(std::string name) {
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') return name.substr(1, name.size() - 2);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) name = name.substr(dot + 1);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') return name.substr(1, name.size() - 2);
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

        ISC_STATUS_ARRAY status;
        isc_db_handle db = 0;
        if (att_->api->attach_database(status, 0, path.c_str(), &db, static_cast<short>(dpb.size()), dpb.data()) != 0) {
            error_.Set(att_->api->StatusText(status));
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
            *command = new FbCommand(att_);
            return kSQLSuccess;
        });
    }

    SQLResult GetSQLMetaData(ISQLMetaData** metaData) override {
        if (metaData == nullptr) return kSQLInvalidParameter;
        *metaData = nullptr;
        return Guarded([&] {
            *metaData = new FbMetaData(att_);
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
        ISC_STATUS_ARRAY status;
        if (att_->commitRetain) {
            if (att_->api->commit_retaining(status, &att_->explicitTr) != 0)
                return Fail(kSQLServerError, att_->api->StatusText(status));
            att_->retained = true;
            return kSQLSuccess;
        }
        if (att_->api->commit_transaction(status, &att_->explicitTr) != 0)
            return Fail(kSQLServerError, att_->api->StatusText(status));
        att_->explicitTr = 0;
        return kSQLSuccess;
    }

    SQLResult Rollback(const TTransactionDesc*) override {
        error_.Clear();
        if (!att_->ExplicitActive()) return Fail(kSQLInvalidTransactionId, "There is no active transaction");
        ISC_STATUS_ARRAY status;
        if (att_->api->rollback_transaction(status, &att_->explicitTr) != 0) {
            const std::string text = att_->api->StatusText(status);
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

class FbDriverImpl final : public ISQLDriver {
public:
    explicit FbDriverImpl(std::shared_ptr<const FbClient> api) : api_(std::move(api)) {}

    SQLResult GetSQLConnection(ISQLConnection** connection) override {
        if (connection == nullptr) return kSQLInvalidParameter;
        *connection = nullptr;
        return Guarded([&] {
            *connection = new FbConnectionImpl(api_);
            return kSQLSuccess;
        });
    }
    SQLResult SetOption(std::uint16_t, std::intptr_t) override { return kSQLSuccess; }
    SQLResult GetOption(std::uint16_t, void*, std::int32_t, std::int32_t*) override { return kSQLNotSupported; }

private:
    std::shared_ptr<const FbClient> api_;
};

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
        *error = api->StatusText(status);
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

void FbAttachment::Detach() {
    ClearStatements();  // also breaks the statement -> attachment ownership cycle
    if (db == 0) return;
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

ISQLDriver* NewFbDriver(std::shared_ptr<const FbClient> api) { return new FbDriverImpl(std::move(api)); }

}  // namespace tarnwick::sqlfb

extern "C" __attribute__((visibility("default"))) tarnwick::sqlfb::SQLResult getSQLDriverFIREBIRD(
    const char* vendorLib, const char*, tarnwick::sqlfb::ISQLDriver** driver) {
    using namespace tarnwick::sqlfb;
    if (driver == nullptr) return kSQLInvalidParameter;
    *driver = nullptr;
    try {
        std::string error;
        auto api = FbClient::Load(vendorLib != nullptr ? vendorLib : "", &error);
        if (api == nullptr) return kSQLDriverInitFailed;
        *driver = NewFbDriver(std::move(api));
        return kSQLSuccess;
    } catch (...) {
        return kSQLNoMemory;
    }
}
