// Packet text forms of field values, and the checks of record-buffer values.
//   integers   decimal, optional "-"          r8        decimal with ".", optional exponent
//   fixed      decimal with ".", no exponent  boolean   TRUE / FALSE (any case on reading)
//   date       YYYYMMDD                       time      HH:MM:SS[.mmm]
//   dateTime   YYYYMMDDTHH:MM:SS[.mmm]        blobs, bytes  base64 of the bytes

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#include "base/Text.h"
#include "base/ValueForms.h"
#include "dsengine/DSIntf.h"
#include "dsengine/Table.h"

namespace tarnwick::dsengine::detail {

namespace {

constexpr std::int32_t kMaxDayNumber = 3652059;  // 9999-12-31
// How a blank SQL time stamp (all zero) is written in a packet.
constexpr std::string_view kBlankTimeStampText = "00000000T00:00:00";

template <typename T>
void AppendRaw(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof(T));
}

template <typename T>
T LoadRaw(const void* p) {
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

bool Digits(std::string_view s, std::size_t pos, std::size_t count, int& value) {
    if (pos + count > s.size()) return false;
    value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

bool ParseDate(std::string_view s, int& y, int& m, int& d) {
    return s.size() == 8 && Digits(s, 0, 4, y) && Digits(s, 4, 2, m) && Digits(s, 6, 2, d);
}

// HH:MM:SS with an optional fraction of 1 to 3 digits, in milliseconds.
bool ParseTime(std::string_view s, std::int32_t& ms, int parts[4]) {
    if (s.size() < 8 || s[2] != ':' || s[5] != ':') return false;
    int h, mi, se;
    if (!Digits(s, 0, 2, h) || !Digits(s, 3, 2, mi) || !Digits(s, 6, 2, se)) return false;
    int frac = 0;
    if (s.size() > 8) {
        const std::size_t n = s.size() - 9;
        if (s[8] != '.' || n < 1 || n > 3 || !Digits(s, 9, n, frac)) return false;
        for (std::size_t i = n; i < 3; ++i) frac *= 10;
    }
    if (h > 23 || mi > 59 || se > 59) return false;
    ms = ((h * 60 + mi) * 60 + se) * 1000 + frac;
    parts[0] = h;
    parts[1] = mi;
    parts[2] = se;
    parts[3] = frac;
    return true;
}

// A leading "+" is read as the sign it is; the standard conversions take only "-".
std::string_view WithoutPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
    return text;
}

template <typename T>
std::string ParseInteger(std::string_view text, std::string& out) {
    text = WithoutPlus(text);
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec == std::errc::result_out_of_range) return "integer out of range for the field";
    if (ec != std::errc() || ptr != end) return "not a decimal integer";
    AppendRaw(out, value);
    return {};
}

void AppendTime(std::string& out, std::int32_t ms) {
    const int frac = ms % 1000;
    const int secs = ms / 1000;
    out += Format("%02d:%02d:%02d", secs / 3600, secs / 60 % 60, secs % 60);
    if (frac != 0) out += Format(".%03d", frac);
}

void AppendDate(std::string& out, std::int32_t dayNumber) {
    int y, m, d;
    DecodeDayNumber(dayNumber, y, m, d);
    out += Format("%04d%02d%02d", y, m, d);
}

bool ValidBcd(const TBcd& bcd) {
    if (bcd.Precision > TBcd::kMaxDigits || bcd.Places() > bcd.Precision) return false;
    for (int i = 0; i < bcd.Precision; ++i)
        if (bcd.Digit(i) > 9) return false;
    return true;
}

}  // namespace

bool ParseBcd(std::string_view text, std::uint8_t* bcd34) {
    TBcd bcd;
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int count = 0, places = 0;
    bool point = false, any = false, nonZero = false, leading = true;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            leading = false;
            continue;
        }
        if (c < '0' || c > '9') return false;
        any = true;
        if (leading && c == '0') continue;  // leading zeros of the integer part
        leading = false;
        if (count >= TBcd::kMaxDigits) return false;
        bcd.SetDigit(count++, c - '0');
        if (point) ++places;
        if (c != '0') nonZero = true;
    }
    if (!any) return false;
    if (count == 0) count = 1;  // "0", "000": one zero digit
    if (places > TBcd::kPlacesMask) return false;
    bcd.Precision = static_cast<std::uint8_t>(count);
    bcd.SignSpecialPlaces = static_cast<std::uint8_t>(places);
    if (negative && nonZero) bcd.SignSpecialPlaces |= TBcd::kSignBit;
    std::memcpy(bcd34, &bcd, sizeof bcd);
    return true;
}

