// Field conversions and record states over a one-record dataset that keeps each value form in
// memory: the fields only see the dataset operations, so every conversion and refusal shows here
// without a packet.
#include "data/clientdataset/DataSet.h"
#include "data/clientdataset/DateTimeForms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <optional>

namespace tarnwick {
namespace {

class OneRecordDataSet : public TDataSet {
public:
    struct Column { const char* name; TFieldType type; int size; bool required; bool readOnly; };

    explicit OneRecordDataSet(std::vector<Column> columns, bool hasRecord = true)
        : columns_(std::move(columns)), hasRecord_(hasRecord) {
        SetName("CDS_Test");
    }
    ~OneRecordDataSet() override { Close(); }

    bool CanModify() const override { return canModify_; }
    bool GetFieldData(const TField& field, void* buffer) const override {
        if (field.IsBlob()) {
            std::string content;
            return GetBlobData(field, content);
        }
        const auto& record = Reading();
        const auto it = record.values.find(field.FieldNo());
        if (it == record.values.end() || !it->second) return false;
        if (buffer) std::memcpy(buffer, it->second->data(), it->second->size());
        return true;
    }
    void SetFieldData(TField& field, const void* buffer) override {
        auto& slot = edit_.values[field.FieldNo()];
        if (!buffer) {
            slot.reset();
            return;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        slot.emplace(bytes, bytes + field.DataSize());
    }
    bool GetBlobData(const TField& field, std::string& out) const override {
        const auto& record = Reading();
        const auto it = record.blobs.find(field.FieldNo());
        out.clear();
        if (it == record.blobs.end() || !it->second) return false;
        out = *it->second;
        return true;
    }
    void SetBlobData(TField& field, std::string_view bytes) override {
        edit_.blobs[field.FieldNo()] = std::string(bytes);
    }

    bool canModify_ = true;
    int posts_ = 0;

protected:
    void InternalOpen() override {
        int no = 1;
        for (const Column& c : columns_) {
            TFieldDef& def = FieldDefs().Add(c.name, c.type, c.size, c.required);
            def.FieldNo = no++;
            def.Precision = c.type == ftBCD ? 18 : c.type == ftFMTBcd ? 32 : 0;
            if (c.readOnly) def.Attributes.Include(faReadonly);
        }
        CreateFields();
    }
    void InternalClose() override { FieldDefs().Clear(); }
    void InternalFirst() override { delivered_ = false; }
    bool InternalNext() override {
        if (delivered_ || !hasRecord_) return false;
        delivered_ = true;
        return true;
    }
    int GetRecordTotal() const override { return hasRecord_ ? 1 : 0; }
    int GetRecordNumber() const override { return State() == dsInsert ? -1 : 1; }
    void InternalEdit() override { edit_ = record_; }
    void InternalInsert() override { edit_ = Record{}; }
    void InternalPost() override {
        record_ = edit_;
        hasRecord_ = true;
        ++posts_;
    }
    void InternalCancel() override { edit_ = Record{}; }

private:
    struct Record {
        std::map<int, std::optional<std::vector<std::uint8_t>>> values;
        std::map<int, std::optional<std::string>> blobs;
    };
    const Record& Reading() const {
        return State() == dsEdit || State() == dsInsert ? edit_ : record_;
    }
    std::vector<Column> columns_;
    bool hasRecord_;
    bool delivered_ = false;
    Record record_;
    Record edit_;
};

std::vector<OneRecordDataSet::Column> AllKinds() {
    return {
        {"NAME", ftString, 6, false, false},      {"WNAME", ftWideString, 3, false, false},
        {"SMALL", ftSmallint, 0, false, false},   {"QTY", ftInteger, 0, false, false},
        {"WORD", ftWord, 0, false, false},        {"BIG", ftLargeint, 0, false, false},
        {"RATE", ftFloat, 0, false, false},       {"PRICE", ftBCD, 2, false, false},
        {"AMOUNT", ftFMTBcd, 4, false, false},    {"FLAG", ftBoolean, 0, false, false},
        {"DAY", ftDate, 0, false, false},         {"CLOCK", ftTime, 0, false, false},
        {"WHEN", ftDateTime, 0, false, false},    {"STAMP", ftTimeStamp, 0, false, false},
        {"NOTE", ftMemo, 0, false, false},        {"RAW", ftBytes, 4, false, false},
        {"VRAW", ftVarBytes, 4, false, false},    {"FIXED", ftString, 4, false, true},
    };
}

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no failure)";
}

class FieldValues : public ::testing::Test {
protected:
    FieldValues() : ds(AllKinds()) {
        ds.Open();
        ds.BeginInsert();
    }
    TField& F(const char* name) { return ds.FieldNamed(name); }
    OneRecordDataSet ds;
};

TEST_F(FieldValues, AssignmentsConvertForTheDestinationClass) {
    struct Case { const char* field; TVariant value; TVariant stored; const char* text; };
    TBcd bcd = *BcdFromString("-12345678901234.56789");
    const TSQLTimeStamp stamp{2026, 12, 10, 8, 30, 5, 250};
    const TDateTime when = *EncodeDateTime(2026, 12, 10, 8, 30, 5, 250);
    const Case cases[] = {
        // Text is cut to Size bytes without splitting a character; a zero character ends it.
        {"NAME", TVariant("綠茶綠"), TVariant("綠茶"), "綠茶"},
        {"NAME", TVariant("AB綠茶"), TVariant("AB綠"), "AB綠"},
        {"NAME", TVariant(std::string("ab\0cd", 5)), TVariant("ab"), "ab"},
        {"NAME", TVariant(2.5), TVariant("2.5"), "2.5"},
        {"WNAME", TVariant("ABCD"), TVariant(u"ABC"), "ABC"},
        {"WNAME", TVariant("AB😀"), TVariant(u"AB"), "AB"},  // no half surrogate pair
        {"QTY", TVariant("12"), TVariant(std::int32_t{12}), "12"},
        {"QTY", TVariant(2.5), TVariant(std::int32_t{2}), "2"},
        {"QTY", TVariant(3.5), TVariant(std::int32_t{4}), "4"},
        {"QTY", TVariant(std::int32_t{0}), TVariant(std::int32_t{0}), "0"},
        {"SMALL", TVariant(std::int32_t{-32768}), TVariant(std::int32_t{-32768}), "-32768"},
        {"WORD", TVariant(std::int32_t{65535}), TVariant(std::int32_t{65535}), "65535"},
        {"BIG", TVariant("-9000000000"), TVariant(std::int64_t{-9000000000}), "-9000000000"},
        {"RATE", TVariant::FromCurrency(12345), TVariant(1.2345), "1.2345"},
        // BCD fields hold a currency amount, stored with Size (2) places.
        {"PRICE", TVariant("12.345"), TVariant::FromCurrency(123500), "12.35"},
        {"PRICE", TVariant(std::int32_t{7}), TVariant::FromCurrency(70000), "7"},
        // A BCD value keeps every digit; a double or text keeps at most 4 places, cut not rounded.
        {"AMOUNT", TVariant(bcd), TVariant(bcd), "-12345678901234.56789"},
        {"AMOUNT", TVariant(1.23456789), TVariant(*BcdFromString("1.2345")), "1.2345"},
        {"AMOUNT", TVariant("-0.99999"), TVariant(*BcdFromString("-0.9999")), "-0.9999"},
        {"FLAG", TVariant("true"), TVariant(true), "True"},
        {"FLAG", TVariant(std::int32_t{0}), TVariant(false), "False"},
        {"DAY", TVariant(when), TVariant::FromDateTime(std::floor(when)), "2026/12/10"},
        {"CLOCK", TVariant::FromDateTime(when), TVariant::FromDateTime(30605250 / double(kMSecsPerDay)), "08:30:05"},
        {"WHEN", TVariant("2026/12/10 08:30:05"),
         TVariant::FromDateTime(*EncodeDateTime(2026, 12, 10, 8, 30, 5, 0)), "2026/12/10 08:30:05"},
        // A time alone falls on the zero date.
        {"WHEN", TVariant("08:30:00"), TVariant::FromDateTime(8.5 / 24), "1899/12/30 08:30:00"},
        {"STAMP", TVariant("00:30:00"), TVariant(TSQLTimeStamp{1899, 12, 30, 0, 30, 0, 0}), "1899/12/30 00:30:00"},
        {"STAMP", TVariant(stamp), TVariant(stamp), "2026/12/10 08:30:05"},
        {"STAMP", TVariant::FromDateTime(when), TVariant(stamp), "2026/12/10 08:30:05"},
        {"STAMP", TVariant("2026/12/10"), TVariant(TSQLTimeStamp{2026, 12, 10, 0, 0, 0, 0}), "2026/12/10"},
        {"NOTE", TVariant(std::string(5000, 'x')), TVariant(std::string(5000, 'x')), nullptr},
        {"RAW", TVariant(std::vector<std::uint8_t>{1, 2}), TVariant(std::vector<std::uint8_t>{1, 2, 0, 0}), nullptr},
        {"VRAW", TVariant(std::vector<std::uint8_t>{1, 2}), TVariant(std::vector<std::uint8_t>{1, 2}), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " <- " + VarToText(c.value.VarType() == varByteArray ? TVariant("bytes") : c.value));
        F(c.field).SetVariantValue(c.value);
        EXPECT_EQ(F(c.field).VariantValue(), c.stored);
        if (c.text) {
            EXPECT_EQ(F(c.field).StringValue(), c.text);
        }
    }
}

TEST_F(FieldValues, RefusalsAndTheirMessages) {
    struct Case { const char* field; TVariant value; const char* message; };
    const Case cases[] = {
        {"QTY", TVariant("12x"), "Invalid value for field 'QTY'"},
        {"QTY", TVariant(std::vector<std::uint8_t>{1}), "Invalid value for field 'QTY'"},
        {"SMALL", TVariant(std::int32_t{40000}),
         "40000 is not a valid value for field 'SMALL'. The allowed range is -32768 to 32767"},
        {"WORD", TVariant(std::int32_t{-1}),
         "-1 is not a valid value for field 'WORD'. The allowed range is 0 to 65535"},
        {"QTY", TVariant(3e9), "Range check error"},
        {"AMOUNT", TVariant(1e15), "1E15 is not a valid BCD value"},
        {"AMOUNT", TVariant(0.000001), "1E-6 is not a valid BCD value"},
        {"STAMP", TVariant(), "Unassigned variant value"},
        {"STAMP", TVariant("not a date"), "Could not parse SQL TimeStamp string"},
        {"STAMP", TVariant(std::int32_t{5}), "Invalid value for field 'STAMP'"},
        {"RAW", TVariant("text"), "Invalid variant type or size for field 'RAW'"},
        {"VRAW", TVariant(std::vector<std::uint8_t>(5)), "Invalid variant type or size for field 'VRAW'"},
        {"FIXED", TVariant("x"), "Field 'FIXED' cannot be modified"},
        {"DAY", TVariant("yesterday"), "Invalid value for field 'DAY'"},
    };
    for (const Case& c : cases) EXPECT_EQ(MessageOf([&] { F(c.field).SetVariantValue(c.value); }), c.message) << c.field;
    // The classes of the failures, where they differ.
    EXPECT_THROW(F("QTY").SetVariantValue(TVariant(3e9)), ERangeError);
    EXPECT_THROW(F("AMOUNT").SetVariantValue(TVariant(1e15)), EBcdException);
    EXPECT_THROW(F("STAMP").SetVariantValue(TVariant("x")), EConvertError);
    EXPECT_THROW(F("QTY").SetVariantValue(TVariant("12x")), EDatabaseError);
}

TEST_F(FieldValues, NullsReadAsNullAndEmptyTextAndMemoAsEmptyText) {
    for (int i = 0; i < ds.FieldTotal(); ++i) {
        TField& field = ds.FieldAt(i);
        EXPECT_EQ(field.StringValue(), "") << field.FieldName();
        if (field.IsBlob()) {
            EXPECT_EQ(field.VariantValue(), TVariant(std::string())) << field.FieldName();
        } else {
            EXPECT_TRUE(field.VariantValue().IsNull()) << field.FieldName();
        }
    }
    F("QTY").SetVariantValue(TVariant(std::int32_t{5}));
    F("QTY").SetVariantValue(TVariant::Null());
    EXPECT_TRUE(F("QTY").IsNull());
    F("NOTE").SetVariantValue(TVariant::Null());  // a blob stores an empty content
    EXPECT_FALSE(F("NOTE").IsNull());
    EXPECT_EQ(F("NOTE").StringValue(), "");
}

TEST_F(FieldValues, CopiesBetweenFieldsKeepBcdAndTimeStampUnchanged) {
    const TBcd bcd = *BcdFromString("99999999999999999999.123456789");
    F("AMOUNT").SetVariantValue(TVariant(bcd));
    F("STAMP").SetVariantValue(TVariant(TSQLTimeStamp{1, 1, 1, 23, 59, 59, 999}));
    ds.PostRecord();

    OneRecordDataSet target(AllKinds(), false);
    target.Open();
    target.BeginEdit();  // no record: becomes an insert
    EXPECT_EQ(target.State(), dsInsert);
    for (const char* name : {"AMOUNT", "STAMP", "QTY"})
        target.FieldNamed(name).SetVariantValue(ds.FieldNamed(name).VariantValue());
    EXPECT_EQ(target.FieldNamed("AMOUNT").VariantValue().Bcd(), bcd);
    EXPECT_EQ(target.FieldNamed("STAMP").VariantValue(), ds.FieldNamed("STAMP").VariantValue());
    EXPECT_TRUE(target.FieldNamed("QTY").IsNull());
}

TEST(FieldLookup, NamesFoldAsciiLettersOnly) {
    OneRecordDataSet ds({{"MASTERBILLID", ftString, 10, false, false}, {"品名a", ftString, 10, false, false}});
    ds.Open();
    EXPECT_EQ(&ds.FieldNamed("masterbillid"), &ds.FieldAt(0));
    EXPECT_EQ(ds.FindFieldNamed("品名A"), &ds.FieldAt(1));
    EXPECT_EQ(ds.FindFieldNamed("MASTERBILLID "), nullptr);
    EXPECT_EQ(MessageOf([&] { ds.FieldNamed("PROD_ID"); }), "CDS_Test: Field 'PROD_ID' not found");
    EXPECT_EQ(MessageOf([&] { ds.FieldAt(2); }), "List index out of bounds (2)");
    EXPECT_THROW(ds.FieldAt(-1), EListError);
    EXPECT_EQ(ds.FieldTotal(), 2);
}

TEST(RecordStates, ChecksAndMessages) {
    OneRecordDataSet ds({{"ID", ftString, 10, true, false}, {"QTY", ftInteger, 0, false, false},
                         {"CALC", ftInteger, 0, true, true}});
    EXPECT_EQ(MessageOf([&] { ds.BeginEdit(); }), "CDS_Test: Cannot perform this operation on a closed dataset");
    ds.Open();
    EXPECT_EQ(MessageOf([&] { ds.FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{1})); }),
              "CDS_Test: Dataset not in edit or insert mode");
    EXPECT_EQ(MessageOf([&] { ds.PostRecord(); }), "CDS_Test: Dataset not in edit or insert mode");

    ds.BeginInsert();
    EXPECT_EQ(ds.RecordNumber(), -1);
    ds.FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{1}));
    // A required field left null fails the post (a read-only one is not checked) and the insert stays.
    EXPECT_EQ(MessageOf([&] { ds.PostRecord(); }), "Field 'ID' must have a value");
    EXPECT_EQ(ds.State(), dsInsert);
    EXPECT_EQ(ds.FieldNamed("QTY").VariantValue(), TVariant(std::int32_t{1}));
    ds.FieldNamed("ID").SetVariantValue(TVariant("A1"));
    ds.PostRecord();
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(ds.posts_, 1);

    // A modified edit is posted by navigation, an unmodified one cancelled.
    ds.BeginEdit();
    ds.FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{9}));
    ds.MoveFirst();
    EXPECT_EQ(ds.posts_, 2);
    EXPECT_EQ(ds.FieldNamed("QTY").StringValue(), "9");
    ds.BeginEdit();
    ds.MoveNext();
    EXPECT_EQ(ds.posts_, 2);
    EXPECT_EQ(ds.State(), dsBrowse);

    ds.BeginEdit();
    ds.FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{5}));
    ds.CancelRecord();
    EXPECT_EQ(ds.FieldNamed("QTY").StringValue(), "9");
    ds.CancelRecord();  // outside edit: nothing

    ds.canModify_ = false;
    EXPECT_EQ(MessageOf([&] { ds.BeginEdit(); }), "CDS_Test: Cannot modify a read-only dataset");
    EXPECT_EQ(MessageOf([&] { ds.BeginInsert(); }), "CDS_Test: Cannot modify a read-only dataset");
}

}  // namespace
}  // namespace tarnwick
