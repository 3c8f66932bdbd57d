#pragma once
// An in-memory work-list grid: the grid of the unattended run and the model behind the window's
// grid. Cells outside the row count read as empty; writing beyond it is ignored. Row colours are
// kept apart from the cells and never reset: a rebuilt grid shows the colours of earlier walks.

#include <array>
#include <map>
#include <vector>

#include "import/ImportView.h"

namespace tarnwick::import {

class TWorkGrid : public IWorkGrid {
public:
    static constexpr int kColCount = 5;
    static constexpr int kDefaultColWidth = 64;

    TWorkGrid();

    int RowCount() const override { return static_cast<int>(rows_.size()); }
    void SetRowCount(int rows) override;
    int ColWidth(int col) const override;
    void SetColWidth(int col, int width) override;
    std::string Cell(int col, int row) const override;
    void SetCell(int col, int row, const std::string& text) override;
    bool HasRowColour(int row) const override;
    TColor RowColour(int row) const override;
    void SetRowColour(int row, TColor colour) override;

private:
    using Row = std::array<std::string, kColCount>;
    bool Inside(int col, int row) const;

    std::vector<Row> rows_;
    std::map<int, TColor> colours_;
    std::array<int, kColCount> widths_;
};

// A progress bar as plain numbers: the bars of the unattended run.
class TProgressModel : public IProgressBar {
public:
    int Max() const override { return max_; }
    void SetMax(int max) override { max_ = max; }
    int Position() const override { return position_; }
    void SetPosition(int position) override { position_ = position; }

private:
    int max_ = 100;
    int position_ = 0;
};

}  // namespace tarnwick::import
