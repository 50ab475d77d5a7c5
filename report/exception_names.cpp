#include "report/exception_names.h"

#include <signal.h>

namespace mistvale {

const char* NameOfExceptionCode(std::uint32_t code) {
    switch (code) {
    case 0x40010005:
        return "Control-C";
    case 0x40010008:
        return "Control-Break";
    case 0x80000002:
        return "Datatype Misalignment";
    case 0x80000003:
        return "Breakpoint";
    case 0xC0000005:
        return "Access Violation";
    case 0xC0000006:
        return "In Page Error";
    case 0xC0000017:
        return "No Memory";
    case 0xC000001D:
        return "Illegal Instruction";
    case 0xC0000025:
        return "Noncontinuable Exception";
    case 0xC0000026:
        return "Invalid Disposition";
    case 0xC000008C:
        return "Array Bounds Exceeded";
    case 0xC000008D:
        return "Float Denormal Operand";
    case 0xC000008E:
        return "Float Divide by Zero";
    case 0xC000008F:
        return "Float Inexact Result";
    case 0xC0000090:
        return "Float Invalid Operation";
    case 0xC0000091:
        return "Float Overflow";
    case 0xC0000092:
        return "Float Stack Check";
    case 0xC0000093:
        return "Float Underflow";
    case 0xC0000094:
        return "Integer Divide by Zero";
    case 0xC0000095:
        return "Integer Overflow";
    case 0xC0000096:
        return "Privileged Instruction";
    case 0xC00000FD:
        return "Stack Overflow";
    case 0xC0000142:
        return "DLL Initialization Failed";
    case 0xE06D7363:
        return "Microsoft C++ Exception";
    default:
        return "Exception";
    }
}

ExceptionName NameOfCrash(const CrashContext& context, bool stackOverflow) {
    std::uint32_t code = kAbortCode;
    switch (context.signal) {
    case SIGSEGV:
        code = stackOverflow ? 0xC00000FD : 0xC0000005;
        break;
    case SIGBUS:
        code = context.code == BUS_ADRALN ? 0x80000002 : 0xC0000006;
        break;
    case SIGFPE:
        switch (context.code) {
        case FPE_INTDIV:
            code = 0xC0000094;
            break;
        case FPE_INTOVF:
            code = 0xC0000095;
            break;
        case FPE_FLTDIV:
            code = 0xC000008E;
            break;
        case FPE_FLTOVF:
            code = 0xC0000091;
            break;
        case FPE_FLTUND:
            code = 0xC0000093;
            break;
        case FPE_FLTRES:
            code = 0xC000008F;
            break;
        case FPE_FLTSUB:
            code = 0xC000008C;
            break;
        default:
            code = 0xC0000090;
            break;
        }
        break;
    case SIGILL:
        code = context.code == ILL_PRVOPC || context.code == ILL_PRVREG ? 0xC0000096 : 0xC000001D;
        break;
    case SIGTRAP:
        code = 0x80000003;
        break;
    case SIGABRT:
        code = context.uncaughtException ? 0xE06D7363 : kAbortCode;
        break;
    default:
        break;
    }
    return {code, NameOfExceptionCode(code)};
}

} // namespace mistvale
