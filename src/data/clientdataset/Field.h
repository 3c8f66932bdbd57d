#pragma once
// TField and its class tree: access to one value of a dataset's current record. A field belongs
// to one dataset, which owns it from an open to the next close; it holds no value itself but reads
// and writes through the dataset's GetFieldData / SetFieldData / blob operations, in the value
// form of its class (DataSize bytes, see the table at each class). Reading is allowed while the
// dataset is open; writing only in the edit or insert state.

#include "base/BlockRecycler.h"
#include "data/clientdataset/FieldType.h"
#include "data/clientdataset/Variant.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tarnwick {

class TDataSet;

class TField {
public:
    TField(TDataSet& dataset, TFieldType type);
    virtual ~TField() = default;
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    // Through the virtual destructor, delete hands over the size of the field's own class.
    static void* operator new(std::size_t size) { return RecycledAllocate(size); }
    static void operator delete(void* block, std::size_t size) noexcept { RecycledFree(block, size); }

    TDataSet& DataSet() const { return *dataset_; }
    TFieldType DataType() const { return dataType_; }

    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(std::string name) { fieldName_ = std::move(name); }
    const std::string& DisplayLabel() const { return displayLabel_; }
    void SetDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
    // The name used in messages: the DisplayLabel, or the FieldName when that is empty.
    const std::string& DisplayName() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }

    // Characters of text fields, bytes of byte fields, decimal places of BCD fields.
    int Size() const { return size_; }
    virtual void SetSize(int size) { size_ = size; }
    // Running number of the field's definition, from 1; 0 for fields without one.
    int FieldNo() const { return fieldNo_; }
    void SetFieldNo(int fieldNo) { fieldNo_ = fieldNo; }
    bool Required() const { return required_; }
    void SetRequired(bool v) { required_ = v; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v) { readOnly_ = v; }
    TFieldKind FieldKind() const { return fieldKind_; }
    void SetFieldKind(TFieldKind kind) { fieldKind_ = kind; }
    const std::string& Origin() const { return origin_; }
    void SetOrigin(std::string origin) { origin_ = std::move(origin); }
    TProviderFlags ProviderFlags() const { return providerFlags_; }
    void SetProviderFlags(TProviderFlags flags) { providerFlags_ = flags; }

    // Bytes of the value form exchanged with the dataset (0 for blob fields).
    virtual int DataSize() const { return 0; }
    virtual bool IsBlob() const { return false; }

    // The value form of the current record into `buffer` (DataSize bytes); answers false for a
    // null value. A null buffer only tests for null.
    bool GetData(void* buffer) const;
    // Stores a value form (null buffer: null) into the record being edited or inserted, after the
    // state and ReadOnly checks.
    void SetData(const void* buffer);
    bool IsNull() const;

    // The value of the current record: null as a null variant (blob fields: empty text).
    TVariant VariantValue() const;
    // Assigns a variant: null clears the field; anything else is converted for the class. A
    // conversion failure of the variant kind becomes "Invalid value for field '%s'".
    void SetVariantValue(const TVariant& value);
    // The value as text; empty text for null.
    std::string StringValue() const;
    // Stores a null (blob fields: an empty content).
    virtual void Clear();

protected:
    virtual TVariant GetAsVariant() const { return TVariant::Null(); }
    // Converts a non-null variant and stores it.
    virtual void SetAsVariant(const TVariant& value);
    virtual std::string GetAsString() const;

    [[noreturn]] void RaiseInvalidValue() const;
    // "%g is not a valid value for field '%s'. The allowed range is %g to %g"
    [[noreturn]] void RaiseRangeError(double value, double min, double max) const;
    // Checks of every store: edit or insert state, not ReadOnly.
    void CheckCanStore() const;

private:
    TDataSet* dataset_;
    TFieldType dataType_;
    std::string fieldName_;
    std::string displayLabel_;
    std::string origin_;
    int size_ = 0;
    int fieldNo_ = 0;
    bool required_ = false;
    bool readOnly_ = false;
    TFieldKind fieldKind_ = fkData;
    TProviderFlags providerFlags_ = kDefaultProviderFlags;
};

// Text: the characters followed by a zero byte (DataSize = Size + 1). Size counts bytes of UTF-8;
// a stored text is cut to Size bytes without splitting a character.
class TStringField : public TField {
public:
    explicit TStringField(TDataSet& dataset, TFieldType type = ftString) : TField(dataset, type) {
        SetSize(20);
    }
    int DataSize() const override { return Size() + 1; }
    bool FixedChar() const { return fixedChar_; }
    void SetFixedChar(bool v) { fixedChar_ = v; }
    // The text of the current record, or nothing when null.
    bool GetText(std::string& out) const;

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;

private:
    bool fixedChar_ = false;
};

