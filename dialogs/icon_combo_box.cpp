#include "dialogs/icon_combo_box.h"

#include <QLineEdit>
#include <QStyle>

#include "dialogs/dialog_base.h"
#include "resources/app_icons.h"

namespace mistvale {

int IconComboBox::Attach(QWidget* control) {
    auto* combo = qobject_cast<QComboBox*>(control);
    control_ = combo;
    redrawSuspension_ = 0;
    if (!combo)
        return 0;
    sorted_ = combo->property("dialogSorted").toBool();
    int iconSize = combo->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, combo);
    combo->setIconSize(QSize(iconSize, iconSize));
    return 1;
}

int IconComboBox::Add(const QString& text, std::uint32_t value, int iconId, int* index) {
    QComboBox* combo = control_;
    if (!combo)
        return 0;
    int position = combo->count();
    if (sorted_) {
        // After every entry that sorts before or equal to the text, as a sorted list box places it.
        position = 0;
        while (position < combo->count() &&
               QString::compare(combo->itemText(position), text, Qt::CaseInsensitive) <= 0)
            ++position;
    }
    SuspendRedraw();
    int before = combo->currentIndex();
    QString editText = combo->isEditable() ? combo->currentText() : QString();
    combo->insertItem(position, IconById(iconId), text, QVariant::fromValue<quint32>(value));
    if (before < 0 && combo->currentIndex() >= 0) {
        // Adding never selects: the first entry of an empty list stays unselected until Select.
        combo->setCurrentIndex(-1);
        if (combo->isEditable())
            combo->setEditText(editText);
    }
    ResumeRedraw();
    if (index)
        *index = position;
    return 1;
}

int IconComboBox::Add(const WideString& text, std::uint32_t value, int iconId, int* index) {
    return Add(ToQString(text), value, iconId, index);
}

int IconComboBox::Select(int index) {
    QComboBox* combo = control_;
    if (!combo)
        return 0;
    if (index < 0 || index >= combo->count()) {
        if (index == -1)
            combo->setCurrentIndex(-1);
        return 0;
    }
    combo->setCurrentIndex(index);
    return 1;
}

int IconComboBox::SetText(const QString& text) {
    QComboBox* combo = control_;
    if (!combo)
        return 0;
    if (combo->isEditable()) {
        combo->setEditText(text);
        return 1;
    }
    int found = -1;
    if (!FindText(text, 1, -1, &found))
        return 0;
    combo->setCurrentIndex(found);
    return 1;
}

int IconComboBox::SetText(const WideString& text) {
    return SetText(ToQString(text));
}

int IconComboBox::GetText(QString& out) const {
    QComboBox* combo = control_;
    out = combo ? combo->currentText() : QString();
    return static_cast<int>(out.size());
}

int IconComboBox::GetText(WideString& out) const {
    QString text;
    int length = GetText(text);
    out = ToWideString(text);
    return length;
}

int IconComboBox::FindText(const QString& text, int exact, int start, int* index) const {
    QComboBox* combo = control_;
    if (!combo)
        return 0;
    int count = combo->count();
    if (start < -1 || start >= count)
        start = -1;
    // The search begins after start and wraps round to it, like the desktop's list search.
    for (int step = 0; step < count; ++step) {
        int at = (start + 1 + step) % count;
        QString item = combo->itemText(at);
        bool match =
            exact ? item.compare(text, Qt::CaseInsensitive) == 0 : item.startsWith(text, Qt::CaseInsensitive);
        if (match) {
            if (index)
                *index = at;
            return 1;
        }
    }
    return 0;
}

int IconComboBox::FindText(const WideString& text, int exact, int start, int* index) const {
    return FindText(ToQString(text), exact, start, index);
}

int IconComboBox::FindValue(std::uint32_t value, int start, int* index) const {
    QComboBox* combo = control_;
    if (!combo)
        return 0;
    for (int at = start < 0 ? 0 : start; at < combo->count(); ++at) {
        if (combo->itemData(at).value<quint32>() == value) {
            if (index)
                *index = at;
            return 1;
        }
    }
    return 0;
}

int IconComboBox::SelectedValue(int* index, std::uint32_t* value) const {
    QComboBox* combo = control_;
    if (!combo || combo->currentIndex() < 0)
        return 0;
    int selected = combo->currentIndex();
    if (index)
        *index = selected;
    if (value)
        *value = combo->itemData(selected).value<quint32>();
    return 1;
}

std::uint32_t IconComboBox::ValueAt(int index) const {
    QComboBox* combo = control_;
    if (!combo || index < 0 || index >= combo->count())
        return 0;
    return combo->itemData(index).value<quint32>();
}

int IconComboBox::Count() const {
    QComboBox* combo = control_;
    return combo ? combo->count() : 0;
}

void IconComboBox::Clear() {
    if (QComboBox* combo = control_)
        combo->clear();
}

void IconComboBox::SuspendRedraw() {
    QComboBox* combo = control_;
    if (combo && redrawSuspension_++ == 0)
        combo->setUpdatesEnabled(false);
}

void IconComboBox::ResumeRedraw() {
    QComboBox* combo = control_;
    if (redrawSuspension_ > 0 && --redrawSuspension_ == 0 && combo) {
        combo->setUpdatesEnabled(true);
        combo->update();
    }
}

} // namespace mistvale
