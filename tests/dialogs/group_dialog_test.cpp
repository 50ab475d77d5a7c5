// The Group dialog against a model: what it shows for each kind of connection path and what OK, Cancel
// and Escape store. The serial ports come from MISTVALE_SERIAL_PORTS (paths that need not exist: the
// dialog only lists names and never opens a port).

#include "dialogs/group_dialog.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "tests/dialogs/dialog_driver.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>
#include <string>

namespace mistvale {

class GroupDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        // COM3 is listed; COM9 is not (a port that has gone away).
        ports_ = OnlyTheseSerialPorts(dir_.Path() + "/COM3:" + dir_.Path() + "/ttyX1", &only_);
    }
    void TearDown() override {
        ports_.reset();
        only_.reset();
    }

    // A listed group with this path, edited in place.
    Group* AddGroup(const char16_t* name, const char16_t* path) {
        Group* group = new Group();
        group->SetNameAndParameter(WideString(name), WideString(path));
        tree_.AddGroup(group);
        return group;
    }

    static std::string Utf8(const WideString& text) { return text.ToUtf8(); }

    TempDir dir_;
    MonitorTree tree_;
    GroupDialog dialog_;
    std::unique_ptr<EnvOverride> only_;
    std::unique_ptr<EnvOverride> ports_;
};

TEST_F(GroupDialogTest, NewGroupOpensOnClockWithDefaultsAndStoresClock) {
    Group group; // a new group: name "Group", path "Clock", not listed
    bool checked = false;
    WhenShown(dialog_, [&] {
        checked = true;
        EXPECT_EQ(ItemText(dialog_, GroupDialog::kIdName), "Group");
        EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdClock), 1);
        EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdSerial), 0);
        EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdTcp), 0);
        for (int id : {GroupDialog::kIdPortList, GroupDialog::kIdBaud, GroupDialog::kIdParity,
                       GroupDialog::kIdSlave, GroupDialog::kIdServer, GroupDialog::kIdTcpPort})
            EXPECT_FALSE(ItemEnabled(dialog_, id)) << id;
        // Labels stay enabled.
        EXPECT_TRUE(ItemEnabled(dialog_, GroupDialog::kIdSerialPortLabel));
        EXPECT_EQ(ComboText(dialog_, GroupDialog::kIdPortList), "Use last device from list");
        EXPECT_EQ(ComboText(dialog_, GroupDialog::kIdBaud), "38400");
        EXPECT_EQ(ComboText(dialog_, GroupDialog::kIdParity), "None");
        EXPECT_EQ(ItemText(dialog_, GroupDialog::kIdSlave), "0x01");
        EXPECT_EQ(ItemText(dialog_, GroupDialog::kIdTcpPort), "502");
        EXPECT_EQ(ItemText(dialog_, GroupDialog::kIdServer), "");
        EXPECT_EQ(ItemText(dialog_, GroupDialog::kIdOkButton), "OK");
        EXPECT_EQ(ItemText(dialog_, GroupDialog::kIdCancelButton), "Cancel");
        EXPECT_EQ(dialog_.Window()->windowTitle(), FormatTitle(QStringLiteral("Mistvale")));
        ClickItem(dialog_, GroupDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, &group, nullptr), 1);
    EXPECT_TRUE(checked);
    EXPECT_EQ(Utf8(group.Name()), "Group");
    EXPECT_EQ(Utf8(group.Parameter()), "Clock");
}

