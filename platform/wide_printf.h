#pragma once
// A printf over UTF-16 in the manner of the Microsoft C library's wide printf (the C library's own
// wide printf works on 32-bit wchar_t here). WideString::Format is built on it; the directives are
// listed there.

#include <cstdarg>
#include <cstddef>

namespace mistvale {

// Where the output goes: the first `room` units land in buffer (which may be nullptr when room is 0),
// every unit is counted. A wide-string argument that points into [guardBegin, guardEnd) sets aliased,
// so a caller printing into a buffer can tell that an argument lives in that same buffer.
struct WidePrintSink {
    char16_t* buffer = nullptr;
    size_t room = 0;
    size_t count = 0;
    const char16_t* guardBegin = nullptr;
    const char16_t* guardEnd = nullptr;
    bool aliased = false;

    void Put(char16_t unit) {
        if (count < room)
            buffer[count] = unit;
        ++count;
    }
    void PutRepeat(char16_t unit, size_t n);
    void PutUnits(const char16_t* units, size_t n);
    void PutNarrow(const char* ascii, size_t n);
};

// Prints format with args into sink; returns the number of units produced (sink.count). Writes no
// terminator. A nullptr format produces nothing.
size_t WidePrintV(WidePrintSink& sink, const char16_t* format, va_list args);

} // namespace mistvale
