#include "update/update_signature.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

namespace mistvale {

namespace {

bool FileDigest(const std::string& path, unsigned char (&digest)[32]) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return false;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return false;
    unsigned char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        if (EVP_DigestUpdate(context.get(), buffer, got) != 1)
            return false;
    if (std::ferror(file.get()))
        return false;
    unsigned int length = 0;
    return EVP_DigestFinal_ex(context.get(), digest, &length) == 1 && length == 32;
}

} // namespace

bool DecodeBase64(const std::string& text, std::string& out) {
    out.clear();
    std::string compact;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            compact += c;
    if (compact.empty() || compact.size() % 4 != 0)
        return false;
    std::string decoded(compact.size() / 4 * 3, '\0');
    const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                        reinterpret_cast<const unsigned char*>(compact.data()),
                                        static_cast<int>(compact.size()));
    if (written < 0)
        return false;
    // EVP_DecodeBlock counts the padding as zero bytes.
    size_t padding = 0;
    if (compact[compact.size() - 1] == '=')
        ++padding;
    if (compact[compact.size() - 2] == '=')
        ++padding;
    decoded.resize(static_cast<size_t>(written) - padding);
    out = decoded;
    return true;
}

std::string UpdateSignedMessage(const std::string& filePath, const std::string& versionText,
                                const std::string& entryName) {
    unsigned char digest[32];
    if (!FileDigest(filePath, digest))
        return std::string();
    std::string message(reinterpret_cast<const char*>(digest), sizeof digest);
    message += versionText;
    message += '\0';
    message += entryName;
    return message;
}

namespace {

int VerifyMessage(const std::string& message, const std::string& signatureBase64,
                  const std::string& publicKeyBase64) {
    std::string key, signature;
    if (!DecodeBase64(publicKeyBase64, key) || key.size() != 32)
        return 0;
    if (!DecodeBase64(signatureBase64, signature) || signature.size() != 64)
        return 0;
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key.data()), key.size()),
        &EVP_PKEY_free);
    if (!publicKey)
        return 0;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return 0;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1
               ? 1
               : 0;
}

} // namespace

int VerifyUpdateFile(const std::string& filePath, const std::string& versionText,
                     const std::string& entryName, const std::string& signatureBase64,
                     const std::string& publicKeyBase64) {
    const std::string message = UpdateSignedMessage(filePath, versionText, entryName);
    if (message.empty())
        return 0;
    return VerifyMessage(message, signatureBase64, publicKeyBase64);
}

int VerifyUpdateBytes(const std::string& bytes, const std::string& signatureBase64,
                      const std::string& publicKeyBase64) {
    return VerifyMessage(bytes, signatureBase64, publicKeyBase64);
}

} // namespace mistvale