// Wide text: a 16-bit count of bytes, then the UTF-16 code units (DataSize = 2 + 2 * Size). Size
// counts UTF-16 code units; a stored text is cut without splitting a surrogate pair.
class TWideStringField : public TStringField {
public:
    explicit TWideStringField(TDataSet& dataset) : TStringField(dataset, ftWideString) {}
    int DataSize() const override { return 2 + 2 * Size(); }
    bool GetWideText(std::u16string& out) const;

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;
};

class TGuidField : public TStringField {
public:
    explicit TGuidField(TDataSet& dataset) : TStringField(dataset, ftGuid) { SetSize(38); }
};

class TNumericField : public TField {
public:
    using TField::TField;
};

// 32-bit signed integer (DataSize 4). MinValue and MaxValue of 0 leave only the class range.
class TIntegerField : public TNumericField {
public:
    explicit TIntegerField(TDataSet& dataset, TFieldType type = ftInteger);
    int DataSize() const override { return 4; }
    std::int64_t MinValue() const { return minValue_; }
    std::int64_t MaxValue() const { return maxValue_; }
    void SetMinValue(std::int64_t v) { minValue_ = v; }
    void SetMaxValue(std::int64_t v) { maxValue_ = v; }
    // The value of the current record, or nothing when null.
    bool GetInteger(std::int32_t& out) const;

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;
    // Reads and writes the value form (4 or 2 bytes).
    virtual bool ReadValue(std::int32_t& out) const;
    virtual void WriteValue(std::int32_t value);

    std::int64_t classMin_;
    std::int64_t classMax_;

private:
    std::int64_t minValue_ = 0;
    std::int64_t maxValue_ = 0;
};

// Signed 16-bit integer (DataSize 2).
class TSmallintField : public TIntegerField {
public:
    explicit TSmallintField(TDataSet& dataset);
    int DataSize() const override { return 2; }

protected:
    bool ReadValue(std::int32_t& out) const override;
    void WriteValue(std::int32_t value) override;
};

// Unsigned 16-bit integer (DataSize 2).
class TWordField : public TIntegerField {
public:
    explicit TWordField(TDataSet& dataset);
    int DataSize() const override { return 2; }

protected:
    bool ReadValue(std::int32_t& out) const override;
    void WriteValue(std::int32_t value) override;
};

class TAutoIncField : public TIntegerField {
public:
    explicit TAutoIncField(TDataSet& dataset) : TIntegerField(dataset, ftAutoInc) {}
};

// Signed 64-bit integer (DataSize 8).
class TLargeintField : public TNumericField {
public:
    explicit TLargeintField(TDataSet& dataset) : TNumericField(dataset, ftLargeint) {}
    int DataSize() const override { return 8; }

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;
};

// 64-bit floating point (DataSize 8).
class TFloatField : public TNumericField {
public:
    explicit TFloatField(TDataSet& dataset, TFieldType type = ftFloat) : TNumericField(dataset, type) {}
    int DataSize() const override { return 8; }
    bool GetFloat(double& out) const;

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;
};

class TCurrencyField : public TFloatField {
public:
    explicit TCurrencyField(TDataSet& dataset) : TFloatField(dataset, ftCurrency) {}
};

// BCD record (DataSize 34) holding a currency amount; Size is the number of decimal places
// stored, Precision the digits.
class TBCDField : public TNumericField {
public:
    explicit TBCDField(TDataSet& dataset) : TNumericField(dataset, ftBCD) { SetSize(4); }
    int DataSize() const override { return 34; }
    int Precision() const { return precision_; }
    void SetPrecision(int v) { precision_ = v; }
    // The value of the current record in units of 1/10 000, or nothing when null.
    bool GetCurrency(std::int64_t& out) const;

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;

private:
    int precision_ = 0;
};

// BCD record (DataSize 34), taken and given unchanged.
class TFMTBCDField : public TNumericField {
public:
    explicit TFMTBCDField(TDataSet& dataset) : TNumericField(dataset, ftFMTBcd) { SetSize(8); }
    int DataSize() const override { return 34; }
    int Precision() const { return precision_; }
    void SetPrecision(int v) { precision_ = v; }
    bool GetBcd(TBcd& out) const;

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;

private:
    int precision_ = 0;
};

// 16-bit integer, 1 for true and 0 for false (DataSize 2).
class TBooleanField : public TField {
public:
    explicit TBooleanField(TDataSet& dataset) : TField(dataset, ftBoolean) {}
    int DataSize() const override { return 2; }

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;
};

