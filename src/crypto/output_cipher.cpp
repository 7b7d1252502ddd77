#include "crypto/output_cipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

namespace ruzazuv {

namespace {

const EVP_CIPHER* ecbCipherFor(int keyLength) {
  switch (keyLength) {
    case 16:
      return EVP_aes_128_ecb();
    case 24:
      return EVP_aes_192_ecb();
    case 32:
      return EVP_aes_256_ecb();
    default:
      return nullptr;
  }
}

// Library failures are not misuse of the object, so they are not CipherError.
[[noreturn]] void libraryFailure() {
  throw std::runtime_error("AES block function failed");
}

// Owns a context until it is handed over, so a failed key setup frees it.
struct CtxGuard {
  EVP_CIPHER_CTX* ctx;
  ~CtxGuard() { EVP_CIPHER_CTX_free(ctx); }
};

}  // namespace

OutputCipher::~OutputCipher() {
  release();
}

OutputCipher::OutputCipher(OutputCipher&& other) noexcept
    : ctx_(std::exchange(other.ctx_, nullptr)),
      initialized_(std::exchange(other.initialized_, false)),
      blockSize_(other.blockSize_),
      keyLength_(other.keyLength_),
      initialChain_(other.initialChain_),
      chain_(other.chain_) {
  OPENSSL_cleanse(other.initialChain_.data(), other.initialChain_.size());
  OPENSSL_cleanse(other.chain_.data(), other.chain_.size());
}

OutputCipher& OutputCipher::operator=(OutputCipher&& other) noexcept {
  if (this != &other) {
    release();
    ctx_ = std::exchange(other.ctx_, nullptr);
    initialized_ = std::exchange(other.initialized_, false);
    blockSize_ = other.blockSize_;
    keyLength_ = other.keyLength_;
    initialChain_ = other.initialChain_;
    chain_ = other.chain_;
    OPENSSL_cleanse(other.initialChain_.data(), other.initialChain_.size());
    OPENSSL_cleanse(other.chain_.data(), other.chain_.size());
  }
  return *this;
}

void OutputCipher::release() noexcept {
  // Freeing the context wipes the expanded key held inside it.
  EVP_CIPHER_CTX_free(ctx_);
  ctx_ = nullptr;
  initialized_ = false;
  OPENSSL_cleanse(initialChain_.data(), initialChain_.size());
  OPENSSL_cleanse(chain_.data(), chain_.size());
}

void OutputCipher::makeKey(const char* key, const char* chain, int keyLength, int blockSize) {
  if (key == nullptr) throw CipherError("Empty key");
  const EVP_CIPHER* cipher = ecbCipherFor(keyLength);
  if (cipher == nullptr) throw CipherError("Incorrect key length");
  if (blockSize != kBlockSize) throw CipherError("Incorrect block length");

  // Key a fresh context and swap it in only once it works, so a failure keeps the old key.
  CtxGuard fresh{EVP_CIPHER_CTX_new()};
  if (fresh.ctx == nullptr) libraryFailure();
  if (EVP_EncryptInit_ex(fresh.ctx, cipher, nullptr, reinterpret_cast<const unsigned char*>(key),
                         nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(fresh.ctx, 0) != 1) {
    libraryFailure();
  }

  std::array<std::uint8_t, kBlockSize> chainBlock{};
  if (chain != nullptr) std::memcpy(chainBlock.data(), chain, chainBlock.size());

  std::swap(ctx_, fresh.ctx);
  keyLength_ = keyLength;
  blockSize_ = blockSize;
  initialChain_ = chainBlock;
  chain_ = chainBlock;
  initialized_ = true;
  OPENSSL_cleanse(chainBlock.data(), chainBlock.size());
}

void OutputCipher::ecb(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  // EVP takes int lengths; feed very large inputs in block-aligned pieces.
  constexpr std::size_t kMaxPiece = (INT_MAX / kBlockSize) * kBlockSize;
  while (n > 0) {
    const std::size_t piece = std::min(n, kMaxPiece);
    int written = 0;
    if (EVP_EncryptUpdate(ctx_, out, &written, in, static_cast<int>(piece)) != 1 ||
        static_cast<std::size_t>(written) != piece) {
      libraryFailure();
    }
    in += piece;
    out += piece;
    n -= piece;
  }
}

void OutputCipher::encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n, int mode) {
  if (!initialized_) throw CipherError("Object not Initialized");
  const auto block = static_cast<std::size_t>(blockSize_);
  if (n == 0 || n % block != 0) throw CipherError("Data not multiple of Block Size");

  switch (mode) {
    case kCbc:
      // V = V xor in; out = E(V); V = out
      for (std::size_t off = 0; off < n; off += block) {
        for (std::size_t i = 0; i < block; ++i) chain_[i] ^= in[off + i];
        ecb(chain_.data(), chain_.data(), block);
        std::memcpy(out + off, chain_.data(), block);
      }
      break;
    case kCfb:
      // out = E(V) xor in; V = out
      for (std::size_t off = 0; off < n; off += block) {
        ecb(chain_.data(), chain_.data(), block);
        for (std::size_t i = 0; i < block; ++i) chain_[i] ^= in[off + i];
        std::memcpy(out + off, chain_.data(), block);
      }
      break;
    default:
      ecb(in, out, n);
      break;
  }
}

}  // namespace ruzazuv
