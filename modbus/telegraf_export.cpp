#include "modbus/telegraf_export.h"

#include "modbus/connection_path.h"
#include "modbus/register_path.h"
#include "modbus/serial_port_lookup.h"
#include "modbus/typed_number.h"
#include "model/group.h"
#include "model/locked_list.h"
#include "model/source.h"

#include <cstdio>
#include <map>
#include <vector>

namespace mistvale {

namespace {

// A TOML basic string.
std::string Toml(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

// One line of a comment: no line break can end it early.
std::string CommentText(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += (c == '\n' || c == '\r') ? ' ' : c;
    return out;
}

const char* OrderName(ByteOrder order, unsigned registers) {
    static const char* const kTwo[] = {"AB", "AB", "BA", "BA"};
    static const char* const kFour[] = {"ABCD", "CDAB", "BADC", "DCBA"};
    static const char* const kEight[] = {"ABCDEFGH", "GHEFCDAB", "BADCFEHG", "HGFEDCBA"};
    const int i = static_cast<int>(order);
    return registers == 1 ? kTwo[i] : registers == 2 ? kFour[i] : kEight[i];
}

// Telegraf's type of a register format; nullptr when it has none.
const char* TelegrafType(ValueFormat format) {
    switch (format) {
    case ValueFormat::Decimal:
        return "INT16";
    case ValueFormat::Hex:
    case ValueFormat::UInt16:
        return "UINT16";
    case ValueFormat::Int32:
        return "INT32";
    case ValueFormat::UInt32:
        return "UINT32";
    case ValueFormat::Int64:
        return "INT64";
    case ValueFormat::UInt64:
        return "UINT64";
    case ValueFormat::Float:
        return "FLOAT32-IEEE";
    case ValueFormat::Double:
        return "FLOAT64-IEEE";
    default:
        return nullptr;
    }
}

void AppendGroup(std::string& out, const Group& group) {
    const std::string name = group.Name().ToUtf8();
    const ConnectionPath path = ParseConnectionPath(group.Parameter());
    if (path.kind != ConnectionKind::Serial && path.kind != ConnectionKind::Tcp) {
        out += "# Group " + CommentText(name) + " (" + CommentText(group.Parameter().ToUtf8()) +
               "): not a Modbus connection, not exported\n\n";
        return;
    }
    out += "[[inputs.modbus]]\n  name = " + Toml(name) + "\n";
    out += "  slave_id = " + std::to_string(path.kind == ConnectionKind::Tcp ? 1 : path.slave) + "\n";
    out += "  timeout = \"1s\"\n";
    if (path.kind == ConnectionKind::Tcp) {
        out += "  controller = " + Toml("tcp://" + path.server.ToUtf8() + ":" + path.tcpPort.ToUtf8()) + "\n";
    } else {
        std::string device;
        if (!LookUpSerialDevice(path.port, &device))
            device = "/dev/" + path.port.ToUtf8();
        out += "  controller = " + Toml("file://" + device) + "\n";
        out += "  transmission_mode = \"RTU\"\n";
        out += "  baud_rate = " + std::to_string(path.baud) + "\n";
        out += "  data_bits = 8\n";
        const char parity = path.parity == u'E' || path.parity == u'e'   ? 'E'
                            : path.parity == u'O' || path.parity == u'o' ? 'O'
                                                                         : 'N';
        out += std::string("  parity = \"") + parity + "\"\n";
        out += "  stop_bits = 1\n";
    }
    // Sources by the table they read, in tree order; the others as comments.
    std::map<std::string, std::vector<std::string>> tables;
    std::map<std::string, int> seen;
    std::string skipped;
    SharedLock lock(group.Sources());
    for (const ListItem* item = group.Sources().First(); item != nullptr; item = item->Next()) {
        const auto* source = static_cast<const Source*>(item);
        const std::string sourceName = source->Name().ToUtf8();
        RegisterPath reg;
        const bool parsed = ParseRegisterPath(source->Parameter(), &reg) != 0;
        const char* type = parsed ? TelegrafType(reg.format) : nullptr;
        const char* table = !parsed             ? nullptr
                            : reg.function == 1 ? "coils"
                            : reg.function == 2 ? "discrete_inputs"
                            : reg.function == 3 ? "holding_registers"
                            : reg.function == 4 ? "input_registers"
                                                : nullptr;
        if (table == nullptr || (type == nullptr && reg.function >= 3)) {
            skipped += "  # " + CommentText(sourceName) + " (" + CommentText(source->Parameter().ToUtf8()) +
                       "): Telegraf reads no such value\n";
            continue;
        }
        const int n = ++seen[sourceName];
        const std::string field = n == 1 ? sourceName : sourceName + "~" + std::to_string(n);
        std::string entry = "    { name = " + Toml(field);
        if (reg.function >= 3) {
            const unsigned count = RegistersOfNumber(reg.format);
            entry += std::string(", byte_order = \"") + OrderName(reg.order, count) + "\", data_type = \"" +
                     type + "\", scale = 1.0";
            entry += ", address = [";
            for (unsigned i = 0; i < count; ++i)
                entry += (i ? ", " : "") + std::to_string(reg.address + i);
            entry += "] }";
        } else {
            entry += ", address = [" + std::to_string(reg.address) + "] }";
        }
        tables[table].push_back(entry);
    }
    for (const char* table : {"coils", "discrete_inputs", "holding_registers", "input_registers"}) {
        auto found = tables.find(table);
        if (found == tables.end())
            continue;
        out += std::string("  ") + table + " = [\n";
        for (const std::string& entry : found->second)
            out += entry + ",\n";
        out += "  ]\n";
    }
    out += skipped + "\n";
}

} // namespace

std::string TelegrafConfig(const LockedList& groups) {
    std::string out = "# Telegraf inputs.modbus configuration of a Mistvale tree.\n\n";
    SharedLock lock(groups);
    for (const ListItem* item = groups.First(); item != nullptr; item = item->Next())
        AppendGroup(out, *static_cast<const Group*>(item));
    return out;
}

} // namespace mistvale
