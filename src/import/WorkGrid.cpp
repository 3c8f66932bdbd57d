#include "import/WorkGrid.h"

namespace tarnwick::import {

// A fresh grid has its fixed row only.
TWorkGrid::TWorkGrid() : rows_(1) { widths_.fill(kDefaultColWidth); }

void TWorkGrid::SetRowCount(int rows) { rows_.resize(rows < 1 ? 1 : static_cast<std::size_t>(rows)); }

int TWorkGrid::ColWidth(int col) const {
    return col >= 0 && col < kColCount ? widths_[static_cast<std::size_t>(col)] : 0;
}

void TWorkGrid::SetColWidth(int col, int width) {
    if (col >= 0 && col < kColCount) widths_[static_cast<std::size_t>(col)] = width;
}

bool TWorkGrid::Inside(int col, int row) const {
    return col >= 0 && col < kColCount && row >= 0 && row < RowCount();
}

std::string TWorkGrid::Cell(int col, int row) const {
    return Inside(col, row) ? rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)]
                            : std::string();
}

void TWorkGrid::SetCell(int col, int row, const std::string& text) {
    if (Inside(col, row)) rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = text;
}

bool TWorkGrid::HasRowColour(int row) const { return colours_.count(row) != 0; }

TColor TWorkGrid::RowColour(int row) const {
    const auto it = colours_.find(row);
    return it == colours_.end() ? TColor{} : it->second;
}

void TWorkGrid::SetRowColour(int row, TColor colour) {
    if (row > 0) colours_[row] = colour;
}

}  // namespace tarnwick::import
