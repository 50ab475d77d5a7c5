#include "platform/crash_handler.h"

#include "platform/crash_context.h"
#include "platform/crash_log.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <exception>

extern char** environ;

namespace mistvale {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};
constexpr size_t kAltStackSize = size_t{64} * 1024;

// Everything the handler needs is prepared at installation: it may not allocate.
constexpr int kMaxArguments = 16;
constexpr size_t kArgumentSpace = 8192;
char g_argumentSpace[kArgumentSpace];
char* g_argv[kMaxArguments + 1];
bool g_hasService = false;
unsigned g_collectSeconds = 20;
bool g_installed = false;

std::atomic<long> g_reportingThread{0}; // the kernel id of the thread making the report; 0: none
CrashContext g_context;
std::atomic<int> g_uncaught{0};
char g_exceptionType[sizeof(CrashContext::exceptionType)];
char g_exceptionWhat[sizeof(CrashContext::exceptionWhat)];

bool AddArgument(int& count, size_t& used, const std::string& text) {
    if (count >= kMaxArguments || used + text.size() + 1 > kArgumentSpace)
        return false;
    std::memcpy(g_argumentSpace + used, text.c_str(), text.size() + 1);
    g_argv[count++] = g_argumentSpace + used;
    used += text.size() + 1;
    return true;
}

void DefaultActionNow(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal); // a signal whose default is to be ignored must still end the process
}

void Handler(int signal, siginfo_t* info, void* raw) {
    const long self = syscall(SYS_gettid);
    long expected = 0;
    if (!g_reportingThread.compare_exchange_strong(expected, self)) {
        // A fault in the handler itself: give up on the report.
        if (expected == self)
            DefaultActionNow(signal);
        // Another thread is making the report: this one waits for the process to end, so the first
        // report is complete (the reporter sees this thread parked here).
        for (;;)
            pause();
    }
    const int savedErrno = errno;
    auto* context = static_cast<ucontext_t*>(raw);
    g_context.magic = kCrashContextMagic;
    g_context.signal = signal;
    g_context.code = info ? info->si_code : 0;
    g_context.pid = static_cast<std::int32_t>(syscall(SYS_getpid));
    g_context.tid = static_cast<std::int32_t>(syscall(SYS_gettid));
    g_context.faultAddress = info ? reinterpret_cast<std::uint64_t>(info->si_addr) : 0;
    if (context)
        for (int i = 0; i < 23 && i < NGREG; ++i)
            g_context.gregs[i] = static_cast<std::uint64_t>(context->uc_mcontext.gregs[i]);
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    g_context.crashTime = static_cast<std::uint64_t>(now.tv_sec);
    g_context.uncaughtException = signal == SIGABRT && g_uncaught.load() ? 1 : 0;
    if (g_context.uncaughtException) {
        std::memcpy(g_context.exceptionType, g_exceptionType, sizeof g_exceptionType);
        std::memcpy(g_context.exceptionWhat, g_exceptionWhat, sizeof g_exceptionWhat);
    }
    CopyCrashLog(g_context.log, sizeof g_context.log);

    int contextPipe[2] = {-1, -1};
    int donePipe[2] = {-1, -1};
    bool collected = false; // the reporter said it has what it needs
    if (pipe2(contextPipe, O_CLOEXEC) == 0 && pipe2(donePipe, O_CLOEXEC) == 0) {
        // A raw fork: glibc's fork runs the process's fork handlers, which take locks (the allocator's
        // among them) that the faulting code may hold.
        const long child = syscall(SYS_fork);
        if (child == 0) {
            if (dup2(contextPipe[0], kCrashContextFd) < 0 || dup2(donePipe[1], kCrashDoneFd) < 0)
                _exit(127);
            execve(g_argv[0], g_argv, environ);
            _exit(127);
        }
        close(contextPipe[0]);
        close(donePipe[1]);
        if (child > 0) {
            // The reporter reads this process through ptrace; allow it even where only parents may.
            prctl(PR_SET_PTRACER, static_cast<unsigned long>(child), 0, 0, 0);
            const char* bytes = reinterpret_cast<const char*>(&g_context);
            size_t left = sizeof g_context;
            while (left > 0) {
                const ssize_t put = write(contextPipe[1], bytes, left);
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0)
                    break;
                bytes += put;
                left -= static_cast<size_t>(put);
            }
            close(contextPipe[1]);
            // Until the reporter has what it needs (end of file on the pipe); the alarm's default
            // action ends this process should it never come.
            alarm(g_collectSeconds);
            char byte = 0;
            ssize_t got = 0;
            while ((got = read(donePipe[0], &byte, 1)) < 0 && errno == EINTR) {
            }
            alarm(0);
            collected = got == 1;
        } else {
            close(contextPipe[1]);
        }
        close(donePipe[0]);
    }
    errno = savedErrno;
    if (g_hasService && collected)
        _exit(128 + signal);  // the reporter tells the user; no core dump
    DefaultActionNow(signal); // no report is coming: a core where the system keeps one
}

