// Names as they come from the download folder: a name holding a line break or another control
// character gets one line of output and one line of rejected.log all the same, and what the
// refused records leave in rejected/ is readable by the store's own user only.

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "ImportFixture.h"
#include "app/CommandLine.h"
#include "platform/ExecutablePath.h"

namespace tarnwick::import::testing {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

class OddNamesTest : public ImportStore {
protected:
    int Run() {
        fs::copy_file(platform::ExecutableDir() + "lantrel", store_.Folder() + "/Lantrel.exe",
                      fs::copy_options::overwrite_existing);
        const app::TWalkHooks hooks = app::WalkHooksFor(*data_);
        return app::RunUnattended(app::TLaunchMode::List, rules_, hooks, store_.Folder(), out_, err_);
    }
    std::ostringstream out_, err_;
};

TEST_F(OddNamesTest, ControlCharactersAreEscapedAndRejectedFilesArePrivate) {
    ::umask(022);
    // A refused record (MEMBER_NAME too long) from a file whose name would forge lines.
    const std::string name = "HQ__MEMBER__1\nrow 9  FORGED\x1b[2J.XML";
    Put(name, "MEMBER", {{{"MEMBER_ID", "M1\nM9"}, {"MEMBER_NAME", std::string(41, 'x')}}, {{"MEMBER_ID", "M2"}}});
    view_.memo1.clear();  // the list stage finds it itself
    EXPECT_EQ(Run(), 3) << err_.str();

    const std::string shown = "HQ__MEMBER__1\\nrow 9  FORGED\\x1b[2J.XML";
    for (const std::string& line : Lines(out_.str())) EXPECT_EQ(line.rfind("row 9", 0), std::string::npos) << out_.str();
    EXPECT_NE(out_.str().find("row 1  MEMBER  " + shown + "\n"), std::string::npos) << out_.str();
    EXPECT_EQ(out_.str().find('\x1b'), std::string::npos);

    std::ifstream in(RejectedFolder() + "rejected.log");
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::string> logLines = Lines(log);
    ASSERT_EQ(logLines.size(), 1u) << log;
    EXPECT_NE(logLines[0].find("\t" + shown + "\trecord 1\t"), std::string::npos) << log;
    EXPECT_EQ(log.find('\x1b'), std::string::npos);

    EXPECT_EQ(ModeOf(RejectedFolder()), 0700u);
    EXPECT_EQ(ModeOf(RejectedFolder() + "rejected.log"), 0600u);
    EXPECT_EQ(ModeOf(RejectedFolder() + name), 0600u);  // the packet keeps the file's own name
    EXPECT_TRUE(fs::is_empty(download_));
}

}  // namespace
}  // namespace tarnwick::import::testing
