#include "treelist/tree_list_model.h"

#include "treelist/row_text.h"

#include <QSize>

#include <utility>

namespace mistvale {

TreeListModel::TreeListModel(QObject* parent) : QAbstractItemModel(parent) {}

int TreeListModel::InsertColumn(int index, const QString& caption, int format) {
    if (index < 0)
        return -1;
    if (index > ColumnCount())
        index = ColumnCount();
    if (!batch_)
        beginInsertColumns(QModelIndex(), index, index);
    else
        BeforeStructureChange();
    captions_.insert(index, caption);
    formats_.insert(index, format);
    if (!batch_)
        endInsertColumns();
    return index;
}

void TreeListModel::BeforeStructureChange() {
    if (batch_ && !resetPending_) {
        beginResetModel();
        resetPending_ = true;
    }
}

int TreeListModel::Insert(int parent, int after, QString text, bool callbackText, int icon, int selectedIcon,
                          bool hasChildren, void* data, int stateImage) {
    if (parent != -1 && !IsNode(parent))
        return -1;
    std::vector<int>& siblings = parent < 0 ? roots_ : nodes_[parent].children;
    int row = static_cast<int>(siblings.size());
    if (after == kInsertFirst) {
        row = 0;
    } else if (after != kInsertLast) {
        if (!IsNode(after) || nodes_[after].parent != parent)
            return -1;
        row = nodes_[after].row + 1;
    }
    const int node = NodeCount();
    BeforeStructureChange();
    if (!batch_)
        beginInsertRows(IndexOf(parent), row, row);
    TreeListNode& created = nodes_.emplace_back();
    created.text = std::move(text);
    created.callbackText = callbackText;
    created.data = data;
    created.icon = icon;
    created.selectedIcon = selectedIcon;
    created.hasChildren = hasChildren;
    created.stateImage = stateImage;
    created.parent = parent;
    created.row = row;
    // `siblings` may refer into nodes_, which emplace_back can have moved.
    std::vector<int>& list = parent < 0 ? roots_ : nodes_[parent].children;
    list.insert(list.begin() + row, node);
    for (size_t i = static_cast<size_t>(row) + 1; i < list.size(); ++i)
        nodes_[list[i]].row = static_cast<int>(i);
    if (!batch_)
        endInsertRows();
    return node;
}

void TreeListModel::KillSubtree(int node, void (*onDelete)(int node, void* context), void* context) {
    TreeListNode& n = nodes_[node];
    if (!n.alive)
        return;
    for (int child : n.children)
        KillSubtree(child, onDelete, context);
    if (onDelete)
        onDelete(node, context);
    n.alive = false;
    n.children.clear();
    n.text.clear();
    n.data = nullptr;
}

void TreeListModel::Clear(void (*onDelete)(int node, void* context), void* context) {
    if (!batch_)
        beginResetModel();
    else
        BeforeStructureChange();
    if (onDelete)
        for (int root : roots_)
            KillSubtree(root, onDelete, context);
    nodes_.clear();
    roots_.clear();
    if (!batch_)
        endResetModel();
}

void TreeListModel::RemoveChildren(int node, void (*onDelete)(int node, void* context), void* context) {
    if (!IsNode(node) || nodes_[node].children.empty())
        return;
    const int count = static_cast<int>(nodes_[node].children.size());
    BeforeStructureChange();
    if (!batch_)
        beginRemoveRows(IndexOf(node), 0, count - 1);
    std::vector<int> children;
    children.swap(nodes_[node].children);
    for (int child : children)
        KillSubtree(child, onDelete, context);
    if (!batch_)
        endRemoveRows();
}

int TreeListModel::Depth(int node) const {
    int depth = 0;
    while (IsNode(node) && nodes_[node].parent >= 0) {
        node = nodes_[node].parent;
        ++depth;
    }
    return depth;
}

int TreeListModel::FindByData(const void* data, int start) const {
    if (start != -1 && !IsNode(start))
        return -1;
    for (int child : ChildrenOf(start)) {
        if (nodes_[child].data == data)
            return child;
        if (!nodes_[child].children.empty()) {
            const int found = FindByData(data, child);
            if (found >= 0)
                return found;
        }
    }
    return -1;
}

QModelIndex TreeListModel::IndexOf(int node, int column) const {
    if (!IsNode(node))
        return QModelIndex();
    return createIndex(nodes_[node].row, column, static_cast<quintptr>(node));
}

void TreeListModel::BeginBatch() {
    batch_ = true;
}

bool TreeListModel::EndBatch() {
    batch_ = false;
    if (!resetPending_)
        return false;
    resetPending_ = false;
    endResetModel();
    return true;
}

void TreeListModel::NotifyNodeChanged(int node) {
    if (batch_ || !IsNode(node))
        return;
    const int last = ColumnCount() > 0 ? ColumnCount() - 1 : 0;
    emit dataChanged(IndexOf(node, 0), IndexOf(node, last));
}

QModelIndex TreeListModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= columnCount(parent))
        return QModelIndex();
    const int parentNode = NodeOf(parent);
    if (parent.isValid() && (!IsNode(parentNode) || parent.column() != 0))
        return QModelIndex();
    const std::vector<int>& children = ChildrenOf(parentNode);
    if (row >= static_cast<int>(children.size()))
        return QModelIndex();
    return createIndex(row, column, static_cast<quintptr>(children[row]));
}

