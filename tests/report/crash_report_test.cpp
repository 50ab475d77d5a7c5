// Programs that crash on purpose, on their main thread and on a thread of their own, and the report
// files their reporter leaves: the text report's sections and the minidump's structure.
#include "platform/crash_log.h"
#include "report/minidump_writer.h"

#include <elf.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

namespace mistvale {

namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true; // the sanitizers keep their own fault handlers
#else
constexpr bool kSanitized = false;
#endif

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, at - start));
        start = at + 2;
    }
    return lines;
}

template <typename T> T At(const std::string& bytes, size_t offset) {
    T value{};
    if (offset + sizeof value <= bytes.size())
        std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// The GNU build id of an ELF file, from its note segments.
std::string BuildIdOf(const std::string& path) {
    const std::string elf = ReadFile(path);
    const auto header = At<Elf64_Ehdr>(elf, 0);
    for (int i = 0; i < header.e_phnum; ++i) {
        const auto segment =
            At<Elf64_Phdr>(elf, header.e_phoff + static_cast<size_t>(i) * header.e_phentsize);
        if (segment.p_type != PT_NOTE)
            continue;
        for (size_t at = segment.p_offset; at + sizeof(Elf64_Nhdr) <= segment.p_offset + segment.p_filesz;) {
            const auto note = At<Elf64_Nhdr>(elf, at);
            const size_t name = at + sizeof note;
            const size_t desc = name + ((note.n_namesz + 3) & ~3u);
            if (note.n_type == NT_GNU_BUILD_ID && elf.compare(name, 3, "GNU") == 0)
                return elf.substr(desc, note.n_descsz);
            at = desc + ((note.n_descsz + 3) & ~3u);
        }
    }
    return std::string();
}

struct Crash {
    int status = 0;
    bool reporterEnded = false; // every child ended on its own (no dialog waiting)
    std::string text;
    std::string dump;
    fs::path base;
};

class CrashReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (kSanitized)
            GTEST_SKIP() << "sanitizer builds keep their own fault handlers";
        // The reporter outlives the crashed program; as its subreaper this test can wait for it.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        std::string pattern = (fs::temp_directory_path() / "mistvale-crash-XXXXXX").string();
        folder_ = mkdtemp(pattern.data());
        std::ofstream(folder_ / "mapped.ttf") << std::string(8192, 'F');
    }
    void TearDown() override {
        std::error_code error;
        if (!folder_.empty())
            fs::remove_all(folder_, error);
    }

    Crash Run(const std::string& how, const std::string& thread, bool service = false,
              const fs::path& base = {}, const char* reporter = nullptr) {
        Crash crash;
        crash.base = base.empty() ? folder_ / ("target-" + how + "-" + thread) : base;
        const pid_t child = fork();
        if (child == 0) {
            setenv("MISTVALE_TEST_SECRET", "hunter2", 1);
            setenv("TMPDIR", folder_.c_str(), 1);
            if (service)
                setenv("MISTVALE_REPORT_HOST", "http://127.0.0.1:9/services/corvid/report.php", 1);
            else
                unsetenv("MISTVALE_REPORT_HOST");
            if (reporter)
                setenv("MISTVALE_TEST_REPORTER", reporter, 1);
            // A mapped file that is no code (as fonts are), which the module list must leave out.
            setenv("MISTVALE_TEST_MAP", (folder_ / "mapped.ttf").c_str(), 1);
            execl(CRASH_TARGET, CRASH_TARGET, how.c_str(), thread.c_str(), crash.base.c_str(), nullptr);
            _exit(127);
        }
        // The target, then its reporter (reparented to this process), each bounded in time.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool targetDone = false;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            const pid_t done = waitpid(-1, &status, WNOHANG);
            if (done == child) {
                crash.status = status;
                targetDone = true;
            } else if (done < 0 && targetDone) {
                crash.reporterEnded = true;
                break; // no children left
            } else if (done == 0) {
                // With a service the reporter waits in its dialog; the files are all the test needs.
                if (service && targetDone && fs::exists(crash.base.string() + "_Debug.txt"))
                    KillReporters();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        EXPECT_TRUE(targetDone) << how;
        crash.text = ReadFile(crash.base.string() + "_Debug.txt");
        crash.dump = ReadFile(crash.base.string() + "_Debug.dmp");
        return crash;
    }
    void KillReporters() {
        // Every child left is a reporter of this test.
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            // "pid (comm) state ppid ...": the name may hold spaces and brackets, and a process may end
            // between the listing and the read (then the file is empty).
            const std::string stat = ReadFile(entry.path() / "stat");
            const size_t nameEnd = stat.rfind(')');
            if (nameEnd == std::string::npos)
                continue;
            std::istringstream rest(stat.substr(nameEnd + 1));
            std::string state;
            long parent = 0;
            if (rest >> state >> parent && parent == getpid())
                kill(static_cast<pid_t>(std::stol(name)), SIGKILL);
        }
    }

    fs::path folder_;
};

