#include "allocation_counter.h"
#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"
#include "model/tree_rows.h"
#include "treelist/tree_list_view.h"
#include "treelist/tree_sink_adapter.h"
#include "treelist/virtual_keys.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QTest>
#include <QToolTip>
#include <QTreeView>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace mistvale {

namespace {

struct DrawCall {
    TreeItem item;
    void* data;
    int column;
    CellRect rect;
};

struct Recorder {
    std::vector<DrawCall> draws;
    std::vector<TreeItem> rightClicks, doubleClicks, returns;
    std::vector<int> keys;
};

Recorder* recorder = nullptr;

void RecordDraw(TreeItem item, void* data, int column, const CellRect& rect, DrawingSurface&, void*) {
    recorder->draws.push_back({item, data, column, rect});
}
void RecordRightClick(TreeItem item, void*) {
    recorder->rightClicks.push_back(item);
}
void RecordDoubleClick(TreeItem item, void*) {
    recorder->doubleClicks.push_back(item);
}
void RecordReturn(TreeItem item, void*) {
    recorder->returns.push_back(item);
}
void RecordKey(int key, void*) {
    recorder->keys.push_back(key);
}

class TreeListTest : public ::testing::Test {
protected:
    void SetUp() override {
        recorder = &record_;
        tree_.resize(800, 400);
        ASSERT_EQ(view_.Attach(&tree_, 0x4000000C), 1);
        view_.SetCellDrawer(&RecordDraw);
        view_.SetInputHandlers(nullptr, &RecordRightClick, &RecordDoubleClick, &RecordReturn, &RecordKey);
        ASSERT_EQ(view_.InsertColumn(u"Name", 0, 300, 0), 0);
        ASSERT_EQ(view_.InsertColumn(u"Value", 1, 400, 0), 1);
        tree_.show();
        QApplication::processEvents();
    }
    void TearDown() override { recorder = nullptr; }
    void Paint() {
        record_.draws.clear();
        tree_.viewport()->repaint();
    }
    QRect RowRect(TreeItem item) {
        CellRect cell;
        EXPECT_EQ(view_.GetCellRect(item, 0, cell), 1);
        return QRect(10, cell.top + 2, 1, 1);
    }
    int Scaled(int width) { return width * tree_.logicalDpiX() / 96; }

    Recorder record_;
    QTreeView tree_;
    TreeListView view_;
    int data_[8] = {};
};

} // namespace

TEST_F(TreeListTest, OwnerDrawnPieceIsDrawnOncePerPaintWithItsColumnRectangle) {
    TreeItem group = view_.InsertItem(nullptr, nullptr, u"Group\v", 0, 0, 1, &data_[0]);
    TreeItem source = view_.InsertItem(group, nullptr, u"Temperature\t\f", 1, 1, 0, &data_[1]);
    view_.ExpandItem(group, TreeListView::kExpand);
    Paint();
    ASSERT_EQ(record_.draws.size(), 1u);
    const DrawCall& call = record_.draws[0];
    EXPECT_EQ(call.item, source);
    EXPECT_EQ(call.data, &data_[1]);
    EXPECT_EQ(call.column, 1);
    QHeaderView* header = tree_.header();
    const QRect row = tree_.visualRect(tree_.model()->index(0, 0, tree_.model()->index(0, 0)));
    EXPECT_EQ(call.rect.left, header->sectionViewportPosition(1) + 4);
    EXPECT_EQ(call.rect.right, header->sectionViewportPosition(1) + header->sectionSize(1) - 5);
    EXPECT_EQ(call.rect.top, row.top() + 1);
    EXPECT_EQ(call.rect.bottom, row.top() + row.height() - 1);
    Paint();
    EXPECT_EQ(record_.draws.size(), 1u);
}

