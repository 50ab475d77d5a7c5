// A program that installs the crash handler and then fails on purpose, as its first argument says,
// on the main thread or (with "worker" as the second) on a thread of its own. The report files are
// named after the third argument. Every way of failing is a function of its own, kept out of line,
// so that the report's stack can name it.
#include "platform/crash_handler.h"
#include "platform/crash_log.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

using namespace mistvale;

namespace {

volatile int zero = 0;
int* volatile nowhere = nullptr; // read at run time, so the compiler cannot drop the write
volatile bool deeper = true;
volatile int sink = 0;

__attribute__((noinline)) void CrashByNullWrite() {
    *nowhere = 42;
}

__attribute__((noinline)) int CrashByDivision(int value) {
    return value / zero;
}

__attribute__((noinline)) int CrashByRecursion(int depth) {
    volatile char ballast[512];
    ballast[0] = static_cast<char>(depth);
    return deeper ? CrashByRecursion(depth + 1) + ballast[0] : ballast[0];
}

// Fifty calls deep, then a null write: every level is a frame of the report.
__attribute__((noinline)) int RecurseThenCrash(int depth) {
    volatile char ballast[64];
    ballast[0] = static_cast<char>(depth);
    if (depth >= 50)
        CrashByNullWrite();
    else
        sink = RecurseThenCrash(depth + 1);
    return ballast[0];
}

using Call = void (*)();
Call volatile badPointer = reinterpret_cast<Call>(0x10);

__attribute__((noinline)) void CallThroughBadPointer() {
    badPointer();
    sink = 1; // not a tail call: the return address on the stack is this function's
}

// Two threads that fault at the same moment.
std::atomic<int> ready{0};

__attribute__((noinline)) void CrashTogether() {
    ready.fetch_add(1);
    while (ready.load() < 2) {
    }
    CrashByNullWrite();
}

__attribute__((noinline)) void CrashByAbort() {
    std::abort();
}

__attribute__((noinline)) void CrashByException() {
    throw std::runtime_error("nobody catches this");
}

void Fail(const std::string& how) {
    if (how == "null")
        CrashByNullWrite();
    else if (how == "divide")
        sink = CrashByDivision(7);
    else if (how == "overflow")
        CrashByRecursion(0);
    else if (how == "abort")
        CrashByAbort();
    else if (how == "throw")
        CrashByException();
    else if (how == "recurse50")
        sink = RecurseThenCrash(1);
    else if (how == "badcall")
        CallThroughBadPointer();
    else if (how == "together") {
        std::thread other([] {
            CrashStackForThread stack;
            CrashTogether();
        });
        CrashTogether();
        other.join();
    }
}

} // namespace

// An exception leaving main is one of the failures this program makes on purpose.
int main(int argc, char** argv) { // NOLINT(bugprone-exception-escape)
    if (argc < 4)
        return 2;
    // No core files from the tests.
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    CrashHandlerSetup setup;
    const char* reporter = std::getenv("MISTVALE_TEST_REPORTER"); // a reporter that cannot start
    setup.reporter = reporter ? reporter : ReporterBesideProgram();
    setup.program = argv[3];
    setup.product = "Mistvale";
    setup.version = "1.00";
    if (const char* service = std::getenv("MISTVALE_REPORT_HOST"))
        setup.service = service;
    if (!InstallCrashHandler(setup))
        return 3;
    if (const char* data = std::getenv("MISTVALE_TEST_MAP")) {
        // A mapped file that is no code, as fonts are in a real program.
        const int fd = open(data, O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0) == MAP_FAILED)
            return 4;
    }
    NoteForCrashReport("ModbusTcpIp/127.0.0.1/1502 7: no reply within 0.6 s");
    const std::string how = argv[1];
    if (std::strcmp(argv[2], "worker") == 0) {
        std::thread worker([&] {
            CrashStackForThread stack;
            Fail(how);
        });
        worker.join();
    } else {
        Fail(how);
    }
    return 0;
}
