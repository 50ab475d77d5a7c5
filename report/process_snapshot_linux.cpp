#include "report/process_snapshot.h"

#include <cxxabi.h>
#include <dirent.h>
#include <elfutils/libdwfl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/utsname.h>
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

constexpr std::uint64_t kStackBytes = std::uint64_t{32} * 1024; // above the stack pointer
constexpr std::uint64_t kRedZone = 128;                         // below it, where leaf functions keep data
constexpr int kMaxFrames = 256;

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string ReadMemory(int pid, std::uint64_t address, std::uint64_t length) {
    std::string bytes(length, '\0');
    iovec local{bytes.data(), length};
    // NOLINTNEXTLINE(performance-no-int-to-ptr): an address in the other process, read by the kernel
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
    bool executable = false;
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
        m.executable = end && end[0] == ' ' && end[1] && end[2] && end[3] == 'x';
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
    bool firstIsReturn = false; // the first frame's pc is a return address (the caller of a bad call)
    std::uint64_t lastPc = 0, lastSp = 0;
    std::vector<FrameSnapshot> frames;
};

FrameSnapshot Symbolised(Dwfl* dwfl, std::uint64_t at) {
    FrameSnapshot shown;
    shown.pc = at;
    if (Dwfl_Module* module = dwfl_addrmodule(dwfl, at)) {
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
    return shown;
}

int OnFrame(Dwfl_Frame* frame, void* argument) {
    auto* walk = static_cast<WalkState*>(argument);
    Dwarf_Addr pc = 0;
    bool activation = false;
    if (!dwfl_frame_pc(frame, &pc, &activation))
        return DWARF_CB_ABORT;
    if (walk->firstIsReturn && walk->frames.size() == 1)
        activation = false;
    // A return address points after the call; the call is what the frame was doing.
    FrameSnapshot shown = Symbolised(walk->dwfl, activation ? pc : pc - 1);
    Dwarf_Word sp = 0;
    const bool haveSp = dwfl_frame_reg(frame, 7, &sp) == 0;
    if (haveSp) {
        const std::string words = ReadMemory(walk->pid, sp, sizeof shown.words);
        std::memcpy(shown.words, words.data(), std::min(words.size(), sizeof shown.words));
    }
    // A frame that repeats the one before it in place and stack is an unwinder going round in a circle;
    // recursion repeats the pc only.
    if (!walk->frames.empty() && pc == walk->lastPc && haveSp && sp == walk->lastSp)
        return DWARF_CB_ABORT;
    walk->lastPc = pc;
    walk->lastSp = haveSp ? sp : 0;
    walk->frames.push_back(shown);
    return walk->frames.size() >= static_cast<size_t>(kMaxFrames) ? DWARF_CB_ABORT : DWARF_CB_OK;
}

// The faulting thread is unwound from the registers of the fault (not from the signal handler it is
// parked in), reading the held process's memory.
struct UnwindStart {
    int pid = 0;
    int tid = 0;
    Dwarf_Word registers[16] = {}; // DWARF numbering: rax rdx rcx rbx rsi rdi rbp rsp r8..r15
    Dwarf_Addr pc = 0;
};

pid_t NextThread(Dwfl*, void* argument, void** threadArgument) {
    if (*threadArgument)
        return 0;
    *threadArgument = argument;
    return static_cast<UnwindStart*>(argument)->tid;
}

bool GetThread(Dwfl*, pid_t tid, void* argument, void** threadArgument) {
    *threadArgument = argument;
    return tid == static_cast<UnwindStart*>(argument)->tid;
}

bool MemoryRead(Dwfl*, Dwarf_Addr address, Dwarf_Word* result, void* argument) {
    const std::string bytes = ReadMemory(static_cast<UnwindStart*>(argument)->pid, address, sizeof *result);
    if (bytes.size() != sizeof *result)
        return false;
    std::memcpy(result, bytes.data(), sizeof *result);
    return true;
}

bool SetInitialRegisters(Dwfl_Thread* thread, void* threadArgument) {
    auto* start = static_cast<UnwindStart*>(threadArgument);
    if (!dwfl_thread_state_registers(thread, 0, 16, start->registers))
        return false;
    dwfl_thread_state_register_pc(thread, start->pc);
    return true;
}

const Dwfl_Thread_Callbacks kThreadCallbacks = {
    &NextThread, &GetThread, &MemoryRead, &SetInitialRegisters, nullptr, nullptr,
};

bool InExecutableMapping(const std::vector<Mapping>& mappings, std::uint64_t address) {
    for (const Mapping& m : mappings)
        if (address >= m.start && address < m.end)
            return m.executable;
    return false;
}

// The faulting thread's frames, innermost first. A fault at an address that is no code (a call through
// a bad pointer) has not built a frame yet: the return address is on top of the stack, so the walk goes
// on from the caller, as Breakpad's stack scan would.
std::vector<FrameSnapshot> FaultFrames(Dwfl* dwfl, const CrashContext& context,
                                       const std::vector<Mapping>& mappings) {
    const std::uint64_t* g = context.gregs;
    UnwindStart start;
    start.pid = context.pid;
    start.tid = context.tid;
    const int order[16] = {REG_RAX, REG_RDX, REG_RCX, REG_RBX, REG_RSI, REG_RDI, REG_RBP, REG_RSP,
                           REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
    for (int i = 0; i < 16; ++i)
        start.registers[i] = g[order[i]];
    start.pc = g[REG_RIP];
    WalkState walk;
    walk.dwfl = dwfl;
    walk.pid = context.pid;
    if (!InExecutableMapping(mappings, start.pc)) {
        FrameSnapshot bad;
        bad.pc = start.pc;
        walk.frames.push_back(bad);
        Dwarf_Word returnAddress = 0;
        if (!MemoryRead(dwfl, start.registers[7], &returnAddress, &start))
            return walk.frames;
        start.pc = returnAddress;
        start.registers[7] += sizeof returnAddress;
        walk.firstIsReturn = true;
    }
    if (!dwfl_attach_state(dwfl, nullptr, context.pid, &kThreadCallbacks, &start))
        return walk.frames;
    dwfl_getthread_frames(dwfl, context.tid, &OnFrame, &walk);
    return walk.frames;
}

const Dwfl_Callbacks kCallbacks = {
    dwfl_linux_proc_find_elf,
    dwfl_standard_find_debuginfo,
    nullptr,
    nullptr,
};

struct ModuleList {
    const std::vector<Mapping>* mappings = nullptr;
    std::vector<ModuleSnapshot> modules;
};

int OnModule(Dwfl_Module* module, void**, const char* name, Dwarf_Addr start, void* argument) {
    auto* list = static_cast<ModuleList*>(argument);
    ModuleSnapshot m;
    m.path = name ? name : "";
    Dwarf_Addr low = 0, high = 0;
    dwfl_module_info(module, nullptr, &low, &high, nullptr, nullptr, nullptr, nullptr);
    m.start = start;
    m.end = high;
    // Only code is a module: mapped fonts, locale files and caches are not ELF objects, or not executable.
    bool executable = false;
    for (const Mapping& mapping : *list->mappings)
        executable = executable || (mapping.executable && mapping.path == m.path);
    Dwarf_Addr bias = 0;
    if (!executable || !dwfl_module_getelf(module, &bias))
        return DWARF_CB_OK;
    const unsigned char* bits = nullptr;
    GElf_Addr vaddr = 0;
    const int length = dwfl_module_build_id(module, &bits, &vaddr);
    if (length > 0)
        m.buildId.assign(reinterpret_cast<const char*>(bits), static_cast<size_t>(length));
    struct stat info;
    if (!m.path.empty() && m.path[0] == '/' && stat(m.path.c_str(), &info) == 0)
        m.modified = static_cast<std::uint64_t>(info.st_mtime);
    list->modules.push_back(std::move(m));
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
    utsname system{};
    if (uname(&system) == 0)
        out.kernelRelease = system.release;
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
        ModuleList list;
        list.mappings = &mappings;
        dwfl_getmodules(dwfl, &OnModule, &list, 0);
        out.modules = std::move(list.modules);
        std::sort(out.modules.begin(), out.modules.end(),
                  [](const ModuleSnapshot& a, const ModuleSnapshot& b) { return a.start < b.start; });
        if (!held.empty())
            out.frames = FaultFrames(dwfl, context, mappings);
        dwfl_end(dwfl);
    }

    for (int tid : held)
        ptrace(PTRACE_DETACH, tid, nullptr, nullptr);
    return held.empty() ? 0 : 1;
}

} // namespace mistvale
