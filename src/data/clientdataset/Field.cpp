#include "data/clientdataset/Field.h"

#include "base/Text.h"
#include "data/clientdataset/DataSet.h"
#include "data/clientdataset/DateTimeForms.h"
#include "data/clientdataset/Locale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tarnwick {

// ---------------------------------------------------------------------------------------------
// TField

TField::TField(TDataSet& dataset, TFieldType type) : dataset_(&dataset), dataType_(type) {}

bool TField::GetData(void* buffer) const { return dataset_->GetFieldData(*this, buffer); }

bool TField::IsNull() const { return !GetData(nullptr); }

void TField::CheckCanStore() const {
    dataset_->CheckEditing();
    if (readOnly_) DatabaseError(Format("Field '%s' cannot be modified", DisplayName().c_str()));
}

void TField::SetData(const void* buffer) {
    CheckCanStore();
    dataset_->SetFieldData(*this, buffer);
    dataset_->NoteFieldChanged(*this);
}

void TField::Clear() { SetData(nullptr); }

TVariant TField::VariantValue() const { return GetAsVariant(); }

std::string TField::StringValue() const { return GetAsString(); }

void TField::SetVariantValue(const TVariant& value) {
    try {
        if (value.IsNull()) Clear();
        else SetAsVariant(value);
    } catch (const EVariantError&) {
        RaiseInvalidValue();
    }
}

void TField::SetAsVariant(const TVariant&) { RaiseInvalidValue(); }

std::string TField::GetAsString() const { return {}; }

void TField::RaiseInvalidValue() const {
    DatabaseError(Format("Invalid value for field '%s'", DisplayName().c_str()));
}

void TField::RaiseRangeError(double value, double min, double max) const {
    DatabaseError(Format("%s is not a valid value for field '%s'. The allowed range is %s to %s",
                         locale::FloatToText(value).c_str(), DisplayName().c_str(),
                         locale::FloatToText(min).c_str(), locale::FloatToText(max).c_str()));
}

// ---------------------------------------------------------------------------------------------
// Text

bool TStringField::GetText(std::string& out) const {
    out.assign(static_cast<std::size_t>(DataSize()), '\0');
    if (!GetData(out.data())) {
        out.clear();
        return false;
    }
    out.resize(std::strlen(out.c_str()));
    return true;
}

TVariant TStringField::GetAsVariant() const {
    std::string text;
    if (!GetText(text)) return TVariant::Null();
    return TVariant(std::move(text));
}

std::string TStringField::GetAsString() const {
    std::string text;
    GetText(text);
    return text;
}

void TStringField::SetAsVariant(const TVariant& value) {
    std::string text = VarToText(value);
    text.resize(std::strlen(text.c_str()));  // a zero character ends the text
    std::string buffer(Utf8Prefix(text, static_cast<std::size_t>(Size())));
    buffer.resize(static_cast<std::size_t>(DataSize()), '\0');
    SetData(buffer.data());
}

bool TWideStringField::GetWideText(std::u16string& out) const {
    std::string buffer(static_cast<std::size_t>(DataSize()), '\0');
    out.clear();
    if (!GetData(buffer.data())) return false;
    std::uint16_t bytes = 0;
    std::memcpy(&bytes, buffer.data(), 2);
    const std::size_t units = std::min<std::size_t>(bytes / 2, static_cast<std::size_t>(Size()));
    out.resize(units);
    std::memcpy(out.data(), buffer.data() + 2, units * 2);
    return true;
}

TVariant TWideStringField::GetAsVariant() const {
    std::u16string text;
    if (!GetWideText(text)) return TVariant::Null();
    return TVariant(std::move(text));
}

std::string TWideStringField::GetAsString() const {
    std::u16string text;
    GetWideText(text);
    return Utf16ToUtf8(text);
}

