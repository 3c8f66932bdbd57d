#include "dsengine/DSIntf.h"

namespace tarnwick::dsengine {

namespace {

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool EncodeDayNumber(int year, int month, int day, std::int32_t& dayNumber) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    const int y = year - 1;
    std::int32_t days = y * 365 + y / 4 - y / 100 + y / 400;
    for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
    dayNumber = days + day;
    return true;
}

void DecodeDayNumber(std::int32_t dayNumber, int& year, int& month, int& day) {
    // 400-year cycles have 146097 days; peel cycles, centuries, 4-year groups and years.
    std::int32_t n = dayNumber - 1;
    if (n < 0) n = 0;
    int y = 1 + 400 * (n / 146097);
    n %= 146097;
    int c = n / 36524;
    if (c == 4) c = 3;
    y += 100 * c;
    n -= c * 36524;
    y += 4 * (n / 1461);
    n %= 1461;
    int r = n / 365;
    if (r == 4) r = 3;
    y += r;
    n -= r * 365;
    int m = 1;
    while (n >= DaysInMonth(y, m)) {
        n -= DaysInMonth(y, m);
        ++m;
    }
    year = y;
    month = m;
    day = n + 1;
}

}  // namespace tarnwick::dsengine
