// The in-process reader of `--pcsc simulated:PROFILE.json`: one reader holding the card that
// the profile describes.
#pragma once

#include <memory>
#include <string>

#include "platform/pcsc.h"

namespace ruzazuv {

inline constexpr const char* kSimulatedReaderName = "RuzaZUV Simulated Reader 0";

// Null with `*error` set when the profile cannot be read.
std::unique_ptr<Pcsc> makeSimulatedReader(const std::string& profilePath, std::string* error);

}  // namespace ruzazuv
