#pragma once
// Calendar arithmetic between the date-time forms the fields use:
//   TDateTime      double, days since 30 December 1899, time of day as the fraction
//   day number     int32, 1 for 1 January of year 1 (date fields, engine form)
//   milliseconds   int32 since midnight (time fields, engine form)
//   date-time ms   double, day number * 86 400 000 + milliseconds (date-time fields, engine form)
//   TSQLTimeStamp  the 16-byte record of base/ValueForms.h
// Proleptic Gregorian calendar, years 1 to 9999.

#include "base/ValueForms.h"
#include "data/clientdataset/Variant.h"

#include <cstdint>
#include <optional>

namespace tarnwick {

inline constexpr std::int32_t kMSecsPerDay = 86'400'000;
// Day number of 30 December 1899, the day 0 of TDateTime.
inline constexpr std::int32_t kDateDelta = 693'594;

struct TTimeStamp {
    std::int32_t Time = 0;  // milliseconds since midnight
    std::int32_t Date = 0;  // day number
};

bool IsValidDate(int year, int month, int day);
// Day number of a valid date; nothing for an invalid one.
std::optional<std::int32_t> DayNumber(int year, int month, int day);
void DecodeDayNumber(std::int32_t dayNumber, int& year, int& month, int& day);

// Splits a TDateTime as its day number and milliseconds (the milliseconds rounded); nothing when
// the date falls outside years 1 to 9999 or the value is no finite number.
std::optional<TTimeStamp> DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);

// The SQL time-stamp record of a TDateTime (nothing outside years 1 to 9999), and the TDateTime of
// a record (a blank record gives 0; nothing for an impossible date or time).
std::optional<TSQLTimeStamp> DateTimeToSQLTimeStamp(TDateTime value);
std::optional<TDateTime> SQLTimeStampToDateTime(const TSQLTimeStamp& stamp);

std::optional<TDateTime> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                        int second, int msec);

}  // namespace tarnwick
