// File datasets over the real dataset engine: packets are written as files into a fresh folder.
#include "data/clientdataset/ClientDataSet.h"

#include "base/Exception.h"
#include "base/Text.h"
#include "base/ValueForms.h"
#include "data/clientdataset/DateTimeForms.h"
#include "dsengine/DSIntf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

std::string Packet(const std::string& fields, const std::string& rows, const std::string& params = {}) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + fields + "</FIELDS>" + params +
           "</METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>\n";
}

const std::string kDetailFields =
    "<FIELD attrname=\"LINE_NO\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"MASTERBILLID\" fieldtype=\"string\" WIDTH=\"20\"/>"
    "<FIELD attrname=\"PROD_NAME\" fieldtype=\"string\" WIDTH=\"30\"/>"
    "<FIELD attrname=\"PRICE\" fieldtype=\"fixed\" WIDTH=\"12\" DECIMALS=\"2\"/>"
    "<FIELD attrname=\"UPD_TIME\" fieldtype=\"SQLdateTime\"/>"
    "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>";

std::string DetailRows(const std::vector<std::string>& bills) {
    std::string rows;
    int line = 1;
    for (const std::string& bill : bills) {
        rows += "<ROW LINE_NO=\"" + std::to_string(line) + "\" MASTERBILLID=\"" + bill +
                "\" PROD_NAME=\"綠茶 " + std::to_string(line) +
                "\" PRICE=\"25.50\" UPD_TIME=\"20261210T08:30:00.250\" NOTE=\"5LqM5pel\"/>";
        ++line;
    }
    return rows;
}

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no failure)";
}

