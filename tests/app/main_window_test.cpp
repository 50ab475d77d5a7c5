// The main window driven in-process: context-menu enabling, the delete confirmation, double-clicks,
// records deleted behind a command's back, and quitting on a termination signal.
#include "app/main_window.h"
#include "app/record_lookup.h"
#include "app/refresh_interval.h"
#include "dialogs/message_box.h"
#include "model/group.h"
#include "model/source.h"
#include "tests/support/blackhole_listener.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/sim_process.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QTreeView>
#include <csignal>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace mistvale {

namespace {

// Runs a main window on a tree file of its own and calls body from inside its modal loop; the window
// is closed when body returns (and, as a safety net, after 20 s).
class MainWindowRun {
public:
    explicit MainWindowRun(const QByteArray& configXml) {
        path_ = dir_.filePath(QStringLiteral("Mistvale.xml"));
        QFile file(path_);
        if (file.open(QIODevice::WriteOnly))
            file.write(configXml);
        window_.SetConfigPath(path_.toStdString());
    }

    int Run(const std::function<void(MainWindow&)>& body) {
        QTimer::singleShot(0, [this, body] {
            body(window_);
            window_.PostDialogMessage(kMsgClose);
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            ADD_FAILURE() << "main window still open after 20 s";
            if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != window_.Window())
                modal->close();
            window_.PostDialogMessage(kMsgClose);
        });
        watchdog.start(20000);
        return window_.RunMain();
    }

    // The window before it runs (settings that must be made before RunMain).
    MainWindow& Window() { return window_; }
    QByteArray SavedFile() const { return ReadAll(path_); }
    QString Path() const { return path_; }
    static QByteArray ReadAll(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
    QString path_;
    MainWindow window_;
};

// Watches for a popup menu: as soon as one is up, `inspect` runs and the menu is closed. Polls instead
// of guessing how long the menu takes to appear on a loaded machine; gives up after 5 s.
class PopupWatch {
public:
    explicit PopupWatch(std::function<void(QWidget*)> inspect) : inspect_(std::move(inspect)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                timer_.stop();
                shown_ = true;
                inspect_(popup);
                popup->close();
            } else if (clock_.elapsed() > 5000) {
                timer_.stop();
            }
        });
        clock_.start();
        timer_.start();
    }
    // Waits (bounded) until the popup was seen; true when it was.
    bool Seen() {
        return QTest::qWaitFor([this] { return shown_; }, 5000);
    }

private:
    std::function<void(QWidget*)> inspect_;
    QTimer timer_;
    QElapsedTimer clock_;
    bool shown_ = false;
};

// Watches for a modal dialog other than the main window: as soon as one is up it is recorded and
// closed. Polls instead of guessing how long the dialog takes to open; gives up after 5 s.
class ModalWatch {
public:
    explicit ModalWatch(QWidget* mainWindow, std::function<void(QWidget*)> inspect = {})
        : main_(mainWindow), inspect_(std::move(inspect)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && modal != main_) {
                timer_.stop();
                seen_ = modal;
                if (inspect_)
                    inspect_(modal);
                modal->close();
            } else if (clock_.elapsed() > 5000) {
                timer_.stop();
            }
        });
        clock_.start();
        timer_.start();
    }
    // Waits (bounded) until a dialog was seen; the dialog, or nullptr when none came.
    QWidget* Seen() {
        return QTest::qWaitFor([this] { return seen_ != nullptr; }, 5000) ? seen_ : nullptr;
    }
    // What was seen so far, without waiting.
    QWidget* SeenSoFar() const { return seen_; }

private:
    QWidget* main_;
    std::function<void(QWidget*)> inspect_;
    QTimer timer_;
    QElapsedTimer clock_;
    QWidget* seen_ = nullptr;
};

std::vector<Group*> GroupsOf(MainWindow& window) {
    std::vector<Group*> groups;
    LockedList& list = window.Tree().Groups();
    SharedLock lock(list);
    for (ListItem* item = list.First(); item; item = item->Next())
        groups.push_back(static_cast<Group*>(item));
    return groups;
}

Source* FirstSourceOf(Group* group) {
    SharedLock lock(group->Sources());
    return static_cast<Source*>(group->Sources().First());
}

struct MenuEnabled {
    bool addGroup, addSource, addAllRegisters, edit, remove;
};

MenuEnabled EnabledFor(MainWindow& window, const void* record) {
    window.PrepareContextMenu(record);
    auto on = [&](int command) {
        QAction* action = window.MenuAction(command);
        EXPECT_NE(action, nullptr) << command;
        return action && action->isEnabled();
    };
    return {on(MainWindow::kCmdAddGroup), on(MainWindow::kCmdAddSource), on(MainWindow::kCmdAddAllRegisters),
            on(MainWindow::kCmdEdit), on(MainWindow::kCmdDelete)};
}

