// The Search dialog against the simulator on a pseudo-terminal pair: the real search job of the worker
// scans the line, and the dialog lists, sorts and adds what it found. Only the pseudo-terminal is
// listed as a serial port (MISTVALE_SERIAL_PORTS); the scan stops at a low slave address to stay fast.

#include "dialogs/search_dialog.h"
#include "modbus/device_jobs.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/tree_rows.h"
#include "tests/dialogs/dialog_driver.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_fixtures.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace mistvale {

// Slave 5 identifies itself fully, slave 2 not at all, slave 10 reports a product code only, slave 7
// answers every request with an exception (and so is not found).
static const std::string kBusConfig = R"(<Simulator>
  <Device slave="2"><Holding address="0" values="1"/></Device>
  <Device slave="5">
    <Holding address="0" values="1"/>
    )" + kAcmeIdentification + R"(
  </Device>
  <Device slave="10">
    <Holding address="0" values="1"/>
    <Identification><Object id="1">X9&#13;&#10;&#9;rev&#1;B</Object></Identification>
  </Device>
</Simulator>)";

static const std::string kOneDeviceConfig = R"(<Simulator>
  <Device slave="5">
    <Holding address="0" values="1"/>
    )" + kAcmeIdentification + R"(
  </Device>
</Simulator>)";

// Counts the rebuilds Add asks for.
struct RebuildCounter {
    int rebuilds = 0;
};
static void SetRedraw(void* context, int on) {
    if (on == 0)
        ++static_cast<RebuildCounter*>(context)->rebuilds;
}
static Record* NoSelection(void*) {
    return nullptr;
}
static void Nothing(void*) {}
static void* InsertNothing(void*, void*, const WideString&, int, int, Record*) {
    return nullptr;
}
static void NothingItem(void*, void*) {}
static void* FindNothing(void*, const Record*) {
    return nullptr;
}

class SearchBus {
public:
    bool Start(const std::string& config) {
        if (!line.Open())
            return false;
        if (!sim.StartRtu(line.DevicePath(), 38400, 'N', config))
            return false;
        portName = line.PeerPath().substr(line.PeerPath().rfind('/') + 1);
        return true;
    }
    PtyPair line;
    SimProcess sim;
    std::string portName;
};

class SearchDialogTest : public ::testing::Test {
protected:
    void StartModel(const std::string& ports, unsigned lastSlave) {
        ports_ = OnlyTheseSerialPorts(ports, &only_);
        jobs_.SetSearchLastSlave(lastSlave);
        InstallDeviceJobs(tree_, &jobs_);
        tree_.SetNotifyHandler(Notify, this);
        ASSERT_EQ(tree_.Start(data_.File("Mistvale.xml")), 1);
        sink_ = {&counter_,   SetRedraw,   NoSelection, Nothing, InsertNothing, NothingItem,
                 FindNothing, NothingItem, NothingItem, nullptr, nullptr,       nullptr};
    }
    void TearDown() override {
        tree_.Stop();
        ports_.reset();
        only_.reset();
    }
    // The main window's part: the worker's end-of-search message goes to the Search dialog.
    static void Notify(void* context, int message) {
        if (message == WM_SEARCH_FINISHED)
            static_cast<SearchDialogTest*>(context)->dialog_.NotifySearchFinished();
    }
    // Presses Search and waits (the dialog's loop runs meanwhile) until the results are shown.
    bool SearchAndWait(int timeoutMs = 20000) {
        ClickItem(dialog_, SearchDialog::kIdSearch);
        QElapsedTimer clock;
        clock.start();
        while (dialog_.IsSearching() != 0 && clock.elapsed() < timeoutMs)
            QTest::qWait(10);
        return dialog_.IsSearching() == 0;
    }
    QStringList Column(int column) {
        QStringList texts;
        QTreeWidget* list = dialog_.List();
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            texts << list->topLevelItem(row)->text(column);
        return texts;
    }
    QTreeWidgetItem* RowOfSlave(const QString& slave) {
        QTreeWidget* list = dialog_.List();
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            if (list->topLevelItem(row)->text(0) == slave)
                return list->topLevelItem(row);
        return nullptr;
    }
    std::vector<std::pair<std::string, std::string>> Groups() {
        std::vector<std::pair<std::string, std::string>> groups;
        SharedLock lock(tree_.Groups());
        for (ListItem* item = tree_.Groups().First(); item != nullptr; item = item->Next()) {
            Group* group = static_cast<Group*>(item);
            groups.emplace_back(group->Name().ToUtf8(), group->Parameter().ToUtf8());
        }
        return groups;
    }

