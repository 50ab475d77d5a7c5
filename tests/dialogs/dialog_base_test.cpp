// DialogBase driven offscreen: each test runs a real modal dialog and acts on it from timers inside the
// modal loop; a watchdog ends any dialog that would otherwise keep the test waiting.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "dialogs/dialog_base.h"
#include "platform/string_table.h"

namespace mistvale {

namespace {

enum : int {
    kLabel = 1001,
    kEdit = 1002,
    kOk = 1022,
    kCancel = 1010,
    kCheck = 1017,
    kRadioA = 1031,
    kRadioB = 1032,
    kRadioC = 1033,
    kRadioD = 1034,
    kStretch = 1005,
    kCombo = 1030,
};

const ControlTemplate kControls[] = {
    {kLabel, ControlKind::Label, 5, 5, 65, 14, "Name", kStyleNone},
    {kEdit, ControlKind::Edit, 75, 5, 190, 14, "", kStyleNone},
    {kCheck, ControlKind::CheckBox, 5, 25, 120, 14, "Automatically check for updates", kStyleNone},
    {kRadioA, ControlKind::RadioButton, 5, 45, 60, 14, "A", kStyleGroup},
    {kRadioB, ControlKind::RadioButton, 70, 45, 60, 14, "B", kStyleNone},
    {kRadioC, ControlKind::RadioButton, 5, 60, 60, 14, "C", kStyleGroup},
    {kRadioD, ControlKind::RadioButton, 70, 60, 60, 14, "D", kStyleNone},
    {kCombo, ControlKind::DropDownCombo, 140, 45, 60, 100, "", kStyleNone},
    {kStretch, ControlKind::Container, 5, 80, 260, 20, nullptr, kStyleAnchorRight | kStyleAnchorBottom},
    {kOk, ControlKind::DefaultPushButton, 142, 110, 60, 14, "OK", kStyleNone},
    {kCancel, ControlKind::PushButton, 205, 110, 60, 14, "Cancel", kStyleNone},
};
const DialogTemplate kTemplate = {
    900, 272, 130, "Test", kControls, int(std::size(kControls)), kDialogResizable};

// A dialog whose handlers record what reached them and run a script once the modal loop runs.
class ScriptedDialog : public DialogBase {
public:
    std::function<void(ScriptedDialog&)> script;
    int initResult = 1;
    bool allowEnd = true;
    int destroyCalls = 0;
    int closeCalls = 0;
    int finalCalls = 0;
    std::vector<std::pair<int, int>> commands;
    std::vector<int> messages;
    std::vector<std::uintptr_t> timerIds;
    std::vector<std::uintptr_t> messageParams;

    int RunTest() {
        // The watchdog: whatever happens, the dialog ends within a few seconds.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            allowEnd = true;
            End(-99);
        });
        watchdog.start(5000);
        return Run(&kTemplate, nullptr);
    }

protected:
    int OnInit() override {
        if (script)
            QTimer::singleShot(0, Window(), [this] {
                // Focus only sticks once the window is active; offscreen that can take an event round.
                (void)QTest::qWaitForWindowActive(Window(), 2000);
                script(*this);
            });
        return initResult;
    }
    int OnDestroy(int) override {
        ++destroyCalls;
        return allowEnd ? 1 : 0;
    }
    int OnCommand(int id, int code) override {
        commands.emplace_back(id, code);
        if (id == kOk) {
            End(1);
            return 1;
        }
        if (id == kCancel) {
            End(0);
            return 1;
        }
        return DialogBase::OnCommand(id, code);
    }
    int OnClose() override {
        ++closeCalls;
        return DialogBase::OnClose();
    }
    int OnMessage(int message, std::uintptr_t wParam, std::intptr_t lParam) override {
        if (message != kMsgSize && message != kMsgDestroy)
            messages.push_back(message);
        if (message == kMsgTimer)
            timerIds.push_back(wParam);
        if (message >= kMsgApp)
            messageParams.push_back(wParam);
        if (message == kMsgDestroy)
            ++finalCalls;
        return DialogBase::OnMessage(message, wParam, lParam);
    }
};

