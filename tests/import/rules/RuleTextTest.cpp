// The texts the rules hand to the database and the filter parser, built from loaded packets:
// every keyed rule's select text exactly as the stores' database has always received it, key
// values with quotes doubled, and the unquoted LOC_KEY_MAP key refused unless it is a number.

#include <gtest/gtest.h>

#include <filesystem>

#include "SamplePackets.h"
#include "import/SqlText.h"
#include "import/TableRules.h"

namespace tarnwick::import {
namespace {

namespace fs = std::filesystem;
using sampledata::TRow;

TEST(SqlText, QuotedKeyDoublesEveryQuote) {
    const std::pair<const char*, const char*> cases[] = {
        {"A001", "'A001'"}, {"", "''"}, {"O'NEIL", "'O''NEIL'"}, {"''", "''''''"}, {"x' OR '1'='1", "'x'' OR ''1''=''1'"},
        {"王'小明", "'王''小明'"},
    };
    for (const auto& [value, quoted] : cases) EXPECT_EQ(QuotedKey(value), quoted) << value;
}

TEST(SqlText, PlainDecimal) {
    for (const char* good : {"0", "42", "-7", "+3", "12.50", ".5", "5."}) EXPECT_TRUE(IsPlainDecimal(good)) << good;
    for (const char* bad : {"", "-", ".", "1.2.3", "12a", "1e5", "1 OR 1=1", "0x10", " 1", "1;"})
        EXPECT_FALSE(IsPlainDecimal(bad)) << bad;
}

TEST(StoreRules, NamesInTestingOrder) {
    const std::vector<std::string_view> expected{
        "ADDCASH_SUB", "SMARTCARD_DATA", "MEMBER_CLASS", "PROD_DEPART", "PROD_TOPITEM", "PROD_HIITEM",
        "PROD_ITEM", "PROVIDER", "MEMBER", "MEMBER_UPDATE", "PRODUCT", "PRODUCT_UPDATE", "PROD_SALE",
        "CUSTOMER", "PSALE_MASTER", "CHGPRICE_MASTER", "PTSALE_MASTER", "EMPLOYEE", "LOC_KEY_MAP",
        "LOC_KEY_MAP_SUB", "ORG_MAIN", "ORG_POWER_SET", "ORG_POWER_SET2", "STORE_QTY"};
    std::vector<std::string_view> names;
    for (const TTableRule& rule : StoreTableRules()) names.push_back(rule.Name);
    EXPECT_EQ(names, expected);
}

class KeyClauseTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("tarnwick-keys-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // Loads one record of `table` into `dataSet_`.
    void Load(const std::string& table, const TRow& row) {
        const std::string path = (folder_ / "packet.XML").string();
        sampledata::WriteFile(path, sampledata::PacketXml(sampledata::StoreTable(table), {row}));
        dataSet_.LoadPacketFile(path);
    }

    static const TTableRule& Rule(std::string_view name) {
        for (const TTableRule& rule : StoreTableRules())
            if (rule.Name == name) return rule;
        throw std::out_of_range(std::string(name));
    }

    std::string Select(std::string_view ruleName) {
        const TTableRule& rule = Rule(ruleName);
        return "SELECT * FROM " + std::string(rule.Target) + KeyClause(rule, dataSet_, "packet.XML");
    }

    fs::path folder_;
    TClientDataSet dataSet_;
};

TEST_F(KeyClauseTest, SelectTextsOfEveryKeyedRule) {
    struct Case {
        const char* Rule;
        const char* Table;
        TRow Row;
        const char* Select;
    };
    const Case cases[] = {
        {"PROD_DEPART", "PROD_DEPART", {{"PD_DEPID", "D01"}}, "SELECT * FROM PROD_DEPART where PD_DEPID = 'D01'"},
        {"PROD_TOPITEM", "PROD_TOPITEM", {{"TOP_ITEMID", "T1"}}, "SELECT * FROM PROD_TOPITEM where TOP_ITEMID = 'T1'"},
        {"PROD_HIITEM", "PROD_HIITEM", {{"PD_GRPID", "G1"}}, "SELECT * FROM PROD_HIITEM where PD_GRPID = 'G1'"},
        {"PROD_ITEM", "PROD_ITEM", {{"PD_ITEMID", "I1"}}, "SELECT * FROM PROD_ITEM where PD_ITEMID = 'I1'"},
        {"PROVIDER", "PROVIDER", {{"PROVIDER_ID", ""}}, "SELECT * FROM PROVIDER where PROVIDER_ID = ''"},
        {"MEMBER", "MEMBER", {{"MEMBER_ID", "O'NEIL"}}, "SELECT * FROM MEMBER where MEMBER_ID = 'O''NEIL'"},
        {"MEMBER_UPDATE", "MEMBER", {{"MEMBER_ID", "M1"}}, "SELECT * FROM MEMBER  where MEMBER_ID = 'M1'"},
        {"PRODUCT", "PRODUCT", {{"PROD_ID", "P1"}}, "SELECT * FROM PRODUCT where PROD_ID = 'P1'"},
        {"PRODUCT_UPDATE", "PRODUCT", {{"PROD_ID", "P1"}}, "SELECT * FROM PRODUCT where PROD_ID = 'P1'"},
        {"CUSTOMER", "CUSTOMER", {{"CUST_ID", "C1"}}, "SELECT * FROM CUSTOMER where CUST_ID = 'C1'"},
        {"EMPLOYEE", "EMPLOYEE", {{"EMPLOYEE_ID", "E1"}}, "SELECT * FROM EMPLOYEE where EMPLOYEE_ID = 'E1'"},
        {"LOC_KEY_MAP", "LOC_KEY_MAP", {{"BASE_NO", "17"}}, "SELECT * FROM LOC_KEY_MAP where BASE_NO = 17"},
        {"LOC_KEY_MAP_SUB", "LOC_KEY_MAP_SUB", {{"PDC_NO", "k"}, {"ID_NO", "j"}},
         "SELECT * FROM LOC_KEY_MAP_SUB where PDC_NO = 'k' and ID_NO = 'j'"},
        {"ORG_MAIN", "ORG_MAIN", {{"ORG_MAIN_ID", "O1"}}, "SELECT * FROM ORG_MAIN where ORG_MAIN_ID = 'O1'"},
        {"ORG_POWER_SET", "ORG_POWER_SET", {{"ORG_MAIN_ID", "O1"}, {"FORM_NAME", "FormSale"}},
         "SELECT * FROM ORG_POWER_SET where ORG_MAIN_ID = 'O1' AND FORM_NAME = 'FormSale'"},
        {"ORG_POWER_SET2", "ORG_POWER_SET2", {{"ORG_MAIN_ID", "O1"}, {"FORM_NAME", "F"}},
         "SELECT * FROM ORG_POWER_SET2 where ORG_MAIN_ID = 'O1' AND FORM_NAME = 'F'"},
        {"STORE_QTY", "STORE_QTY", {{"PROD_ID", "P1"}, {"STOCK_ID", "S1"}},
         "SELECT * FROM STORE_QTY where PROD_ID = 'P1' AND STOCK_ID = 'S1'"},
    };
    for (const Case& c : cases) {
        Load(c.Table, c.Row);
        EXPECT_EQ(Select(c.Rule), c.Select) << c.Rule;
    }
}

TEST_F(KeyClauseTest, LocKeyMapKeyMustBeANumber) {
    sampledata::TTable table = sampledata::StoreTable("LOC_KEY_MAP");
    table.Columns[0].SqlType = "VARCHAR";  // a file whose BASE_NO is text
    table.Columns[0].Length = 20;
    const std::string path = (folder_ / "packet.XML").string();
    for (const char* bad : {"12a", "1 OR 1=1", "0; DELETE FROM PRODUCT"}) {
        sampledata::WriteFile(path, sampledata::PacketXml(table, {{{"BASE_NO", bad}}}));
        dataSet_.LoadPacketFile(path);
        try {
            Select("LOC_KEY_MAP");
            ADD_FAILURE() << bad;
        } catch (const EImportError& failure) {
            EXPECT_EQ(failure.Message(), std::string("packet.XML: record 1: field 'BASE_NO' holds \"") + bad +
                                             "\", which is not a plain decimal number");
        }
    }
    sampledata::WriteFile(path, sampledata::PacketXml(table, {{{"BASE_NO", " -12.5 "}}}));
    dataSet_.LoadPacketFile(path);
    EXPECT_EQ(Select("LOC_KEY_MAP"), "SELECT * FROM LOC_KEY_MAP where BASE_NO = -12.5");
}

TEST_F(KeyClauseTest, MissingKeyFieldNamesTheDataSet) {
    dataSet_.SetName("ClientDataSet1");
    const std::string path = (folder_ / "packet.XML").string();
    sampledata::WriteFile(path, sampledata::PacketXml(sampledata::StoreTable("MEMBER"), {{{"MEMBER_NAME", "x"}}}, {"MEMBER_ID"}));
    dataSet_.LoadPacketFile(path);
    try {
        Select("MEMBER");
        ADD_FAILURE();
    } catch (const EDatabaseError& failure) {
        EXPECT_EQ(failure.Message(), "ClientDataSet1: Field 'MEMBER_ID' not found");
    }
}

}  // namespace
}  // namespace tarnwick::import