const void* DataOf(Record* record) {
    return static_cast<const void*>(record);
}

struct CapturedBoxes {
    QStringList texts;
    QStringList captions;
    int answer = kMsgResultNo;
};

int AnswerBox(void* context, QMessageBox& box) {
    auto* captured = static_cast<CapturedBoxes*>(context);
    captured->texts << box.text();
    captured->captions << box.windowTitle();
    return captured->answer;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

const QByteArray kTreeXml =
    "<Mistvale><Groups>"
    "<Group Name=\"Clock\" Parameter=\"Clock\"><Sources><Source Name=\"Now\" "
    "Parameter=\"Time\"/></Sources></Group>"
    "<Group Name=\"Bus\" Parameter=\"modbusserial/9600/N/NoSuchPort/0x01\"><Sources/></Group>"
    "<Group Name=\"Plc\" Parameter=\"ModbusTcpIp/127.0.0.1/1\"><Sources/></Group>"
    "<Group Name=\"Nowhere\" Parameter=\"\"><Sources/></Group>"
    "</Groups></Mistvale>";

} // namespace

TEST(MainWindowMenu, EnablingFollowsTheRightClickedRecord) {
    MainWindowRun run(kTreeXml);
    run.Run([](MainWindow& window) {
        std::vector<Group*> groups = GroupsOf(window);
        ASSERT_EQ(groups.size(), 4u);

        // Nothing under the mouse: only "Add Group".
        MenuEnabled none = EnabledFor(window, nullptr);
        EXPECT_TRUE(none.addGroup);
        EXPECT_FALSE(none.addSource || none.addAllRegisters || none.edit || none.remove);

        // A clock group: sources, edit and delete, but no register import.
        MenuEnabled clock = EnabledFor(window, DataOf(groups[0]));
        EXPECT_TRUE(clock.addGroup && clock.addSource && clock.edit && clock.remove);
        EXPECT_FALSE(clock.addAllRegisters);

        // Serial path in lower case and a TCP path: the register import is offered.
        EXPECT_TRUE(EnabledFor(window, DataOf(groups[1])).addAllRegisters);
        EXPECT_TRUE(EnabledFor(window, DataOf(groups[2])).addAllRegisters);
        EXPECT_FALSE(EnabledFor(window, DataOf(groups[3])).addAllRegisters);

        // A source: edit and delete only.
        MenuEnabled source = EnabledFor(window, DataOf(FirstSourceOf(groups[0])));
        EXPECT_TRUE(source.addGroup && source.edit && source.remove);
        EXPECT_FALSE(source.addSource || source.addAllRegisters);

        // An address the model does not list (a record deleted meanwhile) counts as none and is
        // forgotten, never read.
        int stranger = 0;
        MenuEnabled gone = EnabledFor(window, &stranger);
        EXPECT_FALSE(gone.edit || gone.remove || gone.addSource);
        EXPECT_EQ(window.CurrentRecord(), nullptr);
    });
}

TEST(MainWindowMenu, RightClickShowsTheMenuForTheRowUnderTheMouse) {
    MainWindowRun run(kTreeXml);
    run.Run([](MainWindow& window) {
        QTreeView* view = window.TreeList().Tree();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return view->isVisible() && view->model()->rowCount() > 0; }, 5000));
        const QModelIndex source = view->model()->index(0, 0, view->model()->index(0, 0));
        ASSERT_TRUE(source.isValid());
        bool edit = false, addSource = true;
        PopupWatch watch([&](QWidget*) {
            edit = window.MenuAction(MainWindow::kCmdEdit)->isEnabled();
            addSource = window.MenuAction(MainWindow::kCmdAddSource)->isEnabled();
        });
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, view->visualRect(source).center());
        EXPECT_TRUE(watch.Seen());
        EXPECT_TRUE(edit);
        EXPECT_FALSE(addSource);
        // The right-clicked row became the selection and the current record.
        Source* first = FirstSourceOf(GroupsOf(window).at(0));
        void* selected = nullptr;
        window.TreeList().GetSelectedItemData(nullptr, &selected);
        EXPECT_EQ(selected, DataOf(first));
        EXPECT_EQ(window.CurrentRecord(), DataOf(first));
    });
}

