// What watching the wire costs. Prints one line per figure: "name value unit".
//   traffic_capture_ratio        a pass over 1,000 TCP sources (one request each) with the Traffic window
//                                open and a trace file written, against the same pass with nobody watching
//   traffic_window_1000fps_cpu   % of one core the user-interface thread spends on the Traffic window while
//                                1,000 frames a second arrive
#include "app/traffic_window.h"
#include "modbus/frame_capture.h"
#include "modbus/frame_trace_file.h"
#include "modbus/read_group_values.h"
#include "model/group.h"
#include "model/source.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace mistvale;

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

double Pass(Group& group, std::vector<Source*>& sources) {
    static const std::atomic<bool> kRun{false};
    const auto start = Clock::now();
    ReadGroupValues(group, sources.data(), sources.size(), kRun);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (Source* source : sources)
        if (source->HasFailed())
            return -1;
    return seconds;
}

void CaptureFigures() {
    // Registers 10 apart: too far for one block, so every source is a request and a reply of its own.
    std::string values;
    for (int i = 0; i < 10000; ++i)
        values += (i ? " " : "") + std::to_string(i % 1000);
    SimProcess sim;
    sim.SetMaxSeconds(300);
    if (!sim.StartTcp("<Simulator><Device slave=\"1\"><Holding address=\"0\" values=\"" + values +
                      "\"/></Device></Simulator>"))
        Fail("simulator did not start");
    Group group;
    group.SetParameter(WideString::FromUtf8(("ModbusTcpIp/127.0.0.1/" + sim.PortText()).c_str()));
    std::vector<Source*> sources;
    for (int i = 0; i < 1000; ++i) {
        auto* source = new Source();
        source->SetParameter(WideString::FromUtf8(std::to_string(i * 10).c_str()));
        sources.push_back(source);
    }
    TempDir dir;
    TrafficWindow window(nullptr);
    FrameTraceFile trace;
    std::vector<double> ratios;
    if (Pass(group, sources) < 0)
        Fail("a read failed");
    for (int r = 0; r < 21; ++r) {
        const double off = Pass(group, sources);
        window.show();
        std::string why;
        if (!trace.Start(dir.File("trace.txt"), &why))
            Fail("the trace file could not be written");
        const double on = Pass(group, sources);
        // The window takes its frames on the user-interface thread, beside the line's thread.
        QApplication::processEvents();
        window.TakeWaitingFrames();
        trace.Stop();
        window.hide();
        if (off < 0 || on < 0)
            Fail("a read failed");
        ratios.push_back(on / off);
    }
    std::printf("traffic_capture_ratio %.2f x\n", Median(ratios));
    for (Source* source : sources)
        delete source;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void WindowFigures() {
    TrafficWindow window(nullptr);
    window.resize(1000, 600);
    window.show();
    std::atomic<bool> stop{false};
    // A busy bus: 100 frames every 100 ms, requests and replies of several slaves.
    std::thread bus([&] {
        FrameRecord frame;
        frame.line = "ttyUSB0";
        frame.bytes = {0x05, 0x03, 0x02, 0x04, 0xD2, 0xCB, 0x19};
        frame.outcome = "ok";
        frame.rttMs = 13.7;
        auto next = Clock::now();
        while (!stop.load()) {
            for (int i = 0; i < 100; ++i) {
                frame.timeUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
                frame.bytes[0] = static_cast<uint8_t>(1 + i % 8);
                frame.direction = i % 2 ? FrameDirection::Received : FrameDirection::Sent;
                PublishFrame(frame);
            }
            next += std::chrono::milliseconds(100);
            std::this_thread::sleep_until(next);
        }
    });
    // Fill the list to its bound first (ten seconds), then measure the steady state, old rows dropping.
    const auto runFor = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    runFor(10500);
    const double cpuStart = ThreadCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    runFor(5000);
    const double cpu = ThreadCpuSeconds() - cpuStart;
    const double wall = static_cast<double>(clock.elapsed()) / 1000;
    stop = true;
    bus.join();
    std::printf("traffic_window_1000fps_cpu %.1f %%\n", 100 * cpu / wall);
    std::printf("traffic_window_rows %d rows\n", window.Frames().rowCount());
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    CaptureFigures();
    WindowFigures();
    return 0;
}
