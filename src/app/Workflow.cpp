#include "app/Workflow.h"

#include <cstring>
#include <exception>
#include <thread>

#include "app/AppText.h"
#include "base/Exception.h"
#include "import/WorkList.h"
#include "platform/DirectorySearch.h"
#include "platform/ProgramStart.h"
#include "platform/RunLock.h"
#include "platform/WindowLock.h"

namespace tarnwick::app {

namespace {

constexpr const char* kDownloadWindowClass = "TFormScrivel";
constexpr const char* kDownloadProgram = "Scrivel.exe";
constexpr const char* kDownloadArgument = "AD";
constexpr const char* kHandOffProgram = "Lantrel.exe";
constexpr const char* kHandOffArgument = "AS";

// Only files are taken: a folder named like a data file can be neither loaded nor deleted, and
// would stop every run, whatever other attributes it carries.
bool Taken(const platform::TSearchRec& entry) { return (entry.Attr & platform::faDirectory) == 0; }

std::string HandOffFailureText(const std::string& program, int error) {
    return "The hand-off program " + import::PrintableName(program) + " could not be started: " +
           std::strerror(error) + ". The files were imported; the registers get them only once it runs.";
}

std::string BusyText(const platform::TRunLock& lock) {
    std::string text = "Another import is running";
    if (!lock.HolderPid().empty())
        text += " (process " + lock.HolderPid() + ", started " + lock.HolderStarted() + ")";
    return text + "; nothing was imported. Try again once it has finished.";
}

}  // namespace

// The import view of the walk as the workflow hands it on: every call goes to the stage view;
// rows that finish or are passed over are also kept for the run and written to its history.
class TRowRecorder : public import::IImportView {
public:
    TRowRecorder(IStageView& view, TWorkflow& workflow) : view_(view), workflow_(workflow) {}

