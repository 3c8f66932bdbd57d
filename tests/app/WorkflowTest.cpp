#include "app/Workflow.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "app/AppText.h"
#include "app/ConsoleView.h"
#include "app/StoreFixture.h"
#include "base/Exception.h"
#include "platform/WindowLock.h"

namespace tarnwick::app {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::WriteFile;

TEST(AppTextTest, ErrorBoxAppendsAPeriodAfterLettersDigitsAndWideCharacters) {
    const std::pair<const char*, const char*> cases[] = {
        {"ClientDataSet1: Field 'MEMBER_ID' not found", "ClientDataSet1: Field 'MEMBER_ID' not found."},
        {"done.", "done."}, {"Success..!", "Success..!"}, {"(x)", "(x)"}, {"trailing ", "trailing "},
        {"code 9", "code 9."}, {"資料庫錯誤", "資料庫錯誤."}, {"", ""}, {"a/", "a/."}, {"a-", "a-"},
    };
    for (const auto& [message, shown] : cases) EXPECT_EQ(ErrorBoxText(message), shown) << message;
}

TEST(AppTextTest, TitleFromTheExecutableName) {
    EXPECT_EQ(ApplicationTitle("/opt/store/tarnwick"), "tarnwick");
    EXPECT_EQ(ApplicationTitle("C:\\Morvane\\TARNWICK.EXE"), "Tarnwick");
    EXPECT_EQ(ApplicationTitle("/x/Tarn.Wick.bin"), "Tarn");
    EXPECT_EQ(ApplicationTitle("/x/ÄBC"), "Äbc");
    EXPECT_EQ(CountCaption(3), "Total 3 files upload Success..!");
}

class WorkflowTest : public testing::StoreFixture {
protected:
    WorkflowTest() : view_(out_, err_), workflow_(view_, rules_, Store()) {
        workflow_.SetWaitPause(std::chrono::milliseconds(10));
    }
    std::string Dl(const std::string& name) const { return Download() + name; }

