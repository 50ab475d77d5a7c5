#pragma once
// TreeListView: a tree with columns on a QTreeView. Every item text follows the TAB / U+000B / U+000C
// convention (treelist/row_text.h); the control paints each row itself in one pass so the pieces line up
// under the header's columns, hands U+000C cells to the owner's cell drawer, routes the tree's events to
// plain handler functions with one owner context, and stores the header layout as 8 x N bytes.
//
// Everything runs on the thread that owns the widgets. Filling or emptying many items should happen with
// the redraw lock held (SetRedraw(false) ... SetRedraw(true)): the changes then reach the view as a single
// model reset and the tree repaints once at the end.

#include "treelist/drawing_surface.h"
#include "treelist/painter_surface.h"
#include "treelist/row_text_cache.h"

#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPen>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QStyleOptionViewItem>
#include <QTreeView>

#include <cstdint>
#include <vector>

class QAbstractItemDelegate;
class QHelpEvent;
class QByteArray;
class QPainter;
class QRect;
class QSettings;
class QItemSelectionModel;

namespace mistvale {

class TreeListModel;
class TreeListDelegate;

// An item of the tree; nullptr is "no item" (and, as a parent, the root).
using TreeItem = void*;

// What the item handlers receive: the item and its fields. The display-info handler may write a text of at
// most textCapacity - 1 units (zero-terminated) into text; the others must not write.
struct TreeListItemInfo {
    TreeItem item = nullptr;
    void* data = nullptr;
    int icon = -1;
    int selectedIcon = -1;
    int stateImage = 0;
    int hasChildren = 0;
    char16_t* text = nullptr;
    int textCapacity = 0;
};

typedef void (*TreeItemHandler)(TreeListItemInfo& info, void* context);
typedef void (*TreeInputHandler)(TreeItem item, void* context);
typedef void (*TreeKeyHandler)(int virtualKey, void* context);
// Paints a U+000C piece: the item, its data, the header column, the cell rectangle (viewport pixels) and
// the surface to draw on.
typedef void (*TreeCellDrawer)(TreeItem item, void* data, int column, const CellRect& rect,
                               DrawingSurface& surface, void* context);

// Whether a text piece of an item is drawn in the palette's disabled text colour (a value gone old):
// 1 dimmed, 0 normal.
typedef int (*TreeCellDimHandler)(TreeItem item, void* data, int column, void* context);
// The tooltip of a cell: writes it into text and returns 1, or returns 0 for none.
typedef int (*TreeToolTipHandler)(TreeItem item, void* data, int column, QString& text, void* context);

class TreeListView : public QObject {
public:
    // Option bits of Attach.
    static constexpr unsigned kOptionSystemIcons = 0x00000001;   // style icons instead of an own list
    static constexpr unsigned kOptionCheckBoxes = 0x00000002;    // check box in column 0
    static constexpr unsigned kOptionKeepCollapsed = 0x00000004; // collapsing keeps the children
    static constexpr unsigned kOptionKeepIcons = 0x00000008;     // DeleteAllItems keeps the icons
    static constexpr unsigned kOptionPlainHeader = 0x40000000;   // captions are not push buttons
    static constexpr unsigned kOptionGridLines = 0x80000000;     // edges between columns and rows

    // ExpandItem actions.
    static constexpr int kCollapse = 1;
    static constexpr int kExpand = 2;
    static constexpr int kToggle = 3;
    static constexpr int kCollapseReset = 0x8000; // with kCollapse: also removes the children

    // InsertItem positions besides a sibling item.
    static TreeItem InsertLast() { return nullptr; }
    // A handle no item has: all bits set, as the interface defines it.
    static TreeItem InsertFirst() {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): the interface's value, no address
        return reinterpret_cast<TreeItem>(~static_cast<std::uintptr_t>(0));
    }

    // GetItemInfo state bits: the state image in bits 12-15, selected 0x2, expanded 0x20.
    static constexpr unsigned kStateSelected = 0x0002;
    static constexpr unsigned kStateExpanded = 0x0020;
    static constexpr unsigned kStateImageMask = 0xF000;

    // Capacity of the text buffers of GetItemInfo and GetSelectedItemData, terminator included.
    static constexpr int kItemTextCapacity = 260;

    TreeListView();
    ~TreeListView() override;
    TreeListView(const TreeListView&) = delete;
    TreeListView& operator=(const TreeListView&) = delete;

