#include "import/WorkList.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "import/WorkGrid.h"

namespace tarnwick::import {
namespace {

// The import side of the window, in memory, counting repaints.
class TFakeView : public IImportView {
public:
    std::vector<std::string> Memo1Lines() const override { return memo1; }
    void AppendMemo2(const std::string& line) override { memo2.push_back(line); }
    IWorkGrid& Grid() override { return grid; }
    IProgressBar& ProgressBar1() override { return bar1; }
    IProgressBar& ProgressBar2() override { return bar2; }
    void RepaintGrid() override { ++gridRepaints; }
    void RepaintWindow() override { ++windowRepaints; }
    void RowReached(int row, const std::string&, const std::string&, TRowOutcome outcome) override {
        reached.emplace_back(row, outcome);
    }

    std::vector<std::string> memo1, memo2;
    TWorkGrid grid;
    TProgressModel bar1, bar2;
    int gridRepaints = 0, windowRepaints = 0;
    std::vector<std::pair<int, TRowOutcome>> reached;
};

TEST(WorkListTest, FileNameSplit) {
    struct Case {
        const char* fileName;
        const char* prefix;
        const char* table;
        const char* remainder;
    };
    const Case cases[] = {
        {"A__PRODUCT__B.XML", "A", "PRODUCT", "B.XML"},
        {"A__PRODUCT__B__C.XML", "A", "PRODUCT", "B__C.XML"},
        {"__PRODUCT__B.XML", "", "PRODUCT", "B.XML"},
        {"A__PRODUCT.XML", "A", "", "RODUCT.XML"},
        {"PRODUCT.XML", "", "", "ODUCT.XML"},
        // A name without separators loses whole characters, never half of one.
        {"品名稱.XML", "", "", "稱.XML"},
        {"總部__會員__1.XML", "總部", "會員", "1.XML"},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        const TFileNameParts parts = SplitFileName(c.fileName);
        EXPECT_EQ(parts.Prefix, c.prefix) << c.fileName;
        EXPECT_EQ(parts.TableName, c.table) << c.fileName;
        EXPECT_EQ(parts.Remainder, c.remainder) << c.fileName;
    }
}

// Only "/" separates folders here: "\\" and ":" are characters of the name.
TEST(WorkListTest, FileNameIsThePartAfterTheLastSlash) {
    EXPECT_EQ(FileNameOf("/store/download/A__B__C.XML"), "A__B__C.XML");
    EXPECT_EQ(FileNameOf("/s/download/HQ__PRODUCT__20261210T08:30:00.XML"), "HQ__PRODUCT__20261210T08:30:00.XML");
    EXPECT_EQ(FileNameOf("/s/download/HQ__PRODUCT__a\\b.XML"), "HQ__PRODUCT__a\\b.XML");
    EXPECT_EQ(FileNameOf("A__B__C.XML"), "A__B__C.XML");
    EXPECT_EQ(FileNameOf("/store/"), "");
    EXPECT_EQ(SplitFileName(FileNameOf("/s/download/HQ__PRODUCT__20261210T08:30:00.XML")).TableName, "PRODUCT");
}

TEST(WorkListTest, PrintableNamesEscapeControlCharactersOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"HQ__PRODUCT__1.XML", "HQ__PRODUCT__1.XML"},
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {std::string("x\0y", 3), "x\\x00y"},
        {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
        {"品名\u009b1m", "品名\\u009b1m"},  // a C1 control in UTF-8
        {"a\\b:c é", "a\\b:c é"},
    };
    for (const auto& [name, shown] : cases) EXPECT_EQ(PrintableName(name), shown) << shown;
}

TEST(WorkListTest, BuildsOneRowPerMemo1Line) {
    TFakeView view;
    view.memo2 = {"OLD"};
    view.memo1 = {"/s/download/HQ__MEMBER__1.XML", "C:\\Morvane\\download\\HQ__PRODUCT__2.XML", "typed"};
    BuildWorkList(view);
    ASSERT_EQ(view.grid.RowCount(), 4);
    EXPECT_EQ(view.grid.Cell(0, 1), "1");
    EXPECT_EQ(view.grid.Cell(1, 1), "/s/download/HQ__MEMBER__1.XML");
    EXPECT_EQ(view.grid.Cell(2, 1), "HQ");
    EXPECT_EQ(view.grid.Cell(3, 1), "MEMBER");
    EXPECT_EQ(view.grid.Cell(4, 1), "1.XML");
    EXPECT_EQ(view.grid.Cell(3, 2), "PRODUCT");
    EXPECT_EQ(view.grid.Cell(0, 3), "3");
    EXPECT_EQ(view.grid.Cell(4, 3), "ped");
    EXPECT_EQ(view.memo2, (std::vector<std::string>{"OLD", "MEMBER", "PRODUCT", ""}));
    const int widths[] = {30, 400, 100, 100, 200};
    for (int col = 0; col < 5; ++col) EXPECT_EQ(view.grid.ColWidth(col), widths[col]);
    EXPECT_EQ(view.gridRepaints, 1);
}

TEST(WorkListTest, AnEmptyMemo1LeavesOnlyTheFixedRowAndTheWidths) {
    TFakeView view;
    view.grid.SetRowCount(5);
    view.grid.SetColWidth(1, 77);
    BuildWorkList(view);
    EXPECT_EQ(view.grid.RowCount(), 1);
    EXPECT_EQ(view.grid.ColWidth(1), 77);
    EXPECT_TRUE(view.memo2.empty());
    WalkWorkList(view, TRuleTable());
    EXPECT_EQ(view.windowRepaints, 0);
}

// Rows: a rule's table, the same name in another letter case, a table with two rules, a row a
// rule marks done ahead of the walk, a name without separators.
TEST(WorkListTest, WalkColoursMarksAndDispatchesByExactName) {
    TFakeView view;
    view.memo1 = {"/d/A__PRODUCT__1.XML", "/d/A__product__2.XML", "/d/A__MEMBER__3.XML", "/d/A__PSALE_SUB__4.XML",
                  "/d/NAME.XML"};
    BuildWorkList(view);
    std::vector<std::string> calls;
    TRuleTable rules;
    rules.Add("PRODUCT", [&](TImportContext& c) {
        calls.push_back("PRODUCT " + std::to_string(c.Row) + " " + c.Path);
        EXPECT_EQ(view.windowRepaints, c.Row) << "one repaint per row, before its rule";
    });
    rules.Add("MEMBER", [&](TImportContext& c) {
        calls.push_back("MEMBER " + std::to_string(c.Row));
        c.View.Grid().SetCell(0, 4, "*");  // as a bill master marks its detail row
    });
    rules.Add("MEMBER", [&](TImportContext&) { calls.push_back("second MEMBER rule"); });
    WalkWorkList(view, rules);

    EXPECT_EQ(calls, (std::vector<std::string>{"PRODUCT 1 /d/A__PRODUCT__1.XML", "MEMBER 3"}));
    EXPECT_EQ(view.windowRepaints, 5);
    for (int row = 1; row <= 5; ++row) {
        EXPECT_EQ(view.grid.Cell(0, row), "*") << row;
        EXPECT_TRUE(view.grid.HasRowColour(row)) << row;
        EXPECT_EQ(view.grid.RowColour(row), clYellow) << row;
    }
    EXPECT_FALSE(view.grid.HasRowColour(0));
    using O = TRowOutcome;
    EXPECT_EQ(view.reached, (std::vector<std::pair<int, O>>{
                                {1, O::Rule}, {2, O::NoRule}, {3, O::Rule}, {4, O::AlreadyDone}, {5, O::NoRule}}));
}

TEST(WorkListTest, ARuleFailureEndsTheWalkAtItsRow) {
    TFakeView view;
    view.memo1 = {"/d/A__T__1.XML", "/d/A__BAD__2.XML", "/d/A__T__3.XML"};
    BuildWorkList(view);
    TRuleTable rules;
    int ran = 0;
    rules.Add("T", [&](TImportContext&) { ++ran; });
    rules.Add("BAD", [](TImportContext&) { throw std::runtime_error("ClientDataSet1: Field 'X' not found"); });
    EXPECT_THROW(WalkWorkList(view, rules), std::runtime_error);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(view.grid.Cell(0, 2), "*");
    EXPECT_TRUE(view.grid.HasRowColour(2));
    EXPECT_EQ(view.grid.Cell(0, 3), "3");
    EXPECT_FALSE(view.grid.HasRowColour(3));
}

TEST(WorkGridTest, RowColoursOutliveARebuild) {
    TWorkGrid grid;
    grid.SetRowCount(3);
    grid.SetRowColour(2, clYellow);
    grid.SetRowCount(1);
    grid.SetRowCount(4);
    EXPECT_TRUE(grid.HasRowColour(2));
    EXPECT_EQ(grid.Cell(1, 2), "");
    grid.SetCell(1, 9, "beyond");
    EXPECT_EQ(grid.Cell(1, 9), "");
}

}  // namespace
}  // namespace tarnwick::import
