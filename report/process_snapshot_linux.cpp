#include "report/process_snapshot.h"

#include <cxxabi.h>
#include <dirent.h>
#include <elfutils/libdwfl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace mistvale {

namespace {

constexpr std::uint64_t kStackBytes = 32 * 1024; // above the stack pointer
constexpr std::uint64_t kRedZone = 128;          // below it, where leaf functions keep data
constexpr int kMaxFrames = 64;

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string ReadMemory(int pid, std::uint64_t address, std::uint64_t length) {
    std::string bytes(length, '\0');
    iovec local{bytes.data(), length};
    iovec remote{reinterpret_cast<void*>(address), length};
    const ssize_t got = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

std::vector<int> ThreadIds(int pid) {
    std::vector<int> tids;
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    if (!dir)
        return tids;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9')
            tids.push_back(std::atoi(entry->d_name));
    closedir(dir);
    return tids;
}

struct Mapping {
    std::uint64_t start = 0, end = 0;
    std::string path;
};

std::vector<Mapping> ParseMaps(const std::string& maps) {
    std::vector<Mapping> mappings;
    std::istringstream lines(maps);
    std::string line;
    while (std::getline(lines, line)) {
        Mapping m;
        char* end = nullptr;
        m.start = std::strtoull(line.c_str(), &end, 16);
        if (!end || *end != '-')
            continue;
        m.end = std::strtoull(end + 1, &end, 16);
        const size_t slash = line.find('/');
        const size_t bracket = line.find('[');
        if (slash != std::string::npos)
            m.path = line.substr(slash);
        else if (bracket != std::string::npos)
            m.path = line.substr(bracket);
        mappings.push_back(m);
    }
    return mappings;
}

std::string Demangled(const char* name) {
    if (!name)
        return std::string();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                                     &std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(name);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct WalkState {
    Dwfl* dwfl = nullptr;
    int pid = 0;
    std::uint64_t faultPc = 0;
    bool reachedFault = false;
    std::vector<FrameSnapshot> all;
    std::vector<FrameSnapshot> fromFault;
};

int OnFrame(Dwfl_Frame* frame, void* argument) {
    auto* walk = static_cast<WalkState*>(argument);
    Dwarf_Addr pc = 0;
    bool activation = false;
    if (!dwfl_frame_pc(frame, &pc, &activation))
        return DWARF_CB_ABORT;
    // A return address points after the call; the call is what the frame was doing.
    const Dwarf_Addr at = activation ? pc : pc - 1;
    FrameSnapshot shown;
    shown.pc = at;
    if (Dwfl_Module* module = dwfl_addrmodule(walk->dwfl, at)) {
        const char* name = nullptr;
        dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, &name, nullptr);
        shown.module = BaseName(name ? name : "");
        shown.function = Demangled(dwfl_module_addrname(module, at));
        if (Dwfl_Line* line = dwfl_module_getsrc(module, at)) {
            int lineNumber = 0;
            const char* file = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr);
            if (file) {
                shown.file = file;
                shown.line = lineNumber;
            }
        }
    }
    Dwarf_Word sp = 0;
    if (dwfl_frame_reg(frame, 7, &sp) == 0) {
        const std::string words = ReadMemory(walk->pid, sp, sizeof shown.words);
        std::memcpy(shown.words, words.data(), std::min(words.size(), sizeof shown.words));
    }
    walk->all.push_back(shown);
    // The frames above the fault are the signal handler's own; the report starts where the fault was.
    if (!walk->reachedFault && pc == walk->faultPc)
        walk->reachedFault = true;
    if (walk->reachedFault)
        walk->fromFault.push_back(shown);
    const size_t count = walk->all.size();
    if (count >= kMaxFrames || (count >= 2 && walk->all[count - 2].pc == shown.pc))
        return DWARF_CB_ABORT;
    return DWARF_CB_OK;
}

const Dwfl_Callbacks kCallbacks = {
    dwfl_linux_proc_find_elf,
    dwfl_standard_find_debuginfo,
    nullptr,
    nullptr,
};

int OnModule(Dwfl_Module* module, void**, const char* name, Dwarf_Addr start, void* argument) {
    auto* modules = static_cast<std::vector<ModuleSnapshot>*>(argument);
    ModuleSnapshot m;
    m.path = name ? name : "";
    Dwarf_Addr low = 0, high = 0;
    dwfl_module_info(module, nullptr, &low, &high, nullptr, nullptr, nullptr, nullptr);
    m.start = start;
    m.end = high;
    // The build id is known once the module's file has been found.
    Dwarf_Addr bias = 0;
    dwfl_module_getelf(module, &bias);
    const unsigned char* bits = nullptr;
    GElf_Addr vaddr = 0;
    const int length = dwfl_module_build_id(module, &bits, &vaddr);
    if (length > 0)
        m.buildId.assign(reinterpret_cast<const char*>(bits), static_cast<size_t>(length));
    struct stat info;
    if (!m.path.empty() && m.path[0] == '/' && stat(m.path.c_str(), &info) == 0)
        m.modified = static_cast<std::uint64_t>(info.st_mtime);
    modules->push_back(m);
    return DWARF_CB_OK;
}

} // namespace

