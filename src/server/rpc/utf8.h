// UTF-8 decoding shared by the JSON reader, the writer and the property conversions: strict
// (no overlong forms, no surrogates, nothing beyond U+10FFFF), one code point at a time.
#pragma once

#include <cstddef>
#include <string_view>

namespace ruzazuv::utf8 {

inline constexpr char32_t kInvalid = 0xFFFFFFFF;
inline constexpr char32_t kReplacement = 0xFFFD;

// The code point starting at text[*i], advancing *i past it. A malformed sequence gives
// kInvalid and is skipped as one unit, up to the first byte that cannot continue it (its
// "maximal subpart", the unit of one U+FFFD).
inline char32_t decode(std::string_view text, std::size_t* i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = byte(*i);
  ++*i;
  if (b < 0x80) return b;
  if (b < 0xC2 || b > 0xF4) return kInvalid;
  const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
  char32_t c = length == 4 ? (b & 0x07u) : length == 3 ? (b & 0x0Fu) : (b & 0x1Fu);
  for (std::size_t k = 1; k < length; ++k) {
    if (*i >= text.size()) return kInvalid;
    const unsigned char next = byte(*i);
    // The second byte's range excludes overlong forms, surrogates and values past U+10FFFF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (k == 1) {
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    }
    if (next < low || next > high) return kInvalid;
    c = (c << 6) | (next & 0x3Fu);
    ++*i;
  }
  return c;
}

// Appends the UTF-8 form of `c` (a code point that is no surrogate) through `put(char)`.
template <typename Put>
void encode(char32_t c, Put&& put) {
  if (c < 0x80) {
    put(static_cast<char>(c));
  } else if (c < 0x800) {
    put(static_cast<char>(0xC0 | (c >> 6)));
    put(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    put(static_cast<char>(0xE0 | (c >> 12)));
    put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    put(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    put(static_cast<char>(0xF0 | (c >> 18)));
    put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    put(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace ruzazuv::utf8
