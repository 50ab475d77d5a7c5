#include "treelist/tree_list_view.h"

#include "treelist/row_layout.h"
#include "treelist/row_text.h"
#include "treelist/tree_list_model.h"
#include "treelist/virtual_keys.h"

#include <QApplication>
#include <QByteArray>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTreeView>
#include <QTreeWidget>

#include <cstring>

namespace mistvale {

// Gives every row the same height; the rows themselves are painted by TreeListView.
class TreeListDelegate : public QStyledItemDelegate {
public:
    explicit TreeListDelegate(QObject* parent) : QStyledItemDelegate(parent) {}
    void SetRowHeight(int height) { rowHeight_ = height; }
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return QSize(1, rowHeight_);
    }

private:
    int rowHeight_ = 18;
};

namespace {

// The dynamic property that marks a tree as carrying a tree-list, one name per kind of extension so that
// kinds can be stacked but the same kind is never installed twice.
constexpr unsigned kTreeSubclassTag = 0x74726D63; // "trmc"

QByteArray SubclassPropertyName(unsigned tag) {
    char name[64];
    std::snprintf(name, sizeof name, "_C_SubClassing_Property_%08X", tag);
    return QByteArray(name);
}

constexpr int kMinimumRowHeight = 18;

int CopyText(const QString& text, char16_t* out) {
    int length = static_cast<int>(text.size());
    if (length > kMaxPaintedText)
        length = kMaxPaintedText;
    std::memcpy(out, text.utf16(), sizeof(char16_t) * static_cast<size_t>(length));
    out[length] = 0;
    return length;
}

} // namespace

TreeListView::TreeListView() = default;

TreeListView::~TreeListView() {
    Detach();
}

int TreeListView::Attach(QTreeView* tree, unsigned options) {
    if (!tree || tree_ || qobject_cast<QTreeWidget*>(tree))
        return 0;
    const QByteArray property = SubclassPropertyName(kTreeSubclassTag);
    if (tree->property(property.constData()).isValid())
        return 0; // another tree-list already drives this tree
    tree->setProperty(property.constData(), QVariant::fromValue(reinterpret_cast<quintptr>(this)));

    tree_ = tree;
    options_ = options;
    model_ = new TreeListModel(this);
    model_->SetCheckable((options & kOptionCheckBoxes) != 0);
    delegate_ = new TreeListDelegate(this);
    const int rowHeight = std::max(kMinimumRowHeight, tree->fontMetrics().height() + 2);
    delegate_->SetRowHeight(rowHeight);
    model_->SetRowHeight(rowHeight);
    iconSize_ = tree->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, tree);

    QItemSelectionModel* oldSelection = tree->selectionModel();
    previousDelegate_ = tree->itemDelegate();
    tree->setModel(model_);
    if (oldSelection && oldSelection != tree->selectionModel() && oldSelection->parent() != this)
        oldSelection->deleteLater();
    tree->setItemDelegate(delegate_);
    tree->setUniformRowHeights(true);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setAllColumnsShowFocus(true);
    tree->viewport()->setMouseTracking(true); // hot rows follow the mouse

    QHeaderView* header = tree->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    header->setSectionsClickable((options & kOptionPlainHeader) == 0);
    header->setFont(tree->font());
    header->setSectionResizeMode(QHeaderView::Interactive);

    // Cells follow a column while it is dragged or moved.
    connections_.push_back(QObject::connect(
        header, &QHeaderView::sectionResized, this,
        [this] {
            if (tree_)
                tree_->viewport()->update();
        }));
    connections_.push_back(QObject::connect(
        header, &QHeaderView::sectionMoved, this,
        [this] {
            if (tree_)
                tree_->viewport()->update();
        }));
    connections_.push_back(QObject::connect(
        tree, &QTreeView::expanded, this,
        [this](const QModelIndex& index) { OnExpanded(TreeListModel::NodeOf(index)); }));
    connections_.push_back(QObject::connect(
        tree, &QTreeView::collapsed, this,
        [this](const QModelIndex& index) { OnCollapsed(TreeListModel::NodeOf(index)); }));
    connections_.push_back(QObject::connect(
        tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this] { OnSelectionChanged(); }));
    connections_.push_back(QObject::connect(tree->selectionModel(), &QItemSelectionModel::selectionChanged,
                                            this, [this] { OnSelectionChanged(); }));

    treeObject_ = tree;
    viewportObject_ = tree->viewport();
    tree->installEventFilter(this);
    tree->viewport()->installEventFilter(this);
    return 1;
}