int TakeProcessSnapshot(const CrashContext& context, ProcessSnapshot& out) {
    out = ProcessSnapshot();
    out.context = context;
    const int pid = context.pid;
    const std::string proc = "/proc/" + std::to_string(pid);

    // Hold every thread.
    std::vector<int> held;
    for (int tid : ThreadIds(pid)) {
        if (ptrace(PTRACE_SEIZE, tid, nullptr, nullptr) != 0)
            continue;
        if (ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr) != 0) {
            ptrace(PTRACE_DETACH, tid, nullptr, nullptr);
            continue;
        }
        int status = 0;
        if (waitpid(tid, &status, __WALL) != tid) {
            ptrace(PTRACE_DETACH, tid, nullptr, nullptr);
            continue;
        }
        held.push_back(tid);
    }

    out.maps = ReadWhole(proc + "/maps");
    out.cpuinfo = ReadWhole("/proc/cpuinfo");
    out.status = ReadWhole(proc + "/status");
    out.osRelease = ReadWhole("/etc/os-release");
    if (out.osRelease.empty())
        out.osRelease = ReadWhole("/usr/lib/os-release");
    out.commandLine = ReadWhole(proc + "/cmdline");
    out.auxv = ReadWhole(proc + "/auxv");
    const std::vector<Mapping> mappings = ParseMaps(out.maps);
    // Where the environment's strings lie (fields 50 and 51 of stat): never copied.
    std::uint64_t environmentStart = 0, environmentEnd = 0;
    {
        const std::string stat = ReadWhole(proc + "/stat");
        const size_t close = stat.rfind(')');
        if (close != std::string::npos) {
            std::istringstream fields(stat.substr(close + 2));
            std::string field;
            for (int number = 3; fields >> field; ++number) {
                if (number == 50)
                    environmentStart = std::strtoull(field.c_str(), nullptr, 10);
                if (number == 51)
                    environmentEnd = std::strtoull(field.c_str(), nullptr, 10);
            }
        }
    }

    // Threads, the faulting one first; its registers are those of the fault, not of the handler.
    std::vector<int> tids = ThreadIds(pid);
    std::stable_partition(tids.begin(), tids.end(), [&](int tid) { return tid == context.tid; });
    for (int tid : tids) {
        ThreadSnapshot thread;
        thread.tid = tid;
        thread.name = ReadWhole(proc + "/task/" + std::to_string(tid) + "/comm");
        while (!thread.name.empty() && (thread.name.back() == '\n' || thread.name.back() == '\r'))
            thread.name.pop_back();
        if (std::find(held.begin(), held.end(), tid) != held.end() &&
            ptrace(PTRACE_GETREGS, tid, nullptr, &thread.registers) == 0)
            thread.haveRegisters = true;
        if (tid == context.tid) {
            const std::uint64_t* g = context.gregs;
            user_regs_struct& r = thread.registers;
            r.r8 = g[REG_R8], r.r9 = g[REG_R9], r.r10 = g[REG_R10], r.r11 = g[REG_R11];
            r.r12 = g[REG_R12], r.r13 = g[REG_R13], r.r14 = g[REG_R14], r.r15 = g[REG_R15];
            r.rdi = g[REG_RDI], r.rsi = g[REG_RSI], r.rbp = g[REG_RBP], r.rbx = g[REG_RBX];
            r.rdx = g[REG_RDX], r.rax = g[REG_RAX], r.rcx = g[REG_RCX], r.rsp = g[REG_RSP];
            r.rip = g[REG_RIP], r.eflags = g[REG_EFL];
            const std::uint64_t csgsfs = g[REG_CSGSFS];
            r.cs = csgsfs & 0xFFFF;
            r.gs = (csgsfs >> 16) & 0xFFFF;
            r.fs = (csgsfs >> 32) & 0xFFFF;
            thread.haveRegisters = true;
        }
        if (thread.haveRegisters) {
            const std::uint64_t sp = thread.registers.rsp;
            for (const Mapping& m : mappings) {
                if (sp >= m.start && sp < m.end) {
                    thread.mappingStart = m.start;
                    thread.mappingEnd = m.end;
                    break;
                }
            }
            std::uint64_t start = sp > kRedZone ? sp - kRedZone : 0;
            if (thread.mappingStart && start < thread.mappingStart)
                start = thread.mappingStart;
            std::uint64_t end = sp + kStackBytes;
            if (thread.mappingEnd && end > thread.mappingEnd)
                end = thread.mappingEnd;
            if (environmentStart && start < environmentEnd && end > environmentStart)
                end = environmentStart > start ? environmentStart : start;
            if (end > start) {
                thread.stackStart = start;
                thread.stack = ReadMemory(pid, start, end - start);
            }
        }
        out.threads.push_back(thread);
    }

    // A fault at or just below the stack pointer, outside any mapping or in the guard page below the
    // stack, is the stack running out.
    if (context.signal == 11 && !out.threads.empty()) {
        const std::uint64_t sp = out.threads[0].registers.rsp;
        const std::uint64_t fault = context.faultAddress;
        bool mapped = false;
        for (const Mapping& m : mappings)
            if (fault >= m.start && fault < m.end && m.path.empty() == false && m.path != "[stack]")
                mapped = true;
        out.stackOverflow = !mapped && fault + 65536 >= sp && fault <= sp + 4096;
    }

    // Modules and the faulting thread's frames, through libdw.
    Dwfl* dwfl = dwfl_begin(&kCallbacks);
    if (dwfl) {
        dwfl_report_begin(dwfl);
        dwfl_linux_proc_report(dwfl, pid);
        dwfl_report_end(dwfl, nullptr, nullptr);
        dwfl_getmodules(dwfl, &OnModule, &out.modules, 0);
        std::sort(out.modules.begin(), out.modules.end(),
                  [](const ModuleSnapshot& a, const ModuleSnapshot& b) { return a.start < b.start; });
        if (!held.empty() && dwfl_linux_proc_attach(dwfl, pid, true) == 0) {
            WalkState walk;
            walk.dwfl = dwfl;
            walk.pid = pid;
            walk.faultPc = context.gregs[REG_RIP];
            dwfl_getthread_frames(dwfl, context.tid, &OnFrame, &walk);
            out.frames = walk.reachedFault ? walk.fromFault : walk.all;
        }
        dwfl_end(dwfl);
    }

    for (int tid : held)
        ptrace(PTRACE_DETACH, tid, nullptr, nullptr);
    return held.empty() ? 0 : 1;
}

} // namespace mistvale
