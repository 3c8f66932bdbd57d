#include "platform/RunLock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/LocalTime.h"

namespace tarnwick::platform {

TRunLock::TRunLock(std::string path) : path_(std::move(path)) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error_ = errno;
        busy_ = error_ == EWOULDBLOCK;
        if (busy_) {
            error_ = 0;
            ReadHolder(fd);
        }
        ::close(fd);
        return;
    }
    fd_ = fd;
    WriteHolder();
}

TRunLock::~TRunLock() { Release(); }

void TRunLock::Release() {
    if (fd_ < 0) return;
    ::close(fd_);  // closing the only descriptor drops the lock; the file stays for the next run
    fd_ = -1;
}

// "<pid> <start time>\n"; what a killed holder left is replaced at once.
void TRunLock::WriteHolder() {
    const std::string text = std::to_string(::getpid()) + " " + LocalTimeText() + "\n";
    if (::ftruncate(fd_, 0) != 0) return;
    [[maybe_unused]] const ssize_t n = ::pwrite(fd_, text.data(), text.size(), 0);
}

// The holder writes its line right after it took the lock: a run turned away in between finds
// the file empty, or still holding the line of a killed run, for a moment, and reads again.
void TRunLock::ReadHolder(int fd) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(25));
        char buffer[128];
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
        std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        if (text.empty() || text.back() != '\n') continue;
        text.pop_back();
        const auto blank = text.find(' ');
        if (blank == std::string::npos || blank == 0) continue;
        const std::string pid = text.substr(0, blank);
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        if (::kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH) continue;
        holderPid_ = pid;
        holderStarted_ = text.substr(blank + 1);
        return;
    }
}

}  // namespace tarnwick::platform
