// The window after a walk of real files into an embedded store database (offscreen): every row
// coloured yellow and marked done, the bills' detail row marked by its master, the progress bars
// standing at the last record, and the warning box about a refused record before the chain goes on.

#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressBar>
#include <QTableWidget>
#include <QToolButton>

#include <filesystem>

#include "SamplePackets.h"
#include "app/CommandLine.h"
#include "app/FormTarnwick.h"
#include "import/ImportData.h"
#include "import/TableRules.h"
#include "platform/ExecutablePath.h"
#include "sqlfb/TestStore.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace tarnwick::import {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "tarnwick";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

TEST(ImportWindowTest, GridAndBarsAfterAWalk) {
    App();
    tarnwick::testing::TestStore store;
    const std::string storeDir = store.Folder() + "/";
    std::filesystem::create_directories(storeDir + "download");
    std::filesystem::copy_file(platform::ExecutableDir() + "lantrel", storeDir + "Lantrel.exe");
    using sampledata::PacketXml;
    using sampledata::StoreTable;
    auto put = [&](const std::string& name, const std::string& xml) { sampledata::WriteFile(storeDir + "download/" + name, xml); };
    // Listed in name order: the bill master, its detail file, then a member file with a refused record.
    put("A__PSALE_MASTER__1.XML", PacketXml(StoreTable("PSALE_MASTER"), {{{"MASTERBILLID", "B1"}}, {{"MASTERBILLID", "B2"}}}));
    put("B__PSALE_SUB__1.XML", PacketXml(StoreTable("PSALE_SUB"), {{{"MASTERBILLID", "B1"}, {"LINE_NO", "1"}},
                                                                  {{"MASTERBILLID", "B2"}, {"LINE_NO", "1"}},
                                                                  {{"MASTERBILLID", "B2"}, {"LINE_NO", "2"}},
                                                                  {{"MASTERBILLID", "B2"}, {"LINE_NO", "3"}}}));
    put("C__MEMBER__1.XML", PacketXml(StoreTable("MEMBER"), {{{"MEMBER_ID", "M1"}}, {{"MEMBER_ID", "M2"}, {"MEMBER_NAME", std::string(41, 'x')}},
                                                             {{"MEMBER_ID", "M3"}}}));

    TImportData data(storeDir);
    const TRuleTable rules = MakeStoreRules(data);
    app::TFormTarnwick form(rules, storeDir, "Tarnwick");
    form.Workflow().SetWalkHooks(app::WalkHooksFor(data));
    std::vector<std::pair<QString, QString>> boxes;
    form.PresentBox = [&](app::TFormTarnwick::TBox, const QString& caption, const QString& text) {
        boxes.emplace_back(caption, text);
    };
    form.show();
    form.SpeedButton4->click();

    QTableWidget* grid = form.StringGrid1;  // work-list row r is table row r - 1 below the fixed row
    ASSERT_EQ(grid->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(grid->verticalHeaderItem(row)->text(), "*") << row;
        for (int col = 0; col < 4; ++col) EXPECT_EQ(grid->item(row, col)->background().color(), QColor(255, 255, 0)) << row;
    }
    EXPECT_EQ(grid->item(2, 2)->text(), "MEMBER");
    EXPECT_EQ(form.ProgressBar1Widget->maximum(), 3);  // the member file's records
    EXPECT_EQ(form.ProgressBar1Widget->value(), 3);
    EXPECT_EQ(form.ProgressBar2Widget->maximum(), 3);  // the last bill's lines
    EXPECT_EQ(form.ProgressBar2Widget->value(), 3);

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "Warning");
    EXPECT_EQ(boxes[0].second.toStdString(), RefusalWarningText(1, storeDir + "rejected/"));
    // The chain went on: files cleared, hand-off started, window closed.
    EXPECT_TRUE(std::filesystem::is_empty(storeDir + "download"));
    EXPECT_TRUE(std::filesystem::exists(storeDir + "handoff.log"));
    EXPECT_FALSE(form.isVisible());
}

}  // namespace
}  // namespace tarnwick::import
