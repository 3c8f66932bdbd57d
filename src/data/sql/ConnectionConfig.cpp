#include "data/sql/ConnectionConfig.h"

#include "base/Text.h"
#include "platform/ExecutablePath.h"
#include "platform/SettingsStore.h"

namespace tarnwick::sql {

std::string_view TConnectionParams::LineName(std::string_view line) {
    const auto eq = line.find('=');
    return eq == std::string_view::npos ? line : line.substr(0, eq);
}

std::string TConnectionParams::Value(std::string_view name) const {
    return platform::EntryValue(lines_, name);
}

void TConnectionParams::SetValue(std::string_view name, std::string_view value) {
    Changed();
    std::string line = std::string(name) + "=" + std::string(value);
    for (auto& existing : lines_) {
        if (existing.find('=') != std::string::npos && SameTextAscii(LineName(existing), name)) {
            existing = std::move(line);
            return;
        }
    }
    lines_.push_back(std::move(line));
}

std::string ConfigFilePath(const std::string& settingName, const std::string& defaultName) {
    // The stored setting is taken as written: no variable expansion.
    const auto stored = platform::ReadUserSetting("SQLLink", settingName);
    if (stored && !stored->empty()) return *stored;
    return platform::ExecutableDir() + defaultName;
}

std::vector<std::string> ReadConfigSection(const std::string& path, const std::string& section) {
    const auto file = platform::IniFile::Read(path);
    const auto* entries = file.Section(section);
    return entries == nullptr ? std::vector<std::string>{} : *entries;
}

std::string ReadConfigValue(const std::string& path, const std::string& section, std::string_view name) {
    return platform::IniFile::Read(path).Value(section, name);
}

}  // namespace tarnwick::sql
