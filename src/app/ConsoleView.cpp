#include "app/ConsoleView.h"

#include "app/CommandLine.h"
#include "import/WorkList.h"

namespace tarnwick::app {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty() || from == to) return;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

// File names come from the download folder as they are: a name holding a line break must not
// start a line of its own in what we print.
std::string TConsoleView::WithNamesEscaped(const std::string& text) const {
    std::string shown = text;
    for (const std::string& line : memo1_) {
        const std::string printable = import::PrintableName(line);
        if (printable == line) continue;
        ReplaceAll(shown, line, printable);
        const std::string name(import::FileNameOf(line));
        ReplaceAll(shown, name, import::PrintableName(name));
    }
    return shown;
}

void TConsoleView::RowReached(int row, const std::string& table, const std::string& path,
                              import::TRowOutcome outcome) {
    out_ << "row " << row << "  " << (table.empty() ? "-" : import::PrintableName(table)) << "  "
         << import::PrintableName(import::FileNameOf(path));
    if (outcome == import::TRowOutcome::AlreadyDone) out_ << "  (done already)";
    if (outcome == import::TRowOutcome::NoRule) out_ << "  (no rule)";
    out_ << std::endl;
}

void TConsoleView::RuleFinished(int row, const std::string& table, const std::string& summary) {
    out_ << "row " << row << "  " << import::PrintableName(table) << ": " << WithNamesEscaped(summary) << std::endl;
}

void TConsoleView::SetCaption(const std::string& caption) {
    caption_ = caption;
    out_ << caption << std::endl;
}

void TConsoleView::ShowWarning(const std::string& text) {
    warnings_.push_back(text);
    err_ << WithNamesEscaped(text) << std::endl;
}

void TConsoleView::ShowNotice(TNotice notice, const std::string& text) {
    if (notice == TNotice::HandOffNotStarted) handOffFailed_ = true;
    if (notice == TNotice::AnotherImportRunning) busy_ = true;
    ShowWarning(text);
}

void TConsoleView::ShowError(const std::string& text) {
    errors_.push_back(text);
    err_ << WithNamesEscaped(text) << std::endl;
}

int TConsoleView::ExitCode() const {
    if (busy_) return kExitBusy;
    if (!errors_.empty()) return 1;
    if (closed_) {
        if (handOffFailed_) return kExitHandOffNotStarted;
        return warnings_.empty() ? 0 : 3;
    }
    return warnings_.empty() ? 1 : 2;
}

}  // namespace tarnwick::app
