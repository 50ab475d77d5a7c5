#pragma once
// Unpacks every entry of a zip archive into a folder, so that the archive's files stand there
// afterwards. The archive is checked whole before anything is written, and unpacked into a temporary
// folder inside the target first; only a complete, clean unpack is moved into place. The archive is
// refused when an entry's name is absolute or holds a ".." segment, a backslash or a control character,
// when an entry is a symbolic link or encrypted (no password is ever supplied), or when the entries
// unpack larger than declared or past the limits below. Executable bits are kept; set-user and
// set-group bits are dropped.
#include <cstdint>
#include <string>

namespace mistvale {

enum class ZipResult {
    Ok,
    CannotOpen,  // not a readable zip archive
    UnsafeEntry, // a name that leaves the folder, or a link
    Encrypted,
    TooLarge, // an entry or the whole past its limit or its declared size
    TooMany,  // more entries than allowed
    ReadFailed,
    WriteFailed,
};

struct ZipLimits {
    std::uint64_t maxTotalBytes = 512ull << 20;
    std::uint64_t maxEntries = 10000;
};

ZipResult ExtractZip(const std::string& archivePath, const std::string& folder, const ZipLimits& limits = {});

const char* ZipResultText(ZipResult result);

} // namespace mistvale
