#include "FilterFixture.h"

#include "base/DatabaseError.h"
#include "data/clientdataset/filter/FilterExpr.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using filtertest::DescribeImage;
using filtertest::DetailFields;

TEST(FilterImage, BillFilterIsTheSixtySixByteBlock) {
    const std::vector<std::uint8_t> want = {
        0x02, 0x00, 0x42, 0x00, 0xFF, 0xFF, 0x0A, 0x00, 0x30, 0x00,              // header
        0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x18, 0x00,  // compare =
        0x04, 0x00, 0x00, 0x00, 0x0D, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // field 2 @0
        0x05, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x05, 0x00, 0x0D, 0x00,
        'M', 'A', 'S', 'T', 'E', 'R', 'B', 'I', 'L', 'L', 'I', 'D', 0x00,
        'B', '0', '0', '1', 0x00};
    ASSERT_EQ(want.size(), 66u);
    EXPECT_EQ(BuildFilterImage(DetailFields(), "MASTERBILLID = 'B001'", {}), want);
}

struct ImageCase {
    const char* text;
    TFilterOptions options;
    std::string want;
};

// Each text is parsed against the detail fields and its image read back as text.
TEST(FilterImage, TextsGiveTheirImages) {
    const std::string long300(300, 'K');
    std::string cjk100;
    for (int i = 0; i < 100; ++i) cjk100 += "綠";  // 300 bytes
    const std::string longText = "MASTERBILLID = '" + long300 + "'";
    const std::string deepText = std::string(100000, '(') + "MASTERBILLID='B'" + std::string(100000, ')');
    const std::string cjkText = "MASTERBILLID = '" + cjk100 + "'";
    std::string cjk255, cjk300;
    for (int i = 0; i < 300; ++i) (i < 255 ? cjk255 : cjk300) += "綠";
    cjk300 = cjk255 + cjk300;
    const std::string cjk300Text = "MASTERBILLID = '" + cjk300 + "'";

    const TFilterOptions none{};
    const TFilterOptions ci = foCaseInsensitive;
    const TFilterOptions noPartial = foNoPartialCompare;
    const ImageCase cases[] = {
        // Name as written, in any letter case, with the field's number.
        {"masterbillid = 'B001'", none, "=(#2 masterbillid, str 'B001')"},
        {"[MasterBillId]='B001'", none, "=(#2 MasterBillId, str 'B001')"},
        {"  (MASTERBILLID = 'B001')  ", none, "=(#2 MASTERBILLID, str 'B001')"},
        {"/* bill */ MASTERBILLID /**/ = 'B001'", none, "=(#2 MASTERBILLID, str 'B001')"},
        {"/* a * b / c */ MASTERBILLID = 'B001'", none, "=(#2 MASTERBILLID, str 'B001')"},
        {deepText.c_str(), none, "=(#2 MASTERBILLID, str 'B')"},  // once overflowed the stack
        // Operators, and a constant written first moved right with the operator mirrored.
        {"MASTERBILLID <> 'B'", none, "<>(#2 MASTERBILLID, str 'B')"},
        {"MASTERBILLID > 'B'", none, ">(#2 MASTERBILLID, str 'B')"},
        {"MASTERBILLID < 'B'", none, "<(#2 MASTERBILLID, str 'B')"},
        {"MASTERBILLID >= 'B'", none, ">=(#2 MASTERBILLID, str 'B')"},
        {"MASTERBILLID <= 'B'", none, "<=(#2 MASTERBILLID, str 'B')"},
        {"'B001' = MASTERBILLID", none, "=(#2 MASTERBILLID, str 'B001')"},
        {"'B' < MASTERBILLID", none, ">(#2 MASTERBILLID, str 'B')"},
        {"'B' >= MASTERBILLID", none, "<=(#2 MASTERBILLID, str 'B')"},
        {"'B' <> MASTERBILLID", none, "<>(#2 MASTERBILLID, str 'B')"},
        // Quotes inside a key.
        {"MASTERBILLID = 'O''NEIL'", none, "=(#2 MASTERBILLID, str 'O'NEIL')"},
        {"MASTERBILLID = 'AB'CD'", none, "=(#2 MASTERBILLID, str 'AB'CD')"},
        {"MASTERBILLID = 'AB' CD'", none, "=(#2 MASTERBILLID, str 'AB' CD')"},
        {"MASTERBILLID = ''''", none, "=(#2 MASTERBILLID, str ''')"},
        // Empty key: plain comparison with the zero byte alone, whatever the options.
        {"MASTERBILLID = ''", none, "=(#2 MASTERBILLID, str '')"},
        {"MASTERBILLID = ''", ci, "=(#2 MASTERBILLID, str '')"},
        // Trailing "*": prefix match over the characters before it.
        {"MASTERBILLID = 'B0*'", none, "=[ci=0 partial=2](#2 MASTERBILLID, str 'B0')"},
        {"MASTERBILLID = 'B0*'", noPartial, "=(#2 MASTERBILLID, str 'B0*')"},
        {"MASTERBILLID = '*'", none, "=(#2 MASTERBILLID, str '*')"},
        {"MASTERBILLID = '**'", none, "=[ci=0 partial=1](#2 MASTERBILLID, str '*')"},
        {"MASTERBILLID = '綠茶*'", none, "=[ci=0 partial=2](#2 MASTERBILLID, str '綠茶')"},
        {"MASTERBILLID = 'B001'", ci, "=[ci=1 partial=0](#2 MASTERBILLID, str 'B001')"},
        {"MASTERBILLID = 'b0*'", ci, "=[ci=1 partial=2](#2 MASTERBILLID, str 'b0')"},
        {"MASTERBILLID = 'b0*'", ci | noPartial, "=[ci=1 partial=0](#2 MASTERBILLID, str 'b0*')"},
        {"MASTERBILLID = '*'", ci, "=[ci=1 partial=0](#2 MASTERBILLID, str '*')"},
        // Long keys: the first 255 characters, however many bytes they take.
        {longText.c_str(), none, "=(#2 MASTERBILLID, str '" + long300.substr(0, 255) + "')"},
        {cjkText.c_str(), none, "=(#2 MASTERBILLID, str '" + cjk100 + "')"},
        {cjk300Text.c_str(), none, "=(#2 MASTERBILLID, str '" + cjk255 + "')"},
        // Names and keys in CJK text.
        {"品名 = '綠茶'", none, "=(#9 品名, str '綠茶')"},
        // Integer fields: the constant takes the field's width.
        {"LINENO = '12'", none, "=(#1 LINENO, int32 12)"},
        {"LINENO >= -2147483648", none, ">=(#1 LINENO, int32 -2147483648)"},
        {"SMALLQTY = '-32768'", none, "=(#3 SMALLQTY, int16 -32768)"},
        {"SMALLQTY < 32767", none, "<(#3 SMALLQTY, int16 32767)"},
        {"WORDQTY = '65535'", none, "=(#4 WORDQTY, uint16 65535)"},
    };
    for (const ImageCase& c : cases) {
        EXPECT_EQ(DescribeImage(BuildFilterImage(DetailFields(), c.text, c.options)), c.want)
            << "text: " << c.text;
    }
}

