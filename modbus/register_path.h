#pragma once

#include "platform/wide_string.h"

#include <cstdint>

namespace mistvale {

// How a source's value is shown, from the format token of its register path.
enum class ValueFormat {
    Decimal, // "%hd"; also "graph", "range", "color", any other word and no token
    Hex,     // "hex"
    Text,    // "string" with an optional register count
    Float,   // "float": two registers, low word first unless an order is named
    UInt16,  // "uint16": one register, 0 ... 65535
    Int32,   // "int32", "uint32": two registers
    UInt32,
    Int64, // "int64", "uint64": four registers
    UInt64,
    Double, // "double": four registers
    Bcd,    // "bcd": one register of four decimal digits
};

// The order of a typed value's bytes in its registers, A being the most significant byte: abcd puts
// the most significant register first (Modbus's own order), cdab reverses the registers, badc swaps
// the two bytes of every register and dcba does both.
enum class ByteOrder { Abcd, Cdab, Badc, Dcba };

// A register path "[function#]address[/format[/min[/max]]]", for example 4#30/float or 100/graph/0/1000.
struct RegisterPath {
    uint32_t function = 3; // Modbus function code, hexadecimal in the path; 3 without a prefix
    uint16_t address = 0;  // low 16 bits of the decimal address
    ValueFormat format = ValueFormat::Decimal;
    uint32_t textCount = 1;            // registers of a text format ("string8" gives 8; 1 when absent)
    bool textCountGiven = false;       // the path names the count ("string8"), not just "string"
    ByteOrder order = ByteOrder::Abcd; // of a typed number; a float without an order is cdab
};

// Parses the register and format tokens. Returns 0 when there is no register token or its address is
// not a decimal number; out is then left as it was.
int ParseRegisterPath(const WideString& path, RegisterPath* out);

// Bounds of a drawn cell: tokens 3 and 4, "%u" each; a missing or non-numeric token keeps 0 and 100.
void RegisterPathBounds(const WideString& path, uint32_t* min, uint32_t* max);

// The number a range or colour cell draws from a value text: "%u", 0 when not a number, a negative
// number as its 32-bit two's complement.
uint32_t CellValueOfText(const WideString& value);

} // namespace mistvale
