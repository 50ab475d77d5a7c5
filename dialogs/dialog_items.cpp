// Reading and setting the values of a dialog's controls by their ids: texts, numbers, checks and radio
// groups, as the dialogs' handlers use them.
#include "dialogs/dialog_base.h"

#include "dialogs/control_text.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <climits>

namespace mistvale {

QWidget* DialogBase::ItemWindow(int id) const {
    if (!window_)
        return nullptr;
    auto found = items_.find(id);
    return found == items_.end() ? nullptr : found->second.data();
}

int DialogBase::SetItemText(int id, const QString& text) {
    QWidget* item = ItemWindow(id);
    if (!item)
        return 0;
    bool noPrefix = item->property("dialogNoPrefix").toBool();
    if (auto* label = qobject_cast<QLabel*>(item)) {
        label->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(item)) {
        edit->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(item)) {
        button->setText(noPrefix ? EscapeMnemonic(text) : text);
    } else if (auto* box = qobject_cast<QGroupBox*>(item)) {
        box->setTitle(noPrefix ? EscapeMnemonic(text) : text);
    } else if (auto* combo = qobject_cast<QComboBox*>(item)) {
        if (combo->isEditable()) {
            combo->setEditText(text);
        } else {
            int index = combo->findText(text, Qt::MatchFixedString);
            if (index < 0)
                return 0;
            combo->setCurrentIndex(index);
        }
    } else {
        item->setWindowTitle(text);
    }
    return 1;
}

int DialogBase::SetItemText(int id, const WideString& text) {
    return SetItemText(id, ToQString(text));
}

int DialogBase::SetItemText(int id, const char16_t* text) {
    return SetItemText(id, ToQString(text));
}

int DialogBase::GetItemText(int id, QString& out) const {
    out.clear();
    QWidget* item = ItemWindow(id);
    if (!item)
        return 1;
    bool noPrefix = item->property("dialogNoPrefix").toBool();
    if (auto* label = qobject_cast<QLabel*>(item)) {
        out = label->text();
    } else if (auto* edit = qobject_cast<QLineEdit*>(item)) {
        out = edit->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(item)) {
        out = button->text();
        if (noPrefix)
            out.replace(QLatin1String("&&"), QLatin1String("&"));
    } else if (auto* box = qobject_cast<QGroupBox*>(item)) {
        out = box->title();
        if (noPrefix)
            out.replace(QLatin1String("&&"), QLatin1String("&"));
    } else if (auto* combo = qobject_cast<QComboBox*>(item)) {
        out = combo->currentText();
    } else {
        out = item->windowTitle();
    }
    return 1;
}

int DialogBase::GetItemText(int id, WideString& out) const {
    QString text;
    GetItemText(id, text);
    out = ToWideString(text);
    return 1;
}

int DialogBase::SetItemNumber(int id, unsigned value) {
    return SetItemText(id, QString::number(value));
}

int DialogBase::GetItemNumber(int id, unsigned* value) const {
    QString text;
    GetItemText(id, text);
    qsizetype at = 0;
    while (at < text.size() && (text[at] == QLatin1Char(' ') || text[at] == QLatin1Char('\t')))
        ++at;
    unsigned long long number = 0;
    bool isNumber = at < text.size();
    for (; at < text.size() && isNumber; ++at) {
        char16_t unit = text[at].unicode();
        if (unit < u'0' || unit > u'9') {
            isNumber = false;
            break;
        }
        number = number * 10 + (unit - u'0');
        if (number > 0xFFFFFFFFull)
            isNumber = false;
    }
    if (value)
        *value = isNumber ? static_cast<unsigned>(number) : 0u;
    return isNumber ? 1 : 0;
}

void DialogBase::EnableItem(int id, int enabled) {
    if (QWidget* item = ItemWindow(id))
        item->setEnabled(enabled != 0);
}

void DialogBase::CheckItem(int id, int checked) {
    if (auto* button = Item<QAbstractButton>(id)) {
        if (button->isCheckable())
            button->setChecked(checked == 1);
    } else if (auto* box = Item<QGroupBox>(id)) {
        if (box->isCheckable())
            box->setChecked(checked == 1);
    }
}

int DialogBase::IsItemChecked(int id) const {
    if (auto* button = Item<QAbstractButton>(id))
        return button->isCheckable() && button->isChecked() ? 1 : 0;
    if (auto* box = Item<QGroupBox>(id))
        return box->isCheckable() && box->isChecked() ? 1 : 0;
    return 0;
}

void DialogBase::CheckRadio(int firstId, int lastId, int checkId) {
    for (auto& item : items_) {
        if (item.first < firstId || item.first > lastId || item.first == checkId)
            continue;
        if (auto* button = qobject_cast<QAbstractButton*>(item.second.data());
            button && button->isCheckable())
            button->setChecked(false);
    }
    CheckItem(checkId, 1);
}

} // namespace mistvale
