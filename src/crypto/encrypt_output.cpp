#include "crypto/encrypt_output.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ruzazuv {

namespace {

constexpr std::size_t kBlock = OutputCipher::kBlockSize;
// Plaintexts up to this size are built on the stack; larger ones go to the heap.
constexpr std::size_t kStackBuffer = 1024;

std::string toUpperHex(const std::uint8_t* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex(2 * n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    hex[2 * i] = kDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

// Lays out tac, optionData1 and the '0' padding in buf (n bytes), encrypts it in place and
// returns the hex of the ciphertext.
std::string encryptInto(OutputCipher& cipher, std::uint8_t* buf, std::size_t n,
                        std::string_view tac, std::string_view optionData1) {
  std::memset(buf, '0', n);
  if (!tac.empty()) std::memcpy(buf, tac.data(), tac.size());
  if (!optionData1.empty()) std::memcpy(buf + tac.size(), optionData1.data(), optionData1.size());
  cipher.encrypt(buf, buf, n, OutputCipher::kEcb);
  return toUpperHex(buf, n);
}

}  // namespace

std::string encryptOutputHex(OutputCipher& cipher, std::string_view tac,
                             std::string_view optionData1) {
  const std::size_t length = tac.size() + optionData1.size();
  const std::size_t padding = (kBlock - length % kBlock) % kBlock;
  const std::size_t n = length + padding;

  if (n <= kStackBuffer) {
    std::array<std::uint8_t, kStackBuffer> buf;
    return encryptInto(cipher, buf.data(), n, tac, optionData1);
  }
  std::vector<std::uint8_t> buf(n);
  return encryptInto(cipher, buf.data(), n, tac, optionData1);
}

std::optional<std::string> tryEncryptOutputHex(OutputCipher& cipher, std::string_view tac,
                                               std::string_view optionData1) {
  try {
    return encryptOutputHex(cipher, tac, optionData1);
  } catch (const CipherError&) {
    return std::nullopt;
  }
}

}  // namespace ruzazuv
