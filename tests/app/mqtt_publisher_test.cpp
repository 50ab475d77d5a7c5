// Publishing to a real Mosquitto broker started by the test: retained values and a broker that goes
// away and comes back.
#include "mqtt/mqtt_publisher.h"
#include "mqtt/mqtt_topics.h"
#include "tests/app/broker_watcher.h"
#include "tests/support/child_process.h"
#include "tests/support/mosquitto_broker.h"
#include "tests/support/shell_output.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace mistvale {

namespace {

using Clock = std::chrono::steady_clock;

// A publisher started on url (it connects in the background) whose log lines are kept.
struct LoggedPublisher {
    MqttPublisher publisher;
    std::mutex lock;
    std::string log; // one line each, guarded by lock

    bool Start(const std::string& url, const std::string& clientId, const std::string& caFile = "") {
        MqttSettings settings;
        settings.url = url;
        settings.clientId = clientId;
        settings.caFile = caFile;
        std::string why;
        const bool started = publisher.Start(
            settings,
            [this](const std::string& line) {
                std::lock_guard<std::mutex> guard(lock);
                log += line + "\n";
            },
            nullptr, &why);
        EXPECT_TRUE(started) << why;
        return started;
    }
    bool Connected(double seconds) {
        return WaitFor([&] { return publisher.CurrentState() == MqttPublisher::State::Connected; }, seconds);
    }
    std::string Log() {
        std::lock_guard<std::mutex> guard(lock);
        return log;
    }
};

// Values held while the broker is away are one per topic, and the newest of each reaches the broker
// when it is back; what a dashboard sees is retained.
TEST(MqttPublisher, ABrokerThatGoesAwayGetsTheNewestValuesWhenBack) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start());
    LoggedPublisher logged;
    MqttPublisher& publisher = logged.publisher;
    ASSERT_TRUE(logged.Start(broker.Url(), "mistvale-test-publisher"));
    const int a = 0, b = 0;
    publisher.SetTopics({{&a, "mistvale/G/a"}, {&b, "mistvale/G/b"}});
    ASSERT_TRUE(logged.Connected(10));
    publisher.Publish(&a, "", "first");
    {
        BrokerWatcher first(broker.Port()); // once it has the value, so has the broker
        ASSERT_TRUE(first.WaitForLast("mistvale/G/a", "first"));
        BrokerWatcher later(broker.Port()); // connects after the broker took the value: sees it retained
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
    BrokerWatcher after(broker.Port());
    ASSERT_TRUE(after.WaitForLast("mistvale/G/a", "a999"));
    ASSERT_TRUE(after.WaitForLast("mistvale/G/b", "b999"));
    EXPECT_EQ(publisher.Held(), 0u);
    // A source that goes from the tree has its retained value cleared.
    publisher.SetTopics({{&a, "mistvale/G/a"}});
    ASSERT_TRUE(after.WaitForLast("mistvale/G/b", ""));
    publisher.Stop();
    ASSERT_TRUE(after.WaitForLast("mistvale/status", "offline"));
    const std::string lines = logged.Log();
    EXPECT_NE(lines.find(" lost: "), std::string::npos) << lines;
    EXPECT_NE(lines.find(" back: "), std::string::npos) << lines;
}

