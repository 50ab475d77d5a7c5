#pragma once

namespace mistvale {

// Which commands of the tree-list's context menu apply to the record that was right-clicked.

struct RecordSnapshot;

struct ContextMenuState {
    bool addGroup = true; // always
    bool addSource = false;
    bool addAllRegisters = false;
    bool edit = false;
    bool remove = false;   // "Delete"
    bool setValue = false; // a source: its Value dialog
};

// record: the right-clicked record as found in the model, or nullptr for none. A group may get sources
// and, when its connection path names a Modbus device ("ModbusSerial/" or "ModbusTcpIp/", any case),
// all of the device's registers; any record can be edited and deleted.
ContextMenuState ContextMenuStateFor(const RecordSnapshot* record);

// 1 when a connection path starts with "ModbusSerial/" or "ModbusTcpIp/" without regard to case.
int IsModbusConnectionPath(const char16_t* path);

} // namespace mistvale
