#pragma once
// The item store behind a TreeListView: a flat vector of nodes exposed to a QTreeView as a
// QAbstractItemModel. Structural changes made inside a batch (the tree-list's redraw lock) are announced
// to the view as one model reset when the batch ends, so filling thousands of items costs no per-item
// view work.

#include <QAbstractItemModel>
#include <QList>
#include <QString>

#include <cstdint>
#include <vector>

namespace mistvale {

struct TreeListNode {
    QString text; // the whole item text (TAB / U+000B / U+000C convention)
    void* data = nullptr;
    int icon = -1;
    int selectedIcon = -1;
    int stateImage = 0; // check boxes: 0 none, 1 unchecked, 2 checked
    bool hasChildren = false;
    bool callbackText = false; // the text is asked of the display-info handler at painting
    bool expanded = false;     // wanted expansion, applied to the view when a batch ends
    bool alive = true;
    int parent = -1; // node index, -1 for top-level items
    int row = 0;     // index among the parent's children
    std::vector<int> children;
};

class TreeListModel : public QAbstractItemModel {
public:
    explicit TreeListModel(QObject* parent = nullptr);

    static constexpr int kInsertLast = -1;
    static constexpr int kInsertFirst = -2;

    // Columns (the header's items).
    int InsertColumn(int index, const QString& caption, int format);
    int ColumnCount() const { return static_cast<int>(captions_.size()); }

    // Inserts a node below `parent` (-1: top level) after the sibling `after` (or kInsertLast /
    // kInsertFirst). Returns the node index or -1. The text is taken over (pass a temporary to move it).
    int Insert(int parent, int after, QString text, bool callbackText, int icon, int selectedIcon,
               bool hasChildren, void* data, int stateImage);
    // Removes every node. `onDelete` is called for each live node first (may be null).
    void Clear(void (*onDelete)(int node, void* context), void* context);
    // Removes the children of a node (collapse with reset).
    void RemoveChildren(int node, void (*onDelete)(int node, void* context), void* context);

    int NodeCount() const { return static_cast<int>(nodes_.size()); }
    bool IsNode(int node) const { return node >= 0 && node < NodeCount() && nodes_[node].alive; }
    TreeListNode& Node(int node) { return nodes_[node]; }
    const TreeListNode& Node(int node) const { return nodes_[node]; }
    const std::vector<int>& TopLevel() const { return roots_; }
    const std::vector<int>& ChildrenOf(int node) const { return node < 0 ? roots_ : nodes_[node].children; }
    int Depth(int node) const;

    // First node, in pre-order below `start` (-1: the whole tree), whose data is `data`; -1 if none.
    int FindByData(const void* data, int start) const;

    QModelIndex IndexOf(int node, int column = 0) const;
    static int NodeOf(const QModelIndex& index) {
        return index.isValid() ? static_cast<int>(index.internalId()) : -1;
    }

    // Batching: between BeginBatch and EndBatch structural changes are not announced one by one.
    void BeginBatch();
    // Returns true when the view was reset (it then lost its expansion and selection state).
    bool EndBatch();
    bool InBatch() const { return batch_; }
    bool ResetPending() const { return resetPending_; }

    void SetCheckable(bool on) { checkable_ = on; }
    void SetRowHeight(int height) { rowHeight_ = height; }
    void NotifyNodeChanged(int node);

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void BeforeStructureChange();
    void KillSubtree(int node, void (*onDelete)(int node, void* context), void* context);

    std::vector<TreeListNode> nodes_;
    std::vector<int> roots_;
    QList<QString> captions_;
    QList<int> formats_;
    bool batch_ = false;
    bool resetPending_ = false;
    bool checkable_ = false;
    int rowHeight_ = 18;
};

} // namespace mistvale