    TempDir data_;
    DeviceJobsContext jobs_;
    MonitorTree tree_;
    SearchDialog dialog_;
    RebuildCounter counter_;
    TreeSink sink_{};
    std::unique_ptr<EnvOverride> only_;
    std::unique_ptr<EnvOverride> ports_;
};

TEST_F(SearchDialogTest, DeviceAtSlaveFiveGivesOneCheckedRowAndAddCreatesItsGroup) {
    SearchBus bus;
    ASSERT_TRUE(bus.Start(kOneDeviceConfig));
    StartModel(bus.line.PeerPath(), 6);
    bool finished = false;
    WhenShown(dialog_, [&] {
        EXPECT_EQ(ComboText(dialog_, SearchDialog::kIdBaud), "38400");
        EXPECT_EQ(ComboText(dialog_, SearchDialog::kIdParity), "None");
        EXPECT_FALSE(ItemEnabled(dialog_, SearchDialog::kIdAdd));
        EXPECT_TRUE(dialog_.ItemWindow(SearchDialog::kIdProgress)->isHidden());
        EXPECT_EQ(dialog_.List()->headerItem()->text(0), "Device");
        EXPECT_EQ(dialog_.List()->headerItem()->text(4), "Serial Number");

        ClickItem(dialog_, SearchDialog::kIdSearch);
        ASSERT_EQ(dialog_.IsSearching(), 1);
        // Searching: nothing to add, no second search, a busy bar, and no way out.
        EXPECT_FALSE(ItemEnabled(dialog_, SearchDialog::kIdSearch));
        EXPECT_FALSE(ItemEnabled(dialog_, SearchDialog::kIdAdd));
        EXPECT_FALSE(ItemEnabled(dialog_, SearchDialog::kIdList));
        auto* bar = dialog_.Item<QProgressBar>(SearchDialog::kIdProgress);
        EXPECT_FALSE(bar->isHidden());
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 0);
        QTest::keyClick(dialog_.Window(), Qt::Key_Escape);
        dialog_.Window()->close();
        QTest::qWait(20);
        EXPECT_TRUE(dialog_.IsRunning());

        QElapsedTimer clock;
        clock.start();
        while (dialog_.IsSearching() != 0 && clock.elapsed() < 20000)
            QTest::qWait(10);
        ASSERT_EQ(dialog_.IsSearching(), 0);
        finished = true;
        EXPECT_TRUE(bar->isHidden());
        EXPECT_TRUE(ItemEnabled(dialog_, SearchDialog::kIdSearch));
        EXPECT_TRUE(ItemEnabled(dialog_, SearchDialog::kIdList));
        EXPECT_TRUE(ItemEnabled(dialog_, SearchDialog::kIdAdd));
        QTreeWidget* list = dialog_.List();
        ASSERT_EQ(list->topLevelItemCount(), 1);
        QTreeWidgetItem* row = list->topLevelItem(0);
        EXPECT_EQ(row->text(0), "5");
        EXPECT_EQ(row->text(1), "ACME");
        EXPECT_EQ(row->text(2), "T100");
        EXPECT_EQ(row->text(3), "1.2");
        EXPECT_EQ(row->text(4), "SN123");
        EXPECT_EQ(row->checkState(0), Qt::Checked);
        ClickItem(dialog_, SearchDialog::kIdAdd);
    });
    EXPECT_EQ(dialog_.Run(tree_, &jobs_, &sink_, nullptr), 0);
    EXPECT_TRUE(finished);
    auto groups = Groups();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].first, "ACME T100 [5]");
    EXPECT_EQ(groups[0].second, "ModbusSerial/38400/N/" + bus.portName + "/0x05");
    EXPECT_EQ(counter_.rebuilds, 1);
}

