// The AES block function under the output cipher: a key schedule that encrypts whole 16-byte
// blocks independently (ECB, no padding). Its one implementation per system is OpenSSL's
// libcrypto (aes_block_openssl.cpp) or Windows' CNG (aes_block_cng.cpp); the chaining modes and
// the checks stay in output_cipher.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ruzazuv {

class AesBlockKey {
 public:
  // Expands `key` (keyLength 16, 24 or 32 bytes; the caller has checked it). Throws
  // std::runtime_error("AES block function failed") when the library cannot provide it.
  AesBlockKey(const std::uint8_t* key, int keyLength);
  // Releases the schedule, which the library wipes.
  ~AesBlockKey();
  AesBlockKey(const AesBlockKey&) = delete;
  AesBlockKey& operator=(const AesBlockKey&) = delete;

  // Encrypts n bytes (a multiple of 16) from `in` to `out`, which may be the same buffer.
  // Allocates nothing. Throws std::runtime_error as the constructor does.
  void encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

 private:
  struct State;
  State* state_;
};

// Overwrites n bytes with zeros in a way the compiler does not drop.
void wipeBytes(void* data, std::size_t n) noexcept;

}  // namespace ruzazuv
