#include "sqlfb/FbStatement.h"

#include <algorithm>

#include "base/ValueForms.h"

namespace tarnwick::sqlfb::detail {

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
                // value has no logical type the data layer reads. The precision is that of the
                // storage type, not the declared one: Firebird keeps any value the storage holds
                // (327.67 in a NUMERIC(4,2)), and every stored value must read back.
                c.logType = kLogBcd;
                c.precision = c.sqltype == SQL_SHORT ? 5 : c.sqltype == SQL_LONG ? 10 : 19;
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

}  // namespace tarnwick::sqlfb::detail