void ExpectRegisterLines(const std::vector<std::string>& lines) {
    const std::string hex = "0x[0-9A-F]{16}";
    const std::regex first("RAX=" + hex + ", CS=0x[0-9A-F]{4}, RIP=" + hex + ", Flags=0x[0-9A-F]{8}");
    const std::regex second("RBX=" + hex + ", SS=0x[0-9A-F]{4}, RSP=" + hex + ", RBP=" + hex);
    const std::regex extra("R8=" + hex + ", R9=" + hex + ".*R15=" + hex);
    bool a = false, b = false, c = false;
    for (const std::string& line : lines) {
        a = a || std::regex_match(line, first);
        b = b || std::regex_match(line, second);
        c = c || std::regex_match(line, extra);
    }
    EXPECT_TRUE(a && b && c);
}

} // namespace

TEST_F(CrashReportTest, NullWriteOnTheMainThreadLeavesBothFilesAndTheDefaultAction) {
    const Crash crash = Run("null", "main");
    EXPECT_TRUE(WIFSIGNALED(crash.status) && WTERMSIG(crash.status) == SIGSEGV) << crash.status;
    EXPECT_TRUE(crash.reporterEnded) << "without a service no dialog may wait";
    const std::vector<std::string> lines = Lines(crash.text);
    ASSERT_GE(lines.size(), 8u) << crash.text;
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex("Access Violation \\[0xC0000005\\] at 0x[0-9A-F]{16} in Thread [0-9]+\\.")))
        << lines[0];
    EXPECT_EQ(lines[1], "Write to location 0x0000000000000000.");
    ExpectRegisterLines(lines);
    const size_t stack = crash.text.find("\r\nStack:\r\n");
    ASSERT_NE(stack, std::string::npos);
    const std::string firstFrame =
        crash.text.substr(stack + 10, crash.text.find("\r\n", stack + 10) - stack - 10);
    EXPECT_NE(firstFrame.find("crash_target:"), std::string::npos) << firstFrame;
    EXPECT_NE(firstFrame.find("CrashByNullWrite"), std::string::npos) << firstFrame;
    EXPECT_NE(firstFrame.find("crash_target_main.cpp"), std::string::npos) << firstFrame;
    EXPECT_NE(
        crash.text.find(
            "\r\nModuleList:\r\n    Size TimeStamp                      Checksum   ImageBase  Versions\r\n"),
        std::string::npos);
    EXPECT_NE(crash.text.find(" - " + std::string(CRASH_TARGET) + "\r\n"), std::string::npos);
    EXPECT_NE(crash.text.find("libc.so.6\r\n"), std::string::npos);
    EXPECT_NE(crash.text.find("\r\nThreadList:\r\nId         StackBase  StackEnd   StartAddress\r\n"),
              std::string::npos);
    EXPECT_NE(crash.text.find(" crash_target\r\n"), std::string::npos); // the thread's name

    // The minidump: header, directory, one thread whose instruction pointer is the fault's, and the
    // program's build id in its module's CodeView record.
    const std::string& d = crash.dump;
    ASSERT_GE(d.size(), 32u);
    EXPECT_EQ(d.compare(0, 4, "MDMP"), 0);
    EXPECT_EQ(d.find("MISTVALE_TEST_SECRET"), std::string::npos) << "the environment reached the dump";
    EXPECT_LT(d.size(), 1u << 20);
    const auto streams = At<std::uint32_t>(d, 8);
    const auto directory = At<std::uint32_t>(d, 12);
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> found; // type -> (size, rva)
    for (std::uint32_t i = 0; i < streams; ++i)
        found[At<std::uint32_t>(d, directory + i * 12)] = {At<std::uint32_t>(d, directory + i * 12 + 4),
                                                           At<std::uint32_t>(d, directory + i * 12 + 8)};
    for (std::uint32_t type :
         {3u, 4u, 5u, 6u, 7u, 0x47670003u, 0x47670004u, 0x47670005u, 0x47670006u, 0x47670008u, 0x47670009u})
        EXPECT_EQ(found.count(type), 1u) << std::hex << type;
    EXPECT_EQ(found.count(0x47670007u), 0u); // never the environment
    EXPECT_EQ(At<std::uint32_t>(d, found[3].second), 1u);
    const std::uint32_t contextRva = At<std::uint32_t>(d, found[6].second + 164);
    const std::uint64_t rip = At<std::uint64_t>(d, contextRva + 0xF8);
    char expected[64];
    std::snprintf(expected, sizeof expected, "at 0x%016llX in", static_cast<unsigned long long>(rip));
    EXPECT_NE(lines[0].find(expected), std::string::npos) << lines[0];
    EXPECT_EQ(At<std::uint32_t>(d, found[6].second + 8), static_cast<std::uint32_t>(SIGSEGV));
    EXPECT_EQ(At<std::uint16_t>(d, found[7].second), 9u);           // AMD64
    EXPECT_EQ(At<std::uint32_t>(d, found[7].second + 20), 0x8201u); // Linux
    const std::string buildId = BuildIdOf(CRASH_TARGET);
    ASSERT_FALSE(buildId.empty());
    const std::uint32_t modules = At<std::uint32_t>(d, found[4].second);
    bool programFound = false;
    for (std::uint32_t i = 0; i < modules; ++i) {
        const size_t module = found[4].second + 4 + i * 108;
        const std::uint32_t nameRva = At<std::uint32_t>(d, module + 20);
        const std::uint32_t nameBytes = At<std::uint32_t>(d, nameRva);
        std::string name;
        for (std::uint32_t j = 0; j < nameBytes; j += 2)
            name += static_cast<char>(d[nameRva + 4 + j]);
        if (name != CRASH_TARGET)
            continue;
        programFound = true;
        const std::uint32_t cvSize = At<std::uint32_t>(d, module + 76);
        const std::uint32_t cvRva = At<std::uint32_t>(d, module + 80);
        EXPECT_EQ(At<std::uint32_t>(d, cvRva), 0x4270454Cu);
        EXPECT_TRUE(d.compare(cvRva + 4, cvSize - 4, buildId) == 0 && cvSize == buildId.size() + 4);
    }
    EXPECT_TRUE(programFound);
}

