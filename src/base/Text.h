#pragma once
// Small text helpers shared by every layer. Text is UTF-8; letter-case folding touches ASCII
// letters only and compares every other byte exactly.

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick {

char AsciiUpper(char c);
char AsciiLower(char c);
std::string AsciiUpperCase(std::string_view text);
std::string AsciiLowerCase(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);
// <0, 0, >0 like strcmp, ASCII letters folded to upper case.
int CompareTextAscii(std::string_view a, std::string_view b);

// The longest prefix of `text` of at most `maxBytes` bytes that does not end inside a UTF-8
// character.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes);

// Formats like printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tarnwick
