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

} // namespace mistvale
