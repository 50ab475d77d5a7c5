// The trace file: the same frames the links capture, one line each, within its size.
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

// The trace file holds one line a frame, as the capture saw it, and turns over past its size.
TEST(FrameTrace, LinesAndTurnOver) {
    TempDir dir;
    const std::string path = dir.File("trace.txt");
    FrameTraceFile trace(400);
    std::string why;
    ASSERT_TRUE(trace.Start(path, &why)) << why;
    FrameRecord request;
    request.timeUs = 1765288402418211;
    request.line = "ttyUSB0";
    request.bytes = {0x05, 0x03, 0x00, 0x64, 0x00, 0x01, 0xC4, 0x51};
    FrameRecord reply = request;
    reply.direction = FrameDirection::Received;
    reply.bytes = {0x05, 0x03, 0x02, 0x04, 0xD2, 0xCB, 0x19};
    reply.rttMs = 13.72;
    reply.outcome = "ok";
    PublishFrame(request);
    PublishFrame(reply);
    trace.Stop();
    std::ifstream in(path);
    std::string first, second;
    ASSERT_TRUE(std::getline(in, first) && std::getline(in, second));
    const std::string stamp = FrameTimeText(request.timeUs);
    EXPECT_EQ(stamp.substr(10, 16).substr(0, 1), "T");
    EXPECT_EQ(stamp.substr(19, 7), ".418211");
    EXPECT_EQ(first, stamp + " ttyUSB0 tx 05 03 00 64 00 01 C4 51");
    EXPECT_EQ(second, stamp + " ttyUSB0 rx 05 03 02 04 D2 CB 19 rtt=13.7ms ok");

    ASSERT_TRUE(trace.Start(path, &why)) << why;
    for (int i = 0; i < 20; ++i)
        PublishFrame(request);
    trace.Stop();
    struct stat current {};
    struct stat older {};
    ASSERT_EQ(stat(path.c_str(), &current), 0);
    ASSERT_EQ(stat((path + ".1").c_str(), &older), 0);
    EXPECT_LE(current.st_size, 400);
    EXPECT_LE(older.st_size, 400);
}

} // namespace

} // namespace mistvale