    // Sets the control up on `tree` (not owned): own model, row painting, event routing, header style.
    // 0 when the tree is missing, cannot take a model of its own (a QTreeWidget), or already carries a
    // tree-list.
    int Attach(QTreeView* tree, unsigned options);
    // Undoes Attach: removes the event routing, deletes all items with redraw locked, gives the tree back
    // an empty model, drops the icons, and forgets the owner context and the item handlers.
    void Detach();
    QTreeView* Tree() const { return tree_; }

    void SetItemHandlers(TreeItemHandler displayInfo, TreeItemHandler expanding, TreeItemHandler collapsing,
                         TreeItemHandler deleting, TreeItemHandler selectionChanged, void* context);
    void SetInputHandlers(TreeInputHandler click, TreeInputHandler rightClick, TreeInputHandler doubleClick,
                          TreeInputHandler returnKey, TreeKeyHandler keyDown);
    // Ctrl+C (the platform's copy keys) on the control calls copy with the selected item instead of
    // copying its first column's text; nullptr restores that.
    void SetCopyHandler(TreeInputHandler copy) { copyKey_ = copy; }
    void SetCellDrawer(TreeCellDrawer drawer);
    TreeCellDrawer CellDrawer() const { return cellDrawer_; }
    // Per-cell look and tooltip, asked with the owner context; nullptr for none.
    void SetCellHandlers(TreeCellDimHandler dim, TreeToolTipHandler toolTip);
    // Extended style bits are kept for the owner to read back; double buffering is what Qt always does.
    // Returns the previous bits.
    unsigned SetExtendedStyle(unsigned mask, unsigned style);
    unsigned ExtendedStyle() const { return extendedStyle_; }

    // Appends an icon to the image list; returns its index or -1.
    int AddIcon(const QIcon& icon);

    // Inserts a header column. `width` is given for 96 DPI and scaled by the screen's horizontal DPI / 96
    // (fraction cut off). format: 0 left, 1 right, 2 centred caption. Returns the new index or -1.
    int InsertColumn(const char16_t* caption, int index, int width, int format);
    int ColumnCount() const;

    // Inserts an item below `parent` (nullptr: top level) after `after` (a sibling, InsertLast() or
    // InsertFirst()). A null `text` asks the display-info handler for the text at each painting.
    // Returns the item or nullptr.
    TreeItem InsertItem(TreeItem parent, TreeItem after, const char16_t* text, int icon, int selectedIcon,
                        int hasChildren, void* data);
    // Deletes every item; unless option 0x8 or 0x1 is set, also empties the image list. Returns 1.
    int DeleteAllItems();

    // 1 when `item` exists. The optional outputs receive its text (at most 259 units and a zero, into a
    // buffer of kItemTextCapacity units), data, icons, state (masked with stateMask) and has-children.
    int GetItemInfo(TreeItem item, char16_t* text, void** data, int* icon, int* selectedIcon, unsigned* state,
                    unsigned stateMask, int* hasChildren) const;
    // Reads the selected (caret) item: 1 and its text/data when there is one; else 0, *data = nullptr.
    int GetSelectedItemData(char16_t* text, void** data) const;
    TreeItem GetSelectedItem() const;
    // The first item, in pre-order below `start` (nullptr: the whole tree), whose data is `data`.
    TreeItem FindItemByData(const void* data, TreeItem start = nullptr) const;
    // Makes `item` the selected (caret) item; nullptr clears the selection. 1 on success.
    int SelectItem(TreeItem item);
    // Makes `item` the first visible row. 1 on success.
    int ScrollItemToTop(TreeItem item);
    // kExpand, kCollapse (optionally | kCollapseReset) or kToggle. 1 on success.
    int ExpandItem(TreeItem item, int action);
    int IsItemExpanded(TreeItem item) const;
    // Calls visit with the data and expanded state (1 or 0) of each top-level item, in order.
    void ForEachTopLevelItem(void (*visit)(void* data, int expanded, void* context), void* context) const;
    // The vertical scroll position, and setting it back (after a batch, once its rows are laid out).
    int ScrollPosition() const;
    void SetScrollPosition(int position);
    // Scrolls as little as needed to show `item`. 1 on success.
    int EnsureItemVisible(TreeItem item);

    // Nested redraw lock: off counts up and stops painting at the first; on counts down and, at 0,
    // repaints the whole tree at once. An on without an off does nothing.
    void SetRedraw(bool on);
    int RedrawLockCount() const { return redrawLock_; }

