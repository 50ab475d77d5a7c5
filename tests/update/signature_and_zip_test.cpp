#include "update/update_signature.h"
#include "update/zip_extract.h"
#include "zip_maker.h"

#include <openssl/evp.h>
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

struct KeyPair {
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key{EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                                                       &EVP_PKEY_free};
    std::string PublicBase64() const {
        unsigned char raw[32];
        size_t length = sizeof raw;
        EVP_PKEY_get_raw_public_key(key.get(), raw, &length);
        return Base64(std::string(reinterpret_cast<char*>(raw), length));
    }
    std::string Sign(const std::string& message) const {
        std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get());
        unsigned char signature[64];
        size_t length = sizeof signature;
        EVP_DigestSign(context.get(), signature, &length,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size());
        return Base64(std::string(reinterpret_cast<char*>(signature), length));
    }
    static std::string Base64(const std::string& bytes) {
        std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
        const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<int>(bytes.size()));
        out.resize(static_cast<size_t>(n));
        return out;
    }
};

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

TEST(UpdateSignature, OnlyTheMakersSignatureOfThisFileVersionAndNameVerifies) {
    TempFolder folder;
    const fs::path file = folder.Path() / "mistvale_new";
    WriteFile(file, "new program bytes");
    KeyPair maker, stranger;
    const std::string path = file.string();
    const std::string good = maker.Sign(UpdateSignedMessage(path, "1.10", "mistvale"));
    EXPECT_EQ(VerifyUpdateFile(path, "1.10", "mistvale", good, maker.PublicBase64()), 1);
    // Another key, another version, another name, no signature, a damaged one, a changed file.
    EXPECT_EQ(VerifyUpdateFile(path, "1.10", "mistvale",
                               stranger.Sign(UpdateSignedMessage(path, "1.10", "mistvale")),
                               maker.PublicBase64()),
              0);
    EXPECT_EQ(VerifyUpdateFile(path, "1.11", "mistvale", good, maker.PublicBase64()), 0);
    EXPECT_EQ(VerifyUpdateFile(path, "1.10", "libother.so", good, maker.PublicBase64()), 0);
    EXPECT_EQ(VerifyUpdateFile(path, "1.10", "mistvale", "", maker.PublicBase64()), 0);
    std::string damaged = good;
    damaged[5] = damaged[5] == 'A' ? 'B' : 'A';
    EXPECT_EQ(VerifyUpdateFile(path, "1.10", "mistvale", damaged, maker.PublicBase64()), 0);
    EXPECT_EQ(VerifyUpdateFile(path, "1.10", "mistvale", good, ""), 0);
    EXPECT_EQ(VerifyUpdateFile(path, "1.10", "mistvale", good, "not base64!"), 0);
    WriteFile(file, "new program bytez");
    EXPECT_EQ(VerifyUpdateFile(path, "1.10", "mistvale", good, maker.PublicBase64()), 0);
    EXPECT_EQ(VerifyUpdateFile((folder.Path() / "missing").string(), "1.10", "mistvale", good,
                               maker.PublicBase64()),
              0);
}

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
