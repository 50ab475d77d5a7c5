// The problem report of the running program: Mistvale with 1,000 sources is made to fault (SIGSEGV),
// and the time from the fault until the reporter has written both files is measured, with the dump's
// size. Prints "name value unit" lines:
//   report_write_ms  median over 5 faults
//   report_dump_kb   the minidump's size
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main() {
    if (!fs::exists(fs::path(MISTVALE_BINARY).parent_path() / "mistvale-reporter")) {
        std::fprintf(stderr, "mistvale-reporter is missing\n");
        return 1;
    }
    // The reporter outlives the program; as its subreaper this benchmark sees it end.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    const fs::path home = fs::temp_directory_path() / ("mistvale-report-bench-" + std::to_string(getpid()));
    fs::create_directories(home / "data");
    fs::create_directories(home / "config");
    // A copy of the program, so that its report files land in the benchmark's own folder.
    const fs::path program = home / "mistvale";
    fs::copy_file(MISTVALE_BINARY, program);
    fs::copy_file(fs::path(MISTVALE_BINARY).parent_path() / "mistvale-reporter", home / "mistvale-reporter");
    {
        std::ofstream tree(home / "data" / "Mistvale.xml");
        tree << "<Mistvale><Groups>";
        for (int g = 0; g < 10; ++g) {
            tree << "<Group Name=\"G" << g << "\" Parameter=\"Clock\"><Sources>";
            for (int s = 0; s < 100; ++s)
                tree << "<Source Name=\"S" << s << "\" Parameter=\"" << (s % 7) << "\"/>";
            tree << "</Sources></Group>";
        }
        tree << "</Groups></Mistvale>";
    }
    std::vector<double> times;
    std::uintmax_t dumpBytes = 0;
    for (int round = 0; round < 5; ++round) {
        fs::remove(home / "mistvale_Debug.dmp");
        fs::remove(home / "mistvale_Debug.txt");
        const pid_t child = fork();
        if (child == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
            setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
            unsetenv("MISTVALE_REPORT_HOST");
            execl(program.c_str(), program.c_str(), nullptr);
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // loaded and refreshing
        const auto start = Clock::now();
        kill(child, SIGSEGV);
        // Both files are written when the reporter has ended; every child of ours ends within 20 s.
        const auto deadline = start + std::chrono::seconds(20);
        while (Clock::now() < deadline) {
            int status = 0;
            const pid_t done = waitpid(-1, &status, WNOHANG);
            if (done < 0)
                break;
            if (done == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!fs::exists(home / "mistvale_Debug.dmp") || !fs::exists(home / "mistvale_Debug.txt")) {
            std::fprintf(stderr, "no report files were written\n");
            fs::remove_all(home);
            return 1;
        }
        times.push_back(ms);
        dumpBytes = fs::file_size(home / "mistvale_Debug.dmp");
    }
    std::sort(times.begin(), times.end());
    std::printf("report_write_ms %.1f ms\n", times[times.size() / 2]);
    std::printf("report_dump_kb %.0f kB\n", static_cast<double>(dumpBytes) / 1024.0);
    fs::remove_all(home);
    return 0;
}
