#include "app/Workflow.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "app/AppText.h"
#include "app/ConsoleView.h"
#include "app/StoreFixture.h"
#include "base/Exception.h"
#include "platform/RunLock.h"
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

// Sub-folders named like data files are never taken, whatever their attributes: they could be
// neither loaded nor deleted and would stop every run. Hidden and read-only files are imported
// and deleted like any other.
TEST_F(WorkflowTest, FoldersAreNeverTakenReadOnlyFilesAreDeleted) {
    InstallSiblings();
    std::filesystem::create_directory(Dl("x.XML"));
    std::filesystem::create_directory(Dl(".x.XML"));
    std::filesystem::create_directory(Dl("ro.XML"));
    ::chmod(Dl("ro.XML").c_str(), 0555);
    WriteFile(Dl("r.XML"), "r", 0444);
    WriteFile(Dl(".h.XML"), "h");
    std::vector<std::string> imported;
    rules_.Add("", [&](import::TImportContext& c) { imported.push_back(c.Path); });
    workflow_.Click(&TWorkflow::SpeedButton4Click);

    const std::vector<std::string> listed{Dl(".h.XML"), Dl("r.XML")};
    EXPECT_EQ(imported, listed);
    std::vector<std::string> expected = listed;
    expected.insert(expected.end(), listed.begin(), listed.end());
    EXPECT_EQ(view_.Memo1Lines(), expected);
    EXPECT_EQ(view_.Caption(), "Total 2 files upload Success..!");
    EXPECT_FALSE(Exists(Dl(".h.XML")));
    EXPECT_FALSE(Exists(Dl("r.XML")));
    for (const char* folder : {"x.XML", ".x.XML", "ro.XML"}) EXPECT_TRUE(Exists(Dl(folder))) << folder;
    EXPECT_TRUE(err_.str().empty());
    EXPECT_EQ(view_.ExitCode(), 0);
}

// Only "/" separates folders: ":" and "\\" belong to the name, which routes by its table.
// Names with control characters print as escapes, one line per row.
TEST_F(WorkflowTest, OddNamesRouteByTheirTableAndPrintOnOneLine) {
    InstallSiblings();
    const std::vector<std::string> names{"HQ__MEMBER__a\\b.XML", "HQ__MEMBER__x\nrow 7  FORGED.XML",
                                         "HQ__PRODUCT__20261210T08:30:00.XML"};
    for (const std::string& name : names) WriteFile(Dl(name), "x");
    std::vector<std::string> routed;
    for (const char* table : {"MEMBER", "PRODUCT"})
        rules_.Add(table, [&routed, table](import::TImportContext& c) {
            routed.push_back(std::string(table) + " " + c.Path);
        });
    workflow_.Click(&TWorkflow::SpeedButton4Click);

    EXPECT_EQ(routed, (std::vector<std::string>{"MEMBER " + Dl(names[0]), "MEMBER " + Dl(names[1]),
                                                "PRODUCT " + Dl(names[2])}));
    EXPECT_EQ(out_.str(), "Total 3 files upload Success..!\n"
                          "row 1  MEMBER  HQ__MEMBER__a\\b.XML\n"
                          "row 2  MEMBER  HQ__MEMBER__x\\nrow 7  FORGED.XML\n"
                          "row 3  PRODUCT  HQ__PRODUCT__20261210T08:30:00.XML\n"
                          "Total 3 files upload Success..!\n");
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
}