TEST_F(GroupDialogTest, SerialPathShowsItsFieldsAndIsWrittenBackUnchanged) {
    Group* group = AddGroup(u"Pump", u"ModbusSerial/9600/E/COM3/0x11");
    WhenShown(dialog_, [&] {
        EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdSerial), 1);
        EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdClock), 0);
        EXPECT_EQ(ComboText(dialog_, GroupDialog::kIdPortList), "COM3");
        EXPECT_EQ(ComboText(dialog_, GroupDialog::kIdBaud), "9600");
        EXPECT_EQ(ComboText(dialog_, GroupDialog::kIdParity), "Even");
        EXPECT_EQ(ItemText(dialog_, GroupDialog::kIdSlave), "0x11");
        for (int id :
             {GroupDialog::kIdPortList, GroupDialog::kIdBaud, GroupDialog::kIdParity, GroupDialog::kIdSlave})
            EXPECT_TRUE(ItemEnabled(dialog_, id)) << id;
        EXPECT_FALSE(ItemEnabled(dialog_, GroupDialog::kIdServer));
        EXPECT_FALSE(ItemEnabled(dialog_, GroupDialog::kIdTcpPort));
        ClickItem(dialog_, GroupDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 1);
    EXPECT_EQ(Utf8(group->Name()), "Pump");
    EXPECT_EQ(Utf8(group->Parameter()), "ModbusSerial/9600/E/COM3/0x11");
}

TEST_F(GroupDialogTest, LastDeviceMarkerSelectsTheExtraEntryAndIsWrittenBack) {
    Group* group = AddGroup(u"Last", u"ModbusSerial/19200/O/***USE_LAST_DEVICE***/0x02");
    int entries = 0;
    WhenShown(dialog_, [&] {
        EXPECT_EQ(ComboText(dialog_, GroupDialog::kIdPortList), "Use last device from list");
        EXPECT_EQ(ComboText(dialog_, GroupDialog::kIdParity), "Odd");
        entries = dialog_.Item<QComboBox>(GroupDialog::kIdPortList)->count();
        ClickItem(dialog_, GroupDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 1);
    // The marker is no port: nothing was added for it.
    EXPECT_GE(entries, 3);
    EXPECT_EQ(Utf8(group->Parameter()), "ModbusSerial/19200/O/***USE_LAST_DEVICE***/0x02");
}

TEST_F(GroupDialogTest, PortsAreSortedAndAMissingPortIsShownAsAnExtraEntry) {
    Group* group = AddGroup(u"Gone", u"ModbusSerial/38400/N/COM9/0x05");
    QStringList entries;
    WhenShown(dialog_, [&] {
        auto* ports = dialog_.Item<QComboBox>(GroupDialog::kIdPortList);
        for (int i = 0; i < ports->count(); ++i)
            entries << ports->itemText(i);
        EXPECT_EQ(ports->currentText(), "COM9");
        ClickItem(dialog_, GroupDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 1);
    EXPECT_TRUE(entries.contains("COM3"));
    EXPECT_TRUE(entries.contains("COM9"));
    EXPECT_TRUE(entries.contains("ttyX1"));
    EXPECT_TRUE(entries.contains("Use last device from list"));
    QStringList sorted = entries;
    sorted.sort(Qt::CaseInsensitive);
    EXPECT_EQ(entries, sorted);
    EXPECT_EQ(Utf8(group->Parameter()), "ModbusSerial/38400/N/COM9/0x05");
}

TEST_F(GroupDialogTest, PortLookupIgnoresCaseAndStoresTheListedName) {
    Group* group = AddGroup(u"Case", u"modbusserial/9600/N/com3/7");
    WhenShown(dialog_, [&] {
        EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdSerial), 1);
        EXPECT_EQ(ComboText(dialog_, GroupDialog::kIdPortList), "COM3");
        ClickItem(dialog_, GroupDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 1);
    EXPECT_EQ(Utf8(group->Parameter()), "ModbusSerial/9600/N/COM3/7");
}

TEST_F(GroupDialogTest, TcpPathShowsServerAndPortWithSerialFieldsDisabled) {
    Group* group = AddGroup(u"PLC", u"ModbusTcpIp/plc1/1502");
    WhenShown(dialog_, [&] {
        EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdTcp), 1);
        EXPECT_EQ(ItemText(dialog_, GroupDialog::kIdServer), "plc1");
        EXPECT_EQ(ItemText(dialog_, GroupDialog::kIdTcpPort), "1502");
        EXPECT_TRUE(ItemEnabled(dialog_, GroupDialog::kIdServer));
        EXPECT_TRUE(ItemEnabled(dialog_, GroupDialog::kIdTcpPort));
        for (int id :
             {GroupDialog::kIdPortList, GroupDialog::kIdBaud, GroupDialog::kIdParity, GroupDialog::kIdSlave})
            EXPECT_FALSE(ItemEnabled(dialog_, id)) << id;
        ClickItem(dialog_, GroupDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 1);
    EXPECT_EQ(Utf8(group->Parameter()), "ModbusTcpIp/plc1/1502");
}

TEST_F(GroupDialogTest, UnknownOrEmptyPathChecksNothingAndOkWritesASerialPath) {
    for (const char16_t* path : {u"Foo/1/2", u""}) {
        Group* group = AddGroup(u"Odd", path);
        WhenShown(dialog_, [&] {
            EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdClock), 0);
            EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdSerial), 0);
            EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdTcp), 0);
            EXPECT_TRUE(ItemEnabled(dialog_, GroupDialog::kIdPortList));
            EXPECT_TRUE(ItemEnabled(dialog_, GroupDialog::kIdSlave));
            EXPECT_FALSE(ItemEnabled(dialog_, GroupDialog::kIdServer));
            ClickItem(dialog_, GroupDialog::kIdOkButton);
        });
        EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 1);
        EXPECT_EQ(Utf8(group->Parameter()), "ModbusSerial/38400/N/***USE_LAST_DEVICE***/0x01");
    }
}

