// Looking up one serial port by name must give exactly what a walk of the full list gives, while the
// names a serial open usually asks for (MISTVALE_SERIAL_PORTS paths, names of nothing) are answered
// without building the list. Nothing here opens a port: names and paths are only compared.

#include "modbus/connection_path.h"
#include "modbus/serial_port_list.h"
#include "modbus/serial_port_lookup.h"
#include "tests/support/pty_pair.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace mistvale {

namespace {

using Entry = std::pair<std::string, std::string>;

// Sets an environment variable for the life of the object and puts back what was there before.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        old_ = hadOld_ ? old : "";
        Set(value);
    }
    ~ScopedEnv() { Set(hadOld_ ? old_.c_str() : nullptr); }
    void Set(const char* value) {
        if (value != nullptr)
            setenv(name_.c_str(), value, 1);
        else
            unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

int Collect(const WideString& name, const WideString& path, void* context) {
    static_cast<std::vector<Entry>*>(context)->emplace_back(name.ToUtf8(), path.ToUtf8());
    return 1;
}

std::vector<Entry> FullList() {
    SerialPortList list;
    std::vector<Entry> entries;
    list.ForEachPort(Collect, &entries);
    return entries;
}

// What a walk in list order finds for a name: the first entry of that name, or "" for none.
std::string FirstOf(const std::vector<Entry>& entries, const std::string& name) {
    for (const Entry& entry : entries)
        if (entry.first == name)
            return entry.second;
    return "";
}

// The quick answer, and whether the full list had to be built for it.
struct Answer {
    std::string path; // "" when not found
    bool listed;
};

Answer Find(const std::string& name) {
    SerialPortList list;
    WideString path;
    int found = list.FindDevicePath(WideString::FromUtf8(name.c_str()), &path);
    return Answer{found ? path.ToUtf8() : "", list.Count() > 0};
}

std::string Join(const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths)
        text += (text.empty() ? "" : ":") + path;
    return text;
}

// The system's own ports on this machine (none in many containers).
std::vector<Entry> SystemPorts() {
    ScopedEnv listed("MISTVALE_SERIAL_PORTS", nullptr);
    ScopedEnv only("MISTVALE_SERIAL_PORTS_ONLY", nullptr);
    return FullList();
}

} // namespace

TEST(SerialPortFind, ListedPortsAreFoundLikeTheFullListWithoutBuildingIt) {
    PtyPair line;
    ASSERT_TRUE(line.Open());
    std::string dir = line.PeerPath().substr(0, line.PeerPath().rfind('/'));
    // Two ports named "peer": the first listed one wins. A repeated path, names with "-", spaces and
    // parentheses (shaped like udev names), a pseudo-terminal's own /dev path and a virtual terminal's
    // node, which is no listed system port and so stays in the list.
    std::vector<std::string> paths = {line.PeerPath(),
                                      dir + "/other/peer",
                                      line.PeerPath(),
                                      "/nonexistent/mist-vale",
                                      "/nonexistent/USB Serial (ttyUSB7)",
                                      "/nonexistent/Foo (bar) (ttyS-1)",
                                      "/dev/pts/4096",
                                      "/dev/tty63"};
    ScopedEnv listed("MISTVALE_SERIAL_PORTS", Join(paths).c_str());

    for (const char* only : {"1", "0"}) {
        ScopedEnv onlyEnv("MISTVALE_SERIAL_PORTS_ONLY", only);
        SCOPED_TRACE(std::string("MISTVALE_SERIAL_PORTS_ONLY=") + only);
        std::vector<Entry> full = FullList();
        EXPECT_EQ(FirstOf(full, "peer"), line.PeerPath());
        for (const char* name :
             {"peer", "mist-vale", "USB Serial (ttyUSB7)", "Foo (bar) (ttyS-1)", "4096", "tty63"}) {
            ASSERT_NE(FirstOf(full, name), "") << name;
            Answer answer = Find(name);
            EXPECT_EQ(answer.path, FirstOf(full, name)) << name;
            EXPECT_FALSE(answer.listed) << name << " needed the full list";
        }
        for (const Entry& entry : full)
            EXPECT_EQ(Find(entry.first).path, FirstOf(full, entry.first)) << entry.first;
    }

    // Through the lookup every serial open uses.
    std::string device;
    ASSERT_EQ(LookUpSerialDevice(u"peer", &device), 1);
    EXPECT_EQ(device, line.PeerPath());
}

