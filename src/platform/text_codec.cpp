#include "platform/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace ruzazuv {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void appendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

// Runs iconv over the whole input, substituting `replacement` for every unconvertible unit:
// `unit` bytes, or for UTF-8 input (unit 0) one whole character.
std::string iconvAll(const char* to, const char* from, const char* in, std::size_t inLength,
                     std::size_t unit, std::string_view replacement) {
  iconv_t cd = iconv_open(to, from);
  std::string out;
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  std::vector<char> buffer(inLength * 4 + 16);
  char* src = const_cast<char*>(in);
  std::size_t srcLeft = inLength;
  while (srcLeft > 0) {
    char* dst = buffer.data();
    std::size_t dstLeft = buffer.size();
    std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer.data(), static_cast<std::size_t>(dst - buffer.data()));
    if (rc == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: skip the unconvertible character and mark it. From UTF-8 that is the
      // whole sequence its lead byte announces, so one character gives one mark.
      out.append(replacement);
      std::size_t skip = unit;
      if (unit == 0) {
        const auto lead = static_cast<unsigned char>(*src);
        skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        for (std::size_t k = 1; k < skip && k < srcLeft; ++k)
          if ((static_cast<unsigned char>(src[k]) & 0xC0) != 0x80) skip = k;
      }
      skip = std::min(skip, srcLeft);
      src += skip;
      srcLeft -= skip;
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string utf16ToUtf8(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(out, c);
  }
  return out;
}

std::u16string utf8ToUtf16(std::string_view narrow) {
  std::u16string out;
  out.reserve(narrow.size());
  std::size_t i = 0;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(narrow[k]); };
  while (i < narrow.size()) {
    unsigned char b = byte(i);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    char32_t c = length == 4 ? (b & 0x07u) : length == 3 ? (b & 0x0Fu) : (b & 0x1Fu);
    bool ok = length != 0 && b < 0xF5 && i + length <= narrow.size();
    for (std::size_t k = 1; ok && k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (byte(i + k) & 0x3Fu);
    }
    // Reject overlong forms, surrogates and values beyond U+10FFFF.
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (ok && (c < kMinimum[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)) ok = false;
    if (!ok) {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    appendUtf16(out, c);
    i += length;
  }
  return out;
}

TextCodec::TextCodec(std::string codePage)
    : codePage_(std::move(codePage)), utf8_(codePage_ == "UTF-8" || codePage_ == "utf-8") {}

std::string TextCodec::toNarrow(std::u16string_view wide) const {
  if (utf8_) return utf16ToUtf8(wide);
  std::string utf8 = utf16ToUtf8(wide);
  return iconvAll(codePage_.c_str(), "UTF-8", utf8.data(), utf8.size(), 0, "?");
}

std::u16string TextCodec::toWide(std::string_view narrow) const {
  if (utf8_) return utf8ToUtf16(narrow);
  std::string utf8 =
      iconvAll("UTF-8", codePage_.c_str(), narrow.data(), narrow.size(), 1, "\xEF\xBF\xBD");
  return utf8ToUtf16(utf8);
}

}  // namespace ruzazuv
