// The program itself (build/mistvale) against the simulator: a TCP group and an RTU group on a socat
// pseudo-terminal pair, read at the refresh rate from the first second on, ended by SIGTERM with the
// full shutdown; and a first start without any files.
#include "app/single_instance.h"
#include "tests/support/child_process.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mistvale {

#ifdef MISTVALE_BINARY

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string BaseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// Runs the program with private data and settings folders; the environment is set for the child only
// through this process's own, restored afterwards.
class ProgramRun {
public:
    ProgramRun(const std::string& dataDir, const std::string& configDir, const std::string& serialPorts) {
        Set("XDG_DATA_HOME", dataDir);
        Set("XDG_CONFIG_HOME", configDir);
        Set("QT_QPA_PLATFORM", "offscreen");
        Set("MISTVALE_SERIAL_PORTS", serialPorts);
    }
    ~ProgramRun() {
        for (auto& saved : saved_)
            if (saved.second.first)
                setenv(saved.first.c_str(), saved.second.second.c_str(), 1);
            else
                unsetenv(saved.first.c_str());
    }
    bool Start(const std::string& stderrPath) {
        started_ = std::chrono::steady_clock::now();
        return child_.Start({MISTVALE_BINARY}, false, false, stderrPath);
    }
    // SIGTERM, then the exit status (-1 when it had to be killed).
    int Terminate(int timeoutMs) {
        child_.Signal(SIGTERM);
        int status = 0;
        if (!child_.WaitExit(timeoutMs, status)) {
            child_.Stop(500);
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    double StartTime() const { return std::chrono::duration<double>(started_.time_since_epoch()).count(); }
    ChildProcess& Child() { return child_; }

private:
    void Set(const char* name, const std::string& value) {
        const char* old = getenv(name);
        saved_[name] = {old != nullptr, old ? old : ""};
        setenv(name, value.c_str(), 1);
    }
    std::map<std::string, std::pair<bool, std::string>> saved_;
    ChildProcess child_;
    std::chrono::steady_clock::time_point started_;
};

const char* kSimConfig = R"(<Simulator><Device slave="1">
  <Holding address="0" wave="counter" step="1" period="500"/>
  <Holding address="1" values="0x00FF"/>
  <Holding address="2" float="1.5"/>
</Device></Simulator>)";

// The read times of one register, relative to the program's start: the answered requests whose
// registers take it in (neighbours are read together).
std::vector<double> ReadTimes(const std::vector<SimLogEntry>& log, unsigned address, double start) {
    std::vector<double> times;
    for (const SimLogEntry& entry : log)
        if (entry.address <= address && address < entry.address + entry.count && entry.function == 3 &&
            entry.outcome == "reply")
            times.push_back(entry.time - start);
    return times;
}

void ExpectReadAtRefreshRate(const std::vector<double>& times, const char* what) {
    ASSERT_GE(times.size(), 3u) << what << ": too few reads";
    // The first refresh runs at start-up, not after the first interval: a first read after the 2 s
    // interval would come later than 2 s after the start. The start itself takes a moment, more so
    // under sanitizers on a loaded machine, so the bound sits just below the interval.
    EXPECT_LT(times[0], 1.95) << what;
    for (size_t i = 1; i < times.size(); ++i) {
        const double gap = times[i] - times[i - 1];
        EXPECT_GT(gap, 1.5) << what << " read " << i;
        EXPECT_LT(gap, 2.6) << what << " read " << i;
    }
}

} // namespace

