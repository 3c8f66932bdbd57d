#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/ValueForms.h"
#include "dsengine/DSIntf.h"
#include "dsengine/EngineTestUtil.h"

namespace tarnwick::dsengine::test {
namespace {

using ::testing::HasSubstr;

std::string Stream(IDSBase& base, std::uint32_t mode) {
    EXPECT_EQ(base.SetProp(basepropXMLMODE, mode), DBERR_NONE);
    std::vector<std::uint8_t> out;
    EXPECT_EQ(base.StreamDS(out), DBERR_NONE);
    return std::string(out.begin(), out.end());
}

struct TypeCase {
    const char* field;     // FIELD attributes after attrname="F"
    const char* written;   // value as it stands in the source packet
    const char* expected;  // value as the engine writes it back
};

const TypeCase kTypeCases[] = {
    {R"(fieldtype="string" WIDTH="20")", "A&amp;B &lt;&quot;&gt;", "A&amp;B &lt;&quot;&gt;"},
    {R"(fieldtype="string" WIDTH="12")", "綠茶 600ml", "綠茶 600ml"},
    {R"(fieldtype="string" WIDTH="5")", "", ""},
    {R"(fieldtype="string" WIDTH="9" SUBTYPE="FixedChar")", "AB  ", "AB  "},
    {R"(fieldtype="string" WIDTH="38" SUBTYPE="Guid")", "{0}", "{0}"},
    {R"(fieldtype="string" WIDTH="10")", "a&#10;b&#9;c", "a&#10;b&#9;c"},
    {R"(fieldtype="string.uni" WIDTH="12")", "綠茶𠀀", "綠茶𠀀"},
    {R"(fieldtype="i2")", "-32768", "-32768"},
    {R"(fieldtype="ui2")", "65535", "65535"},
    {R"(fieldtype="i4")", "-2147483648", "-2147483648"},
    {R"(fieldtype="i4")", "+12", "12"},
    {R"(fieldtype="i4" SUBTYPE="Autoinc")", "7", "7"},
    {R"(fieldtype="i8")", "9223372036854775807", "9223372036854775807"},
    {R"(fieldtype="r8")", "2.5", "2.5"},
    {R"(fieldtype="r8" SUBTYPE="Money")", "1.25E-7", "1.25e-07"},
    {R"(fieldtype="fixed" WIDTH="12" DECIMALS="2")", "-1234.50", "-1234.50"},
    {R"(fieldtype="fixed" WIDTH="4" DECIMALS="2")", "0.05", "0.05"},
    {R"(fieldtype="fixedFMT" WIDTH="64" DECIMALS="32")",
     "-12345678901234567890123456789012.12345678901234567890123456789012",
     "-12345678901234567890123456789012.12345678901234567890123456789012"},
    {R"(fieldtype="fixedFMT" WIDTH="64")", "9999999999999999999999999999999999999999999999999999999999999999",
     "9999999999999999999999999999999999999999999999999999999999999999"},
    {R"(fieldtype="boolean")", "true", "TRUE"},
    {R"(fieldtype="date")", "00010101", "00010101"},
    {R"(fieldtype="date")", "99991231", "99991231"},
    {R"(fieldtype="time")", "08:30:00.250", "08:30:00.250"},
    {R"(fieldtype="dateTime")", "20261210T23:59:59.999", "20261210T23:59:59.999"},
    {R"(fieldtype="SQLdateTime")", "20261210T08:30:00.000", "20261210T08:30:00"},
    {R"(fieldtype="bin.hex" SUBTYPE="Text")", "5LqM5pel", "5LqM5pel"},
    {R"(fieldtype="bin.hex" SUBTYPE="Binary")", "AAEC/w==", "AAEC/w=="},
    {R"(fieldtype="bin.hex" SUBTYPE="Graphics")", "", ""},
    {R"(fieldtype="bytes" WIDTH="4")", "AAECAw==", "AAECAw=="},
    {R"(fieldtype="varbytes" WIDTH="10")", "AAEC", "AAEC"},
};

TEST(PacketRoundTrip, EveryTypeWordInEveryPacketForm) {
    for (const TypeCase& c : kTypeCases) {
        SCOPED_TRACE(c.field + std::string(" / ") + c.written);
        const std::string source = Packet(std::string("<FIELD attrname=\"F\" ") + c.field + "/>" +
                                              "<FIELD attrname=\"K\" fieldtype=\"i4\"/>",
                                          std::string("<ROW F=\"") + c.written + "\" K=\"1\"/><ROW K=\"2\"/>");
        Loaded l = Load(source);
        ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
        const std::string xml = Stream(*l.base, xmlmodeXMLUTF8);
        EXPECT_THAT(xml, HasSubstr(std::string("<ROW F=\"") + c.expected + "\" K=\"1\"/><ROW K=\"2\"/>"));
        for (const std::uint32_t mode : {xmlmodeBINARY, xmlmodeXML, xmlmodeXMLUTF8}) {
            SCOPED_TRACE(mode);
            Loaded again = Load(Bytes(Stream(*l.base, mode)));
            ASSERT_EQ(again.status, DBERR_NONE) << again.Error();
            EXPECT_EQ(Stream(*again.base, xmlmodeXMLUTF8), xml);
        }
    }
}

TEST(PacketRoundTrip, XmlModeFiveWritesAsciiOnlyAndBinaryCannotLookLikeXml) {
    Loaded l = Load(Packet(R"(<FIELD attrname="NAME" fieldtype="string" WIDTH="20"/>)", R"(<ROW NAME="綠茶"/>)"));
    ASSERT_EQ(l.status, DBERR_NONE);
    const std::string ascii = Stream(*l.base, xmlmodeXML);
    EXPECT_THAT(ascii, HasSubstr(R"(NAME="&#x7DA0;&#x8336;")"));
    EXPECT_TRUE(std::all_of(ascii.begin(), ascii.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    const std::string binary = Stream(*l.base, xmlmodeBINARY);
    EXPECT_EQ(static_cast<unsigned char>(binary[0]), 0x96);  // no '<', blank or byte-order mark
}

TEST(PacketRoundTrip, ParametersAndFieldAttributesSurvive) {
    const std::string source = Packet(
        R"(<FIELD attrname="ID" fieldtype="string" WIDTH="8" required="true" readonly="true" PROVFLAGS="7" ORIGIN="T.ID"/>)"
        R"(<FIELD attrname="id" fieldtype="i4" hidden="true"/>)",
        R"(<ROW ID="a" id="1"/>)", R"( LCID="1028" PRIMARY_KEY="1" DISABLE_EDITS="TRUE" MY_OWN="x y")");
    for (const std::uint32_t mode : {xmlmodeBINARY, xmlmodeXMLUTF8}) {
        Loaded first = Load(source);
        ASSERT_EQ(first.status, DBERR_NONE) << first.Error();
        Loaded l = Load(Bytes(Stream(*first.base, mode)));
        ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
        std::string value;
        EXPECT_EQ(l.base->GetOptParameter(0, "LCID", value), DBERR_NONE);
        EXPECT_EQ(value, "1028");
        EXPECT_EQ(l.base->GetOptParameter(0, "MY_OWN", value), DBERR_NONE);
        EXPECT_EQ(value, "x y");
        EXPECT_EQ(l.base->GetOptParameter(0, "DISABLE_EDITS", value), DBERR_NONE);
        EXPECT_EQ(value, "TRUE");
        EXPECT_EQ(l.base->GetOptParameter(1, "PROVFLAGS", value), DBERR_NONE);
        EXPECT_EQ(value, "7");
        EXPECT_EQ(l.base->GetOptParameter(1, "ORIGIN", value), DBERR_NONE);
        EXPECT_EQ(value, "T.ID");
        EXPECT_EQ(l.base->GetOptParameter(2, "ORIGIN", value), DBERR_NOTFOUND);
        std::vector<DSFLDDesc> descs;
        l.base->GetFieldDescs(descs);
        ASSERT_EQ(descs.size(), 2u);
        EXPECT_STREQ(descs[0].szName, "ID");
        EXPECT_EQ(descs[0].iFldAttr, fldAttrREQUIRED | fldAttrREADONLY);
        EXPECT_STREQ(descs[1].szName, "id");
        EXPECT_EQ(descs[1].iFldAttr, fldAttrHIDDEN);
    }
}

TEST(PacketRead, DescriptorsFollowTheTypeTable) {
    Loaded l = Load(Packet(
        R"(<FIELD attrname="S" fieldtype="string" WIDTH="20" SUBTYPE="FixedChar"/>)"
        R"(<FIELD attrname="W" fieldtype="string.uni" WIDTH="40"/>)"
        R"(<FIELD attrname="P" fieldtype="fixed" WIDTH="12" DECIMALS="2"/>)"
        R"(<FIELD attrname="M" fieldtype="bin.hex" SUBTYPE="Text"/>)"
        R"(<FIELD attrname="A" fieldtype="i4" SUBTYPE="Autoinc"/>)"
        R"(<FIELD attrname="T" fieldtype="SQLdateTime"/>)"
        R"(<FIELD attrname="V" fieldtype="varbytes" WIDTH="8"/>)",
        ""));
    ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
    std::vector<DSFLDDesc> d;
    l.base->GetFieldDescs(d);
    ASSERT_EQ(d.size(), 7u);
    struct Expect { std::int32_t type, subtype, units1, units2, len, attr; };
    const Expect expected[] = {
        {fldZSTRING, fldstFIXED, 20, 0, 21, fldAttrFIXED}, {fldWIDESTRING, 0, 40, 0, 42, 0},
        {fldBCD, 0, 12, 2, 34, 0},                        {fldBLOB, fldstMEMO, 0, 0, 16, 0},
        {fldINT32, fldstAUTOINC, 0, 0, 4, 0},             {fldSQLTIMESTAMP, 0, 0, 0, 16, 0},
        {fldVARBYTES, 0, 8, 0, 10, 0}};
    for (std::size_t i = 0; i < d.size(); ++i) {
        SCOPED_TRACE(d[i].szName);
        EXPECT_EQ(d[i].iFldType, expected[i].type);
        EXPECT_EQ(d[i].iFldSubType, expected[i].subtype);
        EXPECT_EQ(d[i].iUnits1, expected[i].units1);
        EXPECT_EQ(d[i].iUnits2, expected[i].units2);
        EXPECT_EQ(d[i].iFldLen, expected[i].len);
        EXPECT_EQ(d[i].iFldAttr, expected[i].attr);
        EXPECT_EQ(d[i].bCalculated, 0);
    }
    EXPECT_EQ(l.Count(), 0u);
    EXPECT_EQ(l.cursor->MoveRelative(1), DBERR_EOF);
}

TEST(PacketRead, ValuesArriveInTheirRecordForms) {
    Loaded l = Load(Packet(
        R"(<FIELD attrname="S" fieldtype="string" WIDTH="20"/><FIELD attrname="W" fieldtype="string.uni" WIDTH="8"/>)"
        R"(<FIELD attrname="D" fieldtype="date"/><FIELD attrname="T" fieldtype="time"/>)"
        R"(<FIELD attrname="DT" fieldtype="dateTime"/><FIELD attrname="TS" fieldtype="SQLdateTime"/>)"
        R"(<FIELD attrname="P" fieldtype="fixed" WIDTH="12" DECIMALS="2"/><FIELD attrname="B" fieldtype="boolean"/>)"
        R"(<FIELD attrname="M" fieldtype="bin.hex" SUBTYPE="Text"/>)",
        R"(<ROW S="綠茶" W="A綠" D="20261210" T="08:30:00.250" DT="00010102T00:00:01" TS="20261210T08:30:00.007" P="-25.5" B="TRUE" M="5LqM5pel"/>)"));
    ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
    ASSERT_EQ(l.cursor->MoveRelative(1), DBERR_NONE);
    ASSERT_TRUE(l.Fetch());
    EXPECT_EQ(l.Text(1), "綠茶");
    const std::string wide = l.Raw(2);
    EXPECT_EQ(wide.substr(0, 6), std::string("\x04\x00" "A\x00" "\xA0\x7D", 6));
    std::int32_t day;
    ASSERT_TRUE(EncodeDayNumber(2026, 12, 10, day));
    EXPECT_EQ(l.Int(3), day);
    EXPECT_EQ(l.Int(4), (8 * 3600 + 30 * 60) * 1000 + 250);
    double dt;
    std::memcpy(&dt, l.Raw(5).data(), 8);
    EXPECT_EQ(dt, 2.0 * kMsPerDay + 1000);
    TSQLTimeStamp ts;
    std::memcpy(&ts, l.Raw(6).data(), sizeof ts);
    EXPECT_EQ(ts.Year, 2026);
    EXPECT_EQ(ts.Hour, 8);
    EXPECT_EQ(ts.Fractions, 7u);
    TBcd bcd;
    std::memcpy(&bcd, l.Raw(7).data(), sizeof bcd);
    EXPECT_EQ(BcdToString(bcd), "-25.5");
    EXPECT_EQ(l.Int(8) & 0xFFFF, 1);
    std::uint32_t length = 0;
    EXPECT_EQ(l.cursor->GetBlobLen(l.buf.data(), 9, length), DBERR_NONE);
    ASSERT_EQ(length, 6u);
    char memo[6];
    EXPECT_EQ(l.cursor->GetBlob(l.buf.data(), 9, 0, memo, length), DBERR_NONE);
    EXPECT_EQ(std::string(memo, 6), "二日");
}

struct BadCase {
    std::string packet;
    const char* message;
};

TEST(PacketRead, MalformedPacketsNameWhatIsWrongAndWhere) {
    const std::string i4 = R"(<FIELD attrname="N" fieldtype="i4"/>)";
    const std::string str = R"(<FIELD attrname="S" fieldtype="string" WIDTH="3"/>)";
    const std::string good = Packet(i4, R"(<ROW N="1"/>)");
    const BadCase cases[] = {
        {R"(<?xml version="1.0" encoding="windows-1252"?>)" + good.substr(good.find("<DATAPACKET")),
         "encoding 'windows-1252'"},
        {Packet(R"(<FIELD attrname="N" fieldtype="money"/>)", ""), "FIELD 1 (N): unknown fieldtype 'money'"},
        {Packet(R"(<FIELD fieldtype="i4"/>)", ""), "FIELD 1 has no attrname"},
        {Packet(R"(<FIELD attrname="S" fieldtype="string"/>)", ""), "FIELD 1 (S) has no WIDTH"},
        {Packet(R"(<FIELD attrname="S" fieldtype="string" WIDTH="0"/>)", ""), "WIDTH '0' is not a positive integer"},
        {Packet(R"(<FIELD attrname="A23456789012345678901234567890123" fieldtype="i4"/>)", ""), "is not 1 to 31 bytes"},
        {Packet(R"(<FIELD attrname="S" fieldtype="string" WIDTH="3" SUBTYPE="Money"/>)", ""), "SUBTYPE 'Money'"},
        {Packet(i4 + i4, ""), "a second field named 'N'"},
        {Packet(i4, R"(<ROW N="1"/><ROW N="12x"/>)"), "row 2: field 'N': value '12x' is refused"},
        {Packet(i4, R"(<ROW N=""/>)"), "row 1: field 'N': value '' is refused"},
        {Packet(i4, R"(<ROW N="2147483648"/>)"), "out of range"},
        {Packet(i4, R"(<ROW N="1" X="2"/>)"), "row 1: attribute 'X' names no field"},
        {Packet(str, R"(<ROW S="abcd"/>)"), "row 1: field 'S': value 'abcd' is refused: it is 4 bytes, more than the WIDTH 3"},
        {Packet(str, R"(<ROW S="綠"/><ROW S="綠茶"/>)"), "row 2: field 'S'"},
        {Packet(R"(<FIELD attrname="D" fieldtype="date"/>)", R"(<ROW D="20261332"/>)"), "not a date YYYYMMDD"},
        {Packet(R"(<FIELD attrname="M" fieldtype="bin.hex"/>)", R"(<ROW M="@@"/>)"), "not base64"},
        {Packet(R"(<FIELD attrname="P" fieldtype="fixed" WIDTH="3"/>)", R"(<ROW P="1234"/>)"), "4 digits, more than the field's 3"},
        {Packet(i4, R"(<ROW N="1"/><OTHER/>)"), "row 2: element <OTHER> where a ROW belongs"},
        {Packet(i4, R"(<ROW RowState="1" N="1"/><ROW N="2"/>)"), "row 2: the old values of a modified record are not followed by its new values"},
        {Packet(i4, R"(<ROW RowState="8" N="1"/>)"), "row 1: new values of a modified record without its old values"},
        {Packet(i4, R"(<ROW RowState="3" N="1"/>)"), "row 1: RowState '3' is not a record status"},
        {Packet(i4, R"(<ROW RowUnchanged="2" N="1"/>)"), "row 1: RowUnchanged '2' is not a list of field numbers"},
        // A GUID is text; on bytes it would give a text field over a buffer without its end.
        {Packet(R"(<FIELD attrname="G" fieldtype="bytes" WIDTH="16" SUBTYPE="Guid"/>)", ""), "SUBTYPE 'Guid' does not fit bytes"},
        {Packet(R"(<FIELD attrname="G" fieldtype="varbytes" WIDTH="16" SUBTYPE="Guid"/>)", ""), "SUBTYPE 'Guid' does not fit varbytes"},
        // Nothing written in a row may be passed over.
        {Packet(i4, R"(<ROW N="1"/><ROW N="2"><ROW N="3"/></ROW>)"), "row 2: a <ROW> element stands inside the ROW"},
        {Packet(i4, R"(<ROW N="1">4</ROW>)"), "row 1: text stands inside the ROW"},
        {Packet(i4, R"(<ROW N="1"/><ROW N="2" N="3"/>)"), "row 2: field 'N' is given twice"},
        {Packet(i4, R"(<ROW RowState="4" RowState="2" N="1"/>)"), "row 1: attribute 'RowState' appears twice"},
        {Packet(R"(<FIELD attrname="S" fieldtype="string" WIDTH="3" WIDTH="30"/>)", ""), "FIELD 1 (S) carries the attribute 'WIDTH' twice"},
        {Packet(i4, "", R"( LCID="1028" LCID="1033")"), "PARAMS carries the attribute 'LCID' twice"},
        {good.substr(0, good.find("</DATAPACKET>")) + R"(<ROW N="2"/></DATAPACKET>)", "DATAPACKET holds <ROW> besides its METADATA and ROWDATA"},
        {good.substr(0, good.find("<ROWDATA>")) + "<METADATA/>" + good.substr(good.find("<ROWDATA>")), "DATAPACKET holds <METADATA> besides"},
        // A zero character would cut the value (and a key with it) short.
        {Packet(str, R"(<ROW S="P1"/><ROW S="P1&#0;X"/>)"), "row 2, field 'S': the value holds a zero character"},
        {Packet(str, R"(<ROW S='&#x000;'/>)"), "row 1, field 'S': the value holds a zero character"},
        {Packet(i4 + str, std::string("<ROW N=\"1\" S=\"a\0b\"/>", 20)), "row 1, field 'S': the value holds a zero character"},
        {Packet(R"(<FIELD attrname="S&#0;T" fieldtype="string" WIDTH="3"/>)", R"(<ROW S="a"/>)"), "a zero character stands at byte"},
        // Refused from its first bytes, before anything is parsed.
        {"PK\x03\x04" + std::string(100, 'x'), "the file does not start like a data packet (byte 0 is no '<')"},
        {"<?xml version=\"1.0\"?>" + std::string(70000, ' ') + good.substr(good.find("<DATAPACKET")),
         "no DATAPACKET element in its first 65536 bytes"},
        {"<?xml version=\"1.0\"?><!-- x --><html>" + std::string(70000, 'x') + "</html>", "the document element is <html>, not <DATAPACKET>"},
        {good.substr(0, good.size() - 30), "Unreadable data packet"},
        {good.substr(0, good.find("<ROWDATA>") + 9), "ROWDATA is not closed"},
        {"", "the packet is empty"},
        {"<NOTAPACKET/>", "not <DATAPACKET>"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.packet);
        Loaded l = Load(c.packet);
        EXPECT_EQ(l.status, DBERR_INVALIDPACKET);
        EXPECT_THAT(l.Error(), HasSubstr(c.message));
        // The refused packet left nothing behind: a good one still loads into the same base.
        EXPECT_EQ(l.base->AppendData(Bytes(good).data(), good.size(), true), DBERR_NONE);
        std::uint32_t count = 0;
        l.base->GetProp(basepropRECORDCOUNT, count);
        EXPECT_EQ(count, 1u);
    }
}

TEST(PacketRead, LargePacketsAreReadInPiecesWithRowNumbersIntact) {
    std::string rows;
    for (int i = 1; i <= 6000; ++i)
        rows += "<ROW ID=\"" + std::to_string(i) + "\" NAME=\"" + std::string(80, 'x') + "\"/>\n";
    const std::string fields = R"(<FIELD attrname="ID" fieldtype="i4"/><FIELD attrname="NAME" fieldtype="string" WIDTH="80"/>)";
    Loaded l = Load(Packet(fields, rows));
    ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
    EXPECT_EQ(l.Count(), 6000u);
    ASSERT_EQ(l.cursor->MoveToSeqNo(6000), DBERR_NONE);
    ASSERT_TRUE(l.Fetch());
    EXPECT_EQ(l.Int(1), 6000);

    std::string bad = rows;
    bad.replace(bad.find("ID=\"5000\""), 9, "ID=\"50x0\"");
    Loaded b = Load(Packet(fields, bad));
    EXPECT_THAT(b.Error(), HasSubstr("row 5000: field 'ID': value '50x0'"));

    std::string zero = rows;
    zero.replace(zero.find("NAME", zero.find("ID=\"5500\"")) + 6, 4, "&#0;");
    Loaded z = Load(Packet(fields, zero));
    EXPECT_THAT(z.Error(), HasSubstr("row 5500, field 'NAME': the value holds a zero character"));
}

TEST(PacketRead, RowStatusesFollowOneRuleInBothForms) {
    // A delta packet in binary form, one i4 field N; `status` is the row's update status.
    const auto binaryDelta = [](std::uint8_t status) {
        std::vector<std::uint8_t> p = {0x96, 'T', 'W', 'B', 1, 0, 3, 0, 1, 0, 0, 0, 1, 'N'};
        const std::int32_t desc[5] = {fldINT32, 0, 0, 0, 0};
        const auto* d = reinterpret_cast<const std::uint8_t*>(desc);
        p.insert(p.end(), d, d + sizeof desc);
        p.insert(p.end(), {0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, status, 0, 7, 0, 0, 0});
        return p;
    };
    Loaded fine = Load(binaryDelta(dsRecNew));
    ASSERT_EQ(fine.status, DBERR_NONE) << fine.Error();
    // Its XML form reads back.
    Loaded again = Load(Stream(*fine.base, xmlmodeXMLUTF8));
    ASSERT_EQ(again.status, DBERR_NONE) << again.Error();
    EXPECT_EQ(again.Count(), 1u);

    Loaded odd = Load(binaryDelta(20));
    EXPECT_EQ(odd.status, DBERR_INVALIDPACKET);
    EXPECT_THAT(odd.Error(), HasSubstr("row 1: status 20 is not known"));
    Loaded oddXml = Load(Packet(R"(<FIELD attrname="N" fieldtype="i4"/>)", R"(<ROW RowState="20" N="7"/>)",
                                R"( DATASET_DELTA="TRUE")"));
    EXPECT_THAT(oddXml.Error(), HasSubstr("row 1: RowState '20' is not a record status"));
}

// A binary packet of one field and one row holding `value` (the field's record bytes).
// `paramValue`, when given, is the value of the one dataset parameter "P".
std::vector<std::uint8_t> BinaryOneValue(std::int32_t type, std::int32_t units1, std::int32_t units2,
                                         const void* value, std::size_t size, const std::string* paramValue = nullptr) {
    std::vector<std::uint8_t> p = {0x96, 'T', 'W', 'B', 1, 0, 0, 0, 1, 0, 0, 0, 1, 'F'};
    const std::int32_t desc[5] = {type, 0, units1, units2, 0};
    const auto* d = reinterpret_cast<const std::uint8_t*>(desc);
    p.insert(p.end(), d, d + sizeof desc);
    p.insert(p.end(), {0, 0, 0, 0});
    if (paramValue == nullptr) {
        p.insert(p.end(), {0, 0, 0, 0});
    } else {
        p.insert(p.end(), {1, 0, 0, 0, 1, 0, 'P', static_cast<std::uint8_t>(paramValue->size()), 0, 0, 0});
        p.insert(p.end(), paramValue->begin(), paramValue->end());
    }
    p.insert(p.end(), {1, 0, 0, 0, BLANK_NONE});
    const auto* v = static_cast<const std::uint8_t*>(value);
    p.insert(p.end(), v, v + size);
    return p;
}

TBcd Bcd(const char* digits, int places) {
    TBcd bcd;
    bcd.Precision = static_cast<std::uint8_t>(std::strlen(digits));
    bcd.SignSpecialPlaces = static_cast<std::uint8_t>(places);
    for (int i = 0; digits[i] != '\0'; ++i) bcd.SetDigit(i, digits[i] - '0');
    return bcd;
}

// What one form of a packet takes, the other takes too: a packet read in either form writes an
// image in the other form that reads back, and what one form refuses the other refuses.
TEST(PacketRead, BothFormsTakeTheSamePackets) {
    const TSQLTimeStamp blankStamp{};
    const TBcd leadingIntegerZeros = Bcd("0000001234", 2);  // 12.34 put with a wider precision
    const TBcd fractionZeros = Bcd("000012", 6);             // 0.000012: six digits
    const std::int32_t one = 1;
    const std::string zeroInValue("a\0b", 3);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> packet;
        const char* refusal;  // empty: taken
        const char* xmlValue;  // the value as the XML image must hold it (when taken)
    };
    const Case cases[] = {
        {"blank SQL time stamp, binary",
         BinaryOneValue(fldSQLTIMESTAMP, 0, 0, &blankStamp, sizeof blankStamp), "", R"(F="00000000T00:00:00")"},
        {"blank SQL time stamp, XML",
         Bytes(Packet(R"(<FIELD attrname="F" fieldtype="SQLdateTime"/>)", R"(<ROW F="00000000T00:00:00"/>)")), "",
         R"(F="00000000T00:00:00")"},
        {"decimal with leading integer zeros, binary",
         BinaryOneValue(fldBCD, 4, 2, &leadingIntegerZeros, sizeof(TBcd)), "", R"(F="12.34")"},
        {"decimal with more digits than its precision, binary",
         BinaryOneValue(fldBCD, 4, 2, &fractionZeros, sizeof(TBcd)), "6 digits are more than the field's 4", ""},
        {"decimal with more digits than its precision, XML",
         Bytes(Packet(R"(<FIELD attrname="F" fieldtype="fixed" WIDTH="4" DECIMALS="2"/>)", R"(<ROW F="0.000012"/>)")),
         "number has 6 digits, more than the field's 4", ""},
        {"control character in a field name, XML",
         Bytes(Packet(R"(<FIELD attrname="A&#1;B" fieldtype="i4"/>)", R"(<ROW/>)")),
         "FIELD 1: the attrname holds a control character", ""},
        {"zero character in a parameter value, binary", BinaryOneValue(fldINT32, 0, 0, &one, 4, &zeroInValue),
         "the dataset parameters are cut short, misnamed or hold a zero character", ""},
        {"zero character in a parameter value, XML",
         Bytes(Packet(R"(<FIELD attrname="F" fieldtype="i4"/>)", R"(<ROW F="1"/>)", R"( P="a&#0;b")")),
         "a zero character stands at byte", ""},
        {"parameter names with a colon",
         Bytes(Packet(R"(<FIELD attrname="F" fieldtype="i4" x:Label="Price"/>)", R"(<ROW F="1"/>)",
                      R"( LCID="1028" ns:Origin="HQ")")),
         "", R"(F="1")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded l = Load(c.packet);
        if (*c.refusal != '\0') {
            EXPECT_EQ(l.status, DBERR_INVALIDPACKET);
            EXPECT_THAT(l.Error(), HasSubstr(c.refusal));
            continue;
        }
        ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
        const std::string xml = Stream(*l.base, xmlmodeXMLUTF8);
        EXPECT_THAT(xml, HasSubstr(c.xmlValue));
        for (const std::string& image : {xml, Stream(*l.base, xmlmodeBINARY)}) {
            Loaded again = Load(image);
            ASSERT_EQ(again.status, DBERR_NONE) << again.Error();
            EXPECT_EQ(Stream(*again.base, xmlmodeXMLUTF8), xml);
        }
    }
}

TEST(PacketRead, ByteOrderMarkCommentsAndEmptyRowData) {
    Loaded l = Load("\xEF\xBB\xBF" + Packet(R"(<FIELD attrname="N" fieldtype="i4"/>)",
                                            R"(<!-- <ROW N="9"/> --><ROW N="1"/><?pi x?><ROW N="2"></ROW>)"));
    ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
    EXPECT_EQ(l.Count(), 2u);
    Loaded empty = Load(R"(<DATAPACKET Version="2.0"><METADATA><FIELDS><FIELD attrname="N" fieldtype="i4"/></FIELDS></METADATA><ROWDATA/></DATAPACKET>)");
    ASSERT_EQ(empty.status, DBERR_NONE) << empty.Error();
    EXPECT_EQ(empty.Count(), 0u);
}

TEST(PacketRead, FieldNamesThatAreNoXmlNamesRoundTrip) {
    std::unique_ptr<IDSWriter> w;
    CreateDSWriter(w);
    DSFLDDesc d{};
    std::strcpy(d.szName, "1 PRICE (NT$)");
    d.iFldType = fldINT32;
    ASSERT_EQ(w->AddField(d), DBERR_NONE);
    ASSERT_EQ(w->InitRow(), DBERR_NONE);
    const std::int32_t v = 42;
    ASSERT_EQ(w->PutField(1, &v), DBERR_NONE);
    ASSERT_EQ(w->PostRow(), DBERR_NONE);
    w->SetProp(basepropXMLMODE, xmlmodeXMLUTF8);
    std::vector<std::uint8_t> packet;
    ASSERT_EQ(w->GetPacket(packet), DBERR_NONE);
    Loaded l = Load(packet);
    ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
    ASSERT_EQ(l.cursor->MoveRelative(1), DBERR_NONE);
    ASSERT_TRUE(l.Fetch());
    EXPECT_EQ(l.Int(1), 42);
}

TEST(PacketRead, AppendedPacketsAddRowsOfTheSameFieldsOnly) {
    const std::string fields = R"(<FIELD attrname="N" fieldtype="i4"/>)";
    Loaded l = Load(Packet(fields, R"(<ROW N="1"/>)"));
    const auto more = Bytes(Packet(fields, R"(<ROW N="2"/><ROW N="3"/>)"));
    EXPECT_EQ(l.base->AppendData(more.data(), more.size(), true), DBERR_NONE);
    EXPECT_EQ(l.Count(), 3u);
    const auto other = Bytes(Packet(R"(<FIELD attrname="M" fieldtype="i4"/>)", ""));
    EXPECT_EQ(l.base->AppendData(other.data(), other.size(), true), DBERR_METADATAMISMATCH);
}

TEST(PacketRead, RowsOfAPacketOfTheSameShapeReplaceTheRecords) {
    const auto binary = [](const std::string& xml) {
        Loaded l = Load(xml);
        EXPECT_EQ(l.status, DBERR_NONE);
        EXPECT_EQ(l.base->SetProp(basepropXMLMODE, xmlmodeBINARY), DBERR_NONE);
        std::vector<std::uint8_t> out;
        EXPECT_EQ(l.base->StreamDS(out), DBERR_NONE);
        return out;
    };
    const std::string fields = R"(<FIELD attrname="N" fieldtype="i4"/><FIELD attrname="S" fieldtype="string" WIDTH="4"/>)";
    const std::string keyed = R"(<FIELD attrname="N" fieldtype="i4" PROVFLAGS="7"/><FIELD attrname="S" fieldtype="string" WIDTH="4"/>)";
    Loaded l = Load(binary(Packet(fields, R"(<ROW N="1" S="a"/>)", R"( LCID="1028")")));
    ASSERT_EQ(l.status, DBERR_NONE);

    const auto next = binary(Packet(fields, R"(<ROW N="2" S="b"/><ROW N="3"/>)", R"( LCID="1028")"));
    bool replaced = false;
    EXPECT_EQ(l.base->ReplaceData(next.data(), next.size(), replaced), DBERR_NONE);
    EXPECT_TRUE(replaced);
    ASSERT_EQ(l.Count(), 2u);
    ASSERT_EQ(l.cursor->MoveToBOF(), DBERR_NONE);
    ASSERT_EQ(l.cursor->MoveRelative(1), DBERR_NONE);
    ASSERT_TRUE(l.Fetch());
    EXPECT_EQ(l.Int(1), 2);
    EXPECT_EQ(l.Text(2), "b");

    // Another field parameter, other dataset parameters, another form: nothing is touched.
    for (const auto& other : {binary(Packet(keyed, R"(<ROW N="9"/>)", R"( LCID="1028")")),
                              binary(Packet(fields, R"(<ROW N="9"/>)", R"( LCID="1041")")),
                              Bytes(Packet(fields, R"(<ROW N="9"/>)", R"( LCID="1028")"))}) {
        EXPECT_EQ(l.base->ReplaceData(other.data(), other.size(), replaced), DBERR_NONE);
        EXPECT_FALSE(replaced);
        EXPECT_EQ(l.Count(), 2u);
    }

    // A packet cut short in its rows leaves no record behind.
    auto cut = next;
    cut.resize(cut.size() - 3);
    EXPECT_EQ(l.base->ReplaceData(cut.data(), cut.size(), replaced), DBERR_INVALIDPACKET);
    EXPECT_EQ(l.Count(), 0u);
}

TEST(PacketWrite, WriterBuildsPacketsThatReadBack) {
    for (const std::uint32_t mode : {xmlmodeBINARY, xmlmodeXMLUTF8}) {
        SCOPED_TRACE(mode);
        std::unique_ptr<IDSWriter> w;
        ASSERT_EQ(CreateDSWriter(w), DBERR_NONE);
        DSFLDDesc id{}, name{}, note{};
        std::strcpy(id.szName, "ID");
        id.iFldType = fldINT32;
        id.iFldAttr = fldAttrREQUIRED;
        std::strcpy(name.szName, "NAME");
        name.iFldType = fldZSTRING;
        name.iUnits1 = 4;
        std::strcpy(note.szName, "NOTE");
        note.iFldType = fldBLOB;
        note.iFldSubType = fldstMEMO;
        ASSERT_EQ(w->AddField(id), DBERR_NONE);
        ASSERT_EQ(w->AddField(name), DBERR_NONE);
        ASSERT_EQ(w->AddField(note), DBERR_NONE);
        ASSERT_EQ(w->AddOptParameter(1, "PROVFLAGS", "7"), DBERR_NONE);
        ASSERT_EQ(w->AddOptParameter(0, "LCID", "1028"), DBERR_NONE);
        ASSERT_EQ(w->SetProp(basepropXMLMODE, mode), DBERR_NONE);
        for (std::int32_t i = 1; i <= 2; ++i) {
            ASSERT_EQ(w->InitRow(), DBERR_NONE);
            ASSERT_EQ(w->PutField(1, &i), DBERR_NONE);
            if (i == 1) {
                ASSERT_EQ(w->PutField(2, "綠茶x "), DBERR_NONE);  // cut to 4 bytes: one character
                ASSERT_EQ(w->PutBlob(3, "memo", 4), DBERR_NONE);
            }
            ASSERT_EQ(w->PostRow(), DBERR_NONE);
        }
        std::vector<std::uint8_t> packet;
        ASSERT_EQ(w->GetPacket(packet), DBERR_NONE);
        Loaded l = Load(packet);
        ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
        std::string value;
        EXPECT_EQ(l.base->GetOptParameter(1, "PROVFLAGS", value), DBERR_NONE);
        EXPECT_EQ(value, "7");
        ASSERT_EQ(l.cursor->MoveRelative(1), DBERR_NONE);
        l.Fetch();
        EXPECT_EQ(l.Int(1), 1);
        EXPECT_EQ(l.Text(2), "綠");
        std::uint32_t length = 0;
        l.cursor->GetBlobLen(l.buf.data(), 3, length);
        EXPECT_EQ(length, 4u);
        ASSERT_EQ(l.cursor->MoveRelative(1), DBERR_NONE);
        l.Fetch();
        EXPECT_EQ(l.Text(2), "<null>");
        EXPECT_EQ(l.Text(3), "<null>");
        EXPECT_EQ(w->AddField(id), DBERR_INVALIDPARAM);  // fields are fixed once rows exist
    }
}

TEST(PacketWrite, NamesAndFieldsThatNoPacketCouldCarryAreRefused) {
    // Each of these once produced a packet that the engine could not read back.
    Loaded l = Load(Packet(R"(<FIELD attrname="A" fieldtype="i4"/>)", ""));
    EXPECT_EQ(l.base->AddOptParameter(0, "`CID", "1"), DBERR_INVALIDPARAM);
    EXPECT_EQ(l.base->AddOptParameter(1, "WIDTH", "1"), DBERR_INVALIDPARAM);
    EXPECT_EQ(l.base->AddOptParameter(1, "ORIGIN", "T.A"), DBERR_NONE);
    EXPECT_EQ(l.base->AddOptParameter(1, "ORIGIN", "T.B"), DBERR_NONE);  // replaced, not doubled
    std::vector<std::string> names;
    l.base->GetOptParameterNames(1, names);
    EXPECT_EQ(names, std::vector<std::string>{"ORIGIN"});

    auto desc = [](const char* name, std::int32_t type, std::int32_t width) {
        DSFLDDesc d{};
        std::strncpy(d.szName, name, sizeof d.szName);
        d.iFldType = type;
        d.iUnits1 = width;
        return d;
    };
    struct Case { std::vector<DSFLDDesc> descs; DBResult status; };
    const Case cases[] = {
        {{desc("A", fldINT32, 0), desc("A", fldINT32, 0)}, DBERR_INVALIDPARAM},
        {{desc("A", fldUINT32, 0)}, DBERR_NOTSUPPORTED},
        {{desc("A", fldBCD, 65)}, DBERR_NOTSUPPORTED},
        {{desc("A\x01", fldINT32, 0)}, DBERR_NOTSUPPORTED},
        {{desc("A", fldZSTRING, 0)}, DBERR_NOTSUPPORTED},
        {{desc("A", fldZSTRING, 10), desc("a", fldINT32, 0)}, DBERR_NONE},
    };
    for (const Case& c : cases) {
        std::unique_ptr<IDSBase> base;
        CreateDSBase(base);
        EXPECT_EQ(base->CreateFields(c.descs), c.status);
    }
}

}  // namespace
}  // namespace tarnwick::dsengine::test
