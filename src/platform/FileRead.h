#pragma once
// Reading a whole file for loading, the way a data file must be opened: read access only, the
// file must exist, and no other process may hold it at the same time (a file that another process
// holds under an flock lock is refused: the Linux form of a sharing conflict). The file handle is
// held only during the call.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::platform {

// The absolute form of `path` (relative paths taken from the working folder, "." and ".."
// resolved by name), as shown in messages.
std::string ExpandFileName(const std::string& path);

// The whole content: one allocation of exactly the file's length, filled by reading from the start
// to the end. A file of length 0 gives an empty vector.
// Raises EFOpenError "Cannot open file "<expanded path>". <system text>" when the file cannot be
// opened, is locked, is no regular file or cannot be read; EVariantArrayCreateError "Error
// creating variant or safe array" when there is no memory for the content.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

}  // namespace tarnwick::platform
