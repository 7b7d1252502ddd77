#include "platform/system_pcsc.h"

#include <PCSC/winscard.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace ruzazuv {
namespace {

// pcsc-lite's LONG is 64-bit; its codes fit in 32 bits and pages see them as signed values.
PcscResult toResult(LONG rv) {
  return static_cast<PcscResult>(static_cast<std::uint32_t>(rv));
}

constexpr unsigned long kMaskAbsent = 0x0002;
constexpr unsigned long kMaskPresent = 0x0004;
constexpr unsigned long kMaskSwallowed = 0x0008;
constexpr unsigned long kMaskPowered = 0x0010;
constexpr unsigned long kMaskNegotiable = 0x0020;
constexpr unsigned long kMaskSpecific = 0x0040;

}  // namespace

std::uint32_t cardStateFromMask(unsigned long mask) {
  if (mask & kMaskSpecific) return static_cast<std::uint32_t>(CardState::kSpecific);
  if (mask & kMaskNegotiable) return static_cast<std::uint32_t>(CardState::kNegotiable);
  if (mask & kMaskPowered) return static_cast<std::uint32_t>(CardState::kPowered);
  if (mask & kMaskSwallowed) return static_cast<std::uint32_t>(CardState::kSwallowed);
  if (mask & kMaskPresent) return static_cast<std::uint32_t>(CardState::kPresent);
  if (mask & kMaskAbsent) return static_cast<std::uint32_t>(CardState::kAbsent);
  return static_cast<std::uint32_t>(CardState::kUnknown);
}

PcscResult SystemPcsc::establishContext(std::uint32_t scope, PcscContext* context) {
  SCARDCONTEXT ctx = static_cast<SCARDCONTEXT>(*context);
  LONG rv = SCardEstablishContext(scope, nullptr, nullptr, &ctx);
  *context = static_cast<PcscContext>(ctx);
  return toResult(rv);
}

PcscResult SystemPcsc::releaseContext(PcscContext context) {
  return toResult(SCardReleaseContext(static_cast<SCARDCONTEXT>(context)));
}

PcscResult SystemPcsc::listReaders(PcscContext context, char* buffer, std::uint32_t* length) {
  DWORD len = *length;
  LONG rv = SCardListReaders(static_cast<SCARDCONTEXT>(context), nullptr, buffer, &len);
  *length = static_cast<std::uint32_t>(std::min<DWORD>(len, 0xFFFFFFFFu));
  return toResult(rv);
}

PcscResult SystemPcsc::getStatusChange(PcscContext context, std::uint32_t timeoutMs,
                                       ReaderState* states, std::uint32_t count) {
  std::vector<SCARD_READERSTATE> native(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    // pcsc-lite would dereference a missing name; winscard refuses it.
    if (states[i].reader == nullptr) return pcsc_code::kInvalidValue;
    // pcsc-lite answers an empty name with success and no state; winscard knows no such reader.
    if (states[i].reader[0] == '\0') return pcsc_code::kUnknownReader;
    native[i].szReader = states[i].reader;
    native[i].pvUserData = states[i].userData;
    native[i].dwCurrentState = states[i].currentState;
    native[i].dwEventState = states[i].eventState;
  }
  LONG rv =
      SCardGetStatusChange(static_cast<SCARDCONTEXT>(context), timeoutMs, native.data(), count);
  for (std::uint32_t i = 0; i < count; ++i) {
    states[i].eventState = static_cast<std::uint32_t>(native[i].dwEventState);
    const std::size_t atrLength = std::min<std::size_t>(native[i].cbAtr, MAX_ATR_SIZE);
    states[i].atrLength = static_cast<std::uint32_t>(atrLength);
    std::memcpy(states[i].atr, native[i].rgbAtr, std::min(atrLength, sizeof(states[i].atr)));
  }
  return toResult(rv);
}

