#pragma once
// The local date and time as the store's own files write it.

#include <string>

namespace tarnwick::platform {

// Now, local time: "2026-12-11 09:43:06".
std::string LocalTimeText();

}  // namespace tarnwick::platform
