#include "crypto.h"

#include <argon2.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <stdexcept>

namespace keepframe::gallery {

namespace {

std::string hex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out(size * 2, '0');
    for (size_t i = 0; i < size; ++i) {
        out[2 * i] = digits[data[i] >> 4];
        out[2 * i + 1] = digits[data[i] & 15];
    }
    return out;
}

std::vector<uint8_t> randomBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    if (RAND_bytes(bytes.data(), int(count)) != 1) throw std::runtime_error("the random generator failed");
    return bytes;
}

}  // namespace

std::string randomHex(size_t bytes) {
    const std::vector<uint8_t> random = randomBytes(bytes);
    return hex(random.data(), random.size());
}

std::string newId(std::string_view prefix) { return std::string(prefix) + randomHex(8); }

bool isServiceId(std::string_view id) {
    if (id.size() < 3 || id.size() > 64) return false;
    for (const char c : id)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

std::string newToken() { return "kfg_" + randomHex(32); }

std::string sha256Hex(std::string_view text) {
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const uint8_t*>(text.data()), text.size(), digest);
    return hex(digest, sizeof digest);
}

std::string hmacSha256Hex(std::string_view key, std::string_view message) {
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!HMAC(EVP_sha256(), key.data(), int(key.size()), reinterpret_cast<const uint8_t*>(message.data()),
              message.size(), digest, &length))
        throw std::runtime_error("HMAC failed");
    return hex(digest, length);
}

bool constantTimeEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    return a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::optional<std::vector<uint8_t>> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                            c == '/';
        // Padding only ends the text: "x=" or "==", never "=x".
        const bool padding = c == '=' && (i + 1 == text.size() || (i + 2 == text.size() && text.back() == '='));
        if (!letter && !padding) return std::nullopt;
    }
    std::vector<uint8_t> out(text.size() / 4 * 3 + 1);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const uint8_t*>(text.data()), int(text.size()));
    if (n < 0) return std::nullopt;
    size_t size = size_t(n);
    // EVP_DecodeBlock counts the padding as zero bytes.
    if (!text.empty() && text.back() == '=') --size;
    if (text.size() > 1 && text[text.size() - 2] == '=') --size;
    out.resize(size);
    return out;
}

std::string encodeBase64(const uint8_t* data, size_t size) {
    std::string out((size + 2) / 3 * 4 + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<uint8_t*>(out.data()), data, int(size));
    out.resize(size_t(n));
    return out;
}

std::string hashPassword(std::string_view password, const PasswordHashing& cost) {
    const std::vector<uint8_t> salt = randomBytes(16);
    constexpr size_t kHashLength = 32;
    const size_t length = argon2_encodedlen(cost.iterations, cost.memoryKiB, cost.lanes, uint32_t(salt.size()),
                                            kHashLength, Argon2_id);
    std::string encoded(length, '\0');
    const int rc = argon2id_hash_encoded(cost.iterations, cost.memoryKiB, cost.lanes, password.data(),
                                         password.size(), salt.data(), salt.size(), kHashLength, encoded.data(),
                                         encoded.size());
    if (rc != ARGON2_OK) throw std::runtime_error(std::string("password hashing failed: ") + argon2_error_message(rc));
    encoded.resize(std::char_traits<char>::length(encoded.c_str()));
    return encoded;
}

bool verifyPassword(std::string_view password, const std::string& encoded) {
    if (encoded.rfind("$argon2id$", 0) != 0) return false;
    return argon2id_verify(encoded.c_str(), password.data(), password.size()) == ARGON2_OK;
}

}  // namespace keepframe::gallery
