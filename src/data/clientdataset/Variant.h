#pragma once
// TVariant: the tagged value in which a field value travels from one dataset to another. It owns
// its content (text, wide text, bytes are held by value). The conversions between the kinds
// (text, integer, number, currency, date-time, boolean) are the free functions below; they raise
// EVariantError when a value cannot be converted and ERangeError for integers out of range.

#include "base/ValueForms.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarnwick {

// Days since 30 December 1899; the time of day is the fraction.
using TDateTime = double;

// The kinds, in the order of the index of the stored alternative.
enum TVarType {
    varEmpty,         // unassigned
    varNull,
    varInteger,       // 32-bit integer
    varInt64,
    varDouble,
    varCurrency,      // 64-bit integer in units of 1/10 000
    varDate,          // TDateTime
    varBoolean,
    varString,        // UTF-8 text
    varWideString,    // UTF-16 text
    varByteArray,     // one-dimensional array of bytes, lower bound 0
    varFMTBcd,        // 34-byte BCD record
    varSQLTimeStamp,  // 16-byte SQL time-stamp record
};

const char* VarTypeName(TVarType type);

class TVariant {
public:
    TVariant() = default;  // unassigned
    TVariant(std::int32_t v) : value_(v) {}
    TVariant(std::int64_t v) : value_(v) {}
    TVariant(double v) : value_(v) {}
    TVariant(bool v) : value_(v) {}
    TVariant(std::string v) : value_(std::move(v)) {}
    TVariant(std::string_view v) : value_(std::string(v)) {}
    TVariant(const char* v) : value_(std::string(v)) {}
    TVariant(std::u16string v) : value_(std::move(v)) {}
    TVariant(std::u16string_view v) : value_(std::u16string(v)) {}
    TVariant(const char16_t* v) : value_(std::u16string(v)) {}
    // Any other pointer would silently become a boolean.
    TVariant(const void*) = delete;
    TVariant(std::vector<std::uint8_t> v) : value_(std::move(v)) {}
    TVariant(const TBcd& v) : value_(v) {}
    TVariant(const TSQLTimeStamp& v) : value_(v) {}

    static TVariant Null() { return TVariant(NullTag{}); }
    static TVariant FromCurrency(std::int64_t units) { return TVariant(Currency{units}); }
    static TVariant FromDateTime(TDateTime v) { return TVariant(Date{v}); }

    TVarType VarType() const { return static_cast<TVarType>(value_.index()); }
    bool IsNull() const { return VarType() == varNull; }
    bool IsEmpty() const { return VarType() == varEmpty; }

    // Raw access; the kind must match (std::bad_variant_access otherwise).
    std::int32_t Int32() const { return std::get<std::int32_t>(value_); }
    std::int64_t Int64() const { return std::get<std::int64_t>(value_); }
    double Double() const { return std::get<double>(value_); }
    std::int64_t CurrencyUnits() const { return std::get<Currency>(value_).Units; }
    TDateTime DateTime() const { return std::get<Date>(value_).Value; }
    bool Boolean() const { return std::get<bool>(value_); }
    const std::string& Text() const { return std::get<std::string>(value_); }
    const std::u16string& WideText() const { return std::get<std::u16string>(value_); }
    const std::vector<std::uint8_t>& Bytes() const { return std::get<std::vector<std::uint8_t>>(value_); }
    const TBcd& Bcd() const { return std::get<TBcd>(value_); }
    const TSQLTimeStamp& SQLTimeStamp() const { return std::get<TSQLTimeStamp>(value_); }

    // Same kind and same content (a test helper more than a value comparison).
    friend bool operator==(const TVariant& a, const TVariant& b) { return a.value_ == b.value_; }

private:
    struct NullTag {
        friend bool operator==(NullTag, NullTag) { return true; }
    };
    struct Currency {
        std::int64_t Units;
        friend bool operator==(Currency a, Currency b) { return a.Units == b.Units; }
    };
    struct Date {
        TDateTime Value;
        friend bool operator==(Date a, Date b) { return a.Value == b.Value; }
    };
    explicit TVariant(NullTag t) : value_(t) {}
    explicit TVariant(Currency c) : value_(c) {}
    explicit TVariant(Date d) : value_(d) {}

    std::variant<std::monostate, NullTag, std::int32_t, std::int64_t, double, Currency, Date, bool,
                 std::string, std::u16string, std::vector<std::uint8_t>, TBcd, TSQLTimeStamp>
        value_;
};

// Conversions of a non-null variant to one kind. A null variant cannot be converted (EVariantError);
// callers test IsNull first.
std::string VarToText(const TVariant& v);
std::u16string VarToWideText(const TVariant& v);
std::int32_t VarToInt32(const TVariant& v);
std::int64_t VarToInt64(const TVariant& v);
double VarToDouble(const TVariant& v);
std::int64_t VarToCurrency(const TVariant& v);
TDateTime VarToDateTime(const TVariant& v);
bool VarToBoolean(const TVariant& v);

// UTF-8 and UTF-16 text; malformed input becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// "Could not convert variant of type (%s) into type (%s)"
[[noreturn]] void RaiseVarCastError(TVarType from, TVarType to);

}  // namespace tarnwick