TEST(EndToEnd, RefreshesTcpAndRtuGroupsAndWritesEverythingBackOnSigterm) {
    SimProcess tcp;
    ASSERT_TRUE(tcp.StartTcp(kSimConfig));
    PtyPair line;
    ASSERT_TRUE(line.Open());
    SimProcess rtu;
    ASSERT_TRUE(rtu.StartRtu(line.DevicePath(), 38400, 'N', kSimConfig));

    TempDir home;
    const std::string data = home.Path() + "/data";
    const std::string config = home.Path() + "/config";
    mkdir(data.c_str(), 0700);
    mkdir(config.c_str(), 0700);
    // Written exactly as the program writes it, so that the saved file must be byte for byte the same.
    const std::string tree =
        "<Mistvale><Groups>"
        "<Group Name=\"Plc over TCP\" Parameter=\"ModbusTcpIp/127.0.0.1/" +
        tcp.PortText() +
        "\"><Sources><Source Name=\"Counter\" Parameter=\"0\"/><Source Name=\"Hex &amp; more\" "
        "Parameter=\"1/hex\"/></Sources></Group>"
        "<Group Name=\"Meter on RTU\" Parameter=\"ModbusSerial/38400/N/" +
        BaseName(line.PeerPath()) +
        "/0x01\"><Sources><Source Name=\"Flow\" Parameter=\"2/float\"/></Sources></Group>"
        "</Groups></Mistvale>";
    WriteFile(data + "/Mistvale.xml", tree);

    ProgramRun program(data, config, line.PeerPath());
    ASSERT_TRUE(program.Start(home.Path() + "/stderr.txt"));
    // Until every register has been read three times (the start and two refreshes), bounded.
    const auto enoughReads = [&] {
        const std::vector<SimLogEntry> tcpNow = tcp.ReadLog();
        const std::vector<SimLogEntry> rtuNow = rtu.ReadLog();
        return ReadTimes(tcpNow, 0, 0).size() >= 3 && ReadTimes(tcpNow, 1, 0).size() >= 3 &&
               ReadTimes(rtuNow, 2, 0).size() >= 3;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!enoughReads() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(program.Child().Running()) << ReadFile(home.Path() + "/stderr.txt");
    EXPECT_EQ(program.Terminate(10000), 0);

    const std::vector<SimLogEntry> tcpLog = tcp.ReadLog();
    const std::vector<SimLogEntry> rtuLog = rtu.ReadLog();
    ExpectReadAtRefreshRate(ReadTimes(tcpLog, 0, program.StartTime()), "TCP register 0");
    ExpectReadAtRefreshRate(ReadTimes(tcpLog, 1, program.StartTime()), "TCP register 1");
    ExpectReadAtRefreshRate(ReadTimes(rtuLog, 2, program.StartTime()), "RTU register 2");
    for (const SimLogEntry& entry : tcpLog)
        EXPECT_EQ(entry.slave, 1u) << "TCP requests carry unit 1";
    for (const SimLogEntry& entry : rtuLog)
        EXPECT_EQ(entry.count, entry.address == 2 ? 2u : 1u);

    EXPECT_EQ(ReadFile(data + "/Mistvale.xml"), tree);
    const std::string settings = ReadFile(config + "/Vantorel/Mistvale.conf");
    EXPECT_NE(settings.find("RefreshTime=2\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("Flags=1\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("Main="), std::string::npos) << settings;
    EXPECT_NE(settings.find("Tree="), std::string::npos) << settings;
}

// Folders for one run of the program: data (the tree) and config (the settings).
struct ProgramFolders {
    ProgramFolders() {
        mkdir(data.c_str(), 0700);
        mkdir(config.c_str(), 0700);
    }
    TempDir home;
    const std::string data = home.Path() + "/data";
    const std::string config = home.Path() + "/config";
    std::string Tree() const { return data + "/Mistvale.xml"; }
    std::string Settings() const { return ReadFile(config + "/Vantorel/Mistvale.conf"); }
    std::string Errors() const { return ReadFile(home.Path() + "/stderr.txt"); }
};

template <typename Condition> bool WaitUntil(Condition condition, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A device that sends its replies one byte every 0.4 s holds up no other group, and SIGTERM still ends
// the program at once with the tree saved.
TEST(EndToEnd, DrippingDeviceHoldsUpNeitherOtherGroupsNorShutdown) {
    SimProcess dripping;
    ASSERT_TRUE(dripping.StartTcp(kSimConfig));
    ASSERT_TRUE(dripping.Ok("drip 400"));
    SimProcess healthy;
    ASSERT_TRUE(healthy.StartTcp(kSimConfig));
    ProgramFolders folders;
    const std::string tree = "<Mistvale><Groups>"
                             "<Group Name=\"Dripping\" Parameter=\"ModbusTcpIp/127.0.0.1/" +
                             dripping.PortText() +
                             "\"><Sources><Source Name=\"A\" Parameter=\"1\"/><Source Name=\"B\" "
                             "Parameter=\"2/float\"/></Sources></Group>"
                             "<Group Name=\"Healthy\" Parameter=\"ModbusTcpIp/127.0.0.1/" +
                             healthy.PortText() +
                             "\"><Sources><Source Name=\"Counter\" Parameter=\"0\"/></Sources></Group>"
                             "</Groups></Mistvale>";
    WriteFile(folders.Tree(), tree);
    ProgramRun program(folders.data, folders.config, "");
    ASSERT_TRUE(program.Start(folders.home.Path() + "/stderr.txt"));
    ASSERT_TRUE(healthy.WaitForLog(3, 9000).size() >= 3) << folders.Errors();
    ASSERT_TRUE(program.Child().Running()) << folders.Errors();
    auto stop = std::chrono::steady_clock::now();
    EXPECT_EQ(program.Terminate(10000), 0);
    EXPECT_LT(Since(stop), 2.0);
    ExpectReadAtRefreshRate(ReadTimes(healthy.ReadLog(), 0, program.StartTime()), "healthy register 0");
    EXPECT_EQ(ReadFile(folders.Tree()), tree);
}

// Ctrl+C twice, or SIGHUP and then SIGTERM at logout, while shutdown waits for the worker: the later
// signals are ignored and the tree and the settings are written in full.
TEST(EndToEnd, FurtherSignalsDuringShutdownAreIgnored) {
    SimProcess device;
    ASSERT_TRUE(device.StartTcp(kSimConfig));
    ASSERT_TRUE(device.Ok("late 450")); // every read keeps the worker busy a while
    ProgramFolders folders;
    std::string tree = "<Mistvale><Groups><Group Name=\"Slow\" Parameter=\"ModbusTcpIp/127.0.0.1/" +
                       device.PortText() + "\"><Sources>";
    for (int i = 0; i < 20; ++i)
        tree += "<Source Name=\"R" + std::to_string(i) + "\" Parameter=\"1\"/>";
    tree += "</Sources></Group></Groups></Mistvale>";
    WriteFile(folders.Tree(), tree);
    ProgramRun program(folders.data, folders.config, "");
    ASSERT_TRUE(program.Start(folders.home.Path() + "/stderr.txt"));
    ASSERT_TRUE(device.WaitForLog(2, 9000).size() >= 2) << folders.Errors();
    program.Child().Signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    program.Child().Signal(SIGINT);
    program.Child().Signal(SIGHUP);
    program.Child().Signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(program.Child().WaitExit(10000, status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << folders.Errors();
    EXPECT_EQ(ReadFile(folders.Tree()), tree);
    EXPECT_NE(folders.Settings().find("Main="), std::string::npos);
    EXPECT_NE(folders.Settings().find("Tree="), std::string::npos);
}

// Splits a CSV text with RFC 4180 quoting into records of fields.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            fields.push_back(field);
            field.clear();
            records.push_back(fields);
            fields.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

// Unattended logging: every read of every source lands in the CSV file at the refresh rate with its
// value, and SIGTERM leaves every row up to the last pass in the file.
TEST(EndToEnd, RecordsEveryReadIntoTheFileNamedInTheEnvironment) {
    SimProcess device;
    ASSERT_TRUE(device.StartTcp(kSimConfig));
    ProgramFolders folders;
    const std::string tree =
        "<Mistvale><Groups><Group Name=\"Plc, east\" Parameter=\"ModbusTcpIp/127.0.0.1/" + device.PortText() +
        "\"><Sources><Source Name=\"Counter\" Parameter=\"0\"/>"
        "<Source Name=\"Hex &quot;1&quot;\" Parameter=\"1/hex\"/>"
        "<Source Name=\"Flow\" Parameter=\"2/float\"/>"
        "<Source Name=\"Level\" Parameter=\"1/range/0/500\"/></Sources></Group>"
        "</Groups></Mistvale>";
    WriteFile(folders.Tree(), tree);
    const std::string csv = folders.home.Path() + "/values.csv";
    setenv("MISTVALE_RECORD_FILE", csv.c_str(), 1);
    ProgramRun program(folders.data, folders.config, "");
    ASSERT_TRUE(program.Start(folders.home.Path() + "/stderr.txt"));
    unsetenv("MISTVALE_RECORD_FILE");
    // Three passes; the group's four sources take one request each.
    ASSERT_GE(device.WaitForLog(3, 12000).size(), 3u) << folders.Errors();
    EXPECT_EQ(program.Terminate(10000), 0);

    const auto records = ParseCsv(ReadFile(csv));
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0],
              (std::vector<std::string>{"time", "group", "source", "parameter", "value", "status"}));
    std::map<std::string, std::vector<std::vector<std::string>>> bySource;
    for (size_t i = 1; i < records.size(); ++i) {
        ASSERT_EQ(records[i].size(), 6u);
        EXPECT_EQ(records[i][1], "Plc, east");
        EXPECT_EQ(records[i][5], "ok");
        bySource[records[i][2]].push_back(records[i]);
    }
    // Every read the device answered is in the file, the last pass's included.
    const auto log = device.ReadLog();
    EXPECT_EQ(bySource["Counter"].size(), ReadTimes(log, 0, 0).size());
    EXPECT_EQ(bySource["Flow"].size(), ReadTimes(log, 2, 0).size());
    EXPECT_EQ(bySource["Hex \"1\""].size(), ReadTimes(log, 1, 0).size());
    EXPECT_EQ(bySource["Level"].size(), ReadTimes(log, 1, 0).size());
    ASSERT_GE(bySource["Counter"].size(), 3u);
    // At the refresh rate, by the times in the file (seconds of the day are enough for a short run).
    std::vector<double> times;
    for (const auto& row : bySource["Counter"]) {
        ASSERT_GE(row[0].size(), 23u) << row[0];
        times.push_back(std::stoi(row[0].substr(11, 2)) * 3600 + std::stoi(row[0].substr(14, 2)) * 60 +
                        std::stod(row[0].substr(17, 6)));
    }
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_GT(times[i] - times[i - 1], 1.5);
        EXPECT_LT(times[i] - times[i - 1], 2.6);
    }
    for (const auto& row : bySource["Hex \"1\""])
        EXPECT_EQ(row[4], "0x00FF");
    for (const auto& row : bySource["Flow"])
        EXPECT_EQ(row[4], "1.500");
    for (const auto& row : bySource["Level"]) {
        EXPECT_EQ(row[3], "1/range/0/500");
        EXPECT_EQ(row[4], "255");
    }
    EXPECT_EQ(ReadFile(folders.Tree()), tree);
}

// The output of a shell command line (its standard error dropped).
std::string CommandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, got);
        pclose(pipe);
    }
    return output;
}

