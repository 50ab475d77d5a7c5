#pragma once

#include "app/mqtt_bridge.h"
#include "app/settings_store.h"
#include "app/termination_signals.h"
#include "modbus/device_jobs.h"
#include "model/monitor_tree.h"
#include "model/outcome_fan_out.h"
#include "model/value_recorder.h"

#include <QTimer>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace mistvale {

struct HeadlessOptions {
    std::string tree;       // the tree file
    std::string recordFile; // empty: no recording
    bool mqtt = false;
    MqttSettings mqttSettings;
};

// The tree, its refresh, the record and the MQTT publisher without any window: for a box on the bus
// that runs as a service. Runs until SIGTERM, SIGINT or SIGHUP, then saves the tree and the settings
// like the window does. Logs one line per change of state to standard error.
class HeadlessService {
public:
    HeadlessService();
    // Runs the service in the application's event loop; the exit code.
    int Run(const HeadlessOptions& options);

    // One log line, with the journal's priority prefix when standard error goes to the journal.
    static void Log(const std::string& line, bool problem = false);

private:
    static void OnSignal(void* context, int signal);
    static void OnGroupOutcome(void* context, Group& group, Source& source);
    static void OnNotify(void* context, int message);
    void CheckLines();

    struct LineState {
        bool okSeen = false;
        bool failSeen = false;
        bool lost = false;
        std::string reason;
    };

    MonitorTree tree_;
    SettingsStore settings_;
    DeviceJobsContext deviceJobs_;
    ValueRecorder recorder_;
    MqttBridge mqtt_;
    OutcomeFanOut outcomes_;
    TerminationSignals signals_;
    QTimer refreshTimer_;
    QTimer saveTimer_;
    std::atomic<bool> treeChanged_{false};
    std::uint64_t topicsAt_ = 0; // the tree's change count the topics were made at
    std::mutex linesLock_;
    std::map<const Group*, LineState> lines_; // guarded by linesLock_
};

} // namespace mistvale
