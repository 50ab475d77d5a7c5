#pragma once
// Where a row's pieces go: the cell rectangles and the painting state of a tree-list row. Plain C++ so the
// geometry can be checked without painting.

#include "treelist/drawing_surface.h"

namespace mistvale {

// Horizontal and vertical facts of one row, in viewport pixels.
struct RowFrame {
    int textLeft = 0;   // left edge of the text area of column 0 (after indentation, check box and icon)
    int textTop = 0;    // top of the row
    int textBottom = 0; // bottom of the row (just outside)
    int rowEnd = 0;     // x of the end of the last column (start of the first column + sum of all widths)
    bool spanning = false;
};

// The rectangle handed to text drawing or to the cell drawer for `column` that starts at `columnStart`
// with `columnWidth` pixels: column 0 begins 1 pixel after the text's left edge, other columns 4 pixels
// after their start; a cell ends 5 pixels before its column's end, or 5 pixels before the end of the
// last column on a spanning row; top and bottom lie 1 pixel inside the row.
CellRect CellRectFor(const RowFrame& frame, int column, int columnStart, int columnWidth);

// Visual states of a row: 1 normal, 2 hot, 3 selected, 5 selected while the tree lacks the focus,
// 6 hot and selected.
enum RowState {
    kRowNormal = 1,
    kRowHot = 2,
    kRowSelected = 3,
    kRowSelectedNotFocused = 5,
    kRowHotSelected = 6
};

// The state from the item's selected / focus / hot flags and whether the tree window has the focus.
RowState RowStateFor(bool selected, bool focus, bool hot, bool treeHasFocus);

} // namespace mistvale