class FileDataSet : public ::testing::Test {
protected:
    FileDataSet() {
        folder_ = fs::path(::testing::TempDir()) /
                  ("cds-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        ds.SetName("CDS_Mast");
    }
    ~FileDataSet() override {
        ds.Close();
        fs::remove_all(folder_);
    }
    std::string Write(const std::string& name, const std::string& content) {
        const fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::vector<int> Walk() {
        std::vector<int> lines;
        while (!ds.AtEnd()) {
            EXPECT_EQ(ds.RecordNumber(), static_cast<int>(lines.size()) + 1);
            lines.push_back(VarToInt32(ds.FieldNamed("LINE_NO").VariantValue()));
            ds.MoveNext();
        }
        return lines;
    }

    fs::path folder_;
    TClientDataSet ds;
};

TEST_F(FileDataSet, LoadsWalksAndReadsEveryRow) {
    ds.LoadPacketFile(Write("detail.XML", Packet(kDetailFields, DetailRows({"B1", "B2", "B1"}) +
                                                                    "<ROW LINE_NO=\"4\"/>")));
    ASSERT_TRUE(ds.Active());
    EXPECT_EQ(ds.FieldTotal(), 6);
    EXPECT_EQ(ds.RecordTotal(), 4);
    EXPECT_TRUE(ds.AtStart());
    EXPECT_EQ(Walk(), (std::vector<int>{1, 2, 3, 4}));
    // The last row is current: nulls read as null, a null memo as empty text.
    EXPECT_TRUE(ds.FieldNamed("PRICE").VariantValue().IsNull());
    EXPECT_EQ(ds.FieldNamed("NOTE").VariantValue(), TVariant(std::string()));
    // MoveNext at the end changes nothing.
    ds.MoveNext();
    EXPECT_TRUE(ds.AtEnd());
    EXPECT_EQ(ds.RecordNumber(), 4);

    ds.MoveFirst();
    EXPECT_EQ(ds.FieldNamed("prod_name").StringValue(), "綠茶 1");
    EXPECT_EQ(ds.FieldNamed("PRICE").VariantValue(), TVariant::FromCurrency(255000));
    EXPECT_EQ(ds.FieldNamed("UPD_TIME").VariantValue(),
              TVariant(TSQLTimeStamp{2026, 12, 10, 8, 30, 0, 250}));
    EXPECT_EQ(ds.FieldNamed("NOTE").StringValue(), "二日");
    EXPECT_EQ(dynamic_cast<TStringField&>(ds.FieldNamed("MASTERBILLID")).Size(), 20);
    EXPECT_NE(dynamic_cast<TMemoField*>(&ds.FieldNamed("NOTE")), nullptr);
    EXPECT_NE(dynamic_cast<TBCDField*>(&ds.FieldNamed("PRICE")), nullptr);
}

TEST_F(FileDataSet, EveryTypeWordGivesItsFieldClassAndValue) {
    struct Case {
        const char* attrs;  // type word and its attributes
        const char* value;  // as written in the row
        TFieldType type;
        int size;
        TVariant want;
    };
    const TDateTime day = *EncodeDateTime(2026, 12, 10, 0, 0, 0, 0);
    const Case cases[] = {
        {"fieldtype=\"string\" WIDTH=\"5\"", "abc", ftString, 5, TVariant("abc")},
        {"fieldtype=\"string\" SUBTYPE=\"Guid\" WIDTH=\"38\"", "{A}", ftGuid, 38, TVariant("{A}")},
        {"fieldtype=\"string.uni\" WIDTH=\"10\"", "綠茶", ftWideString, 5, TVariant(u"綠茶")},
        {"fieldtype=\"i2\"", "-5", ftSmallint, 0, TVariant(std::int32_t{-5})},
        {"fieldtype=\"ui2\"", "65535", ftWord, 0, TVariant(std::int32_t{65535})},
        {"fieldtype=\"i4\"", "-42", ftInteger, 0, TVariant(std::int32_t{-42})},
        {"fieldtype=\"i4\" SUBTYPE=\"Autoinc\"", "7", ftAutoInc, 0, TVariant(std::int32_t{7})},
        {"fieldtype=\"i8\"", "-9000000000", ftLargeint, 0, TVariant(std::int64_t{-9000000000})},
        {"fieldtype=\"r8\"", "2.5", ftFloat, 0, TVariant(2.5)},
        {"fieldtype=\"r8\" SUBTYPE=\"Money\"", "1.25E-7", ftCurrency, 0, TVariant(1.25e-7)},
        {"fieldtype=\"fixed\" WIDTH=\"12\" DECIMALS=\"2\"", "-3.5", ftBCD, 2, TVariant::FromCurrency(-35000)},
        {"fieldtype=\"fixedFMT\" WIDTH=\"20\" DECIMALS=\"4\"", "12345678901234.5678", ftFMTBcd, 4,
         TVariant(*BcdFromString("12345678901234.5678"))},
        {"fieldtype=\"boolean\"", "TRUE", ftBoolean, 0, TVariant(true)},
        {"fieldtype=\"date\"", "20261210", ftDate, 0, TVariant::FromDateTime(day)},
        {"fieldtype=\"time\"", "08:30:00.250", ftTime, 0, TVariant::FromDateTime(30600250 / double(kMSecsPerDay))},
        {"fieldtype=\"dateTime\"", "20261210T08:30:00", ftDateTime, 0,
         TVariant::FromDateTime(*EncodeDateTime(2026, 12, 10, 8, 30, 0, 0))},
        {"fieldtype=\"SQLdateTime\"", "20261210T08:30:00.250", ftTimeStamp, 0,
         TVariant(TSQLTimeStamp{2026, 12, 10, 8, 30, 0, 250})},
        {"fieldtype=\"bin.hex\" SUBTYPE=\"Text\"", "5LqM5pel", ftMemo, 0, TVariant("二日")},
        {"fieldtype=\"bin.hex\" SUBTYPE=\"HMemo\"", "5LqM5pel", ftOraClob, 0, TVariant("二日")},
        {"fieldtype=\"bin.hex\" SUBTYPE=\"Binary\"", "AQI=", ftBlob, 0, TVariant(std::string("\x01\x02"))},
        {"fieldtype=\"bin.hex\" SUBTYPE=\"Graphics\"", "AQI=", ftGraphic, 0, TVariant(std::string("\x01\x02"))},
        {"fieldtype=\"bytes\" WIDTH=\"2\"", "AQI=", ftBytes, 2, TVariant(std::vector<std::uint8_t>{1, 2})},
        {"fieldtype=\"varbytes\" WIDTH=\"4\"", "AQI=", ftVarBytes, 4, TVariant(std::vector<std::uint8_t>{1, 2})},
    };
    std::string fields, row = "<ROW";
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "F" + std::to_string(++n);
        fields += "<FIELD attrname=\"" + name + "\" " + c.attrs + "/>";
        row += " " + name + "=\"" + c.value + "\"";
    }
    ds.LoadPacketFile(Write("types.XML", Packet(fields, row + "/>")));
    ASSERT_EQ(ds.FieldTotal(), n);
    for (int i = 0; i < n; ++i) {
        const Case& c = cases[i];
        const TField& field = ds.FieldAt(i);
        SCOPED_TRACE(c.attrs);
        EXPECT_EQ(field.DataType(), c.type);
        EXPECT_EQ(field.FieldNo(), i + 1);
        if (c.size) {
            EXPECT_EQ(field.Size(), c.size);
        }
        EXPECT_EQ(field.VariantValue(), c.want);
    }
    EXPECT_EQ(dynamic_cast<TBCDField&>(ds.FieldAt(10)).Precision(), 12);
    EXPECT_EQ(dynamic_cast<TFMTBCDField&>(ds.FieldAt(11)).Precision(), 20);
    EXPECT_NE(dynamic_cast<TMemoField*>(&ds.FieldAt(18)), nullptr);
    EXPECT_NE(dynamic_cast<TGraphicField*>(&ds.FieldAt(20)), nullptr);
    EXPECT_NE(dynamic_cast<TGuidField*>(&ds.FieldAt(1)), nullptr);
}

TEST_F(FileDataSet, FixedCharRequiredAndReadOnlyAttributes) {
    ds.LoadPacketFile(Write("a.XML", Packet("<FIELD attrname=\"CODE\" fieldtype=\"string\" SUBTYPE=\"FixedChar\" WIDTH=\"3\" required=\"true\"/>"
                                            "<FIELD attrname=\"SECRET\" fieldtype=\"i4\" hidden=\"true\"/>"
                                            "<FIELD attrname=\"STAMP\" fieldtype=\"i4\" readonly=\"true\"/>",
                                            "")));
    ASSERT_EQ(ds.FieldTotal(), 2);  // hidden fields get a definition but no field
    EXPECT_EQ(ds.FieldDefs().Count(), 3);
    const auto& code = dynamic_cast<TStringField&>(ds.FieldAt(0));
    EXPECT_TRUE(code.FixedChar());
    EXPECT_TRUE(code.Required());
    EXPECT_TRUE(ds.FieldAt(1).ReadOnly());
    EXPECT_EQ(ds.FieldAt(1).FieldNo(), 3);
}

TEST_F(FileDataSet, PacketWithoutRowsAndDuplicateNames) {
    ds.LoadPacketFile(Write("empty.XML",
                            Packet("<FIELD attrname=\"NAME\" fieldtype=\"string\" WIDTH=\"5\"/>"
                                   "<FIELD attrname=\"Name\" fieldtype=\"i4\"/>"
                                   "<FIELD attrname=\"NAME_1\" fieldtype=\"i4\"/>",
                                   "")));
    EXPECT_TRUE(ds.Active());
    EXPECT_EQ(ds.RecordTotal(), 0);
    EXPECT_TRUE(ds.AtStart());
    EXPECT_TRUE(ds.AtEnd());
    EXPECT_EQ(Walk().size(), 0u);
    ASSERT_EQ(ds.FieldTotal(), 3);
    EXPECT_EQ(ds.FieldAt(0).FieldName(), "NAME");
    EXPECT_EQ(ds.FieldAt(1).FieldName(), "Name_1");
    EXPECT_EQ(ds.FieldAt(2).FieldName(), "NAME_1_1");
    EXPECT_TRUE(ds.FieldAt(0).IsNull());

    // Each packet opened after it brings its own fields: the same, a wider one, another name.
    for (const auto& [width, second, total] :
         {std::tuple{"5", "Name", 3}, std::tuple{"8", "Name", 3}, std::tuple{"8", "QTY", 3}}) {
        ds.LoadPacketFile(Write("next.XML", Packet(std::string("<FIELD attrname=\"NAME\" fieldtype=\"string\" WIDTH=\"") +
                                                       width + "\"/><FIELD attrname=\"" + second +
                                                       "\" fieldtype=\"i4\"/><FIELD attrname=\"NAME_1\" fieldtype=\"i4\"/>",
                                                   std::string("<ROW NAME=\"") + std::string("abcdefgh").substr(0, std::size_t(std::atoi(width))) + "\"/>")));
        ASSERT_EQ(ds.FieldTotal(), total);
        EXPECT_EQ(ds.FieldAt(0).Size(), std::atoi(width));
        EXPECT_EQ(ds.FieldAt(0).StringValue(), std::string("abcdefgh").substr(0, std::size_t(std::atoi(width))));
        EXPECT_EQ(ds.FieldAt(1).FieldName(), std::string(second) == "Name" ? "Name_1" : "QTY");
    }
}

TEST_F(FileDataSet, FilterSelectsOneBillAndFollowsTheSwitches) {
    const std::string detail = Write("d.XML", Packet(kDetailFields, DetailRows({"B1", "B2", "B1", "B3", "B1"})));
    ds.LoadPacketFile(detail);
    // The bill loop: off, new text, on.
    for (const auto& [bill, lines] : std::vector<std::pair<std::string, std::vector<int>>>{
             {"B1", {1, 3, 5}}, {"B2", {2}}, {"B9", {}}}) {
        ds.SetFiltered(false);
        ds.SetFilter("MASTERBILLID = '" + bill + "'");
        ds.SetFiltered(true);
        EXPECT_EQ(ds.RecordTotal(), static_cast<int>(lines.size())) << bill;
        EXPECT_EQ(Walk(), lines) << bill;
    }
    // Setting Filtered to the value it has still moves to the first record.
    ds.SetFiltered(true);
    EXPECT_TRUE(ds.AtEnd());  // B9 has no record
    ds.SetFilter("MASTERBILLID = 'B1'");  // a new text while filtered applies at once
    EXPECT_EQ(ds.RecordTotal(), 3);
    ds.MoveNext();
    ds.SetFiltered(true);
    EXPECT_EQ(ds.RecordNumber(), 1);
    EXPECT_TRUE(ds.AtStart());

    // A text that does not parse fails and leaves the active filter and the settings as they were.
    EXPECT_EQ(MessageOf([&] { ds.SetFilter("NOSUCH = 'x'"); }), "CDS_Mast: Field 'NOSUCH' not found");
    EXPECT_EQ(ds.Filter(), "MASTERBILLID = 'B1'");
    EXPECT_EQ(ds.RecordTotal(), 3);
    // Switching on a text that does not parse keeps Filtered off and the record window whole.
    ds.SetFiltered(false);
    ds.SetFilter("MASTERBILLID = 'B1");
    ds.MoveNext();
    EXPECT_EQ(MessageOf([&] { ds.SetFiltered(true); }), "Unterminated string constant");
    EXPECT_FALSE(ds.Filtered());
    EXPECT_EQ(ds.RecordNumber(), 2);
    EXPECT_EQ(ds.FieldNamed("LINE_NO").StringValue(), "2");
    ds.SetFilter("MASTERBILLID = 'B1'");
    ds.SetFiltered(true);

    // A reload keeps the filter and applies it at open.
    ds.LoadPacketFile(Write("d2.XML", Packet(kDetailFields, DetailRows({"B2", "B1"}))));
    EXPECT_TRUE(ds.Filtered());
    EXPECT_EQ(ds.RecordTotal(), 1);
    EXPECT_EQ(Walk(), (std::vector<int>{2}));

    // Filtered with an empty text shows everything.
    ds.SetFiltered(false);
    ds.SetFilter("");
    ds.SetFiltered(true);
    EXPECT_EQ(ds.RecordTotal(), 2);

    // A file without the filter's field fails at open, and the dataset stays closed.
    ds.SetFiltered(false);
    ds.SetFilter("MASTERBILLID = 'B1'");
    ds.SetFiltered(true);
    const std::string other = Write("m.XML", Packet("<FIELD attrname=\"BILLID\" fieldtype=\"string\" WIDTH=\"9\"/>", ""));
    EXPECT_EQ(MessageOf([&] { ds.LoadPacketFile(other); }), "CDS_Mast: Field 'MASTERBILLID' not found");
    EXPECT_FALSE(ds.Active());
    EXPECT_TRUE(ds.Filtered());
}

// Packets of one shape opened one after the other (as a provider's packets for one query are):
// each open shows that packet's rows and settings only.
TEST_F(FileDataSet, PacketsOfOneShapeOpenAfresh) {
    const auto binary = [](const std::string& xml) {
        std::unique_ptr<dsengine::IDSBase> base;
        EXPECT_EQ(dsengine::CreateDSBase(base), 0u);
        EXPECT_EQ(base->AppendData(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size(), true), 0u);
        EXPECT_EQ(base->SetProp(dsengine::basepropXMLMODE, dsengine::xmlmodeBINARY), 0u);
        std::vector<std::uint8_t> out;
        EXPECT_EQ(base->StreamDS(out), 0u);
        return out;
    };
    const std::string fields = "<FIELD attrname=\"N\" fieldtype=\"i4\"/><FIELD attrname=\"S\" fieldtype=\"string\" WIDTH=\"4\"/>";
    const auto changes = [&] {
        std::uint32_t count = 0;
        EXPECT_EQ(ds.DSBase()->GetProp(dsengine::basepropCHANGECOUNT, count), 0u);
        return count;
    };
    ds.SetRetainedPacket(binary(Packet(fields, "<ROW N=\"1\" S=\"a\"/>")));
    ds.Open();
    ds.BeginEdit();
    ds.FieldNamed("S").SetVariantValue(TVariant("x"));
    ds.PostRecord();
    EXPECT_EQ(changes(), 1u);
    ds.Close();

    ds.SetRetainedPacket(binary(Packet(fields, "<ROW N=\"2\" S=\"b\"/><ROW N=\"3\"/>")));
    ds.Open();
    EXPECT_EQ(ds.RecordTotal(), 2);
    EXPECT_EQ(ds.FieldNamed("S").StringValue(), "b");
    EXPECT_EQ(changes(), 0u);
    EXPECT_TRUE(ds.CanModify());
    ds.Close();

    // A read-only packet, then another of its shape: both read-only; then a writable one again.
    const std::string readOnly = "<PARAMS READONLY=\"TRUE\"/>";
    for (const char* row : {"<ROW N=\"4\"/>", "<ROW N=\"5\"/>"}) {
        ds.SetRetainedPacket(binary(Packet(fields, row, readOnly)));
        ds.Open();
        EXPECT_FALSE(ds.CanModify()) << row;
        ds.Close();
    }
    ds.SetRetainedPacket(binary(Packet(fields, "<ROW N=\"6\"/>")));
    ds.Open();
    EXPECT_TRUE(ds.CanModify());
    EXPECT_EQ(ds.FieldNamed("N").VariantValue(), TVariant(std::int32_t{6}));
}

TEST_F(FileDataSet, ClearRecordsKeepsTheFields) {
    ds.LoadPacketFile(Write("d.XML", Packet(kDetailFields, DetailRows({"B1", "B2"}))));
    ds.ClearRecords();
    EXPECT_TRUE(ds.Active());
    EXPECT_EQ(ds.FieldTotal(), 6);
    EXPECT_EQ(ds.RecordTotal(), 0);
    EXPECT_TRUE(ds.AtStart());
    EXPECT_TRUE(ds.AtEnd());
    EXPECT_TRUE(ds.FieldNamed("LINE_NO").IsNull());
}

TEST_F(FileDataSet, OperationsOnAClosedDataset) {
    const std::string message = "CDS_Mast: Cannot perform this operation on a closed dataset";
    EXPECT_EQ(MessageOf([&] { ds.RecordTotal(); }), message);
    EXPECT_EQ(MessageOf([&] { ds.RecordNumber(); }), message);
    EXPECT_EQ(MessageOf([&] { ds.MoveFirst(); }), message);
    EXPECT_EQ(MessageOf([&] { ds.MoveNext(); }), message);
    EXPECT_EQ(MessageOf([&] { ds.ClearRecords(); }), message);
    EXPECT_TRUE(ds.AtStart());
    EXPECT_TRUE(ds.AtEnd());
}

TEST_F(FileDataSet, EmptyFileReopensTheRetainedPacketOrFails) {
    const std::string empty = Write("zero.XML", "");
    EXPECT_EQ(MessageOf([&] { ds.LoadPacketFile(empty); }), "CDS_Mast: Missing data provider or data packet");
    EXPECT_FALSE(ds.Active());

    ds.LoadPacketFile(Write("d.XML", Packet(kDetailFields, DetailRows({"B1", "B2", "B3"}))));
    ds.LoadPacketFile(empty);  // closing retained the content; the empty file leaves it
    EXPECT_TRUE(ds.Active());
    EXPECT_EQ(ds.RecordTotal(), 3);
    EXPECT_EQ(ds.FieldNamed("PROD_NAME").StringValue(), "綠茶 1");

    // Close and open go through the retained packet too.
    ds.Close();
    EXPECT_TRUE(ds.HasRetainedPacket());
    ds.Open();
    EXPECT_FALSE(ds.HasRetainedPacket());
    EXPECT_EQ(Walk(), (std::vector<int>{1, 2, 3}));
}

TEST_F(FileDataSet, FilesThatCannotBeOpened) {
    const std::string missing = (folder_ / "sub" / ".." / "missing.XML").string();
    try {
        ds.LoadPacketFile(missing);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + (folder_ / "missing.XML").string() +
                                   "\". No such file or directory");
    }
    EXPECT_FALSE(ds.Active());
    EXPECT_THROW(ds.LoadPacketFile(folder_.string()), EFOpenError);  // a folder
    EXPECT_FALSE(ds.Active());

