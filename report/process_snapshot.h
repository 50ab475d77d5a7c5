#pragma once
// Everything the reports need from a crashed process, collected while its threads are held through
// ptrace: every thread's registers and stack, the loaded modules with their build ids, the faulting
// thread's frames (symbolised with libdw) and the /proc files a crash server reads. The environment is
// never read: it holds passwords and tokens.
#include <sys/user.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/crash_context.h"

namespace mistvale {

struct ThreadSnapshot {
    int tid = 0;
    std::string name; // /proc/PID/task/TID/comm
    bool haveRegisters = false;
    user_regs_struct registers{};
    std::uint64_t stackStart = 0; // the copied stack bytes start here
    std::string stack;
    std::uint64_t mappingStart = 0; // the stack's mapping (0 when not found)
    std::uint64_t mappingEnd = 0;
};

struct ModuleSnapshot {
    std::string path;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::string buildId;        // raw bytes of the GNU build id; empty when none
    std::uint64_t modified = 0; // the file's modification time (seconds since 1970)
};

struct FrameSnapshot {
    std::uint64_t pc = 0; // the instruction (for a return address: the call)
    std::string module;   // file name of the module
    std::string function; // demangled; empty when unknown
    std::string file;     // source file; empty when unknown
    int line = 0;
    std::uint64_t words[4] = {};
};

struct ProcessSnapshot {
    CrashContext context;
    std::vector<ThreadSnapshot> threads; // the faulting thread first
    std::vector<ModuleSnapshot> modules;
    std::vector<FrameSnapshot> frames; // the faulting thread's, innermost first
    bool stackOverflow = false;
    std::string cpuinfo, status, osRelease, commandLine, auxv, maps;
    std::string kernelRelease; // uname's release, "6.1.0-18-amd64"
};

// Holds the threads of context.pid, reads what the reports need and lets them go again. Returns 0 when
// the process could not be attached at all (the snapshot then holds what /proc alone gives).
int TakeProcessSnapshot(const CrashContext& context, ProcessSnapshot& out);

} // namespace mistvale
