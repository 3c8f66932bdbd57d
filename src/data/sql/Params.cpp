#include "data/sql/Params.h"

#include <cmath>
#include <cstring>

#include "base/DatabaseError.h"
#include "base/Text.h"
#include "base/ValueForms.h"
#include "data/clientdataset/DateTimeForms.h"

namespace tarnwick::sql {

namespace {

constexpr double kMsPerDay = 86400000.0;

TTimeStamp SplitDateTime(TDateTime dt) {
    const auto stamp = DateTimeToTimeStamp(dt);
    if (!stamp) throw EConvertError(Format("%g is not a valid date and time", dt));
    return *stamp;
}

TBcd BcdOfText(const std::string& text, const TParam& param) {
    const auto bcd = BcdFromString(text);
    if (!bcd) throw EDatabaseError(Format("%s is not a valid BCD value", text.c_str()));
    (void)param;
    return *bcd;
}

// The value of a BCD-typed parameter as a BCD record.
TBcd ParamBcd(const TParam& param) {
    const TVariant& v = param.Value();
    if (v.VarType() == varFMTBcd) return v.Bcd();
    if (v.VarType() == varCurrency) return BcdFromCurrency(v.CurrencyUnits());
    if (v.VarType() == varString) return BcdOfText(v.Text(), param);
    return BcdOfText(VarToText(v), param);
}

template <class T>
void PutValue(std::vector<std::uint8_t>& buffer, T value) {
    buffer.resize(sizeof(T));
    std::memcpy(buffer.data(), &value, sizeof(T));
}

}  // namespace

void TParam::SetValue(const TVariant& value) {
    value_ = value;
    if (dataType_ != ftUnknown) return;
    switch (value.VarType()) {
        case varInteger: dataType_ = ftInteger; break;
        case varInt64: dataType_ = ftLargeint; break;
        case varDouble: dataType_ = ftFloat; break;
        case varCurrency: dataType_ = ftBCD; break;
        case varDate: dataType_ = ftDateTime; break;
        case varBoolean: dataType_ = ftBoolean; break;
        case varString: dataType_ = ftString; break;
        case varWideString: dataType_ = ftWideString; break;
        case varByteArray: dataType_ = ftBlob; break;
        case varFMTBcd: dataType_ = ftFMTBcd; break;
        case varSQLTimeStamp: dataType_ = ftTimeStamp; break;
        default: break;
    }
}

TParam& TParams::Add(std::string name, TParamType type) {
    items_.push_back(std::make_unique<TParam>(std::move(name), type));
    return *items_.back();
}

TParam& TParams::AddValue(const TVariant& value, TFieldType type) {
    TParam& param = Add("", ptInput);
    param.SetValue(value, type);
    return param;
}

TParam& TParams::AddValue(TVariant&& value, TFieldType type) {
    TParam& param = Add("", ptInput);
    param.SetValue(std::move(value), type);
    return param;
}

TParam* TParams::FindParam(const std::string& name) {
    for (auto& item : items_)
        if (SameTextAscii(item->Name(), name)) return item.get();
    return nullptr;
}

TParam& TParams::ParamByName(const std::string& name) {
    TParam* param = FindParam(name);
    if (param == nullptr) throw EDatabaseError(Format("Parameter '%s' not found", name.c_str()));
    return *param;
}

void TParams::Assign(const TParams& other) {
    items_.clear();
    for (const auto& item : other.items_) items_.push_back(std::make_unique<TParam>(*item));
}

void TParams::AssignValues(const TParams& old) {
    for (auto& item : items_) {
        for (const auto& oldItem : old.items_) {
            if (!SameTextAscii(item->Name(), oldItem->Name())) continue;
            item->SetValue(oldItem->Value(), oldItem->DataType());
            break;
        }
    }
}

void FieldTypeToLogical(TFieldType type, std::uint16_t& logType, std::uint16_t& subType) {
    struct Entry {
        std::uint16_t log;
        std::uint16_t sub;
    };
    // Indexed by TFieldType; subtypes only for text (1) and blob (3) types.
    static const Entry map[] = {
        {0, 0},   // ftUnknown
        {1, 0},   // ftString
        {5, 0},   // ftSmallint
        {6, 0},   // ftInteger
        {12, 0},  // ftWord
        {4, 0},   // ftBoolean
        {7, 0},   // ftFloat
        {7, 0},   // ftCurrency
        {8, 0},   // ftBCD
        {2, 0},   // ftDate
        {10, 0},  // ftTime
        {11, 0},  // ftDateTime
        {9, 0},   // ftBytes
        {15, 0},  // ftVarBytes
        {6, 0},   // ftAutoInc
        {3, 23},  // ftBlob
        {3, 22},  // ftMemo
        {3, 26},  // ftGraphic
        {3, 24},  // ftFmtMemo
        {3, 25},  // ftParadoxOle
        {3, 27},  // ftDBaseOle
        {3, 28},  // ftTypedBinary
        {17, 0},  // ftCursor
        {1, 31},  // ftFixedChar
        {1, 32},  // ftWideString
        {18, 0},  // ftLargeint
        {20, 0},  // ftADT
        {21, 0},  // ftArray
        {22, 0},  // ftReference
        {23, 0},  // ftDataSet
        {3, 34},  // ftOraBlob
        {3, 33},  // ftOraClob
        {0, 0},   // ftVariant
        {0, 0},   // ftInterface
        {0, 0},   // ftIDispatch
        {1, 0},   // ftGuid
        {24, 0},  // ftTimeStamp
        {25, 0},  // ftFMTBcd
    };
    static_assert(sizeof(map) / sizeof(map[0]) == ftFMTBcd + 1, "one entry per field type");
    const auto index = static_cast<std::size_t>(type);
    logType = index < std::size(map) ? map[index].log : 0;
    subType = index < std::size(map) ? map[index].sub : 0;
}

namespace {

// Fills `out.Buffer` and `out.Length` for a non-null value.
void FillValue(const TParam& param, TParamDriverValue& out) {
    const TVariant& v = param.Value();
    std::vector<std::uint8_t>& buffer = out.Buffer;
    switch (param.DataType()) {
        case ftString: case ftMemo: case ftFixedChar: case ftADT: {
            // Zero-terminated; a zero inside the text ends it, as the driver reads it.
            if (v.VarType() == varString) {
                const std::string& text = v.Text();
                buffer.assign(text.begin(), text.end());
            } else {
                const std::string text = VarToText(v);
                buffer.assign(text.begin(), text.end());
            }
            buffer.push_back(0);
            break;
        }
        case ftSmallint: case ftWord:
            PutValue(buffer, static_cast<std::int16_t>(VarToInt32(v)));
            break;
        case ftBoolean:
            PutValue(buffer, static_cast<std::int16_t>(VarToBoolean(v) ? 1 : 0));
            break;
        case ftInteger: case ftAutoInc:
            PutValue(buffer, VarToInt32(v));
            break;
        case ftDate:
            PutValue(buffer, SplitDateTime(VarToDateTime(v)).Date);
            break;
        case ftTime:
            PutValue(buffer, SplitDateTime(VarToDateTime(v)).Time);
            break;
        case ftFloat: case ftCurrency:
            PutValue(buffer, VarToDouble(v));
            break;
        case ftDateTime: {
            const TTimeStamp stamp = SplitDateTime(VarToDateTime(v));
            PutValue(buffer, static_cast<double>(stamp.Date) * kMsPerDay + stamp.Time);
            break;
        }
        case ftBCD: {
            // The value as a currency amount, 32 digits with 4 places.
            const auto bcd = BcdNormalize(BcdFromCurrency(VarToCurrency(v)), 32, 4);
            PutValue(buffer, *bcd);
            break;
        }
        case ftFMTBcd:
            PutValue(buffer, ParamBcd(param));
            break;
        case ftTimeStamp:
            if (v.VarType() == varSQLTimeStamp) {
                PutValue(buffer, v.SQLTimeStamp());
                break;
            }
            {
                const TDateTime dt = VarToDateTime(v);
                const auto stamp = DateTimeToSQLTimeStamp(dt);
                if (!stamp) throw EConvertError(Format("%g is not a valid date and time", dt));
                PutValue(buffer, *stamp);
            }
            break;
        case ftBytes: case ftVarBytes:
            if (v.VarType() == varByteArray) buffer = v.Bytes();
            break;
        case ftBlob: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle:
        case ftTypedBinary: case ftOraBlob: case ftOraClob: {
            if (v.VarType() == varByteArray) {
                buffer = v.Bytes();
            } else {
                const std::string text = VarToText(v);
                buffer.assign(text.begin(), text.end());
            }
            break;
        }
        case ftCursor: case ftArray: case ftReference: case ftDataSet:
            break;
        default:
            throw EDatabaseError(Format("Field '%s' is of an unsupported type", param.Name().c_str()));
    }
    out.Length = static_cast<std::uint32_t>(buffer.size());
}

}  // namespace

TParamDriverValue ParamDriverValue(const TParam& param) {
    TParamDriverValue out;
    ParamDriverValue(param, out);
    return out;
}

void ParamDriverValue(const TParam& param, TParamDriverValue& out) {
    out.LogType = 0;
    out.SubType = 0;
    out.Precision = 0;
    out.Scale = 0;
    out.Length = 0;
    out.Buffer.clear();
    out.IsNull = true;
    FieldTypeToLogical(param.DataType(), out.LogType, out.SubType);
    if (out.LogType == 0)
        throw EDatabaseError(Format("No value for parameter '%s'", param.Name().c_str()));
    const TFieldType type = param.DataType();
    if (type == ftWideString || type == ftLargeint || type == ftGuid)
        throw EDatabaseError(Format("Field '%s' is of an unsupported type", param.Name().c_str()));
    out.IsNull = param.IsNull();
    if (!out.IsNull) FillValue(param, out);

    switch (out.LogType) {
        case 1:
            out.Precision = out.Length == 0 ? 0 : static_cast<std::int32_t>(out.Length) - 1;
            break;
        case 3: case 9:
            out.Precision = static_cast<std::int32_t>(out.Length);
            break;
        case 7:
            out.Precision = 8;
            break;
        case 15:
            out.Precision = static_cast<std::int32_t>(out.Length) - 2;
            break;
        case 8: case 25:
            out.LogType = 8;
            if (out.IsNull) break;
            {
                // Precision and scale are those of the value itself as its plain text reads:
                // integer digits without leading zeros, decimals without trailing zeros.
                TBcd bcd;
                std::memcpy(&bcd, out.Buffer.data(), sizeof(TBcd));
                const int places = bcd.Places() < bcd.Precision ? bcd.Places() : bcd.Precision;
                const int intDigits = bcd.Precision - places;
                int first = 0;
                while (first < intDigits && bcd.Digit(first) == 0) ++first;
                int decimals = places;
                while (decimals > 0 && bcd.Digit(intDigits + decimals - 1) == 0) --decimals;
                const int digits = intDigits - first + decimals;
                out.Precision = digits > 0 ? digits : 1;
                out.Scale = decimals;
            }
            break;
        default:
            break;
    }
}

}  // namespace tarnwick::sql
