#include "update/zip_extract.h"
#include "zip_maker.h"

#include <sys/stat.h>
#include <zip.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace mistvale {

namespace fs = std::filesystem;

namespace {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "mistvale-update-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code error;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(path_, error);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// Everything below a folder, as "relative path" strings, sorted.
std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(ZipExtract, UnpacksFilesAndFoldersKeepingExecutableBitsOnly) {
    TempFolder folder;
    const fs::path archive = folder.Path() / "bundle.zip";
    const fs::path target = folder.Path() / "program";
    fs::create_directory(target);
    WriteFile(target / "mistvale", "old");
    ASSERT_TRUE(MakeZip(archive, {{"mistvale", "new program", 0104755},
                                  {"share/", "", 040755},
                                  {"share/readme.txt", "hello", 0100644},
                                  {"tools/helper", "#!/bin/sh\n", 0102775}}));
    ASSERT_EQ(ExtractZip(archive.string(), target.string()), ZipResult::Ok);
    EXPECT_EQ(ReadFile(target / "mistvale"), "new program");
    EXPECT_EQ(ReadFile(target / "share/readme.txt"), "hello");
    struct stat info;
    ASSERT_EQ(stat((target / "mistvale").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u); // set-user bit dropped, executable kept
    ASSERT_EQ(stat((target / "tools/helper").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0775u); // set-group bit dropped
    ASSERT_EQ(stat((target / "share/readme.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    // The staging folder is gone.
    EXPECT_EQ(Listing(target),
              (std::vector<std::string>{"mistvale", "share", "share/readme.txt", "tools", "tools/helper"}));
}

// Each archive that could write outside the folder, or more than it admits, is refused whole: not
// even its harmless first entry reaches the folder.
TEST(ZipExtract, RefusesTraversalLinksBombsAndEncryptionLeavingTheFolderAsItWas) {
    TempFolder folder;
    const fs::path target = folder.Path() / "program";
    fs::create_directory(target);
    WriteFile(target / "mistvale", "set aside state");
    fs::create_directory(folder.Path() / "outside");
    fs::create_directory_symlink(folder.Path() / "outside", target / "linked");
    const std::vector<std::string> before = Listing(target);
    struct Case {
        const char* what;
        std::vector<ZipEntry> entries;
        ZipResult expected;
        ZipLimits limits;
    };
    const std::string mebibyte(1 << 20, '\0');
    ZipLimits small;
    small.maxTotalBytes = 512 << 10;
    ZipLimits few;
    few.maxEntries = 3;
    const std::vector<Case> cases = {
        {"parent segment", {{"ok.txt", "x"}, {"../evil", "x"}}, ZipResult::UnsafeEntry, {}},
        {"inner parent segment", {{"ok.txt", "x"}, {"share/../../evil", "x"}}, ZipResult::UnsafeEntry, {}},
        {"absolute", {{"ok.txt", "x"}, {"/tmp/evil", "x"}}, ZipResult::UnsafeEntry, {}},
        {"backslash", {{"ok.txt", "x"}, {"..\\evil", "x"}}, ZipResult::UnsafeEntry, {}},
        {"control character", {{"ok.txt", "x"}, {"ev\nil", "x"}}, ZipResult::UnsafeEntry, {}},
        {"symbolic link", {{"ok.txt", "x"}, {"link", "/etc/passwd", 0120777}}, ZipResult::UnsafeEntry, {}},
        {"through a link in the folder", {{"ok.txt", "x"}, {"linked/evil", "x"}}, ZipResult::UnsafeEntry, {}},
        {"bomb past the cap", {{"ok.txt", "x"}, {"zeros", mebibyte}}, ZipResult::TooLarge, small},
        {"too many entries", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}, ZipResult::TooMany, few},
        {"encrypted", {{"ok.txt", "x"}, {"secret.txt", "x", 0100644, true}}, ZipResult::Encrypted, {}},
    };
    for (const Case& c : cases) {
        const fs::path archive = folder.Path() / "case.zip";
        ASSERT_TRUE(MakeZip(archive, c.entries)) << c.what;
        EXPECT_EQ(ExtractZip(archive.string(), target.string(), c.limits), c.expected) << c.what;
        EXPECT_EQ(Listing(target), before) << c.what;
        EXPECT_TRUE(fs::is_empty(folder.Path() / "outside")) << c.what;
        EXPECT_FALSE(fs::exists(folder.Path() / "evil")) << c.what;
    }
    WriteFile(folder.Path() / "not.zip", "PK but not really");
    EXPECT_EQ(ExtractZip((folder.Path() / "not.zip").string(), target.string()), ZipResult::CannotOpen);
    EXPECT_EQ(ReadFile(target / "mistvale"), "set aside state");
}

// An archive whose entry claims a small size but inflates to more is cut off at the claim.
TEST(ZipExtract, EntryLargerThanDeclaredIsRefused) {
    TempFolder folder;
    const fs::path archive = folder.Path() / "liar.zip";
    const std::string data(200000, 'a');
    ASSERT_TRUE(MakeZip(archive, {{"big.txt", data}}));
    // Patch the uncompressed size in both headers to 1000 bytes; the CRC and data stay.
    std::string bytes = ReadFile(archive);
    const auto patch = [&](size_t at) {
        bytes[at] = static_cast<char>(1000 & 0xFF);
        bytes[at + 1] = static_cast<char>(1000 >> 8);
        bytes[at + 2] = 0;
        bytes[at + 3] = 0;
    };
    ASSERT_EQ(bytes.compare(0, 4, "PK\x03\x04"), 0);
    patch(22); // local header: uncompressed size
    const size_t central = bytes.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    patch(central + 24); // central directory: uncompressed size
    WriteFile(archive, bytes);
    const fs::path target = folder.Path() / "program";
    fs::create_directory(target);
    const ZipResult result = ExtractZip(archive.string(), target.string());
    EXPECT_NE(result, ZipResult::Ok);
    EXPECT_FALSE(fs::exists(target / "big.txt"));
    EXPECT_TRUE(fs::is_empty(target));
}

} // namespace mistvale
