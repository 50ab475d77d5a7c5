#pragma once
// The last few failures the program met (a device that did not answer, a write that was refused), kept
// in a fixed buffer so that a crash report can copy them under "Log:" without allocating.
#include <cstddef>

namespace mistvale {

inline constexpr int kCrashLogLines = 16;
inline constexpr int kCrashLogLineLength = 160;

// Keeps `text` (cut to the line length) with the time of day, dropping the oldest line. Any thread.
void NoteForCrashReport(const char* text);

// Copies the kept lines, oldest first, each ended by CR LF, into out (zero-terminated). Async-signal-
// safe: no locks, no allocation (a line being written at that moment may come out torn).
void CopyCrashLog(char* out, size_t capacity);

} // namespace mistvale
