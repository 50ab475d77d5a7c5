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
constexpr int kMaxPiecesPainted = 64;

void PutInt32(char* out, std::int32_t value) {
    const std::uint32_t bits = static_cast<std::uint32_t>(value);
    out[0] = static_cast<char>(bits & 0xFF);
    out[1] = static_cast<char>((bits >> 8) & 0xFF);
    out[2] = static_cast<char>((bits >> 16) & 0xFF);
    out[3] = static_cast<char>((bits >> 24) & 0xFF);
}

std::int32_t GetInt32(const char* in) {
    const std::uint32_t bits = static_cast<std::uint32_t>(static_cast<unsigned char>(in[0])) |
                               (static_cast<std::uint32_t>(static_cast<unsigned char>(in[1])) << 8) |
                               (static_cast<std::uint32_t>(static_cast<unsigned char>(in[2])) << 16) |
                               (static_cast<std::uint32_t>(static_cast<unsigned char>(in[3])) << 24);
    return static_cast<std::int32_t>(bits);
}

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
    connections_.push_back(QObject::connect(header, &QHeaderView::sectionResized, this, [this] {
        if (tree_)
            tree_->viewport()->update();
    }));
    connections_.push_back(QObject::connect(header, &QHeaderView::sectionMoved, this, [this] {
        if (tree_)
            tree_->viewport()->update();
    }));
    connections_.push_back(
        QObject::connect(tree, &QTreeView::expanded, this,
                         [this](const QModelIndex& index) { OnExpanded(TreeListModel::NodeOf(index)); }));
    connections_.push_back(
        QObject::connect(tree, &QTreeView::collapsed, this,
                         [this](const QModelIndex& index) { OnCollapsed(TreeListModel::NodeOf(index)); }));
    connections_.push_back(QObject::connect(tree->selectionModel(), &QItemSelectionModel::currentChanged,
                                            this, [this] { OnSelectionChanged(); }));
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
        if (n.callbackText && displayInfo_) {
            text[0] = 0;
            TreeListItemInfo info;
            FillInfo(node, info);
            info.text = text;
            info.textCapacity = kItemTextCapacity;
            displayInfo_(info, context_);
            text[kItemTextCapacity - 1] = 0;
        } else {
            CopyText(n.text, text);
        }
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
    for (int parent = model_->Node(node).parent; parent >= 0; parent = model_->Node(parent).parent) {
        if (!model_->Node(parent).expanded)
            tree_->expand(model_->IndexOf(parent));
    }
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
    for (int node = 0; node < model_->NodeCount(); ++node) {
        if (model_->IsNode(node) && model_->Node(node).expanded)
            tree_->setExpanded(model_->IndexOf(node), true);
    }
    ignoreSelectionSignals_ = false;
    lastReportedSelection_ = -2;
    if (selected >= 0 && model_->IsNode(selected))
        SelectItem(ItemOf(selected));
    else
        OnSelectionChanged();
    if (scroll >= 0 && model_->IsNode(scroll))
        tree_->scrollTo(model_->IndexOf(scroll), QAbstractItemView::PositionAtTop);
    batchSelected_ = -1;
    batchScroll_ = -1;
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

int TreeListView::SaveColumns(QByteArray& bytes) const {
    if (!tree_)
        return 0;
    QHeaderView* header = tree_->header();
    const int n = header->count();
    if (n <= 0)
        return 0;
    QByteArray out(8 * n, '\0');
    for (int position = 0; position < n; ++position)
        PutInt32(out.data() + 4 * position, header->logicalIndex(position));
    for (int column = 0; column < n; ++column)
        PutInt32(out.data() + 4 * (n + column), header->sectionSize(column));
    bytes = out;
    return 1;
}

