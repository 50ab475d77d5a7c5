#pragma once
// The cell drawer of the main window's tree-list: reads a source's register path ("register/format/min/max")
// and value and paints its graph, range or colour cell. Installed with TreeListView::SetCellDrawer.

#include "treelist/drawing_surface.h"
#include "treelist/tree_list_view.h"

#include <cstdint>

namespace mistvale {

enum ValueCellKind { kValueCellNone = 0, kValueCellGraph = 1, kValueCellRange = 2, kValueCellColor = 3 };

struct ValueCellSpec {
    ValueCellKind kind = kValueCellNone;
    std::int32_t min = 0;
    std::int32_t max = 100;
};

// Reads a register path of `length` units (or up to its zero when `length` < 0): the second "/"-token
// names the picture ("graph", "range", "color", any case), the third and fourth give min and max
// (read like "%u"; a missing or non-numeric token keeps 0 and 100; the fourth counts only when the third
// exists). Returns 1 with `layout` filled when the cell is to be painted, 0 when a token is missing, min
// equals max or the word is none of the three.
int ParseValueCellPath(const char16_t* path, int length, ValueCellSpec& layout);

// The drawer: `data` is the row's record (a Record*, see model/record.h). Anything it cannot use leaves
// the cell as the row painted it. A graph cell creates the source's sample history at its first painting.
void DrawValueCell(TreeItem item, void* data, int column, const CellRect& rect, DrawingSurface& surface,
                   void* context);

} // namespace mistvale
