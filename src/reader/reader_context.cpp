// The PC/SC service context, the reader listing and the reader/card status queries.
#include <algorithm>
#include <array>

#include "apdu/hex_codec.h"
#include "control/card_control.h"

namespace ruzazuv {
namespace {

constexpr std::uint32_t kListCapacity = 2048;
constexpr std::size_t kNameCapacity = 1024;  // a name keeps at most 1023 characters
constexpr int kReaderSlots = 5;
constexpr std::uint32_t kAttributeCapacity = 2048;

// Before every status query: the reader is the control's own baReaderName (none when absent),
// no user data, and the state the caller knows is "unaware", so the query answers at once.
void prepareQuery(ReaderState& state, const Text& reader, const TextCodec& codec) {
  state.reader = reader.absent() ? nullptr : reader.narrow(codec).c_str();
  state.userData = nullptr;
  state.currentState = kStateUnaware;
}

}  // namespace

std::int32_t CardControl::ConnectReader() {
  return services_.pcsc.establishContext(0, &process_.context);
}

std::int32_t CardControl::DisConnectReader() {
  const PcscResult result = services_.pcsc.releaseContext(process_.context);
  // Releasing a context ends the connections made in it.
  if (result == pcsc_code::kSuccess) process_.cardHeld = false;
  return result;
}

std::int32_t CardControl::ListReaders() {
  std::array<char, kListCapacity> list{};
  std::uint32_t length = kListCapacity;
  PcscResult result = services_.pcsc.listReaders(process_.context, list.data(), &length);
  if (result != pcsc_code::kSuccess) {
    integer(Dispid::iNoR) = -1;
    return result;
  }
  length = std::min(length, kListCapacity);

  // Each zero ends a name; the list's last zero ends the closing, empty, entry. The first four
  // names go to caReader1..4, the fifth and every later one to caReader5. With fewer than five
  // readers the closing entry empties the slot after the last one.
  const auto store = [this](int index, std::string_view name) {
    setNarrow(offset(Dispid::caReader1, std::min(index, kReaderSlots - 1)), name);
  };
  std::string name;
  int readers = 0;
  for (std::uint32_t i = 0; i < length; ++i) {
    if (list[i] != '\0') {
      if (name.size() < kNameCapacity - 1) name.push_back(list[i]);
      continue;
    }
    const bool closing = i + 1 == length && name.empty();
    if (closing) break;
    store(readers++, name);
    name.clear();
  }
  if (readers < kReaderSlots) store(readers, "");
  integer(Dispid::iNoR) = readers;
  return pcsc_code::kSuccess;
}

std::int32_t CardControl::GetCardStatus() {
  prepareQuery(readerState_, text(Dispid::baReaderName), services_.codec);
  ReaderState query = readerState_;
  PcscResult result = services_.pcsc.getStatusChange(process_.context, 100, &query, 1);
  if (result != pcsc_code::kSuccess) return result;
  readerState_ = query;
  const std::uint32_t atrLength = std::min<std::uint32_t>(query.atrLength, sizeof(query.atr));
  integer(Dispid::ulState) = static_cast<std::int32_t>(query.eventState);
  integer(Dispid::ulLen) = static_cast<std::int32_t>(atrLength);
  setNarrow(Dispid::baATR, BytesToHex(query.atr, atrLength));
  return pcsc_code::kSuccess;
}

std::int32_t CardControl::CheckCardInsert() {
  prepareQuery(readerState_, text(Dispid::baReaderName), services_.codec);
  // The answer comes from the event state, which keeps its last value (none at first: no
  // card) when the query fails.
  ReaderState query = readerState_;
  if (services_.pcsc.getStatusChange(process_.context, 1000, &query, 1) == pcsc_code::kSuccess)
    readerState_ = query;
  readerState_.currentState = readerState_.eventState;
  return (readerState_.eventState & kStatePresent) != 0 ? 0 : 1;
}

std::int32_t CardControl::GetStatus() {
  std::uint32_t readerLength = 200;
  std::uint32_t state = 0;
  std::uint32_t protocol = 0;
  std::array<std::uint8_t, 32> atr{};
  std::uint32_t atrLength = static_cast<std::uint32_t>(atr.size());
  PcscResult result = services_.pcsc.status(process_.card, nullptr, &readerLength, &state,
                                            &protocol, atr.data(), &atrLength);
  if (result != pcsc_code::kSuccess) return refuse(result);
  if (state >= static_cast<std::uint32_t>(CardState::kPresent) &&
      state <= static_cast<std::uint32_t>(CardState::kSpecific))
    return 0;
  return refuse(static_cast<std::int32_t>(state));
}

std::int32_t CardControl::GetReaderStatus() {
  std::array<std::uint8_t, kAttributeCapacity> attribute{};
  std::uint32_t length = kAttributeCapacity;
  PcscResult result =
      services_.pcsc.getAttrib(process_.card, static_cast<std::uint32_t>(integer(Dispid::dwAttrId)),
                               attribute.data(), &length);
  // After a failure the reported length means nothing; the properties keep their values.
  if (result == pcsc_code::kSuccess) {
    length = std::min(length, kAttributeCapacity);
    integer(Dispid::pcbAttrLen) = static_cast<std::int32_t>(length);
    setNarrow(Dispid::pbAttr, BytesToHex(attribute.data(), length));
  }
  return result;
}

}  // namespace ruzazuv