TEST_F(TreeListTest, PiecesGoToColumnsLikeTokens) {
    TreeItem extra = view_.InsertItem(nullptr, nullptr, u"a\t\f\t\f\t\f", -1, -1, 0, &data_[0]); // 4 pieces
    TreeItem twoTabs = view_.InsertItem(nullptr, nullptr, u"b\t\t\f", -1, -1, 0, &data_[1]);
    TreeItem leading = view_.InsertItem(nullptr, nullptr, u"\t\f", -1, -1, 0, &data_[2]);
    TreeItem spanning = view_.InsertItem(nullptr, nullptr, u"\f\v", -1, -1, 0, &data_[3]);
    Paint();
    ASSERT_EQ(record_.draws.size(), 4u);
    EXPECT_EQ(record_.draws[0].item, extra); // only as many pieces as columns: one call for column 1
    EXPECT_EQ(record_.draws[0].column, 1);
    EXPECT_EQ(record_.draws[1].item, twoTabs);
    EXPECT_EQ(record_.draws[1].column, 1);
    EXPECT_EQ(record_.draws[2].item, leading); // the empty first piece does not exist
    EXPECT_EQ(record_.draws[2].column, 0);
    CellRect first;
    ASSERT_EQ(view_.GetCellRect(leading, 0, first), 1);
    EXPECT_EQ(record_.draws[2].rect.left, first.left);
    EXPECT_EQ(record_.draws[2].rect.right, Scaled(300) - 5);
    EXPECT_EQ(record_.draws[3].item, spanning); // runs to 5 pixels before the end of the last column
    EXPECT_EQ(record_.draws[3].rect.right, Scaled(300) + Scaled(400) - 5);
}

TEST_F(TreeListTest, GridLinesSkipSpanningRows) {
    TreeListView grid;
    QTreeView gridTree;
    gridTree.resize(800, 200);
    ASSERT_EQ(grid.Attach(&gridTree, TreeListView::kOptionGridLines | TreeListView::kOptionKeepCollapsed), 1);
    grid.InsertColumn(u"Name", 0, 300, 0);
    grid.InsertColumn(u"Value", 1, 400, 0);
    TreeItem group = grid.InsertItem(nullptr, nullptr, u"A group with a long name\v", -1, -1, 0, nullptr);
    TreeItem plain = grid.InsertItem(nullptr, nullptr, u"Row\tValue", -1, -1, 0, nullptr);
    gridTree.show();
    QApplication::processEvents();
    const QImage image = gridTree.viewport()->grab().toImage();
    const QRgb base = gridTree.palette().color(QPalette::Base).rgb();
    CellRect groupCell, plainCell;
    ASSERT_EQ(grid.GetCellRect(group, 0, groupCell), 1);
    ASSERT_EQ(grid.GetCellRect(plain, 0, plainCell), 1);
    const int edgeX = gridTree.header()->sectionSize(0) - 3;
    EXPECT_NE(image.pixel(edgeX, plainCell.top + 3), base);
    EXPECT_EQ(image.pixel(edgeX, groupCell.top + 3), base); // no column edge on a spanning row
    EXPECT_EQ(image.pixel(edgeX + 1, plainCell.top + 3), base);
    EXPECT_NE(image.pixel(40, plainCell.bottom), base); // the edge under the row
    EXPECT_EQ(image.pixel(40, plainCell.bottom - 1), base);
}

TEST_F(TreeListTest, NestedRedrawRepaintsOnlyAtTheLastOn) {
    view_.InsertItem(nullptr, nullptr, u"Row\tValue", -1, -1, 0, nullptr);
    QApplication::processEvents();
    const int start = view_.PaintCount();
    view_.SetRedraw(false);
    view_.SetRedraw(false);
    view_.InsertItem(nullptr, nullptr, u"Second\tValue", -1, -1, 0, nullptr);
    view_.SetRedraw(true);
    QApplication::processEvents();
    EXPECT_EQ(view_.PaintCount(), start);
    EXPECT_EQ(view_.RedrawLockCount(), 1);
    view_.SetRedraw(true);
    EXPECT_EQ(view_.PaintCount(), start + 1);
    QApplication::processEvents();
    EXPECT_EQ(view_.PaintCount(), start + 1);
    view_.SetRedraw(true); // an extra on does nothing
    QApplication::processEvents();
    EXPECT_EQ(view_.RedrawLockCount(), 0);
    EXPECT_EQ(view_.PaintCount(), start + 1);
    EXPECT_EQ(tree_.model()->rowCount(), 2);
}

