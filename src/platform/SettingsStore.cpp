#include "platform/SettingsStore.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/Text.h"

namespace tarnwick::platform {
namespace {

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string EntryLine(std::string_view line) {
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return std::string(line);
    std::string entry(Trim(line.substr(0, eq)));
    entry += '=';
    entry += Trim(line.substr(eq + 1));
    return entry;
}

}  // namespace

IniFile IniFile::Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return IniFile{};
    std::ostringstream text;
    text << in.rdbuf();
    IniFile file = Parse(text.str());
    file.exists_ = true;
    return file;
}

IniFile IniFile::Parse(std::string_view text) {
    IniFile file;
    file.exists_ = true;
    SectionEntries* current = nullptr;
    // A file saved by a Windows editor may start with a UTF-8 byte order mark.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';') continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            file.sections_.push_back({std::string(Trim(line.substr(1, line.size() - 2))), {}});
            current = &file.sections_.back();
            continue;
        }
        if (current != nullptr) current->Entries.push_back(EntryLine(line));
    }
    return file;
}

const std::vector<std::string>* IniFile::Section(std::string_view name) const {
    // The later of two sections of the same name is the one found.
    for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
        if (SameTextAscii(it->Name, name)) return &it->Entries;
    }
    return nullptr;
}

std::string IniFile::Value(std::string_view section, std::string_view name) const {
    const auto* entries = Section(section);
    return entries == nullptr ? std::string{} : EntryValue(*entries, name);
}

std::string EntryValue(const std::vector<std::string>& entries, std::string_view name) {
    for (const auto& entry : entries) {
        const auto eq = entry.find('=');
        if (eq == std::string::npos) continue;
        if (SameTextAscii(std::string_view(entry).substr(0, eq), name)) return entry.substr(eq + 1);
    }
    return {};
}

std::string UserSettingsDir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && *xdg != '\0') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/morvane";
}

std::optional<std::string> ReadUserSetting(std::string_view section, std::string_view name) {
    const IniFile file = IniFile::Read(UserSettingsDir() + "/sqllink.ini");
    const auto* entries = file.Section(section);
    if (entries == nullptr) return std::nullopt;
    for (const auto& entry : *entries) {
        const auto eq = entry.find('=');
        if (eq == std::string::npos) continue;
        if (SameTextAscii(std::string_view(entry).substr(0, eq), name)) return entry.substr(eq + 1);
    }
    return std::nullopt;
}

}  // namespace tarnwick::platform