// The menu key and Shift+F10 open the selected record's menu at its row, not at the mouse.
TEST(MainWindowMenu, MenuKeyAndShiftF10OpenTheMenuAtTheSelectedRow) {
    MainWindowRun run(kTreeXml);
    run.Run([](MainWindow& window) {
        QTreeView* view = window.TreeList().Tree();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return view->isVisible() && view->model()->rowCount() > 0; }, 5000));
        const QModelIndex group = view->model()->index(0, 0);
        const QModelIndex source = view->model()->index(0, 0, group);
        ASSERT_TRUE(source.isValid());
        Source* first = FirstSourceOf(GroupsOf(window).at(0));
        TreeListView& list = window.TreeList();
        list.SelectItem(list.FindItemByData(DataOf(first)));
        QCursor::setPos(view->viewport()->mapToGlobal(QPoint(5, view->viewport()->height() - 5)));
        const QRect row = view->visualRect(source);
        for (int press = 0; press < 2; ++press) {
            bool edit = false;
            QPoint at;
            PopupWatch watch([&](QWidget* popup) {
                at = view->viewport()->mapFromGlobal(popup->geometry().topLeft());
                edit = window.MenuAction(MainWindow::kCmdEdit)->isEnabled();
            });
            view->setFocus();
            if (press == 0)
                QTest::keyClick(view, Qt::Key_Menu);
            else
                QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
            EXPECT_TRUE(watch.Seen()) << press;
            EXPECT_TRUE(edit) << press; // the menu of the source
            // Just below the row's start (a screen edge may push it, but not onto another row).
            EXPECT_GE(at.y(), row.top()) << press;
            EXPECT_LE(at.y(), row.bottom() + row.height()) << press;
            EXPECT_EQ(window.CurrentRecord(), DataOf(first));
        }
        // Enter still does nothing, Delete still asks.
        QTest::keyClick(view, Qt::Key_Return);
        QTest::qWait(100);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    });
}

TEST(MainWindowDelete, ConfirmationShowsThePercentNameAsTypedAndNoKeepsIt) {
    MainWindowRun run("<Mistvale><Groups><Group Name=\"100%\" Parameter=\"Clock\"><Sources>"
                      "<Source Name=\"%1 load\" Parameter=\"Time\"/></Sources></Group></Groups></Mistvale>");
    CapturedBoxes boxes;
    SetMessageBoxHook(&AnswerBox, &boxes);
    run.Run([&](MainWindow& window) {
        Group* group = GroupsOf(window).at(0);
        Source* source = FirstSourceOf(group);
        window.PrepareContextMenu(DataOf(group));
        window.PostCommand(MainWindow::kCmdDelete);
        ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 1; }, 3000));
        EXPECT_EQ(boxes.texts[0],
                  QStringLiteral("Do you want to delete the group '100%' and all of it's sources?"));
        EXPECT_EQ(boxes.captions[0], QStringLiteral("Mistvale"));

        window.PrepareContextMenu(DataOf(source));
        window.PostCommand(MainWindow::kCmdDelete);
        ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 2; }, 3000));
        EXPECT_EQ(boxes.texts[1], QStringLiteral("Do you want to delete the source '%1 load'?"));
        // "No" leaves both where they were, also after the worker had time.
        QTest::qWait(300);
        EXPECT_TRUE(LookUpRecord(window.Tree(), DataOf(group), nullptr));
        EXPECT_TRUE(LookUpRecord(window.Tree(), DataOf(source), nullptr));

        // "Yes" deletes through the worker; the current record is cleared once it is gone, so a later
        // command on it does nothing (no message box, no crash).
        boxes.answer = kMsgResultYes;
        window.PostCommand(MainWindow::kCmdDelete);
        ASSERT_TRUE(WaitFor([&] { return !LookUpRecord(window.Tree(), DataOf(source), nullptr); }, 3000));
        ASSERT_TRUE(WaitFor([&] { return window.CurrentRecord() == nullptr; }, 3000));
        window.PostCommand(MainWindow::kCmdDelete);
        window.PostCommand(MainWindow::kCmdEdit);
        QTest::qWait(100);
        EXPECT_EQ(boxes.texts.size(), 3);
    });
    SetMessageBoxHook(nullptr, nullptr);
    // The deletion reached the saved tree; the group stays.
    EXPECT_EQ(run.SavedFile(),
              QByteArray("<Mistvale><Groups><Group Name=\"100%\" Parameter=\"Clock\"><Sources/>"
                         "</Group></Groups></Mistvale>"));
}

