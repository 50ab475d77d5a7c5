// ShowMessage as the user sees it: caption, plain text exactly as given, icon and buttons.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "dialogs/dialog_base.h"
#include "dialogs/message_box.h"
#include "platform/string_table.h"

namespace mistvale {

namespace {

struct Seen {
    QString caption, text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QMessageBox::StandardButton escapeButton = QMessageBox::NoButton;
    int answer = kMsgResultNo;
};

int Record(void* context, QMessageBox& box) {
    auto* seen = static_cast<Seen*>(context);
    seen->caption = box.windowTitle();
    seen->text = box.text();
    seen->format = box.textFormat();
    seen->icon = box.icon();
    seen->buttons = box.standardButtons();
    seen->defaultButton = box.standardButton(box.defaultButton());
    seen->escapeButton = box.standardButton(box.escapeButton());
    return seen->answer;
}

} // namespace

TEST(MessageBox, DeleteQuestionShowsTheNameExactlyWithYesAndNo) {
    Seen seen;
    seen.answer = kMsgResultYes;
    SetMessageBoxHook(Record, &seen);
    WideString text;
    FormatText(text, kStrDeleteGroupQuestion, {u"100% <i>%1</i> & co"});
    int result =
        ShowMessage(nullptr, kMsgBoxYesNo | kMsgBoxIconQuestion, QStringLiteral("Mistvale"), ToQString(text));
    SetMessageBoxHook(nullptr, nullptr);
    EXPECT_EQ(result, kMsgResultYes);
    EXPECT_EQ(seen.caption, QStringLiteral("Mistvale"));
    EXPECT_EQ(
        seen.text,
        QStringLiteral("Do you want to delete the group '100% <i>%1</i> & co' and all of it's sources?"));
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen.defaultButton, QMessageBox::Yes);
    // Escape never confirms a deletion.
    EXPECT_EQ(seen.escapeButton, QMessageBox::No);
}

TEST(MessageBox, StyleZeroIsAnExclamationWithOk) {
    Seen seen;
    seen.answer = kMsgResultOk;
    SetMessageBoxHook(Record, &seen);
    EXPECT_EQ(ShowMessage(nullptr, 0, QStringLiteral("c"), QStringLiteral("t")), kMsgResultOk);
    SetMessageBoxHook(nullptr, nullptr);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(MessageBox, RealBoxAnswersWithThePressedButton) {
    // Without a hook the box runs modally; press No from inside its loop.
    QTimer::singleShot(50, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                box->button(QMessageBox::No)->click();
                return;
            }
        }
    });
    EXPECT_EQ(ShowMessage(nullptr, kMsgBoxYesNo | kMsgBoxIconQuestion, QStringLiteral("Mistvale"),
                          QStringLiteral("?")),
              kMsgResultNo);
}

} // namespace mistvale