QModelIndex TreeListModel::parent(const QModelIndex& child) const {
    const int node = NodeOf(child);
    if (!IsNode(node))
        return QModelIndex();
    return IndexOf(nodes_[node].parent);
}

int TreeListModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid())
        return static_cast<int>(roots_.size());
    const int node = NodeOf(parent);
    if (parent.column() != 0 || !IsNode(node))
        return 0;
    return static_cast<int>(nodes_[node].children.size());
}

int TreeListModel::columnCount(const QModelIndex&) const {
    return ColumnCount();
}

bool TreeListModel::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid())
        return !roots_.empty();
    const int node = NodeOf(parent);
    if (parent.column() != 0 || !IsNode(node))
        return false;
    return nodes_[node].hasChildren || !nodes_[node].children.empty();
}

QVariant TreeListModel::data(const QModelIndex& index, int role) const {
    const int node = NodeOf(index);
    if (!IsNode(node))
        return QVariant();
    const TreeListNode& n = nodes_[node];
    if (role == Qt::SizeHintRole)
        return QSize(-1, rowHeight_);
    if (role == Qt::CheckStateRole && checkable_ && index.column() == 0 && n.stateImage > 0)
        return n.stateImage == 2 ? Qt::Checked : Qt::Unchecked;
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return QVariant();
    // The piece shown in this column, for accessibility and tests; painting splits the text itself.
    RowPiece pieces[64];
    bool spanning = false;
    const int count = SplitRowText(reinterpret_cast<const char16_t*>(n.text.utf16()),
                                   static_cast<int>(n.text.size()), pieces, 64, spanning);
    if (index.column() >= count)
        return QString();
    const RowPiece& piece = pieces[index.column()];
    if (IsCellMarkerPiece(reinterpret_cast<const char16_t*>(n.text.utf16()), piece))
        return QString();
    return n.text.mid(piece.start, piece.length);
}

QVariant TreeListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount())
        return QVariant();
    if (role == Qt::DisplayRole)
        return captions_[section];
    if (role == Qt::TextAlignmentRole) {
        // Header formats: 0 left, 1 right, 2 centred.
        const int justify = formats_[section] & 3;
        const Qt::Alignment horizontal =
            justify == 1 ? Qt::AlignRight : (justify == 2 ? Qt::AlignHCenter : Qt::AlignLeft);
        return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    return QVariant();
}

Qt::ItemFlags TreeListModel::flags(const QModelIndex& index) const {
    if (!IsNode(NodeOf(index)))
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (checkable_ && index.column() == 0)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

} // namespace mistvale
