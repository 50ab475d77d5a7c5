#include "tests/support/sim_process.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace mistvale {

SimProcess::SimProcess() = default;

SimProcess::~SimProcess() {
    child_.Stop(3000);
}

const char* SimProcess::BinaryPath() {
    return MISTVALE_SIM_BINARY;
}

bool SimProcess::Launch(std::vector<std::string> args, const std::string& configXml) {
    if (!dir_.Ok() || child_.Running())
        return false;
    port_ = 0;
    address_.clear();
    logPath_ = dir_.File("requests.log");
    framesPath_ = dir_.File("frames.log");
    if (!configXml.empty()) {
        if (!dir_.WriteFile("config.xml", configXml))
            return false;
        args.push_back("--config");
        args.push_back(dir_.File("config.xml"));
    }
    std::ostringstream limit;
    limit << maxSeconds_;
    std::vector<std::string> argv = {BinaryPath(), "--log",         logPath_,    "--frames",
                                     framesPath_,  "--max-seconds", limit.str(), "--exit-on-eof"};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!child_.Start(argv, true, true))
        return false;
    std::string line;
    while (child_.ReadLine(line, 10000)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "tcp")
            words >> address_ >> port_;
        else if (kind == "ready")
            return true;
    }
    child_.Stop(3000);
    return false;
}

bool SimProcess::StartTcp(const std::string& configXml, const std::vector<std::string>& extraArgs) {
    std::vector<std::string> args = {"--address", "127.0.0.1", "--port", "0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return Launch(args, configXml) && port_ > 0;
}

bool SimProcess::StartRtu(const std::string& device, int baud, char parity, const std::string& configXml,
                          const std::vector<std::string>& extraArgs) {
    std::vector<std::string> args = {
        "--rtu", device, "--baud", std::to_string(baud), "--parity", std::string(1, parity)};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return Launch(args, configXml);
}

std::string SimProcess::Command(const std::string& line, int timeoutMs) {
    std::string reply;
    if (!child_.WriteLine(line) || !child_.ReadLine(reply, timeoutMs))
        return "";
    return reply;
}

std::vector<SimLogEntry> SimProcess::ReadLog() const {
    std::vector<SimLogEntry> entries;
    std::ifstream in(logPath_);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        SimLogEntry entry;
        if (words >> entry.time >> entry.transport >> entry.slave >> entry.function >> entry.address >>
            entry.count >> entry.outcome)
            entries.push_back(entry);
    }
    return entries;
}

std::vector<SimFrame> SimProcess::ReadFrames() const {
    std::vector<SimFrame> frames;
    std::ifstream in(framesPath_);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        double time = 0;
        SimFrame frame;
        if (!(words >> time >> frame.direction))
            continue;
        std::getline(words, frame.hex);
        if (!frame.hex.empty() && frame.hex[0] == ' ')
            frame.hex.erase(0, 1);
        frames.push_back(frame);
    }
    return frames;
}

std::vector<SimLogEntry> SimProcess::WaitForLog(size_t count, int timeoutMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<SimLogEntry> entries = ReadLog();
    while (entries.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        entries = ReadLog();
    }
    return entries;
}

} // namespace mistvale
