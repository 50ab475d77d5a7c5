// Update files are verified by the maker's Ed25519 signature of this file, version and name.
#include "tests/support/temp_dir.h"
#include "update/update_signature.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

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

} // namespace

TEST(UpdateSignature, OnlyTheMakersSignatureOfThisFileVersionAndNameVerifies) {
    TempDir folder;
    const fs::path file = folder.File("mistvale_new");
    ASSERT_TRUE(folder.WriteFile("mistvale_new", "new program bytes"));
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
    ASSERT_TRUE(folder.WriteFile("mistvale_new", "new program bytez"));
    EXPECT_EQ(VerifyUpdateFile(path, "1.10", "mistvale", good, maker.PublicBase64()), 0);
    EXPECT_EQ(VerifyUpdateFile(folder.File("missing"), "1.10", "mistvale", good, maker.PublicBase64()), 0);
}

} // namespace mistvale
