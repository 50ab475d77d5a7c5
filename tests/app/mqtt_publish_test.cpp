// Publishing to a real Mosquitto broker started by the test: topics and payloads of reads and writes,
// retained values, the last will, a broker that goes away and comes back, writes from MQTT with and
// without --mqtt-writes, and the program as a headless service with no display. The Telegraf export is
// read back with Python's TOML reader and compared with the tree.
#include "mqtt/mqtt_publisher.h"
#include "mqtt/mqtt_topics.h"
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

template <typename Condition> bool WaitFor(Condition condition, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A dashboard's view of the broker: the last payload of every topic under mistvale/, and whether it
// came retained.
class Watcher {
public:
    explicit Watcher(int port) {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(
            client_,
            [](mosquitto*, void* self, const mosquitto_message* m) {
                auto* watcher = static_cast<Watcher*>(self);
                std::lock_guard<std::mutex> guard(watcher->lock_);
                watcher->last_[m->topic] =
                    std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen));
                watcher->retained_[m->topic] = m->retain;
                ++watcher->count_;
            });
        mosquitto_connect_callback_set(client_, [](mosquitto* client, void*, int) {
            mosquitto_subscribe(client, nullptr, "mistvale/#", 1);
        });
        mosquitto_reconnect_delay_set(client_, 1, 1, false);
        mosquitto_connect(client_, "127.0.0.1", port, 30);
        mosquitto_loop_start(client_);
    }
    ~Watcher() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, true);
        mosquitto_destroy(client_);
    }
    std::string Last(const std::string& topic) {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = last_.find(topic);
        return found == last_.end() ? std::string("<none>") : found->second;
    }
    bool Retained(const std::string& topic) {
        std::lock_guard<std::mutex> guard(lock_);
        return retained_[topic];
    }
    bool WaitForLast(const std::string& topic, const std::string& prefix, double seconds = 10) {
        return WaitFor([&] { return Last(topic).rfind(prefix, 0) == 0; }, seconds);
    }
    void Send(const std::string& topic, const std::string& payload) {
        mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                          1, false);
    }

private:
    mosquitto* client_ = nullptr;
    std::mutex lock_;
    std::map<std::string, std::string> last_;
    std::map<std::string, bool> retained_;
    int count_ = 0;
};

// (names, topic): every level stays one level, and equal topics are told apart in tree order.
TEST(MqttTopics, AwkwardNamesStayOneLevelEach) {
    const std::vector<std::pair<std::string, std::string>> names = {{"Boiler", "Temp"},  {"a/b+c#", "50%"},
                                                                    {"Line\n1", "x\ty"}, {"Boiler", "Temp"},
                                                                    {"", "Temp"},        {"Boiler", "Temp"}};
    const std::vector<std::string> expected = {"p/Boiler/Temp",    "p/a%2Fb%2Bc%23/50%25",
                                               "p/Line%0A1/x%09y", "p/Boiler/Temp~2",
                                               "p/_/Temp",         "p/Boiler/Temp~3"};
    EXPECT_EQ(SourceTopics("p", names), expected);
    EXPECT_EQ(ValuePayload("1.500", false, "", 0).substr(0, 34), R"({"value":"1.500","status":"ok","ti)");
    const std::string failed = R"({"value":null,"status":"failed","reason":"No reply \"x\"","time":")";
    EXPECT_EQ(ValuePayload("", true, "No reply \"x\"", 0).substr(0, failed.size()), failed);
}

