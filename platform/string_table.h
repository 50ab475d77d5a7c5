#pragma once
// The program's user-visible strings 1 to 39 and the "%1" insert formatter. Both functions only read
// constant data and write the caller's own output, so they may be called from any thread (the refresh
// worker uses strings 26, 37 and 39).

#include <cstdint>
#include <initializer_list>

#include "platform/wide_string.h"

namespace mistvale {

// Ids of the string table.
enum StringId {
    kStrCreate = 1,
    kStrCancel = 2,
    kStrName = 3,
    kStrValue = 4,
    kStrAddGroup = 5,
    kStrAddSource = 6,
    kStrSearchDevices = 7,
    kStrOptions = 8,
    kStrAutoUpdate = 9,
    kStrSeconds = 10,
    kStrRefreshRate = 11,
    kStrOk = 12,
    kStrClock = 13,
    kStrModbusSerial = 14,
    kStrSerialPort = 15,
    kStrBaudRate = 16,
    kStrParity = 17,
    kStrModbusTcp = 18,
    kStrServer = 19,
    kStrPort = 20,
    kStrGroup = 21,
    kStrDevice = 22,
    kStrEdit = 23,
    kStrDelete = 24,
    kStrParameter = 25,
    kStrSource = 26,
    kStrDeleteGroupQuestion = 27,
    kStrDeleteSourceQuestion = 28,
    kStrAdd = 29,
    kStrDeviceAtAddress = 30,
    kStrUnknownDevice = 31,
    kStrVendor = 32,
    kStrProduct = 33,
    kStrVersion = 34,
    kStrSerialNumber = 35,
    kStrSearch = 36,
    kStrCantGetValue = 37,
    kStrAddAllRegisters = 38,
    kStrCantSetValue = 39,
};

// Longest result of Text and FormatText, in UTF-16 units.
constexpr int kStringTableMaxLength = 599;

// String id, or "?" when there is no such string. The pointer is to constant storage (never nullptr).
const char16_t* Text(int id);
// The same, copied into out; returns 1 when the string exists, else 0 (out is then "?").
int Text(int id, WideString& out);

// One argument of FormatText: a text or a number. It only refers to its text, so it must not outlive
// the call it is written in (the usual use is a braced list right in the call).
class TextArg {
public:
    enum class Kind { Text, Signed, Unsigned, Real };
    TextArg(const char16_t* text) : kind_(Kind::Text), text_(text ? text : u"") {}
    TextArg(const WideString& text) : kind_(Kind::Text), text_(text.Text()) {}
    TextArg(int value) : kind_(Kind::Signed), signed_(value) {}
    TextArg(long value) : kind_(Kind::Signed), signed_(value) {}
    TextArg(long long value) : kind_(Kind::Signed), signed_(value) {}
    TextArg(unsigned value) : kind_(Kind::Unsigned), unsigned_(value) {}
    TextArg(unsigned long value) : kind_(Kind::Unsigned), unsigned_(value) {}
    TextArg(unsigned long long value) : kind_(Kind::Unsigned), unsigned_(value) {}
    TextArg(double value) : kind_(Kind::Real), real_(value) {}

    Kind ArgKind() const { return kind_; }
    const char16_t* Text() const { return text_; }
    long long SignedValue() const { return signed_; }
    unsigned long long UnsignedValue() const { return unsigned_; }
    double RealValue() const { return real_; }

private:
    Kind kind_;
    const char16_t* text_ = u"";
    long long signed_ = 0;
    unsigned long long unsigned_ = 0;
    double real_ = 0;
};

// String id with its inserts replaced, following the message-formatting rules of the desktop:
//   %1 .. %99      the argument of that number (1-based), inserted as it is and never scanned again
//   %n!fmt!        the argument formatted with the printf directive "%fmt" (e.g. %1!04X!, %2!-10s!)
//   %0             ends the text at once
//   %%  %.  %!     a literal '%', '.', '!';   %t a tab, %r a carriage return, %n a line feed
//   any other "%c" gives c; a '%' at the very end is dropped
// The result is cut to kStringTableMaxLength units (never inside a surrogate pair). Returns 1; returns
// 0 when an insert names an argument that was not given (that insert is then left as typed) or the
// id does not exist (out is then "?").
int FormatText(WideString& out, int id, std::initializer_list<TextArg> args);
// The same rules over any pattern text (nullptr counts as "").
int FormatInserts(WideString& out, const char16_t* pattern, std::initializer_list<TextArg> args);

} // namespace mistvale