    // Over loaded records, a file that cannot be opened leaves them retained, as any close does.
    ds.LoadPacketFile(Write("d.XML", Packet(kDetailFields, DetailRows({"B1", "B2"}))));
    EXPECT_THROW(ds.LoadPacketFile(missing), EFOpenError);
    EXPECT_FALSE(ds.Active());
    ASSERT_TRUE(ds.HasRetainedPacket());
    ds.Open();
    EXPECT_EQ(Walk(), (std::vector<int>{1, 2}));
}

TEST_F(FileDataSet, FileLockedByAnotherProcessIsRefused) {
    const std::string path = Write("locked.XML", Packet(kDetailFields, DetailRows({"B1"})));
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        const bool locked = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        char c = locked ? 'y' : 'n';
        if (::write(ready[1], &c, 1) != 1) ::_exit(2);
        if (::read(done[0], &c, 1) != 1) ::_exit(3);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    try {
        ds.LoadPacketFile(path);
        ADD_FAILURE() << "a locked file was opened";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot open file \"" + path + "\". ", 0), 0u) << e.Message();
    }
    EXPECT_FALSE(ds.Active());
    ASSERT_EQ(::write(done[1], "x", 1), 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
    // Once the other process is gone the file loads.
    ds.LoadPacketFile(path);
    EXPECT_EQ(ds.RecordTotal(), 1);
}