void TWideStringField::SetAsVariant(const TVariant& value) {
    std::u16string text = VarToWideText(value);
    const std::size_t zero = text.find(u'\0');
    if (zero != std::u16string::npos) text.resize(zero);
    std::size_t units = std::min<std::size_t>(text.size(), static_cast<std::size_t>(Size()));
    // Never keep the first half of a surrogate pair alone.
    if (units > 0 && units < text.size() && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF)
        --units;
    std::string buffer(static_cast<std::size_t>(DataSize()), '\0');
    const auto bytes = static_cast<std::uint16_t>(units * 2);
    std::memcpy(buffer.data(), &bytes, 2);
    std::memcpy(buffer.data() + 2, text.data(), units * 2);
    SetData(buffer.data());
}

// ---------------------------------------------------------------------------------------------
// Integers

TIntegerField::TIntegerField(TDataSet& dataset, TFieldType type)
    : TNumericField(dataset, type),
      classMin_(std::numeric_limits<std::int32_t>::min()),
      classMax_(std::numeric_limits<std::int32_t>::max()) {}

TSmallintField::TSmallintField(TDataSet& dataset) : TIntegerField(dataset, ftSmallint) {
    classMin_ = -32768;
    classMax_ = 32767;
}

TWordField::TWordField(TDataSet& dataset) : TIntegerField(dataset, ftWord) {
    classMin_ = 0;
    classMax_ = 65535;
}

bool TIntegerField::ReadValue(std::int32_t& out) const { return GetData(&out); }

void TIntegerField::WriteValue(std::int32_t value) { SetData(&value); }

bool TSmallintField::ReadValue(std::int32_t& out) const {
    std::int16_t v = 0;
    if (!GetData(&v)) return false;
    out = v;
    return true;
}

void TSmallintField::WriteValue(std::int32_t value) {
    const auto v = static_cast<std::int16_t>(value);
    SetData(&v);
}

bool TWordField::ReadValue(std::int32_t& out) const {
    std::uint16_t v = 0;
    if (!GetData(&v)) return false;
    out = v;
    return true;
}

void TWordField::WriteValue(std::int32_t value) {
    const auto v = static_cast<std::uint16_t>(value);
    SetData(&v);
}

bool TIntegerField::GetInteger(std::int32_t& out) const {
    out = 0;
    return ReadValue(out);
}

TVariant TIntegerField::GetAsVariant() const {
    std::int32_t v = 0;
    if (!ReadValue(v)) return TVariant::Null();
    return TVariant(v);
}

std::string TIntegerField::GetAsString() const {
    std::int32_t v = 0;
    if (!ReadValue(v)) return {};
    return std::to_string(v);
}

void TIntegerField::SetAsVariant(const TVariant& value) {
    const std::int32_t v = VarToInt32(value);
    // MinValue and MaxValue narrow the class range only when one of them is set.
    const bool own = minValue_ != 0 || maxValue_ != 0;
    const std::int64_t low = own ? minValue_ : classMin_;
    const std::int64_t high = own ? maxValue_ : classMax_;
    if (v < low || v > high)
        RaiseRangeError(v, static_cast<double>(low), static_cast<double>(high));
    WriteValue(v);
}

TVariant TLargeintField::GetAsVariant() const {
    std::int64_t v = 0;
    if (!GetData(&v)) return TVariant::Null();
    return TVariant(v);
}

std::string TLargeintField::GetAsString() const {
    std::int64_t v = 0;
    if (!GetData(&v)) return {};
    return std::to_string(v);
}

void TLargeintField::SetAsVariant(const TVariant& value) {
    const std::int64_t v = VarToInt64(value);
    SetData(&v);
}

// ---------------------------------------------------------------------------------------------
// Floating point and BCD

bool TFloatField::GetFloat(double& out) const {
    out = 0;
    return GetData(&out);
}

TVariant TFloatField::GetAsVariant() const {
    double v = 0;
    if (!GetData(&v)) return TVariant::Null();
    return TVariant(v);
}

