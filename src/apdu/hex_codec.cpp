#include "apdu/hex_codec.h"

namespace ruzazuv {
namespace {

int nibbleValue(char c) {
  auto s = static_cast<signed char>(c);
  return s <= '9' ? s - 48 : s - 55;
}

constexpr char kDigits[] = "0123456789ABCDEF";

}  // namespace

int HexToBytes(std::string_view text, std::uint8_t* dest, int count) {
  if (count <= 0) return 0;
  const auto at = [&text](std::size_t i) { return i < text.size() ? text[i] : 'F'; };
  for (int i = 0; i < count; ++i) {
    std::size_t k = static_cast<std::size_t>(i) * 2;
    int value = nibbleValue(at(k)) * 16 + nibbleValue(at(k + 1));
    dest[i] = static_cast<std::uint8_t>(value & 0xFF);
  }
  return count;
}

std::string BytesToHex(int count, const std::uint8_t* bytes) {
  std::string out;
  if (count <= 0) return out;
  out.resize(static_cast<std::size_t>(count) * 2);
  for (int i = 0; i < count; ++i) {
    out[static_cast<std::size_t>(i) * 2] = kDigits[bytes[i] >> 4];
    out[static_cast<std::size_t>(i) * 2 + 1] = kDigits[bytes[i] & 0x0F];
  }
  return out;
}

std::string SliceBytes(const std::uint8_t* source, std::size_t offset, int count) {
  if (count <= 0) return {};
  return std::string(reinterpret_cast<const char*>(source + offset),
                     static_cast<std::size_t>(count));
}

}  // namespace ruzazuv
