// AES cipher object with ECB, CBC and CFB modes over whole 16-byte blocks.
//
// The AES block function is the system's (crypto/aes_block.h: OpenSSL's libcrypto, or CNG on
// Windows); this class adds the key setup checks, the chaining modes and the error messages that
// callers rely on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace ruzazuv {

// The keyed block function, kept opaque so that users of this header never see the library.
class AesBlockKey;

// Misuse of the cipher object. what() is exactly one of: "Empty key", "Incorrect key length",
// "Incorrect block length", "Object not Initialized", "Data not multiple of Block Size".
class CipherError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class OutputCipher {
 public:
  static constexpr int kBlockSize = 16;

  enum Mode : int { kEcb = 0, kCbc = 1, kCfb = 2 };

  OutputCipher() = default;
  ~OutputCipher();
  OutputCipher(const OutputCipher&) = delete;
  OutputCipher& operator=(const OutputCipher&) = delete;
  // A moved-from object is no longer initialised.
  OutputCipher(OutputCipher&& other) noexcept;
  OutputCipher& operator=(OutputCipher&& other) noexcept;

  // Keys the object. `key` points to keyLength bytes and `chain` to blockSize bytes (binary
  // bytes, zero bytes included); a null `chain` gives an all-zero chaining block. The chaining
  // block becomes both the initial and the current one.
  // Throws CipherError: "Empty key" for a null key, "Incorrect key length" unless keyLength is
  // 16, 24 or 32, "Incorrect block length" unless blockSize is 16 (the 24- and 32-byte Rijndael
  // blocks are not supported). A failed call leaves the object as it was.
  void makeKey(const char* key, const char* chain, int keyLength = 16, int blockSize = 16);

  // Encrypts n bytes from `in` to `out` (which may be the same buffer, but must not partly
  // overlap it). mode 1 is CBC, 2 is CFB, any other number ECB. In CBC and CFB the current
  // chaining block carries over from one call to the next.
  // Throws CipherError: "Object not Initialized" before a successful makeKey, "Data not multiple
  // of Block Size" when n is 0 or not a multiple of the block size.
  void encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n, int mode = kEcb);

  // Restarts chaining from the initial chaining block.
  void resetChain() noexcept { chain_ = initialChain_; }

  bool initialized() const noexcept { return initialized_; }
  int blockSize() const noexcept { return blockSize_; }
  int keyLength() const noexcept { return keyLength_; }
  const std::array<std::uint8_t, kBlockSize>& initialChain() const noexcept {
    return initialChain_;
  }
  const std::array<std::uint8_t, kBlockSize>& currentChain() const noexcept { return chain_; }

 private:
  // ECB over whole blocks through the keyed block function; allocates nothing.
  void ecb(const std::uint8_t* in, std::uint8_t* out, std::size_t n);
  void release() noexcept;

  AesBlockKey* key_ = nullptr;
  bool initialized_ = false;
  int blockSize_ = kBlockSize;
  int keyLength_ = 16;
  std::array<std::uint8_t, kBlockSize> initialChain_{};
  std::array<std::uint8_t, kBlockSize> chain_{};
};

}  // namespace ruzazuv