TEST(MainWindowDelete, DeleteKeyAsksForTheSelectedRecord) {
    MainWindowRun run(kTreeXml);
    CapturedBoxes boxes;
    SetMessageBoxHook(&AnswerBox, &boxes);
    run.Run([&](MainWindow& window) {
        Source* source = FirstSourceOf(GroupsOf(window).at(0));
        window.TreeList().SelectItem(window.TreeList().FindItemByData(DataOf(source)));
        QTreeView* view = window.TreeList().Tree();
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Delete);
        ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 1; }, 3000));
        EXPECT_EQ(boxes.texts[0], QStringLiteral("Do you want to delete the source 'Now'?"));
        EXPECT_EQ(window.CurrentRecord(), DataOf(source));
    });
    SetMessageBoxHook(nullptr, nullptr);
}

// The keyboard reaches every command: F2 writes the selected source (a group opens nothing), Ctrl+C
// copies what its Value cell shows, the menu names F2 and has mnemonics, the toolbar's tooltips name
// their keys.
TEST(MainWindowKeys, F2CopyMenuAndToolbar) {
    MainWindowRun run(kTreeXml);
    run.Run([](MainWindow& window) {
        TreeListView& list = window.TreeList();
        QTreeView* view = list.Tree();
        Group* clock = GroupsOf(window).at(0);
        Source* now = FirstSourceOf(clock);
        ASSERT_TRUE(WaitFor([&] { return !now->Value().IsEmpty(); }, 5000));
        view->setFocus();
        list.SelectItem(list.FindItemByData(DataOf(now)));
        {
            ModalWatch watch(window.Window());
            QTest::keyClick(view, Qt::Key_F2);
            EXPECT_NE(watch.Seen(), nullptr) << "F2 on a source opened no Value dialog";
        }
        list.SelectItem(list.FindItemByData(DataOf(now)));
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text(), ToQString(now->Value()));

        list.SelectItem(list.FindItemByData(DataOf(clock)));
        {
            ModalWatch watch(window.Window());
            QTest::keyClick(view, Qt::Key_F2);
            QTest::qWait(300); // a window in which nothing must open
            EXPECT_EQ(watch.SeenSoFar(), nullptr) << "F2 on a group opened a dialog";
        }

        window.PrepareContextMenu(DataOf(now));
        QAction* setValue = window.MenuAction(MainWindow::kCmdSetValue);
        ASSERT_NE(setValue, nullptr);
        EXPECT_TRUE(setValue->isEnabled());
        EXPECT_EQ(setValue->text(), QStringLiteral("Set &Value…"));
        EXPECT_EQ(setValue->shortcut(), QKeySequence(Qt::Key_F2));
        EXPECT_EQ(window.MenuAction(MainWindow::kCmdAddGroup)->text(), QStringLiteral("Add &Group"));
        window.PrepareContextMenu(DataOf(clock));
        EXPECT_FALSE(setValue->isEnabled());

        QStringList tips;
        for (QToolBar* bar : window.Window()->findChildren<QToolBar*>())
            for (QAction* action : bar->actions())
                if (!action->isSeparator() && action->isVisible())
                    tips << action->toolTip();
        EXPECT_EQ(tips.size(), 4);
        for (const char* key : {"(Ctrl+,)", "(Ctrl+F)", "(Ctrl+R)", "(Ctrl+T)"})
            EXPECT_EQ(tips.filter(QString::fromLatin1(key)).size(), 1)
                << key << " in " << tips.join(" | ").toStdString();
        // The Traffic button (Ctrl+T) opens its window beside the tree, not modal.
        for (QToolBar* bar : window.Window()->findChildren<QToolBar*>())
            for (QAction* action : bar->actions())
                if (action->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_T))
                    action->trigger();
        ASSERT_NE(window.Traffic(), nullptr);
        EXPECT_TRUE(window.Traffic()->isVisible());
        EXPECT_FALSE(window.Traffic()->isModal());
        window.Traffic()->close();
    });
}

