// ruzazuv-cli's request input: lines read with read(2) from a pipe, across chunk boundaries,
// with a final line lacking its newline, and lines over the limit skipped whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "cli/line_reader.h"

namespace ruzazuv {
namespace {

// What the reader makes of `input`: each line, "<too long>" for a skipped one.
std::vector<std::string> linesOf(const std::string& input, std::size_t max) {
  int fds[2];
  if (::pipe(fds) != 0) return {"<no pipe>"};
  std::thread writer([&] {
    writeAll(fds[1], input);
    ::close(fds[1]);
  });
  std::vector<std::string> out;
  LineReader reader(fds[0], max);
  SecretString line;
  for (;;) {
    const LineReader::Status status = reader.next(&line);
    if (status == LineReader::Status::kEnd) break;
    out.push_back(status == LineReader::Status::kTooLong ? "<too long>" : std::string(line.view()));
  }
  writer.join();
  ::close(fds[0]);
  return out;
}

TEST(CliInput, LinesAreReadWholeAndLongOnesSkipped) {
  const std::string big(200000, 'x');  // spans several reads
  struct Case {
    std::string input;
    std::size_t max;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"a\nb\n", 10, {"a", "b"}},
      {"a\nlast", 10, {"a", "last"}},
      {"\n\n", 10, {"", ""}},
      {"", 10, {}},
      {"0123456789\n", 10, {"0123456789"}},
      {"0123456789A\nok\n", 10, {"<too long>", "ok"}},
      {"ok\n0123456789A", 10, {"ok", "<too long>"}},
      {big + "\n" + "after\n", big.size(), {big, "after"}},
      {big + big + "\nafter\n", big.size(), {"<too long>", "after"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    EXPECT_EQ(linesOf(c.input, c.max), c.lines);
  }
}

}  // namespace
}  // namespace ruzazuv
