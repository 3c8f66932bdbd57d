// The program itself, run as a store runs it: a store laid out by the set-up tool, then
// `tarnwick --run` and friends as child processes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "app/StoreFixture.h"
#include "platform/WindowLock.h"

namespace tarnwick::app {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::WriteFile;

class RunModeTest : public testing::StoreFixture {
protected:
    // Runs a shell command line; answers its exit code.
    static int Shell(const std::string& command) {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Quote(const std::string& text) { return "'" + text + "'"; }

    void MakeStore() {
        const std::string command = "bash " + Quote(std::string(TARNWICK_SOURCE_DIR) + "/tools/make-store") +
                                    " --bin " + Quote(platform::ExecutableDir()) + " " + Quote(Store()) +
                                    " > " + Quote(Root() + "make-store.log") + " 2>&1";
        ASSERT_EQ(Shell(command), 0) << ReadFile(Root() + "make-store.log");
    }
    int Tarnwick(const std::string& args, const std::string& env = "") {
        return Shell("cd " + Quote(Store()) + " && SCRIVEL_DELAY_MS=200 " + env + " ./tarnwick " + args + " > " +
                     Quote(Root() + "out") + " 2> " + Quote(Root() + "err"));
    }
    // Starts `tarnwick args` in the background; answers its process id.
    pid_t StartTarnwick(const std::string& args, const std::string& env) {
        const std::string pidFile = Root() + "pid";
        Shell("(cd " + Quote(Store()) + " && " + env + " exec ./tarnwick " + args + " > " + Quote(Root() + "out1") +
              " 2>&1) & echo $! > " + Quote(pidFile));
        return static_cast<pid_t>(std::stol(ReadFile(pidFile)));
    }
    // The process running the store's program `name` (0: none), and the files it holds open.
    pid_t Running(const std::string& name) const {
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            std::error_code error;
            const auto exe = std::filesystem::read_symlink(entry.path() / "exe", error);
            if (!error && exe == Store() + name) return static_cast<pid_t>(std::stol(entry.path().filename()));
        }
        return 0;
    }
    static std::vector<std::string> OpenFiles(pid_t pid) {
        std::vector<std::string> files;
        std::error_code error;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
            const auto target = std::filesystem::read_symlink(fd.path(), error);
            if (!error) files.push_back(target.string());
        }
        return files;
    }
    // One small sample file of a keyed table in download/, from the samples in outbox/.
    void PutOneSample() {
        std::filesystem::copy_file(Store() + "outbox/HQ__PROD_DEPART__20261210_01.XML",
                                   Download() + "HQ__PROD_DEPART__20261210_01.XML",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    bool HasDatabase() const { return Exists(Store() + "POSDATA.FDB") && Exists(Store() + "outbox/HQ__PROD_DEPART__20261210_01.XML"); }
    std::string Out() const { return ReadFile(Root() + "out"); }
    std::string Err() const { return ReadFile(Root() + "err"); }
};

TEST_F(RunModeTest, RunOnAFreshStoreGoesThroughTheWholeChain) {
    MakeStore();
    ASSERT_FALSE(std::filesystem::is_empty(Store() + "outbox"));
    for (const char* file : {"tarnwick", "Scrivel.exe", "Lantrel.exe"}) EXPECT_TRUE(Exists(Store() + file)) << file;
    if (Exists(std::string(TARNWICK_SOURCE_DIR) + "/tools/storedb/setup-store")) {
        for (const char* file : {"libsqlfb.so", "sqlconnections.ini", "sqldrivers.ini"})
            EXPECT_TRUE(Exists(Store() + file)) << file;
    }

    EXPECT_EQ(Tarnwick("--run"), 0) << Err();
    EXPECT_TRUE(std::filesystem::is_empty(Store() + "outbox"));
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
    EXPECT_NE(Out().find("row 1  "), std::string::npos) << Out();
    EXPECT_NE(Out().find("files upload Success..!"), std::string::npos);
    const std::string log = ReadFile(Store() + "handoff.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find(" AS\n"), std::string::npos);
}

TEST_F(RunModeTest, ExitCodesOfWarningsHelpAndBadArguments) {
    MakeStore();
    std::filesystem::remove(Download());
    EXPECT_EQ(Tarnwick("--list"), 2);
    EXPECT_EQ(Err(), "[download]資料夾不存在..!\n");
    EXPECT_FALSE(Exists(Store() + "handoff.log"));

    // A hand-off program that cannot be started is said, with an exit code of its own.
    std::filesystem::create_directory(Download());
    WriteFile(Download() + "HQ__NONE__1.XML", "x");
    ::chmod((Store() + "Lantrel.exe").c_str(), 0644);
    EXPECT_EQ(Tarnwick("--list"), 4);
    EXPECT_NE(Err().find("Lantrel.exe could not be started: Permission denied"), std::string::npos) << Err();
    EXPECT_TRUE(std::filesystem::is_empty(Download()));

    EXPECT_EQ(Tarnwick("--help"), 0);
    EXPECT_NE(Out().find("--run"), std::string::npos);
    EXPECT_EQ(Tarnwick("--bogus"), 64);
    for (const char* combined : {"--run --check", "--check --commit-each-record", "--check --list"}) {
        EXPECT_EQ(Tarnwick(combined), 64) << combined;
        EXPECT_TRUE(Err().starts_with("Usage: tarnwick")) << combined;
    }
}

// The store's files checked, then imported: the check leaves them and starts nothing, and both
// runs print the same rows, a summary, no progress line (stdout is a file), and go into import.log.
TEST_F(RunModeTest, CheckThenListOnTheSameFiles) {
    MakeStore();
    if (!Exists(Store() + "libsqlfb.so")) GTEST_SKIP() << "built without the driver";
    for (const auto& entry : std::filesystem::directory_iterator(Store() + "outbox"))
        std::filesystem::copy_file(entry.path(), Download() + entry.path().filename().string());
    const auto rowLines = [this] {
        std::string rows;
        std::istringstream in(Out());
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("row ")) rows += line + "\n";
        return rows;
    };

    const int checked = Tarnwick("--check");
    EXPECT_TRUE(checked == 0 || checked == 3) << Err();
    const std::string checkRows = rowLines();
    EXPECT_FALSE(checkRows.empty());
    EXPECT_FALSE(std::filesystem::is_empty(Download()));
    EXPECT_FALSE(HandedOff());
    EXPECT_FALSE(Exists(Store() + "rejected"));
    EXPECT_NE(Out().find("\ntable            file "), std::string::npos) << Out();
    EXPECT_EQ(Out().find('\r'), std::string::npos);

    EXPECT_EQ(Tarnwick("--list"), checked) << Err();
    EXPECT_EQ(rowLines(), checkRows);
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
    EXPECT_TRUE(HandedOff());

    const std::string log = ReadFile(Store() + "import.log");
    EXPECT_NE(log.find("\tstart\tcheck\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\tstart\tlist\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\tend\t" + std::string(checked == 0 ? "complete\t0" : "complete\t3") + "\t0\tno\t"),
              std::string::npos) << log;
}

// The hand-off program goes on feeding the registers while the next import runs: it holds none
// of our descriptors, so the embedded database is free for the next run.
TEST_F(RunModeTest, AHandOffHoldingOnLeavesTheDatabaseFree) {
    MakeStore();
    if (!HasDatabase()) GTEST_SKIP() << "no store database in this build";
    PutOneSample();
    ASSERT_EQ(Tarnwick("--list", "LANTREL_HOLD_MS=60000"), 0) << Err();
    const pid_t handOff = Running("Lantrel.exe");
    ASSERT_NE(handOff, 0) << "the hand-off program should still run";
    for (const std::string& file : OpenFiles(handOff))
        EXPECT_EQ(file.find(Store()), std::string::npos) << "the hand-off program holds " << file;

    PutOneSample();
    EXPECT_EQ(Tarnwick("--list"), 0) << Err();
    EXPECT_NE(Out().find("PROD_DEPART: read 40"), std::string::npos) << Out();
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
    ::kill(handOff, SIGKILL);
}

// One import at a time: a run that finds another one working on the store leaves the folder and
// the database alone and says who is working; a run that was killed blocks nothing.
TEST_F(RunModeTest, OneImportAtATime) {
    MakeStore();
    for (const auto& entry : std::filesystem::directory_iterator(Store() + "outbox"))
        std::filesystem::rename(entry.path(), Root() + entry.path().filename().string());
    WriteFile(Download() + "HQ__NONE__1.XML", "x");
    // The first run waits for the download program's window, holding the run lock meanwhile.
    const pid_t first = StartTarnwick("--run", "SCRIVEL_DELAY_MS=60000");
    for (int i = 0; i < 1000 && !platform::FindWindowClass("TFormScrivel"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(platform::FindWindowClass("TFormScrivel"));

    EXPECT_EQ(Tarnwick("--list"), 75);
    EXPECT_EQ(Err().rfind("Another import is running (process " + std::to_string(first) + ", started ", 0), 0u) << Err();
    EXPECT_EQ(Out(), "");
    EXPECT_TRUE(Exists(Download() + "HQ__NONE__1.XML"));
    EXPECT_FALSE(Exists(Store() + "handoff.log"));

    ::kill(first, SIGKILL);
    if (const pid_t download = Running("Scrivel.exe")) ::kill(download, SIGKILL);
    for (int i = 0; i < 500 && ::kill(first, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Tarnwick("--list"), 0) << Err();
    EXPECT_FALSE(Exists(Download() + "HQ__NONE__1.XML"));
    EXPECT_TRUE(Exists(Store() + "handoff.log"));
}

}  // namespace
}  // namespace tarnwick::app