// Values the sender collects itself go out in their turn among those handed over ready-made, from
// another thread than the line's; a collector that arrives after publishing stopped lets go of what
// it holds without being called.
TEST(MqttPublisher, CollectedValuesKeepTheirTurnAndAreLetGoAfterStop) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start());
    LoggedPublisher logged;
    MqttPublisher& publisher = logged.publisher;
    ASSERT_TRUE(logged.Start(broker.Url(), "mistvale-test-collected"));
    const int a = 0;
    publisher.SetTopics({{&a, "mistvale/G/a"}});
    ASSERT_TRUE(logged.Connected(10));
    BrokerWatcher watcher(broker.Port());
    const auto value = [&](const char* text) {
        MqttPublisher::Value made;
        made.source = &a;
        made.text = text;
        made.atMs = 1000;
        return made;
    };
    MqttPublisher::Value subscribed = value("0");
    ASSERT_TRUE(publisher.PublishValue(subscribed));
    ASSERT_TRUE(watcher.WaitForLast("mistvale/G/a", ValuePayload("0", false, "", 1000)));
    std::atomic<bool> onCaller{true};
    const std::thread::id caller = std::this_thread::get_id();
    MqttPublisher::Value first = value("1"), last = value("3");
    ASSERT_TRUE(publisher.PublishValue(first));
    publisher.PublishCollected([&](std::vector<MqttPublisher::Value>& out) {
        onCaller = std::this_thread::get_id() == caller;
        out.push_back(value("2"));
    });
    ASSERT_TRUE(publisher.PublishValue(last));
    ASSERT_TRUE(watcher.WaitForLast("mistvale/G/a", ValuePayload("3", false, "", 1000)));
    EXPECT_FALSE(onCaller.load());
    std::vector<std::string> seen = watcher.Seen("mistvale/G/a");
    ASSERT_GE(seen.size(), 3u);
    seen.erase(seen.begin(), seen.end() - 3);
    EXPECT_EQ(seen, (std::vector<std::string>{ValuePayload("1", false, "", 1000),
                                              ValuePayload("2", false, "", 1000),
                                              ValuePayload("3", false, "", 1000)}));
    publisher.Stop();
    auto held = std::make_shared<int>(0);
    bool called = false;
    publisher.PublishCollected([held, &called](std::vector<MqttPublisher::Value>&) { called = true; });
    EXPECT_EQ(held.use_count(), 1);
    EXPECT_FALSE(called);
}

// mqtts:// is checked against the CA file given: the broker's certificate signed by it connects and
// publishes, one signed by another CA is never connected to, and the log says why.
TEST(MqttPublisher, TlsTrustsOnlyTheCaGiven) {
    TempDir certs;
    ASSERT_TRUE(certs.Ok());
    std::string script = "cd ";
    script += certs.Path();
    script += R"( && exec 2>/dev/null && set -e
key="openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
$key -x509 -days 2 -subj /CN=Test-CA -keyout ca.key -out ca.crt
$key -x509 -days 2 -subj /CN=Other-CA -keyout other.key -out other.crt
$key -subj /CN=127.0.0.1 -keyout server.key -out server.csr
echo subjectAltName=IP:127.0.0.1 >san.cnf
openssl x509 -req -days 2 -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -extfile san.cnf -out server.crt
chmod 0755 . && chmod 0644 server.key  # the broker drops root and reads them as its own user
)";
    ASSERT_EQ(Shell(script), "");
    MosquittoBroker broker;
    ASSERT_TRUE(broker.StartWithTls(certs.File("server.crt"), certs.File("server.key")));
    BrokerWatcher watcher(broker.Port()); // on the broker's plain listener
    const int a = 0;
    for (const char* ca : {"ca.crt", "other.crt"}) {
        LoggedPublisher logged;
        ASSERT_TRUE(logged.Start(broker.TlsUrl(), std::string("mistvale-test-tls-") + ca, certs.File(ca)));
        logged.publisher.SetTopics({{&a, "mistvale/G/a"}});
        const bool trusted = std::string(ca) == "ca.crt";
        EXPECT_EQ(logged.Connected(trusted ? 10 : 3), trusted) << ca;
        if (trusted) {
            logged.publisher.Publish(&a, "", "over TLS");
            EXPECT_TRUE(watcher.WaitForLast("mistvale/G/a", "over TLS"));
        }
        logged.publisher.Stop();
        const std::string log = logged.Log();
        // The reason is said once, though the library tries again and again.
        const size_t said = log.find("not reached: OpenSSL Error[0]: ");
        const size_t failed = log.find("certificate verify failed");
        EXPECT_EQ(said != std::string::npos && failed > said && failed != std::string::npos, !trusted) << log;
        EXPECT_EQ(log.find("certificate verify failed", failed + 1), std::string::npos) << log;
    }
}

} // namespace

} // namespace mistvale
