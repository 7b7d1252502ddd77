// The AES block function from Windows' CNG: the AES provider in ECB chaining mode, keyed once,
// encrypting without padding.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <stdexcept>

#include "crypto/aes_block.h"

namespace ruzazuv {
namespace {

[[noreturn]] void libraryFailure() {
  throw std::runtime_error("AES block function failed");
}

bool succeeded(NTSTATUS status) {
  return status >= 0;
}

}  // namespace

struct AesBlockKey::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;

  ~State() {
    // Destroying the key object wipes the schedule inside it.
    if (key != nullptr) BCryptDestroyKey(key);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

AesBlockKey::AesBlockKey(const std::uint8_t* key, int keyLength) : state_(new State) {
  wchar_t ecb[] = BCRYPT_CHAIN_MODE_ECB;
  if (!succeeded(
          BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0)) ||
      !succeeded(BCryptSetProperty(state_->algorithm, BCRYPT_CHAINING_MODE,
                                   reinterpret_cast<PUCHAR>(ecb), sizeof(ecb), 0)) ||
      !succeeded(BCryptGenerateSymmetricKey(state_->algorithm, &state_->key, nullptr, 0,
                                            const_cast<PUCHAR>(key), static_cast<ULONG>(keyLength),
                                            0))) {
    delete state_;
    libraryFailure();
  }
}

AesBlockKey::~AesBlockKey() {
  delete state_;
}

void AesBlockKey::encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  // BCryptEncrypt takes ULONG lengths; feed very large inputs in block-aligned pieces.
  constexpr std::size_t kMaxPiece = (0xFFFFFFFFu / 16) * 16;
  while (n > 0) {
    const std::size_t piece = std::min(n, kMaxPiece);
    ULONG written = 0;
    const NTSTATUS status =
        BCryptEncrypt(state_->key, const_cast<PUCHAR>(in), static_cast<ULONG>(piece), nullptr,
                      nullptr, 0, out, static_cast<ULONG>(piece), &written, 0);
    if (!succeeded(status) || written != piece) libraryFailure();
    in += piece;
    out += piece;
    n -= piece;
  }
}

void wipeBytes(void* data, std::size_t n) noexcept {
  SecureZeroMemory(data, n);
}

}  // namespace ruzazuv
