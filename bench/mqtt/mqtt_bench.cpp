// What publishing every value to a local Mosquitto broker costs. Prints "name value unit" lines:
//   mqtt_publish_1000   % of one core the process spends on publishing 1,000 sources at a 1 s refresh
//                       (its CPU with publishing, less the same run without)
//   mqtt_pass_ratio     a refresh of 1,000 TCP sources with publishing on, against off (the median of
//                       the ratios of neighbouring passes); "bench_mqtt pass" measures it alone
//   mqtt_group_pass_ratio  the bare group pass followed by the publishing of its values, against it alone
#include "app/mqtt_bridge.h"
#include "modbus/device_jobs.h"
#include "modbus/read_group_values.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "mqtt/mqtt_publisher.h"
#include "mqtt/mqtt_topics.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <thread>
#include <unordered_map>
#include <vector>

using namespace mistvale;

namespace {

using Clock = std::chrono::steady_clock;

void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Bench {
    Group group;
    std::vector<Source*> sources;
    MqttPublisher publisher;

    void Pass() {
        static const std::atomic<bool> kRun{false};
        ReadGroupValues(group, sources.data(), sources.size(), kRun);
    }
    // What the bridge does after a group's pass: the publisher's thread copies the values.
    void PublishAll() {
        publisher.PublishCollected([this](std::vector<MqttPublisher::Value>& out) {
            for (Source* source : sources) {
                MqttPublisher::Value value;
                value.source = source;
                source->CopyValueAndOutcome(&value.text, &value.failed, &value.reason, &value.atMs);
                out.push_back(std::move(value));
            }
        });
    }
};

} // namespace

struct Switched {
    MqttBridge* bridge = nullptr;
    std::atomic<bool> on{false};
    static void OnOutcome(void* context, Group& group, Source& source) {
        auto* self = static_cast<Switched*>(context);
        if (self->on.load(std::memory_order_relaxed))
            MqttBridge::OnOutcome(self->bridge, group, source);
    }
    static void OnPassOutcome(void* context, Group& group, Source* const* sources, std::size_t count) {
        auto* self = static_cast<Switched*>(context);
        if (self->on.load(std::memory_order_relaxed))
            MqttBridge::OnPassOutcome(self->bridge, group, sources, count);
    }
};

