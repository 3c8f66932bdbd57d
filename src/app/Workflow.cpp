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

TWorkflow::TWorkflow(IStageView& view, const import::TRuleTable& rules, std::string storeDir)
    : view_(view), rules_(rules), storeDir_(std::move(storeDir)) {
    if (!storeDir_.empty() && storeDir_.back() != '/') storeDir_ += '/';
}

void TWorkflow::WarnAndAbort(std::string_view text) {
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
    import::WalkWorkList(view_, rules_);
    // Records the database refused were kept aside; the user hears of it before the files go.
    if (walkHooks_.WalkWarning) {
        const std::string warning = walkHooks_.WalkWarning();
        if (!warning.empty()) view_.ShowWarning(warning);
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
    int deleted = 0;
    // A file that cannot be deleted (in use, the folder read-only) stays without a word. Each
    // is looked at once more right before it goes, in case it was replaced meanwhile.
    for (const std::string& name : doomed) {
        platform::TSearchRec now;
        if (platform::FindEntry(folder + name, now) && Taken(now) && wasListed(now) &&
            platform::DeleteFile(folder + name))
            ++deleted;
    }
    ShowCount(deleted);
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
    if (!platform::StartProgram(program, {kHandOffArgument}, platform::kReadyTimeout, &error))
        view_.ShowNotice(IStageView::TNotice::HandOffNotStarted, HandOffFailureText(program, error));
}

void TWorkflow::Click(TStage stage) noexcept {
    std::string message;
    try {
        const platform::TRunLock lock(RunLockPath());
        if (lock.Busy()) {
            view_.ShowNotice(IStageView::TNotice::AnotherImportRunning, BusyText(lock));
            return;
        }
        if (!lock.Held())
            throw Exception("Cannot create the run lock \"" + import::PrintableName(RunLockPath()) + "\". " +
                            std::strerror(lock.Error()));
        (this->*stage)();
        return;
    } catch (const EAbort&) {
        return;
    } catch (const Exception& e) {
        message = e.Message();
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown failure";
    }
    try {
        view_.ShowError(ErrorBoxText(message));
    } catch (...) {
        // Nothing is left to tell the user with; the window goes back to waiting for a click.
    }
}

}  // namespace tarnwick::app
