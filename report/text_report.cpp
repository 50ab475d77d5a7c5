#include "report/text_report.h"

#include "report/exception_names.h"

#include <sys/utsname.h>
#include <ucontext.h>

#include <cxxabi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <sstream>

namespace mistvale {

namespace {

void Append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& out, const char* format, ...) {
    char line[2048];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length > 0)
        out.append(line,
                   static_cast<size_t>(length) < sizeof line ? static_cast<size_t>(length) : sizeof line - 1);
}

// An exception's text in the report's one line: line breaks and other control characters as spaces.
std::string OneLine(const char* text) {
    std::string line(text);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return line;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The processors of /proc/cpuinfo, one field map each.
std::vector<std::map<std::string, std::string>> Processors(const std::string& cpuinfo) {
    std::vector<std::map<std::string, std::string>> cpus(1);
    std::istringstream lines(cpuinfo);
    std::string line;
    while (std::getline(lines, line)) {
        if (Trimmed(line).empty()) {
            if (!cpus.back().empty())
                cpus.emplace_back();
            continue;
        }
        const size_t colon = line.find(':');
        if (colon != std::string::npos)
            cpus.back()[Trimmed(line.substr(0, colon))] = Trimmed(line.substr(colon + 1));
    }
    if (cpus.back().empty())
        cpus.pop_back();
    return cpus;
}

std::string OsReleaseValue(const std::string& osRelease, const std::string& key) {
    std::istringstream lines(osRelease);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, key.size() + 1, key + "=") != 0)
            continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return std::string();
}

void FrameLine(std::string& out, const FrameSnapshot& f) {
    char symbol[64];
    std::snprintf(symbol, sizeof symbol, "0x%016llX", static_cast<unsigned long long>(f.pc));
    const std::string function = f.function.empty() ? std::string(symbol) : f.function;
    const unsigned long long* w = reinterpret_cast<const unsigned long long*>(f.words);
    const bool module = !f.module.empty();
    const bool line = !f.file.empty() && f.line > 0;
    if (module && line)
        Append(out, "%s:%s(0x%llX,0x%llX,0x%llX,0x%llX) - Line %u in %s\r\n", f.module.c_str(),
               function.c_str(), w[0], w[1], w[2], w[3], static_cast<unsigned>(f.line), f.file.c_str());
    else if (line)
        Append(out, "%s(0x%llX,0x%llX,0x%llX,0x%llX) - Line %u in %s\r\n", function.c_str(), w[0], w[1], w[2],
               w[3], static_cast<unsigned>(f.line), f.file.c_str());
    else if (module)
        Append(out, "%s:%s(0x%llX,0x%llX,0x%llX,0x%llX)\r\n", f.module.c_str(), function.c_str(), w[0], w[1],
               w[2], w[3]);
    else
        Append(out, "%s(0x%llX,0x%llX,0x%llX,0x%llX)\r\n", function.c_str(), w[0], w[1], w[2], w[3]);
}

} // namespace