// Clicks a check box or radio button on its indicator, where a user would.
void ClickIndicator(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(6, button->height() / 2));
}

QWidget* KeyTarget(DialogBase& dialog) {
    QWidget* focus = dialog.Window()->focusWidget();
    return focus ? focus : dialog.Window();
}

} // namespace

TEST(DialogBase, EscapeIsCommandTwoAndEndsWithZero) {
    ScriptedDialog dialog;
    dialog.script = [](ScriptedDialog& d) {
        d.ItemWindow(kEdit)->setFocus();
        QTest::keyClick(KeyTarget(d), Qt::Key_Escape);
    };
    EXPECT_EQ(dialog.RunTest(), 0);
    ASSERT_FALSE(dialog.commands.empty());
    EXPECT_EQ(dialog.commands.back(), std::make_pair(int(kIdCancel), int(kCodeClicked)));
    EXPECT_EQ(dialog.destroyCalls, 1);
    EXPECT_EQ(dialog.finalCalls, 1);
    EXPECT_EQ(dialog.Window(), nullptr);
    EXPECT_EQ(dialog.ItemWindow(kEdit), nullptr);
}

TEST(DialogBase, CloseBoxGoesThroughOnCloseAndEndsWithZero) {
    ScriptedDialog dialog;
    dialog.script = [](ScriptedDialog& d) { d.Window()->close(); };
    EXPECT_EQ(dialog.RunTest(), 0);
    EXPECT_EQ(dialog.closeCalls, 1);
    EXPECT_EQ(dialog.destroyCalls, 1);
    EXPECT_TRUE(dialog.commands.empty());
}

TEST(DialogBase, RefusingOnDestroyKeepsTheDialogOpenAgainstEndEscapeAndCloseBox) {
    ScriptedDialog dialog;
    dialog.allowEnd = false;
    bool stillRunning = false;
    dialog.script = [&stillRunning](ScriptedDialog& d) {
        d.End(5);
        QTest::keyClick(KeyTarget(d), Qt::Key_Escape);
        d.Window()->close();
        QTest::mouseClick(d.ItemWindow(kOk), Qt::LeftButton);
        stillRunning = d.IsRunning() && d.Window()->isVisible();
        // Now let it end, with a result of its own.
        d.allowEnd = true;
        d.End(7);
    };
    EXPECT_EQ(dialog.RunTest(), 7);
    EXPECT_TRUE(stillRunning);
    // End, Escape, the close box, OK, and the final End each asked.
    EXPECT_EQ(dialog.destroyCalls, 5);
    EXPECT_EQ(dialog.closeCalls, 1);
}

TEST(DialogBase, RunReturnsTheValueGivenToEndAndEachRunStartsFromTheTemplate) {
    ScriptedDialog dialog;
    dialog.script = [](ScriptedDialog& d) {
        d.SetItemText(kEdit, QStringLiteral("typed"));
        d.CheckItem(kCheck, 1);
        QTest::mouseClick(d.ItemWindow(kOk), Qt::LeftButton);
    };
    EXPECT_EQ(dialog.RunTest(), 1);

    QString text = QStringLiteral("unset");
    int checked = -1;
    dialog.script = [&](ScriptedDialog& d) {
        d.GetItemText(kEdit, text);
        checked = d.IsItemChecked(kCheck);
        QTest::mouseClick(d.ItemWindow(kCancel), Qt::LeftButton);
    };
    EXPECT_EQ(dialog.RunTest(), 0);
    EXPECT_EQ(text, QString());
    EXPECT_EQ(checked, 0);
}