TEST_F(FileDataSet, UnreadablePacketStaysRetained) {
    const std::string bad = Write("bad.XML", Packet(kDetailFields, "<ROW LINE_NO=\"x1\"/>"));
    try {
        ds.LoadPacketFile(bad);
        FAIL();
    } catch (const EDBClient& e) {
        EXPECT_FALSE(e.Message().empty());
        EXPECT_EQ(e.Message().find("CDS_Mast"), std::string::npos);  // the engine's text alone
        EXPECT_NE(e.ErrorCode(), 0);
    }
    EXPECT_FALSE(ds.Active());
    EXPECT_TRUE(ds.HasRetainedPacket());
    EXPECT_THROW(ds.Open(), EDBClient);  // the same packet again
}

TEST_F(FileDataSet, EditInsertAndPostThroughTheEngine) {
    ds.LoadPacketFile(Write("d.XML", Packet("<FIELD attrname=\"ID\" fieldtype=\"string\" WIDTH=\"4\" required=\"true\"/>"
                                            "<FIELD attrname=\"QTY\" fieldtype=\"i2\"/>"
                                            "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>",
                                            "<ROW ID=\"A\" QTY=\"1\"/>")));
    ds.BeginInsert();
    EXPECT_EQ(ds.RecordNumber(), -1);
    ds.FieldNamed("QTY").SetVariantValue(TVariant("7"));
    EXPECT_EQ(MessageOf([&] { ds.PostRecord(); }), "Field 'ID' must have a value");
    EXPECT_EQ(ds.State(), dsInsert);
    ds.FieldNamed("ID").SetVariantValue(TVariant("綠茶X"));  // 7 bytes into 4: "綠"
    ds.FieldNamed("NOTE").SetVariantValue(TVariant("memo 內容"));
    ds.PostRecord();
    EXPECT_EQ(ds.RecordTotal(), 2);
    EXPECT_EQ(ds.FieldNamed("ID").StringValue(), "綠");
    EXPECT_EQ(ds.FieldNamed("NOTE").StringValue(), "memo 內容");

    // The new record went in before the record that was current.
    EXPECT_EQ(ds.RecordNumber(), 1);
    ds.MoveFirst();
    EXPECT_EQ(ds.FieldNamed("ID").StringValue(), "綠");
    ds.MoveNext();
    ds.MoveNext();  // at the end: the edit goes to the last record all the same
    EXPECT_TRUE(ds.AtEnd());
    ds.BeginEdit();
    EXPECT_EQ(MessageOf([&] { ds.FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{40000})); }),
              "40000 is not a valid value for field 'QTY'. The allowed range is -32768 to 32767");
    ds.FieldNamed("QTY").SetVariantValue(TVariant(2.5));
    ds.PostRecord();
    EXPECT_EQ(ds.FieldNamed("QTY").VariantValue(), TVariant(std::int32_t{2}));
    EXPECT_EQ(ds.FieldNamed("ID").StringValue(), "A");
    EXPECT_EQ(ds.RecordNumber(), 2);
    ds.MoveFirst();
    EXPECT_EQ(ds.FieldNamed("QTY").StringValue(), "7");
}

