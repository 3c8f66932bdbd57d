#include "platform/WindowLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace tarnwick::platform {

namespace {

std::string LockPath(const std::string& className) { return RuntimeFolder() + className + ".window"; }

// A folder in a shared place like /tmp could have been made by someone else to watch or fake
// our locks; only a real folder of our own is used.
bool OwnPrivateFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

}  // namespace

std::string RuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = (runtime != nullptr && *runtime != '\0')
                             ? std::string(runtime) + "/morvane"
                             : "/tmp/morvane-" + std::to_string(::getuid());
    ::mkdir(folder.c_str(), 0700);
    return folder + "/";
}

bool FindWindowClass(const std::string& className) {
    const std::string path = LockPath(className);
    if (!OwnPrivateFolder(path.substr(0, path.rfind('/')))) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;  // no lock file: no such window has ever existed
    // A shared lock is refused only while someone holds the exclusive one.
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

TWindowClassLock::TWindowClassLock(const std::string& className) {
    const std::string path = LockPath(className);
    if (!OwnPrivateFolder(path.substr(0, path.rfind('/')))) return;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) Release();
}

TWindowClassLock::~TWindowClassLock() { Release(); }

void TWindowClassLock::Release() {
    if (fd_ < 0) return;
    ::close(fd_);  // closing the only descriptor drops the lock
    fd_ = -1;
}

}  // namespace tarnwick::platform
