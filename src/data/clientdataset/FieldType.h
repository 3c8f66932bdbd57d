#pragma once
// The field data types, field kinds and small flag sets shared by every dataset (file datasets,
// SQL datasets, the command dataset and its provider). Plain values, no behaviour.
// The enumeration order of TFieldType is fixed: other layers map it to driver and engine codes.

#include <cstdint>
#include <initializer_list>

namespace tarnwick {

enum TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftADT,
    ftArray,
    ftReference,
    ftDataSet,
    ftOraBlob,
    ftOraClob,
    ftVariant,
    ftInterface,
    ftIDispatch,
    ftGuid,
    ftTimeStamp,
    ftFMTBcd,
};

// The name of a field type ("String", "Integer", ...), for messages.
const char* FieldTypeName(TFieldType type);
// Blob-like types: the value is read and written whole through the dataset's blob operations.
bool IsBlobType(TFieldType type);
// Types whose fields are TStringField or derived from it.
inline bool IsStringType(TFieldType type) {
    return type == ftString || type == ftFixedChar || type == ftWideString || type == ftGuid;
}

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

// A set of the values of a small enumeration (at most 32 values), kept as bits: bit n is the
// value n. `Bits()` is the set as the bit mask other layers write into packets.
template <class E>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> values) {
        for (E v : values) Include(v);
    }
    static constexpr TSet FromBits(std::uint32_t bits) {
        TSet s;
        s.bits_ = bits;
        return s;
    }
    constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
    constexpr void Include(E v) { bits_ |= Bit(v); }
    constexpr void Exclude(E v) { bits_ &= ~Bit(v); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr std::uint32_t Bits() const { return bits_; }
    friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }
    friend constexpr TSet operator|(TSet a, TSet b) { return FromBits(a.bits_ | b.bits_); }

private:
    static constexpr std::uint32_t Bit(E v) { return std::uint32_t{1} << static_cast<unsigned>(v); }
    std::uint32_t bits_ = 0;
};

// Attributes of a field definition.
enum TFieldAttribute { faHiddenCol, faReadonly, faRequired, faLink, faUnNamed, faFixed };
using TFieldAttributes = TSet<TFieldAttribute>;

// How the provider uses a field when it writes changes back (bit 0 pfInUpdate ... bit 3 pfHidden).
enum TProviderFlag { pfInUpdate, pfInWhere, pfInKey, pfHidden };
using TProviderFlags = TSet<TProviderFlag>;
inline constexpr TProviderFlags kDefaultProviderFlags{pfInUpdate, pfInWhere};

}  // namespace tarnwick
