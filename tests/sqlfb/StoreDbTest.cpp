// The store database tool: script splitting, the configuration files it writes, and that no
// output of the tool ever shows the password.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "StoreDb.h"
#include "platform/ExecutablePath.h"

namespace tarnwick::storedb {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct TempFolder {
    std::string path;
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-storedb-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
};

TEST(StoreDbTest, ScriptsSplitAtSemicolonsOutsideQuotesAndComments) {
    const auto statements = SplitScript(
        "-- heading; not a statement\n"
        "CREATE TABLE A (X VARCHAR(5) DEFAULT 'a;b');\n"
        "/* block; comment */ INSERT INTO A VALUES ('it''s; fine') ;\n"
        "  ;  \n"
        "SELECT \"odd;name\" FROM A");
    const std::vector<std::string> expected = {
        "CREATE TABLE A (X VARCHAR(5) DEFAULT 'a;b')",
        "INSERT INTO A VALUES ('it''s; fine')",
        "SELECT \"odd;name\" FROM A",
    };
    EXPECT_EQ(statements, expected);
    EXPECT_FALSE(SplitScript(StoreSchema()).empty());
}

TEST(StoreDbTest, ConfigurationFilesAndTheirModes) {
    TempFolder folder;
    const std::string connections = folder.path + "/sqlconnections.ini";
    std::ofstream(connections) << "old";
    ::chmod(connections.c_str(), 0644);  // a file already there is narrowed too
    DatabaseLogin login;
    login.Password = "abcdefghi";
    WriteStoreConfig(folder.path, "/stores/a/POSDATA.FDB", login);

    struct stat info {};
    ASSERT_EQ(::stat(connections.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadAll(connections),
              "[Morvane]\nDriverName=Firebird\nDatabase=/stores/a/POSDATA.FDB\nRoleName=RoleName\n"
              "User_Name=SYSDBA\nPassword=abcdefghi\nServerCharSet=\nSQLDialect=3\nBlobSize=-1\n"
              "CommitRetain=False\nWaitOnLocks=True\nErrorResourceFile=\nLocaleCode=0000\n"
              "Firebird TransIsolation=ReadCommited\nTrim Char=False\n");
    EXPECT_EQ(ReadAll(folder.path + "/sqldrivers.ini"),
              "[Firebird]\nLibraryName=libsqlfb.so\nVendorLib=libfbclient.so.2\n"
              "GetDriverFunc=getSQLDriverFIREBIRD\n");
}

std::string RunTool(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 512> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
    ::pclose(pipe);
    return output;
}

TEST(StoreDbTest, ToolNeverPrintsThePassword) {
    TempFolder folder;
    const std::string tool = platform::ExecutableDir() + "tarnwick-storedb";
    const std::string base = "TARNWICK_DB_PASSWORD=zqxjkvwpy " + tool + " --database " + folder.path +
                             "/POSDATA.FDB --config-dir " + folder.path;
    const std::string created = RunTool(base);
    EXPECT_NE(created.find("created"), std::string::npos) << created;
    const std::string refused = RunTool(base);  // the file exists: the server refuses
    EXPECT_NE(refused.find("tarnwick-storedb:"), std::string::npos) << refused;
    for (const auto& output : {created, refused, RunTool(tool + " --bogus")}) {
        EXPECT_EQ(output.find("zqxjkvwpy"), std::string::npos) << output;
    }
    EXPECT_NE(ReadAll(folder.path + "/sqlconnections.ini").find("Password=zqxjkvwpy"), std::string::npos);
    DatabaseLogin login;
    login.Password = "zqxjkvwpy";
    DropDatabase(folder.path + "/POSDATA.FDB", login);
}

}  // namespace
}  // namespace tarnwick::storedb
