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

#include "app/StageView.h"
#include "import/RuleTable.h"
#include "platform/DirectorySearch.h"

namespace tarnwick::app {

// What the import keeps across one walk: told when a walk starts, and asked afterwards for a
// warning to show (empty: none). A warning here does not stop the chain.
struct TWalkHooks {
    std::function<void()> WalkStarted;
    std::function<std::string()> WalkWarning;
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
    void Click(TStage stage) noexcept;

    void SetWalkHooks(TWalkHooks hooks) { walkHooks_ = std::move(hooks); }

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
};

}  // namespace tarnwick::app
