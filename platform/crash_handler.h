#pragma once
// The process's last resort: fatal signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT) and
// std::terminate reach one handler that starts the reporter program (fork and execve of an argument
// vector prepared here), hands it the crash context and waits, at most a bounded time, until it has
// collected the process. Then, with a report service, the process ends without a core dump; without
// one, the signal's default action follows. The handler is async-signal-safe: no allocation, no locks,
// no stdio; a second fatal signal while a report is made takes the default action at once.
#include <string>

namespace mistvale {

struct CrashHandlerSetup {
    std::string reporter; // the reporter program
    std::string program;  // the path the report files are named after; empty: the running program
    std::string service;  // the report service's address; empty: no dialog, default action afterwards
    std::string product;
    std::string version;
    unsigned collectSeconds = 20; // longest wait for the reporter to collect the process
};

// Installs the handler for the process and an alternate signal stack for the calling thread.
// 1 on success.
int InstallCrashHandler(const CrashHandlerSetup& setup);

// Gives the calling thread an alternate signal stack (so that a stack overflow can be reported) and
// takes it away again when the object goes. Every thread the program starts makes one at its start.
class CrashStackForThread {
public:
    CrashStackForThread();
    ~CrashStackForThread();
    CrashStackForThread(const CrashStackForThread&) = delete;
    CrashStackForThread& operator=(const CrashStackForThread&) = delete;

private:
    void* stack_ = nullptr;
};

// The reporter program beside the running one ("mistvale-reporter"), as a path.
std::string ReporterBesideProgram();

} // namespace mistvale
