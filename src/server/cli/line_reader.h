// Reads lines of bounded length from a file descriptor with read(2): a longer line is skipped
// whole and reported, never buffered. Lines can hold PINs, so no stdio buffer is involved and
// every byte read is zeroed once it has been handed out.
#pragma once

#include <array>
#include <cstddef>

#include "rpc/secret_string.h"

namespace ruzazuv {

inline constexpr std::size_t kMaxCliLine = 16 * 1024 * 1024;

class LineReader {
 public:
  enum class Status { kLine, kTooLong, kEnd };
  LineReader(int fd, std::size_t maxLength) : fd_(fd), max_(maxLength) {}
  ~LineReader() { secureZero(chunk_.data(), chunk_.size()); }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line without its "\n" (the last may lack one). The previous contents of *line are
  // zeroed first. A read error ends the input.
  Status next(SecretString* line);

 private:
  int fd_;
  std::size_t max_;
  std::array<char, 64 * 1024> chunk_{};
  std::size_t pos_ = 0;  // next unread byte of chunk_
  std::size_t len_ = 0;  // bytes of chunk_ filled
};

// Writes all of `text` to a file descriptor with write(2); false when it cannot.
bool writeAll(int fd, std::string_view text);

}  // namespace ruzazuv
