#include "data/clientdataset/Locale.h"

#include "base/Text.h"
#include "data/clientdataset/DateTimeForms.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace tarnwick::locale {

namespace {

// The 15 significant digits of a finite non-zero double (trailing zeros dropped) and the
// decimal exponent of the first digit.
void SignificantDigits(double value, std::string& digits, int& exponent) {
    char buffer[40];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer - 1, std::fabs(value),
                                       std::chars_format::scientific, 14);
    *written.ptr = '\0';
    digits.clear();
    const char* p = buffer;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits.push_back(*p);
    exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

bool ExponentForm(int exponent) { return exponent >= 15 || exponent < -5; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A number: [sign] digits [. digits] [E [sign] digits], at least one mantissa digit.
struct NumberParts {
    bool negative = false;
    std::string_view intDigits;
    std::string_view fracDigits;
    bool hasExponent = false;
    std::string_view body;  // the text without a leading "+"
};

bool SplitNumber(std::string_view text, NumberParts& parts) {
    text = Trim(text);
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        parts.negative = text[i] == '-';
        ++i;
    }
    parts.body = text.substr(text.size() > 0 && text[0] == '+' ? 1 : 0);
    const std::size_t intStart = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    parts.intDigits = text.substr(intStart, i - intStart);
    if (i < text.size() && text[i] == kDecimalSeparator) {
        const std::size_t fracStart = ++i;
        while (i < text.size() && IsDigit(text[i])) ++i;
        parts.fracDigits = text.substr(fracStart, i - fracStart);
    }
    if (parts.intDigits.empty() && parts.fracDigits.empty()) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        const std::size_t expStart = i;
        while (i < text.size() && IsDigit(text[i])) ++i;
        if (i == expStart) return false;
        parts.hasExponent = true;
    }
    return i == text.size();
}

std::string TwoDigits(int v) { return Format("%02d", v); }

}  // namespace

std::string FloatToText(double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";
    std::string digits;
    int exponent = 0;
    SignificantDigits(value, digits, exponent);
    std::string out = value < 0 ? "-" : "";
    if (ExponentForm(exponent)) {
        out += digits[0];
        if (digits.size() > 1) {
            out += kDecimalSeparator;
            out.append(digits, 1);
        }
        out += Format("E%d", exponent);
        return out;
    }
    if (exponent < 0) {
        out += '0';
        out += kDecimalSeparator;
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
        return out;
    }
    const auto intCount = static_cast<std::size_t>(exponent + 1);
    if (digits.size() <= intCount) {
        out += digits;
        out.append(intCount - digits.size(), '0');
        return out;
    }
    out.append(digits, 0, intCount);
    out += kDecimalSeparator;
    out.append(digits, intCount);
    return out;
}

bool FloatNeedsExponent(double value) {
    if (!std::isfinite(value)) return true;
    if (value == 0) return false;
    std::string digits;
    int exponent = 0;
    SignificantDigits(value, digits, exponent);
    return ExponentForm(exponent);
}

std::string CurrencyToText(std::int64_t units) {
    const bool negative = units < 0;
    const std::uint64_t magnitude =
        negative ? std::uint64_t{0} - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    std::string out = negative ? "-" : "";
    out += std::to_string(magnitude / 10000);
    std::string fraction = Format("%04u", static_cast<unsigned>(magnitude % 10000));
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (!fraction.empty()) {
        out += kDecimalSeparator;
        out += fraction;
    }
    return out;
}

std::string BoolToText(bool value) { return value ? kTrueText : kFalseText; }

std::string DateToText(TDateTime value) {
    const auto stamp = DateTimeToTimeStamp(value);
    if (!stamp) return FloatToText(value);
    int year = 0, month = 0, day = 0;
    DecodeDayNumber(stamp->Date, year, month, day);
    return Format("%04d", year) + kDateSeparator + TwoDigits(month) + kDateSeparator + TwoDigits(day);
}

std::string TimeToText(TDateTime value) {
    const auto stamp = DateTimeToTimeStamp(value);
    if (!stamp) return FloatToText(value);
    const int seconds = stamp->Time / 1000;
    return TwoDigits(seconds / 3600) + kTimeSeparator + TwoDigits(seconds / 60 % 60) + kTimeSeparator +
           TwoDigits(seconds % 60);
}

