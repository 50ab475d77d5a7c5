// Reading, writing, identification and the register map against the simulator over Modbus TCP on
// 127.0.0.1.
#include "modbus/connection_path.h"
#include "modbus/modbus_link.h"
#include "modbus/read_source_value.h"
#include "modbus/register_map_job.h"
#include "modbus/write_source_value.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace mistvale {

namespace {

const char* kDeviceConfig = R"(<Simulator>
  <Device slave="1">
    <Holding address="100" values="0xFFFF 255 7"/>
    <Input address="30" values="0x0000 0x3F80 0x3F80 0x0000"/>
    <Holding address="40" float="-2.7"/>
    <Holding address="300" values="0x4241 0x0043 0x4400 0x0045"/>
    <Coil address="7" values="1 0 1"/>
    <DiscreteInput address="7" values="0 1"/>
    <ExceptionStatus value="0x5A"/>
    <Identification>
      <Object id="0">ACME</Object>
      <Object id="1">T100</Object>
      <Object id="2">1.2</Object>
      <Object id="3">http://acme.example</Object>
      <Object id="5">SN123</Object>
    </Identification>
  </Device>
</Simulator>)";

std::string Utf8(const WideString& s) {
    return s.ToUtf8();
}

class TcpDeviceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sim_ = new SimProcess();
        sim_->SetMaxSeconds(100);
        ASSERT_TRUE(sim_->StartTcp(kDeviceConfig));
    }
    static void TearDownTestSuite() {
        delete sim_;
        sim_ = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(sim_, nullptr);
        ASSERT_TRUE(sim_->Ok("clear"));
        group_.SetParameter(Path());
    }

    static WideString Path() {
        return WideString::FromUtf8(("ModbusTcpIp/127.0.0.1/" + sim_->PortText()).c_str());
    }

    // A source of the fixture's group with the given register path, read once.
    std::string Read(const char* registerPath) {
        Source source;
        source.SetParameter(WideString::FromUtf8(registerPath));
        ReadSourceValue(group_, source);
        return Utf8(source.Value());
    }

    std::string Write(const char* registerPath, const char16_t* typed, int* result) {
        Source source;
        source.SetParameter(WideString::FromUtf8(registerPath));
        *result = WriteSourceValue(group_, source, WideString(typed));
        return Utf8(source.Value());
    }

    static SimProcess* sim_;
    Group group_;
};

SimProcess* TcpDeviceTest::sim_ = nullptr;

TEST_F(TcpDeviceTest, FormatsOfTheValueText) {
    EXPECT_EQ(Read("100"), "-1");
    EXPECT_EQ(Read("101/hex"), "0x00FF");
    EXPECT_EQ(Read("101/HEX"), "0x00FF");
    EXPECT_EQ(Read("4#30/float"), "1.000");
    EXPECT_NE(Read("4#31/float"), "1.000"); // the same words the other way round
    EXPECT_EQ(Read("40/float"), "-2.700");
    EXPECT_EQ(Read("300/string"), "AB");
    EXPECT_EQ(Read("300/string2"), "ABC");
    // A register whose low byte is zero adds nothing; the next one is still read.
    EXPECT_EQ(Read("300/string4"), "ABCE");
    EXPECT_EQ(Read("300/string0"), "Can't get value.");
    EXPECT_EQ(Read("102/graph/0/1000"), "7");
    EXPECT_EQ(Read("1#7"), "1");
    EXPECT_EQ(Read("1#8"), "0");
    EXPECT_EQ(Read("2#8"), "1");
    EXPECT_EQ(Read("7#0"), "90");
}

TEST_F(TcpDeviceTest, BadRegisterTokenOpensNoConnection) {
    size_t before = sim_->ReadLog().size();
    EXPECT_EQ(Read("abc/hex"), "Can't get value.");
    EXPECT_EQ(Read(""), "Can't get value.");
    // A read never sends a function that changes the device, nor an impossible quantity.
    ModbusLink link;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(Path(), link, &slave), 1);
    EXPECT_EQ(slave, 1u);
    uint16_t items[130] = {};
    for (unsigned function : {5u, 6u, 15u, 16u, 0x17u, 0x2Bu}) {
        unsigned count = 1;
        EXPECT_EQ(link.ReadItems(slave, 0, function, &count, items, 0), 0) << function;
    }
    unsigned count = 126;
    EXPECT_EQ(link.ReadItems(slave, 100, 3, &count, items, 0), 0);
    link.Disconnect();
    EXPECT_EQ(sim_->ReadLog().size(), before);
}