void TreeListView::DetachViewConnections() {
    for (QMetaObject::Connection& connection : connections_)
        QObject::disconnect(connection);
    connections_.clear();
}

void TreeListView::Detach() {
    if (!model_)
        return;
    QTreeView* tree = tree_;
    if (tree) {
        tree->removeEventFilter(this);
        tree->viewport()->removeEventFilter(this);
    }
    DetachViewConnections();
    SetRedraw(false);
    DeleteAllItems();
    SetRedraw(true);
    redrawLock_ = 0;
    if (tree) {
        tree->setProperty(SubclassPropertyName(kTreeSubclassTag).constData(), QVariant());
        QItemSelectionModel* selection = tree->selectionModel();
        tree->setModel(nullptr);
        if (selection)
            selection->deleteLater();
        if (previousDelegate_)
            tree->setItemDelegate(previousDelegate_);
        tree->viewport()->setUpdatesEnabled(true);
    }
    icons_.clear();
    delete model_;
    model_ = nullptr;
    delete delegate_;
    delegate_ = nullptr;
    tree_ = nullptr;
    treeObject_ = nullptr;
    viewportObject_ = nullptr;
    context_ = nullptr;
    displayInfo_ = expanding_ = collapsing_ = deleting_ = selectionChanged_ = nullptr;
    cellDim_ = nullptr;
    toolTip_ = nullptr;
    hotNode_ = -1;
    batchSelected_ = batchScroll_ = -1;
    lastReportedSelection_ = -2;
}

void TreeListView::SetItemHandlers(TreeItemHandler displayInfo, TreeItemHandler expanding,
                                   TreeItemHandler collapsing, TreeItemHandler deleting,
                                   TreeItemHandler selectionChanged, void* context) {
    displayInfo_ = displayInfo;
    expanding_ = expanding;
    collapsing_ = collapsing;
    deleting_ = deleting;
    selectionChanged_ = selectionChanged;
    context_ = context;
}

void TreeListView::SetInputHandlers(TreeInputHandler click, TreeInputHandler rightClick,
                                    TreeInputHandler doubleClick, TreeInputHandler returnKey,
                                    TreeKeyHandler keyDown) {
    click_ = click;
    rightClick_ = rightClick;
    doubleClick_ = doubleClick;
    returnKey_ = returnKey;
    keyDown_ = keyDown;
}

void TreeListView::SetCellDrawer(TreeCellDrawer drawer) {
    cellDrawer_ = drawer;
}

void TreeListView::SetCellHandlers(TreeCellDimHandler dim, TreeToolTipHandler toolTip) {
    cellDim_ = dim;
    toolTip_ = toolTip;
}

unsigned TreeListView::SetExtendedStyle(unsigned mask, unsigned style) {
    const unsigned previous = extendedStyle_;
    extendedStyle_ = (extendedStyle_ & ~mask) | (style & mask);
    return previous;
}

int TreeListView::AddIcon(const QIcon& icon) {
    if (!tree_ || icon.isNull())
        return -1;
    QPixmap pixmap = icon.pixmap(QSize(iconSize_, iconSize_), tree_->devicePixelRatioF());
    if (pixmap.isNull())
        return -1;
    icons_.push_back(pixmap);
    if (tree_)
        tree_->viewport()->update();
    return static_cast<int>(icons_.size()) - 1;
}

