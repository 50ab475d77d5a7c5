#pragma once
// Fatal events by the names and codes crash reports have always used: a Linux signal and its si_code
// map onto the exception code and name a report's reader knows ("Access Violation" 0xC0000005, ...).
#include <cstdint>

#include "platform/crash_context.h"

namespace mistvale {

struct ExceptionName {
    std::uint32_t code = 0;
    const char* name = "";
};

// The code for an abort() that is no uncaught exception (the code Windows gives a fatal abort).
inline constexpr std::uint32_t kAbortCode = 0x40000015;

// `stackOverflow` tells that a SIGSEGV hit the faulting thread's stack guard.
ExceptionName NameOfCrash(const CrashContext& context, bool stackOverflow);
// The name of any code (the full table; "Exception" for others).
const char* NameOfExceptionCode(std::uint32_t code);

} // namespace mistvale