std::string DateTimeToText(TDateTime value) {
    const auto stamp = DateTimeToTimeStamp(value);
    if (!stamp) return FloatToText(value);
    if (stamp->Time == 0) return DateToText(value);
    if (stamp->Date == kDateDelta) return TimeToText(value);
    return DateToText(value) + ' ' + TimeToText(value);
}

std::string DateTimeToTextDateFirst(TDateTime value) {
    const auto stamp = DateTimeToTimeStamp(value);
    if (!stamp) return FloatToText(value);
    if (stamp->Time == 0) return DateToText(value);
    return DateToText(value) + ' ' + TimeToText(value);
}

TConvStatus TextToDouble(std::string_view text, double& out) {
    NumberParts parts;
    if (!SplitNumber(text, parts)) return TConvStatus::TypeMismatch;
    // from_chars reads the C form regardless of the host's locale.
    const auto result = std::from_chars(parts.body.data(), parts.body.data() + parts.body.size(), out);
    if (result.ec == std::errc::result_out_of_range) {
        // Underflow reads as 0; overflow is out of range.
        const bool negativeExponent = parts.body.find("e-") != std::string_view::npos ||
                                      parts.body.find("E-") != std::string_view::npos;
        if (negativeExponent) {
            out = 0;
            return TConvStatus::Ok;
        }
        return TConvStatus::Overflow;
    }
    if (result.ec != std::errc() || result.ptr != parts.body.data() + parts.body.size())
        return TConvStatus::TypeMismatch;
    return TConvStatus::Ok;
}

TConvStatus TextToInt64(std::string_view text, std::int64_t& out) {
    NumberParts parts;
    if (!SplitNumber(text, parts)) return TConvStatus::TypeMismatch;
    if (parts.fracDigits.empty() && !parts.hasExponent) {
        // Whole numbers are read exactly.
        std::int64_t value = 0;
        const auto result = std::from_chars(parts.body.data(), parts.body.data() + parts.body.size(), value);
        if (result.ec == std::errc::result_out_of_range) return TConvStatus::Overflow;
        if (result.ec == std::errc() && result.ptr == parts.body.data() + parts.body.size()) {
            out = value;
            return TConvStatus::Ok;
        }
    }
    double value = 0;
    const TConvStatus status = TextToDouble(text, value);
    if (status != TConvStatus::Ok) return status;
    const double rounded = std::nearbyint(value);
    if (!(rounded >= -9.2233720368547758e18 && rounded < 9.2233720368547758e18)) return TConvStatus::Overflow;
    out = static_cast<std::int64_t>(rounded);
    return TConvStatus::Ok;
}

TConvStatus TextToInt32(std::string_view text, std::int32_t& out) {
    std::int64_t value = 0;
    const TConvStatus status = TextToInt64(text, value);
    if (status != TConvStatus::Ok) return status;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return TConvStatus::Overflow;
    out = static_cast<std::int32_t>(value);
    return TConvStatus::Ok;
}

TConvStatus TextToCurrency(std::string_view text, std::int64_t& out) {
    NumberParts parts;
    if (!SplitNumber(text, parts)) return TConvStatus::TypeMismatch;
    if (parts.hasExponent) {
        double value = 0;
        const TConvStatus status = TextToDouble(text, value);
        if (status != TConvStatus::Ok) return status;
        const double units = std::nearbyint(value * 10000.0);
        if (!(units >= -9.2233720368547758e18 && units < 9.2233720368547758e18)) return TConvStatus::Overflow;
        out = static_cast<std::int64_t>(units);
        return TConvStatus::Ok;
    }
    // Exact decimal reading: the integer digits and the first four decimals, the rest rounded.
    __int128 units = 0;
    for (char c : parts.intDigits) {
        units = units * 10 + (c - '0');
        if (units > (static_cast<__int128>(1) << 70)) return TConvStatus::Overflow;
    }
    for (int i = 0; i < 4; ++i)
        units = units * 10 + (i < static_cast<int>(parts.fracDigits.size()) ? parts.fracDigits[static_cast<std::size_t>(i)] - '0' : 0);
    if (parts.fracDigits.size() > 4) {
        const std::string_view rest = parts.fracDigits.substr(4);
        const int first = rest[0] - '0';
        bool beyondHalf = false;
        for (std::size_t i = 1; i < rest.size(); ++i)
            if (rest[i] != '0') beyondHalf = true;
        if (first > 5 || (first == 5 && (beyondHalf || (units % 2) != 0))) units += 1;
    }
    if (parts.negative) units = -units;
    if (units > std::numeric_limits<std::int64_t>::max() || units < std::numeric_limits<std::int64_t>::min())
        return TConvStatus::Overflow;
    out = static_cast<std::int64_t>(units);
    return TConvStatus::Ok;
}