int TreeListView::InsertColumn(const char16_t* caption, int index, int width, int format) {
    if (!tree_ || !model_)
        return -1;
    const int dpi = tree_->logicalDpiX();
    const long long scaled = static_cast<long long>(width) * dpi / 96;
    const int inserted =
        model_->InsertColumn(index, caption ? QString::fromUtf16(caption) : QString(), format);
    if (inserted < 0)
        return -1;
    if (model_->ResetPending())
        return inserted; // the header follows at the end of the batch; see FinishBatch
    tree_->header()->resizeSection(inserted,
                                   static_cast<int>(std::clamp<long long>(scaled, 0, kMaxColumnWidth)));
    return inserted;
}

int TreeListView::ColumnCount() const {
    return model_ ? model_->ColumnCount() : 0;
}

int TreeListView::NodeOf(TreeItem item) const {
    if (!model_ || !item)
        return -1;
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(item);
    if (value <= handleBase_ || value == reinterpret_cast<std::uintptr_t>(InsertFirst()))
        return -1;
    const std::uintptr_t node = value - handleBase_ - 1;
    if (node >= static_cast<std::uintptr_t>(model_->NodeCount()))
        return -1;
    return model_->IsNode(static_cast<int>(node)) ? static_cast<int>(node) : -1;
}

TreeItem TreeListView::ItemOf(int node) const {
    if (node < 0)
        return nullptr;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle is a number, never dereferenced
    return reinterpret_cast<TreeItem>(handleBase_ + static_cast<std::uintptr_t>(node) + 1);
}

int TreeListView::SelectedNode() const {
    if (!tree_ || !model_)
        return -1;
    if (model_->ResetPending())
        return batchSelected_;
    const QModelIndex current =
        tree_->selectionModel() ? tree_->selectionModel()->currentIndex() : QModelIndex();
    if (!current.isValid() || !tree_->selectionModel()->isSelected(current.siblingAtColumn(0)))
        return -1;
    const int node = TreeListModel::NodeOf(current);
    return model_->IsNode(node) ? node : -1;
}

void TreeListView::BeforeStructureChange() {
    // The first structural change of a batch starts the model reset; the view's selection is read now,
    // while it still describes the items.
    if (model_->InBatch() && !model_->ResetPending()) {
        batchSelected_ = SelectedNode();
        batchScroll_ = -1;
    }
}

TreeItem TreeListView::InsertItem(TreeItem parent, TreeItem after, const char16_t* text, int icon,
                                  int selectedIcon, int hasChildren, void* data) {
    if (!model_)
        return nullptr;
    const int parentNode = parent ? NodeOf(parent) : -1;
    if (parent && parentNode < 0)
        return nullptr;
    int afterNode = TreeListModel::kInsertLast;
    if (after == InsertFirst()) {
        afterNode = TreeListModel::kInsertFirst;
    } else if (after) {
        afterNode = NodeOf(after);
        if (afterNode < 0)
            return nullptr;
    }
    BeforeStructureChange();
    const bool checkBoxes = (options_ & kOptionCheckBoxes) != 0;
    const int node = model_->Insert(parentNode, afterNode, text ? QString::fromUtf16(text) : QString(), !text,
                                    icon, selectedIcon, hasChildren != 0, data, checkBoxes ? 1 : 0);
    return ItemOf(node);
}

void TreeListView::OnNodeDeleted(int node, void* context) {
    TreeListView* self = static_cast<TreeListView*>(context);
    self->CallItemHandler(self->deleting_, node);
}

int TreeListView::DeleteAllItems() {
    if (!model_)
        return 0;
    BeforeStructureChange();
    model_->Clear(deleting_ ? &TreeListView::OnNodeDeleted : nullptr, this);
    // Handles of the deleted items never come back: the next items count on from here.
    handleBase_ += static_cast<std::uintptr_t>(1) << 32;
    batchSelected_ = -1;
    batchScroll_ = -1;
    batchScrollPosition_ = -1;
    hotNode_ = -1;
    if (!(options_ & (kOptionKeepIcons | kOptionSystemIcons)))
        icons_.clear();
    return 1;
}