// The clear stage deletes what the list stage saw, nothing else: a file moved in during the
// import, and a listed file replaced meanwhile, stay for the next run. Both are done by real
// processes while the import of the first file runs.
TEST_F(WorkflowTest, AFileArrivingMidRunStaysForTheNextRun) {
    InstallSiblings();
    WriteFile(Dl("HQ__MEMBER__1.XML"), "m");
    WriteFile(Dl("notes.txt"), "old");
    WriteFile(Root() + "incoming/HQ__PROD_DEPART__2.XML", "d");
    rules_.Add("MEMBER", [&](import::TImportContext&) {
        const std::string command = "mv '" + Root() + "incoming/HQ__PROD_DEPART__2.XML' '" + Download() +
                                    "' && printf newer > '" + Dl("notes.tmp") + "' && mv '" + Dl("notes.tmp") +
                                    "' '" + Dl("notes.txt") + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    });
    workflow_.Click(&TWorkflow::SpeedButton4Click);

    EXPECT_FALSE(Exists(Dl("HQ__MEMBER__1.XML")));
    EXPECT_TRUE(Exists(Dl("HQ__PROD_DEPART__2.XML")));
    EXPECT_EQ(ReadFile(Dl("notes.txt")), "newer");
    EXPECT_EQ(view_.Caption(), "Total 1 files upload Success..!");
    EXPECT_EQ(view_.Memo1Lines(), (std::vector<std::string>{Dl("HQ__MEMBER__1.XML"), Dl("HQ__MEMBER__1.XML")}));
    EXPECT_EQ(view_.ExitCode(), 0);

    // The next run takes it up.
    TConsoleView next(out_, err_);
    TWorkflow again(next, rules_, Store());
    again.Click(&TWorkflow::SpeedButton4Click);
    EXPECT_EQ(next.Memo1Lines().front(), Dl("HQ__PROD_DEPART__2.XML"));
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
}

// A hand-off program that cannot start is said, naming it and the system's reason; the files,
// imported, are deleted as usual.
TEST_F(WorkflowTest, AHandOffThatCannotStartIsSaid) {
    const std::pair<int, std::string> cases[] = {{0644, std::strerror(EACCES)}, {-1, std::strerror(ENOENT)}};
    for (const auto& [mode, reason] : cases) {
        std::filesystem::remove(Store() + "Lantrel.exe");
        if (mode >= 0) WriteFile(Store() + "Lantrel.exe", "#!/bin/sh\ntouch handed-off\n", mode);
        WriteFile(Dl("HQ__MEMBER__1.XML"), "m");
        std::ostringstream out, err;
        TConsoleView view(out, err);
        TWorkflow workflow(view, rules_, Store());
        workflow.Click(&TWorkflow::SpeedButton4Click);

        ASSERT_EQ(view.Warnings().size(), 1u) << reason;
        const std::string& warning = view.Warnings()[0];
        EXPECT_NE(warning.find(Store() + "Lantrel.exe"), std::string::npos) << warning;
        EXPECT_NE(warning.find(reason), std::string::npos) << warning;
        EXPECT_EQ(err.str(), warning + "\n");
        EXPECT_TRUE(view.Closed());
        EXPECT_EQ(view.ExitCode(), 4);
        EXPECT_TRUE(std::filesystem::is_empty(Download()));
    }
}

// One import at a time: while another process holds the store's run lock, a run touches neither
// the folder nor anything else and says who holds it; a holder that was killed blocks nothing.
TEST_F(WorkflowTest, ASecondRunWaitsForNoOneAndTouchesNothing) {
    InstallSiblings();
    WriteFile(Dl("HQ__MEMBER__1.XML"), "m");
    int imported = 0;
    rules_.Add("MEMBER", [&](import::TImportContext&) { ++imported; });
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        platform::TRunLock lock(workflow_.RunLockPath());
        const char held = lock.Held() ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &held, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(held, 'y');

    workflow_.Click(&TWorkflow::SpeedButton4Click);
    EXPECT_EQ(view_.ExitCode(), 75);
    ASSERT_EQ(view_.Warnings().size(), 1u);
    EXPECT_NE(view_.Warnings()[0].find("Another import is running (process " + std::to_string(holder) + ", started "),
              std::string::npos)
        << view_.Warnings()[0];
    EXPECT_TRUE(view_.Memo1Lines().empty());
    EXPECT_EQ(imported, 0);
    EXPECT_TRUE(Exists(Dl("HQ__MEMBER__1.XML")));
    EXPECT_FALSE(HandedOff());

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    TConsoleView next(out_, err_);
    TWorkflow again(next, rules_, Store());
    again.Click(&TWorkflow::SpeedButton4Click);
    EXPECT_EQ(next.ExitCode(), 0);
    EXPECT_EQ(imported, 1);
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
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