// Values held while the broker is away are one per topic, and the newest of each reaches the broker
// when it is back; what a dashboard sees is retained.
TEST(MqttPublisher, ABrokerThatGoesAwayGetsTheNewestValuesWhenBack) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start());
    MqttPublisher publisher;
    MqttSettings settings;
    settings.url = broker.Url();
    settings.clientId = "mistvale-test-publisher";
    std::mutex logLock;
    std::vector<std::string> log;
    std::string why;
    ASSERT_TRUE(publisher.Start(
        settings,
        [&](const std::string& line) {
            std::lock_guard<std::mutex> guard(logLock);
            log.push_back(line);
        },
        nullptr, &why))
        << why;
    const int a = 0, b = 0;
    publisher.SetTopics({{&a, "mistvale/G/a"}, {&b, "mistvale/G/b"}});
    ASSERT_TRUE(WaitFor([&] { return publisher.CurrentState() == MqttPublisher::State::Connected; }, 10));
    publisher.Publish(&a, "", "first");
    {
        Watcher later(broker.Port()); // connects after the value was sent: sees it retained
        ASSERT_TRUE(later.WaitForLast("mistvale/G/a", "first"));
        EXPECT_TRUE(later.Retained("mistvale/G/a"));
        EXPECT_EQ(later.Last("mistvale/status"), "online");
    }
    broker.Stop();
    ASSERT_TRUE(WaitFor([&] { return publisher.CurrentState() == MqttPublisher::State::Lost; }, 10));
    for (int i = 0; i < 1000; ++i) {
        publisher.Publish(&a, "", "a" + std::to_string(i));
        publisher.Publish(&b, "", "b" + std::to_string(i));
    }
    EXPECT_EQ(publisher.Held(), 2u);
    ASSERT_TRUE(broker.Start(broker.Port()));
    ASSERT_TRUE(WaitFor([&] { return publisher.CurrentState() == MqttPublisher::State::Connected; }, 40));
    Watcher after(broker.Port());
    ASSERT_TRUE(after.WaitForLast("mistvale/G/a", "a999"));
    ASSERT_TRUE(after.WaitForLast("mistvale/G/b", "b999"));
    EXPECT_EQ(publisher.Held(), 0u);
    // A source that goes from the tree has its retained value cleared.
    publisher.SetTopics({{&a, "mistvale/G/a"}});
    ASSERT_TRUE(after.WaitForLast("mistvale/G/b", ""));
    publisher.Stop();
    ASSERT_TRUE(after.WaitForLast("mistvale/status", "offline"));
    std::lock_guard<std::mutex> guard(logLock);
    std::string lines;
    for (const std::string& line : log)
        lines += line + "\n";
    EXPECT_NE(lines.find(" lost: "), std::string::npos) << lines;
    EXPECT_NE(lines.find(" back: "), std::string::npos) << lines;
}

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
    Watcher watcher(broker.Port());
    const std::string tree = TreeWith("ModbusTcpIp/127.0.0.1/" + sim.PortText());
    {
        Service refusing(tree);
        ASSERT_TRUE(refusing.Start({"--mqtt", broker.Url()}));
        ASSERT_TRUE(
            watcher.WaitForLast("mistvale/Boiler%2F1/Temp", R"({"value":"21","status":"ok","time":")"));
        Watcher later(broker.Port()); // a dashboard that connects later gets the last value
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

// The Telegraf configuration, read back with a real TOML reader, holds the tree's Modbus sources.
TEST(TelegrafExport, ReadsBackAsTheTree) {
    TempDir dir;
    const std::string tree =
        "<Mistvale><Groups><Group Name=\"Meter &quot;A&quot;\" "
        "Parameter=\"ModbusTcpIp/10.0.0.7/502\"><Sources>"
        "<Source Name=\"Energy\" Parameter=\"4#30/uint64:cdab\"/><Source Name=\"Power\" "
        "Parameter=\"100/float\"/>"
        "<Source Name=\"Power\" Parameter=\"102/float:abcd\"/><Source Name=\"Alarm\" Parameter=\"1#7\"/>"
        "<Source Name=\"Label\" Parameter=\"200/string8\"/></Sources></Group>"
        "<Group Name=\"Bus\" Parameter=\"ModbusSerial/9600/E/ttyUSB0/5\"><Sources><Source Name=\"T\" "
        "Parameter=\"10\"/></Sources></Group><Group Name=\"Clock\" Parameter=\"Clock\"><Sources/></Group>"
        "</Groups></Mistvale>";
    std::ofstream(dir.File("tree.xml")) << tree;
    ChildProcess exporter;
    ASSERT_TRUE(exporter.Start({"/bin/sh", "-c",
                                std::string(MISTVALE_BINARY) + " --tree " + dir.File("tree.xml") +
                                    " --export telegraf > " + dir.File("telegraf.conf") +
                                    " && python3 -c 'import json,sys,tomllib; "
                                    "print(json.dumps(tomllib.load(open(sys.argv[1],\"rb\"))))' " +
                                    dir.File("telegraf.conf")},
                               false, true));
    std::string json;
    ASSERT_TRUE(exporter.ReadLine(json, 20000));
    const QJsonArray inputs = QJsonDocument::fromJson(QByteArray::fromStdString(json))
                                  .object()["inputs"]
                                  .toObject()["modbus"]
                                  .toArray();
    ASSERT_EQ(inputs.size(), 2);
    const QJsonObject meter = inputs[0].toObject();
    EXPECT_EQ(meter["name"].toString(), QStringLiteral("Meter \"A\""));
    EXPECT_EQ(meter["controller"].toString(), QStringLiteral("tcp://10.0.0.7:502"));
    const QJsonObject energy = meter["input_registers"].toArray()[0].toObject();
    EXPECT_EQ(energy["data_type"].toString(), QStringLiteral("UINT64"));
    EXPECT_EQ(energy["byte_order"].toString(), QStringLiteral("GHEFCDAB"));
    EXPECT_EQ(energy["address"].toArray(), (QJsonArray{30, 31, 32, 33}));
    const QJsonArray holding = meter["holding_registers"].toArray();
    ASSERT_EQ(holding.size(), 2);
    EXPECT_EQ(holding[0].toObject()["byte_order"].toString(), QStringLiteral("CDAB"));
    EXPECT_EQ(holding[1].toObject()["name"].toString(), QStringLiteral("Power~2"));
    EXPECT_EQ(holding[1].toObject()["byte_order"].toString(), QStringLiteral("ABCD"));
    EXPECT_EQ(meter["coils"].toArray()[0].toObject()["address"].toArray(), QJsonArray{7});
    const QJsonObject bus = inputs[1].toObject();
    EXPECT_EQ(bus["slave_id"].toInt(), 5);
    EXPECT_EQ(bus["baud_rate"].toInt(), 9600);
    EXPECT_EQ(bus["parity"].toString(), QStringLiteral("E"));
    EXPECT_EQ(bus["holding_registers"].toArray()[0].toObject()["data_type"].toString(),
              QStringLiteral("INT16"));
}

#endif

} // namespace

} // namespace mistvale