// A search of all 247 addresses shows where it is ("peer: address N of 247") and stops at the next
// address when asked, listing what it found so far with its port; the dialog then is idle again and
// grows with its window.
TEST_F(SearchDialogTest, StopEndsTheSearchAndShowsWhatWasFoundWithItsPort) {
    SearchBus bus;
    ASSERT_TRUE(bus.Start(kOneDeviceConfig));
    StartModel(bus.line.PeerPath(), 247);
    bool checked = false;
    WhenShown(dialog_, [&] {
        EXPECT_EQ(dialog_.List()->headerItem()->text(SearchDialog::kColumnPort), "Port");
        EXPECT_FALSE(ItemEnabled(dialog_, SearchDialog::kIdStop));
        // The baud field has the focus with its text selected: typing replaces it.
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.Window(), 5000));
        auto* baud = dialog_.Item<QComboBox>(SearchDialog::kIdBaud);
        ASSERT_NE(baud, nullptr);
        // The selection follows the focus from the event loop.
        EXPECT_TRUE(QTest::qWaitFor([&] { return baud->lineEdit()->hasSelectedText(); }, 5000));
        EXPECT_EQ(baud->lineEdit()->selectedText(), "38400");
        ClickItem(dialog_, SearchDialog::kIdSearch);
        ASSERT_EQ(dialog_.IsSearching(), 1);
        EXPECT_TRUE(ItemEnabled(dialog_, SearchDialog::kIdStop));
        auto* bar = dialog_.Item<QProgressBar>(SearchDialog::kIdProgress);
        // Past slave 5 (found), a few addresses on.
        QElapsedTimer clock;
        clock.start();
        while (bar->value() < 8 && clock.elapsed() < 20000)
            QTest::qWait(20);
        ASSERT_GE(bar->value(), 8);
        EXPECT_EQ(bar->maximum(), 247);
        const QString text = dialog_.ProgressText();
        EXPECT_TRUE(text.startsWith(QString::fromStdString(bus.portName) + QStringLiteral(": address ")) &&
                    text.endsWith(QStringLiteral(" of 247")))
            << text.toStdString();
        const qint64 stopped = clock.elapsed();
        ClickItem(dialog_, SearchDialog::kIdStop);
        while (dialog_.IsSearching() != 0 && clock.elapsed() < stopped + 3000)
            QTest::qWait(10);
        ASSERT_EQ(dialog_.IsSearching(), 0) << "the search did not stop";
        EXPECT_LT(clock.elapsed() - stopped, 1500); // at the next address, not at the end of the port
        EXPECT_FALSE(ItemEnabled(dialog_, SearchDialog::kIdStop));
        EXPECT_TRUE(ItemEnabled(dialog_, SearchDialog::kIdSearch));
        EXPECT_TRUE(bar->isHidden());
        QTreeWidget* list = dialog_.List();
        ASSERT_EQ(list->topLevelItemCount(), 1);
        EXPECT_EQ(list->topLevelItem(0)->text(0), "5");
        EXPECT_EQ(list->topLevelItem(0)->text(SearchDialog::kColumnPort),
                  QString::fromStdString(bus.portName));
        // The list grows with the window; the buttons stay at the bottom right.
        const QSize before = list->size();
        QWidget* stop = dialog_.ItemWindow(SearchDialog::kIdStop);
        const int stopRightGap = dialog_.Window()->width() - stop->geometry().right();
        dialog_.Window()->resize(dialog_.Window()->width() + 150, dialog_.Window()->height() + 100);
        EXPECT_TRUE(QTest::qWaitFor([&] { return list->width() == before.width() + 150; }, 3000));
        EXPECT_EQ(list->width(), before.width() + 150);
        EXPECT_EQ(list->height(), before.height() + 100);
        EXPECT_EQ(dialog_.Window()->width() - stop->geometry().right(), stopRightGap);
        EXPECT_EQ(stop->width(), dialog_.ItemWindow(SearchDialog::kIdSearch)->width());
        checked = true;
        QTest::keyClick(dialog_.Window(), Qt::Key_Escape);
    });
    EXPECT_EQ(dialog_.Run(tree_, &jobs_, &sink_, nullptr), 0);
    EXPECT_TRUE(checked);
}

