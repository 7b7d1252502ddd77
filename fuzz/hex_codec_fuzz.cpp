// The hex codec on any text and count: it must never read past the text or write past count.
#include <cstdint>
#include <string_view>
#include <vector>

#include "apdu/hex_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int count = data[0] % 140 - 8;  // negative and zero counts too
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::uint8_t> out(count > 0 ? static_cast<std::size_t>(count) : 0);
  int n = ruzazuv::HexToBytes(text, out.data(), count);
  if (n != (count > 0 ? count : 0)) __builtin_trap();
  std::string hex = ruzazuv::BytesToHex(out.data(), out.size());
  if (hex.size() != out.size() * 2) __builtin_trap();
  // Upper-case hex survives the round trip.
  std::vector<std::uint8_t> back(out.size());
  ruzazuv::HexToBytes(hex, back.data(), static_cast<int>(back.size()));
  if (back != out) __builtin_trap();
  return 0;
}