TEST_F(CrashReportTest, EachKindOfFailureHasItsNameAndCodeOnEitherThread) {
    struct Case {
        const char* how;
        const char* thread;
        const char* first;
        const char* function;
    };
    const Case cases[] = {
        {"null", "worker", "Access Violation [0xC0000005]", "CrashByNullWrite"},
        {"divide", "main", "Integer Divide by Zero [0xC0000094]", "CrashByDivision"},
        {"divide", "worker", "Integer Divide by Zero [0xC0000094]", "CrashByDivision"},
        {"overflow", "main", "Stack Overflow [0xC00000FD]", "CrashByRecursion"},
        {"overflow", "worker", "Stack Overflow [0xC00000FD]", "CrashByRecursion"},
        {"abort", "main", "Exception [0x40000015]", "CrashByAbort"},
        {"abort", "worker", "Exception [0x40000015]", "CrashByAbort"},
        {"throw", "main", "Microsoft C++ Exception [0xE06D7363]", "CrashByException"},
        {"throw", "worker", "Microsoft C++ Exception [0xE06D7363]", "CrashByException"},
    };
    for (const Case& c : cases) {
        const Crash crash = Run(c.how, c.thread);
        const std::vector<std::string> lines = Lines(crash.text);
        ASSERT_FALSE(lines.empty()) << c.how << " " << c.thread;
        EXPECT_EQ(lines[0].rfind(c.first, 0), 0u) << c.how << " " << c.thread << ": " << lines[0];
        EXPECT_NE(crash.text.find(c.function), std::string::npos) << c.how << " " << c.thread;
        EXPECT_TRUE(WIFSIGNALED(crash.status)) << c.how;
        // The faulting thread comes first in the dump's thread list; a worker crash has two threads.
        const std::string& d = crash.dump;
        const auto streams = At<std::uint32_t>(d, 8);
        const auto directory = At<std::uint32_t>(d, 12);
        for (std::uint32_t i = 0; i < streams; ++i) {
            if (At<std::uint32_t>(d, directory + i * 12) == 3) {
                EXPECT_EQ(At<std::uint32_t>(d, At<std::uint32_t>(d, directory + i * 12 + 8)),
                          std::string(c.thread) == "worker" ? 2u : 1u)
                    << c.how;
            }
        }
    }
}

