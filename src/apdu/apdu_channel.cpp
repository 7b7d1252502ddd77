// TransmitApdu: the one path to the card, and the field cutters over the receive buffer.
#include <algorithm>
#include <cstring>

#include "apdu/hex_codec.h"
#include "control/card_control.h"

namespace ruzazuv {
namespace {

constexpr std::uint32_t kReceiveCapacity = 272;

std::uint8_t byteOf(std::string_view hex) {
  std::uint8_t b = 0;
  HexToBytes(hex, &b, 1);
  return b;
}

}  // namespace

PcscResult CardControl::TransmitApdu(std::string_view cla, std::string_view ins,
                                     std::string_view p1, std::string_view p2,
                                     std::optional<std::string_view> lc, std::string_view data,
                                     std::optional<std::string_view> le) {
  recvLength_ = kReceiveCapacity;
  std::size_t length = 0;
  sendBuffer_[length++] = byteOf(cla);
  sendBuffer_[length++] = byteOf(ins);
  sendBuffer_[length++] = byteOf(p1);
  sendBuffer_[length++] = byteOf(p2);
  if (lc) {
    const std::uint8_t body = byteOf(*lc);  // 0 to 255: "00" is a body of the single byte 00
    sendBuffer_[length++] = body;
    HexToBytes(data, sendBuffer_.data() + length, body);
    length += body;
  }
  if (le) sendBuffer_[length++] = byteOf(*le);

  std::uint32_t received = kReceiveCapacity;
  PcscResult result = services_.pcsc.transmit(
      process_.card, static_cast<std::uint32_t>(integer(Dispid::ulProtocol)), sendBuffer_.data(),
      static_cast<std::uint32_t>(length), recvBuffer_.data(), &received);
  // The command may carry a PIN block (VERIFY, WRITE RECORD): it does not outlive the exchange.
  std::fill_n(sendBuffer_.begin(), length, std::uint8_t{0});
  // A platform that reports more than it was offered is not believed beyond the buffer.
  recvLength_ = std::min(received, kReceiveCapacity);
  UpdateStatusWord();
  return result;
}

void CardControl::UpdateStatusWord() {
  // With fewer than two bytes there is no status word; uiSW12 keeps its value.
  if (recvLength_ < 2) return;
  integer(Dispid::uiSW12) = recvBuffer_[recvLength_ - 2] * 256 + recvBuffer_[recvLength_ - 1];
}

// Fields end with the bytes the last exchange received: what lies beyond them in the buffer
// belongs to earlier answers, perhaps of another card.
std::string CardControl::ResponseText(std::size_t offset, std::size_t count) const {
  const std::size_t received = std::min<std::size_t>(recvLength_, recvBuffer_.size());
  if (offset >= received) return {};
  count = std::min(count, received - offset);
  const auto* start = recvBuffer_.data() + offset;
  const auto* end = std::find(start, start + count, std::uint8_t{0});
  return std::string(reinterpret_cast<const char*>(start), static_cast<std::size_t>(end - start));
}

std::string CardControl::ResponseHex(std::size_t offset, std::size_t count) const {
  const std::size_t received = std::min<std::size_t>(recvLength_, recvBuffer_.size());
  if (offset >= received) return {};
  count = std::min(count, received - offset);
  return BytesToHex(recvBuffer_.data() + offset, count);
}

}  // namespace ruzazuv