void TreeListView::FillInfo(int node, TreeListItemInfo& info) const {
    const TreeListNode& n = model_->Node(node);
    info.item = ItemOf(node);
    info.data = n.data;
    info.icon = n.icon;
    info.selectedIcon = n.selectedIcon;
    info.stateImage = n.stateImage;
    info.hasChildren = (n.hasChildren || !n.children.empty()) ? 1 : 0;
}

void TreeListView::CallItemHandler(TreeItemHandler handler, int node) {
    if (!handler || !model_ || !model_->IsNode(node))
        return;
    TreeListItemInfo info;
    FillInfo(node, info);
    handler(info, context_);
}

int TreeListView::GetItemInfo(TreeItem item, char16_t* text, void** data, int* icon, int* selectedIcon,
                              unsigned* state, unsigned stateMask, int* hasChildren) const {
    const int node = NodeOf(item);
    if (node < 0)
        return 0;
    const TreeListNode& n = model_->Node(node);
    if (text) {
        if (n.callbackText && displayInfo_)
            AskItemText(node, text);
        else
            CopyText(n.text, text);
    }
    if (data)
        *data = n.data;
    if (icon)
        *icon = n.icon;
    if (selectedIcon)
        *selectedIcon = n.selectedIcon;
    if (state) {
        unsigned bits = static_cast<unsigned>(n.stateImage & 0xF) << 12;
        if (SelectedNode() == node)
            bits |= kStateSelected;
        if (n.expanded)
            bits |= kStateExpanded;
        *state = bits & stateMask;
    }
    if (hasChildren)
        *hasChildren = (n.hasChildren || !n.children.empty()) ? 1 : 0;
    return 1;
}

void TreeListView::AskItemText(int node, char16_t* text) const {
    text[0] = 0;
    if (!displayInfo_)
        return;
    TreeListItemInfo info;
    FillInfo(node, info);
    info.text = text;
    info.textCapacity = kItemTextCapacity;
    displayInfo_(info, context_);
    text[kItemTextCapacity - 1] = 0;
}

TreeItem TreeListView::GetSelectedItem() const {
    return ItemOf(SelectedNode());
}

int TreeListView::GetSelectedItemData(char16_t* text, void** data) const {
    const TreeItem item = GetSelectedItem();
    if (!item) {
        if (data)
            *data = nullptr;
        if (text)
            text[0] = 0;
        return 0;
    }
    return GetItemInfo(item, text, data, nullptr, nullptr, nullptr, 0, nullptr);
}

TreeItem TreeListView::FindItemByData(const void* data, TreeItem start) const {
    if (!model_)
        return nullptr;
    const int startNode = start ? NodeOf(start) : -1;
    if (start && startNode < 0)
        return nullptr;
    return ItemOf(model_->FindByData(data, startNode));
}

