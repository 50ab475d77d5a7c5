#include "platform/check.h"

#include <cstdio>
#include <cstdlib>

namespace mistvale {

bool CheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "mistvale: check failed: %s (%s:%d)\n", condition, file, line);
    std::fflush(stderr);
#ifdef MISTVALE_CHECKS_ABORT
    std::abort();
#else
    return false;
#endif
}

} // namespace mistvale
