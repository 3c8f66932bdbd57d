#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <thread>

#include "platform/ProgramStart.h"
#include "platform/RunLock.h"
#include "platform/TestFolders.h"
#include "platform/WindowLock.h"

namespace tarnwick::platform {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TPrivateRuntimeFolder;
using testing::TTempFolder;
using testing::WriteFile;

// Waits (up to a generous limit) until `path` exists; the started programs run detached.
bool AppearsSoon(const std::string& path) {
    for (int i = 0; i < 500 && !Exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Exists(path);
}

TEST(WindowLockTest, ALockIsAWindowUntilReleased) {
    TPrivateRuntimeFolder runtime;
    EXPECT_FALSE(FindWindowClass("TFormScrivel"));
    {
        TWindowClassLock window("TFormScrivel");
        ASSERT_TRUE(window.Held());
        EXPECT_TRUE(FindWindowClass("TFormScrivel"));
        EXPECT_FALSE(FindWindowClass("TFormOther"));
        TWindowClassLock second("TFormScrivel");
        EXPECT_FALSE(second.Held());
    }
    EXPECT_FALSE(FindWindowClass("TFormScrivel"));
    struct stat st {};
    ASSERT_EQ(::stat(RuntimeFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(RuntimeFolder().rfind(::getenv("XDG_RUNTIME_DIR"), 0), 0u);
}

TEST(WindowLockTest, AProgramThatDiesLeavesNoWindow) {
    TPrivateRuntimeFolder runtime;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        TWindowClassLock window("TFormScrivel");
        char held = window.Held() ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &held, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(held, 'y');
    EXPECT_TRUE(FindWindowClass("TFormScrivel"));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(FindWindowClass("TFormScrivel"));
}

// The run lock of a store: taken by one process at a time, its holder named to the others, and
// gone with a holder that is killed.
TEST(RunLockTest, OneHolderAtATimeAndNoneAfterItDies) {
    TTempFolder folder;
    const std::string path = folder.Path() + "tarnwick.lock";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        TRunLock lock(path);
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
    {
        TRunLock second(path);
        EXPECT_FALSE(second.Held());
        EXPECT_TRUE(second.Busy());
        EXPECT_EQ(second.HolderPid(), std::to_string(child));
        EXPECT_EQ(second.HolderStarted().size(), 19u) << second.HolderStarted();  // YYYY-MM-DD HH:MM:SS
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    TRunLock next(path);
    EXPECT_TRUE(next.Held());
    EXPECT_EQ(ReadFile(path).rfind(std::to_string(::getpid()) + " ", 0), 0u) << ReadFile(path);

    TRunLock nowhere(folder.Path() + "missing/tarnwick.lock");
    EXPECT_FALSE(nowhere.Held());
    EXPECT_FALSE(nowhere.Busy());
    EXPECT_EQ(nowhere.Error(), ENOENT);
}

class ProgramStartTest : public ::testing::Test {
protected:
    std::string Dir() const { return folder_.Path(); }
    // A shell script that records its arguments in <dir>/<name>.args.
    std::string Script(const std::string& path, const std::string& body) {
        WriteFile(path, "#!/bin/sh\n" + body + "\n", 0755);
        return path;
    }
    TTempFolder folder_;
};

TEST_F(ProgramStartTest, StartsWithArgumentsDetachedAndLeavesNoZombie) {
    const std::string out = Dir() + "out";
    Script(Dir() + "prog", "echo \"$# $1 $2\" > '" + out + ".tmp'; readlink /proc/$$/fd/0 >> '" + out +
                               ".tmp'; ps -o sid= -p $$ >> '" + out + ".tmp'; mv '" + out + ".tmp' '" + out + "'");
    ASSERT_TRUE(StartProgram(Dir() + "prog", {"AD", "x y"}));
    ASSERT_TRUE(AppearsSoon(out));
    const std::string text = ReadFile(out);
    EXPECT_EQ(text.substr(0, text.find('\n')), "2 AD x y");
    EXPECT_NE(text.find("/dev/null"), std::string::npos);
    const std::string lastLine = text.substr(text.rfind('\n', text.size() - 2) + 1);
    EXPECT_NE(std::stol(lastLine), static_cast<long>(::getsid(0))) << "expected a session of its own";
    // The program was adopted elsewhere: nothing of ours is left to reap.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(ProgramStartTest, ReturnsWhenTheProgramSaysItIsReady) {
    // Closes the ready descriptor, then works on for a while: the start must not wait for it.
    Script(Dir() + "prog", "touch '" + Dir() + "ready'; eval \"exec $MORVANE_READY_FD>&-\"; sleep 2; touch '" +
                               Dir() + "done' 2>/dev/null");
    ASSERT_TRUE(StartProgram(Dir() + "prog", {}));
    EXPECT_TRUE(Exists(Dir() + "ready"));
    EXPECT_FALSE(Exists(Dir() + "done"));
}

TEST_F(ProgramStartTest, AProgramThatNeverSaysReadyEndsTheWaitAtTheTimeOut) {
    Script(Dir() + "prog", "echo $$ > '" + Dir() + "pid'; exec sleep 30");
    ASSERT_TRUE(StartProgram(Dir() + "prog", {}, std::chrono::milliseconds(300)));
    ASSERT_TRUE(AppearsSoon(Dir() + "pid"));
    const pid_t pid = std::stoi(ReadFile(Dir() + "pid"));
    EXPECT_EQ(::kill(pid, 0), 0) << "still running after the start returned";
    ::kill(pid, SIGKILL);
}

TEST_F(ProgramStartTest, WhatCannotBeStartedAnswersFalseWithTheReason) {
    WriteFile(Dir() + "plain", "not a program", 0644);
    WriteFile(Dir() + "badinterp", "#!/nonexistent/interpreter\n", 0755);
    const std::pair<std::string, int> cases[] = {
        {Dir() + "missing", ENOENT}, {Dir() + "plain", EACCES}, {Dir(), EISDIR}, {Dir() + "badinterp", ENOENT}};
    for (const auto& [program, reason] : cases) {
        int error = -1;
        EXPECT_FALSE(StartProgram(program, {}, kReadyTimeout, &error)) << program;
        EXPECT_EQ(error, reason) << program;
    }
    int error = -1;
    Script(Dir() + "prog", "exit 0");
    EXPECT_TRUE(StartProgram(Dir() + "prog", {}, kReadyTimeout, &error));
    EXPECT_EQ(error, 0);
}

// Whatever we hold open without close-on-exec (as the database client does with the database
// file) stays ours: the program gets the standard three and its ready pipe, nothing else.
TEST_F(ProgramStartTest, OnlyTheStandardThreeAndTheReadyPipeReachTheProgram) {
    WriteFile(Dir() + "held.FDB", "database");
    const int inherited = ::open((Dir() + "held.FDB").c_str(), O_RDONLY);  // no O_CLOEXEC
    ASSERT_GE(inherited, 3);
    const int high = ::fcntl(inherited, F_DUPFD, 200);
    ASSERT_GE(high, 200);
    // The script's `ls` lists what it inherited, then the script adds the ready number.
    const std::string out = Dir() + "fds";
    Script(Dir() + "prog", "ls -l /proc/self/fd > '" + out + ".tmp'; echo \"ready $MORVANE_READY_FD\" >> '" + out +
                               ".tmp'; mv '" + out + ".tmp' '" + out + "'");
    const bool started = StartProgram(Dir() + "prog", {});
    ::close(inherited);
    ::close(high);
    ASSERT_TRUE(started);
    ASSERT_TRUE(AppearsSoon(out));

    std::string readyFd;
    std::vector<std::pair<std::string, std::string>> fds;  // number, target
    std::istringstream lines(ReadFile(out));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("ready ", 0) == 0) readyFd = line.substr(6);
        const auto arrow = line.find(" -> ");
        if (arrow == std::string::npos) continue;
        const auto number = line.rfind(' ', arrow - 1);
        fds.emplace_back(line.substr(number + 1, arrow - number - 1), line.substr(arrow + 4));
    }
    ASSERT_FALSE(readyFd.empty());
    ASSERT_GE(fds.size(), 4u) << ReadFile(out);
    std::vector<std::string> others;
    for (const auto& [fd, target] : fds) {
        if (fd == "0" || fd == "1" || fd == "2" || fd == readyFd) continue;
        if (target.rfind("/proc/", 0) == 0) continue;  // the listing's own folder
        others.push_back(fd + " -> " + target);
    }
    EXPECT_TRUE(others.empty()) << ::testing::PrintToString(others);
}

// An unquoted command line: the text up to each blank in turn is tried as the program.
TEST_F(ProgramStartTest, CommandLineTakesTheFirstPrefixThatIsAProgram) {
    const std::string store = Dir() + "my store/";
    const std::string record = " echo \"$0|$*\" > '" + Dir() + "ran.tmp'; mv '" + Dir() + "ran.tmp' '" + Dir() + "ran'";
    Script(store + "Lantrel.exe", record);
    EXPECT_EQ(WinExec(store + "Lantrel.exe  AS  x", 1), 33);
    ASSERT_TRUE(AppearsSoon(Dir() + "ran"));
    EXPECT_EQ(ReadFile(Dir() + "ran"), store + "Lantrel.exe|AS x\n");
    std::filesystem::remove(Dir() + "ran");

    // A program at the first word of the path wins, as the original platform reads the line.
    Script(Dir() + "my", record);
    EXPECT_EQ(WinExec(store + "Lantrel.exe AS", 1), 33);
    ASSERT_TRUE(AppearsSoon(Dir() + "ran"));
    EXPECT_EQ(ReadFile(Dir() + "ran"), Dir() + "my|store/Lantrel.exe AS\n");

    EXPECT_EQ(WinExec(Dir() + "nothing here AS", 1), 2);
}

}  // namespace
}  // namespace tarnwick::platform