// The lines of the text report's stack.
std::vector<std::string> StackLines(const std::string& text) {
    std::vector<std::string> frames;
    const size_t stack = text.find("\r\nStack:\r\n");
    if (stack == std::string::npos)
        return frames;
    for (const std::string& line : Lines(text.substr(stack + 10))) {
        if (line.empty())
            break;
        frames.push_back(line);
    }
    return frames;
}

// The stack is walked by call-frame information from the fault: every level of a recursion, the caller
// of a call through a bad pointer. An uncaught exception is named readably with its text. Only code is
// a module, the files are the user's alone and the dump names the system and processor.
TEST_F(CrashReportTest, ReportsCarryTheWholeStackAndTheirDetails) {
    const Crash recursion = Run("recurse50", "main");
    const std::vector<std::string> frames = StackLines(recursion.text);
    ASSERT_FALSE(frames.empty()) << recursion.text;
    EXPECT_NE(frames[0].find("CrashByNullWrite"), std::string::npos) << frames[0];
    EXPECT_EQ(std::count_if(
                  frames.begin(), frames.end(),
                  [](const std::string& f) { return f.find("RecurseThenCrash") != std::string::npos; }),
              50);
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](const std::string& f) {
        return f.find(":main(") != std::string::npos;
    })) << "the walk reaches main";

    const Crash bad = Run("badcall", "worker");
    const std::vector<std::string> badFrames = StackLines(bad.text);
    ASSERT_GE(badFrames.size(), 3u) << bad.text;
    EXPECT_EQ(badFrames[0].rfind("0x0000000000000010(", 0), 0u) << bad.text;
    EXPECT_NE(badFrames[1].find("CallThroughBadPointer"), std::string::npos) << bad.text;
    EXPECT_NE(badFrames.back().find("clone"), std::string::npos) << "the walk goes on to the thread's start";

    const Crash thrown = Run("throw", "main");
    EXPECT_NE(
        thrown.text.find("\r\nUncaught exception of type std::runtime_error: \"nobody catches this\".\r\n"),
        std::string::npos)
        << thrown.text.substr(0, 300);

    const std::string modules = thrown.text.substr(thrown.text.find("\r\nModuleList:"));
    EXPECT_EQ(modules.find("mapped.ttf"), std::string::npos);
    for (const fs::path& file :
         {fs::path(thrown.base.string() + "_Debug.txt"), fs::path(thrown.base.string() + "_Debug.dmp")})
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write)
            << file;

    // SystemInfo: the processor's family as its level, the kernel's version.
    const std::string& d = thrown.dump;
    const auto streams = At<std::uint32_t>(d, 8);
    const auto directory = At<std::uint32_t>(d, 12);
    std::uint32_t systemInfo = 0;
    for (std::uint32_t i = 0; i < streams; ++i)
        if (At<std::uint32_t>(d, directory + i * 12) == 7)
            systemInfo = At<std::uint32_t>(d, directory + i * 12 + 8);
    ASSERT_NE(systemInfo, 0u);
    const std::string cpuinfo = ReadFile("/proc/cpuinfo");
    std::smatch family;
    ASSERT_TRUE(std::regex_search(cpuinfo, family, std::regex("cpu family\\s*: ([0-9]+)")));
    EXPECT_EQ(At<std::uint16_t>(d, systemInfo + 2), std::stoul(family[1]));
    utsname system{};
    uname(&system);
    EXPECT_EQ(At<std::uint32_t>(d, systemInfo + 8), std::stoul(system.release));
}

