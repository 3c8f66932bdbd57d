#pragma once
// The program's own texts and the two text rules of failure presentation: the application title
// taken from the executable's name, and the error box's final period.

#include <string>
#include <string_view>

namespace tarnwick::app {

inline constexpr std::string_view kMainCaption = "FormTarnwick";
inline constexpr std::string_view kListFolderMissing = "[download]資料夾不存在..!";
inline constexpr std::string_view kClearFolderMissing = "資料夾不存在..!";
inline constexpr std::string_view kWarningCaption = "Warning";

// "Total <count> files upload Success..!"
std::string CountCaption(int count);

// The file name of `executablePath` up to its first ".", every character after the first in
// lower case.
std::string ApplicationTitle(std::string_view executablePath);

// The error box text of a failure message: a "." is appended when the message is not empty and
// its last byte sorts after "." (letters, digits and every multi-byte character do).
std::string ErrorBoxText(std::string_view message);

}  // namespace tarnwick::app