TEST_F(TreeListTest, ColumnLayoutBytes) {
    QByteArray bytes;
    ASSERT_EQ(view_.SaveColumns(bytes), 1);
    ASSERT_EQ(bytes.size(), 16);
    auto at = [&](int i) {
        return qFromLittleEndian<qint32>(bytes.constData() + 4 * static_cast<qsizetype>(i));
    };
    EXPECT_EQ(at(0), 0);
    EXPECT_EQ(at(1), 1);
    EXPECT_EQ(at(2), Scaled(300));
    EXPECT_EQ(at(3), Scaled(400));

    QByteArray layout(16, '\0');
    const qint32 values[4] = {1, 0, 120, 250};
    for (int i = 0; i < 4; ++i)
        qToLittleEndian<qint32>(values[i], layout.data() + 4 * static_cast<qsizetype>(i));
    const int paints = view_.PaintCount();
    ASSERT_EQ(view_.LoadColumns(layout), 1);
    EXPECT_EQ(view_.PaintCount(), paints + 1); // one lock, one repaint
    EXPECT_EQ(tree_.header()->logicalIndex(0), 1);
    EXPECT_EQ(tree_.header()->sectionSize(0), 120);
    EXPECT_EQ(tree_.header()->sectionSize(1), 250);
    QByteArray again;
    ASSERT_EQ(view_.SaveColumns(again), 1);
    EXPECT_EQ(again, layout);

    QByteArray threeColumns(12, '\0'); // written with another column count: ignored
    EXPECT_EQ(view_.LoadColumns(threeColumns), 0);
    EXPECT_EQ(view_.LoadColumns(QByteArray(24, '\0')), 0);
    QByteArray badOrder = layout; // not a permutation: the order stays, the widths apply
    qToLittleEndian<qint32>(1, badOrder.data() + 4);
    qToLittleEndian<qint32>(90, badOrder.data() + 8);
    EXPECT_EQ(view_.LoadColumns(badOrder), 1);
    EXPECT_EQ(tree_.header()->logicalIndex(0), 1);
    EXPECT_EQ(tree_.header()->sectionSize(0), 90);
}

TEST_F(TreeListTest, FindItemByDataInPreOrder) {
    TreeItem a = view_.InsertItem(nullptr, nullptr, u"A\v", -1, -1, 1, &data_[0]);
    TreeItem a1 = view_.InsertItem(a, nullptr, u"A1", -1, -1, 0, &data_[1]);
    view_.InsertItem(a, nullptr, u"A2", -1, -1, 0, &data_[2]);
    TreeItem b = view_.InsertItem(nullptr, nullptr, u"B\v", -1, -1, 1, &data_[1]);
    TreeItem b1 = view_.InsertItem(b, nullptr, u"B1", -1, -1, 0, &data_[1]);
    TreeItem first = view_.InsertItem(nullptr, TreeListView::InsertFirst(), u"First", -1, -1, 0, &data_[3]);
    EXPECT_EQ(view_.FindItemByData(&data_[1]), a1); // a child of A comes before B
    EXPECT_EQ(view_.FindItemByData(&data_[1], b), b1);
    EXPECT_EQ(view_.FindItemByData(&data_[0], b), nullptr);
    EXPECT_EQ(view_.FindItemByData(&data_[4]), nullptr);
    EXPECT_EQ(tree_.model()->index(0, 0).data().toString(), QString("First"));
    EXPECT_EQ(view_.FindItemByData(&data_[3]), first);
    void* got = nullptr;
    char16_t text[TreeListView::kItemTextCapacity];
    ASSERT_EQ(view_.GetItemInfo(b1, text, &got, nullptr, nullptr, nullptr, 0, nullptr), 1);
    EXPECT_EQ(std::u16string(text), u"B1");
    EXPECT_EQ(got, &data_[1]);
    view_.DeleteAllItems();
    EXPECT_EQ(view_.GetItemInfo(b1, text, &got, nullptr, nullptr, nullptr, 0, nullptr), 0); // handles die
    EXPECT_EQ(view_.FindItemByData(&data_[1]), nullptr);
}