TEST(DialogBase, FailedInitAndUnusableTemplatesGiveMinusOne) {
    ScriptedDialog dialog;
    dialog.initResult = 0;
    EXPECT_EQ(dialog.RunTest(), -1);
    EXPECT_EQ(dialog.destroyCalls, 1);

    DialogBase plain;
    EXPECT_EQ(plain.Run(nullptr, nullptr), -1);
    DialogTemplate empty = {1, 0, 0, nullptr, nullptr, 0, 0};
    EXPECT_EQ(plain.Run(&empty, nullptr), -1);
}

TEST(DialogBase, EnterPressesTheDefaultButtonOrTheFocusedOne) {
    ScriptedDialog dialog;
    dialog.script = [](ScriptedDialog& d) {
        d.ItemWindow(kEdit)->setFocus();
        QTest::keyClick(KeyTarget(d), Qt::Key_Return);
    };
    EXPECT_EQ(dialog.RunTest(), 1);
    EXPECT_EQ(dialog.commands.back().first, kOk);

    // A focused push button takes Enter itself.
    dialog.commands.clear();
    dialog.script = [](ScriptedDialog& d) {
        d.ItemWindow(kCancel)->setFocus();
        QTest::keyClick(d.ItemWindow(kCancel), Qt::Key_Return);
    };
    EXPECT_EQ(dialog.RunTest(), 0);
    EXPECT_EQ(dialog.commands.back().first, kCancel);

    // A disabled default button does nothing, and the dialog stays.
    dialog.commands.clear();
    bool running = false;
    dialog.script = [&running](ScriptedDialog& d) {
        d.EnableItem(kOk, 0);
        d.ItemWindow(kEdit)->setFocus();
        QTest::keyClick(KeyTarget(d), Qt::Key_Return);
        running = d.IsRunning();
        d.End(3);
    };
    EXPECT_EQ(dialog.RunTest(), 3);
    EXPECT_TRUE(running);
    EXPECT_TRUE(dialog.commands.empty());
}

TEST(DialogBase, GetItemNumberAcceptsOnlyUnsignedDecimalText) {
    struct Case {
        const char* text;
        int isNumber;
        unsigned value;
    };
    const Case cases[] = {
        {"abc", 0, 0},        {"42", 1, 42},    {"   7", 1, 7},  {"", 0, 0},
        {"-3", 0, 0},         {"+3", 0, 0},     {"12abc", 0, 0}, {"4294967295", 1, 4294967295u},
        {"4294967296", 0, 0}, {"00010", 1, 10}, {"1 2", 0, 0},
    };
    std::vector<std::pair<int, unsigned>> results;
    ScriptedDialog dialog;
    dialog.script = [&](ScriptedDialog& d) {
        for (const Case& c : cases) {
            d.SetItemText(kEdit, QString::fromUtf8(c.text));
            unsigned value = 12345;
            int isNumber = d.GetItemNumber(kEdit, &value);
            results.emplace_back(isNumber, value);
        }
        d.SetItemNumber(kEdit, 4000000000u);
        QString text;
        d.GetItemText(kEdit, text);
        results.emplace_back(text == QStringLiteral("4000000000"), 0);
        d.End(0);
    };
    dialog.RunTest();
    ASSERT_EQ(results.size(), std::size(cases) + 1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(results[i].first, cases[i].isNumber) << cases[i].text;
        EXPECT_EQ(results[i].second, cases[i].value) << cases[i].text;
    }
    EXPECT_EQ(results.back().first, 1);
}

TEST(DialogBase, FormattedTextWithPercentSignsIsShownAsTyped) {
    QString shown;
    QString edited;
    Qt::TextFormat format = Qt::AutoText;
    ScriptedDialog dialog;
    dialog.script = [&](ScriptedDialog& d) {
        WideString text;
        FormatText(text, kStrDeleteSourceQuestion, {u"100% <b>%1</b>"});
        d.SetItemText(kLabel, text);
        d.GetItemText(kLabel, shown);
        format = d.Item<QLabel>(kLabel)->textFormat();
        d.SetItemText(kEdit, text);
        d.GetItemText(kEdit, edited);
        d.End(0);
    };
    dialog.RunTest();
    const QString expected = QStringLiteral("Do you want to delete the source '100% <b>%1</b>'?");
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(edited, expected);
    EXPECT_EQ(format, Qt::PlainText);
}

