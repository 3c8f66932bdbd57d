#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include "platform/ExecutablePath.h"

namespace tarnwick::platform {

void* LoadLibrary(const std::string& name) {
    if (name.empty()) return nullptr;
    if (name.find('/') == std::string::npos) {
        const std::string beside = ExecutableDir() + name;
        if (::access(beside.c_str(), F_OK) == 0) {
            if (void* handle = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
        }
    }
    return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* LibrarySymbol(void* library, const std::string& symbol) {
    if (library == nullptr || symbol.empty()) return nullptr;
    return ::dlsym(library, symbol.c_str());
}

std::string LibraryError() {
    const char* text = ::dlerror();
    return text != nullptr ? std::string(text) : std::string{};
}

}  // namespace tarnwick::platform