std::string TFloatField::GetAsString() const {
    double v = 0;
    if (!GetData(&v)) return {};
    return locale::FloatToText(v);
}

void TFloatField::SetAsVariant(const TVariant& value) {
    const double v = VarToDouble(value);
    SetData(&v);
}

namespace {

// The currency amount (units of 1/10 000) of a BCD record, rounded to 4 places; false when it
// does not fit.
// The value in units of 1/10000, rounded half away from zero where it has more places.
bool BcdToCurrency(const TBcd& bcd, std::int64_t& out) {
    const int precision = bcd.Precision;
    const int places = bcd.Places() < precision ? bcd.Places() : precision;
    const int kept = precision - places + (places < 4 ? places : 4);  // digits down to 1/10000
    __int128 units = 0;
    for (int i = 0; i < kept; ++i) {
        units = units * 10 + bcd.Digit(i);
        if (units > std::numeric_limits<std::int64_t>::max()) return false;
    }
    for (int p = places; p < 4; ++p) {
        units *= 10;
        if (units > std::numeric_limits<std::int64_t>::max()) return false;
    }
    if (places > 4 && bcd.Digit(kept) >= 5) ++units;
    if (units > std::numeric_limits<std::int64_t>::max()) return false;
    out = static_cast<std::int64_t>(bcd.Negative() ? -units : units);
    return true;
}

}  // namespace

bool TBCDField::GetCurrency(std::int64_t& out) const {
    TBcd bcd;
    out = 0;
    if (!GetData(&bcd)) return false;
    if (!BcdToCurrency(bcd, out)) throw EBcdException("BCD overflow");
    return true;
}

TVariant TBCDField::GetAsVariant() const {
    std::int64_t units = 0;
    if (!GetCurrency(units)) return TVariant::Null();
    return TVariant::FromCurrency(units);
}

std::string TBCDField::GetAsString() const {
    std::int64_t units = 0;
    if (!GetCurrency(units)) return {};
    return locale::CurrencyToText(units);
}

namespace {

// Digits of a BCD record from its first non-zero one on: what must fit a field's precision.
int SignificantDigits(const TBcd& bcd) {
    int first = 0;
    while (first < bcd.Precision && bcd.Digit(first) == 0) ++first;
    return bcd.Precision - first;
}

// The largest magnitude a BCD field of `precision` digits and `places` decimals holds.
double BcdFieldLimit(int precision, int places) {
    return std::pow(10.0, precision - places) - std::pow(10.0, -places);
}

}  // namespace

void TBCDField::SetAsVariant(const TVariant& value) {
    const std::int64_t units = VarToCurrency(value);
    const auto stored = BcdNormalize(BcdFromCurrency(units), 32, Size());
    if (!stored) RaiseInvalidValue();
    // A value wider than the field would be stored but could not be read back from a packet.
    if (precision_ > 0 && SignificantDigits(*stored) > precision_) {
        const double limit = BcdFieldLimit(precision_, Size());
        RaiseRangeError(static_cast<double>(units) / 10000.0, -limit, limit);
    }
    SetData(&*stored);
}

bool TFMTBCDField::GetBcd(TBcd& out) const {
    out = TBcd{};
    return GetData(&out);
}

TVariant TFMTBCDField::GetAsVariant() const {
    TBcd bcd;
    if (!GetBcd(bcd)) return TVariant::Null();
    return TVariant(bcd);
}

std::string TFMTBCDField::GetAsString() const {
    TBcd bcd;
    if (!GetBcd(bcd)) return {};
    return BcdToString(bcd);
}

