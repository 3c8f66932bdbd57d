// Every single-table rule end to end on an embedded store database: one packet per rule in one
// walk, rows stored before the walk, and the rows expected afterwards. Full replace leaves only
// the file's rows; a keyed upsert updates the rows it finds, inserts the others and leaves the
// rest alone.

#include "ImportFixture.h"

#include <algorithm>

namespace tarnwick::import::testing {
namespace {

using sampledata::TRow;

struct Case {
    const char* Name;  // table name in the file name
    const char* Table;
    const char* Before;
    std::vector<TRow> Rows;
    const char* Check;
    std::vector<std::string> After;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases{
        {"ADDCASH_SUB", "ADDCASH_SUB", "INSERT INTO ADDCASH_SUB (CARD_NO, NOTE) VALUES ('OLD', 'old')",
         {{{"CARD_NO", "C1"}, {"NOTE", "儲值"}}, {{"CARD_NO", "C2"}, {"NOTE", "補登"}}},
         "SELECT CARD_NO, NOTE FROM ADDCASH_SUB ORDER BY CARD_NO", {"C1|儲值", "C2|補登"}},
        {"SMARTCARD_DATA", "SMARTCARD_DATA", "INSERT INTO SMARTCARD_DATA (CARD_NO) VALUES ('OLD')",
         {{{"CARD_NO", "C1"}, {"MEMBER_ID", "M1"}}, {{"CARD_NO", "C2"}, {"MEMBER_ID", "M2"}}},
         "SELECT CARD_NO, MEMBER_ID FROM SMARTCARD_DATA ORDER BY CARD_NO", {"C1|M1", "C2|M2"}},
        {"MEMBER_CLASS", "MEMBER_CLASS", "INSERT INTO MEMBER_CLASS (CLASS_ID, CLASS_NAME) VALUES ('Z', '舊')",
         {{{"CLASS_ID", "A"}, {"CLASS_NAME", "金卡"}}, {{"CLASS_ID", "B"}, {"CLASS_NAME", "銀卡"}}},
         "SELECT CLASS_ID, CLASS_NAME FROM MEMBER_CLASS ORDER BY CLASS_ID", {"A|金卡", "B|銀卡"}},
        {"PROD_DEPART", "PROD_DEPART",
         "INSERT INTO PROD_DEPART (PD_DEPID, PD_DEPNAME) VALUES ('D1', 'old');"
         "INSERT INTO PROD_DEPART (PD_DEPID, PD_DEPNAME) VALUES ('D9', 'kept')",
         {{{"PD_DEPID", "D1"}, {"PD_DEPNAME", "飲料"}}, {{"PD_DEPID", "D2"}, {"PD_DEPNAME", "零食"}}},
         "SELECT PD_DEPID, PD_DEPNAME FROM PROD_DEPART ORDER BY 1", {"D1|飲料", "D2|零食", "D9|kept"}},
        {"PROD_TOPITEM", "PROD_TOPITEM", "INSERT INTO PROD_TOPITEM (TOP_ITEMID, TOP_ITEMNAME) VALUES ('T1', 'old')",
         {{{"TOP_ITEMID", "T1"}, {"TOP_ITEMNAME", "食品"}}},
         "SELECT TOP_ITEMID, TOP_ITEMNAME FROM PROD_TOPITEM", {"T1|食品"}},
        {"PROD_HIITEM", "PROD_HIITEM", "",
         {{{"PD_GRPID", "G1"}, {"PD_GRPNAME", "茶飲"}}, {{"PD_GRPID", "G2"}, {"PD_GRPNAME", "果汁"}}},
         "SELECT PD_GRPID, PD_GRPNAME FROM PROD_HIITEM ORDER BY 1", {"G1|茶飲", "G2|果汁"}},
        // A record whose presence field is blank is passed over.
        {"PROD_ITEM", "PROD_ITEM", "",
         {{{"PD_ITEMID", "I1"}, {"PD_ITEMNAME", "綠茶"}}, {{"PD_ITEMID", "   "}, {"PD_ITEMNAME", "blank"}},
          {{"PD_ITEMNAME", "null key"}}, {{"PD_ITEMID", "I2"}, {"PD_ITEMNAME", "紅茶"}}},
         "SELECT PD_ITEMID, PD_ITEMNAME FROM PROD_ITEM ORDER BY 1", {"I1|綠茶", "I2|紅茶"}},
        // Without a presence field an empty key is selected and written like any other.
        {"PROVIDER", "PROVIDER", "",
         {{{"PROVIDER_ID", ""}, {"PROVIDER_NAME", "無代號"}}, {{"PROVIDER_ID", "V1"}, {"PROVIDER_NAME", "統一"}}},
         "SELECT PROVIDER_ID, PROVIDER_NAME FROM PROVIDER ORDER BY 1", {"|無代號", "V1|統一"}},
        // A key holding a quote selects itself and nothing else.
        {"MEMBER", "MEMBER",
         "INSERT INTO MEMBER (MEMBER_ID, MEMBER_NAME) VALUES ('O''NEIL', 'old');"
         "INSERT INTO MEMBER (MEMBER_ID, MEMBER_NAME) VALUES ('ONEIL', 'other')",
         {{{"MEMBER_ID", "O'NEIL"}, {"MEMBER_NAME", "歐尼爾"}}, {{"MEMBER_ID", "M1"}, {"MEMBER_NAME", "王小明"}}},
         "SELECT MEMBER_ID, MEMBER_NAME FROM MEMBER WHERE MEMBER_ID NOT LIKE 'U%' ORDER BY 1",
         {"M1|王小明", "O'NEIL|歐尼爾", "ONEIL|other"}},
        {"MEMBER_UPDATE", "MEMBER", "INSERT INTO MEMBER (MEMBER_ID, MEMBER_NAME) VALUES ('U1', 'old')",
         {{{"MEMBER_ID", "U1"}, {"MEMBER_NAME", "林美玲"}}, {{"MEMBER_ID", "U2"}, {"MEMBER_NAME", "陳建國"}}},
         "SELECT MEMBER_ID, MEMBER_NAME FROM MEMBER WHERE MEMBER_ID LIKE 'U%' ORDER BY 1", {"U1|林美玲", "U2|陳建國"}},
        // The quantities are the store's own: kept for a product it has, 0 for a new one.
        {"PRODUCT", "PRODUCT",
         "INSERT INTO PRODUCT (PROD_ID, PROD_NAME, NOW_QTY, BEFORE_QTY) VALUES ('P1', 'old', 7, 6)",
         {{{"PROD_ID", "P1"}, {"PROD_NAME", "綠茶"}, {"NOW_QTY", "5"}, {"BEFORE_QTY", "5"}},
          {{"PROD_ID", "P2"}, {"PROD_NAME", "紅茶"}, {"NOW_QTY", "5"}, {"BEFORE_QTY", "5"}}},
         "SELECT PROD_ID, PROD_NAME, NOW_QTY, BEFORE_QTY FROM PRODUCT WHERE PROD_ID LIKE 'P%' ORDER BY 1",
         {"P1|綠茶|7|6", "P2|紅茶|0|0"}},
        {"PRODUCT_UPDATE", "PRODUCT",
         "INSERT INTO PRODUCT (PROD_ID, PROD_NAME, NOW_QTY, BEFORE_QTY) VALUES ('U1', 'old', 1, 1)",
         {{{"PROD_ID", "U1"}, {"PROD_NAME", "咖啡"}, {"NOW_QTY", "5"}, {"BEFORE_QTY", "4"}},
          {{"PROD_ID", "U2"}, {"PROD_NAME", "豆漿"}, {"NOW_QTY", "3"}, {"BEFORE_QTY", "2"}}},
         "SELECT PROD_ID, PROD_NAME, NOW_QTY, BEFORE_QTY FROM PRODUCT WHERE PROD_ID LIKE 'U%' ORDER BY 1",
         {"U1|咖啡|5|4", "U2|豆漿|3|2"}},
        {"PROD_SALE", "PROD_SALE", "INSERT INTO PROD_SALE (SALE_ID, PROD_ID) VALUES (9, 'OLD')",
         {{{"SALE_ID", "1"}, {"PROD_ID", "P1"}}, {{"SALE_ID", "2"}, {"PROD_ID", "P2"}}},
         "SELECT SALE_ID, PROD_ID FROM PROD_SALE ORDER BY 1", {"1|P1", "2|P2"}},
        {"CUSTOMER", "CUSTOMER", "INSERT INTO CUSTOMER (CUST_ID, CUST_NAME) VALUES ('C1', 'old')",
         {{{"CUST_ID", "C1"}, {"CUST_NAME", "泰山企業"}}, {{"CUST_ID", "C2"}, {"CUST_NAME", "義美食品"}}},
         "SELECT CUST_ID, CUST_NAME FROM CUSTOMER ORDER BY 1", {"C1|泰山企業", "C2|義美食品"}},
        {"EMPLOYEE", "EMPLOYEE", "",
         {{{"EMPLOYEE_ID", "E1"}, {"EMPLOYEE_NAME", "張家豪"}}, {{"EMPLOYEE_ID", ""}, {"EMPLOYEE_NAME", "none"}}},
         "SELECT EMPLOYEE_ID, EMPLOYEE_NAME FROM EMPLOYEE", {"E1|張家豪"}},
        {"LOC_KEY_MAP", "LOC_KEY_MAP", "INSERT INTO LOC_KEY_MAP (BASE_NO, KEY_NAME) VALUES (17, 'old')",
         {{{"BASE_NO", "17"}, {"KEY_NAME", "現金"}}, {{"BASE_NO", "18"}, {"KEY_NAME", "信用卡"}}},
         "SELECT BASE_NO, KEY_NAME FROM LOC_KEY_MAP ORDER BY 1", {"17|現金", "18|信用卡"}},
        {"LOC_KEY_MAP_SUB", "LOC_KEY_MAP_SUB",
         "INSERT INTO LOC_KEY_MAP_SUB (PDC_NO, ID_NO, PROD_ID) VALUES ('K1', 'J1', 'old')",
         {{{"PDC_NO", "K1"}, {"ID_NO", "J1"}, {"PROD_ID", "X"}}, {{"PDC_NO", "K1"}, {"ID_NO", "J2"}, {"PROD_ID", "Y"}},
          {{"PDC_NO", " "}, {"ID_NO", "J3"}, {"PROD_ID", "Z"}}},
         "SELECT PDC_NO, ID_NO, PROD_ID FROM LOC_KEY_MAP_SUB ORDER BY 1, 2", {"K1|J1|X", "K1|J2|Y"}},
        {"ORG_MAIN", "ORG_MAIN", "INSERT INTO ORG_MAIN (ORG_MAIN_ID, ORG_NAME) VALUES ('O1', 'old')",
         {{{"ORG_MAIN_ID", "O1"}, {"ORG_NAME", "門市部"}}, {{"ORG_MAIN_ID", "O2"}, {"ORG_NAME", "採購部"}}},
         "SELECT ORG_MAIN_ID, ORG_NAME FROM ORG_MAIN ORDER BY 1", {"O1|門市部", "O2|採購部"}},
        {"ORG_POWER_SET", "ORG_POWER_SET",
         "INSERT INTO ORG_POWER_SET (ORG_MAIN_ID, FORM_NAME, CAN_OPEN) VALUES ('O1', 'FormSale', 'N')",
         {{{"ORG_MAIN_ID", "O1"}, {"FORM_NAME", "FormSale"}, {"CAN_OPEN", "Y"}},
          {{"ORG_MAIN_ID", "O1"}, {"FORM_NAME", "FormStock"}, {"CAN_OPEN", "Y"}},
          {{"ORG_MAIN_ID", "O2"}, {"FORM_NAME", ""}, {"CAN_OPEN", "Y"}}},
         "SELECT ORG_MAIN_ID, FORM_NAME, CAN_OPEN FROM ORG_POWER_SET ORDER BY 1, 2", {"O1|FormSale|Y", "O1|FormStock|Y"}},
        {"ORG_POWER_SET2", "ORG_POWER_SET2",
         "INSERT INTO ORG_POWER_SET2 (ORG_MAIN_ID, FORM_NAME, POWER_FLAGS) VALUES ('O1', 'FormSale', 1)",
         {{{"ORG_MAIN_ID", "O1"}, {"FORM_NAME", "FormSale"}, {"POWER_FLAGS", "7"}},
          {{"ORG_MAIN_ID", "O2"}, {"FORM_NAME", "FormSale"}, {"POWER_FLAGS", "3"}}},
         "SELECT ORG_MAIN_ID, FORM_NAME, POWER_FLAGS FROM ORG_POWER_SET2 ORDER BY 1, 2", {"O1|FormSale|7", "O2|FormSale|3"}},
        {"STORE_QTY", "STORE_QTY",
         "INSERT INTO STORE_QTY (PROD_ID, STOCK_ID, QTY) VALUES ('P1', 'S1', 1)",
         {{{"PROD_ID", "P1"}, {"STOCK_ID", "S1"}, {"QTY", "12"}}, {{"PROD_ID", "P1"}, {"STOCK_ID", "S2"}, {"QTY", "3"}}},
         "SELECT PROD_ID, STOCK_ID, CAST(QTY AS INTEGER) FROM STORE_QTY ORDER BY 1, 2", {"P1|S1|12", "P1|S2|3"}},
    };
    return cases;
}

using TableRulesTest = ImportStore;

TEST_F(TableRulesTest, EveryRuleInOneWalk) {
    for (const Case& c : Cases()) {
        if (*c.Before) Sql(c.Before);
        Put(std::string("HQ__") + c.Name + "__20261210_01.XML", c.Table, c.Rows);
    }
    Walk();
    for (const Case& c : Cases()) EXPECT_EQ(Rows(c.Check), c.After) << c.Name;

    // Every row is done, and each rule said what it did.
    for (int row = 1; row <= static_cast<int>(Cases().size()); ++row) EXPECT_EQ(view_.grid.Cell(0, row), "*");
    EXPECT_EQ(view_.summaries[7], "read 4, inserted 2, updated 0, skipped 2, refused 0");  // PROD_ITEM
    EXPECT_EQ(view_.summaries[11], "read 2, inserted 1, updated 1, skipped 0, refused 0");  // PRODUCT
    EXPECT_EQ(view_.bar1.Max(), 2);
    EXPECT_EQ(view_.bar1.Position(), 2);
    EXPECT_EQ(data_->RefusalWarning(), "");
}

TEST_F(TableRulesTest, NamesOfAnotherLetterCaseArePassedOver) {
    Sql("INSERT INTO PRODUCT (PROD_ID, PROD_NAME) VALUES ('P1', 'old')");
    Put("HQ__product__1.XML", "PRODUCT", {{{"PROD_ID", "P1"}, {"PROD_NAME", "new"}}});
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB", {{{"MASTERBILLID", "B1"}, {"LINE_NO", "1"}}});
    Walk();
    EXPECT_EQ(Rows("SELECT PROD_NAME FROM PRODUCT"), std::vector<std::string>{"old"});
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM PSALE_SUB"), std::vector<std::string>{"0"});
    // The product file is passed over; the bill lines without a master file are kept as refused.
    ASSERT_EQ(view_.summaries.size(), 1u);
    EXPECT_TRUE(view_.summaries.begin()->second.starts_with("no PSALE_MASTER file in the work list"));
    EXPECT_EQ(data_->Rejected().Count(), 1);
}

TEST_F(TableRulesTest, FileFieldsInAnotherOrderLandInTheirOwnColumns) {
    sampledata::TTable reversed = sampledata::StoreTable("CUSTOMER");
    std::reverse(reversed.Columns.begin(), reversed.Columns.end());
    PutBytes("HQ__CUSTOMER__1.XML",
             sampledata::PacketXml(reversed, {{{"CUST_ID", "C1"}, {"CUST_NAME", "林記"}, {"TAX_NO", "12345678"},
                                               {"CREDIT_LIMIT", "2500.5"}, {"ADDRESS", "台北市"}}}));
    Walk();
    EXPECT_EQ(Rows("SELECT CUST_ID, CUST_NAME, TAX_NO, CREDIT_LIMIT, ADDRESS FROM CUSTOMER"),
              std::vector<std::string>{"C1|林記|12345678|2500.50|台北市"});
}

TEST_F(TableRulesTest, FieldMissingFromTheFileEndsTheWalk) {
    Put("HQ__MEMBER__1.XML", "MEMBER", {{{"MEMBER_NAME", "x"}}}, {"MEMBER_ID"});
    Put("HQ__CUSTOMER__1.XML", "CUSTOMER", {{{"CUST_ID", "C1"}}});
    try {
        Walk();
        FAIL() << "the walk went on";
    } catch (const EDatabaseError& failure) {
        EXPECT_EQ(failure.Message(), "ClientDataSet1: Field 'MEMBER_ID' not found");
    }
    EXPECT_EQ(view_.grid.Cell(0, 2), "2");  // never reached
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM CUSTOMER"), std::vector<std::string>{"0"});
}

TEST_F(TableRulesTest, StoredValuesOtherProgramsWroteDoNotBlockAnUpdate) {
    // Firebird keeps more than a column declares: a price beyond NUMERIC(9,2)'s nine digits, and
    // tenths of milliseconds in a time-stamp.
    Sql("INSERT INTO PRODUCT (PROD_ID, PROD_NAME, PRICE, UPDATED_AT) "
        "VALUES ('P1', 'old', 12345678.90, '2026-12-10 08:30:00.1234')");
    Put("HQ__PRODUCT__20261210_01.XML", "PRODUCT", {{{"PROD_ID", "P1"}, {"PROD_NAME", "新"}, {"PRICE", "35"}}});
    Walk();
    EXPECT_EQ(Rows("SELECT PROD_NAME, PRICE FROM PRODUCT"), std::vector<std::string>{"新|35"});
    EXPECT_EQ(view_.summaries[1], "read 1, inserted 0, updated 1, skipped 0, refused 0");
}

}  // namespace
}  // namespace tarnwick::import::testing