    std::vector<std::string> Memo1Lines() const override { return view_.Memo1Lines(); }
    void AppendMemo2(const std::string& line) override { view_.AppendMemo2(line); }
    import::IWorkGrid& Grid() override { return view_.Grid(); }
    import::IProgressBar& ProgressBar1() override { return view_.ProgressBar1(); }
    import::IProgressBar& ProgressBar2() override { return view_.ProgressBar2(); }
    void RepaintGrid() override { view_.RepaintGrid(); }
    void RepaintWindow() override { view_.RepaintWindow(); }
    void RowReached(int row, const std::string& table, const std::string& path, import::TRowOutcome outcome) override {
        view_.RowReached(row, table, path, outcome);
        if (workflow_.history_ == nullptr || outcome == import::TRowOutcome::Rule) return;
        workflow_.history_->RowPassed(row, path, table,
                                      outcome == import::TRowOutcome::NoRule ? "no rule" : "done already");
    }
    void RuleFinished(int row, const std::string& table, const std::string& summary) override {
        view_.RuleFinished(row, table, summary);
    }
    void RowResult(const import::TRowResult& result) override {
        workflow_.rows_.push_back(result);
        view_.RowResult(result);
        if (workflow_.history_ != nullptr) workflow_.history_->RowFinished(result);
    }

private:
    IStageView& view_;
    TWorkflow& workflow_;
};

std::string CheckRefusalText(int count) {
    return std::to_string(count) + (count == 1 ? " record" : " records") +
           " would be refused by the database (listed above); nothing was written.";
}

TWorkflow::TWorkflow(IStageView& view, const import::TRuleTable& rules, std::string storeDir)
    : view_(view), rules_(rules), storeDir_(std::move(storeDir)) {
    if (!storeDir_.empty() && storeDir_.back() != '/') storeDir_ += '/';
}

void TWorkflow::WarnAndAbort(std::string_view text) {
    lastWarning_ = text;
    view_.ShowWarning(std::string(text));
    throw EAbort();
}

void TWorkflow::ShowCount(int count) {
    if (count > 0) view_.SetCaption(CountCaption(count));
}

// The sibling is started by its exact path, not through an unquoted command line: in a store
// folder whose path holds a blank, the command line's first word could name another program
// ("/srv/my" for "/srv/my store/Scrivel.exe AD"), which would then run in its place.
void TWorkflow::SpeedButton1Click() {
    if (!platform::FindWindowClass(kDownloadWindowClass))
        platform::StartProgram(storeDir_ + kDownloadProgram, {kDownloadArgument});
    while (platform::FindWindowClass(kDownloadWindowClass)) {
        view_.KeepPainting();
        std::this_thread::sleep_for(waitPause_);
    }
    SpeedButton4Click();
}

// One read of the folder serves both: what Memo1 gets and what the clear stage may delete later.
void TWorkflow::SpeedButton4Click() {
    const std::string folder = DownloadFolder();
    if (!platform::DirectoryExists(folder)) WarnAndAbort(kListFolderMissing);
    listed_.clear();
    int count = 0;
    for (const platform::TSearchRec& entry : platform::FindEntries(folder, "*.*")) {
        if (!Taken(entry)) continue;
        if (platform::MatchesMask(entry.Name, "*.XML")) {
            view_.AppendMemo1(folder + entry.Name);
            ++count;
        }
        listed_.insert_or_assign(entry.Name, entry);
    }
    ShowCount(count);
    SpeedButton2Click();
}

void TWorkflow::SpeedButton2Click() {
    import::BuildWorkList(view_);
    if (walkHooks_.WalkStarted) walkHooks_.WalkStarted();
    rows_.clear();
    TRowRecorder recorder(view_, *this);
    try {
        import::WalkWorkList(recorder, rules_);
    } catch (...) {
        if (walkHooks_.FailurePlace) failurePlace_ = walkHooks_.FailurePlace();
        throw;
    }
    if (dryRun_) {
        int refused = 0;
        for (const import::TRowResult& row : rows_) refused += row.Refused;
        if (refused > 0) {
            lastWarning_ = CheckRefusalText(refused);
            view_.ShowWarning(lastWarning_);
        }
        view_.CloseWindow();
        return;
    }
    // Records the database refused were kept aside; the user hears of it before the files go.
    if (walkHooks_.WalkWarning) {
        const std::string warning = walkHooks_.WalkWarning();
        if (!warning.empty()) {
            lastWarning_ = warning;
            view_.ShowWarning(warning);
        }
    }
    DeleteFileButtonClick();
    SpeedButton3Click();
}

// Deletes what the list stage saw, the same files unchanged; a file that arrived or was
// replaced during the run stays for the next one. The caption counts what was deleted.
void TWorkflow::DeleteFileButtonClick() {
    const std::string folder = DownloadFolder();
    if (!platform::DirectoryExists(folder)) WarnAndAbort(kClearFolderMissing);
    const std::map<std::string, platform::TSearchRec> seen = std::move(listed_);
    listed_.clear();
    const auto wasListed = [&seen](const platform::TSearchRec& entry) {
        const auto it = seen.find(entry.Name);
        return it != seen.end() && platform::SameFile(it->second, entry);
    };
    std::vector<std::string> doomed;
    for (const platform::TSearchRec& entry : platform::FindEntries(folder, "*.*")) {
        if (!Taken(entry) || !wasListed(entry)) continue;
        view_.AppendMemo1(folder + entry.Name);
        doomed.push_back(entry.Name);
    }
    if (doomed.empty()) return;
    if (!platform::DirectoryExists(folder)) WarnAndAbort(kClearFolderMissing);
    // A file that cannot be deleted (in use, the folder read-only) stays without a word. Each
    // is looked at once more right before it goes, in case it was replaced meanwhile.
    for (const std::string& name : doomed) {
        platform::TSearchRec now;
        if (platform::FindEntry(folder + name, now) && Taken(now) && wasListed(now) &&
            platform::DeleteFile(folder + name))
            ++filesDeleted_;
    }
    ShowCount(filesDeleted_);
}

void TWorkflow::SpeedButton3Click() {
    if (!view_.Memo1Lines().empty()) HandOff();
    view_.CloseWindow();
}

// The files are gone by now; a hand-off that does not start must be said, or the registers
// would never get what was imported.
void TWorkflow::HandOff() {
    const std::string program = storeDir_ + kHandOffProgram;
    int error = 0;
    if (platform::StartProgram(program, {kHandOffArgument}, platform::kReadyTimeout, &error))
        handedOff_ = true;
    else
        view_.ShowNotice(IStageView::TNotice::HandOffNotStarted, HandOffFailureText(program, error));
}

void TWorkflow::Click(TStage stage) noexcept {
    failurePlace_.clear();
    lastWarning_.clear();
    rows_.clear();
    filesDeleted_ = 0;
    handedOff_ = false;
    if (history_ != nullptr) {
        try {
            history_->RunStarted(how_);
        } catch (...) {
            // The history never stands in the way of the import.
        }
    }
    TRunEnd end;
    std::string message;
    bool failed = false;
    try {
        const platform::TRunLock lock(RunLockPath());
        if (lock.Busy()) {
            // Nothing of the store is touched; the history says the run was turned away.
            lastWarning_ = BusyText(lock);
            end.Result = "busy";
            view_.ShowNotice(IStageView::TNotice::AnotherImportRunning, lastWarning_);
        } else {
            if (!lock.Held())
                throw Exception("Cannot create the run lock \"" + import::PrintableName(RunLockPath()) + "\". " +
                                std::strerror(lock.Error()));
            (this->*stage)();
            end.Result = "complete";
        }
    } catch (const EAbort&) {
        end.Result = lastWarning_.empty() ? "stopped" : "warning";
    } catch (const Exception& e) {
        failed = true;
        message = e.Message();
    } catch (const std::exception& e) {
        failed = true;
        message = e.what();
    } catch (...) {
        failed = true;
        message = "Unknown failure";
    }
    try {
        if (failed) {
            std::string text = ErrorBoxText(message);
            if (!failurePlace_.empty()) text += "\n" + failurePlace_;
            end.Result = "failure";
            end.Message = text;
            view_.ShowError(text);
        } else {
            end.Message = lastWarning_;
        }
    } catch (...) {
        // Nothing is left to tell the user with; the window goes back to waiting for a click.
    }
    if (history_ == nullptr) return;
    try {
        end.ExitCode = exitCode_ ? exitCode_() : -1;
        end.FilesDeleted = filesDeleted_;
        end.HandedOff = handedOff_;
        history_->RunEnded(end);
    } catch (...) {
        // As above: the history never stands in the way.
    }
}

}  // namespace tarnwick::app
