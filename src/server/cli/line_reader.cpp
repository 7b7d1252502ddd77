#include "cli/line_reader.h"

namespace ruzazuv {

LineReader::Status LineReader::next(std::string* line) {
  line->clear();
  bool tooLong = false;
  bool any = false;
  for (int c = std::getc(in_); c != EOF; c = std::getc(in_)) {
    any = true;
    if (c == '\n') return tooLong ? Status::kTooLong : Status::kLine;
    if (line->size() >= max_) {
      tooLong = true;
      line->clear();
      line->shrink_to_fit();
      continue;
    }
    if (!tooLong) line->push_back(static_cast<char>(c));
  }
  if (!any) return Status::kEnd;
  return tooLong ? Status::kTooLong : Status::kLine;
}

}  // namespace ruzazuv
