// Which commands the context menu offers for a record's kind of connection.
#include "app/context_menu_rules.h"
#include "app/record_lookup.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/source.h"

#include <gtest/gtest.h>
#include <memory>

namespace mistvale {

TEST(ContextMenuRules, ModbusKindsWithoutRegardToCase) {
    EXPECT_TRUE(IsModbusConnectionPath(u"modbusserial/9600/N/ttyUSB0/0x01"));
    EXPECT_TRUE(IsModbusConnectionPath(u"MODBUSTCPIP/plc/502"));
    EXPECT_FALSE(IsModbusConnectionPath(u"ModbusTcpIp")); // the kind alone, no "/"
    EXPECT_FALSE(IsModbusConnectionPath(u"Clock"));
    EXPECT_FALSE(IsModbusConnectionPath(u"ModbusSeria/1"));
    EXPECT_FALSE(IsModbusConnectionPath(u""));
    EXPECT_FALSE(IsModbusConnectionPath(nullptr));
    ContextMenuState none = ContextMenuStateFor(nullptr);
    EXPECT_TRUE(none.addGroup);
    EXPECT_FALSE(none.addSource || none.addAllRegisters || none.edit || none.remove);
}

} // namespace mistvale
