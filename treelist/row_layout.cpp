#include "treelist/row_layout.h"

namespace mistvale {

CellRect CellRectFor(const RowFrame& frame, int column, int columnStart, int columnWidth) {
    CellRect rect;
    rect.left = column == 0 ? frame.textLeft + 1 : columnStart + 4;
    rect.right = frame.spanning ? frame.rowEnd - 5 : columnStart + columnWidth - 5;
    rect.top = frame.textTop + 1;
    rect.bottom = frame.textBottom - 1;
    return rect;
}

RowState RowStateFor(bool selected, bool focus, bool hot, bool treeHasFocus) {
    // Focus alone reads as hot; together with selected it changes nothing.
    RowState state;
    if (selected && hot)
        state = kRowHotSelected;
    else if (selected)
        state = kRowSelected;
    else if (hot || focus)
        state = kRowHot;
    else
        state = kRowNormal;
    if (state == kRowSelected && !treeHasFocus)
        state = kRowSelectedNotFocused;
    return state;
}

} // namespace mistvale
