#include "dialogs/group_dialog.h"

#include "dialogs/record_fields.h"
#include "modbus/serial_port_lookup.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "platform/string_table.h"
#include "resources/app_icons.h"

namespace mistvale {

const char16_t* const GroupDialog::kUseLastDeviceText = u"Use last device from list";
const char16_t* const GroupDialog::kUseLastDeviceMarker = u"***USE_LAST_DEVICE***";

// Template 105. The combo boxes are as high as an edit: their drop-down lists size themselves.
static const ControlTemplate kGroupControls[] = {
    {GroupDialog::kIdNameLabel, ControlKind::Label, 5, 5, 65, 14, "Name", kStyleNone},
    {GroupDialog::kIdName, ControlKind::Edit, 75, 5, 225, 14, nullptr, kStyleNone},
    {GroupDialog::kIdClock, ControlKind::RadioButton, 5, 30, 190, 14, "Clock", kStyleGroup},
    {GroupDialog::kIdSerial, ControlKind::RadioButton, 5, 55, 190, 14, "Modbus Serial Port", kStyleNone},
    {GroupDialog::kIdSerialPortLabel, ControlKind::Label, 20, 75, 50, 14, "Serial Port", kStyleNone},
    {GroupDialog::kIdPortList, ControlKind::DropDownList, 75, 75, 225, 14, nullptr, kStyleSorted},
    {GroupDialog::kIdBaudLabel, ControlKind::Label, 20, 95, 50, 14, "Baud Rate", kStyleNone},
    {GroupDialog::kIdBaud, ControlKind::DropDownCombo, 75, 95, 59, 14, nullptr, kStyleNone},
    {GroupDialog::kIdParityLabel, ControlKind::Label, 20, 115, 50, 14, "Parity", kStyleNone},
    {GroupDialog::kIdParity, ControlKind::DropDownList, 75, 115, 60, 14, nullptr, kStyleNone},
    {GroupDialog::kIdDeviceLabel, ControlKind::Label, 20, 135, 50, 14, "Device", kStyleNone},
    {GroupDialog::kIdSlave, ControlKind::Edit, 75, 135, 60, 14, nullptr, kStyleNone},
    {GroupDialog::kIdTcp, ControlKind::RadioButton, 5, 160, 190, 14, "Modbus TCP/IP", kStyleNone},
    {GroupDialog::kIdServerLabel, ControlKind::Label, 15, 180, 50, 14, "Server", kStyleNone},
    {GroupDialog::kIdServer, ControlKind::Edit, 75, 180, 60, 14, nullptr, kStyleNone},
    {GroupDialog::kIdTcpPortLabel, ControlKind::Label, 16, 200, 50, 14, "Port", kStyleNone},
    {GroupDialog::kIdTcpPort, ControlKind::Edit, 75, 200, 60, 14, nullptr, kStyleNone},
    {GroupDialog::kIdOkButton, ControlKind::DefaultPushButton, 177, 225, 60, 14, "OK", kStyleNone},
    {GroupDialog::kIdCancelButton, ControlKind::PushButton, 242, 225, 60, 14, "Cancel", kStyleNone},
};

static const DialogTemplate kGroupTemplate = {
    105,
    307,
    245,
    "Mistvale",
    kGroupControls,
    static_cast<int>(sizeof kGroupControls / sizeof kGroupControls[0]),
    kDialogNone,
};

const DialogTemplate* GroupDialog::Template() {
    return &kGroupTemplate;
}

int GroupDialog::Run(MonitorTree& tree, Group* group, QWidget* owner) {
    if (group == nullptr)
        return -1;
    tree_ = &tree;
    group_ = group;
    vanished_ = false;
    // A listed group is read under the list's lock; a new one belongs to the caller alone.
    listed_ = CopyListedGroupFields(tree, group, name_, path_) != 0;
    if (!listed_) {
        name_ = group->Name();
        path_ = group->Parameter();
    }
    SetIcon(kIconApp);
    int result = DialogBase::Run(&kGroupTemplate, owner);
    tree_ = nullptr;
    group_ = nullptr;
    if (result == 1 && vanished_)
        return 0;
    return result;
}

static int AddPortEntry(const WideString& displayName, void* context) {
    static_cast<IconComboBox*>(context)->Add(displayName, 0, kIconSerialPort);
    return 1;
}

int GroupDialog::OnInit() {
    SetTitle(FormatTitle(WideString(u"Mistvale")));
    SetItemText(kIdNameLabel, Text(kStrName));
    SetItemText(kIdClock, Text(kStrClock));
    SetItemText(kIdSerial, Text(kStrModbusSerial));
    SetItemText(kIdSerialPortLabel, Text(kStrSerialPort));
    SetItemText(kIdBaudLabel, Text(kStrBaudRate));
    SetItemText(kIdParityLabel, Text(kStrParity));
    SetItemText(kIdDeviceLabel, Text(kStrDevice));
    SetItemText(kIdTcp, Text(kStrModbusTcp));
    SetItemText(kIdServerLabel, Text(kStrServer));
    SetItemText(kIdTcpPortLabel, Text(kStrPort));
    SetItemText(kIdOkButton, Text(kStrOk));
    SetItemText(kIdCancelButton, Text(kStrCancel));

    // Ports as the system lists them (the combo box sorts them), and the stand-in for the last one.
    ports_.Attach(ItemWindow(kIdPortList));
    ports_.SuspendRedraw();
    ForEachSerialPortName(AddPortEntry, &ports_);
    int portSelection = -1;
    ports_.Add(WideString(kUseLastDeviceText), 0, kIconSerialPort, &portSelection);
    ports_.ResumeRedraw();

    baud_.Attach(ItemWindow(kIdBaud));
    for (const char16_t* rate : {u"9600", u"19200", u"38400", u"57600", u"115200"})
        baud_.Add(WideString(rate), 0, kIconBaudRate);

    parity_.Attach(ItemWindow(kIdParity));
    parity_.Add(WideString(u"None"), 'N', kIconParityNone);
    parity_.Add(WideString(u"Even"), 'E', kIconParityEven);
    parity_.Add(WideString(u"Odd"), 'O', kIconParityOdd);

    SetItemText(kIdName, name_);

    WideString tcpPort(u"502");
    WideString baudText(u"38400");
    WideString parityText(u"N");
    WideString slave(u"0x01");
    WideString server;

    // The connection path, token by token from its front.
    WideString rest(path_);
    WideString token;
    int radio = 0;
    if (rest.NextToken(token, u"/") != 0) {
        if (token.CompareNoCase(u"Clock") == 0) {
            radio = kIdClock;
        } else if (token.CompareNoCase(u"ModbusSerial") == 0) {
            radio = kIdSerial;
            if (rest.NextToken(token, u"/") != 0) {
                baudText = token;
                if (rest.NextToken(token, u"/") != 0) {
                    parityText = token;
                    if (rest.NextToken(token, u"/") != 0) {
                        if (!token.IsEmpty() && token.Compare(kUseLastDeviceMarker) != 0) {
                            int found = -1;
                            if (ports_.FindText(token, 1, -1, &found) != 0) {
                                portSelection = found;
                            } else {
                                // A port that is gone stays selectable, so OK keeps it in the path.
                                ports_.Add(token, 0, kIconSerialPort, &portSelection);
                            }
                        }
                        // The slave address follows the port even when the port field is empty, so
                        // that confirming the dialog does not lose it.
                        if (rest.NextToken(token, u"/") != 0)
                            slave = token;
                    }
                }
            }
        } else if (token.CompareNoCase(u"ModbusTcpIp") == 0) {
            radio = kIdTcp;
            if (rest.NextToken(token, u"/") != 0) {
                server = token;
                if (rest.NextToken(token, u"/") != 0)
                    tcpPort = token;
            }
        }
    }
    if (radio != 0)
        CheckRadio(kIdClock, kIdTcp, radio);

    SetItemText(kIdServer, server);
    SetItemText(kIdTcpPort, tcpPort);
    baud_.SetText(baudText);
    int parityIndex = -1;
    if (parity_.FindValue(static_cast<std::uint32_t>(parityText.At(0)), 0, &parityIndex) != 0)
        parity_.Select(parityIndex);
    else
        parity_.Select(-1);
    ports_.Select(portSelection);
    SetItemText(kIdSlave, slave);

    UpdateEnabledState();
    return 1;
}

void GroupDialog::UpdateEnabledState() {
    const int clock = IsItemChecked(kIdClock);
    const int tcp = IsItemChecked(kIdTcp);
    const int serialFields = (clock == 0 && tcp == 0) ? 1 : 0;
    const int tcpFields = (clock == 0 && tcp != 0) ? 1 : 0;
    for (int id : {kIdPortList, kIdBaud, kIdParity, kIdSlave})
        EnableItem(id, serialFields);
    for (int id : {kIdServer, kIdTcpPort})
        EnableItem(id, tcpFields);
}

int GroupDialog::OnCommand(int id, int code) {
    switch (id) {
    case kIdClock:
    case kIdSerial:
    case kIdTcp:
        UpdateEnabledState();
        break;
    case kIdCancelButton:
        End(0);
        return 1;
    case kIdOkButton:
        End(1);
        return 1;
    default:
        break;
    }
    return DialogBase::OnCommand(id, code);
}

WideString GroupDialog::BuildPath() const {
    WideString path;
    if (IsItemChecked(kIdClock) != 0) {
        path.Assign(u"Clock");
        return path;
    }
    WideString text;
    if (IsItemChecked(kIdTcp) != 0) {
        path.Assign(u"ModbusTcpIp/");
        GetItemText(kIdServer, text);
        path.Append(text);
        path.AppendChar(u'/');
        GetItemText(kIdTcpPort, text);
        path.Append(text);
        return path;
    }
    // Serial, also when no kind is checked. The texts go in as typed; nothing is checked here.
    path.Assign(u"ModbusSerial");
    baud_.GetText(text);
    if (!text.IsEmpty()) {
        path.AppendChar(u'/');
        path.Append(text);
    }
    std::uint32_t parity = 0;
    if (parity_.SelectedValue(nullptr, &parity) != 0) {
        path.AppendChar(u'/');
        path.AppendChar(static_cast<char16_t>(parity));
    }
    ports_.GetText(text);
    path.AppendChar(u'/');
    if (text.Compare(kUseLastDeviceText) == 0)
        path.Append(kUseLastDeviceMarker);
    else
        path.Append(text);
    GetItemText(kIdSlave, text);
    path.AppendChar(u'/');
    path.Append(text);
    return path;
}

int GroupDialog::OnDestroy(int result) {
    if (result == 1 && group_ != nullptr) {
        WideString name;
        GetItemText(kIdName, name);
        const WideString path = BuildPath();
        if (listed_)
            vanished_ = StoreListedGroupFields(*tree_, group_, name, path) == 0;
        else
            group_->SetNameAndParameter(name, path);
    }
    ports_.Clear();
    baud_.Clear();
    parity_.Clear();
    return 1;
}

} // namespace mistvale