// Packets of the same fields whose field parameters differ: each load shows its own origins and
// provider flags, also when it follows a packet of exactly its own shape.
TEST_F(FileDataSet, FieldParametersFollowEachLoadedPacket) {
    const auto packet = [](const char* origin, int flags) {
        return Packet(std::string("<FIELD attrname=\"ID\" fieldtype=\"string\" WIDTH=\"4\" ORIGIN=\"") + origin +
                          "\" PROVFLAGS=\"" + std::to_string(flags) + "\"/><FIELD attrname=\"N\" fieldtype=\"i4\"/>",
                      "<ROW ID=\"A\" N=\"1\"/>");
    };
    struct Load { const char* origin; int flags; };
    int n = 0;
    for (const Load& load : {Load{"T.ID", 7}, Load{"T.ID", 7}, Load{"U.ID", 3}, Load{"U.ID", 3}, Load{"T.ID", 7}}) {
        ds.LoadPacketFile(Write("p" + std::to_string(++n) + ".XML", packet(load.origin, load.flags)));
        EXPECT_EQ(ds.FieldNamed("ID").Origin(), load.origin) << n;
        EXPECT_EQ(ds.FieldNamed("ID").ProviderFlags().Bits(), static_cast<std::uint32_t>(load.flags)) << n;
        EXPECT_EQ(ds.FieldNamed("N").Origin(), "") << n;
        // What a user changes on a field does not outlive its open.
        ds.FieldNamed("ID").SetOrigin("X.Y");
    }
}