TEST_F(TreeListTest, SelectionAndHandlerRouting) {
    TreeItem group = view_.InsertItem(nullptr, nullptr, u"Group\v", 0, 0, 1, &data_[0]);
    TreeItem one = view_.InsertItem(group, nullptr, u"One\t1", 1, 1, 0, &data_[1]);
    TreeItem two = view_.InsertItem(group, nullptr, u"Two\t2", 1, 1, 0, &data_[2]);
    view_.ExpandItem(group, TreeListView::kExpand);
    void* selected = &data_[7];
    EXPECT_EQ(view_.GetSelectedItemData(nullptr, &selected), 0);
    EXPECT_EQ(selected, nullptr);
    ASSERT_EQ(view_.SelectItem(one), 1);
    EXPECT_EQ(view_.GetSelectedItemData(nullptr, &selected), 1);
    EXPECT_EQ(selected, &data_[1]);

    CellRect twoCell;
    ASSERT_EQ(view_.GetCellRect(two, 1, twoCell), 1);
    const QPoint onTwo(twoCell.left + 5, twoCell.top + 3);
    QTest::mouseClick(tree_.viewport(), Qt::RightButton, {}, onTwo);
    ASSERT_EQ(record_.rightClicks.size(), 1u);
    EXPECT_EQ(record_.rightClicks[0], two);  // the item under the mouse
    EXPECT_EQ(view_.GetSelectedItem(), one); // a right-click leaves the selection to the owner
    QTest::mouseClick(tree_.viewport(), Qt::RightButton, {}, QPoint(50, 350));
    ASSERT_EQ(record_.rightClicks.size(), 2u);
    EXPECT_EQ(record_.rightClicks[1], one); // nothing there: the selected item

    QTest::mouseClick(tree_.viewport(), Qt::LeftButton, {}, onTwo); // the first click of a double-click
    QTest::mouseDClick(tree_.viewport(), Qt::LeftButton, {}, onTwo);
    ASSERT_EQ(record_.doubleClicks.size(), 1u);
    EXPECT_EQ(record_.doubleClicks[0], two);

    tree_.setFocus();
    QTest::keyClick(&tree_, Qt::Key_Delete);
    QTest::keyClick(&tree_, Qt::Key_Return);
    ASSERT_EQ(record_.keys.size(), 2u);
    EXPECT_EQ(record_.keys[0], kVkDelete);
    EXPECT_EQ(record_.keys[1], kVkReturn);
    ASSERT_EQ(record_.returns.size(), 1u);
    EXPECT_EQ(record_.returns[0], two);

    EXPECT_EQ(view_.SelectItem(nullptr), 1);
    EXPECT_EQ(view_.GetSelectedItem(), nullptr);
}

TEST_F(TreeListTest, SecondTreeListOnTheSameTreeIsRefused) {
    TreeListView second;
    EXPECT_EQ(second.Attach(&tree_, 0), 0);
    view_.InsertItem(nullptr, nullptr, u"Still here", -1, -1, 0, nullptr);
    EXPECT_EQ(tree_.model()->rowCount(), 1);
}

TEST_F(TreeListTest, RebuildFromTheModelKeepsSelectionExpansionAndColumns) {
    LockedList groups;
    Group* group = new Group();
    group->SetName(u"Plant");
    Source* graph = new Source();
    graph->SetName(u"Level");
    graph->SetParameter(u"100/graph/0/1000");
    Source* text = new Source();
    text->SetName(u"Count");
    text->SetParameter(u"101");
    text->SetValue(u"42");
    group->Sources().Append(graph);
    group->Sources().Append(text);
    groups.Append(group);
    TreeSink sink{};
    MakeTreeSink(view_, sink);
    FillTreeRows(groups, sink);
    tree_.header()->resizeSection(0, 222);

    TreeItem textItem = view_.FindItemByData(static_cast<Record*>(text));
    ASSERT_NE(textItem, nullptr);
    view_.SelectItem(textItem);
    FillTreeRows(groups, sink);
    void* selected = nullptr;
    ASSERT_EQ(view_.GetSelectedItemData(nullptr, &selected), 1);
    EXPECT_EQ(selected, static_cast<void*>(static_cast<Record*>(text)));
    EXPECT_EQ(view_.IsItemExpanded(view_.FindItemByData(static_cast<Record*>(group))), 1);
    EXPECT_TRUE(tree_.isExpanded(tree_.model()->index(0, 0)));
    EXPECT_EQ(tree_.header()->sectionSize(0), 222);
    EXPECT_EQ(tree_.model()->index(1, 1, tree_.model()->index(0, 0)).data().toString(), QString("42"));
    Paint();
    ASSERT_EQ(record_.draws.size(), 1u);
    EXPECT_EQ(record_.draws[0].data, static_cast<void*>(static_cast<Record*>(graph)));
    groups.DeleteAll();
    FillTreeRows(groups, sink);
    EXPECT_EQ(view_.GetSelectedItemData(nullptr, &selected), 0);
    EXPECT_EQ(tree_.model()->rowCount(), 0);
}

