#pragma once

namespace mistvale {

// The virtual-key codes the program's key handlers use, and the mapping from Qt's key codes.

constexpr int kVkBack = 0x08;
constexpr int kVkTab = 0x09;
constexpr int kVkReturn = 0x0D;
constexpr int kVkShift = 0x10;
constexpr int kVkControl = 0x11;
constexpr int kVkMenu = 0x12; // Alt
constexpr int kVkPause = 0x13;
constexpr int kVkCapital = 0x14;
constexpr int kVkEscape = 0x1B;
constexpr int kVkSpace = 0x20;
constexpr int kVkPrior = 0x21; // Page Up
constexpr int kVkNext = 0x22;  // Page Down
constexpr int kVkEnd = 0x23;
constexpr int kVkHome = 0x24;
constexpr int kVkLeft = 0x25;
constexpr int kVkUp = 0x26;
constexpr int kVkRight = 0x27;
constexpr int kVkDown = 0x28;
constexpr int kVkSnapshot = 0x2C;
constexpr int kVkInsert = 0x2D;
constexpr int kVkDelete = 0x2E;
constexpr int kVkApps = 0x5D; // the context-menu key
constexpr int kVkNumpad0 = 0x60;
constexpr int kVkMultiply = 0x6A;
constexpr int kVkAdd = 0x6B;
constexpr int kVkSubtract = 0x6D;
constexpr int kVkDecimal = 0x6E;
constexpr int kVkDivide = 0x6F;
constexpr int kVkF1 = 0x70;
constexpr int kVkF2 = 0x71;
constexpr int kVkNumLock = 0x90;
constexpr int kVkScroll = 0x91;

// The virtual-key code of a Qt key (Qt::Key value); `keypad` tells whether the key came from the numeric
// keypad. Letters and digits map to their upper-case ASCII codes, F1..F24 to 0x70..0x87. Returns 0 for a
// key without a code.
int VirtualKeyFromQtKey(int qtKey, bool keypad);

} // namespace mistvale
