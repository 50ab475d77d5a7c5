// The dialog foundation's controls, one builder per kind of control in a template: each makes the
// widget with the template's text and style and routes its notifications to the dialog's command
// handler. Placement, enabling and registration are the caller's (BuildControls).
#include "dialogs/dialog_base.h"

#include "dialogs/control_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace mistvale {

namespace {

QString ButtonText(const ControlTemplate& control, const QString& text) {
    return (control.style & kStyleNoPrefix) ? EscapeMnemonic(text) : text;
}

} // namespace

QWidget* DialogBase::BuildLabel(const QString& text) {
    auto* label = new QLabel(Window());
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setText(text);
    return label;
}

QWidget* DialogBase::BuildEdit(const ControlTemplate& control, const QString& text) {
    const int id = control.id;
    auto* edit = new QLineEdit(text, Window());
    edit->installEventFilter(SelectAllFilter());
    edit->setReadOnly(control.style & kStyleReadOnly);
    if (control.style & kStylePassword)
        edit->setEchoMode(QLineEdit::Password);
    QObject::connect(edit, &QLineEdit::textEdited, Window(),
                     [this, id] { DispatchCommand(id, kCodeEditChange); });
    return edit;
}

QWidget* DialogBase::BuildPushButton(const ControlTemplate& control, const QString& text) {
    const int id = control.id;
    auto* button = new QPushButton(ButtonText(control, text), Window());
    // Enter is handled by the dialog itself, so no button becomes default by taking the focus.
    button->setAutoDefault(false);
    if (control.kind == ControlKind::DefaultPushButton) {
        button->setDefault(true);
        defaultButtonId_ = id;
    }
    QObject::connect(button, &QPushButton::clicked, Window(),
                     [this, id] { DispatchCommand(id, kCodeClicked); });
    return button;
}

QWidget* DialogBase::BuildCheckBox(const ControlTemplate& control, const QString& text) {
    const int id = control.id;
    auto* box = new QCheckBox(ButtonText(control, text), Window());
    QObject::connect(box, &QCheckBox::clicked, Window(), [this, id] { DispatchCommand(id, kCodeClicked); });
    return box;
}

QWidget* DialogBase::BuildRadioButton(const ControlTemplate& control, const QString& text,
                                      RadioGrouping& radios) {
    const int id = control.id;
    if (radios.seen && (control.style & kStyleGroup))
        ++radios.group;
    radios.seen = true;
    auto* radio = new QRadioButton(ButtonText(control, text), Window());
    // Exclusivity is kept by hand so that the program can also clear every button of a group.
    radio->setAutoExclusive(false);
    radio->setProperty(kPropertyRadioGroup, radios.group);
    QObject::connect(radio, &QRadioButton::clicked, Window(), [this, id, radio](bool checked) {
        if (!checked)
            radio->setChecked(true);
        int group = radio->property(kPropertyRadioGroup).toInt();
        for (auto& item : items_) {
            auto* other = qobject_cast<QRadioButton*>(item.second.data());
            if (other && other != radio && other->property(kPropertyRadioGroup).toInt() == group)
                other->setChecked(false);
        }
        DispatchCommand(id, kCodeClicked);
    });
    return radio;
}

QWidget* DialogBase::BuildGroupBox(const ControlTemplate& control, const QString& text) {
    return new QGroupBox(ButtonText(control, text), Window());
}

QWidget* DialogBase::BuildComboBox(const ControlTemplate& control, const QString& text, QRect& rect) {
    const int id = control.id;
    auto* combo = new QComboBox(Window());
    if (control.kind == ControlKind::DropDownCombo) {
        combo->setEditable(true);
        // Typed text is the field's value, never a new entry, and it is not completed.
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);
        combo->setEditText(text);
        combo->installEventFilter(SelectAllFilter());
        QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, Window(),
                         [this, id] { DispatchCommand(id, kCodeEditChange); });
    }
    combo->setProperty("dialogSorted", (control.style & kStyleSorted) != 0);
    QObject::connect(combo, &QComboBox::activated, Window(),
                     [this, id] { DispatchCommand(id, kCodeSelChange); });
    // The template's height includes the drop-down list; the field itself is as high as it needs.
    int fieldHeight = combo->sizeHint().height();
    if (rect.height() > fieldHeight) {
        int rows = rect.height() / std::max(1, QFontMetrics(combo->font()).height() + 4) - 1;
        combo->setMaxVisibleItems(std::max(5, rows));
        rect.setHeight(fieldHeight);
    }
    return combo;
}

QWidget* DialogBase::BuildListView(const ControlTemplate& control) {
    const int id = control.id;
    auto* list = new QTreeWidget(Window());
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->header()->setSectionsMovable(false);
    list->header()->setStretchLastSection(true);
    list->setProperty("dialogCheckBoxes", (control.style & kStyleCheckBoxes) != 0);
    QObject::connect(
        list, &QTreeWidget::itemSelectionChanged, Window(),
        [this, id] { DispatchCommand(id, kCodeSelChange); });
    QObject::connect(list, &QTreeWidget::itemDoubleClicked, Window(),
                     [this, id] { DispatchCommand(id, kCodeDoubleClick); });
    return list;
}

QWidget* DialogBase::BuildProgressBar() {
    auto* bar = new QProgressBar(Window());
    bar->setTextVisible(false);
    return bar;
}

