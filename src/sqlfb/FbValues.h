#pragma once
// Value forms between the driver boundary and Firebird's own:
//   day number   int32, 0001-01-01 = day 1      <-> ISC_DATE, days since 1858-11-17
//   milliseconds int32 since midnight          <-> ISC_TIME, 1/10000 s since midnight
//   TSQLTimeStamp (16 bytes)                    <-> ISC_TIMESTAMP
//   TBcd (34 bytes)                             <-> scaled 64-bit integers (value * 10^-scale)
// Pure functions.

#include <ibase.h>

#include <cstdint>
#include <optional>

#include "base/ValueForms.h"

namespace tarnwick::sqlfb {

std::int32_t DayNumberFromCivil(int year, int month, int day);
void CivilFromDayNumber(std::int32_t dayNumber, int* year, int* month, int* day);

std::int32_t DayNumberFromIscDate(ISC_DATE date);
ISC_DATE IscDateFromDayNumber(std::int32_t dayNumber);

// True when the record names a day of the calendar and a time of day (month 1..12, a day the
// month has, 23:59:59.999 at most).
bool ValidTimeStamp(const TSQLTimeStamp& value);

TSQLTimeStamp TimeStampFromIsc(const ISC_TIMESTAMP& value);
ISC_TIMESTAMP IscFromTimeStamp(const TSQLTimeStamp& value);

// The decimal value `scaled` * 10^scale (scale <= 0) as a BCD record.
TBcd BcdFromScaled(std::int64_t scaled, int scale);
// The BCD value as a scaled integer with -Places() as scale; nothing when it needs more than 18
// digits.
std::optional<std::int64_t> ScaledFromBcd(const TBcd& bcd);

}  // namespace tarnwick::sqlfb
