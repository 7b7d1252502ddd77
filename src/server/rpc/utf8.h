// UTF-8 decoding shared by the JSON reader, the writer and the property conversions: strict
// (no overlong forms, no surrogates, nothing beyond U+10FFFF), one code point at a time.
#pragma once

#include <cstddef>
#include <string_view>

namespace ruzazuv::utf8 {

inline constexpr char32_t kInvalid = 0xFFFFFFFF;
inline constexpr char32_t kReplacement = 0xFFFD;

// The code point starting at text[*i], advancing *i past it; kInvalid (advancing one byte) for
// a malformed sequence.
inline char32_t decode(std::string_view text, std::size_t* i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = byte(*i);
  if (b < 0x80) {
    ++*i;
    return b;
  }
  const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
  if (length == 0 || b > 0xF4 || *i + length > text.size()) {
    ++*i;
    return kInvalid;
  }
  char32_t c = length == 4 ? (b & 0x07u) : length == 3 ? (b & 0x0Fu) : (b & 0x1Fu);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(*i + k) & 0xC0) != 0x80) {
      ++*i;
      return kInvalid;
    }
    c = (c << 6) | (byte(*i + k) & 0x3Fu);
  }
  static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMinimum[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
    ++*i;
    return kInvalid;
  }
  *i += length;
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
