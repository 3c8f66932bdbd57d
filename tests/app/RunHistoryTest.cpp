// The run history, the end-of-run summary and the live progress line of the unattended run, on
// the stages with rules that only report (no database).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "app/ConsoleView.h"
#include "app/RunHistory.h"
#include "app/StoreFixture.h"
#include "app/Workflow.h"
#include "base/Exception.h"

namespace tarnwick::app {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

std::vector<std::vector<std::string>> EventLines(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("#")) continue;
        std::vector<std::string> fields;
        std::size_t from = 0;
        for (auto tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', from)) {
            fields.push_back(line.substr(from, tab - from));
            from = tab + 1;
        }
        fields.push_back(line.substr(from));
        fields.erase(fields.begin());  // the time
        lines.push_back(fields);
    }
    return lines;
}

class RunHistoryTest : public testing::StoreFixture {
protected:
    RunHistoryTest() : view_(out_, err_), workflow_(view_, rules_, Store()), history_(Store()) {
        history_.SetOnNotWritten([this](const std::string& text) { view_.SayHistoryNotWritten(text); });
        workflow_.SetHistory(&history_, "list");
        workflow_.SetExitCodeSource([this] { return view_.ExitCode(); });
        // PRODUCT reports what a keyed rule would; BAD fails with a message of two lines.
        rules_.Add("PRODUCT", [](import::TImportContext& context) {
            context.View.RowResult({context.Row, context.TableName, context.Path, "keyed", 200, 150, 50, 0, 0, 0.5, false});
        });
        rules_.Add("BAD", [](import::TImportContext&) { throw Exception("Invalid value\tfor field 'PRICE'\nsecond"); });
    }
    std::string Log() const { return ReadFile(history_.Path()); }

    std::ostringstream out_, err_;
    import::TRuleTable rules_;
    TConsoleView view_;
    TWorkflow workflow_;
    TRunHistory history_;
};

TEST_F(RunHistoryTest, ARunWritesItsStartEveryRowAndItsEnd) {
    InstallSiblings();
    WriteFile(Download() + "HQ__PRODUCT__1.XML", "x");
    WriteFile(Download() + "HQ__NOTHING__1.XML", "x");
    workflow_.Click(&TWorkflow::SpeedButton4Click);
    ASSERT_EQ(view_.ExitCode(), 0) << err_.str();

    const std::string log = Log();
    EXPECT_TRUE(log.starts_with("# tarnwick run history")) << log;
    using L = std::vector<std::string>;
    const auto lines = EventLines(log);
    ASSERT_EQ(lines.size(), 4u) << log;
    EXPECT_EQ(lines[0], (L{"start", "list"}));
    // The rows in the order the walk met them, the one without a rule too.
    EXPECT_EQ(lines[1], (L{"row", "1", "HQ__NOTHING__1.XML", "NOTHING", "-", "no rule", "0", "0", "0", "0", "0", "0.00"}));
    EXPECT_EQ(lines[2], (L{"row", "2", "HQ__PRODUCT__1.XML", "PRODUCT", "keyed", "imported", "200", "150", "50", "0", "0", "0.50"}));
    EXPECT_EQ(lines[3], (L{"end", "complete", "0", "2", "yes", ""}));

    // A second run appends; a failure's lines stay one line each, and its end says so.
    WriteFile(Download() + "HQ__BAD__1.XML", "x");
    workflow_.Click(&TWorkflow::SpeedButton4Click);
    const auto more = EventLines(Log());
    ASSERT_GT(more.size(), 6u) << Log();
    EXPECT_EQ(more[4], (L{"start", "list"}));
    EXPECT_EQ(more.back(), (L{"end", "failure", "1", "0", "no", "Invalid value\\tfor field 'PRICE'\\nsecond."}));
    EXPECT_EQ(err_.str(), "Invalid value\tfor field 'PRICE'\nsecond.\n");
}

TEST_F(RunHistoryTest, AWarningThatStopsTheRunIsItsEnd) {
    fs::remove(Download());
    workflow_.Click(&TWorkflow::SpeedButton4Click);
    const auto lines = EventLines(Log());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], (std::vector<std::string>{"end", "warning", "2", "0", "no", "[download]資料夾不存在..!"}));
}

