// ruzazuv-cli doctor: checks, in order, what a bank page needs on this machine and reports one
// line per check (or one JSON object), with an exit status naming the first thing missing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ruzazuv::doctor {

struct DoctorOptions {
  bool json = false;
  bool help = false;
  std::uint16_t port = 0;  // 0: the bridge's default port
};

// Parses the arguments after "doctor"; returns an error message for bad usage.
std::optional<std::string> parseDoctorOptions(const std::vector<std::string>& args,
                                              DoctorOptions* out);
extern const char* const kDoctorUsage;

// Runs the doctor with the arguments after "doctor"; returns the exit status.
int runDoctor(const std::vector<std::string>& args);

}  // namespace ruzazuv::doctor