// On a real X server the main window is what window managers and task bars take for an application:
// type normal, not modal, owned by no other window. Needs Xvfb and xprop (scripts/deps.sh installs them).
TEST(EndToEnd, MainWindowIsANormalApplicationWindowOnX11) {
    if (CommandOutput("command -v Xvfb xprop xwininfo").empty())
        GTEST_SKIP() << "Xvfb, xprop or xwininfo is missing";
    // The server picks a free display number itself and writes it once it listens (-displayfd), so no
    // other server or stale lock file is in the way. Without -noreset it would reset when its last
    // client leaves, and a program that connects just after the readiness probe below finds none.
    ChildProcess server;
    ASSERT_TRUE(server.Start(
        {"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
        false, true, "/dev/null"));
    std::string number;
    ASSERT_TRUE(server.ReadLine(number, 20000)) << "the X server did not start";
    const std::string display = ":" + number;
    ProgramFolders folders;
    ProgramRun program(folders.data, folders.config, "");
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The X11 client libraries keep memory until the process ends; under AddressSanitizer that would
    // turn the exit code into a leak report that is none of ours.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string savedAsan = asan ? asan : "";
    setenv("ASAN_OPTIONS", (savedAsan.empty() ? "" : savedAsan + ":").append("detect_leaks=0").c_str(), 1);
    bool started = false;
    std::string window;
    for (int attempt = 0; attempt < 100 && window.empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!started && !CommandOutput("xprop -display " + display + " -root").empty())
            started = program.Start(folders.home.Path() + "/stderr.txt");
        if (!started)
            continue;
        std::istringstream tree(CommandOutput("xwininfo -display " + display + " -root -tree"));
        for (std::string line; std::getline(tree, line);) {
            if (line.find("\"Mistvale [") != std::string::npos) {
                std::istringstream words(line);
                words >> window;
                break;
            }
        }
    }
    unsetenv("DISPLAY");
    if (asan)
        setenv("ASAN_OPTIONS", savedAsan.c_str(), 1);
    else
        unsetenv("ASAN_OPTIONS");
    ASSERT_TRUE(started) << "the X server did not start";
    ASSERT_FALSE(window.empty()) << folders.Errors();
    const std::string props = CommandOutput("xprop -display " + display + " -id " + window +
                                            " _NET_WM_WINDOW_TYPE _NET_WM_STATE WM_TRANSIENT_FOR");
    EXPECT_NE(props.find("_NET_WM_WINDOW_TYPE_NORMAL"), std::string::npos) << props;
    EXPECT_EQ(props.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << props;
    EXPECT_EQ(props.find("_NET_WM_STATE_MODAL"), std::string::npos) << props;
    EXPECT_NE(props.find("WM_TRANSIENT_FOR:  not found"), std::string::npos) << props;
    EXPECT_EQ(program.Terminate(10000), 0);
    server.Stop(2000);
}

TEST(EndToEnd, FirstStartWithoutFilesCreatesAnEmptyTreeAndDefaultSettings) {
    TempDir home;
    const std::string data = home.Path() + "/data";
    const std::string config = home.Path() + "/config";
    mkdir(data.c_str(), 0700);
    mkdir(config.c_str(), 0700);
    ProgramRun program(data, config, "");
    ASSERT_TRUE(program.Start(home.Path() + "/stderr.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(program.Child().Running()) << ReadFile(home.Path() + "/stderr.txt");
    // Nothing is written while the program runs.
    EXPECT_FALSE(Exists(data + "/Mistvale.xml"));
    EXPECT_EQ(program.Terminate(10000), 0);

    EXPECT_EQ(ReadFile(data + "/Mistvale.xml"), "<Mistvale><Groups/></Mistvale>");
    const std::string settings = ReadFile(config + "/Vantorel/Mistvale.conf");
    EXPECT_NE(settings.find("RefreshTime=2\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("Flags=1\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("Main="), std::string::npos) << settings;
    EXPECT_NE(settings.find("Tree="), std::string::npos) << settings;
}

// A second start on the same tree brings the first to the front and ends without touching the tree;
// a lock left by a killed program is taken over; a first program that does not answer is said, and
// the tree is still left alone.
TEST(EndToEnd, OneProgramPerTree) {
    ProgramFolders folders;
    const std::string tree = "<Mistvale><Groups><Group Name=\"First\" Parameter=\"Clock\"><Sources/></Group>"
                             "</Groups></Mistvale>";
    WriteFile(folders.Tree(), tree);
    auto second = [&](int* status, const std::string& errors) {
        ChildProcess again;
        if (!again.Start({MISTVALE_BINARY}, false, false, errors))
            return false;
        if (again.WaitExit(5000, *status))
            return true;
        again.Stop(500);
        return false;
    };
    ProgramRun first(folders.data, folders.config, "");
    ASSERT_TRUE(first.Start(folders.home.Path() + "/stderr.txt"));
    const std::string lock = folders.Tree() + ".lock";
    ASSERT_TRUE(WaitUntil([&] { return Exists(lock); }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // its server listens before its window shows
    int status = 0;
    ASSERT_TRUE(second(&status, folders.home.Path() + "/second.txt")) << "the second start did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(first.Child().Running());

    // Killed: its lock is stale, and the next start runs.
    first.Child().Signal(SIGKILL);
    ASSERT_TRUE(first.Child().WaitExit(5000, status));
    ProgramRun next(folders.data, folders.config, "");
    ASSERT_TRUE(next.Start(folders.home.Path() + "/next.txt"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(next.Child().Running()) << ReadFile(folders.home.Path() + "/next.txt");

    // Its server gone (as if it hung): the third start says so and leaves the tree alone.
    const std::string changed = "<Mistvale><Groups/></Mistvale>";
    WriteFile(folders.Tree(), changed);
    std::filesystem::remove("/tmp/" + SingleInstance::ServerName(folders.Tree()).toStdString());
    const std::string errors = folders.home.Path() + "/third.txt";
    ChildProcess third;
    ASSERT_TRUE(third.Start({MISTVALE_BINARY}, false, false, errors));
    ASSERT_TRUE(
        WaitUntil([&] { return ReadFile(errors).find("already running") != std::string::npos; }, 5000));
    third.Stop(500);
    EXPECT_EQ(ReadFile(folders.Tree()), changed);
    EXPECT_EQ(next.Terminate(10000), 0);
}

// --version and --help answer without a display.
TEST(EndToEnd, VersionAndHelpNeedNoDisplay) {
    TempDir home;
    for (const char* argument : {"--version", "--help"}) {
        ChildProcess program;
        const char* display = getenv("DISPLAY");
        const std::string saved = display ? display : "";
        unsetenv("DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        ASSERT_TRUE(program.Start({MISTVALE_BINARY, argument}, false, true));
        if (display)
            setenv("DISPLAY", saved.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::string line;
        ASSERT_TRUE(program.ReadLine(line, 5000)) << argument;
        EXPECT_EQ(line.rfind(std::string(argument) == "--version" ? "Mistvale 1." : "Usage: mistvale", 0), 0u)
            << line;
        int status = 0;
        ASSERT_TRUE(program.WaitExit(5000, status));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << argument;
    }
}

#endif

} // namespace mistvale