    // The header layout: N little-endian 32-bit column indexes in display order, then N widths in pixels
    // (8 x N bytes). SaveColumns returns 0 (and leaves `bytes` alone) when there are no columns.
    int SaveColumns(QByteArray& bytes) const;
    // Applies a layout of exactly 8 x N bytes for the present N (with redraw locked); any other value is
    // ignored (0). An order that is not a permutation of the columns is not applied; negative widths are
    // skipped and widths are capped at kMaxColumnWidth.
    int LoadColumns(const QByteArray& bytes);
    // The same in a settings store under `name` (a byte array value; anything else is ignored).
    int SaveColumns(QSettings& settings, const QString& name) const;
    int LoadColumns(QSettings& settings, const QString& name);
    static constexpr int kMaxColumnWidth = 32767;

    int IsItemChecked(TreeItem item) const;

    // The rectangle the row painting uses for `column` of `item` (viewport pixels); 0 when the item is not
    // shown or the column does not exist.
    int GetCellRect(TreeItem item, int column, CellRect& rect) const;
    // Number of row-painting passes so far (one per paint of the tree's viewport).
    int PaintCount() const { return paintCount_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int NodeOf(TreeItem item) const;
    TreeItem ItemOf(int node) const;
    int SelectedNode() const;
    void BeforeStructureChange();
    void FinishBatch();
    void FillInfo(int node, TreeListItemInfo& info) const;
    // The owner's text of a callback-text item, into a buffer of kItemTextCapacity units ("" without
    // a display-info handler).
    void AskItemText(int node, char16_t* text) const;
    void CallItemHandler(TreeItemHandler handler, int node);
    static void OnNodeDeleted(int node, void* context);
    void OnExpanded(int node);
    void OnCollapsed(int node);
    void OnSelectionChanged();
    void PaintRows(QPainter& painter, const QRect& exposed);
    void PaintRow(QPainter& painter, int node, const QRect& itemRect);
    const QPen& TextPen(const QColor& color);
    const QImage& BranchIndicator(bool open, int width, int height, qreal ratio);
    int LeadingWidth() const;
    int CheckBoxSize(int rowHeight) const;
    bool HitCheckBox(int node, const QPoint& pos) const;
    void ToggleCheck(int node);
    void UpdateNodeRow(int node);
    bool HandleKey(QKeyEvent* event);
    bool ShowToolTip(QHelpEvent* event);
    void DetachViewConnections();

    QPointer<QTreeView> tree_;
    QObject* treeObject_ = nullptr;     // for address comparisons only
    QObject* viewportObject_ = nullptr; // for address comparisons only
    TreeListModel* model_ = nullptr;
    TreeListDelegate* delegate_ = nullptr;
    QPointer<QAbstractItemDelegate> previousDelegate_;
    std::vector<QMetaObject::Connection> connections_;
    unsigned options_ = 0;
    unsigned extendedStyle_ = 0;
    int redrawLock_ = 0;
    int paintCount_ = 0;
    std::uintptr_t handleBase_ = 0;
    // Selection and scroll wishes made while a batched reset is pending, applied when it ends.
    int batchSelected_ = -1;
    int batchScroll_ = -1;
    int batchScrollPosition_ = -1; // a scroll position to restore when the batch ends
    int lastReportedSelection_ = -2;
    int hotNode_ = -1;
    bool ignoreSelectionSignals_ = false;

    void* context_ = nullptr;
    TreeItemHandler displayInfo_ = nullptr;
    TreeItemHandler expanding_ = nullptr;
    TreeItemHandler collapsing_ = nullptr;
    TreeItemHandler deleting_ = nullptr;
    TreeItemHandler selectionChanged_ = nullptr;
    TreeInputHandler click_ = nullptr;
    TreeInputHandler rightClick_ = nullptr;
    TreeInputHandler doubleClick_ = nullptr;
    TreeInputHandler returnKey_ = nullptr;
    TreeKeyHandler keyDown_ = nullptr;
    TreeInputHandler copyKey_ = nullptr;
    TreeCellDrawer cellDrawer_ = nullptr;
    TreeCellDimHandler cellDim_ = nullptr;
    TreeToolTipHandler toolTip_ = nullptr;

    std::vector<QPixmap> icons_;
    int iconSize_ = 16;
    PainterSurface surface_;
    QStyleOptionViewItem panelOption_;
    RowTextCache textCache_;
    static constexpr int kTextPenCount = 4;
    QPen textPens_[kTextPenCount];
    int nextTextPen_ = 0;
    struct BranchPixmap {
        QImage image; // not a pixmap: the view may exist before the application object
        int width = 0;
        int height = 0;
        qreal ratio = 0;
        qint64 paletteKey = 0;
        const QStyle* style = nullptr;
    };
    BranchPixmap branchPixmaps_[2]; // closed, open
};

} // namespace mistvale
