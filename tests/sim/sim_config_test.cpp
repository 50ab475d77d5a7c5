// The simulator's configuration reader: numbers, data elements, self-description and refused files.

#include "sim/request_handler.h"
#include "sim/sim_config.h"

#include <gtest/gtest.h>

namespace mistvale {

using namespace mvsim;

TEST(SimConfig, Numbers) {
    long long value = 0;
    EXPECT_TRUE(ParseSimNumber("010", value));
    EXPECT_EQ(value, 10); // decimal, never octal
    EXPECT_TRUE(ParseSimNumber("0x1f", value));
    EXPECT_EQ(value, 31);
    EXPECT_TRUE(ParseSimNumber("-5", value));
    EXPECT_EQ(value, -5);
    for (const char* bad : {"", "abc", "12abc", "0x", "--1", "1 2"})
        EXPECT_FALSE(ParseSimNumber(bad, value)) << bad;
}

TEST(SimConfig, ReadsDataElementsAndSelfDescription) {
    std::vector<std::unique_ptr<SimDevice>> devices;
    std::string error;
    ASSERT_TRUE(ParseSimConfig(R"(<Simulator>
      <Device slave="9" strict="1">
        <Holding address="100" text="AB" registers="3"/>
        <Holding address="200" text="AB" order="high-first"/>
        <Input address="5" float="-2.5" order="high-first"/>
        <SelfDescription table="0x100" data="0x200" signature="0x7602" length="7">0x038B 0 0x038B</SelfDescription>
      </Device></Simulator>)",
                               devices, error))
        << error;
    ASSERT_EQ(devices.size(), 1u);
    SimDevice& device = *devices[0];
    EXPECT_EQ(device.Slave(), 9);
    EXPECT_TRUE(device.Strict());
    EXPECT_EQ(device.Value(SimTable::Holding, 100, 0), ('B' << 8) | 'A');
    EXPECT_EQ(device.Value(SimTable::Holding, 101, 0), 0);
    EXPECT_TRUE(device.IsDefined(SimTable::Holding, 102));
    EXPECT_FALSE(device.IsDefined(SimTable::Holding, 103));
    EXPECT_EQ(device.Value(SimTable::Holding, 200, 0), ('A' << 8) | 'B');
    EXPECT_EQ(device.Value(SimTable::Input, 5, 0), 0xC020); // -2.5f is 0xC0200000
    EXPECT_EQ(device.Value(SimTable::Input, 6, 0), 0x0000);
    EXPECT_EQ(device.Value(SimTable::Holding, 0xFF10, 0), 0x7602);
    EXPECT_EQ(device.Value(SimTable::Holding, 0xFF11, 0), 0x100);
    EXPECT_EQ(device.Value(SimTable::Holding, 0xFF12, 0), 0x200);
    EXPECT_EQ(device.Value(SimTable::Holding, 0xFF13, 0), 7);
    EXPECT_EQ(device.Value(SimTable::Holding, 0x101, 0), 0);
    EXPECT_EQ(device.Value(SimTable::Holding, 0x102, 0), 0x038B);
}

TEST(SimConfig, WavesFollowTheClock) {
    std::vector<std::unique_ptr<SimDevice>> devices;
    std::string error;
    ASSERT_TRUE(ParseSimConfig(R"(<Simulator><Device>
        <Holding address="0" wave="counter" start="65534" step="1" period="100"/>
        <Holding address="1" wave="ramp" min="0" max="1000" period="1000"/>
        <Holding address="2" wave="sine" offset="0" amplitude="100" period="400"/>
      </Device></Simulator>)",
                               devices, error))
        << error;
    SimDevice& device = *devices[0];
    EXPECT_EQ(device.Slave(), 1);
    EXPECT_EQ(device.Value(SimTable::Holding, 0, 0), 65534);
    EXPECT_EQ(device.Value(SimTable::Holding, 0, 250), 0); // 65536 wraps to 0
    EXPECT_EQ(device.Value(SimTable::Holding, 1, 250), 250);
    EXPECT_EQ(device.Value(SimTable::Holding, 1, 1250), 250);
    EXPECT_EQ(device.Value(SimTable::Holding, 2, 100), 100);
    EXPECT_EQ(device.Value(SimTable::Holding, 2, 300), static_cast<uint16_t>(-100));
}

TEST(SimConfig, RejectsMistakesWithAReason) {
    const char* bad[] = {
        "<Simulator/>",
        "<Simulator><Device slave=\"248\"/></Simulator>",
        "<Simulator><Device><Holding address=\"1\"/></Device></Simulator>",
        "<Simulator><Device><Holding address=\"65535\" values=\"1 2\"/></Device></Simulator>",
        "<Simulator><Device><Holding address=\"1\" value=\"70000\"/></Device></Simulator>",
        "<Simulator><Device><Holding address=\"1\" wave=\"square\"/></Device></Simulator>",
        "<Simulator><Device><Coil address=\"1\" text=\"x\"/></Device></Simulator>",
        "<Simulator><Device><Holdings address=\"1\" value=\"1\"/></Device></Simulator>",
        // One text split over two lines.
        "<Simulator><Device><Identification><Object " // NOLINT(bugprone-suspicious-missing-comma)
        "id=\"7\">x</Object></Identification></Device></Simulator>",
    };
    for (const char* text : bad) {
        std::vector<std::unique_ptr<SimDevice>> devices;
        std::string error;
        EXPECT_FALSE(ParseSimConfig(text, devices, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_TRUE(devices.empty()) << text;
    }
    std::vector<std::unique_ptr<SimDevice>> devices;
    std::string error;
    EXPECT_TRUE(ParseSimConfig(DefaultSimConfig(), devices, error)) << error;
}

} // namespace mistvale
