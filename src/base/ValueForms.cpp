#include "base/ValueForms.h"

#include <cstring>

namespace tarnwick {

bool operator==(const TBcd& a, const TBcd& b) { return std::memcmp(&a, &b, sizeof(TBcd)) == 0; }

bool operator==(const TSQLTimeStamp& a, const TSQLTimeStamp& b) {
    return std::memcmp(&a, &b, sizeof(TSQLTimeStamp)) == 0;
}

namespace {

TBcd BcdFromDigits(const std::string& digits, int places, bool negative) {
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
    std::string intPart, fracPart;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) { point = true; continue; }
        if (c < '0' || c > '9') return std::nullopt;
        (point ? fracPart : intPart) += c;
    }
    if (intPart.empty() && fracPart.empty()) return std::nullopt;
    const std::size_t firstNonZero = intPart.find_first_not_of('0');
    intPart = firstNonZero == std::string::npos ? std::string() : intPart.substr(firstNonZero);
    std::string digits = intPart + fracPart;
    if (digits.empty()) digits = "0";
    if (digits.size() > TBcd::kMaxDigits || fracPart.size() > TBcd::kPlacesMask) return std::nullopt;
    return BcdFromDigits(digits, static_cast<int>(fracPart.size()), negative);
}

std::string BcdToString(const TBcd& bcd) {
    const int precision = bcd.Precision;
    const int places = bcd.Places() < precision ? bcd.Places() : precision;
    std::string intPart, fracPart;
    for (int i = 0; i < precision; ++i)
        (i < precision - places ? intPart : fracPart) += static_cast<char>('0' + bcd.Digit(i));
    const std::size_t firstNonZero = intPart.find_first_not_of('0');
    intPart = firstNonZero == std::string::npos ? "0" : intPart.substr(firstNonZero);
    const bool zero = intPart == "0" && fracPart.find_first_not_of('0') == std::string::npos;
    std::string out = (bcd.Negative() && !zero) ? "-" : "";
    out += intPart;
    if (!fracPart.empty()) out += "." + fracPart;
    return out;
}

std::optional<TBcd> BcdNormalize(const TBcd& bcd, int precision, int places) {
    if (precision < 1 || precision > TBcd::kMaxDigits || places < 0 || places > precision)
        return std::nullopt;
    const int srcPlaces = bcd.Places() < bcd.Precision ? bcd.Places() : bcd.Precision;
    std::string intPart, fracPart;
    for (int i = 0; i < bcd.Precision; ++i)
        (i < bcd.Precision - srcPlaces ? intPart : fracPart) += static_cast<char>('0' + bcd.Digit(i));
    bool roundUp = false;
    if (static_cast<int>(fracPart.size()) > places) {
        roundUp = fracPart[static_cast<std::size_t>(places)] >= '5';
        fracPart.resize(static_cast<std::size_t>(places));
    } else {
        fracPart.append(static_cast<std::size_t>(places) - fracPart.size(), '0');
    }
    std::string digits = intPart + fracPart;
    if (roundUp) {
        int k = static_cast<int>(digits.size()) - 1;
        for (; k >= 0; --k) {
            if (digits[static_cast<std::size_t>(k)] == '9') { digits[static_cast<std::size_t>(k)] = '0'; continue; }
            ++digits[static_cast<std::size_t>(k)];
            break;
        }
        if (k < 0) digits.insert(digits.begin(), '1');
    }
    const std::size_t firstNonZero = digits.find_first_not_of('0');
    const std::size_t significant = firstNonZero == std::string::npos ? 0 : digits.size() - firstNonZero;
    if (significant > static_cast<std::size_t>(precision)) return std::nullopt;
    if (digits.size() > static_cast<std::size_t>(precision))
        digits.erase(0, digits.size() - static_cast<std::size_t>(precision));
    else
        digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
    return BcdFromDigits(digits, places, bcd.Negative());
}

}  // namespace tarnwick