PcscResult SystemPcsc::connect(PcscContext context, const char* reader, std::uint32_t shareMode,
                               std::uint32_t preferredProtocols, PcscHandle* card,
                               std::uint32_t* activeProtocol) {
  if (reader == nullptr) return pcsc_code::kUnknownReader;
  SCARDHANDLE handle = static_cast<SCARDHANDLE>(*card);
  DWORD protocol = *activeProtocol;
  LONG rv = SCardConnect(static_cast<SCARDCONTEXT>(context), reader, shareMode, preferredProtocols,
                         &handle, &protocol);
  *card = static_cast<PcscHandle>(handle);
  *activeProtocol = static_cast<std::uint32_t>(protocol);
  return toResult(rv);
}

PcscResult SystemPcsc::reconnect(PcscHandle card, std::uint32_t shareMode,
                                 std::uint32_t preferredProtocols, std::uint32_t initialization,
                                 std::uint32_t* activeProtocol) {
  DWORD protocol = *activeProtocol;
  LONG rv = SCardReconnect(static_cast<SCARDHANDLE>(card), shareMode, preferredProtocols,
                           initialization, &protocol);
  *activeProtocol = static_cast<std::uint32_t>(protocol);
  return toResult(rv);
}

PcscResult SystemPcsc::disconnect(PcscHandle card, std::uint32_t disposition) {
  return toResult(SCardDisconnect(static_cast<SCARDHANDLE>(card), disposition));
}

PcscResult SystemPcsc::status(PcscHandle card, char* readerName, std::uint32_t* readerLength,
                              std::uint32_t* state, std::uint32_t* protocol, std::uint8_t* atr,
                              std::uint32_t* atrLength) {
  DWORD namesLength = *readerLength;
  DWORD mask = 0;
  DWORD proto = 0;
  DWORD atrLen = *atrLength;
  LONG rv = SCardStatus(static_cast<SCARDHANDLE>(card), readerName, &namesLength, &mask, &proto,
                        atr, &atrLen);
  if (rv == SCARD_S_SUCCESS) {
    *state = cardStateFromMask(mask);
    *protocol = static_cast<std::uint32_t>(proto);
  }
  *readerLength = static_cast<std::uint32_t>(std::min<DWORD>(namesLength, 0xFFFFFFFFu));
  *atrLength = static_cast<std::uint32_t>(std::min<DWORD>(atrLen, 0xFFFFFFFFu));
  return toResult(rv);
}

PcscResult SystemPcsc::getAttrib(PcscHandle card, std::uint32_t attrId, std::uint8_t* buffer,
                                 std::uint32_t* length) {
  DWORD len = *length;
  LONG rv = SCardGetAttrib(static_cast<SCARDHANDLE>(card), attrId, buffer, &len);
  *length = static_cast<std::uint32_t>(std::min<DWORD>(len, 0xFFFFFFFFu));
  return toResult(rv);
}

PcscResult SystemPcsc::transmit(PcscHandle card, std::uint32_t protocol, const std::uint8_t* send,
                                std::uint32_t sendLength, std::uint8_t* recv,
                                std::uint32_t* recvLength) {
  SCARD_IO_REQUEST pci{};
  pci.dwProtocol = protocol;
  pci.cbPciLength = sizeof(SCARD_IO_REQUEST);
  DWORD len = *recvLength;
  LONG rv =
      SCardTransmit(static_cast<SCARDHANDLE>(card), &pci, send, sendLength, nullptr, recv, &len);
  *recvLength = static_cast<std::uint32_t>(std::min<DWORD>(len, 0xFFFFFFFFu));
  // A card pulled out while it works on a command can leave pcsc-lite reporting success with
  // no answer at all (seen with vpcd). Every answer ends with two status bytes, so that is the
  // failed exchange it reports otherwise for a card that has gone.
  if (rv == SCARD_S_SUCCESS && len < 2) return toResult(SCARD_E_NOT_TRANSACTED);
  return toResult(rv);
}

}  // namespace ruzazuv
