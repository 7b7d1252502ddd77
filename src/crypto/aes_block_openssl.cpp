// The AES block function from OpenSSL's libcrypto (EVP, ECB without padding).
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "crypto/aes_block.h"

namespace ruzazuv {
namespace {

const EVP_CIPHER* ecbCipherFor(int keyLength) {
  switch (keyLength) {
    case 16:
      return EVP_aes_128_ecb();
    case 24:
      return EVP_aes_192_ecb();
    default:
      return EVP_aes_256_ecb();
  }
}

// Library failures are not misuse of the cipher object, so they are not CipherError.
[[noreturn]] void libraryFailure() {
  throw std::runtime_error("AES block function failed");
}

}  // namespace

struct AesBlockKey::State {
  EVP_CIPHER_CTX* ctx = nullptr;
};

AesBlockKey::AesBlockKey(const std::uint8_t* key, int keyLength) : state_(new State) {
  state_->ctx = EVP_CIPHER_CTX_new();
  if (state_->ctx == nullptr ||
      EVP_EncryptInit_ex(state_->ctx, ecbCipherFor(keyLength), nullptr, key, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(state_->ctx, 0) != 1) {
    EVP_CIPHER_CTX_free(state_->ctx);
    delete state_;
    libraryFailure();
  }
}

AesBlockKey::~AesBlockKey() {
  // Freeing the context wipes the expanded key held inside it.
  EVP_CIPHER_CTX_free(state_->ctx);
  delete state_;
}

void AesBlockKey::encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  // EVP takes int lengths; feed very large inputs in block-aligned pieces.
  constexpr std::size_t kMaxPiece = (INT_MAX / 16) * 16;
  while (n > 0) {
    const std::size_t piece = std::min(n, kMaxPiece);
    int written = 0;
    if (EVP_EncryptUpdate(state_->ctx, out, &written, in, static_cast<int>(piece)) != 1 ||
        static_cast<std::size_t>(written) != piece) {
      libraryFailure();
    }
    in += piece;
    out += piece;
    n -= piece;
  }
}

void wipeBytes(void* data, std::size_t n) noexcept {
  OPENSSL_cleanse(data, n);
}

}  // namespace ruzazuv
