#include "cli/line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ruzazuv {

LineReader::Status LineReader::next(SecretString* line) {
  // Bytes beyond a line's size were zeroed before, so zeroing its size clears the buffer.
  secureZero(line->data(), line->size());
  line->clear();
  bool tooLong = false;
  bool any = false;
  for (;;) {
    if (pos_ == len_) {
      secureZero(chunk_.data(), len_);
      pos_ = len_ = 0;
      ssize_t n = 0;
      do {
        n = ::read(fd_, chunk_.data(), chunk_.size());
      } while (n < 0 && errno == EINTR);
      if (n <= 0) {
        if (!any) return Status::kEnd;
        return tooLong ? Status::kTooLong : Status::kLine;
      }
      len_ = static_cast<std::size_t>(n);
    }
    any = true;
    const char* start = chunk_.data() + pos_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', len_ - pos_));
    const std::size_t length =
        newline != nullptr ? static_cast<std::size_t>(newline - start) : len_ - pos_;
    if (!tooLong && line->size() + length > max_) {
      tooLong = true;
      secureZero(line->data(), line->size());
      line->clear();
    }
    if (!tooLong) line->append(start, length);
    const std::size_t consumed = length + (newline != nullptr ? 1 : 0);
    secureZero(chunk_.data() + pos_, consumed);
    pos_ += consumed;
    if (newline != nullptr) return tooLong ? Status::kTooLong : Status::kLine;
  }
}

bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace ruzazuv