TEST_F(TcpDeviceTest, BitsWidenInPlaceAndRawFunctions) {
    ModbusLink link;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(group_, link, &slave), 1);
    uint16_t items[8];
    std::fill(std::begin(items), std::end(items), 0xAAAA);
    unsigned count = 5;
    ASSERT_EQ(link.ReadItems(slave, 6, 1, &count, items, 0), 1);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(std::vector<uint16_t>(items, items + 5), (std::vector<uint16_t>{0, 1, 0, 1, 0}));
    count = 2;
    ASSERT_EQ(link.ReadItems(slave, 7, 2, &count, items, 0), 1);
    EXPECT_EQ(items[1], 1);
    count = 3;
    ASSERT_EQ(link.ReadItems(slave, 0, 7, &count, items, 0), 1);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(items[0], 0x5A);
    items[0] = 0xFFFF;
    count = 1;
    ASSERT_EQ(link.ReadItems(slave, 0, 9, &count, items, 0), 1);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(items[0], 0);
    // Raw exchanges leave nothing behind that would break the next transaction.
    count = 1;
    ASSERT_EQ(link.ReadItems(slave, 100, 3, &count, items, 0), 1);
    EXPECT_EQ(items[0], 0xFFFF);
    link.Disconnect();
    // Every request of a TCP group carries unit id 1.
    for (const SimLogEntry& entry : sim_->ReadLog())
        EXPECT_EQ(entry.slave, 1u);
}

TEST_F(TcpDeviceTest, ExceptionRepliesFailAndTheNextReadWorks) {
    ASSERT_TRUE(sim_->Ok("exception 2"));
    EXPECT_EQ(Read("100"), "Can't get value.");
    EXPECT_EQ(Read("7#0"), "Can't get value.");
    EXPECT_EQ(Read("9#0"), "Can't get value.");
    ASSERT_TRUE(sim_->Ok("clear"));
    EXPECT_EQ(Read("100"), "-1");
}

TEST_F(TcpDeviceTest, HistorySamples) {
    Source source;
    source.SetParameter(WideString(u"40/float"));
    ReadSourceValue(group_, source); // no history yet: nothing appended
    ASSERT_EQ(source.CreateHistory(), 1);
    ReadSourceValue(group_, source);
    source.SetParameter(WideString(u"100/graph"));
    ReadSourceValue(group_, source);
    source.SetParameter(WideString(u"300/string2")); // texts give no sample
    ReadSourceValue(group_, source);
    source.SetParameter(WideString(u"999#1")); // failed read: no sample
    ReadSourceValue(group_, source);
    EXPECT_EQ(Utf8(source.Value()), "Can't get value.");
    std::vector<int16_t> samples;
    ASSERT_EQ(source.CopySamples(samples), 2u);
    EXPECT_EQ(samples[0], -2);
    EXPECT_EQ(samples[1], -1);
}

TEST_F(TcpDeviceTest, SilentDeviceFailsWithinTheTimeOutAndRecovers) {
    ASSERT_TRUE(sim_->Ok("silent 1"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read("100"), "Can't get value.");
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(1200));
    EXPECT_GE(took, std::chrono::milliseconds(400));
    ASSERT_TRUE(sim_->Ok("silent 0"));
    EXPECT_EQ(Read("100"), "-1");
}

TEST_F(TcpDeviceTest, DroppedConnectionIsReconnectedOnce) {
    ModbusLink link;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(group_, link, &slave), 1);
    uint16_t item = 0;
    unsigned count = 1;
    ASSERT_EQ(link.ReadItems(slave, 101, 3, &count, &item, 0), 1);
    for (const char* fault : {"drop", "reset"}) {
        ASSERT_TRUE(sim_->Ok(fault));
        item = 0;
        count = 1;
        EXPECT_EQ(link.ReadItems(slave, 101, 3, &count, &item, 0), 1) << fault;
        EXPECT_EQ(item, 255) << fault;
    }
    // Two drops in a row: the one retry fails too, and so does the request.
    ASSERT_TRUE(sim_->Ok("drop 2"));
    count = 1;
    EXPECT_EQ(link.ReadItems(slave, 101, 3, &count, &item, 0), 0);
    link.Disconnect();
    std::vector<SimLogEntry> log = sim_->ReadLog();
    int drops = 0;
    for (const SimLogEntry& entry : log)
        drops += entry.outcome == "drop";
    EXPECT_EQ(drops, 4);
}

