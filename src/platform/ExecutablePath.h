#pragma once
// Where the running program lives. The store folder is the folder of the executable: the
// download folder, the configuration files and the sibling programs are found beside it.

#include <string>

namespace tarnwick::platform {

// Full path of the running executable (resolved through /proc/self/exe).
std::string ExecutablePath();
// Its folder, with a trailing "/".
std::string ExecutableDir();

}  // namespace tarnwick::platform