TEST(MainWindowDoubleClick, GroupOpensNothingSourceOpensTheValueDialog) {
    MainWindowRun run(kTreeXml);
    run.Run([](MainWindow& window) {
        QTreeView* view = window.TreeList().Tree();
        ASSERT_NE(view, nullptr);
        QAbstractItemModel* model = view->model();
        const QModelIndex group = model->index(0, 0);
        const QModelIndex source = model->index(0, 0, group);
        ASSERT_TRUE(source.isValid());

        // Past the first refresh, whose rebuild opens every group again: its value is there and the
        // rebuild that follows it has run.
        TreeListView& list = window.TreeList();
        Group* clock = GroupsOf(window).at(0);
        ASSERT_TRUE(WaitFor([&] { return !FirstSourceOf(clock)->Value().IsEmpty(); }, 5000));
        int rebuilds = 0;
        window.SetRebuildObserver([](void* count) { ++*static_cast<int*>(count); }, &rebuilds);
        window.PostDialogMessage(WM_MODEL_CHANGED);
        ASSERT_TRUE(WaitFor([&] { return rebuilds > 0; }, 5000));
        window.SetRebuildObserver(nullptr, nullptr);
        // The source first: the group's double-click closes the group and hides the source.
        // The double-click reports the selected item; select as the press would.
        list.SelectItem(list.FindItemByData(DataOf(FirstSourceOf(clock))));
        {
            ModalWatch watch(window.Window());
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(source).center());
            EXPECT_NE(watch.Seen(), nullptr) << "a double-click on a source did not open the Value dialog";
        }

        list.SelectItem(list.FindItemByData(DataOf(clock)));
        ModalWatch watch(window.Window());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(group).center());
        // It only closes the group, as a tree does ...
        EXPECT_TRUE(WaitFor([&] { return !list.IsItemExpanded(list.FindItemByData(DataOf(clock))); }, 5000));
        // ... and opens nothing (the main window itself is no modal dialog).
        EXPECT_EQ(watch.SeenSoFar(), nullptr) << "a double-click on a group opened a dialog";
    });
}