TEST_F(TcpDeviceTest, IdentificationBothCodes) {
    ModbusLink link;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(group_, link, &slave), 1);
    WideString texts[7];
    texts[6] = u"kept";
    ASSERT_EQ(link.ReadIdentification(slave, 1, texts), 1);
    EXPECT_EQ(Utf8(texts[0]), "ACME");
    EXPECT_EQ(Utf8(texts[1]), "T100");
    EXPECT_EQ(Utf8(texts[2]), "1.2");
    EXPECT_TRUE(texts[5].IsEmpty());
    ASSERT_EQ(link.ReadIdentification(slave, 2, texts), 1);
    EXPECT_EQ(Utf8(texts[3]), "http://acme.example");
    EXPECT_EQ(Utf8(texts[5]), "SN123");
    EXPECT_EQ(Utf8(texts[6]), "kept");
    // The next ordinary request still works: no leftover bytes on the connection.
    uint16_t item = 0;
    unsigned count = 1;
    EXPECT_EQ(link.ReadItems(slave, 101, 3, &count, &item, 0), 1);
    EXPECT_EQ(item, 255);
}

TEST_F(TcpDeviceTest, MalformedIdentificationRepliesFailCleanly) {
    ModbusLink link;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(group_, link, &slave), 1);
    // PDUs the device sends instead of a proper reply (MBAP header added by the simulator).
    const char* replies[] = {
        "2B 0E 01 81 00 00 01 00 40 41 42", // object length past the end
        "2B 0E 01 81 00 00 01 00",          // object id without its length
        "2B 0D 01 81 00 00 00",             // wrong MEI type
        "03 02 00 01",                      // wrong function
        "AB 01",                            // exception
    };
    for (const char* reply : replies) {
        ASSERT_TRUE(sim_->Ok(std::string("next ") + reply));
        WideString texts[7];
        texts[0] = u"before";
        EXPECT_EQ(link.ReadIdentification(slave, 1, texts), 0) << reply;
        EXPECT_EQ(Utf8(texts[0]), "before") << reply;
    }
    // Bytes that are not even a frame: an impossible MBAP header.
    ASSERT_TRUE(sim_->Ok("nextraw 00 00 00 07 00 02 01 2B"));
    WideString texts[7];
    EXPECT_EQ(link.ReadIdentification(slave, 1, texts), 0);
    uint16_t item = 0;
    unsigned count = 1;
    EXPECT_EQ(link.ReadItems(slave, 101, 3, &count, &item, 0), 1);
}

