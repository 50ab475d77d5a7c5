// The Telegraf export of the program, read back with Python's TOML reader and compared with the tree.
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace mistvale {

namespace {

#ifdef MISTVALE_BINARY

// The Telegraf configuration, read back with a real TOML reader, holds the tree's Modbus sources.
TEST(TelegrafExport, ReadsBackAsTheTree) {
    TempDir dir;
    const std::string tree =
        "<Mistvale><Groups><Group Name=\"Meter &quot;A&quot;\" "
        "Parameter=\"ModbusTcpIp/10.0.0.7/502\"><Sources>"
        "<Source Name=\"Energy\" Parameter=\"4#30/uint64:cdab\"/><Source Name=\"Power\" "
        "Parameter=\"100/float\"/>"
        "<Source Name=\"Power\" Parameter=\"102/float:abcd\"/><Source Name=\"Alarm\" Parameter=\"1#7\"/>"
        "<Source Name=\"Label\" Parameter=\"200/string8\"/></Sources></Group>"
        "<Group Name=\"Bus\" Parameter=\"ModbusSerial/9600/E/ttyUSB0/5\"><Sources><Source Name=\"T\" "
        "Parameter=\"10\"/></Sources></Group><Group Name=\"Clock\" Parameter=\"Clock\"><Sources/></Group>"
        "</Groups></Mistvale>";
    std::ofstream(dir.File("tree.xml")) << tree;
    ChildProcess exporter;
    ASSERT_TRUE(exporter.Start({"/bin/sh", "-c",
                                std::string(MISTVALE_BINARY) + " --tree " + dir.File("tree.xml") +
                                    " --export telegraf > " + dir.File("telegraf.conf") +
                                    " && python3 -c 'import json,sys,tomllib; "
                                    "print(json.dumps(tomllib.load(open(sys.argv[1],\"rb\"))))' " +
                                    dir.File("telegraf.conf")},
                               false, true));
    std::string json;
    ASSERT_TRUE(exporter.ReadLine(json, 20000));
    const QJsonArray inputs = QJsonDocument::fromJson(QByteArray::fromStdString(json))
                                  .object()["inputs"]
                                  .toObject()["modbus"]
                                  .toArray();
    ASSERT_EQ(inputs.size(), 2);
    const QJsonObject meter = inputs[0].toObject();
    EXPECT_EQ(meter["name"].toString(), QStringLiteral("Meter \"A\""));
    EXPECT_EQ(meter["controller"].toString(), QStringLiteral("tcp://10.0.0.7:502"));
    const QJsonObject energy = meter["input_registers"].toArray()[0].toObject();
    EXPECT_EQ(energy["data_type"].toString(), QStringLiteral("UINT64"));
    EXPECT_EQ(energy["byte_order"].toString(), QStringLiteral("GHEFCDAB"));
    EXPECT_EQ(energy["address"].toArray(), (QJsonArray{30, 31, 32, 33}));
    const QJsonArray holding = meter["holding_registers"].toArray();
    ASSERT_EQ(holding.size(), 2);
    EXPECT_EQ(holding[0].toObject()["byte_order"].toString(), QStringLiteral("CDAB"));
    EXPECT_EQ(holding[1].toObject()["name"].toString(), QStringLiteral("Power~2"));
    EXPECT_EQ(holding[1].toObject()["byte_order"].toString(), QStringLiteral("ABCD"));
    EXPECT_EQ(meter["coils"].toArray()[0].toObject()["address"].toArray(), QJsonArray{7});
    const QJsonObject bus = inputs[1].toObject();
    EXPECT_EQ(bus["slave_id"].toInt(), 5);
    EXPECT_EQ(bus["baud_rate"].toInt(), 9600);
    EXPECT_EQ(bus["parity"].toString(), QStringLiteral("E"));
    EXPECT_EQ(bus["holding_registers"].toArray()[0].toObject()["data_type"].toString(),
              QStringLiteral("INT16"));
}

#endif

} // namespace

} // namespace mistvale
