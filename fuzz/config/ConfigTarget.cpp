// Configuration files target: the input is a connections file, and after its first zero byte a
// drivers file (without one, the same text serves as both). Both are written to a private folder
// and read the way a connection reads them, and the connections text also serves as the per-user
// settings file. Reading a file must agree with reading its text; the parameter list must find
// each name whatever its letter case, and keep a value set into it.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "FuzzCheck.h"
#include "data/sql/ConnectionConfig.h"
#include "platform/SettingsStore.h"

namespace tarnwick::fuzz {
namespace {

// A private folder, made once and removed at exit; XDG_CONFIG_HOME points at it so the settings
// file is ours. The name is never destroyed, so the removal at exit can still read it.
const std::string& Folder() {
    static const std::string& folder = *[] {
        // In memory where the system has it: the target writes three files per input.
        char shm[] = "/dev/shm/tarnwick-fuzz-config-XXXXXX";
        char tmp[] = "/tmp/tarnwick-fuzz-config-XXXXXX";
        char* pattern = ::mkdtemp(shm) != nullptr ? shm : tmp;
        Check(pattern == shm || ::mkdtemp(tmp) != nullptr, "a private folder");
        const auto* path = new std::string(pattern);
        ::setenv("XDG_CONFIG_HOME", path->c_str(), 1);
        Check(::mkdir((*path + "/morvane").c_str(), 0700) == 0, "the settings folder");
        std::atexit([] {
            std::remove((Folder() + "/morvane/sqllink.ini").c_str());
            ::rmdir((Folder() + "/morvane").c_str());
            std::remove((Folder() + "/sqlconnections.ini").c_str());
            std::remove((Folder() + "/sqldrivers.ini").c_str());
            ::rmdir(Folder().c_str());
        });
        return path;
    }();
    return folder;
}

void Write(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    Check(out.good(), "the file is written", path);
}

void CheckFile(const std::string& path, std::string_view text, const std::vector<std::string>& sections,
               const std::vector<std::string>& names) {
    const platform::IniFile parsed = platform::IniFile::Parse(text);
    const platform::IniFile read = platform::IniFile::Read(path);
    Check(read.Exists(), "a written file exists");
    for (const std::string& section : sections) {
        const auto* fromText = parsed.Section(section);
        const auto* fromFile = read.Section(section);
        Check((fromText == nullptr) == (fromFile == nullptr), "file and text have the same sections", section);
        const std::vector<std::string> entries = sql::ReadConfigSection(path, section);
        Check(entries == (fromText ? *fromText : std::vector<std::string>{}), "the section read is the text's",
              section);
        sql::TConnectionParams params;
        params.SetLines(entries);
        for (const std::string& name : names) {
            const std::string value = sql::ReadConfigValue(path, section, name);
            Check(value == parsed.Value(section, name), "a value read is the text's", name);
            Check(value == params.Value(name), "the parameter list answers the file's value", name);
            std::string lower = name;
            for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            Check(params.Value(lower) == value, "names match without letter case", name);
        }
        const std::string database = params.Value("User_Name");
        params.SetValue("Database", "/srv/store/POSDATA.FDB");
        Check(params.Value("DATABASE") == "/srv/store/POSDATA.FDB", "a value set is read back");
        Check(params.Value("User_Name") == database, "setting one value leaves the others");
    }
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwick;
    using namespace tarnwick::fuzz;
    const std::string_view input = AsText(data, size);
    const std::size_t zero = input.find('\0');
    const std::string_view connections = input.substr(0, zero);
    const std::string_view drivers = zero == std::string_view::npos ? input : input.substr(zero + 1);

    const std::string connectionsPath = Folder() + "/sqlconnections.ini";
    const std::string driversPath = Folder() + "/sqldrivers.ini";
    Write(connectionsPath, connections);
    Write(driversPath, drivers);
    Write(Folder() + "/morvane/sqllink.ini", connections);

    CheckFile(connectionsPath, connections, {"Morvane", "morvane", "SQLLink"},
              {"DriverName", "Database", "User_Name", "Password", "RowsetSize", "LocaleCode"});
    CheckFile(driversPath, drivers, {"Firebird", "FIREBIRD"},
              {"LibraryName", "GetDriverFunc", "VendorLib", "LoadParamsOnConnect"});

    const platform::IniFile settings = platform::IniFile::Parse(connections);
    for (const char* name : {sql::kConnectionRegistryFile, sql::kDriverRegistryFile}) {
        const auto stored = platform::ReadUserSetting("SQLLink", name);
        const std::string expected = settings.Value("SQLLink", name);
        if (stored) Check(*stored == expected, "the user setting is the file's value", name);
        const std::string path = sql::ConfigFilePath(name, sql::kDefaultConnectionsFile);
        if (!expected.empty()) Check(path == expected, "a stored registry file is used as written", name);
        else Check(path.ends_with(sql::kDefaultConnectionsFile), "without a setting the default file is used");
    }
    return 0;
}
