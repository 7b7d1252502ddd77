// The two cryptographic services the card model needs from the system: SHA-256 for its
// authorisation codes and random bytes for its challenge. OpenSSL's libcrypto on Linux
// (card_crypto_openssl.cpp), CNG on Windows (card_crypto_cng.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace ruzazuv::sim {

// Throws std::runtime_error("SHA-256 unavailable") when the library cannot compute it.
std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> data);
// Fills `out` from the system's random generator; false when it cannot.
bool systemRandomBytes(std::span<std::uint8_t> out);

}  // namespace ruzazuv::sim
