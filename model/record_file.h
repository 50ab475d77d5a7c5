#pragma once

#include <cstddef>
#include <string>

namespace mistvale {

// The file operations of the record of values (and the plain writing the tree file shares), per
// system (record_file_linux.cpp).

// Opens path for appending, creating it when missing. Returns the descriptor or -1 (errno set);
// *empty tells whether the file holds nothing yet.
int OpenForAppending(const std::string& path, bool* empty);
// Writes all bytes (at the end, on a descriptor opened for appending). 0 with errno set when the
// file cannot take them.
int WriteAllBytes(int fd, const char* data, std::size_t size);
// 0 when the open file has been removed from its folder (its last name is gone).
int FileStillNamed(int fd);
void CloseFile(int fd);

} // namespace mistvale
