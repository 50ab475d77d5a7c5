// Benchmarks of the whole program. Prints one line per figure: "name value unit".
//   startup_first_tree_1000    ms from running the main window to its first rebuilt tree (1,000 sources)
//   startup_first_values_1000  ms until the tree shows the first refreshed values
//   idle_cpu_100_clock         % of one core used by build/mistvale with 100 clock sources at 2 s
//   rss_10000_sources          MB resident for build/mistvale with 10,000 sources
#include "app/main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace mistvale;

namespace {

std::string TreeXml(int groups, int sourcesPerGroup) {
    std::string xml = "<Mistvale><Groups>";
    for (int g = 0; g < groups; ++g) {
        xml += "<Group Name=\"Clock " + std::to_string(g) + "\" Parameter=\"Clock\"><Sources>";
        for (int s = 0; s < sourcesPerGroup; ++s)
            xml += std::string("<Source Name=\"Source ") + std::to_string(s) + "\" Parameter=\"" +
                   (s % 2 ? "Time" : "Date") + "\"/>";
        xml += "</Sources></Group>";
    }
    return xml + "</Groups></Mistvale>";
}

std::string MakeHome(const char* tag, const std::string& xml) {
    char pattern[] = "/tmp/mistvale-bench-XXXXXX";
    std::string home = mkdtemp(pattern);
    (void)tag;
    mkdir((home + "/data").c_str(), 0700);
    mkdir((home + "/config").c_str(), 0700);
    std::ofstream(home + "/data/Mistvale.xml", std::ios::binary) << xml;
    return home;
}

void RemoveHome(const std::string& home) {
    std::string command = "rm -rf '" + home + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", home.c_str());
}

struct StartupProbe {
    QElapsedTimer clock;
    double firstTree = -1;
    double firstValues = -1;
    int rebuilds = 0;
    MainWindow* window = nullptr;
};

void OnRebuild(void* context) {
    auto* probe = static_cast<StartupProbe*>(context);
    const double ms = static_cast<double>(probe->clock.nsecsElapsed()) / 1e6;
    if (++probe->rebuilds == 1) {
        probe->firstTree = ms;
    } else if (probe->firstValues < 0) {
        probe->firstValues = ms;
        probe->window->PostDialogMessage(kMsgClose);
    }
}

void BenchStartup() {
    const std::string home = MakeHome("startup", TreeXml(10, 100));
    MainWindow window;
    window.SetConfigPath(home + "/data/Mistvale.xml");
    StartupProbe probe;
    probe.window = &window;
    window.SetRebuildObserver(&OnRebuild, &probe);
    QTimer::singleShot(20000, [&] { window.PostDialogMessage(kMsgClose); });
    probe.clock.start();
    window.RunMain();
    std::printf("startup_first_tree_1000 %.1f ms\n", probe.firstTree);
    std::printf("startup_first_values_1000 %.1f ms\n", probe.firstValues);
    RemoveHome(home);
}

#ifdef MISTVALE_BINARY
pid_t StartProgram(const std::string& home) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        freopen("/dev/null", "w", stderr);
        execl(MISTVALE_BINARY, MISTVALE_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void StopProgram(pid_t pid) {
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// utime + stime of a process in clock ticks.
long long CpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::atoll(field.c_str());
        if (i == 15)
            stime = std::atoll(field.c_str());
    }
    return utime + stime;
}

long long ResidentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atoll(line.c_str() + 6);
    return -1;
}

void BenchIdleCpu() {
    const std::string home = MakeHome("idle", TreeXml(1, 100));
    pid_t pid = StartProgram(home);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long long before = CpuTicks(pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(20));
    const long long after = CpuTicks(pid);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    StopProgram(pid);
    const double percent =
        100.0 * static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
    std::printf("idle_cpu_100_clock %.2f %%\n", before < 0 || after < 0 ? -1.0 : percent);
    RemoveHome(home);
}

void BenchResidentMemory() {
    const std::string home = MakeHome("rss", TreeXml(100, 100));
    pid_t pid = StartProgram(home);
    // A few refreshes and rebuilds, so that every value text and tree row exists.
    std::this_thread::sleep_for(std::chrono::seconds(7));
    const long long kb = ResidentKb(pid);
    StopProgram(pid);
    std::printf("rss_10000_sources %.1f MB\n", static_cast<double>(kb) / 1024.0);
    RemoveHome(home);
}
#endif

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The in-process run keeps its settings away from the user's own.
    char pattern[] = "/tmp/mistvale-bench-config-XXXXXX";
    const std::string config = mkdtemp(pattern);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    {
        QApplication application(argc, argv);
        BenchStartup();
    }
#ifdef MISTVALE_BINARY
    BenchIdleCpu();
    BenchResidentMemory();
#endif
    RemoveHome(config);
    return 0;
}