std::string_view TypeWord(const FieldInfo& field) {
    const DSFLDDesc& d = field.desc;
    switch (d.iFldType) {
    case fldZSTRING: return "string";
    case fldWIDESTRING: return "string.uni";
    case fldINT16: return "i2";
    case fldUINT16: return "ui2";
    case fldINT32: return "i4";
    case fldINT64: return "i8";
    case fldFLOAT: return "r8";
    case fldBCD: return "fixed";
    case fldFMTBCD: return "fixedFMT";
    case fldBOOL: return "boolean";
    case fldDATE: return "date";
    case fldTIME: return "time";
    case fldDATETIME: return "dateTime";
    case fldSQLTIMESTAMP: return "SQLdateTime";
    case fldBLOB: return "bin.hex";
    case fldBYTES: return "bytes";
    case fldVARBYTES: return "varbytes";
    default: return {};
    }
}

static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void EncodeBase64(std::string_view bytes, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size(), i = 0;
    out.reserve(out.size() + (n + 2) / 3 * 4);
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (n - i == 1) {
        const std::uint32_t v = p[i] << 16;
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += "==";
    } else if (n - i == 2) {
        const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += '=';
    }
}

bool DecodeBase64(std::string_view text, std::string& out) {
    static const auto table = [] {
        std::array<std::int8_t, 256> t{};
        t.fill(-1);
        for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kBase64[i])] = static_cast<std::int8_t>(i);
        return t;
    }();
    std::uint32_t acc = 0;
    int bits = 0, pad = 0;
    out.reserve(out.size() + text.size() / 4 * 3);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
        if (c == '=') {
            ++pad;
            continue;
        }
        if (pad > 0 || table[c] < 0) return false;  // data after padding, or a foreign character
        acc = (acc << 6) | static_cast<std::uint32_t>(table[c]);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    // Leftover bits must be the zero padding of the last group; at most two "=".
    return pad <= 2 && bits < 6 && (acc & ((1u << bits) - 1)) == 0;
}

bool Utf8ToUtf16(std::string_view text, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    auto put = [&out](std::uint32_t unit) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    };
    for (std::size_t i = 0; i < n;) {
        std::uint32_t c = p[i];
        int extra = 0;
        if (c < 0x80) extra = 0;
        else if ((c & 0xE0) == 0xC0) { c &= 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { c &= 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { c &= 0x07; extra = 3; }
        else return false;
        if (static_cast<std::size_t>(extra) >= n - i) return false;  // truncated character
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        static const std::uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        i += static_cast<std::size_t>(extra) + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            put(0xD800 + (c >> 10));
            put(0xDC00 + (c & 0x3FF));
        } else {
            put(c);
        }
    }
    return true;
}

bool Utf16ToUtf8(std::string_view bytes, std::string& out) {
    if (bytes.size() % 2 != 0) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t c = p[2 * i] | (p[2 * i + 1] << 8);
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= units) return false;
            const std::uint32_t low = p[2 * i + 2] | (p[2 * i + 3] << 8);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return true;
}

