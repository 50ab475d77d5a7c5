#pragma once
// Helpers that drive a modal dialog from inside its own event loop, the way a user would: the action
// runs once the dialog is up, and a watchdog ends a dialog that a failed check left open.

#include "dialogs/dialog_base.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <functional>

// Runs action as soon as the next dialog's modal loop runs, and ends that dialog with -2 should it
// still be open after timeoutMs.
inline void WhenShown(DialogBase& dialog, std::function<void()> action, int timeoutMs = 20000) {
    QTimer::singleShot(0, action);
    QTimer::singleShot(timeoutMs, [&dialog] {
        if (dialog.IsRunning()) {
            dialog.End(-2);
        }
    });
}

inline QString ItemText(const DialogBase& dialog, int id) {
    QString text;
    dialog.GetItemText(id, text);
    return text;
}

inline bool ItemEnabled(const DialogBase& dialog, int id) {
    QWidget* item = dialog.ItemWindow(id);
    return item != nullptr && item->isEnabled();
}

// Clicks a push button, check box or radio button like the mouse does (only when it is enabled).
inline void ClickItem(const DialogBase& dialog, int id) {
    if (auto* button = dialog.Item<QAbstractButton>(id)) {
        button->click();
    }
}

// Replaces an edit's text as typing would.
inline void TypeInto(const DialogBase& dialog, int id, const QString& text) {
    if (auto* edit = dialog.Item<QLineEdit>(id)) {
        edit->selectAll();
        edit->del();
        edit->insert(text);
    } else if (auto* combo = dialog.Item<QComboBox>(id)) {
        if (QLineEdit* field = combo->lineEdit()) {
            field->selectAll();
            field->del();
            field->insert(text);
        }
    }
}

inline QString ComboText(const DialogBase& dialog, int id) {
    auto* combo = dialog.Item<QComboBox>(id);
    return combo != nullptr ? combo->currentText() : QString();
}
