#pragma once
// Loading shared libraries by name and looking up their entry points (dlopen/dlsym). Handles are
// plain pointers: a library once loaded stays loaded for the life of the process.

#include <string>

namespace tarnwick::platform {

// Loads the library; a name without "/" is looked for in the executable's folder first, then
// through the system's library search. Null when it cannot be loaded.
void* LoadLibrary(const std::string& name);
// The address of an exported symbol, null when absent.
void* LibrarySymbol(void* library, const std::string& symbol);
// The loader's message for the last failure (dlerror), empty when none.
std::string LibraryError();

}  // namespace tarnwick::platform
