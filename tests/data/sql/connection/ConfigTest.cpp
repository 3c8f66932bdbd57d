// Finding and reading the two configuration files.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "data/sql/ConnectionConfig.h"
#include "data/sql/DriverError.h"
#include "platform/ExecutablePath.h"
#include "platform/SettingsStore.h"

namespace tarnwick::sql {
namespace {

class SettingsFolder {
public:
    SettingsFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-settings-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old != nullptr) old_ = old;
        ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    }
    ~SettingsFolder() {
        if (old_.empty()) ::unsetenv("XDG_CONFIG_HOME");
        else ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        std::filesystem::remove_all(folder_);
    }
    void Write(const std::string& text) {
        std::filesystem::create_directories(folder_ + "/morvane");
        std::ofstream(folder_ + "/morvane/sqllink.ini") << text;
    }

private:
    std::string folder_;
    std::string old_;
};

TEST(ConfigTest, FilePathsComeFromTheSettingsStoreOrLieBesideTheExecutable) {
    SettingsFolder settings;
    const std::string beside = platform::ExecutableDir();
    // No settings file at all.
    EXPECT_EQ(ConfigFilePath(kConnectionRegistryFile, kDefaultConnectionsFile), beside + "sqlconnections.ini");
    EXPECT_EQ(ConfigFilePath(kDriverRegistryFile, kDefaultDriversFile), beside + "sqldrivers.ini");

    struct Case {
        const char* settingsFile;
        const char* connections;
        const char* drivers;
    };
    const Case cases[] = {
        // Values are taken as stored: no variable expansion.
        {"[SQLLink]\nConnection Registry File=/etc/$HOME/c.ini\nDriver Registry File = /opt/d.ini \n",
         "/etc/$HOME/c.ini", "/opt/d.ini"},
        // The section name matches without letter case; an empty value means the default.
        {"[sqllink]\nConnection Registry File=\nDRIVER REGISTRY FILE=/x/d.ini\n", nullptr, "/x/d.ini"},
        // Another section holds nothing for us.
        {"[Other]\nConnection Registry File=/nowhere.ini\n", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        settings.Write(c.settingsFile);
        SCOPED_TRACE(c.settingsFile);
        EXPECT_EQ(ConfigFilePath(kConnectionRegistryFile, kDefaultConnectionsFile),
                  c.connections ? c.connections : beside + "sqlconnections.ini");
        EXPECT_EQ(ConfigFilePath(kDriverRegistryFile, kDefaultDriversFile),
                  c.drivers ? c.drivers : beside + "sqldrivers.ini");
    }
}

TEST(ConfigTest, ReadingRulesOfAConfigurationFile) {
    const auto file = platform::IniFile::Parse(
        "Orphan=before any section\n"
        "  [ morvane ]  \n"
        "; a comment\n"
        "  Database  =  /first/db.fdb  \n"
        "Database=/second/db.fdb\n"
        "\n"
        "No equals sign here\n"
        "Empty=\n"
        "[Morvane]\n"
        "DriverName=Firebird\n"
        "Database=/later/section.fdb\n"
        "[Other]\n"
        "Key=a=b\n");
    // The later of two equal sections (letter case ignored) is the one found.
    EXPECT_EQ(file.Value("MORVANE", "DriverName"), "Firebird");
    EXPECT_EQ(file.Value("morvane", "Database"), "/later/section.fdb");
    EXPECT_EQ(file.Value("Other", "key"), "a=b");
    EXPECT_EQ(file.Value("Nothing", "Key"), "");
    EXPECT_EQ(file.Section("Nothing"), nullptr);

    // Within one section: blanks around name, "=" and value dropped, first of two lines wins.
    const auto first = platform::IniFile::Parse("[ morvane ]\n  Database  =  /first/db.fdb  \nDatabase=/second\n"
                                                "No equals sign here\n; comment\n");
    const auto* entries = first.Section("Morvane");
    ASSERT_NE(entries, nullptr);
    EXPECT_EQ(*entries, (std::vector<std::string>{"Database=/first/db.fdb", "Database=/second", "No equals sign here"}));
    EXPECT_EQ(first.Value("Morvane", "DATABASE"), "/first/db.fdb");
    EXPECT_EQ(first.Value("Morvane", "No equals sign here"), "");

    EXPECT_FALSE(platform::IniFile::Read("/no/such/file.ini").Exists());

    // Windows line ends and a leading byte order mark change nothing.
    const auto windows = platform::IniFile::Parse("\xEF\xBB\xBF[Morvane]\r\nDatabase = C:\\POSDATA.FDB\r\n");
    EXPECT_EQ(windows.Value("Morvane", "Database"), "C:\\POSDATA.FDB");
}

TEST(ConfigTest, ParameterListValues) {
    TConnectionParams params;
    params.SetLines({"User_Name=SYSDBA", "user_name=other", "Password=abc=def", "Flag"});
    EXPECT_EQ(params.Value("USER_NAME"), "SYSDBA");
    EXPECT_EQ(params.Value("password"), "abc=def");
    EXPECT_EQ(params.Value("Flag"), "");
    EXPECT_EQ(params.Value("Missing"), "");
    params.SetValue("USER_NAME", "changed");
    EXPECT_EQ(params.Lines()[0], "USER_NAME=changed");
}

TEST(ConfigTest, DriverErrorMessageAssembly) {
    struct Case {
        sqlfb::SQLResult code;
        const char* server;
        const char* previous;
        const char* message;
    };
    const Case cases[] = {
        {5, "", "", "SQLLink Error: [0x0005]: Operation Not Supported"},
        {65, "SQL Server Error: boom", "old", "SQLLink Error: [0x0065]: SQL Error\r\nSQL Server Error: boom"},
        {64, "", "", "SQLLink Error: [0x0064]: No more data"},
        {11, "", "", "SQLLink Error: SQLLink Error [0x000B]: Parameter Not Set"},
        {30, "SQL Server Error: boom", "old", "SQL Server Error: boom"},
        {30, "", "old", "old"},
        {30, "", "", "SQLLink Error: Unknown Error Code '30'"},
        {18, "", "", "SQLLink Error: Unknown Error Code '18'"},
        {100, "", "", "SQLLink Error: Unknown Error Code '100'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AssembleDriverError(c.code, StaticDriverErrorText(c.code), c.server, c.previous), c.message)
            << c.code;
    }
}

}  // namespace
}  // namespace tarnwick::sql