int TreeListView::LoadColumns(const QByteArray& bytes) {
    if (!tree_)
        return 0;
    QHeaderView* header = tree_->header();
    const int n = header->count();
    if (n <= 0 || bytes.size() != 8 * n)
        return 0;
    std::vector<int> order(static_cast<size_t>(n));
    std::vector<bool> seen(static_cast<size_t>(n), false);
    bool permutation = true;
    for (int position = 0; position < n; ++position) {
        const std::int32_t column = GetInt32(bytes.constData() + 4 * position);
        if (column < 0 || column >= n || seen[static_cast<size_t>(column)]) {
            permutation = false;
            break;
        }
        seen[static_cast<size_t>(column)] = true;
        order[static_cast<size_t>(position)] = column;
    }
    SetRedraw(false);
    if (permutation) {
        for (int position = 0; position < n; ++position) {
            const int column = order[static_cast<size_t>(position)];
            const int from = header->visualIndex(column);
            if (from != position)
                header->moveSection(from, position);
        }
    }
    for (int column = 0; column < n; ++column) {
        const std::int32_t width = GetInt32(bytes.constData() + 4 * (n + column));
        if (width >= 0)
            header->resizeSection(column, width > kMaxColumnWidth ? kMaxColumnWidth : width);
    }
    SetRedraw(true);
    return 1;
}

int TreeListView::SaveColumns(QSettings& settings, const QString& name) const {
    QByteArray bytes;
    if (!SaveColumns(bytes))
        return 0;
    settings.setValue(name, bytes);
    return 1;
}

int TreeListView::LoadColumns(QSettings& settings, const QString& name) {
    const QVariant value = settings.value(name);
    if (value.typeId() != QMetaType::QByteArray)
        return 0;
    return LoadColumns(value.toByteArray());
}

int TreeListView::SetItemChecked(TreeItem item, bool checked) {
    const int node = NodeOf(item);
    if (node < 0 || !(options_ & kOptionCheckBoxes))
        return 0;
    model_->Node(node).stateImage = checked ? 2 : 1;
    model_->NotifyNodeChanged(node);
    UpdateNodeRow(node);
    return 1;
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

bool TreeListView::HitCheckBox(int node, const QPoint& pos) const {
    if (!(options_ & kOptionCheckBoxes) || !model_->IsNode(node))
        return false;
    const QRect itemRect = tree_->visualRect(model_->IndexOf(node));
    const int textLeft = itemRect.left() + LeadingWidth();
    const int iconWidth = icons_.empty() ? 0 : iconSize_;
    const int size = CheckBoxSize(itemRect.height());
    const int right = textLeft - iconWidth - 2;
    return QRect(right - size, itemRect.top() + 2, size, size).contains(pos);
}

bool TreeListView::HandleKey(QKeyEvent* event) {
    const int key = event->key();
    const int virtualKey = VirtualKeyFromQtKey(key, (event->modifiers() & Qt::KeypadModifier) != 0);
    if (keyDown_ && virtualKey != 0)
        keyDown_(virtualKey, context_);
    if (!tree_ || !model_)
        return true; // the handler detached the control
    if (key == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        // The space bar toggles an existing check box and never gives an item one.
        const int node = SelectedNode();
        if (node >= 0 && model_->Node(node).stateImage > 0)
            ToggleCheck(node);
        return true;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && returnKey_) {
        returnKey_(GetSelectedItem(), context_);
        return true;
    }
    // The menu key and Shift+F10 ask for the selected item's context menu, as a right-click does for
    // the item under the mouse. Taking the key press also keeps Qt from sending a second request.
    const bool menuKey = key == Qt::Key_Menu && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const bool shiftF10 = key == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
    if ((menuKey || shiftF10) && rightClick_) {
        rightClick_(GetSelectedItem(), context_);
        return true;
    }
    return false;
}

bool TreeListView::eventFilter(QObject* watched, QEvent* event) {
    // Compared by address first: while the tree is being destroyed it is no longer a QTreeView, and the
    // events it still sends then are none of those below.
    const QEvent::Type type = event->type();
    if (watched == treeObject_) {
        if (type != QEvent::KeyPress || !tree_ || !model_)
            return false;
        return HandleKey(static_cast<QKeyEvent*>(event));
    }
    if (watched != viewportObject_ || !model_)
        return false;
    switch (type) {
    case QEvent::Paint:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::ContextMenu:
    case QEvent::MouseMove:
    case QEvent::Leave:
    case QEvent::ToolTip:
        break;
    default:
        return false;
    }
    if (!tree_)
        return false;
    switch (event->type()) {
    case QEvent::Paint: {
        if (redrawLock_ > 0)
            return true; // redraw is off: nothing is painted until it is switched on again
        QPaintEvent* paint = static_cast<QPaintEvent*>(event);
        QPainter painter(tree_->viewport());
        PaintRows(painter, paint->rect());
        return true;
    }
    case QEvent::MouseButtonPress: {
        QMouseEvent* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton && rightClick_)
            return true; // the selection stays; the owner decides at the release
        if (mouse->button() == Qt::LeftButton) {
            const int node = TreeListModel::NodeOf(tree_->indexAt(mouse->position().toPoint()));
            if (node >= 0 && HitCheckBox(node, mouse->position().toPoint())) {
                ToggleCheck(node);
                return true;
            }
        }
        return false;
    }
    case QEvent::MouseButtonRelease: {
        QMouseEvent* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && click_) {
            click_(GetSelectedItem(), context_);
            return false;
        }
        if (mouse->button() == Qt::RightButton && rightClick_) {
            // The item under the mouse, or else the selected item.
            const int under = TreeListModel::NodeOf(tree_->indexAt(mouse->position().toPoint()));
            rightClick_(under >= 0 ? ItemOf(under) : GetSelectedItem(), context_);
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonDblClick: {
        QMouseEvent* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && doubleClick_) {
            doubleClick_(GetSelectedItem(), context_);
            return true;
        }
        return false;
    }
    case QEvent::ContextMenu: {
        if (!rightClick_)
            return false;
        QContextMenuEvent* menu = static_cast<QContextMenuEvent*>(event);
        if (menu->reason() != QContextMenuEvent::Mouse)
            rightClick_(GetSelectedItem(), context_); // the menu key: the selected item
        return true;                                  // a mouse right-click was reported at its release
    }
    case QEvent::MouseMove: {
        QMouseEvent* mouse = static_cast<QMouseEvent*>(event);
        const int node = TreeListModel::NodeOf(tree_->indexAt(mouse->position().toPoint()));
        if (node != hotNode_) {
            const int previous = hotNode_;
            hotNode_ = node;
            UpdateNodeRow(previous);
            UpdateNodeRow(node);
        }
        return false;
    }
    case QEvent::Leave:
        if (hotNode_ >= 0) {
            const int previous = hotNode_;
            hotNode_ = -1;
            UpdateNodeRow(previous);
        }
        return false;
    case QEvent::ToolTip:
        return ShowToolTip(static_cast<QHelpEvent*>(event));
    default:
        return false;
    }
}