namespace {

// The plain number text of a double cut to at most 18 digits and 4 decimal places; the dropped
// decimals are cut off, not rounded.
std::string DoubleTextForBcd(const std::string& text) {
    const std::size_t point = text.find('.');
    if (point == std::string::npos) return text;
    int intDigits = 0;
    for (std::size_t i = 0; i < point; ++i)
        if (text[i] >= '0' && text[i] <= '9') ++intDigits;
    const int places = std::max(0, std::min(4, 18 - intDigits));
    return places == 0 ? text.substr(0, point) : text.substr(0, point + 1 + places);
}

}  // namespace

void TFMTBCDField::SetAsVariant(const TVariant& value) {
    TBcd bcd;
    if (value.VarType() == varFMTBcd) {
        bcd = value.Bcd();
    } else {
        const double v = VarToDouble(value);
        const std::string text = locale::FloatToText(v);
        // The text form of the value takes an exponent exactly where a BCD cannot hold the value.
        if (!std::isfinite(v) || text.find('E') != std::string::npos)
            throw EBcdException(Format("%s is not a valid BCD value", text.c_str()));
        const auto parsed = BcdFromString(DoubleTextForBcd(text));
        if (!parsed) throw EBcdException(Format("%s is not a valid BCD value", text.c_str()));
        bcd = *parsed;
    }
    // A value beyond the field's range is refused like any other number out of range; one
    // within it but with more decimals than the field has digits for could not be read back
    // from a packet.
    if (precision_ > 0) {
        const int places = std::min<int>(bcd.Places(), bcd.Precision);
        int leading = 0;
        while (leading < bcd.Precision - places && bcd.Digit(leading) == 0) ++leading;
        if (bcd.Precision - places - leading > precision_ - Size()) {
            const double limit = BcdFieldLimit(precision_, Size());
            double shown = 0;
            locale::TextToDouble(BcdToString(bcd), shown);
            RaiseRangeError(shown, -limit, limit);
        }
        if (SignificantDigits(bcd) > precision_) RaiseInvalidValue();
    }
    SetData(&bcd);
}

// ---------------------------------------------------------------------------------------------
// Boolean

TVariant TBooleanField::GetAsVariant() const {
    std::int16_t v = 0;
    if (!GetData(&v)) return TVariant::Null();
    return TVariant(v != 0);
}

std::string TBooleanField::GetAsString() const {
    std::int16_t v = 0;
    if (!GetData(&v)) return {};
    return locale::BoolToText(v != 0);
}

void TBooleanField::SetAsVariant(const TVariant& value) {
    const std::int16_t v = VarToBoolean(value) ? 1 : 0;
    SetData(&v);
}

// ---------------------------------------------------------------------------------------------
// Date and time

bool TDateTimeField::ReadValue(TDateTime& out) const {
    double msecs = 0;
    if (!GetData(&msecs)) return false;
    const double days = std::floor(msecs / kMSecsPerDay);
    TTimeStamp stamp;
    stamp.Date = static_cast<std::int32_t>(days);
    stamp.Time = static_cast<std::int32_t>(msecs - days * kMSecsPerDay);
    out = TimeStampToDateTime(stamp);
    return true;
}

void TDateTimeField::WriteValue(TDateTime value) {
    const auto stamp = DateTimeToTimeStamp(value);
    if (!stamp) RaiseInvalidValue();
    const double msecs = static_cast<double>(stamp->Date) * kMSecsPerDay + stamp->Time;
    SetData(&msecs);
}

bool TDateField::ReadValue(TDateTime& out) const {
    std::int32_t day = 0;
    if (!GetData(&day)) return false;
    out = TimeStampToDateTime(TTimeStamp{0, day});
    return true;
}

void TDateField::WriteValue(TDateTime value) {
    const auto stamp = DateTimeToTimeStamp(value);
    if (!stamp) RaiseInvalidValue();
    SetData(&stamp->Date);
}

bool TTimeField::ReadValue(TDateTime& out) const {
    std::int32_t msecs = 0;
    if (!GetData(&msecs)) return false;
    out = static_cast<double>(msecs) / kMSecsPerDay;
    return true;
}