std::string ParseValueText(const FieldInfo& field, std::string_view text, std::string& out) {
    const DSFLDDesc& d = field.desc;
    out.clear();
    switch (d.iFldType) {
    case fldZSTRING:
        if (text.size() > static_cast<std::size_t>(d.iUnits1))
            return Format("text of %zu bytes is longer than the field's WIDTH %d", text.size(),
                          d.iUnits1);
        out.assign(text);
        return {};
    case fldWIDESTRING:
        if (!Utf8ToUtf16(text, out)) return "text is not valid UTF-8";
        if (out.size() > static_cast<std::size_t>(d.iUnits1))
            return Format("text of %zu UTF-16 bytes is longer than the field's WIDTH %d",
                          out.size(), d.iUnits1);
        return {};
    case fldINT16: return ParseInteger<std::int16_t>(text, out);
    case fldUINT16: return ParseInteger<std::uint16_t>(text, out);
    case fldINT32: return ParseInteger<std::int32_t>(text, out);
    case fldINT64: return ParseInteger<std::int64_t>(text, out);
    case fldFLOAT: {
        double value = 0;
        text = WithoutPlus(text);
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, value);
        if (ec != std::errc() || ptr != end || !std::isfinite(value)) return "not a decimal number";
        AppendRaw(out, value);
        return {};
    }
    case fldBCD:
    case fldFMTBCD: {
        std::uint8_t bcd[34];
        if (!ParseBcd(text, bcd)) return "not a plain decimal number";
        if (d.iUnits1 > 0 && bcd[0] > d.iUnits1)
            return Format("number has %d digits, more than the field's %d", bcd[0], d.iUnits1);
        out.assign(reinterpret_cast<const char*>(bcd), sizeof bcd);
        return {};
    }
    case fldBOOL: {
        std::int16_t value;
        if (SameTextAscii(text, "TRUE")) value = 1;
        else if (SameTextAscii(text, "FALSE")) value = 0;
        else return "not TRUE or FALSE";
        AppendRaw(out, value);
        return {};
    }
    case fldDATE: {
        int y, m, dd;
        std::int32_t day;
        if (!ParseDate(text, y, m, dd) || !EncodeDayNumber(y, m, dd, day)) return "not a date YYYYMMDD";
        AppendRaw(out, day);
        return {};
    }
    case fldTIME: {
        std::int32_t ms;
        int parts[4];
        if (!ParseTime(text, ms, parts)) return "not a time HH:MM:SS[.mmm]";
        AppendRaw(out, ms);
        return {};
    }
    case fldDATETIME:
    case fldSQLTIMESTAMP: {
        if (d.iFldType == fldSQLTIMESTAMP && text == kBlankTimeStampText) {
            AppendRaw(out, TSQLTimeStamp{});  // all zero: the blank time stamp, as written
            return {};
        }
        int y, m, dd, parts[4];
        std::int32_t day, ms;
        if (text.size() < 9 || text[8] != 'T' || !ParseDate(text.substr(0, 8), y, m, dd) ||
            !EncodeDayNumber(y, m, dd, day) || !ParseTime(text.substr(9), ms, parts))
            return "not a date and time YYYYMMDDTHH:MM:SS[.mmm]";
        if (d.iFldType == fldDATETIME) {
            AppendRaw(out, static_cast<double>(day) * kMsPerDay + ms);
        } else {
            TSQLTimeStamp ts;
            ts.Year = static_cast<std::int16_t>(y);
            ts.Month = static_cast<std::uint16_t>(m);
            ts.Day = static_cast<std::uint16_t>(dd);
            ts.Hour = static_cast<std::uint16_t>(parts[0]);
            ts.Minute = static_cast<std::uint16_t>(parts[1]);
            ts.Second = static_cast<std::uint16_t>(parts[2]);
            ts.Fractions = static_cast<std::uint32_t>(parts[3]);
            AppendRaw(out, ts);
        }
        return {};
    }
    case fldBLOB:
    case fldBYTES:
    case fldVARBYTES:
        if (!DecodeBase64(text, out)) return "not base64";
        if (d.iFldType != fldBLOB && out.size() > static_cast<std::size_t>(d.iUnits1))
            return Format("%zu bytes are more than the field's WIDTH %d", out.size(), d.iUnits1);
        return {};
    default:
        return "field type has no text form";
    }
}

void FormatValueText(const FieldInfo& field, const std::uint8_t* fixed, std::string_view var,
                     std::string& out) {
    char buf[64];
    switch (field.desc.iFldType) {
    case fldZSTRING: out.append(var); return;
    case fldWIDESTRING: Utf16ToUtf8(var, out); return;
    case fldINT16: out += std::to_string(LoadRaw<std::int16_t>(fixed)); return;
    case fldUINT16: out += std::to_string(LoadRaw<std::uint16_t>(fixed)); return;
    case fldINT32: out += std::to_string(LoadRaw<std::int32_t>(fixed)); return;
    case fldINT64: out += std::to_string(LoadRaw<std::int64_t>(fixed)); return;
    case fldFLOAT: {
        const auto r = std::to_chars(buf, buf + sizeof buf, LoadRaw<double>(fixed));
        out.append(buf, r.ptr);
        return;
    }
    case fldBCD:
    case fldFMTBCD: out += BcdToString(LoadRaw<TBcd>(fixed)); return;
    case fldBOOL: out += LoadRaw<std::int16_t>(fixed) != 0 ? "TRUE" : "FALSE"; return;
    case fldDATE: AppendDate(out, LoadRaw<std::int32_t>(fixed)); return;
    case fldTIME: AppendTime(out, LoadRaw<std::int32_t>(fixed)); return;
    case fldDATETIME: {
        const double v = LoadRaw<double>(fixed);
        const auto total = static_cast<std::int64_t>(std::llround(v));
        AppendDate(out, static_cast<std::int32_t>(total / kMsPerDay));
        out += 'T';
        AppendTime(out, static_cast<std::int32_t>(total % kMsPerDay));
        return;
    }
    case fldSQLTIMESTAMP: {
        const auto ts = LoadRaw<TSQLTimeStamp>(fixed);
        out += Format("%04d%02u%02uT%02u:%02u:%02u", ts.Year, ts.Month, ts.Day, ts.Hour,
                      ts.Minute, ts.Second);
        if (ts.Fractions != 0) out += Format(".%03u", ts.Fractions % 1000);
        return;
    }
    case fldBLOB: {
        const auto ref = LoadRaw<BlobRef>(fixed);
        EncodeBase64(std::string_view(reinterpret_cast<const char*>(ref.data), ref.length), out);
        return;
    }
    case fldBYTES:
        EncodeBase64(std::string_view(reinterpret_cast<const char*>(fixed),
                                      static_cast<std::size_t>(field.desc.iUnits1)),
                     out);
        return;
    case fldVARBYTES: EncodeBase64(var, out); return;
    default: return;
    }
}

