#include "platform/ProgramStart.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <linux/close_range.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace tarnwick::platform {

namespace {

constexpr const char* kReadyVariable = "MORVANE_READY_FD";

class Pipe {
public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
        // Keep both ends above the standard descriptors: the child replaces descriptor 0.
        for (int& fd : fds_) {
            if (fd >= 0 && fd < 3) {
                const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
                ::close(fd);
                fd = moved;
            }
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    bool Ok() const { return fds_[0] >= 0 && fds_[1] >= 0; }
    int Read() const { return fds_[0]; }
    int Write() const { return fds_[1]; }
    void CloseRead() { CloseEnd(0); }
    void CloseWrite() { CloseEnd(1); }

private:
    void CloseEnd(int i) {
        if (fds_[i] >= 0) ::close(fds_[i]);
        fds_[i] = -1;
    }
    int fds_[2];
};

// Reads until end of file or the deadline. Answers what was read (at most a few bytes matter).
std::string ReadUntilClosed(int fd, std::chrono::steady_clock::time_point deadline) {
    std::string got;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return got;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return got;
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return got;  // end of file: every write end is closed
        got.append(buffer, static_cast<std::size_t>(n));
    }
}

std::vector<std::string> SplitAtBlanks(const std::string& text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ') ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

// 0 when `path` names a regular file that we may execute, else the error number of why not.
int ExecutableError(const std::string& path) {
    struct stat st {};
    if (path.empty()) return ENOENT;
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EACCES;
    return ::access(path.c_str(), X_OK) == 0 ? 0 : errno;
}

// Sets close-on-exec on every descriptor from `first` on. Runs between fork and exec, so only
// system calls: the kernel's range call where it has one, else each possible descriptor.
void MarkCloseOnExecFrom(int first) {
#if defined(SYS_close_range) && defined(CLOSE_RANGE_CLOEXEC)
    if (::syscall(SYS_close_range, static_cast<unsigned>(first), ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    rlimit limit{};
    long last = 65536;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        last = static_cast<long>(limit.rlim_cur);
    for (long fd = first; fd < last; ++fd) ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
}

}  // namespace

bool IsExecutableFile(const std::string& path) { return ExecutableError(path) == 0; }

bool StartProgram(const std::string& program, const std::vector<std::string>& args,
                  std::chrono::milliseconds readyTimeout, int* error) {
    int ignored = 0;
    int& reason = error != nullptr ? *error : ignored;
    reason = ExecutableError(program);
    if (reason != 0) return false;
    Pipe ready;  // closed by the program when ready, or with its exit
    Pipe failed;  // carries errno when exec fails; closed by a successful exec
    if (!ready.Ok() || !failed.Ok()) {
        reason = errno != 0 ? errno : EMFILE;
        return false;
    }

    // Everything the child needs is built here: after fork only async-signal-safe calls.
    std::vector<std::string> env;
    const std::string prefix = std::string(kReadyVariable) + "=";
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0) env.emplace_back(*e);
    env.push_back(prefix + std::to_string(ready.Write()));
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    // Double fork: the middle child exits at once and is reaped here, so the program is adopted
    // by init and never stays behind as our zombie.
    const pid_t middle = ::fork();
    if (middle < 0) {
        reason = errno;
        return false;
    }
    if (middle == 0) {
        const pid_t program = ::fork();
        if (program < 0) {
            const int error = errno;
            [[maybe_unused]] ssize_t n = ::write(failed.Write(), &error, sizeof error);
            ::_exit(127);
        }
        if (program > 0) ::_exit(0);
        ::setsid();
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0 && devNull != 0) {
            ::dup2(devNull, 0);
            ::close(devNull);
        }
        ::signal(SIGPIPE, SIG_DFL);
        // Descriptors opened without close-on-exec (by the database client, for one) would let
        // the program hold our files for as long as it runs: every one above the standard three
        // closes with the exec, the failure pipe too; only the ready end is handed on.
        MarkCloseOnExecFrom(3);
        ::fcntl(ready.Write(), F_SETFD, 0);
        ::execve(argv[0], argv.data(), envp.data());
        const int error = errno;
        [[maybe_unused]] ssize_t n = ::write(failed.Write(), &error, sizeof error);
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    ready.CloseWrite();
    failed.CloseWrite();

    const auto deadline = std::chrono::steady_clock::now() + readyTimeout;
    const std::string execError = ReadUntilClosed(failed.Read(), deadline);
    if (!execError.empty()) {
        int number = 0;
        if (execError.size() >= sizeof number) std::memcpy(&number, execError.data(), sizeof number);
        reason = number != 0 ? number : ENOEXEC;
        return false;
    }
    ReadUntilClosed(ready.Read(), deadline);
    return true;
}

int WinExec(const std::string& commandLine, int /*showState*/,
            std::chrono::milliseconds readyTimeout) {
    for (std::size_t end = commandLine.find(' '); ; end = commandLine.find(' ', end + 1)) {
        const std::string program = commandLine.substr(0, end);
        if (IsExecutableFile(program)) {
            const auto args =
                end == std::string::npos ? std::vector<std::string>{} : SplitAtBlanks(commandLine.substr(end + 1));
            return StartProgram(program, args, readyTimeout) ? 33 : 0;
        }
        if (end == std::string::npos) return 2;
    }
}

}  // namespace tarnwick::platform