namespace {

int DimSecond(TreeItem, void* data, int column, void* context) {
    return column == 1 && data == context ? 1 : 0;
}

int ToolTipOfValue(TreeItem, void* data, int column, QString& text, void*) {
    if (column != 1)
        return 0;
    text = QStringLiteral("tip %1").arg(*static_cast<int*>(data));
    return 1;
}

// The lightest value of the darkest pixel inside the cell: the colour the text was drawn in.
int DarkestGray(const QImage& image, const CellRect& cell) {
    int darkest = 255;
    for (int y = cell.top; y < cell.bottom; ++y)
        for (int x = cell.left; x < cell.right && x < image.width(); ++x)
            darkest = std::min(darkest, qGray(image.pixel(x, y)));
    return darkest;
}

} // namespace

// A value gone old is drawn in the disabled text colour, the others in the normal one; a value cell's
// tooltip comes from the owner.
TEST_F(TreeListTest, DimmedValuesAndValueToolTips) {
    data_[1] = 11;
    data_[2] = 22;
    TreeItem group = view_.InsertItem(nullptr, nullptr, u"Group\v", 0, 0, 1, &data_[0]);
    TreeItem fresh = view_.InsertItem(group, nullptr, u"Fresh\t123456", 1, 1, 0, &data_[1]);
    TreeItem old = view_.InsertItem(group, nullptr, u"Old\t123456", 1, 1, 0, &data_[2]);
    view_.ExpandItem(group, TreeListView::kExpand);
    view_.SetItemHandlers(nullptr, nullptr, nullptr, nullptr, nullptr, &data_[2]);
    view_.SetCellHandlers(&DimSecond, &ToolTipOfValue);
    Paint();
    const QImage image = tree_.viewport()->grab().toImage();
    CellRect freshCell, oldCell, oldName;
    ASSERT_EQ(view_.GetCellRect(fresh, 1, freshCell), 1);
    ASSERT_EQ(view_.GetCellRect(old, 1, oldCell), 1);
    ASSERT_EQ(view_.GetCellRect(old, 0, oldName), 1);
    const int normal = DarkestGray(image, freshCell);
    const int dimmed = DarkestGray(image, oldCell);
    EXPECT_LT(normal, 100);
    EXPECT_GT(dimmed, normal + 40) << "normal " << normal << ", dimmed " << dimmed;
    EXPECT_LT(DarkestGray(image, oldName), 100); // the name keeps its colour

    const QPoint at((oldCell.left + oldCell.right) / 2, (oldCell.top + oldCell.bottom) / 2);
    QHelpEvent help(QEvent::ToolTip, at, tree_.viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree_.viewport(), &help);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("tip 22"));
}

namespace {

void FillBlack(TreeItem, void*, int, const CellRect& rect, DrawingSurface& surface, void*) {
    surface.FillRect(rect, MakeCellColor(0, 0, 0));
}

} // namespace

// A drawn value gone old fades like a text one; a fresh drawing keeps its colour.
TEST_F(TreeListTest, DimmedDrawnCells) {
    TreeItem group = view_.InsertItem(nullptr, nullptr, u"Group\v", 0, 0, 1, &data_[0]);
    TreeItem fresh = view_.InsertItem(group, nullptr, u"Fresh\t\f", 1, 1, 0, &data_[1]);
    TreeItem old = view_.InsertItem(group, nullptr, u"Old\t\f", 1, 1, 0, &data_[2]);
    view_.ExpandItem(group, TreeListView::kExpand);
    view_.SetCellDrawer(&FillBlack);
    view_.SetItemHandlers(nullptr, nullptr, nullptr, nullptr, nullptr, &data_[2]);
    view_.SetCellHandlers(&DimSecond, nullptr);
    Paint();
    const QImage image = tree_.viewport()->grab().toImage();
    CellRect freshCell, oldCell;
    ASSERT_EQ(view_.GetCellRect(fresh, 1, freshCell), 1);
    ASSERT_EQ(view_.GetCellRect(old, 1, oldCell), 1);
    const QPoint inFresh((freshCell.left + freshCell.right) / 2, (freshCell.top + freshCell.bottom) / 2);
    const QPoint inOld((oldCell.left + oldCell.right) / 2, (oldCell.top + oldCell.bottom) / 2);
    EXPECT_LT(qGray(image.pixel(inFresh)), 20);
    EXPECT_GT(qGray(image.pixel(inOld)), 100);
}