// Date-time: 64-bit floating point, day number * 86 400 000 + milliseconds (DataSize 8).
class TDateTimeField : public TField {
public:
    explicit TDateTimeField(TDataSet& dataset, TFieldType type = ftDateTime) : TField(dataset, type) {}
    int DataSize() const override { return 8; }
    // The value of the current record as a TDateTime, or nothing when null.
    bool GetDateTime(TDateTime& out) const;

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;
    virtual bool ReadValue(TDateTime& out) const;
    virtual void WriteValue(TDateTime value);
};

// Date: signed 32-bit day number, 1 for 1 January of year 1 (DataSize 4).
class TDateField : public TDateTimeField {
public:
    explicit TDateField(TDataSet& dataset) : TDateTimeField(dataset, ftDate) {}
    int DataSize() const override { return 4; }

protected:
    std::string GetAsString() const override;
    bool ReadValue(TDateTime& out) const override;
    void WriteValue(TDateTime value) override;
};

// Time: signed 32-bit milliseconds since midnight (DataSize 4).
class TTimeField : public TDateTimeField {
public:
    explicit TTimeField(TDataSet& dataset) : TDateTimeField(dataset, ftTime) {}
    int DataSize() const override { return 4; }

protected:
    std::string GetAsString() const override;
    bool ReadValue(TDateTime& out) const override;
    void WriteValue(TDateTime value) override;
};

// SQL time-stamp record (DataSize 16).
class TSQLTimeStampField : public TField {
public:
    explicit TSQLTimeStampField(TDataSet& dataset) : TField(dataset, ftTimeStamp) {}
    int DataSize() const override { return 16; }
    bool GetTimeStamp(TSQLTimeStamp& out) const;

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;
};

// Fixed bytes: exactly Size bytes (DataSize = Size); varying bytes: a 16-bit length, then at most
// Size bytes (DataSize = Size + 2).
class TBinaryField : public TField {
public:
    using TField::TField;
    bool GetBytes(std::vector<std::uint8_t>& out) const;

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;
    virtual bool Varying() const = 0;
};

class TBytesField : public TBinaryField {
public:
    explicit TBytesField(TDataSet& dataset, TFieldType type = ftBytes) : TBinaryField(dataset, type) {
        SetSize(16);
    }
    int DataSize() const override { return Size(); }

protected:
    bool Varying() const override { return false; }
};

class TVarBytesField : public TBytesField {
public:
    explicit TVarBytesField(TDataSet& dataset) : TBytesField(dataset, ftVarBytes) {}
    int DataSize() const override { return Size() + 2; }

protected:
    bool Varying() const override { return true; }
};

// Blob, memo and graphic fields: the whole content as bytes, through the dataset's blob
// operations; a null blob reads as empty text.
class TBlobField : public TField {
public:
    explicit TBlobField(TDataSet& dataset, TFieldType type = ftBlob) : TField(dataset, type) {}
    bool IsBlob() const override { return true; }
    // The whole content; false when null (`out` is then empty).
    bool GetBlob(std::string& out) const;
    // Stores the whole content (from offset 0).
    void SetBlob(std::string_view bytes);
    void Clear() override;

protected:
    TVariant GetAsVariant() const override;
    void SetAsVariant(const TVariant& value) override;
    std::string GetAsString() const override;
};

class TMemoField : public TBlobField {
public:
    explicit TMemoField(TDataSet& dataset, TFieldType type = ftMemo) : TBlobField(dataset, type) {}
};

class TGraphicField : public TBlobField {
public:
    explicit TGraphicField(TDataSet& dataset) : TBlobField(dataset, ftGraphic) {}
};

// Structured kinds (ADT, array, nested dataset, reference): created so that a packet holding them
// opens, but their values are not read by this system and answer null.
class TObjectField : public TField {
public:
    using TField::TField;
};
class TADTField : public TObjectField {
public:
    explicit TADTField(TDataSet& dataset) : TObjectField(dataset, ftADT) {}
};
class TArrayField : public TObjectField {
public:
    explicit TArrayField(TDataSet& dataset) : TObjectField(dataset, ftArray) {}
};
class TDataSetField : public TObjectField {
public:
    explicit TDataSetField(TDataSet& dataset) : TObjectField(dataset, ftDataSet) {}
};
class TReferenceField : public TObjectField {
public:
    explicit TReferenceField(TDataSet& dataset) : TObjectField(dataset, ftReference) {}
};

// A new field of the class for `type` (TStringField for ftString and ftFixedChar, ...), or null
// for types no field class serves (ftUnknown, ftCursor, ftVariant, ftInterface, ftIDispatch).
std::unique_ptr<TField> CreateFieldOfType(TDataSet& dataset, TFieldType type);

}  // namespace tarnwick
