// Modbus RTU against the simulator on a socat pseudo-terminal pair, listed to the program through
// MISTVALE_SERIAL_PORTS under the name "peer".
#include "modbus/connection_path.h"
#include "modbus/device_search.h"
#include "modbus/found_device.h"
#include "modbus/modbus_link.h"
#include "modbus/read_source_value.h"
#include "modbus/register_map_job.h"
#include "model/group.h"
#include "model/locked_list.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_fixtures.h"
#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace mistvale {

namespace {

const std::string kBusConfig = R"(<Simulator>
  <Device slave="5">
    <Holding address="0" values="0xFFFF 255"/>
    <Holding address="20" float="1.0"/>
    <Holding address="30" text="Pump" registers="3"/>
    <Coil address="3" values="1"/>
    )" + kAcmeIdentification + R"(
  </Device>
  <Device slave="9" strict="true">
    <SelfDescription table="100" data="2000" length="4">0x0185 0x0285</SelfDescription>
  </Device>
</Simulator>)";

class RtuBusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        line_ = new PtyPair();
        sim_ = new SimProcess();
        sim_->SetMaxSeconds(100);
        ASSERT_TRUE(line_->Open());
        ASSERT_TRUE(sim_->StartRtu(line_->DevicePath(), 38400, 'N', kBusConfig));
        setenv("MISTVALE_SERIAL_PORTS", line_->PeerPath().c_str(), 1);
        // The device search opens every listed port: the machine's own ports must stay out of it.
        setenv("MISTVALE_SERIAL_PORTS_ONLY", "1", 1);
    }
    static void TearDownTestSuite() {
        unsetenv("MISTVALE_SERIAL_PORTS");
        unsetenv("MISTVALE_SERIAL_PORTS_ONLY");
        delete sim_;
        delete line_;
        sim_ = nullptr;
        line_ = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(sim_, nullptr);
        ASSERT_TRUE(sim_->Ok("clear"));
    }

    std::string Read(const char* connection, const char* registerPath) {
        Group group;
        group.SetParameter(WideString::FromUtf8(connection));
        Source source;
        source.SetParameter(WideString::FromUtf8(registerPath));
        ReadSourceValue(group, source);
        return source.Value().ToUtf8();
    }

    static PtyPair* line_;
    static SimProcess* sim_;
};

PtyPair* RtuBusTest::line_ = nullptr;
SimProcess* RtuBusTest::sim_ = nullptr;

const char* kSlave5 = "ModbusSerial/38400/N/peer/0x05";

TEST_F(RtuBusTest, ReadsFormatsOverTheSerialLine) {
    EXPECT_EQ(Read(kSlave5, "0"), "-1");
    EXPECT_EQ(Read(kSlave5, "1/hex"), "0x00FF");
    EXPECT_EQ(Read(kSlave5, "20/float"), "1.000");
    EXPECT_EQ(Read(kSlave5, "30/string3"), "Pump");
    EXPECT_EQ(Read(kSlave5, "1#3"), "1");
    EXPECT_EQ(Read("ModbusSerial/38400/N/***USE_LAST_DEVICE***/5", "1"), "255");
    // The port name is case-sensitive, and so is the parity letter.
    EXPECT_EQ(Read("ModbusSerial/38400/N/PEER/0x05", "0"), "Can't get value.");
    EXPECT_EQ(Read("ModbusSerial/38400/n/peer/0x05", "0"), "Can't get value.");
    // Slave 6 is not on the bus; 248 is out of range.
    EXPECT_EQ(Read("ModbusSerial/38400/N/peer/0x06", "0"), "Can't get value.");
    EXPECT_EQ(Read("ModbusSerial/38400/N/peer/0xF8", "0"), "Can't get value.");
    EXPECT_EQ(Read(kSlave5, "0"), "-1");
}

TEST_F(RtuBusTest, CorruptedRepliesFailAndTheLineRecovers) {
    ASSERT_TRUE(sim_->Ok("crc 1"));
    EXPECT_EQ(Read(kSlave5, "0"), "Can't get value.");
    ASSERT_TRUE(sim_->Ok("crc 0"));
    // Garbage, a reply from another slave and a short frame.
    for (const char* raw :
         {"nextraw 12 34 56 78 9A BC DE", "nextraw 07 03 02 00 01 44 44", "nextraw 05 03"}) {
        ASSERT_TRUE(sim_->Ok(std::string(raw) + " slave 5"));
        EXPECT_EQ(Read(kSlave5, "0"), "Can't get value.") << raw;
    }
    EXPECT_EQ(Read(kSlave5, "0"), "-1");
}

TEST_F(RtuBusTest, IdentificationBothCodesAndRawFunctions) {
    ModbusLink link;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(WideString::FromUtf8(kSlave5), link, &slave), 1);
    EXPECT_EQ(slave, 5u);
    WideString texts[7];
    ASSERT_EQ(link.ReadIdentification(slave, 1, texts), 1);
    EXPECT_EQ(texts[0].ToUtf8(), "ACME");
    EXPECT_EQ(texts[1].ToUtf8(), "T100");
    EXPECT_TRUE(texts[5].IsEmpty());
    ASSERT_EQ(link.ReadIdentification(slave, 2, texts), 1);
    EXPECT_EQ(texts[2].ToUtf8(), "1.2");
    EXPECT_EQ(texts[5].ToUtf8(), "SN123");
    // A reply whose object runs past its end (CRC added by the simulator) fails.
    ASSERT_TRUE(sim_->Ok("next 2B 0E 01 81 00 00 01 00 40 41 42 slave 5"));
    WideString other[7];
    EXPECT_EQ(link.ReadIdentification(slave, 1, other), 0);
    uint16_t item = 0;
    unsigned count = 1;
    ASSERT_EQ(link.ReadItems(slave, 0, 9, &count, &item, 0), 1);
    count = 1;
    ASSERT_EQ(link.ReadItems(slave, 0, 7, &count, &item, 0), 1);
    count = 1;
    ASSERT_EQ(link.ReadItems(slave, 1, 3, &count, &item, 0), 1);
    EXPECT_EQ(item, 255);
}

