// The program as a headless service with no display, against a real Mosquitto broker: topics and
// payloads of reads and writes, the last will, writes from MQTT with and without --mqtt-writes, a line
// lost and back in its log.
#include "mqtt/mqtt_publisher.h"
#include "mqtt/mqtt_topics.h"
#include "tests/app/broker_watcher.h"
#include "tests/support/child_process.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <mosquitto.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace mistvale {

namespace {

using Clock = std::chrono::steady_clock;

#ifdef MISTVALE_BINARY

// The program as a service: a tree file, a private settings folder and no display.
class Service {
public:
    explicit Service(const std::string& treeXml) {
        std::ofstream(dir_.File("tree.xml")) << treeXml;
        mkdir(dir_.File("config").c_str(), 0700);
    }
    bool Start(const std::vector<std::string>& extra) {
        std::vector<std::string> argv = {"/usr/bin/env",
                                         "-u",
                                         "DISPLAY",
                                         "-u",
                                         "WAYLAND_DISPLAY",
                                         "-u",
                                         "QT_QPA_PLATFORM",
                                         "-u",
                                         "JOURNAL_STREAM",
                                         "XDG_CONFIG_HOME=" + dir_.File("config"),
                                         "XDG_DATA_HOME=" + dir_.File("config"),
                                         MISTVALE_BINARY,
                                         "--headless",
                                         "--tree",
                                         dir_.File("tree.xml")};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return child_.Start(argv, false, false, dir_.File("stderr.txt"));
    }
    std::string Log() const {
        std::ifstream in(dir_.File("stderr.txt"));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string File(const std::string& name) const { return dir_.File(name); }
    ChildProcess& Child() { return child_; }

private:
    TempDir dir_;
    ChildProcess child_;
};

std::string TreeWith(const std::string& connection) {
    return "<Mistvale><Groups><Group Name=\"Boiler/1\" Parameter=\"" + connection +
           "\"><Sources><Source Name=\"Temp\" Parameter=\"0\"/><Source Name=\"Setpoint\" "
           "Parameter=\"1/int32\"/></Sources></Group></Groups></Mistvale>";
}

// Started with no display: reads, records, publishes; writes from MQTT only with --mqtt-writes; ends
// on SIGTERM within two seconds with the tree saved; a killed service leaves its last will.
TEST(HeadlessService, PublishesRecordsWritesAndEndsOnSigterm) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start());
    SimProcess sim;
    ASSERT_TRUE(sim.StartTcp(
        R"(<Simulator><Device slave="1"><Holding address="0" values="21 0 7"/></Device></Simulator>)"));
    BrokerWatcher watcher(broker.Port());
    const std::string tree = TreeWith("ModbusTcpIp/127.0.0.1/" + sim.PortText());
    {
        Service refusing(tree);
        ASSERT_TRUE(refusing.Start({"--mqtt", broker.Url()}));
        ASSERT_TRUE(
            watcher.WaitForLast("mistvale/Boiler%2F1/Temp", R"({"value":"21","status":"ok","time":")"));
        BrokerWatcher later(broker.Port()); // a dashboard that connects later gets the last value
        ASSERT_TRUE(later.WaitForLast("mistvale/Boiler%2F1/Temp", R"({"value":"21")"));
        EXPECT_TRUE(later.Retained("mistvale/Boiler%2F1/Temp"));
        EXPECT_EQ(watcher.Last("mistvale/status"), "online");
        watcher.Send("mistvale/Boiler%2F1/Temp/set", "99");
        ASSERT_TRUE(WaitFor([&] { return refusing.Log().find("refused") != std::string::npos; }, 10));
        EXPECT_EQ(sim.Command("get hr 0"), "21");
        // Killed: the broker says it for the service.
        refusing.Child().Signal(SIGKILL);
        ASSERT_TRUE(watcher.WaitForLast("mistvale/status", "offline"));
    }
    Service service(tree);
    ASSERT_TRUE(
        service.Start({"--mqtt", broker.Url(), "--mqtt-writes", "--record", service.File("values.csv")}));
    ASSERT_TRUE(watcher.WaitForLast("mistvale/status", "online"));
    watcher.Send("mistvale/Boiler%2F1/Setpoint/set", "-70000");
    ASSERT_TRUE(WaitFor([&] { return sim.Command("get hr 1") == "65534"; }, 10)) << service.Log();
    EXPECT_EQ(sim.Command("get hr 2"), "61072"); // 0xEE90
    ASSERT_TRUE(watcher.WaitForLast("mistvale/Boiler%2F1/Setpoint", R"({"value":"-70000","status":"ok")"));
    const auto stopAt = Clock::now();
    service.Child().Signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(service.Child().WaitExit(5000, status));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - stopAt).count(), 2.0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << service.Log();
    EXPECT_TRUE(watcher.WaitForLast("mistvale/status", "offline"));
    const std::string log = service.Log();
    for (const char* line :
         {"started: ", "broker 127.0.0.1", "ending on SIGTERM", "stopped; the tree is saved"})
        EXPECT_NE(log.find(line), std::string::npos) << line << " in\n" << log;
    std::ifstream rows(service.File("values.csv"));
    std::stringstream csv;
    csv << rows.rdbuf();
    EXPECT_NE(csv.str().find(",Boiler/1,Temp,0,21,ok"), std::string::npos) << csv.str();
    std::ifstream saved(service.File("tree.xml"));
    std::stringstream savedTree;
    savedTree << saved.rdbuf();
    EXPECT_NE(savedTree.str().find("Setpoint"), std::string::npos);
}

// The line's loss and return are logged once each.
TEST(HeadlessService, LogsALineLostAndBack) {
    SimProcess sim;
    ASSERT_TRUE(sim.StartTcp(
        R"(<Simulator><Device slave="1"><Holding address="0" values="5"/></Device></Simulator>)"));
    Service service(TreeWith("ModbusTcpIp/127.0.0.1/" + sim.PortText()));
    ASSERT_TRUE(service.Start({}));
    ASSERT_TRUE(WaitFor([&] { return service.Log().find("started") != std::string::npos; }, 10));
    ASSERT_TRUE(sim.Ok("silent 1"));
    ASSERT_TRUE(WaitFor([&] { return service.Log().find("line lost") != std::string::npos; }, 15))
        << service.Log();
    ASSERT_TRUE(sim.Ok("silent 0"));
    ASSERT_TRUE(WaitFor([&] { return service.Log().find("line back") != std::string::npos; }, 15))
        << service.Log();
    service.Child().Stop(3000);
    const std::string log = service.Log();
    EXPECT_EQ(log.find("line lost"), log.rfind("line lost"));
}

#endif

} // namespace

} // namespace mistvale
