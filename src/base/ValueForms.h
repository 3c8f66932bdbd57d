#pragma once
// The two fixed value records that travel between the dataset engine, the fields and the database
// driver. Both are plain bytes with a fixed layout, so they may be copied with memcpy and handed
// across the driver boundary as they stand.
//
// BCD record, 34 bytes:
//   byte 0      precision: the number of digits held (0 .. 64)
//   byte 1      bit 7: sign (set = negative); bits 0..5: number of decimal places (0 .. 63)
//   bytes 2..33 the digits, two per byte, the first digit in the high nibble of byte 2
// The value is the digit string with the last `places` digits after the decimal point.
//
// SQL time-stamp record, 16 bytes:
//   int16 year, uint16 month, day, hour, minute, second, uint32 fraction (milliseconds).
//   All zero means blank.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

struct TBcd {
    std::uint8_t Precision = 0;
    std::uint8_t SignSpecialPlaces = 0;
    std::uint8_t Fraction[32] = {};

    static constexpr std::uint8_t kSignBit = 0x80;
    static constexpr std::uint8_t kPlacesMask = 0x3F;
    static constexpr int kMaxDigits = 64;

    bool Negative() const { return (SignSpecialPlaces & kSignBit) != 0; }
    int Places() const { return SignSpecialPlaces & kPlacesMask; }
    int Digit(int index) const {
        const std::uint8_t b = Fraction[index / 2];
        return (index % 2 == 0) ? (b >> 4) : (b & 0x0F);
    }
    void SetDigit(int index, int digit) {
        std::uint8_t& b = Fraction[index / 2];
        if (index % 2 == 0) b = static_cast<std::uint8_t>((b & 0x0F) | (digit << 4));
        else b = static_cast<std::uint8_t>((b & 0xF0) | (digit & 0x0F));
    }
};
static_assert(sizeof(TBcd) == 34, "BCD record is 34 bytes");

bool operator==(const TBcd& a, const TBcd& b);

// Parses a plain decimal text ("-1234.50", "+7", ".5", "12."): optional sign, digits, at most one
// "."; no exponent, no blanks. Keeps the digits and places as written (leading zeros of the
// integer part dropped). Answers nothing when the text is no such number or needs more than 64
// digits.
std::optional<TBcd> BcdFromString(std::string_view text);
// The plain decimal text of a BCD record: "-1234.50", "0", "0.05". Negative zero prints as "0".
std::string BcdToString(const TBcd& bcd);
// A currency amount (units of 1/10000) as BcdFromString reads its plain text: the integer digits
// without leading zeros, the decimals without trailing zeros.
TBcd BcdFromCurrency(std::int64_t units);
// The same value with exactly `places` decimal places in at most `precision` digits, rounding half
// away from zero where places are dropped; nothing when the integer part does not fit.
std::optional<TBcd> BcdNormalize(const TBcd& bcd, int precision, int places);

struct TSQLTimeStamp {
    std::int16_t Year = 0;
    std::uint16_t Month = 0;
    std::uint16_t Day = 0;
    std::uint16_t Hour = 0;
    std::uint16_t Minute = 0;
    std::uint16_t Second = 0;
    std::uint32_t Fractions = 0;  // milliseconds

    bool Blank() const {
        return Year == 0 && Month == 0 && Day == 0 && Hour == 0 && Minute == 0 && Second == 0 &&
               Fractions == 0;
    }
};
static_assert(sizeof(TSQLTimeStamp) == 16, "SQL time-stamp record is 16 bytes");

bool operator==(const TSQLTimeStamp& a, const TSQLTimeStamp& b);

}  // namespace tarnwick