void OnTerminate() {
    // An exception that nothing caught: note its type and text for the report, then abort as the
    // runtime would. The reporter makes the type readable (demangling allocates).
    if (std::exception_ptr current = std::current_exception()) {
        g_uncaught = 1;
        if (const std::type_info* type = abi::__cxa_current_exception_type())
            std::strncpy(g_exceptionType, type->name(), sizeof g_exceptionType - 1);
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& error) {
            std::strncpy(g_exceptionWhat, error.what(), sizeof g_exceptionWhat - 1);
        } catch (...) {
        }
    }
    std::abort();
}

void* MakeAltStack() {
    void* stack = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (stack == MAP_FAILED)
        return nullptr;
    stack_t alt{};
    alt.ss_sp = stack;
    alt.ss_size = kAltStackSize;
    if (sigaltstack(&alt, nullptr) != 0) {
        munmap(stack, kAltStackSize);
        return nullptr;
    }
    return stack;
}

} // namespace

std::string ReporterBesideProgram() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return std::string();
    std::string program(path, static_cast<size_t>(length));
    const size_t slash = program.find_last_of('/');
    return program.substr(0, slash + 1) + "mistvale-reporter";
}

int InstallCrashHandler(const CrashHandlerSetup& setup) {
    if (g_installed || setup.reporter.empty())
        return 0;
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string program = !setup.program.empty() ? setup.program
                                : length > 0           ? std::string(path, static_cast<size_t>(length))
                                                       : std::string();
    int count = 0;
    size_t used = 0;
    const bool prepared = AddArgument(count, used, setup.reporter) && AddArgument(count, used, "--pid") &&
                          AddArgument(count, used, std::to_string(getpid())) &&
                          AddArgument(count, used, "--program") && AddArgument(count, used, program) &&
                          AddArgument(count, used, "--service") && AddArgument(count, used, setup.service) &&
                          AddArgument(count, used, "--product") && AddArgument(count, used, setup.product) &&
                          AddArgument(count, used, "--version") && AddArgument(count, used, setup.version);
    if (!prepared)
        return 0;
    g_argv[count] = nullptr;
    g_hasService = !setup.service.empty();
    g_collectSeconds = setup.collectSeconds > 0 ? setup.collectSeconds : 20;
    static void* mainStack = MakeAltStack();
    (void)mainStack;
    struct sigaction action {};
    action.sa_sigaction = &Handler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        sigaddset(&action.sa_mask, signal);
    // A reporter that cannot start leaves the context pipe without a reader: the write must fail with
    // EPIPE instead of ending the process before its default action.
    sigaddset(&action.sa_mask, SIGPIPE);
    for (int signal : kSignals)
        if (sigaction(signal, &action, nullptr) != 0)
            return 0;
    std::set_terminate(&OnTerminate);
    g_installed = true;
    return 1;
}

CrashStackForThread::CrashStackForThread() : stack_(MakeAltStack()) {}

CrashStackForThread::~CrashStackForThread() {
    if (!stack_)
        return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(stack_, kAltStackSize);
}

} // namespace mistvale
