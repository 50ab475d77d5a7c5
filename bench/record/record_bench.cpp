// What the record of values costs: the CPU time of recording 1,000 sources at a 1 s refresh (the
// worker's formatting of the rows and the writer's writing of them), and a refresh pass over 1,000
// Modbus TCP sources with recording on against the same pass with it off, in the same run.
// Prints "name value unit" lines.
#include "modbus/device_jobs.h"
#include "model/group.h"
#include "model/monitor_tree.h"
#include "model/source.h"
#include "model/value_recorder.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace mistvale;

namespace {

using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double RefreshAndWait(MonitorTree& tree) {
    auto start = Clock::now();
    tree.QueueRefresh();
    while (tree.PendingJobs() > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return std::chrono::duration<double>(Clock::now() - start).count();
}

const char* kConfig = R"(<Simulator><Device slave="1"><Holding address="0" values="0 1 2 3 4 5 6 7 8 9"/>
  </Device></Simulator>)";

} // namespace

int main() {
    TempDir folder;
    // CPU: 1,000 rows a pass, as many passes as make a steady figure; the writer writes what a second
    // brought in one go, as it does at a 1 s refresh.
    {
        Group group;
        group.SetName(u"Boiler house, line 2");
        std::vector<Source*> sources;
        for (int i = 0; i < 1000; ++i) {
            Source* source = new Source();
            source->SetNameAndParameter(WideString::FromUtf8(("Temperature " + std::to_string(i)).c_str()),
                                        WideString::FromUtf8((std::to_string(i) + "/float").c_str()));
            source->SetValue(u"21.375");
            source->SetGroup(&group);
            group.Sources().Append(source);
            sources.push_back(source);
        }
        ValueRecorder recorder;
        if (!recorder.Start(folder.Path() + "/cpu.csv"))
            return 1;
        const int passes = 50;
        const double before = ProcessCpuSeconds();
        for (int pass = 0; pass < passes; ++pass)
            for (Source* source : sources)
                ValueRecorder::OnOutcome(&recorder, group, *source);
        recorder.Stop();
        const double perPass = (ProcessCpuSeconds() - before) / passes;
        std::printf("record_cpu_1000 %.3f %%\n", perPass * 100.0);
    }
    // A pass with recording on against one with it off, alternating, medians.
    {
        SimProcess sim;
        sim.SetMaxSeconds(300);
        if (!sim.StartTcp(kConfig))
            return 1;
        MonitorTree tree;
        DeviceJobsContext jobs;
        InstallDeviceJobs(tree, &jobs);
        ValueRecorder recorder;
        tree.SetOutcomeHandler(&ValueRecorder::OnOutcome, &recorder);
        if (!tree.Start(folder.Path() + "/Mistvale.xml"))
            return 1;
        Group* group = new Group();
        group->SetParameter(WideString::FromUtf8(("ModbusTcpIp/127.0.0.1/" + sim.PortText()).c_str()));
        tree.AddGroup(group);
        for (int i = 0; i < 1000; ++i) {
            Source* source = new Source();
            source->SetParameter(WideString::FromUtf8(std::to_string(i % 10).c_str()));
            tree.AddSource(group, source);
        }
        std::vector<double> off, on;
        RefreshAndWait(tree);
        for (int round = 0; round < 9; ++round) {
            off.push_back(RefreshAndWait(tree));
            if (!recorder.Start(folder.Path() + "/pass.csv"))
                return 1;
            on.push_back(RefreshAndWait(tree));
            recorder.Stop();
        }
        std::printf("record_pass_off %.1f ms\n", Median(off) * 1000);
        std::printf("record_pass_on %.1f ms\n", Median(on) * 1000);
        std::printf("record_pass_ratio %.3f x\n", Median(on) / Median(off));
        tree.Stop();
    }
    return 0;
}
