#include "model/tree_rows.h"

#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"

namespace {
constexpr char16_t kSpanMark = u'\v'; // the group row spans both columns
constexpr char16_t kCellMark = u'\f'; // the cell drawer paints this column
constexpr char16_t kColumnSeparator = u'\t';
} // namespace

int IsDrawnSourcePath(const WideString& parameter) {
    WideString rest(parameter);
    WideString token;
    if (!rest.NextToken(token, u"/") || !rest.NextToken(token, u"/")) {
        return 0;
    }
    return token.CompareNoCase(u"graph") == 0 || token.CompareNoCase(u"range") == 0 ||
                   token.CompareNoCase(u"color") == 0
               ? 1
               : 0;
}

WideString GroupRowText(const Group& group) {
    // Built by appending rather than formatting, so a name holding '%' stays as typed.
    WideString text(group.Name());
    text.AppendChar(kSpanMark);
    return text;
}

WideString SourceRowText(const Source& source) {
    WideString text(source.Name());
    text.AppendChar(kColumnSeparator);
    if (IsDrawnSourcePath(source.Parameter())) {
        text.AppendChar(kCellMark);
    } else {
        text.Append(source.Value());
    }
    return text;
}

void FillTreeRows(LockedList& groups, const TreeSink& sink) {
    void* context = sink.context;
    if (sink.set_redraw != nullptr) {
        sink.set_redraw(context, 0);
    }
    Record* selected =
        sink.get_selected_item_data != nullptr ? sink.get_selected_item_data(context) : nullptr;
    if (sink.delete_all_items != nullptr) {
        sink.delete_all_items(context);
    }
    if (sink.insert_item != nullptr) {
        SharedLock groups_lock(groups);
        for (ListItem* group_item = groups.First(); group_item != nullptr; group_item = group_item->Next()) {
            Group* group = static_cast<Group*>(group_item);
            LockedList& sources = group->Sources();
            // The source list gets its own shared lock: another thread may append to it meanwhile.
            SharedLock sources_lock(sources);
            int has_children = sources.First() != nullptr ? 1 : 0;
            void* group_row = sink.insert_item(context, nullptr, GroupRowText(*group), kGroupIcon,
                                               has_children, static_cast<Record*>(group));
            if (group_row == nullptr) {
                continue; // this group with its sources is left out of this rebuild
            }
            for (ListItem* source_item = sources.First(); source_item != nullptr;
                 source_item = source_item->Next()) {
                Source* source = static_cast<Source*>(source_item);
                sink.insert_item(context, group_row, SourceRowText(*source), kSourceIcon, 0,
                                 static_cast<Record*>(source));
            }
            if (sink.expand_item != nullptr) {
                sink.expand_item(context, group_row);
            }
        }
    }
    void* item = nullptr;
    if (selected != nullptr && sink.find_item_by_data != nullptr) {
        item = sink.find_item_by_data(context, selected);
    }
    if (sink.select_item != nullptr) {
        sink.select_item(context, item);
    }
    if (item != nullptr && sink.scroll_item_to_top != nullptr) {
        sink.scroll_item_to_top(context, item);
    }
    if (sink.set_redraw != nullptr) {
        sink.set_redraw(context, 1);
    }
}
