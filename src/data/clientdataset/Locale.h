#pragma once
// The one locale of the data layer. Every conversion between values and text that would follow
// the user's locale follows these settings instead, so results never depend on the machine:
//   decimal separator ".", no thousands separator
//   short date "yyyy/MM/dd" (read also with one-digit month and day, and "-" as separator)
//   long time "HH:mm:ss" (read also as "H:mm" and with ".zzz" milliseconds)
//   booleans "True" and "False" (read in any letter case)
// The text-to-value functions answer a status like the system's conversion services: Ok, a type
// mismatch (the text is no such value) or an overflow (a value, but out of range).

#include "data/clientdataset/Variant.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick::locale {

inline constexpr char kDecimalSeparator = '.';
inline constexpr char kDateSeparator = '/';
inline constexpr char kTimeSeparator = ':';
inline constexpr const char* kShortDateFormat = "yyyy/MM/dd";
inline constexpr const char* kLongTimeFormat = "HH:mm:ss";
inline constexpr const char* kTrueText = "True";
inline constexpr const char* kFalseText = "False";

enum class TConvStatus { Ok, TypeMismatch, Overflow };

// General number format: at most 15 significant digits, no trailing zeros; plain form for
// magnitudes from 0.00001 below 10^15, else "d.dddE[-]x" ("1E15", "1.5E-7").
std::string FloatToText(double value);
// True when FloatToText writes `value` with an exponent.
bool FloatNeedsExponent(double value);
// A currency amount (units of 1/10 000) with up to 4 decimals, no trailing zeros: "12.5", "-0.0001".
std::string CurrencyToText(std::int64_t units);
std::string BoolToText(bool value);
// Short date; long time; date-time as the date, a blank and the time, the date alone when the
// time of day is 00:00:00, and the time alone when the date is 30 December 1899.
std::string DateToText(TDateTime value);
std::string TimeToText(TDateTime value);
std::string DateTimeToText(TDateTime value);
// Short date, then a blank and the long time unless the time of day is 00:00:00.
std::string DateTimeToTextDateFirst(TDateTime value);

// Text to value. Blanks around the text are allowed; numbers may carry a sign, decimals and an
// exponent.
TConvStatus TextToDouble(std::string_view text, double& out);
// Rounds to the nearest integer, ties to the even one.
TConvStatus TextToInt32(std::string_view text, std::int32_t& out);
TConvStatus TextToInt64(std::string_view text, std::int64_t& out);
// Exact decimal reading rounded to 4 places (ties to even).
TConvStatus TextToCurrency(std::string_view text, std::int64_t& out);
// Date, date and time, or time alone, in the forms above.
TConvStatus TextToDateTime(std::string_view text, TDateTime& out);
// "True"/"False" in any letter case, or a number (non-zero is true).
TConvStatus TextToBool(std::string_view text, bool& out);
// The boolean words alone.
bool BoolWord(std::string_view text, bool& out);

}  // namespace tarnwick::locale
