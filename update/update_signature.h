#pragma once
// Signatures of update files. The maker signs, with an Ed25519 private key, the message
//     SHA-256(file) (32 bytes) || offered version text (UTF-8) || 0x00 || entry name (UTF-8)
// so that a signed file cannot be offered as another version or under another name. The entry name is
// the entry's "name" value, else its "zip" value, else the run file's name. Keys and signatures travel
// as base64: the public key is the raw 32 bytes, the signature the raw 64 bytes.
#include <string>

namespace mistvale {

// The message for a file's digest; empty when the file cannot be read.
std::string UpdateSignedMessage(const std::string& filePath, const std::string& versionText,
                                const std::string& entryName);

// 1 when signatureBase64 is a valid signature of the message by publicKeyBase64; 0 for a missing,
// malformed or wrong signature, a malformed key or an unreadable file.
int VerifyUpdateFile(const std::string& filePath, const std::string& versionText,
                     const std::string& entryName, const std::string& signatureBase64,
                     const std::string& publicKeyBase64);

// 1 when signatureBase64 is a valid signature of bytes (the manifest, exactly as served) by
// publicKeyBase64.
int VerifyUpdateBytes(const std::string& bytes, const std::string& signatureBase64,
                      const std::string& publicKeyBase64);

// Base64 (standard alphabet, padding required, blanks ignored); false for anything else.
bool DecodeBase64(const std::string& text, std::string& out);

} // namespace mistvale