namespace {

const char16_t* shownText = u"";

void ShowText(TreeListItemInfo& info, void*) {
    int i = 0;
    for (; shownText[i] && i + 1 < info.textCapacity; ++i)
        info.text[i] = shownText[i];
    info.text[i] = 0;
}

QImage CellImage(QTreeView& tree, const CellRect& cell) {
    return tree.viewport()->grab().toImage().copy(
        QRect(cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top));
}

} // namespace

// Row texts are laid out once and kept; a paint must still show the text the row has now, cut to the
// width its column has now.
TEST_F(TreeListTest, PaintedTextsFollowTheirTextAndColumnWidth) {
    view_.SetItemHandlers(&ShowText, nullptr, nullptr, nullptr, nullptr, nullptr);
    shownText = u"Pressure\t1111";
    TreeItem item = view_.InsertItem(nullptr, nullptr, nullptr, -1, -1, 0, &data_[0]);
    Paint();
    CellRect cell;
    ASSERT_EQ(view_.GetCellRect(item, 1, cell), 1);
    const QImage first = CellImage(tree_, cell);
    shownText = u"Pressure\t8888";
    Paint();
    const QImage changed = CellImage(tree_, cell);
    EXPECT_NE(changed, first);
    shownText = u"Pressure\t1111";
    Paint();
    EXPECT_EQ(CellImage(tree_, cell), first);

    // A long text in a narrow column is cut with an ellipsis inside the cell, and grows back with it.
    shownText = u"Pressure\tWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW";
    tree_.header()->resizeSection(1, 60);
    Paint();
    ASSERT_EQ(view_.GetCellRect(item, 1, cell), 1);
    const QImage narrow = tree_.viewport()->grab().toImage();
    int inked = 0;
    for (int y = cell.top; y < cell.bottom; ++y) {
        for (int x = cell.left; x < cell.left + 200; ++x) {
            if (qGray(narrow.pixel(x, y)) < 128) {
                EXPECT_LT(x, cell.right) << "text drawn past its cell at x " << x;
                ++inked;
            }
        }
    }
    EXPECT_GT(inked, 0);
    tree_.header()->resizeSection(1, 600);
    Paint();
    ASSERT_EQ(view_.GetCellRect(item, 1, cell), 1);
    const QImage wide = tree_.viewport()->grab().toImage();
    bool inkBeyondNarrowCell = false;
    for (int y = cell.top; y < cell.bottom && !inkBeyondNarrowCell; ++y)
        for (int x = cell.left + 80; x < cell.left + 200; ++x)
            inkBeyondNarrowCell = inkBeyondNarrowCell || qGray(wide.pixel(x, y)) < 128;
    EXPECT_TRUE(inkBeyondNarrowCell);
}

// Painting a row allocates nothing once its text has been laid out: a repaint of 200 rows costs the same
// allocations as one of 20 (Qt's own few per paint).
TEST_F(TreeListTest, RepaintAllocationsDoNotGrowWithRows) {
    tree_.resize(800, 5000);
    auto allocationsOfRepaint = [&](int rows) {
        view_.DeleteAllItems();
        EXPECT_GE(view_.AddIcon(QIcon(QPixmap(16, 16))), 0);
        TreeItem group = view_.InsertItem(nullptr, nullptr, u"Group\v", 0, 0, 1, &data_[0]);
        for (int i = 0; i < rows; ++i) {
            const std::u16string text = u"Source " + std::u16string(1, char16_t(u'A' + i % 26)) + u"\t" +
                                        (i % 2 ? std::u16string(u"\f") : std::u16string(u"42"));
            view_.InsertItem(group, nullptr, text.c_str(), 0, 0, 0, &data_[1]);
        }
        view_.ExpandItem(group, TreeListView::kExpand);
        QApplication::processEvents();
        Paint(); // lays the texts out
        Paint();
        record_.draws.clear(); // keeps its room, so recording the cells below allocates nothing
        const std::size_t before = AllocationCount();
        tree_.viewport()->repaint();
        return AllocationCount() - before;
    };
    const std::size_t few = allocationsOfRepaint(20);
    const std::size_t many = allocationsOfRepaint(200);
    EXPECT_EQ(record_.draws.size(), 100u); // the tall view showed all 200 rows
    EXPECT_EQ(many, few);
}

} // namespace mistvale