// The main window is a normal application window for the window manager: not a dialog, not modal, no
// owner, with minimise and maximise buttons; the dialogs it opens stay modal and owned by it.
TEST(MainWindowStartUp, IsAnApplicationWindowAndItsDialogsAreModal) {
    MainWindowRun run(kTreeXml);
    run.Run([](MainWindow& window) {
        QWidget* main = window.Window();
        ASSERT_NE(main, nullptr);
        EXPECT_TRUE(main->isWindow());
        EXPECT_EQ(main->windowType(), Qt::Window);
        EXPECT_EQ(main->windowModality(), Qt::NonModal);
        EXPECT_EQ(main->parentWidget(), nullptr);
        EXPECT_TRUE(main->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_TRUE(main->windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        {
            ModalWatch options(main, [&](QWidget* dialog) {
                EXPECT_EQ(dialog->windowType(), Qt::Dialog);
                EXPECT_EQ(dialog->parentWidget(), main);
            });
            window.PostCommand(MainWindow::kCmdOptions);
            EXPECT_NE(options.Seen(), nullptr);
        }

        // The Value column reaches the right edge, also after the window grows.
        QTreeView* view = window.TreeList().Tree();
        QHeaderView* header = view->header();
        main->resize(main->width() + 200, main->height());
        const int last = header->logicalIndex(header->count() - 1);
        auto valueReachesEdge = [&] {
            return header->sectionViewportPosition(last) + header->sectionSize(last) ==
                   view->viewport()->width();
        };
        EXPECT_TRUE(WaitFor(valueReachesEdge, 3000))
            << header->sectionViewportPosition(last) + header->sectionSize(last) << " "
            << view->viewport()->width();
        // A layout saved in a maximised window: the Name column alone wider than this window. Once
        // the window is laid out again the Value column is in view with a usable width.
        header->resizeSection(header->logicalIndex(0), view->viewport()->width() + 500);
        main->resize(main->width() - 100, main->height());
        EXPECT_TRUE(WaitFor(
            [&] { return header->sectionViewportPosition(last) + 100 <= view->viewport()->width(); }, 3000))
            << header->sectionViewportPosition(last) << " " << view->viewport()->width();
    });
}

TEST(MainWindowStartUp, TitleTimerAndRebuildWithExpandedGroups) {
    MainWindowRun run(kTreeXml);
    run.Run([](MainWindow& window) {
        EXPECT_TRUE(window.Window()->windowTitle().startsWith(QStringLiteral("Mistvale [")));
        EXPECT_EQ(window.RefreshTimerInterval(), RefreshIntervalMs(window.RefreshTime()));
        EXPECT_GE(window.RefreshTimerInterval(), 1000);
        TreeListView& list = window.TreeList();
        Group* clock = GroupsOf(window).at(0);
        TreeItem item = list.FindItemByData(DataOf(clock));
        ASSERT_NE(item, nullptr);
        EXPECT_TRUE(list.IsItemExpanded(item));
        // The first refresh comes at once: the clock source shows a time well before the interval.
        Source* now = FirstSourceOf(clock);
        EXPECT_TRUE(WaitFor([&] { return !now->Value().IsEmpty(); }, 1500));
        // The selection survives a rebuild by record.
        list.SelectItem(list.FindItemByData(DataOf(now)));
        int rebuilds = 0;
        window.SetRebuildObserver([](void* count) { ++*static_cast<int*>(count); }, &rebuilds);
        window.PostDialogMessage(WM_MODEL_CHANGED);
        ASSERT_TRUE(WaitFor([&] { return rebuilds > 0; }, 5000));
        window.SetRebuildObserver(nullptr, nullptr);
        void* selected = nullptr;
        ASSERT_TRUE(list.GetSelectedItemData(nullptr, &selected));
        EXPECT_EQ(selected, DataOf(now));
    });
}

TEST(MainWindowQuit, TerminationSignalClosesOpenDialogsAndSavesTheTree) {
    MainWindowRun run(kTreeXml);
    bool optionsWasOpen = false;
    QElapsedTimer elapsed;
    const int result = run.Run([&](MainWindow& window) {
        window.PostCommand(MainWindow::kCmdOptions);
        QTimer::singleShot(200, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            optionsWasOpen = modal != nullptr && modal != window.Window();
            elapsed.start();
            raise(SIGTERM);
        });
        // The body returns at once; the window's close comes from the signal (or the extra close).
        QTest::qWait(1000);
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(optionsWasOpen);
    EXPECT_LT(elapsed.elapsed(), 3000);
    // The shutdown ran: the tree file was written (in the canonical form, sources element included).
    EXPECT_TRUE(run.SavedFile().startsWith("<Mistvale><Groups><Group Name=\"Clock\" Parameter=\"Clock\">"));
}

// Shutdown waits for the worker's running read while events keep flowing; a second close box or
// Escape in that time must neither end the window twice nor lose the saved tree and placement.
TEST(MainWindowQuit, ClosesDuringTheShutdownWaitAreIgnored) {
    BlackholeListener silentHost;
    ASSERT_TRUE(silentHost.Open());
    QByteArray xml = "<Mistvale><Groups><Group Name=\"Silent\" Parameter=\"ModbusTcpIp/127.0.0.1/" +
                     QByteArray::number(silentHost.Port()) + "\"><Sources>";
    for (int i = 0; i < 4; ++i)
        xml +=
            "<Source Name=\"R" + QByteArray::number(i) + "\" Parameter=\"" + QByteArray::number(i) + "\"/>";
    xml += "</Sources></Group></Groups></Mistvale>";
    MainWindowRun run(xml);
    int closesDuringShutdown = 0;
    const int result = run.Run([&](MainWindow& window) {
        // The first refresh is now waiting for the silent host's connect.
        QTest::qWait(150);
        QPointer<QWidget> main = window.Window();
        for (int i = 1; i <= 4; ++i)
            QTimer::singleShot(60 * i, [main, i, &closesDuringShutdown] {
                if (main.isNull())
                    return;
                ++closesDuringShutdown;
                if (i % 2)
                    main->close();
                else
                    QTest::keyClick(main.data(), Qt::Key_Escape);
            });
    });
    EXPECT_EQ(result, 0);
    EXPECT_GE(closesDuringShutdown, 2); // they did arrive while shutdown waited
    EXPECT_TRUE(run.SavedFile().startsWith("<Mistvale><Groups><Group Name=\"Silent\""));
}

// Rebuilds after passes leave the view as the user left it: the scroll position, every group's
// expanded or collapsed state and the selection stay, over ten rebuilds; an added group is shown.
TEST(MainWindowView, HoldsStillAcrossRebuilds) {
    QByteArray xml = "<Mistvale><Groups>";
    for (int g = 0; g < 40; ++g) {
        xml += "<Group Name=\"Clock " + QByteArray::number(g) + "\" Parameter=\"Clock\"><Sources>";
        for (int s = 0; s < 4; ++s)
            xml += "<Source Name=\"Time " + QByteArray::number(s) + "\" Parameter=\"Time\"/>";
        xml += "</Sources></Group>";
    }
    xml += "</Groups></Mistvale>";
    MainWindowRun run(xml);
    run.Run([](MainWindow& window) {
        TreeListView& list = window.TreeList();
        const std::vector<Group*> groups = GroupsOf(window);
        for (int g : {3, 7, 30})
            list.ExpandItem(list.FindItemByData(DataOf(groups[g])), TreeListView::kCollapse);
        Source* chosen = FirstSourceOf(groups[20]);
        list.SelectItem(list.FindItemByData(DataOf(chosen)));
        list.SetScrollPosition(37);
        ASSERT_EQ(list.ScrollPosition(), 37);
        for (int i = 0; i < 10; ++i) {
            window.Rebuild();
            ASSERT_EQ(list.ScrollPosition(), 37) << "rebuild " << i;
            for (int g = 0; g < 40; ++g)
                ASSERT_EQ(list.IsItemExpanded(list.FindItemByData(DataOf(groups[g]))),
                          g == 3 || g == 7 || g == 30 ? 0 : 1)
                    << "group " << g << ", rebuild " << i;
            void* selected = nullptr;
            ASSERT_TRUE(list.GetSelectedItemData(nullptr, &selected));
            ASSERT_EQ(selected, DataOf(chosen));
        }
    });
}

// A value too wide for its cell (a double of 1e300 has 305 characters) ends in an ellipsis and is
// given whole in the cell's tooltip; a value that fits is not repeated there.
TEST(MainWindowView, AValueCutShortIsWholeInTheToolTip) {
    SimProcess device;
    // 1e300 as a double, most significant register first, and 65535 as uint16.
    ASSERT_TRUE(device.StartTcp(R"(<Simulator><Device slave="1">
      <Holding address="0" values="0x7E37 0xE43C 0x8800 0x759C 0xFFFF"/></Device></Simulator>)"));
    const QByteArray xml =
        "<Mistvale><Groups><Group Name=\"Meter\" Parameter=\"ModbusTcpIp/127.0.0.1/" +
        QByteArray::fromStdString(device.PortText()) +
        "\"><Sources><Source Name=\"Wide\" Parameter=\"0/double\"/><Source Name=\"Narrow\" "
        "Parameter=\"4/uint16\"/></Sources></Group></Groups></Mistvale>";
    MainWindowRun run(xml);
    run.Run([](MainWindow& window) {
        Group* meter = GroupsOf(window)[0];
        Source* wide = FirstSourceOf(meter);
        Source* narrow = static_cast<Source*>(wide->Next());
        ASSERT_TRUE(WaitFor([&] { return narrow->Value().ToUtf8() == "65535"; }, 10000));
        window.Rebuild();
        TreeListView& list = window.TreeList();
        char expected[400];
        std::snprintf(expected, sizeof expected, "%.3f", 1e300);
        const auto tipOf = [&](Source* source) {
            CellRect cell;
            EXPECT_EQ(list.GetCellRect(list.FindItemByData(DataOf(source)), 1, cell), 1);
            const QPoint at((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2);
            QHelpEvent help(QEvent::ToolTip, at, list.Tree()->viewport()->mapToGlobal(at));
            QApplication::sendEvent(list.Tree()->viewport(), &help);
            return QToolTip::text();
        };
        // In lines of 80 characters, followed by when it was read.
        const QString tip = tipOf(wide);
        const QString whole = QString::fromLatin1(expected);
        EXPECT_TRUE(tip.startsWith(whole.left(80) + QLatin1Char('\n'))) << tip.left(100).toStdString();
        EXPECT_TRUE(QString(tip).remove(QLatin1Char('\n')).startsWith(whole + QStringLiteral("Read at ")));
        EXPECT_TRUE(tipOf(narrow).startsWith(QStringLiteral("Read at "))) << tipOf(narrow).toStdString();
    });
}

// Publishing from the window: the toolbar shows the broker's state, a dashboard gets the values.
TEST(MainWindowMqtt, TheToolbarShowsTheBrokersState) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start());
    MainWindowRun run(kTreeXml);
    MqttSettings settings;
    settings.url = broker.Url();
    run.Window().SetMqtt(settings);
    run.Run([&](MainWindow& window) {
        const auto mqttText = [&] {
            for (QToolBar* bar : window.Window()->findChildren<QToolBar*>())
                for (QAction* action : bar->actions())
                    if (action->text().startsWith(QStringLiteral("MQTT")) && action->isVisible())
                        return action->text();
            return QString();
        };
        ASSERT_TRUE(WaitFor(
            [&] {
                window.Rebuild();
                return mqttText() == QStringLiteral("MQTT: connected");
            },
            10000));
        broker.Stop();
        ASSERT_TRUE(WaitFor(
            [&] {
                window.Rebuild();
                return mqttText() == QStringLiteral("MQTT: broker lost");
            },
            10000));
    });
}

// What went wrong is said: an import that finds no register table, a recording that cannot start
// and one that stops; the Record button then shows that it is off.
TEST(MainWindowProblems, ImportWithoutTableAndRecordingThatStopsAreSaid) {
    SimProcess device;
    ASSERT_TRUE(device.StartTcp(
        R"(<Simulator><Device slave="1"><Holding address="0" value="1"/></Device></Simulator>)"));
    MainWindowRun run(
        "<Mistvale><Groups><Group Name=\"Meter\" Parameter=\"ModbusTcpIp/127.0.0.1/" +
        QByteArray::fromStdString(device.PortText()) +
        "\"><Sources><Source Name=\"Level\" Parameter=\"0\"/></Sources></Group></Groups></Mistvale>");
    CapturedBoxes boxes;
    boxes.answer = kMsgResultOk;
    SetMessageBoxHook(&AnswerBox, &boxes);
    QTemporaryDir folder;
    run.Run([&](MainWindow& window) {
        window.PrepareContextMenu(DataOf(GroupsOf(window).at(0)));
        window.PostCommand(MainWindow::kCmdAddAllRegisters);
        ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 1; }, 5000));
        EXPECT_EQ(boxes.texts[0],
                  QStringLiteral("No registers were added to Meter: The device has no register "
                                 "table (register 0xFF10 does not hold 0x7601)."));

        const QString blocked = folder.filePath(QStringLiteral("no-such-folder/values.csv"));
        EXPECT_EQ(window.SetRecording(blocked), 0);
        ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 2; }, 3000));
        EXPECT_TRUE(
            boxes.texts[1].startsWith(QStringLiteral("The values cannot be recorded into ") + blocked))
            << boxes.texts[1].toStdString();
        EXPECT_FALSE(window.RecordAction()->isChecked());

        const QString csv = folder.filePath(QStringLiteral("values.csv"));
        ASSERT_EQ(window.SetRecording(csv), 1);
        EXPECT_TRUE(window.RecordAction()->isChecked());
        QFile::remove(csv);
        // The recorder notices at its next write; the refresh passes bring that about.
        ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 3; }, 8000))
            << boxes.texts.join(" | ").toStdString();
        EXPECT_EQ(boxes.texts[2],
                  QStringLiteral("Recording stopped: The file was removed. The Record button is "
                                 "off; press it to record again."));
        EXPECT_FALSE(window.RecordAction()->isChecked());
    });
    SetMessageBoxHook(nullptr, nullptr);
}

