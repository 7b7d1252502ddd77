// Answer-to-reset structure checks (ISO 7816-3): which protocols an ATR offers and whether it is
// well formed, so that every simulated card presents an ATR a real PC/SC stack accepts.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace ruzazuv::sim {

struct AtrInfo {
  std::uint32_t protocols = 0;  // mask of kProtocolT0 / kProtocolT1 offered by the TDi bytes
  std::size_t historicalLength = 0;
  bool hasTck = false;
};

// Parses `atr`; on a malformed ATR (wrong length, bad TS, wrong TCK) returns nullopt and, when
// `error` is given, a short reason.
std::optional<AtrInfo> parseAtr(std::span<const std::uint8_t> atr, std::string* error = nullptr);

}  // namespace ruzazuv::sim
