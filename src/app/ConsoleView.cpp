#include "app/ConsoleView.h"

#include <algorithm>
#include <cstdio>

#include "app/CommandLine.h"
#include "import/WorkList.h"

namespace tarnwick::app {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty() || from == to) return;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

using Clock = std::chrono::steady_clock;
constexpr auto kRedrawPause = std::chrono::milliseconds(100);

std::string Format(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// The table and file columns are as wide as their longest text (16 and 33 at least), so the
// number columns stay aligned.
struct TSummaryWidths {
    int Table = 16, File = 33;
};

std::string SummaryLine(const TSummaryWidths& widths, const std::string& table, const std::string& file,
                        const std::string& read, const std::string& inserted, const std::string& updated,
                        const std::string& skipped, const std::string& refused, const std::string& seconds) {
    return Format("%-*s %-*s %4s %9s %8s %8s %8s %9s", widths.Table, table.c_str(), widths.File, file.c_str(),
                  read.c_str(), inserted.c_str(), updated.c_str(), skipped.c_str(), refused.c_str(),
                  seconds.c_str());
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

void TConsoleView::TLiveBar::SetPosition(int position) {
    model_.SetPosition(position);
    view_.DrawLive(model_.Position(), model_.Max());
}

void TConsoleView::DrawLive(int position, int max) {
    if (!live_ || max <= 0) return;
    const auto now = Clock::now();
    if (liveShown_ && now - lastDrawn_ < kRedrawPause && position < max) return;
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - rowStarted_).count();
    std::string line = "\r" + liveTable_ + "  " + std::to_string(position) + " of " + std::to_string(max) + " records";
    if (seconds > 0 && position > 0) {
        const double rate = position / seconds;
        line += Format("  %.0f records/s  %.0f s left", rate, (max - position) / rate);
    }
    out_ << line << "\x1b[K" << std::flush;
    liveShown_ = true;
}

void TConsoleView::ClearLive() {
    if (!liveShown_) return;
    out_ << "\r\x1b[K";
    liveShown_ = false;
}

void TConsoleView::SayHistoryNotWritten(const std::string& text) {
    ClearLive();
    err_ << text << std::endl;
}

namespace {

std::string SummaryFile(const import::TRowResult& row) {
    return import::PrintableName(import::FileNameOf(row.Path)) + (row.Failed ? " (failed)" : "");
}

}  // namespace

void WriteSummary(std::ostream& out, const std::vector<import::TRowResult>& rows) {
    TSummaryWidths widths;
    for (const import::TRowResult& row : rows) {
        widths.Table = std::max(widths.Table, static_cast<int>(row.Table.size()));
        widths.File = std::max(widths.File, static_cast<int>(SummaryFile(row).size()));
    }
    out << SummaryLine(widths, "table", "file", "read", "inserted", "updated", "skipped", "refused", "seconds") << '\n';
    import::TRowResult total;
    for (const import::TRowResult& row : rows) {
        out << SummaryLine(widths, row.Table, SummaryFile(row),
                           std::to_string(row.Read), std::to_string(row.Inserted), std::to_string(row.Updated),
                           std::to_string(row.Skipped), std::to_string(row.Refused), Format("%.2f", row.Seconds))
            << '\n';
        total.Read += row.Read;
        total.Inserted += row.Inserted;
        total.Updated += row.Updated;
        total.Skipped += row.Skipped;
        total.Refused += row.Refused;
        total.Seconds += row.Seconds;
    }
    out << SummaryLine(widths, "total", std::to_string(rows.size()) + (rows.size() == 1 ? " file" : " files"),
                       std::to_string(total.Read), std::to_string(total.Inserted), std::to_string(total.Updated),
                       std::to_string(total.Skipped), std::to_string(total.Refused), Format("%.2f", total.Seconds))
        << '\n';
    if (total.Seconds > 0) out << Format("%.0f records per second", total.Read / total.Seconds) << '\n';
    else out << "records per second: -\n";
    out << std::flush;
}

void TConsoleView::RowReached(int row, const std::string& table, const std::string& path,
                              import::TRowOutcome outcome) {
    ClearLive();
    liveTable_ = table;
    rowStarted_ = Clock::now();
    out_ << "row " << row << "  " << (table.empty() ? "-" : import::PrintableName(table)) << "  "
         << import::PrintableName(import::FileNameOf(path));
    if (outcome == import::TRowOutcome::AlreadyDone) out_ << "  (done already)";
    if (outcome == import::TRowOutcome::NoRule) out_ << "  (no rule)";
    out_ << std::endl;
}

void TConsoleView::RuleFinished(int row, const std::string& table, const std::string& summary) {
    ClearLive();
    out_ << "row " << row << "  " << import::PrintableName(table) << ": " << WithNamesEscaped(summary) << std::endl;
}

void TConsoleView::SetCaption(const std::string& caption) {
    caption_ = caption;
    ClearLive();
    out_ << caption << std::endl;
}

void TConsoleView::ShowWarning(const std::string& text) {
    warnings_.push_back(text);
    ClearLive();
    err_ << WithNamesEscaped(text) << std::endl;
}

void TConsoleView::ShowNotice(TNotice notice, const std::string& text) {
    if (notice == TNotice::HandOffNotStarted) handOffFailed_ = true;
    if (notice == TNotice::AnotherImportRunning) busy_ = true;
    ShowWarning(text);
}

void TConsoleView::ShowError(const std::string& text) {
    errors_.push_back(text);
    ClearLive();
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