TEST(DialogBase, RadioButtonsAreExclusiveWithinTheirGroupAndCheckRadioClearsTheRange) {
    std::vector<int> states;
    ScriptedDialog dialog;
    dialog.script = [&](ScriptedDialog& d) {
        ClickIndicator(d.ItemWindow(kRadioA));
        ClickIndicator(d.ItemWindow(kRadioC));
        ClickIndicator(d.ItemWindow(kRadioB));
        // Clicking the checked one keeps it checked.
        ClickIndicator(d.ItemWindow(kRadioB));
        for (int id : {kRadioA, kRadioB, kRadioC, kRadioD})
            states.push_back(d.IsItemChecked(id));
        d.CheckRadio(kRadioA, kRadioD, kRadioD);
        for (int id : {kRadioA, kRadioB, kRadioC, kRadioD})
            states.push_back(d.IsItemChecked(id));
        d.CheckItem(kRadioD, 0);
        states.push_back(d.IsItemChecked(kRadioD));
        d.End(0);
    };
    dialog.RunTest();
    EXPECT_EQ(states, (std::vector<int>{0, 1, 1, 0, 0, 0, 0, 1, 0}));
    // Every click arrived as a command of its button.
    int radioClicks = 0;
    for (const auto& command : dialog.commands)
        radioClicks += command.first >= kRadioA && command.first <= kRadioD && command.second == kCodeClicked;
    EXPECT_EQ(radioClicks, 4);
}

TEST(DialogBase, PostedMessagesTimersAndCommandsReachTheHandlers) {
    ScriptedDialog dialog;
    std::atomic<int> posted{0};
    dialog.script = [&](ScriptedDialog& d) {
        // As the worker notifies: plain custom events and messages posted from another thread.
        QCoreApplication::postEvent(d.Window(), new QEvent(static_cast<QEvent::Type>(QEvent::User + 1)));
        std::thread worker([&d, &posted] {
            posted += d.PostDialogMessage(kMsgApp + 2, 77, 0);
            posted += d.PostCommand(4242, kCodeSelChange);
        });
        worker.join();
        d.StartTimer(1, 20);
        QTimer::singleShot(400, d.Window(), [&d] { d.End(9); });
    };
    EXPECT_EQ(dialog.RunTest(), 9);
    EXPECT_EQ(posted.load(), 2);
    ASSERT_GE(dialog.messages.size(), 3u);
    EXPECT_EQ(dialog.messages[0], kMsgApp + 1);
    EXPECT_EQ(dialog.messages[1], kMsgApp + 2);
    ASSERT_GE(dialog.messageParams.size(), 2u);
    EXPECT_EQ(dialog.messageParams[1], 77u);
    EXPECT_NE(
        std::find(dialog.commands.begin(), dialog.commands.end(), std::make_pair(4242, int(kCodeSelChange))),
        dialog.commands.end());
    EXPECT_GE(dialog.timerIds.size(), 3u);
    for (std::uintptr_t id : dialog.timerIds)
        EXPECT_EQ(id, 1u);
    // Not running: nothing can be posted.
    EXPECT_EQ(dialog.PostDialogMessage(kMsgApp + 1), 0);
}

TEST(DialogBase, PostedCloseEndsLikeTheCloseBox) {
    ScriptedDialog dialog;
    dialog.script = [](ScriptedDialog& d) { d.PostDialogMessage(kMsgClose); };
    EXPECT_EQ(dialog.RunTest(), 0);
    EXPECT_EQ(dialog.closeCalls, 1);
}