// Past its limit the older half goes to import.log.1 at the next start; no line is lost and
// both files keep the header.
TEST_F(RunHistoryTest, OlderHalfMovesAside) {
    TRunHistory small(Store(), 600);
    std::vector<std::string> written;
    for (int run = 0; run < 40; ++run) {
        small.RunStarted("run" + std::to_string(run));
        small.RunEnded({"complete", "", 0, run, false});
    }
    const std::string current = ReadFile(small.Path()), older = ReadFile(small.Path() + ".1");
    EXPECT_LT(current.size(), 1200u);
    EXPECT_TRUE(older.starts_with("# tarnwick run history"));
    EXPECT_TRUE(current.starts_with("# tarnwick run history"));
    const auto kept = EventLines(current);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back()[0], "end");
    EXPECT_EQ(kept.back()[3], "39");
    // import.log.1 ends exactly where import.log begins.
    const auto aside = EventLines(older);
    ASSERT_FALSE(aside.empty());
    const int lastAside = aside.back()[0] == "end" ? std::stoi(aside.back()[3]) : -1;
    const bool continues = (kept.front()[0] == "start" && kept.front()[1] == "run" + std::to_string(lastAside + 1)) ||
                           (kept.front()[0] == "end" && aside.back()[0] == "start");
    EXPECT_TRUE(continues) << older << "\n---\n" << current;
}

// A history that cannot be written: the run goes on, imports and hands off, and says so once.
TEST_F(RunHistoryTest, UnwritableHistoryNeverStopsTheRun) {
    struct Case {
        const char* name;
        std::function<void(const std::string& log)> make;
        std::string reason;
    };
    const Case cases[] = {
        {"a folder in its place", [](const std::string& log) { fs::create_directory(log); }, "Is a directory"},
        {"a full disk", [](const std::string& log) { fs::create_symlink("/dev/full", log); }, "No space left on device"},
    };
    InstallSiblings();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(history_.Path());
        c.make(history_.Path());
        err_.str("");
        WriteFile(Download() + "HQ__PRODUCT__1.XML", "x");
        WriteFile(Download() + "HQ__PRODUCT__2.XML", "x");
        workflow_.Click(&TWorkflow::SpeedButton4Click);
        EXPECT_EQ(view_.ExitCode(), 0);
        EXPECT_TRUE(fs::is_empty(Download()));
        EXPECT_EQ(err_.str(), HistoryNotWrittenText(history_.Path(), c.reason) + "\n");
        ASSERT_GE(workflow_.Rows().size(), 2u);
        EXPECT_EQ(workflow_.Rows().back().Path, Download() + "HQ__PRODUCT__2.XML");
    }
    EXPECT_TRUE(HandedOff());
}

TEST(RunSummaryTest, TableWithTotalAndRate) {
    std::ostringstream out;
    WriteSummary(out, {{1, "PRODUCT", "/s/download/HQ__PRODUCT__20261210_01.XML", "keyed", 200, 150, 50, 0, 0, 0.02, false},
                       {2, "MEMBER", "/s/download/HQ__MEMBER__1.XML", "keyed", 100, 99, 0, 0, 1, 0.98, true}});
    EXPECT_EQ(out.str(),
              "table            file                              read  inserted  updated  skipped  refused   seconds\n"
              "PRODUCT          HQ__PRODUCT__20261210_01.XML       200       150       50        0        0      0.02\n"
              "MEMBER           HQ__MEMBER__1.XML (failed)         100        99        0        0        1      0.98\n"
              "total            2 files                            300       249       50        0        1      1.00\n"
              "300 records per second\n");
}

// On a terminal the walk's progress is one line redrawn in place and taken away before the next
// printed line; elsewhere only the finished lines appear.
TEST(LiveProgressTest, RedrawnOnATerminalOnly) {
    for (const bool live : {true, false}) {
        std::ostringstream out, err;
        TConsoleView view(out, err, live);
        view.RowReached(1, "PRODUCT", "/d/HQ__PRODUCT__1.XML", import::TRowOutcome::Rule);
        view.ProgressBar1().SetMax(200);
        for (int i = 1; i <= 200; ++i) view.ProgressBar1().SetPosition(i);
        view.RuleFinished(1, "PRODUCT", "read 200");
        const std::string text = out.str();
        if (!live) {
            EXPECT_EQ(text, "row 1  PRODUCT  HQ__PRODUCT__1.XML\nrow 1  PRODUCT: read 200\n");
            continue;
        }
        EXPECT_NE(text.find("\rPRODUCT  1 of 200 records"), std::string::npos) << text;
        EXPECT_NE(text.find("\rPRODUCT  200 of 200 records"), std::string::npos) << text;
        EXPECT_NE(text.find(" records/s  0 s left\x1b[K\r\x1b[Krow 1  PRODUCT: read 200\n"), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), text.find("HQ__PRODUCT__1.XML") + 18);  // no line ends before the row's
    }
}

}  // namespace
}  // namespace tarnwick::app
