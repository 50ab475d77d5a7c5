#pragma once
// Builds zip archives for the tests with libzip, including the kinds a packer should never write
// (names with "..", links, encrypted entries).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mistvale {

struct ZipEntry {
    std::string name;
    std::string data;
    std::uint32_t mode = 0100644; // with the file type bits, as zip tools store them
    bool encrypt = false;
};

bool MakeZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries);

} // namespace mistvale