TEST(SerialPortFind, NamesOfNothingAreNotFoundAndCostNoListing) {
    ScopedEnv listed("MISTVALE_SERIAL_PORTS", "/nonexistent/a/peer:/nonexistent/b/ttyS-x");
    for (const char* only : {"1", "0"}) {
        ScopedEnv onlyEnv("MISTVALE_SERIAL_PORTS_ONLY", only);
        SCOPED_TRACE(std::string("MISTVALE_SERIAL_PORTS_ONLY=") + only);
        std::vector<Entry> full = FullList();
        // A path's directory, a prefix, a case change, names of paths, and udev-shaped names of
        // devices that do not exist or are virtual terminals (which are never listed).
        for (const char* name :
             {"", "a", "pee", "peer ", "PEER", "/nonexistent/a/peer", "a/peer", "tty1", "ptmx", "console",
              "ttyZZ9", "Model (ttyZZ9)", "Model (tty1)", "Model ()", " ()", "(peer)", "ttyS!x", ".", ".."}) {
            ASSERT_EQ(FirstOf(full, name), "") << name;
            Answer answer = Find(name);
            EXPECT_EQ(answer.path, "") << name;
            EXPECT_FALSE(answer.listed) << name << " needed the full list";
        }
        // "-" in a name may stand for a "!" of a kernel name; still no listing, and still no port.
        EXPECT_EQ(Find("Model (tty-none)").path, "");
        EXPECT_EQ(Find("ttyS-x").path, "/nonexistent/b/ttyS-x");
        std::string device = "unchanged";
        EXPECT_EQ(LookUpSerialDevice(u"nowhere", &device), 0);
        EXPECT_EQ(device, "unchanged");
    }
}

// On a machine with serial hardware, its ports are looked up one at a time; a listed path of the same
// name as a system port, or the same path, loses to the system port as in the full list.
TEST(SerialPortFind, SystemPortsTakePrecedenceAsInTheFullList) {
    std::vector<Entry> system = SystemPorts();
    if (system.empty())
        GTEST_SKIP() << "no serial ports with hardware behind them on this machine";
    std::vector<std::string> paths;
    for (const Entry& port : system) {
        paths.push_back("/nonexistent/shadow/" + port.first); // same name, other path
        paths.push_back(port.second);                         // same path, named by its last component
    }
    paths.push_back("/nonexistent/extra");
    ScopedEnv listed("MISTVALE_SERIAL_PORTS", Join(paths).c_str());
    ScopedEnv only("MISTVALE_SERIAL_PORTS_ONLY", nullptr);
    std::vector<Entry> full = FullList();
    ASSERT_GE(full.size(), system.size() + 1);
    for (const Entry& port : system) {
        EXPECT_EQ(Find(port.first).path, port.second) << port.first;
        EXPECT_EQ(FirstOf(full, port.first), port.second) << port.first;
        std::string last = port.second.substr(port.second.rfind('/') + 1);
        EXPECT_EQ(Find(last).path, FirstOf(full, last)) << last;
    }
    EXPECT_EQ(Find("extra").path, "/nonexistent/extra");
    EXPECT_FALSE(Find("extra").listed);

    // With the system's ports left out, the listed paths are the only ports.
    only.Set("1");
    for (const Entry& port : system)
        EXPECT_EQ(Find(port.first).path, "/nonexistent/shadow/" + port.first);
}

TEST(SerialPortFind, LastDeviceIsTheLastEntryOfTheFullList) {
    std::vector<Entry> system = SystemPorts();
    std::vector<std::vector<std::string>> cases = {
        {},
        {"/nonexistent/one"},
        {"/nonexistent/one", "/nonexistent/two"},
        {"/nonexistent/two", "/nonexistent/one", "/nonexistent/two"}};
    if (!system.empty()) {
        // A trailing path that a system port already lists is left out of the list.
        cases.push_back({"/nonexistent/one", system.back().second});
        cases.push_back({system.front().second});
    }
    for (const auto& paths : cases) {
        ScopedEnv listed("MISTVALE_SERIAL_PORTS", Join(paths).c_str());
        for (const char* only : {"1", "0"}) {
            ScopedEnv onlyEnv("MISTVALE_SERIAL_PORTS_ONLY", only);
            SCOPED_TRACE(Join(paths) + " only=" + only);
            std::vector<Entry> full = FullList();
            std::string device;
            int found = LookUpSerialDevice(kUseLastDevice, &device);
            EXPECT_EQ(found, full.empty() ? 0 : 1);
            EXPECT_EQ(found ? device : "", full.empty() ? "" : full.back().second);
        }
    }
    // Listed paths no system port has: the last one is known without the full list.
    ScopedEnv listed("MISTVALE_SERIAL_PORTS", "/nonexistent/one:/nonexistent/two");
    SerialPortList list;
    WideString path;
    ASSERT_EQ(list.FindLastDevicePath(&path), 1);
    EXPECT_EQ(path.ToUtf8(), "/nonexistent/two");
    EXPECT_EQ(list.Count(), 0);
}

TEST(SerialPortFind, EveryLookupSeesTheCurrentPorts) {
    ScopedEnv only("MISTVALE_SERIAL_PORTS_ONLY", "1");
    ScopedEnv listed("MISTVALE_SERIAL_PORTS", "/nonexistent/first/port");
    EXPECT_EQ(Find("port").path, "/nonexistent/first/port");
    listed.Set("/nonexistent/second/port");
    EXPECT_EQ(Find("port").path, "/nonexistent/second/port");
    listed.Set(nullptr);
    EXPECT_EQ(Find("port").path, "");
    std::string device;
    EXPECT_EQ(LookUpSerialDevice(kUseLastDevice, &device), 0);
}

} // namespace mistvale
