// mistvale-sim: a Modbus TCP and RTU slave for tests, benchmarks and demonstrations.
// Usage is printed by --help; the configuration format and the control commands are in sim/README.md.

#include "sim/sim_config.h"
#include "sim/sim_server.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace mvsim;

static void PrintUsage(FILE* out) {
    std::fputs(
        "usage: mistvale-sim [options]\n"
        "  --config FILE       device configuration (XML); default: one demonstration device at slave 1\n"
        "  --address ADDR      TCP address to listen on (default 127.0.0.1)\n"
        "  --port PORT         serve Modbus TCP on PORT (0: pick a free port); default 1502 when --rtu\n"
        "                      is not given\n"
        "  --rtu DEVICE        serve Modbus RTU on the serial device DEVICE\n"
        "  --baud N            RTU baud rate (default 38400)\n"
        "  --parity N|E|O      RTU parity (default N)\n"
        "  --log FILE          write one line per request to FILE\n"
        "  --frames FILE       write every frame received (rx) and sent (tx) to FILE, in hex\n"
        "  --control PATH      also take control commands on the unix socket PATH\n"
        "  --max-seconds N     stop after N seconds\n"
        "  --exit-on-eof       stop when standard input ends\n"
        "  --pace              RTU: hold each reply for the line time of its request and itself\n"
        "  --print-config      print the default configuration and exit\n",
        out);
}

int main(int argc, char** argv) {
    SimServerOptions options;
    std::string configPath;
    bool portGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "mistvale-sim: %s needs a value\n", option.c_str());
                std::exit(2);
            }
            target = argv[++i];
        };
        std::string text;
        if (option == "--help" || option == "-h") {
            PrintUsage(stdout);
            return 0;
        } else if (option == "--print-config") {
            std::fputs(DefaultSimConfig(), stdout);
            return 0;
        } else if (option == "--config") {
            value(configPath);
        } else if (option == "--address") {
            value(options.tcpAddress);
        } else if (option == "--port") {
            value(options.tcpPort);
            portGiven = true;
        } else if (option == "--rtu") {
            value(options.rtuDevice);
        } else if (option == "--baud") {
            value(text);
            options.baud = std::atoi(text.c_str());
            if (options.baud <= 0) {
                std::fprintf(stderr, "mistvale-sim: bad baud rate %s\n", text.c_str());
                return 2;
            }
        } else if (option == "--parity") {
            value(text);
            if (text != "N" && text != "E" && text != "O") {
                std::fprintf(stderr, "mistvale-sim: parity must be N, E or O\n");
                return 2;
            }
            options.parity = text[0];
        } else if (option == "--log") {
            value(options.logPath);
        } else if (option == "--frames") {
            value(options.framesPath);
        } else if (option == "--control") {
            value(options.controlPath);
        } else if (option == "--max-seconds") {
            value(text);
            char* end = nullptr;
            options.maxSeconds = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0' || options.maxSeconds < 0) {
                std::fprintf(stderr, "mistvale-sim: bad time limit %s\n", text.c_str());
                return 2;
            }
        } else if (option == "--exit-on-eof") {
            options.exitOnEof = true;
        } else if (option == "--pace") {
            options.pace = true;
        } else {
            std::fprintf(stderr, "mistvale-sim: unknown option %s\n", option.c_str());
            PrintUsage(stderr);
            return 2;
        }
    }
    options.tcp = portGiven || options.rtuDevice.empty();

    std::vector<std::unique_ptr<SimDevice>> devices;
    std::string error;
    bool loaded = configPath.empty() ? ParseSimConfig(DefaultSimConfig(), devices, error)
                                     : LoadSimConfig(configPath, devices, error);
    if (!loaded) {
        std::fprintf(stderr, "mistvale-sim: %s: %s\n",
                     configPath.empty() ? "default configuration" : configPath.c_str(), error.c_str());
        return 2;
    }
    return RunSimServer(options, devices);
}