struct ErrorCase {
    std::string text;
    std::string message;
    bool convertError = false;
};

// Every failure is EDatabaseError except the integer conversion; only the missing field names
// the dataset.
TEST(FilterImage, FaultyTextsFailWithTheirMessages) {
    const ErrorCase cases[] = {
        {"NOFIELD = 'x'", "CDS_Mast: Field 'NOFIELD' not found"},
        {"[MASTER BILLID] = 'x'", "CDS_Mast: Field 'MASTER BILLID' not found"},
        {"total = 'x'", "Field 'TOTAL' cannot be used in a filter expression"},
        {"MASTERBILLID = 'abc", "Unterminated string constant"},
        {"MASTERBILLID = 'AB''", "Unterminated string constant"},
        {"MASTERBILLID = '", "Unterminated string constant"},
        {"[MASTERBILLID = 'x'", "Unterminated field name"},
        {"MASTERBILLID # 'x'", "Invalid filter expression character: '#'"},
        {"MASTERBILLID == 'x'", "Incorrectly formed filter expression"},
        {"MASTERBILLID = \"x\"", "Invalid filter expression character: '\"'"},
        {"MASTERBILLID = 'x' /* open", "Invalid filter expression character: '/'"},
        {std::string("MASTERBILLID = 'A\0B'", 20), "Invalid filter expression character: '#0'"},
        {std::string("MASTERBILLID = 'A'\0", 19), "Invalid filter expression character: '#0'"},
        {"MASTERBILLID = 'x' junk", "Filter expression incorrectly terminated"},
        {"MASTERBILLID = 'AB' OR 'CD'", "Filter expression incorrectly terminated"},
        {"MASTERBILLID = 'x')", "Filter expression incorrectly terminated"},
        {"", "Incorrectly formed filter expression"},
        {"MASTERBILLID", "Incorrectly formed filter expression"},
        {"MASTERBILLID =", "Incorrectly formed filter expression"},
        {"'x' = 'y'", "Incorrectly formed filter expression"},
        {"MASTERBILLID = LINENO", "Incorrectly formed filter expression"},
        {"(MASTERBILLID = 'x'", "Incorrectly formed filter expression"},
        {"((MASTERBILLID = 'x')", "Incorrectly formed filter expression"},
        {"(MASTERBILLID = 'x'))", "Filter expression incorrectly terminated"},
        {"MEMO = 'x'", "Type mismatch in expression"},
        {"'x' = memo", "Type mismatch in expression"},
        {"PRICE = '1.5'", "Type mismatch in expression"},
        {"LINENO = '12x'", "'12x' is not a valid integer value", true},
        {"LINENO = ''", "'' is not a valid integer value", true},
        {"LINENO = 1.5", "'1.5' is not a valid integer value", true},
        {"LINENO = '5*'", "'5*' is not a valid integer value", true},
        {"LINENO = '2147483648'", "'2147483648' is not a valid integer value", true},
        {"SMALLQTY = '40000'", "Constant out of range"},
        {"SMALLQTY = '-32769'", "Constant out of range"},
        {"WORDQTY = '-1'", "Constant out of range"},
    };
    for (const ErrorCase& c : cases) {
        try {
            BuildFilterImage(DetailFields(), c.text, {});
            ADD_FAILURE() << "no failure for: " << c.text;
        } catch (const EConvertError& e) {
            EXPECT_TRUE(c.convertError) << "EConvertError for: " << c.text;
            EXPECT_EQ(e.Message(), c.message) << "text: " << c.text;
        } catch (const EDatabaseError& e) {
            EXPECT_FALSE(c.convertError) << "EDatabaseError for: " << c.text;
            EXPECT_EQ(e.Message(), c.message) << "text: " << c.text;
        }
    }
}

TEST(FilterImage, QuoteBeforeKeywordClosesTheKey) {
    // A lone quote followed by a keyword ends the key; followed by a plain word it belongs to it.
    EXPECT_TRUE(IsFilterKeyword("and", ""));
    EXPECT_TRUE(IsFilterKeyword("Order", "  by X"));
    EXPECT_FALSE(IsFilterKeyword("ORDER", " X"));
    EXPECT_TRUE(IsFilterKeyword("FOR", " UPDATE"));
    EXPECT_FALSE(IsFilterKeyword("ANDY", ""));
    EXPECT_EQ(DescribeImage(BuildFilterImage(DetailFields(), "MASTERBILLID = 'AB'ORDER'", {})),
              "=(#2 MASTERBILLID, str 'AB'ORDER')");
    EXPECT_THROW(BuildFilterImage(DetailFields(), "MASTERBILLID = 'AB' IS'", {}), EDatabaseError);
}

}  // namespace
}  // namespace tarnwick
