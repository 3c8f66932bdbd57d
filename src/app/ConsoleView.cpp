#include "app/ConsoleView.h"

#include "import/WorkList.h"

namespace tarnwick::app {

void TConsoleView::RowReached(int row, const std::string& table, const std::string& path,
                              import::TRowOutcome outcome) {
    out_ << "row " << row << "  " << (table.empty() ? "-" : table) << "  " << import::FileNameOf(path);
    if (outcome == import::TRowOutcome::AlreadyDone) out_ << "  (done already)";
    if (outcome == import::TRowOutcome::NoRule) out_ << "  (no rule)";
    out_ << std::endl;
}

void TConsoleView::RuleFinished(int row, const std::string& table, const std::string& summary) {
    out_ << "row " << row << "  " << table << ": " << summary << std::endl;
}

void TConsoleView::SetCaption(const std::string& caption) {
    caption_ = caption;
    out_ << caption << std::endl;
}

void TConsoleView::ShowWarning(const std::string& text) {
    warnings_.push_back(text);
    err_ << text << std::endl;
}

void TConsoleView::ShowError(const std::string& text) {
    errors_.push_back(text);
    err_ << text << std::endl;
}

int TConsoleView::ExitCode() const {
    if (!errors_.empty()) return 1;
    if (closed_) return warnings_.empty() ? 0 : 3;
    return warnings_.empty() ? 1 : 2;
}

}  // namespace tarnwick::app
