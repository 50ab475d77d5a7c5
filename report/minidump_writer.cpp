#include "report/minidump_writer.h"

#include <ucontext.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace mistvale {

namespace {

constexpr std::uint32_t kSignature = 0x504D444D; // "MDMP"
constexpr std::uint32_t kVersion = 0xA793;
constexpr std::uint32_t kContextAmd64 = 0x00100000;
constexpr std::uint32_t kContextControl = 0x1, kContextInteger = 0x2, kContextSegments = 0x4;
constexpr std::uint16_t kArchitectureAmd64 = 9;
constexpr std::uint32_t kPlatformLinux = 0x8201;
constexpr std::uint32_t kCodeViewElf = 0x4270454C; // "LEpB": Breakpad's CodeView record for ELF

class Writer {
public:
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    std::uint32_t Reserve(size_t length) {
        Align();
        const std::uint32_t at = Size();
        bytes_.resize(bytes_.size() + length, '\0');
        return at;
    }
    std::uint32_t Append(const void* data, size_t length) {
        const std::uint32_t at = Reserve(length);
        if (length)
            std::memcpy(&bytes_[at], data, length);
        return at;
    }
    template <typename T> void Put(std::uint32_t at, const T& value) {
        std::memcpy(&bytes_[at], &value, sizeof value);
    }
    // A MINIDUMP_STRING: byte length, then UTF-16 units and a zero unit.
    std::uint32_t String(const std::string& text) {
        std::vector<char16_t> units;
        for (unsigned char c : text)
            units.push_back(
                static_cast<char16_t>(c)); // paths are shown, not opened: Latin-1 widening will do
        const std::uint32_t length = static_cast<std::uint32_t>(units.size() * 2);
        const std::uint32_t at = Reserve(4 + length + 2);
        Put(at, length);
        if (length)
            std::memcpy(&bytes_[at + 4], units.data(), length);
        return at;
    }
    std::string Take() { return std::move(bytes_); }

private:
    void Align() {
        while (bytes_.size() % 8)
            bytes_.push_back('\0');
    }
    std::string bytes_;
};

#pragma pack(push, 4)
struct Location {
    std::uint32_t dataSize = 0;
    std::uint32_t rva = 0;
};
struct MemoryDescriptor {
    std::uint64_t start = 0;
    Location memory;
};
struct Directory {
    std::uint32_t type = 0;
    Location location;
};
struct Thread {
    std::uint32_t id = 0, suspendCount = 0, priorityClass = 0, priority = 0;
    std::uint64_t teb = 0;
    MemoryDescriptor stack;
    Location context;
};
struct FixedFileInfo {
    std::uint32_t signature = 0xFEEF04BD, structVersion = 0x10000, fileVersionHigh = 0, fileVersionLow = 0,
                  productVersionHigh = 0, productVersionLow = 0, flagsMask = 0, flags = 0, os = 0, type = 0,
                  subtype = 0, dateHigh = 0, dateLow = 0;
};
struct Module {
    std::uint64_t base = 0;
    std::uint32_t size = 0, checksum = 0, timeDateStamp = 0, nameRva = 0;
    FixedFileInfo version;
    Location codeView, misc;
    std::uint64_t reserved0 = 0, reserved1 = 0;
};
struct Exception {
    std::uint32_t threadId = 0, alignment = 0;
    std::uint32_t code = 0, flags = 0;
    std::uint64_t record = 0, address = 0;
    std::uint32_t parameterCount = 0, unused = 0;
    std::uint64_t information[15] = {};
    Location context;
};
struct SystemInfo {
    std::uint16_t architecture = kArchitectureAmd64, level = 0, revision = 0;
    std::uint8_t processors = 0, productType = 0;
    std::uint32_t major = 0, minor = 0, build = 0, platform = kPlatformLinux, csdRva = 0;
    std::uint16_t suiteMask = 0, reserved = 0;
    std::uint32_t vendor[3] = {}, versionInformation = 0, featureInformation = 0, amdExtended = 0;
};
#pragma pack(pop)
static_assert(sizeof(Thread) == 48);
static_assert(sizeof(Module) == 108);
static_assert(sizeof(Exception) == 168);
static_assert(sizeof(SystemInfo) == 56);

// MDRawContextAMD64, 1232 bytes; only the integer, control and segment parts are filled.
struct ContextAmd64 {
    std::uint64_t home[6];
    std::uint32_t flags, mxcsr;
    std::uint16_t cs, ds, es, fs, gs, ss;
    std::uint32_t eflags;
    std::uint64_t dr0, dr1, dr2, dr3, dr6, dr7;
    std::uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi, r8, r9, r10, r11, r12, r13, r14, r15;
    std::uint64_t rip;
    std::uint8_t floatSave[512];
    std::uint8_t vectors[26 * 16];
    std::uint64_t vectorControl, debugControl, lastBranchTo, lastBranchFrom, lastExceptionTo,
        lastExceptionFrom;
};
static_assert(sizeof(ContextAmd64) == 1232);

ContextAmd64 ContextOf(const user_regs_struct& r) {
    ContextAmd64 c{};
    c.flags = kContextAmd64 | kContextControl | kContextInteger | kContextSegments;
    c.cs = static_cast<std::uint16_t>(r.cs), c.ds = static_cast<std::uint16_t>(r.ds);
    c.es = static_cast<std::uint16_t>(r.es), c.fs = static_cast<std::uint16_t>(r.fs);
    c.gs = static_cast<std::uint16_t>(r.gs), c.ss = static_cast<std::uint16_t>(r.ss);
    c.eflags = static_cast<std::uint32_t>(r.eflags);
    c.rax = r.rax, c.rcx = r.rcx, c.rdx = r.rdx, c.rbx = r.rbx, c.rsp = r.rsp, c.rbp = r.rbp;
    c.rsi = r.rsi, c.rdi = r.rdi, c.r8 = r.r8, c.r9 = r.r9, c.r10 = r.r10, c.r11 = r.r11;
    c.r12 = r.r12, c.r13 = r.r13, c.r14 = r.r14, c.r15 = r.r15, c.rip = r.rip;
    return c;
}

// A stream that is a 32-bit count followed by the entries.
template <typename Entry>
Directory ListStream(Writer& w, std::uint32_t type, const std::vector<Entry>& entries) {
    Directory d;
    d.type = type;
    d.location.rva = w.Reserve(4 + entries.size() * sizeof(Entry));
    d.location.dataSize = w.Size() - d.location.rva;
    w.Put(d.location.rva, static_cast<std::uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i)
        w.Put(d.location.rva + 4 + static_cast<std::uint32_t>(i * sizeof(Entry)), entries[i]);
    return d;
}

} // namespace

