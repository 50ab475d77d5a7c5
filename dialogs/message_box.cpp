#include "dialogs/message_box.h"

#include <QMessageBox>

namespace mistvale {

namespace {

MessageBoxHook g_hook = nullptr;
void* g_hookContext = nullptr;

int ResultOf(int button) {
    switch (button) {
    case QMessageBox::Ok:
        return kMsgResultOk;
    case QMessageBox::Cancel:
        return kMsgResultCancel;
    case QMessageBox::Abort:
        return 3;
    case QMessageBox::Retry:
        return 4;
    case QMessageBox::Ignore:
        return 5;
    case QMessageBox::Yes:
        return kMsgResultYes;
    case QMessageBox::No:
        return kMsgResultNo;
    default:
        return kMsgResultCancel;
    }
}

} // namespace

int ShowMessage(QWidget* owner, unsigned style, const QString& caption, const QString& text) {
    if (style == 0)
        style = kMsgBoxIconExclamation;
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    // Texts hold names the user typed: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (style & 0xF0) {
    case kMsgBoxIconError:
        box.setIcon(QMessageBox::Critical);
        break;
    case kMsgBoxIconQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case kMsgBoxIconExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case kMsgBoxIconInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton first;
    switch (style & 0x0F) {
    case kMsgBoxOkCancel:
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
        first = QMessageBox::Ok;
        break;
    case 0x2:
        buttons = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
        first = QMessageBox::Abort;
        break;
    case kMsgBoxYesNoCancel:
        buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        first = QMessageBox::Yes;
        break;
    case kMsgBoxYesNo:
        buttons = QMessageBox::Yes | QMessageBox::No;
        first = QMessageBox::Yes;
        break;
    case 0x5:
        buttons = QMessageBox::Retry | QMessageBox::Cancel;
        first = QMessageBox::Retry;
        break;
    default:
        buttons = QMessageBox::Ok;
        first = QMessageBox::Ok;
        break;
    }
    box.setStandardButtons(buttons);
    box.setDefaultButton(first);
    // Escape and the close box give Cancel, or No where there is no Cancel, never Yes.
    if (buttons & QMessageBox::Cancel)
        box.setEscapeButton(QMessageBox::Cancel);
    else if (buttons & QMessageBox::No)
        box.setEscapeButton(QMessageBox::No);
    else if (buttons & QMessageBox::Ignore)
        box.setEscapeButton(QMessageBox::Ignore);
    else
        box.setEscapeButton(QMessageBox::Ok);
    if (g_hook)
        return g_hook(g_hookContext, box);
    return ResultOf(box.exec());
}

void SetMessageBoxHook(MessageBoxHook hook, void* context) {
    g_hook = hook;
    g_hookContext = context;
}

} // namespace mistvale
