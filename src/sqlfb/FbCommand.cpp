#include "sqlfb/FbCommand.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/Text.h"
#include "base/ValueForms.h"
#include "sqlfb/FbCursor.h"
#include "sqlfb/FbHelpers.h"
#include "sqlfb/FbStatement.h"
#include "sqlfb/FbValues.h"
#include "sqlfb/FbWatchdog.h"

namespace tarnwick::sqlfb::detail {

namespace {

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
        if (option == kCommReleaseStatement) {
            error_.Clear();
            literals_.clear();
            rowsAffected_ = 0;
            ReleaseStatement();
        }
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
        const WatchedCall watch(*att.api, att.db, att.WatchSeconds(), &att.linkClosed);
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
                return Fail(kSQLServerError, st_->att->StatusText(status));
            st_->epoch = att.epoch;
        }
        if (const SQLResult r = ServerPrepare(sql, paramCount); r != kSQLSuccess) return r;
        st_->slots.clear();
        // An update or delete that finds its row by a time compares it at the precision the time
        // was read with (milliseconds): Firebird keeps tenths of milliseconds, which a value
        // read and handed back no longer holds, so "= ?" would miss the row for good.
        if (paramCount > 0 && (st_->type == isc_info_sql_stmt_update || st_->type == isc_info_sql_stmt_delete)) {
            std::string widened;
            std::vector<ParamSlot> slots;
            if (WidenTimeComparisons(sql, &widened, &slots)) {
                if (ServerPrepare(widened.c_str(), static_cast<std::uint16_t>(slots.size())) == kSQLSuccess) {
                    st_->slots = std::move(slots);
                } else {
                    error_.Clear();  // not usable that way: the text is prepared as written
                    if (const SQLResult r = ServerPrepare(sql, paramCount); r != kSQLSuccess) return r;
                }
            }
        }

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
        st_->paramCount = paramCount;
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
        if (st_->lostByClose && att.Attached()) {
            // The handle was dropped when its cursor would not close: the text is prepared again.
            const WatchedCall watch(*att.api, att.db, att.WatchSeconds(), &att.linkClosed);
            const std::string sql = st_->sql;
            const std::uint16_t paramCount = st_->paramCount;
            ReleaseStatement();
            if (const SQLResult r = PrepareText(sql.c_str(), paramCount); r != kSQLSuccess) return r;
        }
        if (!st_->prepared || !st_->HandleValid()) return Fail(kSQLInvalidHandle, "The statement is not prepared");
        const WatchedCall watch(*att.api, att.db, att.WatchSeconds(), &att.linkClosed);
        if (std::string closeError = st_->CloseCursor(); !closeError.empty())
            return Fail(kSQLServerError, std::move(closeError));
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
            if (commit) error = st_->att->StatusText(status);
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
            const std::string text = st_->att->StatusText(status);
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
            if (cursor != nullptr) *cursor = NewFbCursor(st_, tr);
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
        error_.Clear();
        if (std::string closeError = st_->CloseCursor(); !closeError.empty())
            return Fail(kSQLServerError, std::move(closeError));
        return kSQLSuccess;
    }

    SQLResult GetErrorMessageLen(std::uint16_t* length) override { return error_.Length(length); }
    SQLResult GetErrorMessage(char* buffer, std::uint32_t bufferSize) override { return error_.Copy(buffer, bufferSize); }

