#include "platform/ExecutablePath.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace tarnwick::platform {

std::string ExecutablePath() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExecutableDir() {
    const std::string path = ExecutablePath();
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

}  // namespace tarnwick::platform
