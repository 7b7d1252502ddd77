#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

#include "card_crypto.h"

namespace ruzazuv::sim {

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, 32> digest{};
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != digest.size()) {
    throw std::runtime_error("SHA-256 unavailable");
  }
  return digest;
}

bool systemRandomBytes(std::span<std::uint8_t> out) {
  return RAND_bytes(out.data(), static_cast<int>(out.size())) == 1;
}

}  // namespace ruzazuv::sim