int TreeListView::SelectItem(TreeItem item) {
    if (!tree_ || !model_)
        return 0;
    const int node = item ? NodeOf(item) : -1;
    if (item && node < 0)
        return 0;
    if (model_->ResetPending()) {
        batchSelected_ = node;
        return 1;
    }
    QItemSelectionModel* selection = tree_->selectionModel();
    if (node < 0) {
        selection->clear();
        return 1;
    }
    // The parents open so the selected row can be seen, as a tree does for its caret item.
    for (int parent = model_->Node(node).parent; parent >= 0; parent = model_->Node(parent).parent)
        if (!model_->Node(parent).expanded)
            tree_->expand(model_->IndexOf(parent));
    selection->setCurrentIndex(model_->IndexOf(node),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return 1;
}

int TreeListView::ScrollItemToTop(TreeItem item) {
    const int node = NodeOf(item);
    if (node < 0 || !tree_)
        return 0;
    if (model_->ResetPending()) {
        batchScroll_ = node;
        return 1;
    }
    tree_->scrollTo(model_->IndexOf(node), QAbstractItemView::PositionAtTop);
    return 1;
}

int TreeListView::ExpandItem(TreeItem item, int action) {
    const int node = NodeOf(item);
    if (node < 0 || !tree_)
        return 0;
    TreeListNode& n = model_->Node(node);
    const int kind = action & 3;
    bool expand;
    if (kind == kExpand)
        expand = true;
    else if (kind == kCollapse)
        expand = false;
    else if (kind == kToggle)
        expand = !n.expanded;
    else
        return 0;
    if (!expand && (action & kCollapseReset)) {
        BeforeStructureChange();
        model_->RemoveChildren(node, deleting_ ? &TreeListView::OnNodeDeleted : nullptr, this);
    }
    if (model_->ResetPending()) {
        // Applied to the view with the reset; the handlers hear of it then.
        n.expanded = expand;
        return 1;
    }
    if (expand)
        tree_->expand(model_->IndexOf(node));
    else
        tree_->collapse(model_->IndexOf(node));
    return 1;
}

int TreeListView::IsItemExpanded(TreeItem item) const {
    const int node = NodeOf(item);
    return node >= 0 && model_->Node(node).expanded ? 1 : 0;
}

void TreeListView::ForEachTopLevelItem(void (*visit)(void* data, int expanded, void* context),
                                       void* context) const {
    if (!model_)
        return;
    for (int node : model_->TopLevel())
        if (model_->IsNode(node))
            visit(model_->Node(node).data, model_->Node(node).expanded ? 1 : 0, context);
}

int TreeListView::ScrollPosition() const {
    return tree_ ? tree_->verticalScrollBar()->value() : 0;
}

void TreeListView::SetScrollPosition(int position) {
    if (!tree_ || position < 0)
        return;
    if (model_ && model_->ResetPending()) {
        batchScrollPosition_ = position;
        return;
    }
    tree_->verticalScrollBar()->setValue(position);
}

int TreeListView::EnsureItemVisible(TreeItem item) {
    const int node = NodeOf(item);
    if (node < 0 || !tree_)
        return 0;
    tree_->scrollTo(model_->IndexOf(node), QAbstractItemView::EnsureVisible);
    return 1;
}

void TreeListView::OnExpanded(int node) {
    if (!model_ || !model_->IsNode(node))
        return;
    model_->Node(node).expanded = true;
    CallItemHandler(expanding_, node);
}

void TreeListView::OnCollapsed(int node) {
    if (!model_ || !model_->IsNode(node))
        return;
    model_->Node(node).expanded = false;
    CallItemHandler(collapsing_, node);
    if (!(options_ & kOptionKeepCollapsed) && model_->IsNode(node)) {
        BeforeStructureChange();
        model_->RemoveChildren(node, deleting_ ? &TreeListView::OnNodeDeleted : nullptr, this);
    }
}

void TreeListView::OnSelectionChanged() {
    if (!model_ || model_->ResetPending() || ignoreSelectionSignals_)
        return;
    const int node = SelectedNode();
    if (node == lastReportedSelection_)
        return;
    lastReportedSelection_ = node;
    if (node >= 0)
        CallItemHandler(selectionChanged_, node);
}

void TreeListView::FinishBatch() {
    const int selected = batchSelected_;
    const int scroll = batchScroll_;
    if (!model_->EndBatch())
        return;
    // The reset dropped the view's expansion, selection and column sizes: give them back.
    ignoreSelectionSignals_ = true;
    for (int node = 0; node < model_->NodeCount(); ++node)
        if (model_->IsNode(node) && model_->Node(node).expanded)
            tree_->setExpanded(model_->IndexOf(node), true);
    ignoreSelectionSignals_ = false;
    lastReportedSelection_ = -2;
    if (selected >= 0 && model_->IsNode(selected))
        SelectItem(ItemOf(selected));
    else
        OnSelectionChanged();
    if (scroll >= 0 && model_->IsNode(scroll))
        tree_->scrollTo(model_->IndexOf(scroll), QAbstractItemView::PositionAtTop);
    if (batchScrollPosition_ >= 0) {
        // The rows are laid out again first, so that the position means the same rows as before.
        tree_->doItemsLayout();
        tree_->verticalScrollBar()->setValue(batchScrollPosition_);
    }
    batchSelected_ = -1;
    batchScroll_ = -1;
    batchScrollPosition_ = -1;
}

void TreeListView::SetRedraw(bool on) {
    if (!on) {
        ++redrawLock_;
        if (redrawLock_ == 1) {
            if (tree_)
                tree_->viewport()->setUpdatesEnabled(false);
            if (model_)
                model_->BeginBatch();
        }
        return;
    }
    if (redrawLock_ == 0)
        return;
    --redrawLock_;
    if (redrawLock_ > 0)
        return;
    if (model_ && tree_)
        FinishBatch();
    else if (model_)
        model_->EndBatch();
    if (tree_) {
        tree_->viewport()->setUpdatesEnabled(true);
        // The view's own posted layout runs now, so the one repaint below shows the final rows.
        tree_->doItemsLayout();
        tree_->viewport()->repaint();
    }
}

int TreeListView::IsItemChecked(TreeItem item) const {
    const int node = NodeOf(item);
    return node >= 0 && model_->Node(node).stateImage == 2 ? 1 : 0;
}

void TreeListView::ToggleCheck(int node) {
    TreeListNode& n = model_->Node(node);
    if (n.stateImage == 1 || n.stateImage == 2) {
        n.stateImage = n.stateImage == 1 ? 2 : 1;
        model_->NotifyNodeChanged(node);
        UpdateNodeRow(node);
    }
}

void TreeListView::UpdateNodeRow(int node) {
    if (!tree_ || !model_->IsNode(node) || model_->ResetPending())
        return;
    const QRect rect = tree_->visualRect(model_->IndexOf(node));
    if (rect.isValid())
        tree_->viewport()->update(QRect(0, rect.top(), tree_->viewport()->width(), rect.height()));
}

int TreeListView::CheckBoxSize(int rowHeight) const {
    const int size = rowHeight - 4;
    return size > 0 ? size : 0;
}

int TreeListView::LeadingWidth() const {
    int width = 2;
    if (!icons_.empty())
        width += iconSize_ + 1;
    if (options_ & kOptionCheckBoxes)
        width += CheckBoxSize(delegate_ ? delegate_->sizeHint({}, {}).height() : kMinimumRowHeight) + 2;
    return width;
}

int TreeListView::GetCellRect(TreeItem item, int column, CellRect& rect) const {
    const int node = NodeOf(item);
    if (node < 0 || !tree_ || model_->ResetPending() || column < 0 || column >= model_->ColumnCount())
        return 0;
    const QRect itemRect = tree_->visualRect(model_->IndexOf(node));
    if (!itemRect.isValid())
        return 0;
    QHeaderView* header = tree_->header();
    bool spanning = false;
    RowPiece pieces[1];
    const TreeListNode& n = model_->Node(node);
    SplitRowText(reinterpret_cast<const char16_t*>(n.text.utf16()), static_cast<int>(n.text.size()), pieces,
                 1, spanning);
    RowFrame frame;
    frame.textLeft = itemRect.left() + LeadingWidth();
    frame.textTop = itemRect.top();
    frame.textBottom = itemRect.top() + itemRect.height();
    frame.rowEnd = header->length() - header->offset();
    frame.spanning = spanning;
    rect = CellRectFor(frame, column, header->sectionViewportPosition(column), header->sectionSize(column));
    return 1;
}

} // namespace mistvale
