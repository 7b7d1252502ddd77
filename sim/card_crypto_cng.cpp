// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <stdexcept>

#include "card_crypto.h"

namespace ruzazuv::sim {

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, 32> digest{};
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
    throw std::runtime_error("SHA-256 unavailable");
  const NTSTATUS status =
      BCryptHash(algorithm, nullptr, 0, const_cast<PUCHAR>(data.data()),
                 static_cast<ULONG>(data.size()), digest.data(), static_cast<ULONG>(digest.size()));
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (status < 0) throw std::runtime_error("SHA-256 unavailable");
  return digest;
}

bool systemRandomBytes(std::span<std::uint8_t> out) {
  return BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(out.size()),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

}  // namespace ruzazuv::sim
