#include "platform/DirectorySearch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/TestFolders.h"

namespace tarnwick::platform {
namespace {

using testing::TTempFolder;
using testing::WriteFile;

TEST(MatchesMaskTest, WildcardsIgnoreLetterCase) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"a.XML", "*.XML", true},      {"b.xml", "*.XML", true},    {"c.txt", "*.XML", false},
        {"a.XMLX", "*.XML", false},    {"XML", "*.XML", false},     {".x.XML", "*.XML", true},
        {"noext", "*.*", true},        {"a.b.c", "*.*", true},      {"a__B__c.Xml", "*.xMl", true},
        {"x", "?", true},              {"xy", "?", false},          {"abcb", "a*b", true},
        {"abc", "a*b", false},         {"品名.XML", "*.XML", true}, {"", "*", true},
    };
    for (const Case& c : cases) EXPECT_EQ(MatchesMask(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

// The download folder of the list stage's cases: files of both letter cases, another extension,
// plain, hidden and read-only sub-folders, hidden and read-only files.
class DirectorySearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(Dir() + "a.XML", "a");
        WriteFile(Dir() + "b.xml", "b");
        WriteFile(Dir() + "c.txt", "c");
        WriteFile(Dir() + "noext", "n");
        WriteFile(Dir() + ".h.XML", "h");
        WriteFile(Dir() + "r.XML", "r", 0444);
        std::filesystem::create_directory(Dir() + "x.XML");
        std::filesystem::create_directory(Dir() + ".x.XML");
        std::filesystem::create_directory(Dir() + "ro.XML");
        ::chmod((Dir() + "ro.XML").c_str(), 0555);
    }
    std::string Dir() const { return folder_.Path(); }
    TTempFolder folder_;
};

TEST_F(DirectorySearchTest, EntriesComeInNameOrderWithTheirAttributes) {
    const auto entries = FindEntries(Dir(), "*.XML");
    std::vector<std::pair<std::string, int>> got;
    for (const auto& e : entries) got.emplace_back(e.Name, e.Attr);
    const std::vector<std::pair<std::string, int>> expected{
        {".h.XML", faHidden | faArchive},  {".x.XML", faHidden | faDirectory},
        {"a.XML", faArchive},              {"b.xml", faArchive},
        {"r.XML", faReadOnly | faArchive}, {"ro.XML", faReadOnly | faDirectory},
        {"x.XML", faDirectory},
    };
    EXPECT_EQ(got, expected);
}

TEST_F(DirectorySearchTest, AnyFileMaskTakesEveryNameButTheDotEntries) {
    std::vector<std::string> names;
    for (const auto& e : FindEntries(Dir(), "*.*")) names.push_back(e.Name);
    EXPECT_EQ(names, (std::vector<std::string>{".h.XML", ".x.XML", "a.XML", "b.xml", "c.txt", "noext", "r.XML",
                                               "ro.XML", "x.XML"}));
    EXPECT_TRUE(FindEntries(Dir() + "missing/", "*.*").empty());
}

// A read-only file goes like any other (the folder's permissions decide); a folder never does.
TEST_F(DirectorySearchTest, DeletionTakesReadOnlyFilesButNeverFolders) {
    EXPECT_TRUE(DeleteFile(Dir() + "a.XML"));
    EXPECT_TRUE(DeleteFile(Dir() + ".h.XML"));
    EXPECT_TRUE(DeleteFile(Dir() + "r.XML"));
    EXPECT_FALSE(DeleteFile(Dir() + ".x.XML"));
    EXPECT_FALSE(DeleteFile(Dir() + "ro.XML"));
    EXPECT_FALSE(DeleteFile(Dir() + "gone.XML"));
    EXPECT_FALSE(testing::Exists(Dir() + "a.XML"));
    EXPECT_FALSE(testing::Exists(Dir() + "r.XML"));
    EXPECT_TRUE(testing::Exists(Dir() + ".x.XML"));
}

// An entry's identity tells the file it was from one that took its name later.
TEST_F(DirectorySearchTest, SameFileNeedsTheSameNameInodeSizeAndTime) {
    TSearchRec before, same, after;
    ASSERT_TRUE(FindEntry(Dir() + "a.XML", before));
    ASSERT_TRUE(FindEntry(Dir() + "a.XML", same));
    EXPECT_TRUE(SameFile(before, same));
    WriteFile(Dir() + "a.new", "a");
    std::filesystem::rename(Dir() + "a.new", Dir() + "a.XML");  // same size, another file
    ASSERT_TRUE(FindEntry(Dir() + "a.XML", after));
    EXPECT_FALSE(SameFile(before, after));
    ASSERT_TRUE(FindEntry(Dir() + "b.xml", after));
    EXPECT_FALSE(SameFile(after, same));
    EXPECT_FALSE(FindEntry(Dir() + "gone.XML", after));
}

TEST_F(DirectorySearchTest, FolderCheck) {
    EXPECT_TRUE(DirectoryExists(Dir()));
    EXPECT_TRUE(DirectoryExists(Dir() + "x.XML"));
    EXPECT_FALSE(DirectoryExists(Dir() + "a.XML"));
    EXPECT_FALSE(DirectoryExists(Dir() + "missing"));
    EXPECT_EQ(FileGetAttr(Dir() + "missing"), -1);
}

}  // namespace
}  // namespace tarnwick::platform