QWidget* DialogBase::BuildContainer() {
    auto* widget = new QWidget(Window());
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return widget;
}

void DialogBase::Register(int id, QWidget* widget, unsigned style) {
    widget->setProperty(kItemIdProperty, id);
    if (style & kStyleNoPrefix)
        widget->setProperty("dialogNoPrefix", true);
    items_[id] = widget;
    Anchor anchor;
    QRect geometry = widget->geometry();
    if (style & (kStyleAnchorRight | kStyleMoveRight))
        anchor.rightGap = templateClient_.width() - (geometry.x() + geometry.width());
    if (style & (kStyleAnchorBottom | kStyleMoveDown))
        anchor.bottomGap = templateClient_.height() - (geometry.y() + geometry.height());
    anchor.moveRight = (style & kStyleMoveRight) != 0;
    anchor.moveDown = (style & kStyleMoveDown) != 0;
    if (style & (kStyleAnchorRight | kStyleAnchorBottom | kStyleMoveRight | kStyleMoveDown))
        anchors_[id] = anchor;
    else
        anchors_.erase(id);
}

void DialogBase::LayoutAnchors() {
    if (!window_)
        return;
    QSize client = Window()->size();
    for (const auto& anchor : anchors_) {
        QWidget* item = ItemWindow(anchor.first);
        if (!item)
            continue;
        QRect geometry = item->geometry();
        if (anchor.second.rightGap != kNoAnchor && anchor.second.moveRight)
            geometry.moveLeft(client.width() - anchor.second.rightGap - geometry.width());
        else if (anchor.second.rightGap != kNoAnchor)
            geometry.setWidth(std::max(0, client.width() - anchor.second.rightGap - geometry.x()));
        if (anchor.second.bottomGap != kNoAnchor && anchor.second.moveDown)
            geometry.moveTop(client.height() - anchor.second.bottomGap - geometry.height());
        else if (anchor.second.bottomGap != kNoAnchor)
            geometry.setHeight(std::max(0, client.height() - anchor.second.bottomGap - geometry.y()));
        item->setGeometry(geometry);
    }
}

int DialogBase::ReplaceItem(int id, QWidget* widget) {
    QWidget* old = ItemWindow(id);
    if (!old || !widget || widget == old)
        return 0;
    widget->setParent(Window());
    widget->setGeometry(old->geometry());
    widget->setProperty(kItemIdProperty, id);
    if (old->property("dialogNoPrefix").toBool())
        widget->setProperty("dialogNoPrefix", true);
    // Keep the tab order: the new control takes the old one's place in the chain.
    QWidget::setTabOrder(old, widget);
    widget->setVisible(!old->isHidden());
    items_[id] = widget;
    if (defaultButtonId_ == id && !qobject_cast<QPushButton*>(widget))
        defaultButtonId_ = 0;
    delete old;
    return 1;
}

int DialogBase::AddItem(int id, QWidget* widget, const QRect& pixels, unsigned style) {
    if (!window_ || !widget || ItemWindow(id))
        return 0;
    widget->setParent(Window());
    widget->setGeometry(pixels);
    widget->setVisible(!(style & kStyleHidden));
    if (style & kStyleDisabled)
        widget->setEnabled(false);
    // Anchors of added widgets are measured against the window as it is now.
    QSize saved = templateClient_;
    templateClient_ = Window()->size();
    Register(id, widget, style);
    templateClient_ = saved;
    return 1;
}

void DialogBase::BuildControls(const DialogTemplate& dialogTemplate) {
    templateClient_ = MapDialogRect(QRect(0, 0, dialogTemplate.width, dialogTemplate.height)).size();
    std::vector<QWidget*> groupBoxes;
    RadioGrouping radios;
    for (int i = 0; i < dialogTemplate.controlCount; ++i) {
        const ControlTemplate& control = dialogTemplate.controls[i];
        const QString text = control.text ? QString::fromUtf8(control.text) : QString();
        QRect rect = MapDialogRect(QRect(control.x, control.y, control.width, control.height));
        QWidget* widget = nullptr;
        switch (control.kind) {
        case ControlKind::Label:
            widget = BuildLabel(text);
            break;
        case ControlKind::Edit:
            widget = BuildEdit(control, text);
            break;
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
            widget = BuildPushButton(control, text);
            break;
        case ControlKind::CheckBox:
            widget = BuildCheckBox(control, text);
            break;
        case ControlKind::RadioButton:
            widget = BuildRadioButton(control, text, radios);
            break;
        case ControlKind::GroupBox:
            widget = BuildGroupBox(control, text);
            groupBoxes.push_back(widget);
            break;
        case ControlKind::DropDownList:
        case ControlKind::DropDownCombo:
            widget = BuildComboBox(control, text, rect);
            break;
        case ControlKind::ListView:
            widget = BuildListView(control);
            break;
        case ControlKind::ProgressBar:
            widget = BuildProgressBar();
            break;
        case ControlKind::TreeView:
            widget = new QTreeView(Window());
            break;
        case ControlKind::Container:
            widget = BuildContainer();
            break;
        }
        if (!widget)
            continue;
        widget->setGeometry(rect);
        if (control.style & kStyleDisabled)
            widget->setEnabled(false);
        if (control.style & kStyleHidden)
            widget->hide();
        Register(control.id, widget, control.style);
    }
    // Frames stay behind the controls drawn over them.
    for (QWidget* box : groupBoxes)
        box->lower();
}

} // namespace mistvale
