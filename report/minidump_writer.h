#pragma once
// A minidump of a crashed Linux process in the format Breakpad and Crashpad write and crash servers
// and minidump_stackwalk read: header and stream directory, the thread list (AMD64 contexts), the
// module list (CodeView records with GNU build ids), the memory list (each thread's stack around its
// stack pointer), the exception, system information (AMD64, Linux) and Breakpad's Linux streams
// (/proc/cpuinfo, the process's status, os-release, command line, auxv and maps). Never the
// environment.
#include <string>

#include "report/process_snapshot.h"

namespace mistvale {

std::string BuildMinidump(const ProcessSnapshot& snapshot);

// Stream types, for readers.
enum MinidumpStream : unsigned {
    kThreadListStream = 3,
    kModuleListStream = 4,
    kMemoryListStream = 5,
    kExceptionStream = 6,
    kSystemInfoStream = 7,
    kLinuxCpuInfoStream = 0x47670003,
    kLinuxProcStatusStream = 0x47670004,
    kLinuxLsbReleaseStream = 0x47670005,
    kLinuxCmdLineStream = 0x47670006,
    kLinuxAuxvStream = 0x47670008,
    kLinuxMapsStream = 0x47670009,
};

} // namespace mistvale
