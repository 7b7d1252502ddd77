// Hex text <-> bytes: two characters per byte, high nibble first, 0-9 and upper-case A-F.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ruzazuv {

// Converts the first 2 * count characters of `text` into `count` bytes at `dest` and returns
// count (0, writing nothing, when count <= 0). Nothing is validated: a character at or below
// '9' in a signed 8-bit comparison is c - 48, any other c - 55, and the byte is taken modulo
// 256 ("1a" gives 0x3A). Characters beyond the end of `text` convert as 'F'.
int HexToBytes(std::string_view text, std::uint8_t* dest, int count);

// 2 * count upper-case hex characters; empty for count <= 0.
std::string BytesToHex(int count, const std::uint8_t* bytes);
inline std::string BytesToHex(const std::uint8_t* bytes, std::size_t count) {
  return BytesToHex(static_cast<int>(count), bytes);
}

// source[offset] .. source[offset + count - 1] as a byte string; empty for count <= 0.
std::string SliceBytes(const std::uint8_t* source, std::size_t offset, int count);

}  // namespace ruzazuv
