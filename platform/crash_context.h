#pragma once
// What a crashing process hands to its reporter: the signal, its details, the registers of the
// interrupted code and the thread. A plain record of fixed size, written once through a pipe by the
// signal handler and read by the reporter program.
#include <cstdint>

namespace mistvale {

inline constexpr std::uint32_t kCrashContextMagic = 0x4D564352; // "RCVM"
inline constexpr int kCrashContextFd = 198;                     // where the reporter finds the record
// The reporter writes one byte here when it has collected the process, then closes it; end of file
// without that byte means no report is coming (the reporter could not start or gave up).
inline constexpr int kCrashDoneFd = 199;

struct CrashContext {
    std::uint32_t magic = kCrashContextMagic;
    std::int32_t signal = 0;
    std::int32_t code = 0; // si_code
    std::int32_t pid = 0;
    std::int32_t tid = 0;               // the kernel's id of the faulting thread
    std::int32_t uncaughtException = 0; // 1: std::terminate with an exception in flight
    std::uint64_t faultAddress = 0;     // si_addr
    std::uint64_t gregs[23] = {};       // the interrupted code's general registers (ucontext order)
    std::uint64_t crashTime = 0;        // seconds since 1970
    char exceptionType[192] = {};       // the uncaught exception's type (as the compiler names it)
    char exceptionWhat[256] = {};       // its what() text, when it is a std::exception
    char log[16 * 164] = {};            // the last failures the program noted, CR LF ended
};

} // namespace mistvale