std::string BuildTextReport(const ProcessSnapshot& snapshot, const TextReportInfo& info) {
    std::string out;
    const CrashContext& c = snapshot.context;
    const ExceptionName name = NameOfCrash(c, snapshot.stackOverflow);
    const std::uint64_t* g = c.gregs;
    Append(out, "%s [0x%08X] at 0x%016llX in Thread %u.\r\n", name.name, name.code,
           static_cast<unsigned long long>(g[REG_RIP]), static_cast<unsigned>(c.tid));
    // Only a fault carries an access (a signal sent by another process has si_code <= 0).
    if (name.code == 0xC0000005 && c.code > 0) {
        // Bit 1 of the page fault's error code: the access was a write.
        Append(out, "%s location 0x%016llX.\r\n", (g[REG_ERR] & 2) ? "Write to" : "Read from",
               static_cast<unsigned long long>(c.faultAddress));
    }
    if (c.uncaughtException && c.exceptionType[0]) {
        char type[sizeof c.exceptionType + 1] = {};
        std::memcpy(type, c.exceptionType, sizeof c.exceptionType);
        char what[sizeof c.exceptionWhat + 1] = {};
        std::memcpy(what, c.exceptionWhat, sizeof c.exceptionWhat);
        int status = 0;
        std::unique_ptr<char, void (*)(void*)> readable(abi::__cxa_demangle(type, nullptr, nullptr, &status),
                                                        &std::free);
        const char* name = status == 0 && readable ? readable.get() : type;
        if (what[0])
            Append(out, "Uncaught exception of type %s: \"%s\".\r\n", name, OneLine(what).c_str());
        else
            Append(out, "Uncaught exception of type %s.\r\n", name);
    }

    // Segment registers the signal context lacks come from the thread as ptrace saw it.
    unsigned ss = 0, ds = 0, es = 0;
    if (!snapshot.threads.empty()) {
        ss = static_cast<unsigned>(snapshot.threads[0].registers.ss);
        ds = static_cast<unsigned>(snapshot.threads[0].registers.ds);
        es = static_cast<unsigned>(snapshot.threads[0].registers.es);
    }
    const unsigned cs = static_cast<unsigned>(g[REG_CSGSFS] & 0xFFFF);
    const unsigned gs = static_cast<unsigned>((g[REG_CSGSFS] >> 16) & 0xFFFF);
    const unsigned fs = static_cast<unsigned>((g[REG_CSGSFS] >> 32) & 0xFFFF);
    auto r = [&](int index) { return static_cast<unsigned long long>(g[index]); };
    Append(out, "\r\nRAX=0x%016llX, CS=0x%04X, RIP=0x%016llX, Flags=0x%08X\r\n", r(REG_RAX), cs, r(REG_RIP),
           static_cast<unsigned>(g[REG_EFL]));
    Append(out, "RBX=0x%016llX, SS=0x%04X, RSP=0x%016llX, RBP=0x%016llX\r\n", r(REG_RBX), ss, r(REG_RSP),
           r(REG_RBP));
    Append(out, "RCX=0x%016llX, DS=0x%04X, RSI=0x%016llX, FS=0x%04X\r\n", r(REG_RCX), ds, r(REG_RSI), fs);
    Append(out, "RDX=0x%016llX, ES=0x%04X, RDI=0x%016llX, GS=0x%04X\r\n", r(REG_RDX), es, r(REG_RDI), gs);
    Append(out,
           "R8=0x%016llX, R9=0x%016llX, R10=0x%016llX, R11=0x%016llX, R12=0x%016llX, R13=0x%016llX, "
           "R14=0x%016llX, R15=0x%016llX\r\n",
           r(REG_R8), r(REG_R9), r(REG_R10), r(REG_R11), r(REG_R12), r(REG_R13), r(REG_R14), r(REG_R15));

    for (const auto& cpu : Processors(snapshot.cpuinfo)) {
        auto field = [&](const char* key) {
            auto found = cpu.find(key);
            return found == cpu.end() ? std::string() : found->second;
        };
        const std::string identifier =
            "Family " + field("cpu family") + " Model " + field("model") + " Stepping " + field("stepping");
        Append(out, "\r\n%s %s %s %u Mhz", field("model name").c_str(), field("vendor_id").c_str(),
               identifier.c_str(), static_cast<unsigned>(std::atof(field("cpu MHz").c_str())));
    }

    utsname system{};
    uname(&system);
    unsigned major = 0, minor = 0, patch = 0, abi = 0;
    std::sscanf(system.release, "%u.%u.%u-%u", &major, &minor, &patch, &abi);
    std::string systemName = OsReleaseValue(snapshot.osRelease, "PRETTY_NAME");
    if (systemName.empty())
        systemName = system.sysname;
    Append(out, "\r\n%s [%u.%u] Build %u.%u %s\r\n", systemName.c_str(), major, minor, patch, abi,
           system.version);
    Append(out, "x86-64 Unicode\r\n");

    if (!snapshot.frames.empty()) {
        Append(out, "\r\nStack:\r\n");
        for (const FrameSnapshot& frame : snapshot.frames)
            FrameLine(out, frame);
    }
    if (!info.log.empty()) {
        Append(out, "\r\nLog:\r\n");
        out += info.log;
    }
    if (!snapshot.modules.empty()) {
        Append(out, "\r\nModuleList:\r\n");
        Append(out, "    Size TimeStamp                      Checksum   ImageBase  Versions\r\n");
        for (const ModuleSnapshot& m : snapshot.modules) {
            const time_t stamp = static_cast<time_t>(m.modified);
            tm local{};
            localtime_r(&stamp, &local);
            char date[32], time[32];
            std::snprintf(date, sizeof date, "%2u.%02u.%04u", static_cast<unsigned>(local.tm_mday),
                          static_cast<unsigned>(local.tm_mon + 1),
                          static_cast<unsigned>(local.tm_year + 1900));
            std::snprintf(time, sizeof time, "%2u:%02u:%02u", static_cast<unsigned>(local.tm_hour),
                          static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec));
            const bool own = m.path == info.programPath;
            const int vMajor = own ? static_cast<int>(info.versionMajor) : 0;
            const int vMinor = own ? static_cast<int>(info.versionMinor) : 0;
            Append(out,
                   "%8u 0x%08X %10.10s %8.8s 0x%08X 0x%016llX %4d.%04d.%05d.%06d %4d.%04d.%05d.%06d - %s\r\n",
                   static_cast<unsigned>(m.end - m.start), static_cast<unsigned>(m.modified), date, time, 0u,
                   static_cast<unsigned long long>(m.start), vMajor, vMinor, 0, 0, vMajor, vMinor, 0, 0,
                   m.path.c_str());
        }
    }
    if (!snapshot.threads.empty()) {
        Append(out, "\r\nThreadList:\r\n");
        Append(out, "Id         StackBase  StackEnd   StartAddress\r\n");
        for (const ThreadSnapshot& t : snapshot.threads) {
            // Stacks grow down: the base is the top of the stack's mapping. Linux keeps no start
            // address of a thread.
            Append(out, "%-8u   0x%016llX 0x%016llX 0x%016llX %s %s\r\n", static_cast<unsigned>(t.tid),
                   static_cast<unsigned long long>(t.mappingEnd),
                   static_cast<unsigned long long>(t.mappingStart), 0ull, "", t.name.c_str());
        }
    }
    return out;
}

} // namespace mistvale