TEST_F(TcpDeviceTest, WritesReadBackFromTheDevice) {
    int ok = 0;
    EXPECT_EQ(Write("500", u"65536", &ok), "65536");
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(sim_->Command("get hr 500"), "0");
    Write("500", u"-1", &ok);
    EXPECT_EQ(sim_->Command("get hr 500"), "65535");
    EXPECT_EQ(Write("501/hex", u"0x1F", &ok), "0x1F"); // the typed text, as typed
    EXPECT_EQ(sim_->Command("get hr 501"), "31");
    Write("502/hex", u"1f", &ok);
    EXPECT_EQ(sim_->Command("get hr 502"), "31");
    EXPECT_EQ(Write("502/hex", u"xyz", &ok), "Can't set value.");
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(sim_->Command("get hr 502"), "31");

    size_t before = sim_->ReadLog().size();
    Write("200/float", u"1.5", &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(sim_->Command("get hr 200"), "0");
    EXPECT_EQ(sim_->Command("get hr 201"), std::to_string(0x3FC0));
    // Both registers in one Write Multiple Registers request.
    std::vector<SimLogEntry> log = sim_->WaitForLog(before + 1);
    ASSERT_GE(log.size(), before + 1);
    EXPECT_EQ(log[before].function, 16u);
    EXPECT_EQ(log[before].address, 200u);
    EXPECT_EQ(log[before].count, 2u);

    Write("210/string4", u"ABC", &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(sim_->Command("get hr 210"), std::to_string(66 << 8 | 65));
    EXPECT_EQ(sim_->Command("get hr 211"), "67");
    EXPECT_EQ(Write("210/string", u"", &ok), "Can't set value.");

    Write("1#12", u"5", &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(sim_->Command("get co 12"), "1");
    Write("1#12", u"0", &ok);
    EXPECT_EQ(sim_->Command("get co 12"), "0");
    // An input register is read-only: the holding register of the same address stays as it was.
    before = sim_->ReadLog().size();
    EXPECT_EQ(Write("4#12", u"5", &ok), "Can't set value.");
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(sim_->Command("get hr 12"), "0");
    EXPECT_EQ(sim_->ReadLog().size(), before);

    // A device that rejects the write.
    ASSERT_TRUE(sim_->Ok("exception 4"));
    EXPECT_EQ(Write("500", u"1", &ok), "Can't set value.");
    EXPECT_EQ(ok, 0);
}

TEST(WriteSourceValue, ClockAndUnknownGroupsCannotBeWritten) {
    Group clock; // "Clock"
    Source source;
    source.SetParameter(WideString(u"100"));
    EXPECT_EQ(WriteSourceValue(clock, source, WideString(u"5")), 0);
    EXPECT_EQ(source.Value().ToUtf8(), "Can't set value.");
    Group none;
    none.SetParameter(WideString(u"ModbusTcpIp//502"));
    source.SetValue(WideString(u""));
    EXPECT_EQ(WriteSourceValue(none, source, WideString(u"5")), 0);
    EXPECT_EQ(source.Value().ToUtf8(), "Can't set value.");
}

TEST(OpenModbusLink, PathsThatCannotOpen) {
    ModbusLink link;
    unsigned slave = 0;
    EXPECT_EQ(OpenModbusLink(WideString(u"ModbusTcpIp/127.0.0.1"), link, &slave), 0);
    EXPECT_EQ(OpenModbusLink(WideString(u"ModbusTcpIp//502"), link, &slave), 0);
    EXPECT_EQ(OpenModbusLink(WideString(u"Clock"), link, &slave), 0);
    EXPECT_EQ(OpenModbusLink(WideString(u"Other/1"), link, &slave), 0);
    std::string longPort(40, '5');
    EXPECT_EQ(
        OpenModbusLink(WideString::FromUtf8(("ModbusTcpIp/127.0.0.1/" + longPort).c_str()), link, &slave), 0);
    EXPECT_FALSE(link.IsOpen());
    link.Disconnect(); // harmless when closed
}

// The register-map examples, each loaded into the device's holding registers.
struct MapCase {
    const char* name;
    uint16_t signature;
    uint16_t dataStart;
    std::vector<uint16_t> table;
    std::vector<std::pair<std::string, std::string>> expected;
};

TEST_F(TcpDeviceTest, RegisterMapExamples) {
    const MapCase cases[] = {
        {"wrong signature", 0x7602, 2000, {0x0185}, {}},
        {"empty table", 0x7601, 2000, {}, {}},
        {"float run",
         0x7601,
         2000,
         {0x0186, 0x0186, 0x0185},
         {{"Channel 1 - Value", "2000/float"}, {"Channel 1 - Value", "2002"}}},
        {"text run", 0x7601, 3000, {0x038B, 0x038B, 0x038B, 0x038B}, {{"Channel 3 - Name", "3000/string4"}}},
        {"gap in text run", 0x7601, 3000, {0x038B, 0x0000, 0x038B}, {{"Channel 3 - Name", "3000/string3"}}},
        {"language", 0x7601, 3000, {0x0201}, {{"Language", "3000/string"}}},
        {"unknown item", 0x7601, 3000, {0x0542}, {{"Channel 5 - Unknown Item 0x42", "3000"}}},
        {"repeated word",
         0x7601,
         3000,
         {0x0181, 0x0181},
         {{"Channel 1 - Scale Min", "3000"}, {"Channel 1 - Scale Min", "3001"}}},
    };
    const unsigned tableStart = 0x1000;
    for (const MapCase& c : cases) {
        ASSERT_TRUE(sim_->Ok("set hr " + std::to_string(0xFF10) + " " + std::to_string(c.signature)));
        ASSERT_TRUE(sim_->Ok("set hr " + std::to_string(0xFF11) + " " + std::to_string(tableStart)));
        ASSERT_TRUE(sim_->Ok("set hr " + std::to_string(0xFF12) + " " + std::to_string(c.dataStart)));
        ASSERT_TRUE(sim_->Ok("set hr " + std::to_string(0xFF13) + " " + std::to_string(c.table.size())));
        for (size_t i = 0; i < c.table.size(); ++i)
            ASSERT_TRUE(
                sim_->Ok("set hr " + std::to_string(tableStart + i) + " " + std::to_string(c.table[i])));

        MonitorTree tree;
        Group* group = new Group();
        group->SetParameter(Path());
        ASSERT_EQ(tree.AddGroup(group), 1);
        int added = AddAllRegisters(tree, *group);
        std::vector<std::pair<std::string, std::string>> got;
        {
            SharedLock lock(group->Sources());
            for (ListItem* item = group->Sources().First(); item; item = item->Next()) {
                Source* source = static_cast<Source*>(item);
                EXPECT_EQ(source->GetGroup(), group);
                EXPECT_TRUE(source->Value().IsEmpty());
                got.emplace_back(source->Name().ToUtf8(), source->Parameter().ToUtf8());
            }
        }
        EXPECT_EQ(got, c.expected) << c.name;
        EXPECT_EQ(added, static_cast<int>(c.expected.size())) << c.name;
        // The new sources read holding registers.
        EXPECT_TRUE(got.empty() || Read(got[0].second.c_str()) != "Can't get value.") << c.name;
    }
}

} // namespace

} // namespace mistvale
