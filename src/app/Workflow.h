#pragma once
// The workflow chain: download, list, import, clear and hand-off stages. Each stage, when it
// ends normally, runs the next one itself, so a chain runs nested inside the first click. The
// stages fail by raising; only `Click`, the outermost entry, catches and presents the failure.
// Holds references to the view and the rule table, which outlive it.

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/RunHistory.h"

#include "app/StageView.h"
#include "import/RuleTable.h"
#include "platform/DirectorySearch.h"

namespace tarnwick::app {

// What the import keeps across one walk: told when a walk starts, and asked afterwards for a
// warning to show (empty: none). A warning here does not stop the chain. After a failure of the
// walk, FailurePlace names where it stopped (empty: unknown).
struct TWalkHooks {
    std::function<void()> WalkStarted;
    std::function<std::string()> WalkWarning;
    std::function<std::string()> FailurePlace;
};

class TWorkflow {
public:
    using TStage = void (TWorkflow::*)();

    // `storeDir` is the folder of the program with a trailing "/": the download folder and the
    // sibling programs are found there.
    TWorkflow(IStageView& view, const import::TRuleTable& rules, std::string storeDir);

    std::string DownloadFolder() const { return storeDir_ + "download/"; }
    // The lock file that keeps a second import of the same store from running meanwhile.
    std::string RunLockPath() const { return storeDir_ + "tarnwick.lock"; }

    void SpeedButton1Click();      // download stage
    void SpeedButton4Click();      // list stage
    void SpeedButton2Click();      // import stage
    void DeleteFileButtonClick();  // clear stage
    void SpeedButton3Click();      // hand-off stage

    // Runs a stage as a click of its button and presents whatever failure leaves it: nothing for
    // a silent abort, the error box for any other. Never throws. The chain runs under the
    // store's run lock; while another run holds it, nothing is touched and a warning says so.
    // a silent abort, the error box for any other, with a second line naming the file and record
    // where a failure of the walk stopped. Never throws.
    void Click(TStage stage) noexcept;

    void SetWalkHooks(TWalkHooks hooks) { walkHooks_ = std::move(hooks); }

    // A dry run: the import stage walks the list (the import's data side keeps its writes from
    // lasting), then the chain ends there, as after a hand-off: no file is deleted and no
    // program started. Records the database would refuse end it with a warning.
    void SetDryRun(bool dryRun) { dryRun_ = dryRun; }
    // Every click from now on is a run written to `history` (which outlives the workflow),
    // started `how` ("window", "run", "list", "check").
    void SetHistory(TRunHistory* history, std::string how) {
        history_ = history;
        how_ = std::move(how);
    }
    // The exit code a run's end line names (an unattended run's); none: the window's.
    void SetExitCodeSource(std::function<int()> source) { exitCode_ = std::move(source); }
    // What each rule of the last click's walk did, in the order the rows finished.
    const std::vector<import::TRowResult>& Rows() const { return rows_; }

    // The pause between two lookups of the download program's window.
    void SetWaitPause(std::chrono::milliseconds pause) { waitPause_ = pause; }

private:
    [[noreturn]] void WarnAndAbort(std::string_view text);
    void ShowCount(int count);
    void HandOff();

    IStageView& view_;
    const import::TRuleTable& rules_;
    std::string storeDir_;
    std::chrono::milliseconds waitPause_{50};
    TWalkHooks walkHooks_;
    // Every file of the download folder as the list stage saw it: the clear stage deletes these
    // and nothing that arrived or changed later.
    std::map<std::string, platform::TSearchRec> listed_;  // by name
    bool dryRun_ = false;
    TRunHistory* history_ = nullptr;
    std::string how_;
    std::function<int()> exitCode_;
    // Of the running click:
    std::string failurePlace_;  // where a failure leaving the walk stopped
    std::string lastWarning_;
    std::vector<import::TRowResult> rows_;
    int filesDeleted_ = 0;
    bool handedOff_ = false;

    friend class TRowRecorder;
};

// The warning of a dry run after which the database would have refused `count` records.
std::string CheckRefusalText(int count);

}  // namespace tarnwick::app
