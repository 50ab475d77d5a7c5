#pragma once

#include "platform/wide_string.h"

namespace mistvale {

class Group;
class LockedList;
class Record;
class Source;

// Icons of the tree rows (indexes in the tree-list's image list).
constexpr int kGroupIcon = 0;
constexpr int kSourceIcon = 1;

// The tree-list operations a rebuild uses, one handler each, all called on the user-interface
// thread with the sink's context. Items are opaque handles (nullptr: none); item data is the record.
struct TreeSink {
    void* context;
    void (*setRedraw)(void* context, int on);      // SetRedraw
    Record* (*getSelectedItemData)(void* context); // GetSelectedItemData (nullptr: no selection)
    void (*deleteAllItems)(void* context);         // DeleteAllItems
    // InsertItem at the end of parent's children (parent nullptr: the root); returns the item or nullptr.
    // The text is only valid during the call (the rebuild reuses its buffer): copy what is kept.
    void* (*insertItem)(void* context, void* parent, const WideString& text, int icon, int hasChildren,
                        Record* data);
    void (*expandItem)(void* context, void* item);              // ExpandItem (expand)
    void* (*findItemByData)(void* context, const Record* data); // FindItemByData (whole tree)
    void (*selectItem)(void* context, void* item);              // SelectItem (nullptr: none)
    void (*scrollItemToTop)(void* context, void* item);         // ScrollItemToTop
    // Optional, all three or none: with them a rebuild keeps the view as the user left it.
    // Tells note the record and expanded state (1 or 0) of every top-level row.
    void (*expandedRows)(void* context, void (*note)(const Record* data, int expanded, void* noteContext),
                         void* noteContext);
    int (*scrollPosition)(void* context);
    void (*setScrollPosition)(void* context, int position);
};

// 1 when the second "/"-token of a register path is "graph", "range" or "color" (any case): such a
// source's Value cell is drawn by the cell drawer instead of showing its text.
int IsDrawnSourcePath(const WideString& parameter);
// The same test on length units of text (up to a zero unit), examined in place without copies.
int IsDrawnSourcePath(const char16_t* text, int length);
// Row text of a group: its name followed by U+000B (the row spans both columns).
WideString GroupRowText(const Group& group);
// Row text of a source: name, TAB, U+000C for drawn cells; name, TAB, value text otherwise, and also
// for a drawn source whose last read or write failed.
WideString SourceRowText(const Source& source);
// The same row texts appended to text (which keeps its buffer), each field read under its lock.
void AppendGroupRowText(const Group& group, WideString& text);
void AppendSourceRowText(const Source& source, WideString& text);
// Refills the tree-list from the groups: redraw off, remember the selected record, delete all, one
// root item per group with its sources as children (expanded), reselect the remembered record (or
// nothing when it is gone) and scroll it to the top, redraw on. With the sink's view-keeping handlers,
// the view holds still instead: each group keeps its expanded or collapsed state (new groups open), the
// selection stays without scrolling, and the scroll position comes back, so rows never move under the
// pointer while values change. Takes the shared locks it needs.
void FillTreeRows(LockedList& groups, const TreeSink& sink);

} // namespace mistvale
