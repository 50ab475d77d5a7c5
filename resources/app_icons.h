#pragma once
// The program's icons, drawn in code so that they stay sharp at every size and scale factor. Each icon
// is rendered once per size on first use and kept; call from the user-interface thread.

#include <QIcon>
#include <QPixmap>

namespace mistvale {

// Icon ids, as the dialogs, menus, toolbar and tree-list refer to them.
enum AppIconId {
    kIconApp = 101,          // the program: a monitor screen with a trend line
    kIconOptions = 109,      // toolbar "Options": a gear
    kIconParityEven = 110,   // parity "Even": E badge
    kIconParityNone = 111,   // parity "None": N badge
    kIconParityOdd = 112,    // parity "Odd": O badge
    kIconSearch = 113,       // toolbar "Search for Modbus Devices": a magnifying glass
    kIconSerialPort = 114,   // a serial port: a 9-pin D-sub connector
    kIconNetwork = 115,      // a TCP/IP connection: linked network nodes
    kIconBaudRate = 116,     // a baud rate: a square wave
    kIconGroup = 137,        // a group (tree-list image 0, "Add Group")
    kIconSource = 138,       // a source (tree-list image 1, "Add Source"): a gauge
    kIconDelete = 139,       // "Delete": a red cross
    kIconEdit = 140,         // "Edit": a pencil
    kIconDevice = 141,       // a found device: a box with status lights
    kIconClock = 142,        // the clock: a clock face
    kIconAddRegisters = 143, // "Add all Modbus Registers": a register table with a plus
    kIconRecord = 144,       // toolbar "Record": a red dot
    kIconTraffic = 145,      // toolbar "Traffic": arrows both ways
};

// The icon with this id at the usual sizes (16 to 256 pixels, and twice that for high-DPI screens),
// or a null QIcon for an unknown id.
QIcon IconById(int id);
// One rendering of the icon at size x size device pixels (transparent background); a null pixmap for
// an unknown id or a size below 1.
QPixmap IconPixmap(int id, int size);
// 1 when the id names one of the icons above.
int HasIcon(int id);

} // namespace mistvale
