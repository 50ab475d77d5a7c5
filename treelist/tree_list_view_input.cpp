#include "treelist/tree_list_view.h"

#include "treelist/row_layout.h"
#include "treelist/tree_list_model.h"
#include "treelist/virtual_keys.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>
#include <QTreeView>

namespace mistvale {

// Input: keys, mouse, context menus, tooltips and the paint event, as they reach the tree's viewport.

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
    if (copyKey_ && event->matches(QKeySequence::Copy)) {
        copyKey_(GetSelectedItem(), context_);
        return true;
    }
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

} // namespace mistvale