bool TreeListView::ShowToolTip(QHelpEvent* event) {
    if (!toolTip_)
        return false;
    const int node = TreeListModel::NodeOf(tree_->indexAt(event->pos()));
    const int column = tree_->header()->logicalIndexAt(event->pos().x());
    QString text;
    if (node < 0 || column < 0 || !toolTip_(ItemOf(node), model_->Node(node).data, column, text, context_) ||
        text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(event->globalPos(), text, tree_->viewport());
    return true;
}

void TreeListView::PaintRows(QPainter& painter, const QRect& exposed) {
    ++paintCount_;
    // The viewport normally fills its own background before this; filling it again would double the
    // cost of a paint, which for a tall window is mostly that fill.
    if (!tree_->viewport()->autoFillBackground())
        painter.fillRect(exposed, tree_->palette().color(QPalette::Base));
    if (model_->ResetPending() || model_->ColumnCount() == 0 || model_->TopLevel().empty())
        return;
    QHeaderView* header = tree_->header();
    int probeColumn = header->logicalIndexAt(0);
    if (probeColumn < 0)
        probeColumn = header->logicalIndex(0);
    if (probeColumn < 0)
        return;
    const int probeX = std::max(0, header->sectionViewportPosition(probeColumn));
    QModelIndex index = tree_->indexAt(QPoint(probeX, exposed.top()));
    if (!index.isValid())
        return;
    index = index.siblingAtColumn(0);
    painter.setFont(tree_->font());
    surface_.SetPainter(&painter);
    while (index.isValid()) {
        const QRect itemRect = tree_->visualRect(index);
        if (itemRect.height() <= 0 || itemRect.top() > exposed.bottom())
            break;
        const int node = TreeListModel::NodeOf(index);
        if (model_->IsNode(node))
            PaintRow(painter, node, itemRect);
        index = tree_->indexBelow(index);
    }
    surface_.SetPainter(nullptr);
}

const QImage& TreeListView::BranchIndicator(bool open, int width, int height, qreal ratio) {
    // The style draws the arrow through its own pixmap cache, whose keys are strings built per call;
    // the two arrows are drawn once per size, palette and style instead.
    BranchPixmap& cached = branchPixmaps_[open ? 1 : 0];
    const qint64 paletteKey = tree_->palette().cacheKey();
    if (cached.image.isNull() || cached.width != width || cached.height != height || cached.ratio != ratio ||
        cached.paletteKey != paletteKey || cached.style != tree_->style()) {
        QImage image(QSize(width, height) * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter arrow(&image);
        QStyleOption branch;
        branch.initFrom(tree_);
        branch.rect = QRect(0, 0, width, height);
        branch.state = QStyle::State_Item | QStyle::State_Children;
        if (open)
            branch.state |= QStyle::State_Open;
        tree_->style()->drawPrimitive(QStyle::PE_IndicatorBranch, &branch, &arrow, tree_);
        arrow.end();
        cached.image = image;
        cached.width = width;
        cached.height = height;
        cached.ratio = ratio;
        cached.paletteKey = paletteKey;
        cached.style = tree_->style();
    }
    return cached.image;
}

const QPen& TreeListView::TextPen(const QColor& color) {
    // A pen made from a colour allocates; the two or three text colours of a paint are kept instead.
    for (QPen& pen : textPens_) {
        if (pen.color() == color)
            return pen;
    }
    QPen& slot = textPens_[nextTextPen_];
    nextTextPen_ = (nextTextPen_ + 1) % kTextPenCount;
    slot = QPen(color);
    return slot;
}

void TreeListView::PaintRow(QPainter& painter, int node, const QRect& itemRect) {
    const TreeListNode& n = model_->Node(node);
    QHeaderView* header = tree_->header();
    const int columns = model_->ColumnCount();

    // The text to paint, at most 259 units.
    char16_t callbackBuffer[kItemTextCapacity];
    const char16_t* text = reinterpret_cast<const char16_t*>(n.text.utf16());
    int length = static_cast<int>(n.text.size());
    if (n.callbackText) {
        callbackBuffer[0] = 0;
        if (displayInfo_) {
            TreeListItemInfo info;
            FillInfo(node, info);
            info.text = callbackBuffer;
            info.textCapacity = kItemTextCapacity;
            displayInfo_(info, context_);
            callbackBuffer[kItemTextCapacity - 1] = 0;
        }
        text = callbackBuffer;
        length = -1;
    }
    RowPiece pieces[kMaxPiecesPainted];
    bool spanning = false;
    const int maxPieces = columns < kMaxPiecesPainted ? columns : kMaxPiecesPainted;
    const int pieceCount = SplitRowText(text, length, pieces, maxPieces, spanning);

    RowFrame frame;
    frame.textLeft = itemRect.left() + LeadingWidth();
    frame.textTop = itemRect.top();
    frame.textBottom = itemRect.top() + itemRect.height();
    const int rowLeft = -header->offset();
    frame.rowEnd = rowLeft + header->length();
    frame.spanning = spanning;
    const int rowWidth = frame.rowEnd - 3;
    const int rowHeight = frame.textBottom - frame.textTop;

    // Grid lines: an edge just inside the end of every column but the last, and one under the row.
    if (options_ & kOptionGridLines) {
        const QColor edge = tree_->palette().color(QPalette::Midlight);
        if (!spanning) {
            for (int position = 0; position + 1 < header->count(); ++position) {
                const int column = header->logicalIndex(position);
                if (header->isSectionHidden(column))
                    continue;
                const int x = header->sectionViewportPosition(column) + header->sectionSize(column) - 3;
                painter.fillRect(QRect(x, frame.textTop, 1, rowHeight), edge);
            }
        }
        if (rowWidth > rowLeft)
            painter.fillRect(QRect(rowLeft, frame.textBottom - 1, rowWidth - rowLeft, 1), edge);
    }

    // Background in the row's state, from the text's left edge to the row width.
    const bool selected = node == SelectedNode();
    const bool treeFocused = tree_->hasFocus();
    const bool hot = node == hotNode_;
    const RowState state = RowStateFor(selected, selected && treeFocused, hot, treeFocused);
    const bool active = state != kRowSelectedNotFocused;
    if (state != kRowNormal && frame.textLeft < rowWidth) {
        panelOption_.rect = QRect(frame.textLeft, frame.textTop, rowWidth - frame.textLeft, rowHeight);
        panelOption_.palette = tree_->palette();
        panelOption_.state = QStyle::State_Enabled;
        if (active)
            panelOption_.state |= QStyle::State_Active;
        if (state == kRowSelected || state == kRowSelectedNotFocused || state == kRowHotSelected)
            panelOption_.state |= QStyle::State_Selected;
        if (state == kRowHot || state == kRowHotSelected)
            panelOption_.state |= QStyle::State_MouseOver;
        panelOption_.showDecorationSelected = true;
        panelOption_.viewItemPosition = QStyleOptionViewItem::OnlyOne;
        tree_->style()->drawPrimitive(QStyle::PE_PanelItemViewItem, &panelOption_, &painter, tree_);
    }

    // Expand indicator, where the tree looks for clicks on it.
    const int indent = tree_->indentation();
    if ((n.hasChildren || !n.children.empty()) && tree_->itemsExpandable() &&
        (tree_->rootIsDecorated() || n.parent >= 0)) {
        painter.drawImage(
            QPoint(itemRect.left() - indent, frame.textTop),
            BranchIndicator(n.expanded, indent, rowHeight, painter.device()->devicePixelRatio()));
    }

    const QPalette::ColorGroup group = active ? QPalette::Active : QPalette::Inactive;
    const bool selectedLook =
        state == kRowSelected || state == kRowSelectedNotFocused || state == kRowHotSelected;
    const QColor textColor =
        tree_->palette().color(group, selectedLook ? QPalette::HighlightedText : QPalette::Text);
    const QFontMetrics metrics = tree_->fontMetrics();
    const TreeItem item = ItemOf(node);

    for (int j = 0; j < pieceCount; ++j) {
        if (j >= columns || header->isSectionHidden(j))
            continue;
        const int start = header->sectionViewportPosition(j);
        const int width = header->sectionSize(j);
        if (j == 0) {
            const int iconWidth = icons_.empty() ? 0 : iconSize_;
            if ((options_ & kOptionCheckBoxes) && (n.stateImage == 1 || n.stateImage == 2)) {
                const int size = CheckBoxSize(rowHeight);
                QStyleOptionButton box;
                box.initFrom(tree_);
                box.rect = QRect(frame.textLeft - iconWidth - 2 - size, frame.textTop + 2, size, size);
                box.state =
                    QStyle::State_Enabled | (n.stateImage == 2 ? QStyle::State_On : QStyle::State_Off);
                tree_->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, &painter, tree_);
            }
            const int iconIndex = selected && n.selectedIcon != -1 ? n.selectedIcon : n.icon;
            if (iconIndex >= 0 && iconIndex < static_cast<int>(icons_.size()) &&
                width > frame.textLeft - start) {
                const int y = frame.textTop + (rowHeight - iconSize_) / 2;
                painter.drawPixmap(frame.textLeft - iconSize_ - 1, y, icons_[static_cast<size_t>(iconIndex)]);
            }
        }
        const CellRect cell = CellRectFor(frame, j, start, width);
        if (IsCellMarkerPiece(text, pieces[j])) {
            if (cellDrawer_)
                cellDrawer_(item, n.data, j, cell, surface_, context_);
            continue;
        }
        const int available = cell.right - cell.left;
        if (available <= 0)
            continue;
        const QStringView piece(text + pieces[j].start, pieces[j].length);
        const QStaticText& prepared = textCache_.Prepared(node, j, piece, available, painter.font(), metrics);
        const int top = cell.top + (cell.bottom - cell.top - metrics.height()) / 2;
        const bool dimmed = cellDim_ && !selectedLook && cellDim_(item, n.data, j, context_);
        painter.setPen(
            TextPen(dimmed ? tree_->palette().color(QPalette::Disabled, QPalette::Text) : textColor));
        painter.drawStaticText(QPoint(cell.left, top), prepared);
    }
}
