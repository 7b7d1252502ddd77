// Reads lines of bounded length: a longer line is skipped whole and reported, never buffered.
#pragma once

#include <cstdio>
#include <string>

namespace ruzazuv {

inline constexpr std::size_t kMaxCliLine = 16 * 1024 * 1024;

class LineReader {
 public:
  enum class Status { kLine, kTooLong, kEnd };
  LineReader(std::FILE* in, std::size_t maxLength) : in_(in), max_(maxLength) {}
  Status next(std::string* line);

 private:
  std::FILE* in_;
  std::size_t max_;
};

}  // namespace ruzazuv
