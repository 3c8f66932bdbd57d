#include "platform/FileRead.h"

#include "base/Exception.h"
#include "base/Text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::platform {

namespace {

class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);  // also releases our lock
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void RaiseOpenError(const std::string& path, const std::string& reason) {
    throw EFOpenError(Format("Cannot open file \"%s\". %s", ExpandFileName(path).c_str(), reason.c_str()));
}

std::string SystemText(int error) {
    // A held lock reads better in the words of a sharing conflict than as EWOULDBLOCK's text.
    if (error == EWOULDBLOCK) return "The file is in use by another process";
    return std::strerror(error);
}

}  // namespace

std::string ExpandFileName(const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (ec) return path;
    return full.lexically_normal().string();
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (file.Get() < 0) RaiseOpenError(path, SystemText(errno));
    // No sharing: refused while another opener holds a lock on the file, and nobody else gets one
    // while we read.
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) RaiseOpenError(path, SystemText(errno));
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) RaiseOpenError(path, SystemText(errno));
    if (S_ISDIR(info.st_mode)) RaiseOpenError(path, SystemText(EISDIR));
    if (!S_ISREG(info.st_mode)) RaiseOpenError(path, SystemText(EINVAL));

    const auto length = static_cast<std::size_t>(info.st_size);
    std::vector<std::uint8_t> content;
    try {
        content.resize(length);
    } catch (const std::bad_alloc&) {
        throw EVariantArrayCreateError("Error creating variant or safe array");
    } catch (const std::length_error&) {
        throw EVariantArrayCreateError("Error creating variant or safe array");
    }
    // One read normally fills the array; further reads only when the system delivers less.
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::read(file.Get(), content.data() + done, length - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            RaiseOpenError(path, SystemText(errno));
        }
        if (got == 0) break;  // shorter than its length said: the rest stays zero
        done += static_cast<std::size_t>(got);
    }
    return content;
}

}  // namespace tarnwick::platform
