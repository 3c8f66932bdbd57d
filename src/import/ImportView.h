#pragma once
// What the import stage sees of the window: the work-list grid, the two text boxes' import side,
// the two progress bars and repainting. The window implements it on its controls; the unattended
// run implements it in memory and prints. Rules and the walk hold only references to a view that
// outlives them.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::import {

struct TColor {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
    bool operator==(const TColor&) const = default;
};
// The colour of a row that the walk has reached: red and green at full, no blue.
constexpr TColor clYellow{255, 255, 0};

// The work-list grid: columns 0 to 4, column 0 and row 0 fixed. Cells hold UTF-8 text; a row
// colour applies to the non-fixed cells (columns 1 to 4) of that row.
class IWorkGrid {
public:
    virtual ~IWorkGrid() = default;
    virtual int RowCount() const = 0;
    virtual void SetRowCount(int rows) = 0;
    virtual int ColWidth(int col) const = 0;
    virtual void SetColWidth(int col, int width) = 0;
    virtual std::string Cell(int col, int row) const = 0;
    virtual void SetCell(int col, int row, const std::string& text) = 0;
    virtual bool HasRowColour(int row) const = 0;
    virtual TColor RowColour(int row) const = 0;
    virtual void SetRowColour(int row, TColor colour) = 0;
};

class IProgressBar {
public:
    virtual ~IProgressBar() = default;
    virtual int Max() const = 0;
    virtual void SetMax(int max) = 0;
    virtual int Position() const = 0;
    virtual void SetPosition(int position) = 0;
};

// What the walk tells the view about a row it reaches.
enum class TRowOutcome {
    AlreadyDone,  // column 0 held the done mark: passed over
    NoRule,       // taken up; its table name matches no rule
    Rule,         // taken up; its rule runs next
};

// What one rule run did with its row's file, told once it ends (a failed run too). A bill's
// counts are its bills and their lines together.
struct TRowResult {
    int Row = 0;
    std::string Table;
    std::string Path;
    std::string Rule;  // "full replace", "keyed" or "bill"
    int Read = 0, Inserted = 0, Updated = 0, Skipped = 0, Refused = 0;
    double Seconds = 0;
    bool Failed = false;
};

class IImportView {
public:
    virtual ~IImportView() = default;
    // The lines of Memo1 as they stand (the user may have typed into it).
    virtual std::vector<std::string> Memo1Lines() const = 0;
    virtual void AppendMemo2(const std::string& line) = 0;
    virtual IWorkGrid& Grid() = 0;
    virtual IProgressBar& ProgressBar1() = 0;
    virtual IProgressBar& ProgressBar2() = 0;
    virtual void RepaintGrid() = 0;
    // Paints the whole window at once, without taking any input.
    virtual void RepaintWindow() = 0;

    // Progress notes for the unattended run; the window ignores them.
    virtual void RowReached(int /*row*/, const std::string& /*table*/, const std::string& /*path*/,
                            TRowOutcome /*outcome*/) {}
    virtual void RuleFinished(int /*row*/, const std::string& /*table*/, const std::string& /*summary*/) {}
    virtual void RowResult(const TRowResult& /*result*/) {}
};

}  // namespace tarnwick::import