void TTimeField::WriteValue(TDateTime value) {
    const auto stamp = DateTimeToTimeStamp(value);
    if (!stamp) RaiseInvalidValue();
    SetData(&stamp->Time);
}

bool TDateTimeField::GetDateTime(TDateTime& out) const {
    out = 0;
    return ReadValue(out);
}

TVariant TDateTimeField::GetAsVariant() const {
    TDateTime v = 0;
    if (!ReadValue(v)) return TVariant::Null();
    return TVariant::FromDateTime(v);
}

std::string TDateTimeField::GetAsString() const {
    TDateTime v = 0;
    if (!ReadValue(v)) return {};
    return locale::DateTimeToTextDateFirst(v);
}

std::string TDateField::GetAsString() const {
    TDateTime v = 0;
    if (!ReadValue(v)) return {};
    return locale::DateToText(v);
}

std::string TTimeField::GetAsString() const {
    TDateTime v = 0;
    if (!ReadValue(v)) return {};
    return locale::TimeToText(v);
}

void TDateTimeField::SetAsVariant(const TVariant& value) { WriteValue(VarToDateTime(value)); }

bool TSQLTimeStampField::GetTimeStamp(TSQLTimeStamp& out) const {
    out = TSQLTimeStamp{};
    return GetData(&out);
}

TVariant TSQLTimeStampField::GetAsVariant() const {
    TSQLTimeStamp v;
    if (!GetTimeStamp(v)) return TVariant::Null();
    return TVariant(v);
}

std::string TSQLTimeStampField::GetAsString() const {
    TSQLTimeStamp v;
    if (!GetTimeStamp(v)) return {};
    return VarToText(TVariant(v));
}

void TSQLTimeStampField::SetAsVariant(const TVariant& value) {
    switch (value.VarType()) {
    case varEmpty:
        DatabaseError("Unassigned variant value");
    case varSQLTimeStamp:
        SetData(&value.SQLTimeStamp());
        return;
    case varString:
    case varWideString: {
        const std::string text = value.VarType() == varString ? value.Text() : Utf16ToUtf8(value.WideText());
        TDateTime parsed = 0;
        if (locale::TextToDateTime(text, parsed) != locale::TConvStatus::Ok)
            throw EConvertError("Could not parse SQL TimeStamp string");
        const auto stamp = DateTimeToSQLTimeStamp(parsed);
        if (!stamp) throw EConvertError("Could not parse SQL TimeStamp string");
        SetData(&*stamp);
        return;
    }
    case varDouble:
    case varDate: {
        const double v = value.VarType() == varDouble ? value.Double() : value.DateTime();
        const auto stamp = DateTimeToSQLTimeStamp(v);
        if (!stamp) RaiseInvalidValue();
        SetData(&*stamp);
        return;
    }
    default:
        RaiseInvalidValue();
    }
}

// ---------------------------------------------------------------------------------------------
// Bytes

bool TBinaryField::GetBytes(std::vector<std::uint8_t>& out) const {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(DataSize()));
    out.clear();
    if (!GetData(buffer.data())) return false;
    if (!Varying()) {
        out = std::move(buffer);
        return true;
    }
    std::uint16_t length = 0;
    std::memcpy(&length, buffer.data(), 2);
    const std::size_t n = std::min<std::size_t>(length, static_cast<std::size_t>(Size()));
    out.assign(buffer.begin() + 2, buffer.begin() + 2 + static_cast<std::ptrdiff_t>(n));
    return true;
}

TVariant TBinaryField::GetAsVariant() const {
    std::vector<std::uint8_t> bytes;
    if (!GetBytes(bytes)) return TVariant::Null();
    return TVariant(std::move(bytes));
}

std::string TBinaryField::GetAsString() const {
    std::vector<std::uint8_t> bytes;
    GetBytes(bytes);
    return std::string(bytes.begin(), bytes.end());
}