double RefreshAndWait(MonitorTree& tree) {
    const auto start = Clock::now();
    tree.QueueRefresh();
    // Polled finely: a pass takes about a millisecond and a half.
    while (tree.PendingJobs() > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A refresh of 1,000 TCP sources as the program runs it, publishing through the bridge, against the
// same refresh with publishing off; alternating, medians.
void TreePassFigures(const std::string& brokerUrl, const std::string& simPort) {
    TempDir folder;
    MonitorTree tree;
    DeviceJobsContext jobs;
    InstallDeviceJobs(tree, &jobs);
    MqttBridge bridge(tree);
    Switched switched;
    switched.bridge = &bridge;
    tree.SetOutcomeHandler(&Switched::OnOutcome, &switched);
    tree.SetPassOutcomeHandler(&Switched::OnPassOutcome, &switched);
    if (!tree.Start(folder.File("Mistvale.xml")))
        Fail("the tree did not start");
    auto* group = new Group();
    group->SetName(u"Meter");
    group->SetParameter(WideString::FromUtf8(("ModbusTcpIp/127.0.0.1/" + simPort).c_str()));
    tree.AddGroup(group);
    for (int i = 0; i < 1000; ++i) {
        auto* source = new Source();
        source->SetParameter(WideString::FromUtf8(std::to_string(i).c_str()));
        tree.AddSource(group, source);
    }
    MqttSettings settings;
    settings.url = brokerUrl;
    settings.clientId = "mistvale-bench-tree";
    std::string why;
    if (!bridge.Start(settings, nullptr, &why))
        Fail("the bridge did not start");
    const auto connectBy = Clock::now() + std::chrono::seconds(10);
    while (bridge.Publisher().CurrentState() != MqttPublisher::State::Connected && Clock::now() < connectBy)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<double> off, on, ratios;
    RefreshAndWait(tree);
    for (int round = 0; round < 201; ++round) {
        const bool first = round % 2 == 0;
        double pass[2] = {0, 0};
        for (bool publish : {first, !first}) {
            switched.on = publish;
            pass[publish ? 1 : 0] = RefreshAndWait(tree);
            std::this_thread::sleep_for(std::chrono::milliseconds(60)); // the sender's batch goes out
        }
        off.push_back(pass[0]);
        on.push_back(pass[1]);
        ratios.push_back(pass[1] / pass[0]);
    }
    switched.on = false;
    std::printf("mqtt_pass_off %.3f ms\n", Median(off) * 1000);
    std::printf("mqtt_pass_on %.3f ms\n", Median(on) * 1000);
    // Each pass against its neighbour of the other kind: the machine's own drift cancels out.
    std::printf("mqtt_pass_ratio %.2f x\n", Median(ratios));
    bridge.Stop();
    tree.Stop();
}

int main(int argc, char** argv) {
    // The end of a pass is polled every 20 µs; the default timer slack (50 µs) would make each poll
    // several times longer than asked, coarser than the difference measured.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    // "pass" measures the tree's pass figures alone.
    const bool passOnly = argc > 1 && std::string(argv[1]) == "pass";
    MosquittoBroker broker;
    if (!broker.Start())
        Fail("mosquitto did not start");
    std::string values;
    for (int i = 0; i < 1000; ++i)
        values += (i ? " " : "") + std::to_string(i);
    SimProcess sim;
    sim.SetMaxSeconds(300);
    if (!sim.StartTcp("<Simulator><Device slave=\"1\"><Holding address=\"0\" values=\"" + values +
                      "\"/></Device></Simulator>"))
        Fail("simulator did not start");
    Bench bench;
    bench.group.SetParameter(WideString::FromUtf8(("ModbusTcpIp/127.0.0.1/" + sim.PortText()).c_str()));
    std::vector<std::pair<std::string, std::string>> names;
    for (int i = 0; i < 1000; ++i) {
        auto* source = new Source();
        source->SetParameter(WideString::FromUtf8(std::to_string(i).c_str()));
        bench.sources.push_back(source);
        names.emplace_back("Meter", "Register " + std::to_string(i));
    }
    const std::vector<std::string> topics = SourceTopics("mistvale", names);
    std::unordered_map<const void*, std::string> bySource;
    for (size_t i = 0; i < topics.size(); ++i)
        bySource.emplace(bench.sources[i], topics[i]);
    MqttSettings settings;
    settings.url = broker.Url();
    settings.clientId = "mistvale-bench";
    std::string why;
    if (!bench.publisher.Start(settings, nullptr, nullptr, &why))
        Fail("the publisher did not start");
    bench.publisher.SetTopics(bySource);
    const auto connectBy = Clock::now() + std::chrono::seconds(10);
    while (bench.publisher.CurrentState() != MqttPublisher::State::Connected && Clock::now() < connectBy)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (bench.publisher.CurrentState() != MqttPublisher::State::Connected)
        Fail("the publisher did not connect");

    if (passOnly) {
        TreePassFigures(broker.Url(), sim.PortText());
        bench.publisher.Stop();
        for (Source* source : bench.sources)
            delete source;
        return 0;
    }
    // A pass with its publishing against the pass alone, alternating.
    std::vector<double> ratios, passes;
    for (int r = 0; r < 101; ++r) {
        // Alternating which goes first, so that neither always meets a cold line.
        auto timed = [&](bool publish) {
            const auto start = Clock::now();
            bench.Pass();
            if (publish)
                bench.PublishAll();
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            // Each pass starts from a quiet line: right after another one the simulator is still
            // busy with the last (a second pass took twice as long), and the sender's batch goes out.
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            return seconds;
        };
        double alone = 0, published = 0;
        if (r % 2) {
            alone = timed(false);
            published = timed(true);
        } else {
            published = timed(true);
            alone = timed(false);
        }
        ratios.push_back(published / alone);
        passes.push_back(alone);
    }

    // Ten seconds at a 1 s refresh with publishing, ten without.
    const auto run = [&](bool publish) {
        const double cpu = ProcessCpuSeconds();
        auto next = Clock::now();
        for (int i = 0; i < 10; ++i) {
            bench.Pass();
            if (publish)
                bench.PublishAll();
            next += std::chrono::seconds(1);
            std::this_thread::sleep_until(next);
        }
        return ProcessCpuSeconds() - cpu;
    };
    const double with = run(true);
    const double without = run(false);
    std::printf("mqtt_publish_1000 %.2f %%\n", 100 * std::max(0.0, with - without) / 10);
    // The same on the bare group pass, without the tree's own work around it: the strictest view.
    std::printf("mqtt_group_pass_ratio %.2f x\n", Median(ratios));
    std::printf("mqtt_group_pass_alone %.3f ms\n", Median(passes) * 1000);
    TreePassFigures(broker.Url(), sim.PortText());
    bench.publisher.Stop();
    for (Source* source : bench.sources)
        delete source;
    return 0;
}
