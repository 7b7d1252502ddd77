#include "crypto/output_cipher.h"

#include <cstring>
#include <memory>
#include <utility>

#include "crypto/aes_block.h"

namespace ruzazuv {

OutputCipher::~OutputCipher() {
  release();
}

OutputCipher::OutputCipher(OutputCipher&& other) noexcept
    : key_(std::exchange(other.key_, nullptr)),
      initialized_(std::exchange(other.initialized_, false)),
      blockSize_(other.blockSize_),
      keyLength_(other.keyLength_),
      initialChain_(other.initialChain_),
      chain_(other.chain_) {
  wipeBytes(other.initialChain_.data(), other.initialChain_.size());
  wipeBytes(other.chain_.data(), other.chain_.size());
}

OutputCipher& OutputCipher::operator=(OutputCipher&& other) noexcept {
  if (this != &other) {
    release();
    key_ = std::exchange(other.key_, nullptr);
    initialized_ = std::exchange(other.initialized_, false);
    blockSize_ = other.blockSize_;
    keyLength_ = other.keyLength_;
    initialChain_ = other.initialChain_;
    chain_ = other.chain_;
    wipeBytes(other.initialChain_.data(), other.initialChain_.size());
    wipeBytes(other.chain_.data(), other.chain_.size());
  }
  return *this;
}

void OutputCipher::release() noexcept {
  // Deleting the block key wipes the expanded key held inside it.
  delete key_;
  key_ = nullptr;
  initialized_ = false;
  wipeBytes(initialChain_.data(), initialChain_.size());
  wipeBytes(chain_.data(), chain_.size());
}

void OutputCipher::makeKey(const char* key, const char* chain, int keyLength, int blockSize) {
  if (key == nullptr) throw CipherError("Empty key");
  if (keyLength != 16 && keyLength != 24 && keyLength != 32)
    throw CipherError("Incorrect key length");
  if (blockSize != kBlockSize) throw CipherError("Incorrect block length");

  // Key a fresh block function and swap it in only once it works, so a failure keeps the old
  // key.
  auto fresh = std::make_unique<AesBlockKey>(reinterpret_cast<const std::uint8_t*>(key), keyLength);

  std::array<std::uint8_t, kBlockSize> chainBlock{};
  if (chain != nullptr) std::memcpy(chainBlock.data(), chain, chainBlock.size());

  delete key_;
  key_ = fresh.release();
  keyLength_ = keyLength;
  blockSize_ = blockSize;
  initialChain_ = chainBlock;
  chain_ = chainBlock;
  initialized_ = true;
  wipeBytes(chainBlock.data(), chainBlock.size());
}

void OutputCipher::ecb(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
  key_->encrypt(in, out, n);
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