    std::ostringstream out_, err_;
    TConsoleView view_;
    import::TRuleTable rules_;
    TWorkflow workflow_;
};

TEST_F(WorkflowTest, ListImportClearAndHandOff) {
    InstallSiblings();
    WriteFile(Dl("a.XML"), "a");
    WriteFile(Dl("b.xml"), "b");
    WriteFile(Dl("c.txt"), "c");
    workflow_.Click(&TWorkflow::SpeedButton4Click);

    EXPECT_EQ(view_.Memo1Lines(), (std::vector<std::string>{Dl("a.XML"), Dl("b.xml"), Dl("a.XML"), Dl("b.xml"),
                                                            Dl("c.txt")}));
    EXPECT_NE(out_.str().find("Total 2 files upload Success..!\n"), std::string::npos);
    EXPECT_EQ(view_.Caption(), "Total 3 files upload Success..!");
    EXPECT_EQ(view_.Grid().RowCount(), 3);
    EXPECT_EQ(view_.Repaints(), 2);
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
    EXPECT_TRUE(view_.Closed());
    EXPECT_EQ(view_.ExitCode(), 0);
    EXPECT_TRUE(HandedOff());
    EXPECT_NE(ReadFile(Store() + "handoff.log").find(" AS\n"), std::string::npos);
}

// Sub-folders named like data files, hidden and read-only entries.
TEST_F(WorkflowTest, FoldersAndReadOnlyFiles) {
    std::filesystem::create_directory(Dl("x.XML"));
    std::filesystem::create_directory(Dl(".x.XML"));
    WriteFile(Dl("r.XML"), "r", 0444);
    WriteFile(Dl(".h.XML"), "h");
    workflow_.Click(&TWorkflow::SpeedButton4Click);

    const std::vector<std::string> listed{Dl(".h.XML"), Dl(".x.XML"), Dl("r.XML")};
    std::vector<std::string> expected = listed;
    expected.insert(expected.end(), listed.begin(), listed.end());
    EXPECT_EQ(view_.Memo1Lines(), expected);
    EXPECT_FALSE(Exists(Dl(".h.XML")));
    EXPECT_TRUE(Exists(Dl("r.XML")));  // read-only: stays without a word
    EXPECT_TRUE(Exists(Dl(".x.XML")));
    EXPECT_TRUE(Exists(Dl("x.XML")));
    EXPECT_TRUE(err_.str().empty());
    EXPECT_EQ(view_.ExitCode(), 0);
}

TEST_F(WorkflowTest, EmptyFolderStillRunsEveryStageButHandsNothingOff) {
    InstallSiblings();
    workflow_.Click(&TWorkflow::SpeedButton4Click);
    EXPECT_EQ(view_.Caption(), "FormTarnwick");
    EXPECT_EQ(view_.Grid().RowCount(), 1);
    EXPECT_TRUE(view_.Closed());
    EXPECT_FALSE(HandedOff());
}

TEST_F(WorkflowTest, MissingDownloadFolderWarnsAndRunsNoLaterStage) {
    InstallSiblings();
    std::filesystem::remove(Download());
    view_.AppendMemo1("/old/line");  // a later stage would build a row and hand off
    workflow_.Click(&TWorkflow::SpeedButton4Click);
    EXPECT_EQ(view_.Warnings(), (std::vector<std::string>{std::string(kListFolderMissing)}));
    EXPECT_TRUE(view_.Errors().empty());
    EXPECT_EQ(view_.Grid().RowCount(), 1);
    EXPECT_FALSE(view_.Closed());
    EXPECT_FALSE(HandedOff());
    EXPECT_EQ(view_.ExitCode(), 2);

    workflow_.Click(&TWorkflow::DeleteFileButtonClick);
    EXPECT_EQ(view_.Warnings().back(), std::string(kClearFolderMissing));
    EXPECT_EQ(err_.str(), "[download]資料夾不存在..!\n資料夾不存在..!\n");
}

TEST_F(WorkflowTest, ARuleFailureKeepsTheFilesAndStartsNoHandOff) {
    InstallSiblings();
    WriteFile(Dl("HQ__MEMBER__1.XML"), "m");
    WriteFile(Dl("HQ__PRODUCT__2.XML"), "p");
    rules_.Add("MEMBER", [](import::TImportContext&) {
        throw Exception("ClientDataSet1: Field 'MEMBER_ID' not found");
    });
    workflow_.Click(&TWorkflow::SpeedButton4Click);

    EXPECT_EQ(view_.Errors(), (std::vector<std::string>{"ClientDataSet1: Field 'MEMBER_ID' not found."}));
    EXPECT_TRUE(Exists(Dl("HQ__MEMBER__1.XML")));
    EXPECT_TRUE(Exists(Dl("HQ__PRODUCT__2.XML")));
    EXPECT_FALSE(HandedOff());
    EXPECT_FALSE(view_.Closed());
    EXPECT_EQ(view_.ExitCode(), 1);
    EXPECT_EQ(view_.Grid().Cell(0, 2), "2");  // the walk ended at row 1
}

// A warning after the walk (records the database refused) does not stop the chain.
TEST_F(WorkflowTest, AWarningAfterTheWalkLetsTheChainGoOn) {
    InstallSiblings();
    WriteFile(Dl("HQ__MEMBER__1.XML"), "m");
    int started = 0, refused = 0;
    rules_.Add("MEMBER", [&](import::TImportContext&) { ++refused; });
    workflow_.SetWalkHooks({[&] { ++started; refused = 0; },
                            [&] { return refused ? "1 record refused, kept in rejected/" : ""; },
                            {}});
    workflow_.Click(&TWorkflow::SpeedButton4Click);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(view_.Warnings(), (std::vector<std::string>{"1 record refused, kept in rejected/"}));
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
    EXPECT_TRUE(HandedOff());
    EXPECT_EQ(view_.ExitCode(), 3);
}

TEST_F(WorkflowTest, DownloadProgramMissingListsTheFolderAtOnce) {
    InstallSibling("lantrel", "Lantrel.exe");
    WriteFile(Dl("a.XML"), "a");
    workflow_.Click(&TWorkflow::SpeedButton1Click);
    EXPECT_EQ(view_.Memo1Lines().front(), Dl("a.XML"));
    EXPECT_TRUE(view_.Errors().empty());
    EXPECT_TRUE(HandedOff());
}

// A download program already running is not started again; the stage waits for its window to
// go and lists what it left.
TEST_F(WorkflowTest, DownloadStageWaitsWhileTheDownloadWindowExists) {
    InstallSibling("lantrel", "Lantrel.exe");
    platform::TWindowClassLock window("TFormScrivel");
    ASSERT_TRUE(window.Held());
    std::thread running([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        WriteFile(Dl("late.XML"), "l");
        window.Release();
    });
    workflow_.Click(&TWorkflow::SpeedButton1Click);
    running.join();
    ASSERT_FALSE(view_.Memo1Lines().empty());
    EXPECT_EQ(view_.Memo1Lines().front(), Dl("late.XML"));
    EXPECT_TRUE(HandedOff());
}

// The stand-in download program in a store whose path holds a blank, with a program planted at
// the path's first word: the siblings of the store run, the planted one never does.
TEST_F(WorkflowTest, SiblingsRunFromAStorePathWithBlanks) {
    InstallSiblings();
    WriteFile(Store() + "outbox/HQ__MEMBER__1.XML", "m");
    WriteFile(Store() + "outbox/HQ__PRODUCT__2.XML", "p");
    WriteFile(Root() + "my", "#!/bin/sh\ntouch '" + Root() + "planted-ran'\n", 0755);
    ::setenv("SCRIVEL_DELAY_MS", "200", 1);
    workflow_.Click(&TWorkflow::SpeedButton1Click);
    ::unsetenv("SCRIVEL_DELAY_MS");

    EXPECT_EQ(view_.Grid().Cell(1, 1), Dl("HQ__MEMBER__1.XML"));
    EXPECT_EQ(view_.Grid().Cell(3, 2), "PRODUCT");
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
    EXPECT_TRUE(std::filesystem::is_empty(Store() + "outbox"));
    EXPECT_TRUE(HandedOff());
    EXPECT_FALSE(Exists(Root() + "planted-ran"));
    EXPECT_EQ(view_.ExitCode(), 0);
}

}  // namespace
}  // namespace tarnwick::app