private:
    bool IsQuery() const {
        return st_->type == isc_info_sql_stmt_select || st_->type == isc_info_sql_stmt_select_for_upd;
    }

    // Prepares `text` on the statement's handle and describes its columns and parameters.
    SQLResult ServerPrepare(const char* text, std::uint16_t paramCount) {
        FbAttachment& att = *st_->att;
        const FbClient& api = *att.api;
        ISC_STATUS_ARRAY status;
        std::string error;
        isc_tr_handle tr = att.PrepareTransaction(&error);
        if (tr == 0) return Fail(kSQLServerError, error);

        if (!st_->out || st_->out->sqln < 32) st_->out = NewSqlDa(32);
        if (api.dsql_prepare(status, &tr, &st_->handle, 0, text, static_cast<unsigned short>(att.dialect),
                             st_->out.get()) != 0)
            return Fail(kSQLServerError, st_->att->StatusText(status));
        if (st_->out->sqld > st_->out->sqln) {
            st_->out = NewSqlDa(st_->out->sqld);
            if (api.dsql_describe(status, &st_->handle, SQL_DIALECT_V6, st_->out.get()) != 0)
                return Fail(kSQLServerError, st_->att->StatusText(status));
        }
        if (!ReadStatementType(&error)) return Fail(kSQLServerError, error);

        const int inCount = std::max<int>(paramCount, 8);
        if (!st_->in || st_->in->sqln < inCount) st_->in = NewSqlDa(inCount);
        if (api.dsql_describe_bind(status, &st_->handle, SQL_DIALECT_V6, st_->in.get()) != 0)
            return Fail(kSQLServerError, st_->att->StatusText(status));
        if (st_->in->sqld > st_->in->sqln) {
            st_->in = NewSqlDa(st_->in->sqld);
            if (api.dsql_describe_bind(status, &st_->handle, SQL_DIALECT_V6, st_->in.get()) != 0)
                return Fail(kSQLServerError, st_->att->StatusText(status));
        }
        st_->inDescribed.assign(st_->in->sqlvar, st_->in->sqlvar + st_->in->sqld);
        return kSQLSuccess;
    }

    // `sql` with every "<name> = ?" of its WHERE clause that compares a time-stamp or a time
    // written as "<name> between ? and ?", the range of values that read as the one bound (the
    // millisecond it names and the 0.9 ms after it); `slots` tells which parameter each marker
    // of the new text takes. False when there is no such comparison.
    bool WidenTimeComparisons(std::string_view sql, std::string* widened, std::vector<ParamSlot>* slots) const {
        const auto isTime = [](const XSQLVAR& var) {
            const short type = static_cast<short>(var.sqltype & ~1);
            return type == SQL_TIMESTAMP || type == SQL_TYPE_TIME;
        };
        // Most texts compare no time: they need no scan.
        if (std::none_of(st_->inDescribed.begin(), st_->inDescribed.end(), isTime)) return false;
        std::vector<Marker> markers;
        if (!FindMarkers(sql, &markers) || markers.size() != st_->inDescribed.size()) return false;
        bool any = false;
        std::size_t from = 0;
        widened->clear();
        slots->clear();
        for (std::size_t i = 0; i < markers.size(); ++i) {
            const auto position = static_cast<std::uint16_t>(i);
            slots->push_back({position, false});
            if (markers[i].equals == std::string_view::npos || !isTime(st_->inDescribed[i])) continue;
            widened->append(sql.substr(from, markers[i].equals - from));
            *widened += " between ? and ?";
            from = markers[i].offset + 1;
            slots->push_back({position, true});
            any = true;
        }
        widened->append(sql.substr(from));
        return any;
    }

    // True when every value taken out of the text goes to a text parameter that holds it whole
    // (a longer value would fail where the text as written just finds nothing).
    bool LiteralsFit(const std::vector<std::string>& literals) const {
        if (st_->inDescribed.size() != literals.size()) return false;
        for (std::size_t i = 0; i < literals.size(); ++i) {
            const XSQLVAR& var = st_->inDescribed[i];
            const short type = static_cast<short>(var.sqltype & ~1);
            if (type != SQL_TEXT && type != SQL_VARYING) return false;
            // NONE and OCTETS take the bytes as they come: their length counts bytes. Any other
            // character set counts characters.
            const int charSet = var.sqlsubtype & 0xFF;
            const std::size_t length = charSet == 0 || charSet == 1 ? literals[i].size() : Utf8Length(literals[i]);
            if (length > static_cast<std::size_t>(var.sqllen / BytesPerChar(charSet))) return false;
            if (literals[i].find('\0') != std::string::npos) return false;
        }
        return true;
    }

    // Hands a prepared statement that no cursor uses to the connection's cache and starts afresh.
    void ReleaseStatement() {
        auto att = st_->att;
        // A statement whose cursor would not close has lost its handle and is not kept.
        if (st_->prepared && st_->HandleValid() && st_.use_count() == 1 && st_->CloseCursor().empty())
            att->PutStatement(std::move(st_));
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
            *error = st_->att->StatusText(status);
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
            *error = st_->att->StatusText(status);
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
        const std::vector<ParamSlot>& slots = st_->slots;
        const int wanted = slots.empty() ? count : slots.back().position + 1;
        if (static_cast<int>(params_.size()) < wanted) return Fail(kSQLParameterNotSet, "Parameter not set");
        scratch_.resize(static_cast<std::size_t>(count));
        indicators_.assign(static_cast<std::size_t>(count), 0);
        blobIds_.assign(static_cast<std::size_t>(count), ISC_QUAD{});
        for (int i = 0; i < count; ++i) {
            const auto idx = static_cast<std::size_t>(i);
            ParamValue& p = params_[slots.empty() ? idx : slots[idx].position];
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
            if (!slots.empty() && slots[idx].upperEnd) ToLastTick(var, data);
            var.sqltype = static_cast<short>(var.sqltype | 1);
            var.sqldata = var.sqltype == (SQL_BLOB | 1) ? reinterpret_cast<char*>(&blobIds_[idx]) : data.data();
        }
        in->sqld = static_cast<ISC_SHORT>(count);
        return kSQLSuccess;
    }

    // A time value of whole milliseconds moved to the last tenth of a millisecond that still
    // reads as the same millisecond: the upper end of a widened comparison.
    static void ToLastTick(const XSQLVAR& var, std::vector<char>& data) {
        ISC_TIME* time = nullptr;
        if (var.sqltype == SQL_TIMESTAMP && data.size() >= sizeof(ISC_TIMESTAMP))
            time = &reinterpret_cast<ISC_TIMESTAMP*>(data.data())->timestamp_time;
        else if (var.sqltype == SQL_TYPE_TIME && data.size() >= sizeof(ISC_TIME))
            time = reinterpret_cast<ISC_TIME*>(data.data());
        if (time != nullptr && *time % 10 == 0) *time += 9;
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
                if (!ValidTimeStamp(ts)) return Fail(kSQLInvalidTime, "Invalid time stamp");
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
            return Fail(kSQLServerError, st_->att->StatusText(status));
        for (std::size_t done = 0; done < n;) {
            const auto chunk = static_cast<unsigned short>(std::min<std::size_t>(n - done, kMaxSegment));
            if (api.put_segment(status, &blob, chunk, bytes + done) != 0) {
                const std::string text = st_->att->StatusText(status);
                ISC_STATUS_ARRAY ignored;
                api.cancel_blob(ignored, &blob);
                return Fail(kSQLServerError, text);
            }
            done += chunk;
        }
        if (api.close_blob(status, &blob) != 0) return Fail(kSQLServerError, st_->att->StatusText(status));
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

}  // namespace

ISQLCommand* NewFbCommand(std::shared_ptr<FbAttachment> att) { return new FbCommand(std::move(att)); }

}  // namespace tarnwick::sqlfb::detail
