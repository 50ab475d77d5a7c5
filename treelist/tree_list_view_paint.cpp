#include "treelist/tree_list_view.h"

#include "treelist/row_layout.h"
#include "treelist/row_text.h"
#include "treelist/tree_list_model.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTreeView>

namespace mistvale {

namespace {
// How much of the background covers a drawn cell whose value has gone old (0 none, 255 all).
constexpr int kDimVeilAlpha = 150;
} // namespace

// Row painting: the rows' backgrounds, grid lines, expand arrows, check boxes, icons and texts, and the
// owner-drawn cells.

namespace {

constexpr int kMaxPiecesPainted = 64;

} // namespace

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
    for (QPen& pen : textPens_)
        if (pen.color() == color)
            return pen;
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
        AskItemText(node, callbackBuffer);
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
            // An old value's picture fades like an old value's text: the row's background over it.
            if (cellDim_ && !selectedLook && cellDim_(item, n.data, j, context_)) {
                QColor veil = tree_->palette().color(QPalette::Base);
                veil.setAlpha(kDimVeilAlpha);
                painter.fillRect(QRect(QPoint(cell.left, cell.top), QPoint(cell.right - 1, cell.bottom - 1)),
                                 veil);
            }
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

} // namespace mistvale