std::string VerifyValue(const FieldInfo& field, const void* value) {
    if (value == nullptr) return {};
    const DSFLDDesc& d = field.desc;
    const auto* p = static_cast<const std::uint8_t*>(value);
    switch (d.iFldType) {
    case fldZSTRING: {
        const auto* end = static_cast<const std::uint8_t*>(
            std::memchr(p, 0, static_cast<std::size_t>(d.iUnits1) + 1));
        if (end == nullptr) return Format("text longer than the field's width %d", d.iUnits1);
        return {};
    }
    case fldWIDESTRING:
    case fldVARBYTES: {
        const auto n = LoadRaw<std::uint16_t>(p);
        if (n > d.iUnits1) return Format("%u bytes are more than the field's width %d", n, d.iUnits1);
        if (d.iFldType == fldWIDESTRING && n % 2 != 0) return "odd byte count for UTF-16 text";
        return {};
    }
    case fldBOOL: {
        const auto b = LoadRaw<std::int16_t>(p);
        return b == 0 || b == 1 ? std::string() : Format("%d is no boolean value", b);
    }
    case fldBCD:
    case fldFMTBCD: {
        const auto bcd = LoadRaw<TBcd>(p);
        if (!ValidBcd(bcd)) return "malformed BCD record";
        // A record may carry leading zero digits (a value put with a wider precision than the
        // field's); the digits from the first non-zero integer digit on must fit the field's
        // precision, or no packet of the dataset could be read again. Zeros behind the decimal
        // point count, as they do when the value is read as text.
        const int intDigits = bcd.Precision - bcd.Places();
        int first = 0;
        while (first < intDigits && bcd.Digit(first) == 0) ++first;
        const int digits = bcd.Precision - first;
        if (d.iUnits1 > 0 && digits > d.iUnits1)
            return Format("%d digits are more than the field's %d", digits, d.iUnits1);
        return {};
    }
    case fldDATE: {
        const auto day = LoadRaw<std::int32_t>(p);
        return day >= 1 && day <= kMaxDayNumber ? std::string() : Format("day number %d out of range", day);
    }
    case fldTIME: {
        const auto ms = LoadRaw<std::int32_t>(p);
        return ms >= 0 && ms < kMsPerDay ? std::string() : Format("time %d ms out of range", ms);
    }
    case fldDATETIME: {
        const double v = LoadRaw<double>(p);
        if (!std::isfinite(v) || v < kMsPerDay || v >= (kMaxDayNumber + 1.0) * kMsPerDay)
            return "date and time out of range";
        return {};
    }
    case fldFLOAT:
        return std::isfinite(LoadRaw<double>(p)) ? std::string() : "not a finite number";
    case fldSQLTIMESTAMP: {
        const auto ts = LoadRaw<TSQLTimeStamp>(p);
        if (ts.Blank()) return {};
        std::int32_t day;
        if (!EncodeDayNumber(ts.Year, ts.Month, ts.Day, day) || ts.Hour > 23 || ts.Minute > 59 ||
            ts.Second > 59 || ts.Fractions > 999)
            return "invalid SQL time stamp";
        return {};
    }
    default: return {};
    }
}

}  // namespace tarnwick::dsengine::detail
