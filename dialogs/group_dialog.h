#pragma once
// The Group dialog (template 105): edits the name and the connection path of one group. The user picks
// the kind of connection (the clock, a Modbus device on a serial port, a Modbus TCP/IP device) with three
// radio buttons and fills that kind's fields; OK stores the name and a path built afresh from the fields.

#include "dialogs/dialog_base.h"
#include "dialogs/icon_combo_box.h"
#include "platform/wide_string.h"

namespace mistvale {

class Group;
class MonitorTree;

class GroupDialog : public DialogBase {
public:
    // Control ids of the template.
    enum : int {
        kIdClock = 1001,  // radio "Clock"
        kIdSerial = 1002, // radio "Modbus Serial Port"
        kIdTcp = 1003,    // radio "Modbus TCP/IP"
        kIdName = 1009,   // edit: the group's name
        kIdCancelButton = 1010,
        kIdPortList = 1015, // serial ports and "Use last device from list"
        kIdOkButton = 1022,
        kIdServer = 1026,  // TCP server
        kIdTcpPort = 1027, // TCP port
        kIdSlave = 1028,   // slave address text
        kIdParity = 1029,  // "None", "Even", "Odd"
        kIdBaud = 1030,    // editable baud rate
        kIdSerialPortLabel = 1031,
        kIdBaudLabel = 1032,
        kIdParityLabel = 1033,
        kIdServerLabel = 1034,
        kIdTcpPortLabel = 1035,
        kIdNameLabel = 1036,
        kIdDeviceLabel = 1037,
    };

    // The port list's extra entry and the marker that stands for it in a connection path.
    static const char16_t* const kUseLastDeviceText;   // "Use last device from list"
    static const char16_t* const kUseLastDeviceMarker; // "***USE_LAST_DEVICE***"

    GroupDialog() = default;

    // Runs the dialog modally over owner on group and returns 1 for OK, 0 otherwise (-1 when it could
    // not run). A group that tree lists is changed in place, and only while it is still listed: when
    // the worker deleted it while the dialog was open, OK changes nothing and the result is 0. A group
    // that tree does not list (a new one) belongs to the caller and is changed on OK.
    int Run(MonitorTree& tree, Group* group, QWidget* owner);

    static const DialogTemplate* Template();

protected:
    int OnInit() override;
    int OnCommand(int id, int code) override;
    int OnDestroy(int result) override;

private:
    void UpdateEnabledState();
    WideString BuildPath() const;

    MonitorTree* tree_ = nullptr;
    Group* group_ = nullptr;
    bool listed_ = false;   // the group was in the model when the dialog opened
    bool vanished_ = false; // ... and was gone when OK stored the fields
    WideString name_;       // copies of the group's fields, taken when the dialog opened
    WideString path_;
    IconComboBox ports_;
    IconComboBox baud_;
    IconComboBox parity_;
};

} // namespace mistvale