TEST_F(SearchDialogTest, RowsSortNaturallyAndAddUsesTheSettingsShownAtAdd) {
    SearchBus bus;
    ASSERT_TRUE(bus.Start(kBusConfig));
    StartModel(bus.line.PeerPath(), 10);
    WhenShown(dialog_, [&] {
        ASSERT_TRUE(SearchAndWait());
        ASSERT_EQ(dialog_.List()->topLevelItemCount(), 3);
        EXPECT_EQ(Column(0), (QStringList{"2", "5", "10"}));
        // Unidentified devices say so; a device with a product code only has an empty vendor.
        EXPECT_EQ(RowOfSlave("2")->text(1), "Unknown Device");
        EXPECT_EQ(RowOfSlave("10")->text(1), "");
        // Line breaks and control characters of the device's text: one clean line in the list.
        EXPECT_EQ(RowOfSlave("10")->text(2), "X9 rev B");

        QHeaderView* header = dialog_.List()->header();
        const int x = header->sectionViewportPosition(0) + 5;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(x, header->height() / 2));
        EXPECT_EQ(Column(0), (QStringList{"2", "5", "10"}));
        EXPECT_TRUE(header->isSortIndicatorShown());
        EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(x, header->height() / 2));
        EXPECT_EQ(Column(0), (QStringList{"10", "5", "2"}));
        EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
        EXPECT_EQ(header->sortIndicatorSection(), 0);

        // Nothing checked: Add does nothing and the dialog stays.
        for (int row = 0; row < 3; ++row)
            dialog_.List()->topLevelItem(row)->setCheckState(0, Qt::Unchecked);
        ClickItem(dialog_, SearchDialog::kIdAdd);
        QTest::qWait(20);
        EXPECT_TRUE(dialog_.IsRunning());
        EXPECT_TRUE(Groups().empty());

        // Settings changed after the search go into the paths.
        RowOfSlave("2")->setCheckState(0, Qt::Checked);
        RowOfSlave("10")->setCheckState(0, Qt::Checked);
        dialog_.Item<QComboBox>(SearchDialog::kIdParity)->setCurrentIndex(1);
        TypeInto(dialog_, SearchDialog::kIdBaud, QStringLiteral("19200"));
        ClickItem(dialog_, SearchDialog::kIdAdd);
    });
    EXPECT_EQ(dialog_.Run(tree_, &jobs_, &sink_, nullptr), 0);
    auto groups = Groups();
    ASSERT_EQ(groups.size(), 2u);
    // In list order, which is descending by address after the sort.
    EXPECT_EQ(groups[0].first, " X9 rev B [10]");
    EXPECT_EQ(groups[0].second, "ModbusSerial/19200/E/" + bus.portName + "/0x0A");
    EXPECT_EQ(groups[1].first, "Device at address 0x02");
    EXPECT_EQ(groups[1].second, "ModbusSerial/19200/E/" + bus.portName + "/0x02");
}