namespace {

// Reads 1..maxDigits digits at `pos`.
bool ReadNumber(std::string_view text, std::size_t& pos, int maxDigits, int& value) {
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && IsDigit(text[pos]) && static_cast<int>(pos - start) < maxDigits)
        value = value * 10 + (text[pos++] - '0');
    return pos > start;
}

// y/M/d with "/" or "-" between the parts (the same separator twice).
// Leaves its arguments as they were when the text holds no date (a time alone keeps the zero
// date its caller set).
bool ReadDate(std::string_view text, std::size_t& pos, int& year, int& month, int& day) {
    std::size_t p = pos;
    int y = 0, m = 0, d = 0;
    if (!ReadNumber(text, p, 4, y)) return false;
    if (p >= text.size() || (text[p] != kDateSeparator && text[p] != '-')) return false;
    const char separator = text[p++];
    if (!ReadNumber(text, p, 2, m)) return false;
    if (p >= text.size() || text[p] != separator) return false;
    ++p;
    if (!ReadNumber(text, p, 2, d)) return false;
    pos = p;
    year = y;
    month = m;
    day = d;
    return true;
}

// H:mm[:ss[.zzz]]
bool ReadTime(std::string_view text, std::size_t& pos, int& hour, int& minute, int& second, int& msec) {
    std::size_t p = pos;
    second = msec = 0;
    if (!ReadNumber(text, p, 2, hour)) return false;
    if (p >= text.size() || text[p] != kTimeSeparator) return false;
    ++p;
    if (!ReadNumber(text, p, 2, minute)) return false;
    if (p < text.size() && text[p] == kTimeSeparator) {
        ++p;
        if (!ReadNumber(text, p, 2, second)) return false;
        if (p < text.size() && text[p] == '.') {
            ++p;
            const std::size_t start = p;
            if (!ReadNumber(text, p, 3, msec)) return false;
            for (std::size_t n = p - start; n < 3; ++n) msec *= 10;
        }
    }
    pos = p;
    return true;
}

}  // namespace

TConvStatus TextToDateTime(std::string_view text, TDateTime& out) {
    text = Trim(text);
    std::size_t pos = 0;
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, msec = 0;
    const bool hasDate = ReadDate(text, pos, year, month, day);
    if (hasDate && pos < text.size()) {
        if (static_cast<unsigned char>(text[pos]) > ' ') return TConvStatus::TypeMismatch;
        while (pos < text.size() && static_cast<unsigned char>(text[pos]) <= ' ') ++pos;
    }
    if (pos < text.size() && !ReadTime(text, pos, hour, minute, second, msec))
        return TConvStatus::TypeMismatch;
    if (pos != text.size() || text.empty()) return TConvStatus::TypeMismatch;
    const auto value = EncodeDateTime(year, month, day, hour, minute, second, msec);
    if (!value) return TConvStatus::TypeMismatch;
    out = *value;
    return TConvStatus::Ok;
}

bool BoolWord(std::string_view text, bool& out) {
    text = Trim(text);
    if (SameTextAscii(text, kTrueText)) {
        out = true;
        return true;
    }
    if (SameTextAscii(text, kFalseText)) {
        out = false;
        return true;
    }
    return false;
}

TConvStatus TextToBool(std::string_view text, bool& out) {
    if (BoolWord(text, out)) return TConvStatus::Ok;
    double number = 0;
    const TConvStatus status = TextToDouble(text, number);
    if (status != TConvStatus::Ok) return status;
    out = number != 0;
    return TConvStatus::Ok;
}

}  // namespace tarnwick::locale
