#pragma once
// The text report: 8-bit text with CR LF line ends, section by section: the exception, the access,
// the registers, the processors, the system, the faulting thread's stack, the log, the modules and the
// threads.
#include <string>

#include "report/process_snapshot.h"

namespace mistvale {

struct TextReportInfo {
    std::string programPath; // the crashed program, whose own version the module list shows
    unsigned versionMajor = 0;
    unsigned versionMinor = 0;
    std::string log; // copied under "Log:" when not empty
};

std::string BuildTextReport(const ProcessSnapshot& snapshot, const TextReportInfo& info);

} // namespace mistvale
