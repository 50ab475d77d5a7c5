#pragma once
// Lets the model's rebuild (model/tree_rows.h, FillTreeRows) drive a TreeListView: each handler of the
// sink is the tree-list operation of the same name.

#include "model/tree_rows.h"

namespace mistvale {

class TreeListView;

// Fills every handler of `sink` with the operations of `view`, and the view as its context.
void MakeTreeSink(TreeListView& view, TreeSink& sink);

} // namespace mistvale