TEST_F(GroupDialogTest, ClearedBaudFieldIsLeftOutAndATypedRateIsKept) {
    Group* group = AddGroup(u"Baud", u"ModbusSerial/38400/N/COM3/0x01");
    WhenShown(dialog_, [&] {
        TypeInto(dialog_, GroupDialog::kIdBaud, QString());
        ClickItem(dialog_, GroupDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 1);
    EXPECT_EQ(Utf8(group->Parameter()), "ModbusSerial/N/COM3/0x01");

    WhenShown(dialog_, [&] {
        // The path without a baud token is read from the front: "N" lands in the baud field.
        EXPECT_EQ(ComboText(dialog_, GroupDialog::kIdBaud), "N");
        TypeInto(dialog_, GroupDialog::kIdBaud, QStringLiteral("4800"));
        dialog_.Item<QComboBox>(GroupDialog::kIdParity)->setCurrentIndex(1);
        dialog_.Item<QComboBox>(GroupDialog::kIdPortList)->setCurrentText(QStringLiteral("COM3"));
        ClickItem(dialog_, GroupDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 1);
    EXPECT_EQ(Utf8(group->Parameter()), "ModbusSerial/4800/E/COM3/0x01");
}

TEST_F(GroupDialogTest, RadioButtonsSwitchTheEnabledFieldsAndBuildTheirPath) {
    Group* group = AddGroup(u"Switch", u"Clock");
    WhenShown(dialog_, [&] {
        ClickItem(dialog_, GroupDialog::kIdTcp);
        EXPECT_EQ(dialog_.IsItemChecked(GroupDialog::kIdClock), 0);
        EXPECT_TRUE(ItemEnabled(dialog_, GroupDialog::kIdServer));
        EXPECT_FALSE(ItemEnabled(dialog_, GroupDialog::kIdBaud));
        TypeInto(dialog_, GroupDialog::kIdServer, QStringLiteral("10.0.0.7"));
        ClickItem(dialog_, GroupDialog::kIdSerial);
        EXPECT_FALSE(ItemEnabled(dialog_, GroupDialog::kIdServer));
        EXPECT_TRUE(ItemEnabled(dialog_, GroupDialog::kIdBaud));
        ClickItem(dialog_, GroupDialog::kIdTcp);
        TypeInto(dialog_, GroupDialog::kIdName, QStringLiteral("  spaced 100% "));
        ClickItem(dialog_, GroupDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 1);
    EXPECT_EQ(Utf8(group->Name()), "  spaced 100% ");
    EXPECT_EQ(Utf8(group->Parameter()), "ModbusTcpIp/10.0.0.7/502");
}

TEST_F(GroupDialogTest, CancelAndEscapeLeaveTheGroupUnchanged) {
    Group* group = AddGroup(u"Keep", u"ModbusTcpIp/plc1/1502");
    WhenShown(dialog_, [&] {
        TypeInto(dialog_, GroupDialog::kIdName, QStringLiteral("Changed"));
        ClickItem(dialog_, GroupDialog::kIdClock);
        ClickItem(dialog_, GroupDialog::kIdCancelButton);
    });
    EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 0);
    WhenShown(dialog_, [&] {
        TypeInto(dialog_, GroupDialog::kIdServer, QStringLiteral("other"));
        QTest::keyClick(dialog_.Window(), Qt::Key_Escape);
    });
    EXPECT_EQ(dialog_.Run(tree_, group, nullptr), 0);
    EXPECT_EQ(Utf8(group->Name()), "Keep");
    EXPECT_EQ(Utf8(group->Parameter()), "ModbusTcpIp/plc1/1502");
}

TEST_F(GroupDialogTest, CombosAreEmptiedAndRefilledAtEveryOpening) {
    Group* group = AddGroup(u"Twice", u"ModbusSerial/9600/E/COM9/0x11");
    int firstCount = 0;
    int secondCount = 0;
    WhenShown(dialog_, [&] {
        firstCount = dialog_.Item<QComboBox>(GroupDialog::kIdPortList)->count();
        ClickItem(dialog_, GroupDialog::kIdCancelButton);
    });
    dialog_.Run(tree_, group, nullptr);
    group->SetParameter(WideString(u"Clock"));
    WhenShown(dialog_, [&] {
        secondCount = dialog_.Item<QComboBox>(GroupDialog::kIdPortList)->count();
        EXPECT_EQ(dialog_.Item<QComboBox>(GroupDialog::kIdBaud)->count(), 5);
        EXPECT_EQ(dialog_.Item<QComboBox>(GroupDialog::kIdParity)->count(), 3);
        ClickItem(dialog_, GroupDialog::kIdCancelButton);
    });
    dialog_.Run(tree_, group, nullptr);
    // The missing port COM9 was an extra entry of the first opening only.
    EXPECT_EQ(firstCount, secondCount + 1);
}

// The worker deletes the group (a Delete queued earlier) while its dialog is open: OK must not write
// into the freed record.
TEST_F(GroupDialogTest, OkAfterTheWorkerDeletedTheGroupChangesNothing) {
    TempDir data;
    MonitorTree tree;
    ASSERT_EQ(tree.Start(data.File("Mistvale.xml")), 1);
    Group* group = new Group();
    group->SetNameAndParameter(WideString(u"Doomed"), WideString(u"Clock"));
    tree.AddGroup(group);
    WhenShown(dialog_, [&] {
        TypeInto(dialog_, GroupDialog::kIdName, QStringLiteral("Renamed"));
        ASSERT_EQ(tree.QueueDeleteGroup(group), 1);
        QElapsedTimer clock;
        clock.start();
        while (tree.HasGroup(group) != 0 && clock.elapsed() < 5000)
            QTest::qWait(5);
        EXPECT_EQ(tree.HasGroup(group), 0);
        ClickItem(dialog_, GroupDialog::kIdOkButton);
    });
    EXPECT_EQ(dialog_.Run(tree, group, nullptr), 0);
    EXPECT_EQ(tree.Groups().Count(), 0u);
    tree.Stop();
}

} // namespace mistvale
