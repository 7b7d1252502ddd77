// Connecting to the card, selecting the financial application and recording the card identity.
#include "control/card_control.h"

namespace ruzazuv {
namespace {

constexpr std::string_view kApplicationId = "A000000172950001";
using detail_code::kApplicationMissing;

}  // namespace

std::int32_t CardControl::ConnectCard() {
  shareMode_ = kShareExclusive;
  preferredProtocols_ = kProtocolT1;
  // The connection this process still holds (a page that loaded again, or a card pulled out and
  // put back since) would keep the reader exclusively, and the new connect would be refused
  // with a sharing violation: let go of it first, leaving the card as it is. Its result does not
  // matter: a connection whose card or service has gone is released all the same.
  if (process_.cardHeld) {
    services_.pcsc.disconnect(process_.card, kLeaveCard);
    process_.cardHeld = false;
  }
  const Text& reader = text(Dispid::baReaderName);
  std::uint32_t protocol = static_cast<std::uint32_t>(integer(Dispid::ulProtocol));
  // Only a connection that was made replaces the stored handle.
  PcscHandle card = 0;
  PcscResult result = services_.pcsc.connect(
      process_.context, reader.absent() ? nullptr : reader.narrow(services_.codec).c_str(),
      shareMode_, preferredProtocols_, &card, &protocol);
  integer(Dispid::ulProtocol) = static_cast<std::int32_t>(protocol);
  if (result != pcsc_code::kSuccess) return result;
  process_.card = card;
  process_.cardHeld = true;

  GetCardStatus();

  result = TransmitApdu("00", "A4", "04", "00", "08", kApplicationId, "00");
  if (result != pcsc_code::kSuccess) return result;
  if (recvLength_ == 2) return refuse(kApplicationMissing);

  // The identity is kept while the same reader is connected again; a new reader (or a
  // disconnect, which empties it) makes the next connect read it afresh.
  if (process_.cardIdentity.isEmpty() || !(process_.identityReaderName == reader)) {
    process_.identityReaderName = reader;
    if (process_.identityReaderName.absent()) process_.identityReaderName = Text::empty();
    Text r3 = ReadCardIdentity("1001", "03");
    Text r2 = ReadCardIdentity("1001", "02");
    process_.cardIdentity.assign(r2.wide() + r3.wide());
  }

  process_.pinStore.assign(u"");
  return 0;
}

Text CardControl::ReadCardIdentity(std::string_view fileId, std::string_view record) {
  PcscResult result = TransmitApdu("00", "A4", "02", "00", "02", fileId);
  if (result == pcsc_code::kSuccess) result = TransmitApdu("00", "B2", record, "04", {}, {}, "00");
  if (result != pcsc_code::kSuccess) {
    process_.identityReadOk = false;
    return Text(u"N/A");
  }
  if (recvLength_ <= 2) return Text();  // status word only: absent
  // The record without its first two bytes, followed by the status bytes.
  Text identity;
  identity.assignNarrow(ResponseHex(2, recvLength_ - 2), services_.codec);
  return identity;
}

std::int32_t CardControl::DisConnectCard() {
  process_.cardIdentity.assign(u"");
  // Whatever the platform answers, the connection is over for this process.
  process_.cardHeld = false;
  return services_.pcsc.disconnect(process_.card,
                                   static_cast<std::uint32_t>(integer(Dispid::iDisConnectType)));
}

std::int32_t CardControl::ReConnectCard() {
  shareMode_ = kShareShared;
  preferredProtocols_ = kProtocolT1;
  std::uint32_t protocol = static_cast<std::uint32_t>(integer(Dispid::ulProtocol));
  // A failed reconnection shows in the steps that follow.
  services_.pcsc.reconnect(process_.card, shareMode_, preferredProtocols_,
                           static_cast<std::uint32_t>(integer(Dispid::iResetType)), &protocol);
  integer(Dispid::ulProtocol) = static_cast<std::int32_t>(protocol);

  GetCardStatus();

  PcscResult result = TransmitApdu("00", "A4", "04", "00", "08", kApplicationId, "00");
  if (result != pcsc_code::kSuccess) return result;
  if (recvLength_ == 2) return refuse(kApplicationMissing);
  process_.pinStore.assign(u"");
  return 0;
}

}  // namespace ruzazuv
