#pragma once
// ShowMessage: the program's message box. The text is shown exactly as given (never as rich text),
// the caption is the given one. Tests answer message boxes through a hook instead of a person.

#include <QString>

class QMessageBox;
class QWidget;

namespace mistvale {

// Style bits (the values the program has always used). Style 0 means an exclamation icon with OK.
enum MessageStyle : unsigned {
    kMsgBoxOk = 0x0,
    kMsgBoxOkCancel = 0x1,
    kMsgBoxYesNoCancel = 0x3,
    kMsgBoxYesNo = 0x4,
    kMsgBoxIconError = 0x10,
    kMsgBoxIconQuestion = 0x20,
    kMsgBoxIconExclamation = 0x30,
    kMsgBoxIconInformation = 0x40,
};

// Results: the button the user pressed.
enum MessageResult : int {
    kMsgResultOk = 1,
    kMsgResultCancel = 2,
    kMsgResultYes = 6,
    kMsgResultNo = 7,
};

// Shows a modal message box over owner (or none) and returns the pressed button; closing the box
// with Escape or the close box gives Cancel, or No where there is no Cancel button.
int ShowMessage(QWidget* owner, unsigned style, const QString& caption, const QString& text);

// Called with the fully set-up box instead of running it; returns the result to report.
using MessageBoxHook = int (*)(void* context, QMessageBox& box);
// Installs (or, with nullptr, removes) the hook. For tests; user-interface thread only.
void SetMessageBoxHook(MessageBoxHook hook, void* context);

} // namespace mistvale
