#include "update/update_signature.h"
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

} // namespace mistvale
