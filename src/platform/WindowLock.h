#pragma once
// Window lookup by class between the programs of the suite. A program "has a window of class C"
// while it holds an exclusive lock on the file "C.window" in the per-user runtime folder; the
// lock goes with the process, so a program that dies never leaves the others waiting.
// `TWindowClassLock` owns the lock file's descriptor for its lifetime.

#include <string>

namespace tarnwick::platform {

// The per-user runtime folder with a trailing "/": $XDG_RUNTIME_DIR/morvane/, else
// /tmp/morvane-<uid>/. Created with mode 0700 when missing.
std::string RuntimeFolder();

// True while some process holds the window lock of `className`.
bool FindWindowClass(const std::string& className);

// Takes the window lock of a class on construction (without waiting) and releases it on
// destruction. `Held()` says whether it was taken; another holder means another window exists.
class TWindowClassLock {
public:
    explicit TWindowClassLock(const std::string& className);
    ~TWindowClassLock();
    TWindowClassLock(const TWindowClassLock&) = delete;
    TWindowClassLock& operator=(const TWindowClassLock&) = delete;

    bool Held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

}  // namespace tarnwick::platform
