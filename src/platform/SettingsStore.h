#pragma once
// Configuration text files and the per-user settings store. `IniFile` reads a file of sections
// and name=value entries by one fixed set of rules (below); `ReadUserSetting` reads a value of
// the suite's per-user settings file ${XDG_CONFIG_HOME:-$HOME/.config}/morvane/sqllink.ini.
// Pure reads, nothing cached; call any time.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::platform {

// Reading rules: lines are trimmed of surrounding blanks; empty lines and lines starting with ";"
// are skipped; "[name]" starts a section (name trimmed); lines before the first section are
// ignored; other lines are entries: with "=", the trimmed name, "=" and the trimmed value;
// without, the line as it stands. Section names match without letter case and the later of two
// equal sections wins. A missing file reads as a file without sections.
class IniFile {
public:
    static IniFile Read(const std::string& path);
    static IniFile Parse(std::string_view text);

    bool Exists() const { return exists_; }
    // The entries of the section, in file order; null when there is no such section.
    const std::vector<std::string>* Section(std::string_view name) const;
    // The value of the first entry of that name (without case) in the section, or empty.
    std::string Value(std::string_view section, std::string_view name) const;

private:
    struct SectionEntries {
        std::string Name;
        std::vector<std::string> Entries;
    };
    bool exists_ = false;
    std::vector<SectionEntries> sections_;
};

// The value of the first entry `name` of an entry list, or empty. Lines without "=" match nothing.
std::string EntryValue(const std::vector<std::string>& entries, std::string_view name);

// The folder of the per-user settings: ${XDG_CONFIG_HOME:-$HOME/.config}/morvane (no trailing "/").
std::string UserSettingsDir();
// The value `name` of section `section` in UserSettingsDir()/sqllink.ini, as stored (no
// variable expansion); nothing when the file, the section or the value is missing.
std::optional<std::string> ReadUserSetting(std::string_view section, std::string_view name);

}  // namespace tarnwick::platform
