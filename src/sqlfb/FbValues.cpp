#include "sqlfb/FbValues.h"

#include <string>

#include "base/Calendar.h"

namespace tarnwick::sqlfb {
namespace {

const std::int64_t kDayOneOffset = DaysFromCivil(1, 1, 1) - 1;       // day number 0
const std::int64_t kIscEpoch = DaysFromCivil(1858, 11, 17);           // ISC_DATE 0

}  // namespace

std::int32_t DayNumberFromCivil(int year, int month, int day) {
    return static_cast<std::int32_t>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                                     kDayOneOffset);
}

void CivilFromDayNumber(std::int32_t dayNumber, int* year, int* month, int* day) {
    CivilFromDays(dayNumber + kDayOneOffset, *year, *month, *day);
}

std::int32_t DayNumberFromIscDate(ISC_DATE date) {
    return static_cast<std::int32_t>(date + kIscEpoch - kDayOneOffset);
}

ISC_DATE IscDateFromDayNumber(std::int32_t dayNumber) {
    return static_cast<ISC_DATE>(dayNumber + kDayOneOffset - kIscEpoch);
}

bool ValidTimeStamp(const TSQLTimeStamp& value) {
    if (value.Month < 1 || value.Month > 12 || value.Day < 1 || value.Day > 31 || value.Hour > 23 ||
        value.Minute > 59 || value.Second > 59 || value.Fractions > 999)
        return false;
    // 2023-02-29 would count on into March: the day must come back as written.
    int y = 0, m = 0, d = 0;
    CivilFromDays(DaysFromCivil(value.Year, value.Month, value.Day), y, m, d);
    return y == value.Year && m == value.Month && d == value.Day;
}

TSQLTimeStamp TimeStampFromIsc(const ISC_TIMESTAMP& value) {
    TSQLTimeStamp ts;
    int y = 0, m = 0, d = 0;
    CivilFromDays(value.timestamp_date + kIscEpoch, y, m, d);
    ts.Year = static_cast<std::int16_t>(y);
    ts.Month = static_cast<std::uint16_t>(m);
    ts.Day = static_cast<std::uint16_t>(d);
    const ISC_TIME t = value.timestamp_time;  // 1/10000 seconds
    ts.Hour = static_cast<std::uint16_t>(t / (3600u * 10000u));
    ts.Minute = static_cast<std::uint16_t>(t / (60u * 10000u) % 60u);
    ts.Second = static_cast<std::uint16_t>(t / 10000u % 60u);
    ts.Fractions = static_cast<std::uint32_t>(t % 10000u / 10u);
    return ts;
}

ISC_TIMESTAMP IscFromTimeStamp(const TSQLTimeStamp& value) {
    ISC_TIMESTAMP result{};
    result.timestamp_date = static_cast<ISC_DATE>(DaysFromCivil(value.Year, value.Month, value.Day) - kIscEpoch);
    result.timestamp_time = static_cast<ISC_TIME>(
        ((value.Hour * 60u + value.Minute) * 60u + value.Second) * 10000u + value.Fractions % 1000u * 10u);
    return result;
}

TBcd BcdFromScaled(std::int64_t scaled, int scale) {
    const bool negative = scaled < 0;
    // Unsigned magnitude: also right for the smallest 64-bit value.
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    std::string digits = std::to_string(magnitude);
    const int places = scale < 0 ? -scale : 0;
    if (static_cast<int>(digits.size()) <= places) digits.insert(0, static_cast<std::size_t>(places) + 1 - digits.size(), '0');
    std::string text = negative ? "-" : "";
    text += digits.substr(0, digits.size() - static_cast<std::size_t>(places));
    if (places > 0) text += "." + digits.substr(digits.size() - static_cast<std::size_t>(places));
    return BcdFromString(text).value_or(TBcd{});
}

std::optional<std::int64_t> ScaledFromBcd(const TBcd& bcd) {
    if (bcd.Precision > 64) return std::nullopt;
    std::uint64_t value = 0;
    int significant = 0;
    for (int i = 0; i < bcd.Precision; ++i) {
        const int digit = bcd.Digit(i);
        if (digit > 9) return std::nullopt;
        if (significant == 0 && digit == 0) continue;
        if (++significant > 18) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(digit);
    }
    const auto signedValue = static_cast<std::int64_t>(value);
    return bcd.Negative() ? -signedValue : signedValue;
}

}  // namespace tarnwick::sqlfb
