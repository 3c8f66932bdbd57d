#pragma once
// The run history: import.log beside the program, one tab-separated UTF-8 line per event, only
// ever appended to. A run writes a start line, a line per work-list row as it finishes, and an
// end line. Once the file passes its size limit, the next run first moves the older half of its
// lines to import.log.1 (replacing what was there), so the history never grows without bound.
// A history that cannot be written never stops a run: the first failure is told once through
// the notice given to SetOnNotWritten, and later lines are not attempted.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "import/ImportView.h"

namespace tarnwick::app {

// How a run ended, for its end line.
struct TRunEnd {
    std::string Result;   // "complete", "warning" (stopped by a warning) or "failure"
    std::string Message;  // the warning or failure text; a completed run's warning too
    int ExitCode = -1;    // of an unattended run; -1 for the window
    int FilesDeleted = 0;
    bool HandedOff = false;
};

class TRunHistory {
public:
    static constexpr std::uintmax_t kDefaultLimit = 2 * 1024 * 1024;
    static constexpr std::string_view kFileName = "import.log";

    // `folder`: the program's folder.
    explicit TRunHistory(const std::string& folder, std::uintmax_t limit = kDefaultLimit);

    const std::string& Path() const { return path_; }
    void SetOnNotWritten(std::function<void(const std::string&)> notice) { notice_ = std::move(notice); }
    bool Failed() const { return failed_; }

    // `how`: "window", "run", "list" or "check".
    void RunStarted(std::string_view how);
    void RowFinished(const import::TRowResult& row);
    // A row the walk passed over: `outcome` is "no rule" or "done already".
    void RowPassed(int row, const std::string& path, const std::string& table, std::string_view outcome);
    void RunEnded(const TRunEnd& end);

private:
    void Append(const std::string& line);
    void MoveOlderHalf();
    void NotWritten(const std::string& reason);

    std::string path_;
    std::uintmax_t limit_;
    std::function<void(const std::string&)> notice_;
    bool failed_ = false;
};

// The text told once when the history cannot be written.
std::string HistoryNotWrittenText(const std::string& path, const std::string& reason);

}  // namespace tarnwick::app
