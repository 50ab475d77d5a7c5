#include "treelist/tree_sink_adapter.h"

#include "model/record.h"
#include "treelist/tree_list_view.h"

namespace mistvale {

namespace {

TreeListView& ViewOf(void* context) {
    return *static_cast<TreeListView*>(context);
}

void SetRedraw(void* context, int on) {
    ViewOf(context).SetRedraw(on != 0);
}

Record* GetSelectedItemData(void* context) {
    void* data = nullptr;
    if (!ViewOf(context).GetSelectedItemData(nullptr, &data))
        return nullptr;
    return static_cast<Record*>(data);
}

void DeleteAllItems(void* context) {
    ViewOf(context).DeleteAllItems();
}

void* InsertItem(void* context, void* parent, const WideString& text, int icon, int hasChildren,
                 Record* data) {
    return ViewOf(context).InsertItem(parent, TreeListView::InsertLast(), text.Text(), icon, icon,
                                      hasChildren, static_cast<void*>(data));
}

void ExpandItem(void* context, void* item) {
    ViewOf(context).ExpandItem(item, TreeListView::kExpand);
}

void* FindItemByData(void* context, const Record* data) {
    return ViewOf(context).FindItemByData(static_cast<const void*>(data), nullptr);
}

void SelectItem(void* context, void* item) {
    ViewOf(context).SelectItem(item);
}

void ScrollItemToTop(void* context, void* item) {
    ViewOf(context).ScrollItemToTop(item);
}

void ExpandedRows(void* context, void (*note)(const Record* data, int expanded, void* noteContext),
                  void* noteContext) {
    struct Relay {
        void (*note)(const Record*, int, void*);
        void* context;
    } relay{note, noteContext};
    ViewOf(context).ForEachTopLevelItem(
        [](void* data, int expanded, void* r) {
            Relay& to = *static_cast<Relay*>(r);
            to.note(static_cast<const Record*>(data), expanded, to.context);
        },
        &relay);
}

int ScrollPosition(void* context) {
    return ViewOf(context).ScrollPosition();
}

void SetScrollPosition(void* context, int position) {
    ViewOf(context).SetScrollPosition(position);
}

} // namespace

void MakeTreeSink(TreeListView& view, TreeSink& sink) {
    sink.context = &view;
    sink.setRedraw = &SetRedraw;
    sink.getSelectedItemData = &GetSelectedItemData;
    sink.deleteAllItems = &DeleteAllItems;
    sink.insertItem = &InsertItem;
    sink.expandItem = &ExpandItem;
    sink.findItemByData = &FindItemByData;
    sink.selectItem = &SelectItem;
    sink.scrollItemToTop = &ScrollItemToTop;
    sink.expandedRows = &ExpandedRows;
    sink.scrollPosition = &ScrollPosition;
    sink.setScrollPosition = &SetScrollPosition;
}

} // namespace mistvale