TEST(DialogBase, DialogUnitsFollowTheFontAndAnchoredControlsFollowTheWindow) {
    QSize base;
    QRect mapped;
    QRect before, after;
    QSize minimum;
    QRect label;
    ScriptedDialog dialog;
    dialog.script = [&](ScriptedDialog& d) {
        base = d.DialogBaseUnits();
        mapped = d.MapDialogRect(QRect(0, 0, 400, 250));
        label = d.ItemWindow(kLabel)->geometry();
        before = d.ItemWindow(kStretch)->geometry();
        d.Window()->resize(d.Window()->width() + 100, d.Window()->height() + 50);
        after = d.ItemWindow(kStretch)->geometry();
        d.SetMinimumSize(400, 250, true);
        minimum = d.Window()->minimumSize();
        d.End(0);
    };
    dialog.RunTest();
    ASSERT_GT(base.width(), 0);
    ASSERT_GT(base.height(), 0);
    EXPECT_NEAR(mapped.width(), 100 * base.width(), 1);
    EXPECT_NEAR(mapped.height(), 250 * base.height() / 8.0, 1);
    EXPECT_NEAR(label.x(), 5 * base.width() / 4.0, 1);
    EXPECT_NEAR(label.width(), 65 * base.width() / 4.0, 1);
    EXPECT_EQ(after.x(), before.x());
    EXPECT_EQ(after.width(), before.width() + 100);
    EXPECT_EQ(after.height(), before.height() + 50);
    EXPECT_EQ(minimum, mapped.size());
}

TEST(DialogBase, ReplacedControlKeepsIdGeometryAndAnchors) {
    QRect original, replaced, stretched;
    QWidget* found = nullptr;
    QWidget* mine = nullptr;
    ScriptedDialog dialog;
    dialog.script = [&](ScriptedDialog& d) {
        original = d.ItemWindow(kStretch)->geometry();
        mine = new QLabel(QStringLiteral("hosted"));
        EXPECT_EQ(d.ReplaceItem(kStretch, mine), 1);
        found = d.ItemWindow(kStretch);
        replaced = mine->geometry();
        d.Window()->resize(d.Window()->width() + 40, d.Window()->height());
        stretched = mine->geometry();
        d.End(0);
    };
    dialog.RunTest();
    EXPECT_EQ(found, mine);
    EXPECT_EQ(replaced, original);
    EXPECT_EQ(stretched.width(), original.width() + 40);
}

TEST(DialogBase, TitleAndIconAreApplied) {
    QString title;
    bool hasIcon = false;
    ScriptedDialog dialog;
    dialog.script = [&](ScriptedDialog& d) {
        d.SetIcon(101);
        d.SetTitle(FormatTitle(QStringLiteral("Mistvale")));
        title = d.Window()->windowTitle();
        hasIcon = !d.Window()->windowIcon().isNull();
        d.End(0);
    };
    dialog.RunTest();
    EXPECT_EQ(title, QStringLiteral("Mistvale [1.00]"));
    EXPECT_TRUE(hasIcon);
    EXPECT_EQ(ToQString(FormatTitle(WideString(u"A%1%s"))), QStringLiteral("A%1%s [1.00]"));
}

TEST(DialogBase, UserEditsAndSelectionsArriveAsCommandsWithTheirCodes) {
    ScriptedDialog dialog;
    dialog.script = [](ScriptedDialog& d) {
        // Setting a text from the program is no user edit.
        d.SetItemText(kEdit, QStringLiteral("x"));
        QTest::keyClicks(d.ItemWindow(kEdit), QStringLiteral("y"));
        auto* combo = d.Item<QComboBox>(kCombo);
        combo->addItem(QStringLiteral("9600"));
        combo->addItem(QStringLiteral("19200"));
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("1"));
        ClickIndicator(d.ItemWindow(kCheck));
        d.End(0);
    };
    dialog.RunTest();
    std::vector<std::pair<int, int>> expected = {
        {kEdit, kCodeEditChange}, {kCombo, kCodeEditChange}, {kCheck, kCodeClicked}};
    EXPECT_EQ(dialog.commands, expected);
}

} // namespace mistvale
