// The service's cryptography: random identifiers and tokens, digests, upload
// signatures, constant-time comparison and gallery password hashes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keepframe::gallery {

// `bytes` random bytes from the system's generator, as lower-case hex.
// Throws std::runtime_error when the generator fails (never a weak value).
std::string randomHex(size_t bytes);

// An identifier the service hands out: `prefix` + 16 random hex digits
// ("g_3f9a…"). Only such names become parts of storage paths.
std::string newId(std::string_view prefix);

// Whether `id` has the form newId makes: letters, digits and "_" only, 3 to 64 characters.
bool isServiceId(std::string_view id);

// A photographer's bearer token: "kfg_" + 64 hex digits (256 random bits).
std::string newToken();

// SHA-256 of the text, lower-case hex: how tokens and session keys are stored.
std::string sha256Hex(std::string_view text);

// HMAC-SHA-256 of `message` under `key`, lower-case hex.
std::string hmacSha256Hex(std::string_view key, std::string_view message);

// Equal in length and content, compared in time that does not depend on
// where the texts differ.
bool constantTimeEqual(std::string_view a, std::string_view b);

// Standard Base64 (with padding, no line breaks) decoded; nothing for any
// other text.
std::optional<std::vector<uint8_t>> decodeBase64(std::string_view text);
std::string encodeBase64(const uint8_t* data, size_t size);

struct PasswordHashing {
    uint32_t iterations = 2;
    uint32_t memoryKiB = 19 * 1024;
    uint32_t lanes = 1;
};

// The Argon2id hash of a password with a fresh 16-byte salt, in the encoded
// form that carries its parameters ("$argon2id$v=19$m=…"). Throws
// std::runtime_error when hashing fails.
std::string hashPassword(std::string_view password, const PasswordHashing& cost);
// Whether `password` matches an encoded Argon2id hash; false for a hash that
// cannot be read.
bool verifyPassword(std::string_view password, const std::string& encoded);

}  // namespace keepframe::gallery
