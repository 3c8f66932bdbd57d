#include "base/ValueForms.h"

#include <charconv>
#include <cstring>

namespace tarnwick {

bool operator==(const TBcd& a, const TBcd& b) { return std::memcmp(&a, &b, sizeof(TBcd)) == 0; }

bool operator==(const TSQLTimeStamp& a, const TSQLTimeStamp& b) {
    return std::memcmp(&a, &b, sizeof(TSQLTimeStamp)) == 0;
}

namespace {

// Digit strings of at most 64 digits plus a carry, kept on the stack.
class DigitText {
public:
    void Push(char c) { text_[size_++] = c; }
    void Append(std::string_view digits) {
        if (digits.empty()) return;  // an empty view may hold no address at all
        std::memcpy(text_ + size_, digits.data(), digits.size());
        size_ += digits.size();
    }
    std::string_view View() const { return {text_, size_}; }
    std::size_t Size() const { return size_; }
    char& operator[](std::size_t i) { return text_[i]; }
    // Drops the first `count` characters.
    void DropFront(std::size_t count) {
        std::memmove(text_, text_ + count, size_ - count);
        size_ -= count;
    }
    // Puts `count` copies of `c` in front.
    void PadFront(std::size_t count, char c) {
        std::memmove(text_ + count, text_, size_);
        std::memset(text_, c, count);
        size_ += count;
    }

private:
    char text_[2 * TBcd::kMaxDigits + 2];
    std::size_t size_ = 0;
};

TBcd BcdFromDigits(std::string_view digits, int places, bool negative) {
    TBcd out;
    out.Precision = static_cast<std::uint8_t>(digits.size());
    out.SignSpecialPlaces = static_cast<std::uint8_t>(places & TBcd::kPlacesMask);
    bool zero = true;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        out.SetDigit(static_cast<int>(i), digits[i] - '0');
        if (digits[i] != '0') zero = false;
    }
    if (negative && !zero) out.SignSpecialPlaces |= TBcd::kSignBit;
    return out;
}

}  // namespace

std::optional<TBcd> BcdFromString(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    const std::size_t intStart = i;
    std::size_t intEnd = text.size();
    std::size_t fracStart = text.size();
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            intEnd = i;
            fracStart = i + 1;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
    }
    std::string_view intPart = text.substr(intStart, intEnd - intStart);
    const std::string_view fracPart = text.substr(fracStart);
    if (intPart.empty() && fracPart.empty()) return std::nullopt;
    const std::size_t firstNonZero = intPart.find_first_not_of('0');
    intPart = firstNonZero == std::string_view::npos ? std::string_view() : intPart.substr(firstNonZero);
    const std::size_t count = intPart.size() + fracPart.size();
    if (count > TBcd::kMaxDigits || fracPart.size() > TBcd::kPlacesMask) return std::nullopt;
    DigitText digits;
    digits.Append(intPart);
    digits.Append(fracPart);
    if (count == 0) digits.Push('0');
    return BcdFromDigits(digits.View(), static_cast<int>(fracPart.size()), negative);
}

TBcd BcdFromCurrency(std::int64_t units) {
    const bool negative = units < 0;
    const std::uint64_t magnitude =
        negative ? std::uint64_t{0} - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    DigitText digits;
    char whole[24];
    const auto written = std::to_chars(whole, whole + sizeof whole, magnitude / 10000);
    if (magnitude / 10000 != 0) digits.Append(std::string_view(whole, static_cast<std::size_t>(written.ptr - whole)));
    std::uint64_t fraction = magnitude % 10000;
    int places = 4;
    while (places > 0 && fraction % 10 == 0) {
        fraction /= 10;
        --places;
    }
    for (int p = places - 1; p >= 0; --p) {
        std::uint64_t d = fraction;
        for (int k = 0; k < p; ++k) d /= 10;
        digits.Push(static_cast<char>('0' + d % 10));
    }
    if (digits.Size() == 0) digits.Push('0');
    return BcdFromDigits(digits.View(), places, negative);
}

std::string BcdToString(const TBcd& bcd) {
    const int precision = bcd.Precision;
    const int places = bcd.Places() < precision ? bcd.Places() : precision;
    const int intDigits = precision - places;
    char text[TBcd::kMaxDigits + 3];
    std::size_t size = 0;
    int first = 0;  // the first integer digit printed: leading zeros go
    while (first < intDigits && bcd.Digit(first) == 0) ++first;
    bool zero = first == intDigits;
    for (int i = places > 0 ? intDigits : precision; i < precision; ++i)
        if (bcd.Digit(i) != 0) zero = false;
    if (bcd.Negative() && !zero) text[size++] = '-';
    if (first == intDigits) text[size++] = '0';
    for (int i = first; i < intDigits; ++i) text[size++] = static_cast<char>('0' + bcd.Digit(i));
    if (places > 0) {
        text[size++] = '.';
        for (int i = intDigits; i < precision; ++i) text[size++] = static_cast<char>('0' + bcd.Digit(i));
    }
    return std::string(text, size);
}

std::optional<TBcd> BcdNormalize(const TBcd& bcd, int precision, int places) {
    if (precision < 1 || precision > TBcd::kMaxDigits || places < 0 || places > precision)
        return std::nullopt;
    const int srcPlaces = bcd.Places() < bcd.Precision ? bcd.Places() : bcd.Precision;
    const int srcInt = bcd.Precision - srcPlaces;
    DigitText digits;  // integer digits, then exactly `places` decimals
    for (int i = 0; i < srcInt; ++i) digits.Push(static_cast<char>('0' + bcd.Digit(i)));
    bool roundUp = false;
    for (int k = 0; k < places; ++k) digits.Push(k < srcPlaces ? static_cast<char>('0' + bcd.Digit(srcInt + k)) : '0');
    if (srcPlaces > places) roundUp = bcd.Digit(srcInt + places) >= 5;
    if (roundUp) {
        int k = static_cast<int>(digits.Size()) - 1;
        for (; k >= 0; --k) {
            if (digits[static_cast<std::size_t>(k)] == '9') {
                digits[static_cast<std::size_t>(k)] = '0';
                continue;
            }
            ++digits[static_cast<std::size_t>(k)];
            break;
        }
        if (k < 0) digits.PadFront(1, '1');
    }
    const std::size_t firstNonZero = digits.View().find_first_not_of('0');
    const std::size_t significant = firstNonZero == std::string_view::npos ? 0 : digits.Size() - firstNonZero;
    if (significant > static_cast<std::size_t>(precision)) return std::nullopt;
    if (digits.Size() > static_cast<std::size_t>(precision))
        digits.DropFront(digits.Size() - static_cast<std::size_t>(precision));
    else
        digits.PadFront(static_cast<std::size_t>(precision) - digits.Size(), '0');
    return BcdFromDigits(digits.View(), places, bcd.Negative());
}

}  // namespace tarnwick
