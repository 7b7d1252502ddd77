// TextCodec through iconv: any iconv code page, UTF-8 without it.
#include "platform/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace ruzazuv {
namespace {

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