TEST_F(SearchDialogTest, DoubleClickAddsAndASearchAgainStartsAfresh) {
    SearchBus bus;
    ASSERT_TRUE(bus.Start(kOneDeviceConfig));
    StartModel(bus.line.PeerPath(), 5);
    WhenShown(dialog_, [&] {
        ASSERT_TRUE(SearchAndWait());
        ASSERT_EQ(dialog_.List()->topLevelItemCount(), 1);
        // The second search empties the list first and finds the same device once.
        ASSERT_TRUE(SearchAndWait());
        ASSERT_EQ(dialog_.List()->topLevelItemCount(), 1);
        QTreeWidget* list = dialog_.List();
        // What the list reports for a double-click on the row's vendor cell.
        emit list->itemDoubleClicked(list->topLevelItem(0), 1);
    });
    EXPECT_EQ(dialog_.Run(tree_, &jobs_, &sink_, nullptr), 0);
    auto groups = Groups();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].first, "ACME T100 [5]");
}

TEST_F(SearchDialogTest, NoDeviceLeavesAddDisabledAndTheDialogClosesAfterwards) {
    SearchBus bus;
    ASSERT_TRUE(
        bus.Start(R"(<Simulator><Device slave="9"><Holding address="0" values="1"/></Device></Simulator>)"));
    StartModel(bus.line.PeerPath(), 3); // slave 9 lies beyond the scan
    WhenShown(dialog_, [&] {
        ASSERT_TRUE(SearchAndWait());
        EXPECT_EQ(dialog_.List()->topLevelItemCount(), 0);
        EXPECT_FALSE(ItemEnabled(dialog_, SearchDialog::kIdAdd));
        EXPECT_TRUE(ItemEnabled(dialog_, SearchDialog::kIdSearch));
        QTest::keyClick(dialog_.Window(), Qt::Key_Escape);
    });
    EXPECT_EQ(dialog_.Run(tree_, &jobs_, &sink_, nullptr), 0);
    EXPECT_TRUE(Groups().empty());
    EXPECT_EQ(counter_.rebuilds, 0);
}

TEST(SearchDialogStopped, SearchWithTheWorkerStoppedReturnsToIdle) {
    MonitorTree tree; // not started: the search job is refused
    DeviceJobsContext jobs;
    SearchDialog dialog;
    WhenShown(dialog, [&] {
        ClickItem(dialog, SearchDialog::kIdSearch);
        EXPECT_EQ(dialog.IsSearching(), 0);
        EXPECT_TRUE(dialog.ItemWindow(SearchDialog::kIdProgress)->isHidden());
        EXPECT_TRUE(ItemEnabled(dialog, SearchDialog::kIdSearch));
        EXPECT_TRUE(ItemEnabled(dialog, SearchDialog::kIdList));
        QTest::keyClick(dialog.Window(), Qt::Key_Escape);
    });
    EXPECT_EQ(dialog.Run(tree, &jobs, nullptr, nullptr), 0);
}

TEST(SearchDialogSettings, TheWorkerReadsACopyOfTheFields) {
    SearchDialog dialog;
    unsigned baud = 0;
    char16_t parity = 0;
    WhenShown(dialog, [&] {
        EXPECT_EQ(SearchDialog::ReadSearchSettings(&dialog, &baud, &parity), 1);
        EXPECT_EQ(baud, 38400u);
        EXPECT_EQ(parity, u'N');
        TypeInto(dialog, SearchDialog::kIdBaud, QStringLiteral(" 9600x"));
        auto* combo = dialog.Item<QComboBox>(SearchDialog::kIdParity);
        combo->setCurrentIndex(2);
        emit combo->activated(2); // what a pick by the user reports
        SearchDialog::ReadSearchSettings(&dialog, &baud, &parity);
        EXPECT_EQ(baud, 9600u);
        EXPECT_EQ(parity, u'O');
        TypeInto(dialog, SearchDialog::kIdBaud, QStringLiteral("fast"));
        SearchDialog::ReadSearchSettings(&dialog, &baud, &parity);
        EXPECT_EQ(baud, 38400u);
        QTest::keyClick(dialog.Window(), Qt::Key_Escape);
    });
    MonitorTree tree;
    EXPECT_EQ(dialog.Run(tree, nullptr, nullptr, nullptr), 0);
}

} // namespace mistvale
