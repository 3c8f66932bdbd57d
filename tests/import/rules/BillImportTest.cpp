// Bills end to end: the detail file found by its table name anywhere in the work list, every
// bill's master upserted and its stored lines replaced by those of the detail file.

#include "ImportFixture.h"

#include "import/SqlText.h"

namespace tarnwick::import::testing {
namespace {

using sampledata::TRow;

TRow Master(const std::string& bill, const std::string& employee) {
    return {{"MASTERBILLID", bill}, {"EMPLOYEE_ID", employee}};
}
TRow Line(const std::string& bill, int line, const std::string& product) {
    return {{"MASTERBILLID", bill}, {"LINE_NO", std::to_string(line)}, {"PROD_ID", product}};
}

class BillImportTest : public ImportStore {
protected:
    std::vector<std::string> Lines() {
        return Rows("SELECT MASTERBILLID, LINE_NO, PROD_ID FROM PSALE_SUB ORDER BY 1, 2");
    }
    std::vector<std::string> Masters() { return Rows("SELECT MASTERBILLID, EMPLOYEE_ID FROM PSALE_MASTER ORDER BY 1"); }
};

TEST_F(BillImportTest, LinesOfEachBillAreReplaced) {
    Sql("INSERT INTO PSALE_MASTER (MASTERBILLID, EMPLOYEE_ID) VALUES ('B1', 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 1, 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 2, 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 3, 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B2', 1, 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('Z9', 1, 'kept')");
    Put("HQ__PSALE_MASTER__1.XML", "PSALE_MASTER", {Master("B1", "E1"), Master("B2", "E2"), Master("B'4", "E4")});
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB",
        {Line("B1", 1, "P1"), Line("B3", 1, "only in the detail file"), Line("B1", 2, "P2"), Line("B'4", 1, "P4")});
    Walk();

    EXPECT_EQ(Masters(), (std::vector<std::string>{"B'4|E4", "B1|E1", "B2|E2"}));
    // B1 has the file's two lines, B2 none (the file has none for it), B3 is not a bill here.
    EXPECT_EQ(Lines(), (std::vector<std::string>{"B'4|1|P4", "B1|1|P1", "B1|2|P2", "Z9|1|kept"}));
    EXPECT_EQ(view_.grid.Cell(0, 2), "*");
    EXPECT_EQ(view_.summaries[1],
              "bills read 3, inserted 2, updated 1, skipped 0, refused 0; "
              "lines read 3, inserted 3, updated 0, skipped 0, refused 0");
    EXPECT_EQ(view_.summaries.count(2), 0u);  // the detail row is passed over, not imported on its own
    EXPECT_EQ(view_.bar1.Max(), 3);
    EXPECT_EQ(view_.bar1.Position(), 3);
    EXPECT_EQ(view_.bar2.Max(), 1);  // the last bill's lines
    EXPECT_EQ(view_.bar2.Position(), 1);
}

TEST_F(BillImportTest, LastDetailRowWinsWhereverItStands) {
    Put("A__PSALE_SUB__1.XML", "PSALE_SUB", {Line("B1", 1, "first file")});
    Put("HQ__PSALE_MASTER__1.XML", "PSALE_MASTER", {Master("B1", "E1")});
    Put("B__PSALE_SUB__2.XML", "PSALE_SUB", {Line("B1", 1, "second file"), Line("B1", 2, "second file")});
    Walk();
    EXPECT_EQ(Lines(), (std::vector<std::string>{"B1|1|second file", "B1|2|second file"}));
    EXPECT_EQ(view_.grid.Cell(0, 1), "*");
    EXPECT_EQ(view_.grid.Cell(0, 3), "*");
}

TEST_F(BillImportTest, MasterWithoutDetailFileEndsTheWalk) {
    Put("HQ__CHGPRICE_MASTER__1.XML", "CHGPRICE_MASTER", {{{"MASTERBILLID", "C1"}}});
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB", {Line("B1", 1, "P1")});
    EXPECT_THROW(Walk(), EFOpenError);
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM CHGPRICE_MASTER"), std::vector<std::string>{"0"});
}

TEST_F(BillImportTest, EmptyFiles) {
    Sql("INSERT INTO PSALE_MASTER (MASTERBILLID, EMPLOYEE_ID) VALUES ('B1', 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 1, 'stored')");
    // A master file of 0 bytes brings no bills.
    PutBytes("HQ__PSALE_MASTER__1.XML", "");
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB", {Line("B1", 1, "P1")});
    Walk();
    EXPECT_EQ(Lines(), std::vector<std::string>{"B1|1|stored"});

    // A detail file of 0 bytes beside a master with bills would delete every bill's lines.
    view_.memo1.clear();
    Put("HQ__PSALE_MASTER__2.XML", "PSALE_MASTER", {Master("B1", "E1")});
    PutBytes("HQ__PSALE_SUB__2.XML", "");
    try {
        Walk();
        FAIL() << "the walk went on";
    } catch (const EImportError& failure) {
        EXPECT_EQ(failure.Message(),
                  "HQ__PSALE_SUB__2.XML: the detail file is empty (0 bytes) while HQ__PSALE_MASTER__2.XML holds 1 bills; "
                  "no bill was imported, since their stored lines would be deleted");
    }
    EXPECT_EQ(Masters(), std::vector<std::string>{"B1|old"});
    EXPECT_EQ(Lines(), std::vector<std::string>{"B1|1|stored"});
}

}  // namespace
}  // namespace tarnwick::import::testing