TEST_F(FileDataSet, PacketFlagsRefuseChanges) {
    const std::string fields = "<FIELD attrname=\"ID\" fieldtype=\"string\" WIDTH=\"4\"/>";
    ds.LoadPacketFile(Write("a.XML", Packet(fields, "<ROW ID=\"A\"/>", "<PARAMS DISABLE_EDITS=\"TRUE\" DISABLE_INSERTS=\"TRUE\"/>")));
    EXPECT_EQ(MessageOf([&] { ds.BeginEdit(); }), "CDS_Mast: Modifications are not allowed");
    EXPECT_EQ(MessageOf([&] { ds.BeginInsert(); }), "CDS_Mast: Inserts are not allowed");
    ds.SetReadOnly(true);
    ds.LoadPacketFile(Write("b.XML", Packet(fields, "<ROW ID=\"A\"/>")));
    EXPECT_EQ(MessageOf([&] { ds.BeginEdit(); }), "CDS_Mast: Cannot modify a read-only dataset");
}

// A decimal wider than its field is refused when assigned, as other numbers out of their range
// are; what was posted survives a close and open.
TEST_F(FileDataSet, DecimalsWiderThanTheirFieldAreRefusedAtAssignment) {
    ds.LoadPacketFile(Write("p.XML", Packet("<FIELD attrname=\"PRICE\" fieldtype=\"fixed\" WIDTH=\"6\" DECIMALS=\"2\"/>"
                                            "<FIELD attrname=\"COST\" fieldtype=\"fixedFMT\" WIDTH=\"6\" DECIMALS=\"2\"/>",
                                            "<ROW PRICE=\"1.50\" COST=\"2.25\"/>")));
    ds.BeginEdit();
    const std::string range = " is not a valid value for field '%s'. The allowed range is -9999.99 to 9999.99";
    for (const char* name : {"PRICE", "COST"}) {
        TField& field = ds.FieldNamed(name);
        for (const TVariant& value : {TVariant(std::int32_t{123456789}), TVariant(10000.0), TVariant("-10000")}) {
            EXPECT_EQ(MessageOf([&] { field.SetVariantValue(value); }),
                      VarToText(value) + Format(range.c_str(), name))
                << name;
        }
    }
    EXPECT_EQ(MessageOf([&] { ds.FieldNamed("COST").SetVariantValue(TVariant(*BcdFromString("12345.6"))); }),
              "12345.6" + Format(range.c_str(), "COST"));
    // Within the range, but more digits than the field holds.
    EXPECT_EQ(MessageOf([&] { ds.FieldNamed("COST").SetVariantValue(TVariant(*BcdFromString("1.234567"))); }),
              "Invalid value for field 'COST'");
    ds.FieldNamed("PRICE").SetVariantValue(TVariant(9999.99));
    ds.FieldNamed("COST").SetVariantValue(TVariant("-9999.99"));
    ds.PostRecord();

    ds.Close();
    ds.Open();
    EXPECT_EQ(ds.FieldNamed("PRICE").StringValue(), "9999.99");
    EXPECT_EQ(ds.FieldNamed("COST").StringValue(), "-9999.99");
}

