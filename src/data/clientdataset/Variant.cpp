#include "data/clientdataset/Variant.h"

#include "base/Exception.h"
#include "base/Text.h"
#include "data/clientdataset/DateTimeForms.h"
#include "data/clientdataset/Locale.h"

#include <cmath>
#include <limits>

namespace tarnwick {

using locale::TConvStatus;

const char* VarTypeName(TVarType type) {
    switch (type) {
    case varEmpty: return "Empty";
    case varNull: return "Null";
    case varInteger: return "Integer";
    case varInt64: return "Int64";
    case varDouble: return "Double";
    case varCurrency: return "Currency";
    case varDate: return "Date";
    case varBoolean: return "Boolean";
    case varString: return "String";
    case varWideString: return "OleStr";
    case varByteArray: return "Array Byte";
    case varFMTBcd: return "FMTBcdVariantType";
    case varSQLTimeStamp: return "SQLTimeStampVariantType";
    }
    return "Unknown";
}

void RaiseVarCastError(TVarType from, TVarType to) {
    throw EVariantError(Format("Could not convert variant of type (%s) into type (%s)",
                               VarTypeName(from), VarTypeName(to)));
}

namespace {

[[noreturn]] void RaiseVarOverflow(TVarType from, TVarType to) {
    throw EVariantError(Format("Overflow while converting variant of type (%s) into type (%s)",
                               VarTypeName(from), VarTypeName(to)));
}

[[noreturn]] void RaiseRangeCheck() { throw ERangeError("Range check error"); }

std::string TextOf(const TVariant& v) {
    return v.VarType() == varString ? v.Text() : Utf16ToUtf8(v.WideText());
}

// A double rounded to an integer (ties to even) within [low, high]; ERangeError outside.
std::int64_t RoundToRange(double value, double low, double high) {
    const double rounded = std::nearbyint(value);
    if (!(rounded >= low && rounded <= high)) RaiseRangeCheck();
    return static_cast<std::int64_t>(rounded);
}

// Currency units divided by 10 000, ties to even.
std::int64_t CurrencyToInteger(std::int64_t units) {
    std::int64_t quotient = units / 10000;
    const std::int64_t remainder = units % 10000;
    const std::int64_t twice = 2 * (remainder < 0 ? -remainder : remainder);
    if (twice > 10000 || (twice == 10000 && quotient % 2 != 0)) quotient += remainder < 0 ? -1 : 1;
    return quotient;
}

double TimeStampToDouble(const TVariant& v, TVarType to) {
    const auto value = SQLTimeStampToDateTime(v.SQLTimeStamp());
    if (!value) RaiseVarCastError(v.VarType(), to);
    return *value;
}

std::string SQLTimeStampText(const TSQLTimeStamp& stamp) {
    if (stamp.Blank()) return {};
    std::string out = Format("%04d", stamp.Year) + locale::kDateSeparator +
                      Format("%02u", static_cast<unsigned>(stamp.Month)) + locale::kDateSeparator +
                      Format("%02u", static_cast<unsigned>(stamp.Day));
    if (stamp.Hour == 0 && stamp.Minute == 0 && stamp.Second == 0 && stamp.Fractions == 0) return out;
    out += ' ';
    out += Format("%02u", static_cast<unsigned>(stamp.Hour)) + locale::kTimeSeparator +
           Format("%02u", static_cast<unsigned>(stamp.Minute)) + locale::kTimeSeparator +
           Format("%02u", static_cast<unsigned>(stamp.Second));
    return out;
}

}  // namespace

std::string VarToText(const TVariant& v) {
    switch (v.VarType()) {
    case varEmpty: return {};
    case varInteger: return std::to_string(v.Int32());
    case varInt64: return std::to_string(v.Int64());
    case varDouble: return locale::FloatToText(v.Double());
    case varCurrency: return locale::CurrencyToText(v.CurrencyUnits());
    case varDate: return locale::DateTimeToText(v.DateTime());
    case varBoolean: return locale::BoolToText(v.Boolean());
    case varString: return v.Text();
    case varWideString: return Utf16ToUtf8(v.WideText());
    case varFMTBcd: return BcdToString(v.Bcd());
    case varSQLTimeStamp: return SQLTimeStampText(v.SQLTimeStamp());
    case varNull:
    case varByteArray:
        break;
    }
    RaiseVarCastError(v.VarType(), varString);
}

std::u16string VarToWideText(const TVariant& v) {
    if (v.VarType() == varWideString) return v.WideText();
    return Utf8ToUtf16(VarToText(v));
}

std::int64_t VarToInt64(const TVariant& v) {
    constexpr double kLow = -9223372036854775808.0;
    constexpr double kHigh = 9223372036854774784.0;  // the largest double below 2^63
    switch (v.VarType()) {
    case varEmpty: return 0;
    case varInteger: return v.Int32();
    case varInt64: return v.Int64();
    case varDouble: return RoundToRange(v.Double(), kLow, kHigh);
    case varDate: return RoundToRange(v.DateTime(), kLow, kHigh);
    case varCurrency: return CurrencyToInteger(v.CurrencyUnits());
    case varBoolean: return v.Boolean() ? 1 : 0;
    case varString:
    case varWideString: {
        const std::string text = TextOf(v);
        std::int64_t value = 0;
        const TConvStatus status = locale::TextToInt64(text, value);
        if (status == TConvStatus::Ok) return value;
        if (status == TConvStatus::Overflow) RaiseVarOverflow(v.VarType(), varInt64);
        bool word = false;
        if (locale::BoolWord(text, word)) return word ? 1 : 0;
        break;
    }
    case varFMTBcd: return RoundToRange(VarToDouble(v), kLow, kHigh);
    case varSQLTimeStamp: return RoundToRange(TimeStampToDouble(v, varInt64), kLow, kHigh);
    case varNull:
    case varByteArray:
        break;
    }
    RaiseVarCastError(v.VarType(), varInt64);
}

std::int32_t VarToInt32(const TVariant& v) {
    constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    switch (v.VarType()) {
    case varString:
    case varWideString: {
        const std::string text = TextOf(v);
        std::int32_t parsed = 0;
        const TConvStatus status = locale::TextToInt32(text, parsed);
        if (status == TConvStatus::Ok) return parsed;
        if (status == TConvStatus::Overflow) RaiseVarOverflow(v.VarType(), varInteger);
        bool word = false;
        if (locale::BoolWord(text, word)) return word ? 1 : 0;
        RaiseVarCastError(v.VarType(), varInteger);
    }
    default:
        value = VarToInt64(v);
        break;
    }
    if (value < kLow || value > kHigh) RaiseRangeCheck();
    return static_cast<std::int32_t>(value);
}

double VarToDouble(const TVariant& v) {
    switch (v.VarType()) {
    case varEmpty: return 0;
    case varInteger: return v.Int32();
    case varInt64: return static_cast<double>(v.Int64());
    case varDouble: return v.Double();
    case varDate: return v.DateTime();
    case varCurrency: return static_cast<double>(v.CurrencyUnits()) / 10000.0;
    case varBoolean: return v.Boolean() ? 1 : 0;
    case varString:
    case varWideString: {
        double value = 0;
        const TConvStatus status = locale::TextToDouble(TextOf(v), value);
        if (status == TConvStatus::Ok) return value;
        if (status == TConvStatus::Overflow) RaiseVarOverflow(v.VarType(), varDouble);
        break;
    }
    case varFMTBcd: {
        double value = 0;
        if (locale::TextToDouble(BcdToString(v.Bcd()), value) == TConvStatus::Ok) return value;
        break;
    }
    case varSQLTimeStamp: return TimeStampToDouble(v, varDouble);
    case varNull:
    case varByteArray:
        break;
    }
    RaiseVarCastError(v.VarType(), varDouble);
}

std::int64_t VarToCurrency(const TVariant& v) {
    constexpr std::int64_t kMaxWhole = std::numeric_limits<std::int64_t>::max() / 10000;
    const auto fromDouble = [&](double value) -> std::int64_t {
        const double units = std::nearbyint(value * 10000.0);
        if (!(units >= -9223372036854775808.0 && units <= 9223372036854774784.0))
            RaiseVarOverflow(v.VarType(), varCurrency);
        return static_cast<std::int64_t>(units);
    };
    switch (v.VarType()) {
    case varEmpty: return 0;
    case varInteger: return static_cast<std::int64_t>(v.Int32()) * 10000;
    case varInt64:
        if (v.Int64() > kMaxWhole || v.Int64() < -kMaxWhole) RaiseVarOverflow(v.VarType(), varCurrency);
        return v.Int64() * 10000;
    case varDouble: return fromDouble(v.Double());
    case varDate: return fromDouble(v.DateTime());
    case varCurrency: return v.CurrencyUnits();
    case varBoolean: return v.Boolean() ? 10000 : 0;
    case varString:
    case varWideString:
    case varFMTBcd: {
        const std::string text = v.VarType() == varFMTBcd ? BcdToString(v.Bcd()) : TextOf(v);
        std::int64_t units = 0;
        const TConvStatus status = locale::TextToCurrency(text, units);
        if (status == TConvStatus::Ok) return units;
        if (status == TConvStatus::Overflow) RaiseVarOverflow(v.VarType(), varCurrency);
        break;
    }
    case varSQLTimeStamp: return fromDouble(TimeStampToDouble(v, varCurrency));
    case varNull:
    case varByteArray:
        break;
    }
    RaiseVarCastError(v.VarType(), varCurrency);
}

TDateTime VarToDateTime(const TVariant& v) {
    switch (v.VarType()) {
    case varEmpty: return 0;
    case varInteger: return v.Int32();
    case varInt64: return static_cast<double>(v.Int64());
    case varDouble: return v.Double();
    case varDate: return v.DateTime();
    case varCurrency: return static_cast<double>(v.CurrencyUnits()) / 10000.0;
    case varString:
    case varWideString: {
        const std::string text = TextOf(v);
        TDateTime value = 0;
        if (locale::TextToDateTime(text, value) == TConvStatus::Ok) return value;
        double days = 0;
        if (locale::TextToDouble(text, days) == TConvStatus::Ok) return days;
        break;
    }
    case varFMTBcd: return VarToDouble(v);
    case varSQLTimeStamp: return TimeStampToDouble(v, varDate);
    case varNull:
    case varBoolean:
    case varByteArray:
        break;
    }
    RaiseVarCastError(v.VarType(), varDate);
}

bool VarToBoolean(const TVariant& v) {
    switch (v.VarType()) {
    case varEmpty: return false;
    case varInteger: return v.Int32() != 0;
    case varInt64: return v.Int64() != 0;
    case varDouble: return v.Double() != 0;
    case varDate: return v.DateTime() != 0;
    case varCurrency: return v.CurrencyUnits() != 0;
    case varBoolean: return v.Boolean();
    case varString:
    case varWideString: {
        const std::string text = TextOf(v);
        bool value = false;
        const TConvStatus status = locale::TextToBool(text, value);
        if (status == TConvStatus::Ok) return value;
        if (locale::BoolWord(text, value)) return value;
        break;
    }
    case varFMTBcd: return VarToDouble(v) != 0;
    case varNull:
    case varByteArray:
    case varSQLTimeStamp:
        break;
    }
    RaiseVarCastError(v.VarType(), varBoolean);
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    const auto byteAt = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    while (i < text.size()) {
        const unsigned char lead = byteAt(i);
        char32_t code = 0xFFFD;
        std::size_t length = 1;
        if (lead < 0x80) {
            code = lead;
        } else {
            const std::size_t need = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
            if (need && i + need <= text.size()) {
                char32_t c = lead & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
                bool ok = true;
                for (std::size_t k = 1; k < need; ++k) {
                    if ((byteAt(i + k) & 0xC0) != 0x80) {
                        ok = false;
                        break;
                    }
                    c = (c << 6) | (byteAt(i + k) & 0x3F);
                }
                const bool overlong = (need == 3 && c < 0x800) || (need == 4 && c < 0x10000);
                if (ok && !overlong && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
                    code = c;
                    length = need;
                }
            }
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace tarnwick
