#pragma once
// One import at a time per store: a run holds an exclusive lock on a file beside the executable
// for as long as it works, the same kind of lock as the sibling programs' windows. The lock goes
// with the process, so a run that was killed never blocks the next one. The holder writes its
// process id and start time into the file, so that a run turned away can say who holds it.
// `TRunLock` owns the lock file's descriptor (close-on-exec: no started program inherits it).

#include <string>

namespace tarnwick::platform {

class TRunLock {
public:
    // Tries once to take the lock of the file at `path` (created when missing), without waiting.
    explicit TRunLock(std::string path);
    ~TRunLock();
    TRunLock(const TRunLock&) = delete;
    TRunLock& operator=(const TRunLock&) = delete;

    bool Held() const { return fd_ >= 0; }
    // Not held because another process holds it (as opposed to a file that cannot be opened).
    bool Busy() const { return busy_; }
    // The system's error number when the lock file could not be opened or locked, else 0.
    int Error() const { return error_; }
    // When busy: the holder's process id and start time as it wrote them ("" when unknown).
    const std::string& HolderPid() const { return holderPid_; }
    const std::string& HolderStarted() const { return holderStarted_; }

    void Release();

private:
    void WriteHolder();
    void ReadHolder(int fd);

    std::string path_;
    int fd_ = -1;
    bool busy_ = false;
    int error_ = 0;
    std::string holderPid_, holderStarted_;
};

}  // namespace tarnwick::platform
