#pragma once

#include <string>

namespace mistvale {

class LockedList;

// A Telegraf configuration that reads the tree's Modbus groups and sources: one [[inputs.modbus]] per
// group (its name, slave, controller and line settings) with the sources as holding or input
// registers, coils or discrete inputs, their types and byte orders mapped to Telegraf's. Sources
// Telegraf cannot read the same way (text, BCD, functions 7 and 9) and clock groups are listed as
// comments. Field names that would repeat within a group get "~2", "~3".
std::string TelegrafConfig(const LockedList& groups);

} // namespace mistvale