TEST_F(RtuBusTest, PortIsExclusiveAndKeepsDtr) {
    ModbusLink first;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(WideString::FromUtf8(kSlave5), first, &slave), 1);
    ModbusLink second;
    EXPECT_EQ(OpenModbusLink(WideString::FromUtf8(kSlave5), second, &slave), 0);
    first.Disconnect();
    EXPECT_EQ(OpenModbusLink(WideString::FromUtf8(kSlave5), second, &slave), 1);
    second.Disconnect();
    // Closing left HUPCL off, so no close drops DTR.
    int fd = open(line_->PeerPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tios;
    ASSERT_EQ(tcgetattr(fd, &tios), 0);
    EXPECT_EQ(tios.c_cflag & HUPCL, 0u);
    // Another program holding the port exclusively makes the open fail.
    ASSERT_EQ(ioctl(fd, TIOCEXCL), 0);
    EXPECT_EQ(OpenModbusLink(WideString::FromUtf8(kSlave5), second, &slave), 0);
    ioctl(fd, TIOCNXCL);
    close(fd);
    EXPECT_EQ(OpenModbusLink(WideString::FromUtf8(kSlave5), second, &slave), 1);
}

int CollectSlave(unsigned slave, void* userData) {
    static_cast<std::vector<unsigned>*>(userData)->push_back(slave);
    return 1;
}

int StopAtFirst(unsigned slave, void* userData) {
    static_cast<std::vector<unsigned>*>(userData)->push_back(slave);
    return 0;
}

TEST_F(RtuBusTest, SlaveScanFindsExactlySlaveFive) {
    ModbusLink link;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(WideString::FromUtf8(kSlave5), link, &slave), 1);
    ASSERT_TRUE(sim_->Ok("silent 1 slave 9"));
    std::vector<unsigned> found;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.ScanSlaves(CollectSlave, &found, 10), 1);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(found, std::vector<unsigned>{5});
    // Nine silent addresses at the 150 ms quick time-out plus the 10 ms pauses.
    EXPECT_LT(took, std::chrono::milliseconds(4000));
    EXPECT_GE(took, std::chrono::milliseconds(9 * 150));
    found.clear();
    EXPECT_EQ(link.ScanSlaves(StopAtFirst, &found, 247), 0);
    EXPECT_EQ(found, std::vector<unsigned>{5});
    // The quick time-out is undone afterwards: a late reply within 0.5 s still arrives.
    ASSERT_TRUE(sim_->Ok("late 300 slave 5"));
    uint16_t item = 0;
    unsigned count = 1;
    EXPECT_EQ(link.ReadItems(5, 1, 3, &count, &item, 0), 1);
}

int SearchSettings(void*, unsigned* baud, char16_t* parity) {
    *baud = 38400;
    *parity = u'N';
    return 1;
}

TEST_F(RtuBusTest, DeviceSearchListsTheDeviceWithItsIdentification) {
    LockedList results;
    SearchTarget target;
    target.results = &results;
    target.settings = SearchSettings;
    ModbusLink link;
    EXPECT_EQ(RunDeviceSearch(link, target, 6), 1);
    EXPECT_FALSE(link.IsOpen());
    ASSERT_EQ(results.Count(), 1u);
    FoundDevice* device = static_cast<FoundDevice*>(results.First());
    EXPECT_EQ(device->port.ToUtf8(), "peer");
    EXPECT_EQ(device->slave, 5u);
    EXPECT_EQ(device->identification[0].ToUtf8(), "ACME");
    EXPECT_EQ(device->identification[1].ToUtf8(), "T100");
    EXPECT_EQ(device->identification[2].ToUtf8(), "1.2");
    EXPECT_EQ(device->identification[5].ToUtf8(), "SN123");
}

TEST_F(RtuBusTest, RegisterMapKeepsSourcesWhenADescriptorReadFails) {
    MonitorTree tree;
    Group* group = new Group();
    group->SetParameter(WideString(u"ModbusSerial/38400/N/peer/9"));
    ASSERT_EQ(tree.AddGroup(group), 1);
    // The table claims four descriptors; the strict device refuses the third.
    EXPECT_EQ(AddAllRegisters(tree, *group), 2);
    EXPECT_EQ(group->Sources().Count(), 2u);
}

TEST_F(RtuBusTest, SilentDeviceFailsWithinTheTimeOutAndRecovers) {
    ASSERT_TRUE(sim_->Ok("silent 1 slave 5"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(kSlave5, "0"), "Can't get value.");
    // The time-out, then the quiet second that keeps a late reply off the next request.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    ASSERT_TRUE(sim_->Ok("silent 0 slave 5"));
    EXPECT_EQ(Read(kSlave5, "0"), "-1");
}

} // namespace

} // namespace mistvale
