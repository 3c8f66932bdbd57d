#include "data/clientdataset/DateTimeForms.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/Calendar.h"

namespace tarnwick {

namespace {

// Day number of 1 January 1970.
constexpr std::int64_t kUnixDayNumber = 719'163;
// Day number of 31 December 9999.
constexpr std::int32_t kLastDayNumber = 3'652'059;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

bool IsValidDate(int year, int month, int day) {
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    const int last = monthDays[month - 1] + ((month == 2 && IsLeapYear(year)) ? 1 : 0);
    return day <= last;
}

std::optional<std::int32_t> DayNumber(int year, int month, int day) {
    if (!IsValidDate(year, month, day)) return std::nullopt;
    return static_cast<std::int32_t>(DaysFromCivil(year, static_cast<unsigned>(month),
                                                   static_cast<unsigned>(day)) +
                                     kUnixDayNumber);
}

void DecodeDayNumber(std::int32_t dayNumber, int& year, int& month, int& day) {
    CivilFromDays(static_cast<std::int64_t>(dayNumber) - kUnixDayNumber, year, month, day);
}

std::optional<TTimeStamp> DateTimeToTimeStamp(TDateTime value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double msecs = std::nearbyint(value * kMSecsPerDay);
    if (std::fabs(msecs) > 4.0e17) return std::nullopt;
    const auto total = static_cast<std::int64_t>(msecs);
    // The day part is cut toward zero; the time of day is always positive (a negative TDateTime
    // counts days backwards but hours forwards).
    const std::int64_t date = total / kMSecsPerDay + kDateDelta;
    if (date < 1 || date > kLastDayNumber) return std::nullopt;
    TTimeStamp stamp;
    stamp.Date = static_cast<std::int32_t>(date);
    stamp.Time = static_cast<std::int32_t>(std::llabs(total) % kMSecsPerDay);
    return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
    double msecs = static_cast<double>(stamp.Date - kDateDelta) * kMSecsPerDay;
    if (msecs >= 0) msecs += stamp.Time;
    else msecs -= stamp.Time;
    return msecs / kMSecsPerDay;
}

std::optional<TSQLTimeStamp> DateTimeToSQLTimeStamp(TDateTime value) {
    const auto stamp = DateTimeToTimeStamp(value);
    if (!stamp) return std::nullopt;
    int year = 0, month = 0, day = 0;
    DecodeDayNumber(stamp->Date, year, month, day);
    TSQLTimeStamp out;
    out.Year = static_cast<std::int16_t>(year);
    out.Month = static_cast<std::uint16_t>(month);
    out.Day = static_cast<std::uint16_t>(day);
    std::int32_t ms = stamp->Time;
    out.Hour = static_cast<std::uint16_t>(ms / 3'600'000);
    ms %= 3'600'000;
    out.Minute = static_cast<std::uint16_t>(ms / 60'000);
    ms %= 60'000;
    out.Second = static_cast<std::uint16_t>(ms / 1000);
    out.Fractions = static_cast<std::uint32_t>(ms % 1000);
    return out;
}

std::optional<TDateTime> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                        int second, int msec) {
    const auto dayNumber = DayNumber(year, month, day);
    if (!dayNumber) return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999)
        return std::nullopt;
    const std::int32_t time = ((hour * 60 + minute) * 60 + second) * 1000 + msec;
    return TimeStampToDateTime(TTimeStamp{time, *dayNumber});
}

std::optional<TDateTime> SQLTimeStampToDateTime(const TSQLTimeStamp& stamp) {
    if (stamp.Blank()) return 0.0;
    return EncodeDateTime(stamp.Year, stamp.Month, stamp.Day, stamp.Hour, stamp.Minute,
                          stamp.Second, static_cast<int>(std::min<std::uint32_t>(stamp.Fractions, 1000)));
}

}  // namespace tarnwick
