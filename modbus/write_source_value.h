#pragma once

#include "platform/wide_string.h"

namespace mistvale {

class Group;
class Source;

// Writes a typed text into the source's register(s) according to its format, over a link opened for
// this write. On success the source's value text becomes the typed text exactly as typed, on failure
// "Can't set value." with the reason. Returns 1 on success. Sources of input registers, discrete inputs
// and functions 7 and 9 are read-only: nothing is sent. A value of several registers (float, text) goes
// out as one Write Multiple Registers request (123 registers each at most); a device that refuses
// that function gets single-register writes, for the rest of the run. A text for a "stringN" source
// is padded with zero registers to N, and refused when longer than 2N characters.
int WriteSourceValue(Group& group, Source& source, const WideString& typed);
// The same with the source's own group (fails when it has none).
int WriteSourceValue(Source& source, const WideString& typed);

} // namespace mistvale
