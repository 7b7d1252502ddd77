#include "sim_hex.h"

namespace ruzazuv::sim {

namespace {

int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : text) {
    if (c == ' ') continue;
    const int n = nibble(c);
    if (n < 0) return std::nullopt;
    if (high < 0) {
      high = n;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + n));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

std::string toHex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

}  // namespace ruzazuv::sim
