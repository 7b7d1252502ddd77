// Strict hex text for the simulator's own inputs (profiles, tool arguments, logs).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ruzazuv::sim {

// Accepts upper- and lower-case digits and ignores spaces; nullopt on any other character or an
// odd number of digits.
std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text);
std::string toHex(std::span<const std::uint8_t> bytes);

}  // namespace ruzazuv::sim
