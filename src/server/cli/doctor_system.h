// What the doctor asks of the system outside PC/SC: programs on PATH, their output, files.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ruzazuv::doctor {

// The program's path when `name` is an executable in a PATH directory.
std::optional<std::filesystem::path> findProgram(const std::string& name);

struct ProgramOutput {
  int status = -1;     // exit status; -1 when it did not end by itself in time
  std::string output;  // standard output (standard error is discarded)
};

// Runs `argv` (argv[0] looked up on PATH) with standard input from /dev/null, collecting at most
// 1 MiB of its output; a program still running after `limit` is killed. Nothing when it could
// not be started.
std::optional<ProgramOutput> runProgram(const std::vector<std::string>& argv,
                                        std::chrono::milliseconds limit);

// A regular file that this user may execute.
bool isExecutableFile(const std::filesystem::path& path);

// The whole file, when it can be read and is at most `limit` bytes.
std::optional<std::string> readSmallFile(const std::filesystem::path& path,
                                         std::size_t limit = 1 << 20);

// The environment variable, when it is set and not empty.
std::optional<std::string> environment(const char* name);

}  // namespace ruzazuv::doctor
