// What the links capture, against what the simulator says it received and sent: every request byte
// for byte, every reply (failed ones and late ones thrown away included) and the outcomes.
#include "modbus/connection_path.h"
#include "modbus/frame_capture.h"
#include "modbus/frame_trace_file.h"
#include "modbus/modbus_link.h"
#include "tests/modbus/test_lines.h"
#include "tests/support/sim_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace mistvale {

namespace {

// The frames captured while it lives.
class Captured {
public:
    Captured() {
        id_ = AddFrameListener([this](const FrameRecord& frame) {
            std::lock_guard<std::mutex> guard(lock_);
            frames_.push_back(frame);
        });
    }
    ~Captured() { RemoveFrameListener(id_); }
    std::vector<FrameRecord> Frames() {
        std::lock_guard<std::mutex> guard(lock_);
        return frames_;
    }

private:
    int id_ = 0;
    std::mutex lock_;
    std::vector<FrameRecord> frames_;
};

std::vector<std::string> HexOf(const std::vector<FrameRecord>& frames, bool sent) {
    std::vector<std::string> out;
    for (const FrameRecord& frame : frames)
        if ((frame.direction == FrameDirection::Sent) == sent && !frame.bytes.empty())
            out.push_back(FrameHex(frame.bytes));
    return out;
}

std::vector<std::string> SimHex(const SimProcess& sim, const char* direction) {
    std::vector<std::string> out;
    for (const SimFrame& frame : sim.ReadFrames())
        if (frame.direction == direction)
            out.push_back(frame.hex);
    return out;
}

class Capture : public ::testing::TestWithParam<bool> {};

// A read, two writes, an exception, a CRC failure (serial), a time-out, a late reply thrown away
// (serial) and an identification request.
TEST_P(Capture, EveryFrameIsCapturedAsTheDeviceSawIt) {
    const bool rtu = GetParam();
    EitherLine line;
    ASSERT_TRUE(line.Start(rtu,
                           R"(<Simulator><Device slave="1"><Holding address="0" values="1234 5"/>)" +
                               kAcmeIdentification + "</Device></Simulator>",
                           1));
    ModbusLink link;
    unsigned slave = 0;
    ASSERT_EQ(OpenModbusLink(WideString::FromUtf8(line.connection.c_str()), link, &slave), 1);
    Captured captured;
    std::vector<std::string> outcomes;
    uint16_t values[2] = {};
    unsigned count = 2;
    ASSERT_EQ(link.ReadItems(slave, 0, 3, &count, values, 0), 1);
    outcomes.push_back("ok");
    ASSERT_EQ(link.WriteItem(slave, 1, 3, 77), 1);
    outcomes.push_back("ok");
    const uint16_t pair[2] = {0x1234, 0x5678};
    ASSERT_EQ(link.WriteRegisters(slave, 2, pair, 2), 1);
    outcomes.push_back("ok");
    ASSERT_TRUE(line.sim->Ok("exception 2 fn 4"));
    count = 1;
    EXPECT_EQ(link.ReadItems(slave, 0, 4, &count, values, 0), 0);
    outcomes.push_back("exception 2");
    if (rtu) {
        ASSERT_TRUE(line.sim->Ok("crc 1"));
        EXPECT_EQ(link.ReadItems(slave, 0, 3, &count, values, 0), 0);
        outcomes.push_back("CRC");
        ASSERT_TRUE(line.sim->Ok("crc 0"));
    }
    ASSERT_TRUE(line.sim->Ok("silent 1"));
    EXPECT_EQ(link.ReadItems(slave, 0, 3, &count, values, 0), 0);
    outcomes.push_back("time-out");
    ASSERT_TRUE(line.sim->Ok("silent 0"));
    if (rtu) {
        // Answered after the deadline: the reply waits on the line and is thrown away before the
        // next request.
        ASSERT_TRUE(line.sim->Ok("late 700"));
        EXPECT_EQ(link.ReadItems(slave, 0, 3, &count, values, 0), 0);
        outcomes.push_back("time-out");
        ASSERT_TRUE(line.sim->Ok("late 0"));
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    WideString texts[7];
    ASSERT_EQ(link.ReadIdentification(slave, 1, texts), 1);
    outcomes.push_back("ok");
    link.Disconnect();

    const std::vector<FrameRecord> frames = captured.Frames();
    EXPECT_EQ(HexOf(frames, true), SimHex(*line.sim, "rx"));
    EXPECT_EQ(HexOf(frames, false), SimHex(*line.sim, "tx"));
    std::vector<std::string> seen;
    size_t drops = 0;
    for (const FrameRecord& frame : frames) {
        EXPECT_EQ(frame.tcp, !rtu);
        EXPECT_EQ(frame.line, rtu ? "line" : "127.0.0.1:" + line.sim->PortText());
        if (frame.direction == FrameDirection::Received) {
            seen.push_back(frame.outcome);
            EXPECT_GE(frame.rttMs, 0);
        }
        drops += frame.direction == FrameDirection::Discarded ? 1 : 0;
    }
    EXPECT_EQ(seen, outcomes);
    EXPECT_EQ(drops, rtu ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Lines, Capture, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Rtu" : "Tcp"; });

} // namespace

} // namespace mistvale
