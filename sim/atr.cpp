#include "atr.h"

#include "platform/pcsc.h"

namespace ruzazuv::sim {

namespace {

std::optional<AtrInfo> fail(std::string* error, const char* reason) {
  if (error) *error = reason;
  return std::nullopt;
}

}  // namespace

std::optional<AtrInfo> parseAtr(std::span<const std::uint8_t> atr, std::string* error) {
  // ISO 7816-3 caps the ATR at 33 bytes (TS included).
  if (atr.size() < 2) return fail(error, "ATR shorter than TS and T0");
  if (atr.size() > 33) return fail(error, "ATR longer than 33 bytes");
  if (atr[0] != 0x3B && atr[0] != 0x3F) return fail(error, "TS is neither 3B nor 3F");

  AtrInfo info;
  info.historicalLength = atr[1] & 0x0F;
  std::size_t pos = 2;
  std::uint8_t indicator = atr[1];  // the byte whose high nibble says which TAi..TDi follow
  bool firstTd = true;
  bool anyTd = false;
  bool nonT0 = false;
  for (;;) {
    const int present = (indicator >> 4) & 0x0F;
    for (int bit = 0; bit < 3; ++bit) {  // TAi, TBi, TCi
      if (present & (1 << bit)) ++pos;
    }
    if (!(present & 0x8)) break;
    if (pos >= atr.size()) return fail(error, "ATR ends inside its interface bytes");
    indicator = atr[pos++];
    anyTd = true;
    const std::uint8_t protocol = indicator & 0x0F;
    if (protocol == 0) info.protocols |= kProtocolT0;
    if (protocol == 1) info.protocols |= kProtocolT1;
    if (protocol != 0) nonT0 = true;
    if (protocol == 15 && firstTd) return fail(error, "TD1 names T=15");
    firstTd = false;
  }
  if (!anyTd) info.protocols = kProtocolT0;  // no TD1: the card speaks T=0 only

  info.hasTck = nonT0;
  const std::size_t expected = pos + info.historicalLength + (info.hasTck ? 1 : 0);
  if (atr.size() != expected) return fail(error, "ATR length does not match its T0 and TDi bytes");
  if (info.hasTck) {
    std::uint8_t x = 0;
    for (std::size_t i = 1; i < atr.size(); ++i) x = static_cast<std::uint8_t>(x ^ atr[i]);
    if (x != 0) return fail(error, "TCK does not match");
  }
  return info;
}

}  // namespace ruzazuv::sim
