#pragma once
// The connection's configuration: its parameter list and the two configuration files (the
// connections file and the drivers file) that fill it. Plain values and pure reads; the files
// are read afresh at every call.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::sql {

// A parameter list: lines of a name, "=" and a value. Names match without letter case; a value
// is the text after the first "=" of the first line with that name; missing reads as empty.
class TConnectionParams {
public:
    const std::vector<std::string>& Lines() const { return lines_; }
    void SetLines(std::vector<std::string> lines) {
        lines_ = std::move(lines);
        Changed();
    }
    void Add(std::string line) {
        lines_.push_back(std::move(line));
        Changed();
    }
    void Clear() {
        lines_.clear();
        Changed();
    }
    // Changes with every change of the lines, so values read from them can be kept till then.
    // No two contents ever share a number (a copy shares its original's, content and all).
    std::uint64_t Version() const { return version_; }
    int Count() const { return static_cast<int>(lines_.size()); }
    bool Empty() const { return lines_.empty(); }

    std::string Value(std::string_view name) const;
    // Replaces the value of the first line with that name, or adds a line.
    void SetValue(std::string_view name, std::string_view value);

    // The name part of a line (text before the first "="), the whole line when it has none.
    static std::string_view LineName(std::string_view line);

private:
    void Changed() {
        static std::atomic<std::uint64_t> last{0};
        version_ = ++last;
    }

    std::vector<std::string> lines_;
    std::uint64_t version_ = 0;
};

// Setting names and default file names of the two configuration files.
inline constexpr const char* kConnectionRegistryFile = "Connection Registry File";
inline constexpr const char* kDriverRegistryFile = "Driver Registry File";
inline constexpr const char* kDefaultConnectionsFile = "sqlconnections.ini";
inline constexpr const char* kDefaultDriversFile = "sqldrivers.ini";

// The path of a configuration file: the per-user setting `settingName` as stored, or, when it is
// missing or empty, the default file name in the executable's folder.
std::string ConfigFilePath(const std::string& settingName, const std::string& defaultName);

// The entries of a section of a configuration file (see platform::IniFile for the reading
// rules); empty when the file or the section is missing.
std::vector<std::string> ReadConfigSection(const std::string& path, const std::string& section);
// The value of the first entry `name` in the section, or empty.
std::string ReadConfigValue(const std::string& path, const std::string& section, std::string_view name);

}  // namespace tarnwick::sql