void TBinaryField::SetAsVariant(const TVariant& value) {
    const auto refuse = [this] {
        DatabaseError(Format("Invalid variant type or size for field '%s'", DisplayName().c_str()));
    };
    if (value.VarType() != varByteArray) refuse();
    const auto& bytes = value.Bytes();
    if (bytes.size() > static_cast<std::size_t>(Size())) refuse();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(DataSize()), 0);
    if (Varying()) {
        const auto length = static_cast<std::uint16_t>(bytes.size());
        std::memcpy(buffer.data(), &length, 2);
        std::copy(bytes.begin(), bytes.end(), buffer.begin() + 2);
    } else {
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
    }
    SetData(buffer.data());
}

// ---------------------------------------------------------------------------------------------
// Blobs

bool TBlobField::GetBlob(std::string& out) const {
    out.clear();
    return DataSet().GetBlobData(*this, out);
}

void TBlobField::SetBlob(std::string_view bytes) {
    if (ReadOnly()) DataSet().Error(Format("Field '%s' cannot be modified", DisplayName().c_str()));
    DataSet().CheckEditing();
    DataSet().SetBlobData(*this, bytes);
    DataSet().NoteFieldChanged(*this);
}

void TBlobField::Clear() { SetBlob({}); }

TVariant TBlobField::GetAsVariant() const {
    std::string content;
    GetBlob(content);
    return TVariant(std::move(content));
}

std::string TBlobField::GetAsString() const {
    std::string content;
    GetBlob(content);
    return content;
}

void TBlobField::SetAsVariant(const TVariant& value) { SetBlob(VarToText(value)); }

// ---------------------------------------------------------------------------------------------

std::unique_ptr<TField> CreateFieldOfType(TDataSet& dataset, TFieldType type) {
    switch (type) {
    case ftString: case ftFixedChar: return std::make_unique<TStringField>(dataset, type);
    case ftWideString: return std::make_unique<TWideStringField>(dataset);
    case ftGuid: return std::make_unique<TGuidField>(dataset);
    case ftSmallint: return std::make_unique<TSmallintField>(dataset);
    case ftInteger: return std::make_unique<TIntegerField>(dataset);
    case ftWord: return std::make_unique<TWordField>(dataset);
    case ftAutoInc: return std::make_unique<TAutoIncField>(dataset);
    case ftLargeint: return std::make_unique<TLargeintField>(dataset);
    case ftFloat: return std::make_unique<TFloatField>(dataset);
    case ftCurrency: return std::make_unique<TCurrencyField>(dataset);
    case ftBCD: return std::make_unique<TBCDField>(dataset);
    case ftFMTBcd: return std::make_unique<TFMTBCDField>(dataset);
    case ftBoolean: return std::make_unique<TBooleanField>(dataset);
    case ftDate: return std::make_unique<TDateField>(dataset);
    case ftTime: return std::make_unique<TTimeField>(dataset);
    case ftDateTime: return std::make_unique<TDateTimeField>(dataset);
    case ftTimeStamp: return std::make_unique<TSQLTimeStampField>(dataset);
    case ftBytes: return std::make_unique<TBytesField>(dataset);
    case ftVarBytes: return std::make_unique<TVarBytesField>(dataset);
    case ftMemo: case ftOraClob: return std::make_unique<TMemoField>(dataset, type);
    case ftGraphic: return std::make_unique<TGraphicField>(dataset);
    case ftBlob: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle: case ftTypedBinary:
    case ftOraBlob:
        return std::make_unique<TBlobField>(dataset, type);
    case ftADT: return std::make_unique<TADTField>(dataset);
    case ftArray: return std::make_unique<TArrayField>(dataset);
    case ftDataSet: return std::make_unique<TDataSetField>(dataset);
    case ftReference: return std::make_unique<TReferenceField>(dataset);
    default: return nullptr;
    }
}

}  // namespace tarnwick