// A second thread faulting while the first one's report is made waits for it: one complete report.
TEST_F(CrashReportTest, TwoThreadsFaultingTogetherGiveOneCompleteReport) {
    const Crash crash = Run("together", "main");
    EXPECT_TRUE(WIFSIGNALED(crash.status) && WTERMSIG(crash.status) == SIGSEGV) << crash.status;
    EXPECT_NE(StackLines(crash.text).size(), 0u) << crash.text;
    EXPECT_NE(StackLines(crash.text)[0].find("CrashByNullWrite"), std::string::npos);
    EXPECT_NE(crash.text.find("\r\nModuleList:\r\n"), std::string::npos);
    const size_t threads = crash.text.find("\r\nThreadList:\r\n");
    ASSERT_NE(threads, std::string::npos);
    EXPECT_EQ(Lines(crash.text.substr(threads + 2)).size(), 4u) << "both threads are listed";
    EXPECT_EQ(crash.dump.compare(0, 4, "MDMP"), 0);
}

// A reporter that cannot start: the process still ends by its own signal (a core where the system keeps
// one), not by a broken pipe and not by a plain exit that hides the fault.
TEST_F(CrashReportTest, AReporterThatCannotStartLeavesTheDefaultAction) {
    const Crash crash = Run("null", "main", true, {}, "/nonexistent/mistvale-reporter");
    EXPECT_TRUE(WIFSIGNALED(crash.status) && WTERMSIG(crash.status) == SIGSEGV) << crash.status;
    EXPECT_TRUE(crash.text.empty());
}

// With a report service the crashed program ends without a core dump (its reporter asks the user).
TEST_F(CrashReportTest, WithAServiceTheProgramEndsWithoutTheDefaultAction) {
    const Crash crash = Run("null", "main", true);
    EXPECT_TRUE(WIFEXITED(crash.status)) << crash.status;
    EXPECT_FALSE(crash.text.empty());
}

// A program folder that cannot take the files sends them to the temporary folder, as "MiniDump".
TEST_F(CrashReportTest, UnwritableProgramFolderFallsBackToTheTemporaryFolder) {
    Run("divide", "main", false, "/proc/no-such-folder/crash_target");
    const std::string text = ReadFile(folder_ / "MiniDump_Debug.txt");
    EXPECT_EQ(text.rfind("Integer Divide by Zero [0xC0000094]", 0), 0u) << text.substr(0, 80);
    EXPECT_EQ(ReadFile(folder_ / "MiniDump_Debug.dmp").compare(0, 4, "MDMP"), 0);
}

// The log keeps the last lines, oldest first, in a buffer the crash handler can copy as it is.
TEST(CrashLog, KeepsTheLastLinesOldestFirst) {
    for (int i = 0; i < kCrashLogLines + 5; ++i)
        NoteForCrashReport(("failure " + std::to_string(i)).c_str());
    char copy[kCrashLogLines * (kCrashLogLineLength + 2) + 1];
    CopyCrashLog(copy, sizeof copy);
    const std::vector<std::string> lines = Lines(copy);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kCrashLogLines));
    EXPECT_EQ(lines.front().substr(9), "failure 5");
    EXPECT_EQ(lines.back().substr(9), "failure 20");
    char small[40];
    CopyCrashLog(small, sizeof small); // cut short, still terminated
    EXPECT_LT(std::strlen(small), sizeof small);
}

} // namespace mistvale