std::string BuildMinidump(const ProcessSnapshot& snapshot) {
    Writer w;
    const std::uint32_t header = w.Reserve(32);
    std::vector<Directory> directory;
    auto blob = [&](std::uint32_t type, const std::string& bytes) {
        if (bytes.empty())
            return;
        Directory d;
        d.type = type;
        d.location.dataSize = static_cast<std::uint32_t>(bytes.size());
        d.location.rva = w.Append(bytes.data(), bytes.size());
        directory.push_back(d);
    };

    // Threads: contexts and stacks first, then the list that points at them.
    std::vector<Thread> threads;
    std::vector<MemoryDescriptor> memory;
    std::uint32_t faultContext = 0;
    for (const ThreadSnapshot& t : snapshot.threads) {
        Thread thread;
        thread.id = static_cast<std::uint32_t>(t.tid);
        const ContextAmd64 context = ContextOf(t.registers);
        thread.context.dataSize = sizeof context;
        thread.context.rva = w.Append(&context, sizeof context);
        if (t.tid == snapshot.context.tid)
            faultContext = thread.context.rva;
        thread.stack.start = t.stackStart;
        thread.stack.memory.dataSize = static_cast<std::uint32_t>(t.stack.size());
        thread.stack.memory.rva = w.Append(t.stack.data(), t.stack.size());
        threads.push_back(thread);
        if (!t.stack.empty())
            memory.push_back(thread.stack);
    }
    directory.push_back(ListStream(w, kThreadListStream, threads));

    // Modules with their names and CodeView records.
    std::vector<Module> modules;
    for (const ModuleSnapshot& m : snapshot.modules) {
        Module module;
        module.base = m.start;
        module.size = static_cast<std::uint32_t>(m.end - m.start);
        module.timeDateStamp = static_cast<std::uint32_t>(m.modified);
        module.nameRva = w.String(m.path);
        if (!m.buildId.empty()) {
            std::string record(4, '\0');
            std::memcpy(record.data(), &kCodeViewElf, 4);
            record += m.buildId;
            module.codeView.dataSize = static_cast<std::uint32_t>(record.size());
            module.codeView.rva = w.Append(record.data(), record.size());
        }
        modules.push_back(module);
    }
    directory.push_back(ListStream(w, kModuleListStream, modules));
    directory.push_back(ListStream(w, kMemoryListStream, memory));
    {
        // As Breakpad writes it on Linux: the signal as the code, si_code as the flags, si_addr as the
        // address.
        Exception e;
        e.threadId = static_cast<std::uint32_t>(snapshot.context.tid);
        e.code = static_cast<std::uint32_t>(snapshot.context.signal);
        e.flags = static_cast<std::uint32_t>(snapshot.context.code);
        e.address = snapshot.context.faultAddress;
        e.context.dataSize = sizeof(ContextAmd64);
        e.context.rva = faultContext;
        Directory d;
        d.type = kExceptionStream;
        d.location.dataSize = sizeof e;
        d.location.rva = w.Append(&e, sizeof e);
        directory.push_back(d);
    }
    {
        SystemInfo s;
        unsigned processors = 0;
        for (size_t at = snapshot.cpuinfo.find("processor"); at != std::string::npos;
             at = snapshot.cpuinfo.find("processor", at + 1))
            ++processors;
        s.processors = static_cast<std::uint8_t>(processors > 255 ? 255 : processors);
        const size_t vendor = snapshot.cpuinfo.find("vendor_id");
        if (vendor != std::string::npos) {
            const size_t colon = snapshot.cpuinfo.find(':', vendor);
            const std::string id = snapshot.cpuinfo.substr(colon + 2, 12);
            std::memcpy(s.vendor, id.data(), id.size() < 12 ? id.size() : 12);
        }
        // The processor as Breakpad reads it: family as the level, model and stepping as the revision,
        // and the three again in CPUID's layout.
        auto field = [&](const char* key) -> unsigned {
            const size_t at = snapshot.cpuinfo.find(std::string("\n") + key + "\t");
            const size_t colon = at == std::string::npos ? at : snapshot.cpuinfo.find(':', at);
            return colon == std::string::npos ? 0u
                                              : static_cast<unsigned>(std::strtoul(
                                                    snapshot.cpuinfo.c_str() + colon + 1, nullptr, 10));
        };
        const unsigned family = field("cpu family"), model = field("model"), stepping = field("stepping");
        s.level = static_cast<std::uint16_t>(family);
        s.revision = static_cast<std::uint16_t>((model << 8) | (stepping & 0xFF));
        s.versionInformation = (stepping & 0xF) | (model & 0xF) << 4 | (family > 15 ? 15u : family) << 8 |
                               ((model >> 4) & 0xF) << 16 | (family > 15 ? (family - 15) & 0xFF : 0u) << 20;
        // The kernel's release as the version ("6.1.0-18-amd64": 6, 1, 0).
        unsigned major = 0, minor = 0, build = 0;
        std::sscanf(snapshot.kernelRelease.c_str(), "%u.%u.%u", &major, &minor, &build);
        s.major = major;
        s.minor = minor;
        s.build = build;
        // The CSD text names the system in full.
        std::string release;
        {
            std::string line = snapshot.osRelease;
            const size_t at = line.find("PRETTY_NAME=");
            if (at != std::string::npos) {
                release = line.substr(at + 12, line.find('\n', at) - at - 12);
                if (release.size() >= 2 && release.front() == '"')
                    release = release.substr(1, release.size() - 2);
            }
        }
        s.csdRva = w.String(release);
        Directory d;
        d.type = kSystemInfoStream;
        d.location.dataSize = sizeof s;
        d.location.rva = w.Append(&s, sizeof s);
        directory.push_back(d);
    }
    blob(kLinuxCpuInfoStream, snapshot.cpuinfo);
    blob(kLinuxProcStatusStream, snapshot.status);
    blob(kLinuxLsbReleaseStream, snapshot.osRelease);
    blob(kLinuxCmdLineStream, snapshot.commandLine);
    blob(kLinuxAuxvStream, snapshot.auxv);
    blob(kLinuxMapsStream, snapshot.maps);

    const std::uint32_t directoryRva = w.Reserve(directory.size() * sizeof(Directory));
    for (size_t i = 0; i < directory.size(); ++i)
        w.Put(directoryRva + static_cast<std::uint32_t>(i * sizeof(Directory)), directory[i]);
    w.Put(header + 0, kSignature);
    w.Put(header + 4, kVersion);
    w.Put(header + 8, static_cast<std::uint32_t>(directory.size()));
    w.Put(header + 12, directoryRva);
    w.Put(header + 20, static_cast<std::uint32_t>(snapshot.context.crashTime));
    return w.Take();
}

} // namespace mistvale
