#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "view.h"

namespace core {

// Escape counts of the picture on screen, indexed (column, row) with the
// column index fastest: cell (col, row) is element row * 801 + col.
class CountGrid {
public:
    CountGrid() : cells_(static_cast<size_t>(kPicSide) * kPicSide, 0) {}

    int32_t at(int col, int row) const { return cells_[index(col, row)]; }
    void set(int col, int row, int32_t count) { cells_[index(col, row)] = count; }
    void clear() { std::fill(cells_.begin(), cells_.end(), 0); }

    const std::vector<int32_t>& cells() const { return cells_; }

private:
    static size_t index(int col, int row) {
        return static_cast<size_t>(row) * kPicSide + static_cast<size_t>(col);
    }
    std::vector<int32_t> cells_;
};

}  // namespace core