// The limits of a filter's constant count characters: a key of many-byte characters finds its
// own lines and no other bill's.
TEST_F(FileDataSet, LongBillIdentifiersFindTheirOwnLines) {
    std::string shared;
    for (int i = 0; i < 85; ++i) shared += "綠";
    const std::string billA = shared + "茶茶茶茶茶";  // 90 characters, 270 bytes
    const std::string billB = shared + "水水水水水";
    const std::string fields = "<FIELD attrname=\"LINE_NO\" fieldtype=\"i4\"/>"
                               "<FIELD attrname=\"MASTERBILLID\" fieldtype=\"string\" WIDTH=\"400\"/>";
    ds.LoadPacketFile(Write("d.XML", Packet(fields, "<ROW LINE_NO=\"1\" MASTERBILLID=\"" + billA + "\"/>"
                                                    "<ROW LINE_NO=\"2\" MASTERBILLID=\"" + billB + "\"/>"
                                                    "<ROW LINE_NO=\"3\" MASTERBILLID=\"" + billA + "\"/>")));
    for (const auto& [bill, lines] : std::vector<std::pair<std::string, std::vector<int>>>{
             {billA, {1, 3}}, {billB, {2}}, {shared, {}}}) {
        ds.SetFiltered(false);
        ds.SetFilter("MASTERBILLID = '" + bill + "'");
        ds.SetFiltered(true);
        EXPECT_EQ(Walk(), lines) << bill.size() << " bytes";
    }
}

}  // namespace
}  // namespace tarnwick
