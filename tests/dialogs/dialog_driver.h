#pragma once
// Helpers that drive a modal dialog from inside its own event loop, the way a user would: the action
// runs once the dialog is up, and a watchdog ends a dialog that a failed check left open.

#include "dialogs/dialog_base.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace mistvale {

// Runs action as soon as the next dialog's modal loop runs, and ends that dialog with -2 should it
// still be open after timeoutMs.
inline void WhenShown(DialogBase& dialog, const std::function<void()>& action, int timeoutMs = 20000) {
    QTimer::singleShot(
        0,
        [&dialog, action, timeoutMs] {
            // Tied to the dialog's window, so that it goes away with this run of the dialog.
            if (QDialog* window = dialog.Window())
                QTimer::singleShot(
                    timeoutMs, window, [&dialog] { dialog.End(-2); });
            action();
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
    if (auto* button = dialog.Item<QAbstractButton>(id))
        button->click();
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

// Sets an environment variable for the life of the object and puts the old state back afterwards.
class EnvOverride {
public:
    EnvOverride(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        old_ = old != nullptr ? old : "";
        setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

// Only the test's own paths are serial ports: no test opens, or lists, a real port of the machine.
inline std::unique_ptr<EnvOverride> OnlyTheseSerialPorts(const std::string& paths,
                                                         std::unique_ptr<EnvOverride>* only) {
    *only = std::make_unique<EnvOverride>("MISTVALE_SERIAL_PORTS_ONLY", "1");
    return std::make_unique<EnvOverride>("MISTVALE_SERIAL_PORTS", paths);
}

} // namespace mistvale