// Every change reaches the tree file within about a second, while the window runs: a crash or a
// kill -9 afterwards loses nothing.
TEST(MainWindowSave, EachChangeReachesTheFileWithinASecond) {
    MainWindowRun run(kTreeXml);
    run.Run([&](MainWindow& window) {
        const struct {
            const char* what;
            std::function<void()> change;
            QByteArray expected;
        } changes[] = {
            {"add",
             [&] {
                 Group* group = new Group();
                 group->SetNameAndParameter(u"Added", u"Clock");
                 window.Tree().AddGroup(group);
             },
             "<Group Name=\"Added\" Parameter=\"Clock\">"},
            {"edit",
             [&] {
                 GroupsOf(window).back()->SetName(u"Edited");
                 window.Tree().NoteEdited();
             },
             "<Group Name=\"Edited\" Parameter=\"Clock\">"},
            {"import",
             [&] {
                 Source* source = new Source();
                 source->SetNameAndParameter(u"Imported", u"Date");
                 window.Tree().AddSource(GroupsOf(window).back(), source);
             },
             "<Source Name=\"Imported\" Parameter=\"Date\"/>"},
            {"delete", [&] { window.Tree().QueueDeleteSource(FirstSourceOf(GroupsOf(window).front())); },
             "<Group Name=\"Clock\" Parameter=\"Clock\"><Sources/>"},
        };
        for (const auto& c : changes) {
            QElapsedTimer clock;
            clock.start();
            c.change();
            EXPECT_TRUE(WaitFor([&] { return run.SavedFile().contains(c.expected); }, 3000)) << c.what;
            EXPECT_LT(clock.elapsed(), 1600) << c.what;
        }
    });
}

// A tree file that cannot be read is kept aside at once, and the window says where.
TEST(MainWindowStartUp, ADamagedTreeIsKeptAsideAtOnceAndSaid) {
    const QByteArray damaged = "<Mistvale><Groups><Group Name=\"Half";
    MainWindowRun run(damaged);
    CapturedBoxes boxes;
    boxes.answer = kMsgResultOk;
    SetMessageBoxHook(&AnswerBox, &boxes);
    run.Run([&](MainWindow&) {
        ASSERT_TRUE(WaitFor([&] { return boxes.texts.size() == 1; }, 3000));
        EXPECT_EQ(boxes.texts[0], run.Path() + QStringLiteral(" could not be read; it has been kept as ") +
                                      run.Path() +
                                      QStringLiteral(".bad. Mistvale starts with an empty tree."));
        EXPECT_EQ(MainWindowRun::ReadAll(run.Path() + QStringLiteral(".bad")), damaged);
    });
    SetMessageBoxHook(nullptr, nullptr);
}

} // namespace mistvale
