#include "app/Workflow.h"

#include <exception>
#include <thread>

#include "app/AppText.h"
#include "base/Exception.h"
#include "import/WorkList.h"
#include "platform/DirectorySearch.h"
#include "platform/ProgramStart.h"
#include "platform/WindowLock.h"

namespace tarnwick::app {

namespace {

constexpr const char* kDownloadWindowClass = "TFormScrivel";
constexpr const char* kDownloadProgram = "Scrivel.exe";
constexpr const char* kDownloadArgument = "AD";
constexpr const char* kHandOffProgram = "Lantrel.exe";
constexpr const char* kHandOffArgument = "AS";

// A plain sub-folder is passed over; anything with another bit, a folder too, is taken.
bool Taken(const platform::TSearchRec& entry) { return entry.Attr != platform::faDirectory; }

}  // namespace

TWorkflow::TWorkflow(IStageView& view, const import::TRuleTable& rules, std::string storeDir)
    : view_(view), rules_(rules), storeDir_(std::move(storeDir)) {
    if (!storeDir_.empty() && storeDir_.back() != '/') storeDir_ += '/';
}

void TWorkflow::WarnAndAbort(std::string_view text) {
    view_.ShowWarning(std::string(text));
    throw EAbort();
}

int TWorkflow::ListIntoMemo1(const std::string& folder, std::string_view pattern) {
    int count = 0;
    for (const platform::TSearchRec& entry : platform::FindEntries(folder, pattern)) {
        if (!Taken(entry)) continue;
        view_.AppendMemo1(folder + entry.Name);
        ++count;
    }
    return count;
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

void TWorkflow::SpeedButton4Click() {
    const std::string folder = DownloadFolder();
    if (!platform::DirectoryExists(folder)) WarnAndAbort(kListFolderMissing);
    ShowCount(ListIntoMemo1(folder, "*.XML"));
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

void TWorkflow::DeleteFileButtonClick() {
    const std::string folder = DownloadFolder();
    if (!platform::DirectoryExists(folder)) WarnAndAbort(kClearFolderMissing);
    const int count = ListIntoMemo1(folder, "*.*");
    ShowCount(count);
    if (count == 0) return;
    if (!platform::DirectoryExists(folder)) WarnAndAbort(kClearFolderMissing);
    // A file that cannot be deleted (read-only, in use, a folder) stays without a word.
    for (const platform::TSearchRec& entry : platform::FindEntries(folder, "*.*"))
        if (Taken(entry)) platform::DeleteFile(folder + entry.Name);
}

void TWorkflow::SpeedButton3Click() {
    if (!view_.Memo1Lines().empty()) platform::StartProgram(storeDir_ + kHandOffProgram, {kHandOffArgument});
    view_.CloseWindow();
}

void TWorkflow::Click(TStage stage) noexcept {
    std::string message;
    try {
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
