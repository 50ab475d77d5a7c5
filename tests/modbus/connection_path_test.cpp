#include "modbus/connection_path.h"

#include <gtest/gtest.h>

namespace mistvale {

namespace {

TEST(ConnectionPath, SerialFieldsAndDefaults) {
    ConnectionPath p = ParseConnectionPath(WideString(u"modbusserial/9600/N/COM3/0x02"));
    EXPECT_EQ(p.kind, ConnectionKind::Serial);
    EXPECT_EQ(p.baud, 9600u);
    EXPECT_EQ(p.parity, u'N');
    EXPECT_EQ(p.port, WideString(u"COM3"));
    EXPECT_EQ(p.slave, 2u);
    p = ParseConnectionPath(WideString(u"ModbusSerial/abc/E/COM3/0x05"));
    EXPECT_EQ(p.baud, 38400u);
    EXPECT_EQ(p.slave, 5u);
    p = ParseConnectionPath(WideString(u"ModbusSerial/9600/E/COM3"));
    EXPECT_EQ(p.slave, 1u);
    p = ParseConnectionPath(WideString(u"ModbusSerial/9600/E/COM3/zz"));
    EXPECT_EQ(p.slave, 1u);
    p = ParseConnectionPath(WideString(u"ModbusSerial/9600//\"a/b\"/11"));
    EXPECT_EQ(p.parity, 0);
    EXPECT_EQ(p.port, WideString(u"a/b"));
    EXPECT_EQ(p.slave, 0x11u);
    p = ParseConnectionPath(WideString(u"ModbusSerial"));
    EXPECT_EQ(p.baud, 38400u);
    EXPECT_EQ(p.parity, 0);
}

TEST(ConnectionPath, TcpClockAndUnknownKinds) {
    ConnectionPath p = ParseConnectionPath(WideString(u"ModbusTcpIp/plc1/502"));
    EXPECT_EQ(p.kind, ConnectionKind::Tcp);
    EXPECT_EQ(p.server, WideString(u"plc1"));
    EXPECT_EQ(p.tcpPort, WideString(u"502"));
    EXPECT_EQ(ParseConnectionPath(WideString(u"CLOCK")).kind, ConnectionKind::Clock);
    EXPECT_EQ(ParseConnectionPath(WideString(u"Serial/1")).kind, ConnectionKind::None);
    EXPECT_EQ(ParseConnectionPath(WideString(u"")).kind, ConnectionKind::None);
}

} // namespace

} // namespace mistvale
