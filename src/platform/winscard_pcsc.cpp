#include "platform/winscard_pcsc.h"

// clang-format off
#include <windows.h>
#include <winscard.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <vector>

namespace ruzazuv {
namespace {

// winscard's LONG is 32-bit: its bits are the page's signed result as they stand.
PcscResult toResult(LONG rv) {
  return static_cast<PcscResult>(rv);
}

SCARDCONTEXT nativeContext(PcscContext context) {
  return static_cast<SCARDCONTEXT>(context);
}

SCARDHANDLE nativeHandle(PcscHandle card) {
  return static_cast<SCARDHANDLE>(card);
}

}  // namespace

PcscResult WinscardPcsc::establishContext(std::uint32_t scope, PcscContext* context) {
  SCARDCONTEXT ctx = nativeContext(*context);
  const LONG rv = SCardEstablishContext(scope, nullptr, nullptr, &ctx);
  *context = static_cast<PcscContext>(ctx);
  return toResult(rv);
}

PcscResult WinscardPcsc::releaseContext(PcscContext context) {
  return toResult(SCardReleaseContext(nativeContext(context)));
}

PcscResult WinscardPcsc::listReaders(PcscContext context, char* buffer, std::uint32_t* length) {
  DWORD len = *length;
  const LONG rv = SCardListReadersA(nativeContext(context), nullptr, buffer, &len);
  *length = static_cast<std::uint32_t>(len);
  return toResult(rv);
}

PcscResult WinscardPcsc::getStatusChange(PcscContext context, std::uint32_t timeoutMs,
                                         ReaderState* states, std::uint32_t count) {
  std::vector<SCARD_READERSTATEA> native(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    // A record without a name would be read through a null pointer by the service.
    if (states[i].reader == nullptr) return pcsc_code::kInvalidValue;
    native[i].szReader = states[i].reader;
    native[i].pvUserData = states[i].userData;
    native[i].dwCurrentState = states[i].currentState;
    native[i].dwEventState = states[i].eventState;
  }
  const LONG rv = SCardGetStatusChangeA(nativeContext(context), timeoutMs, native.data(), count);
  for (std::uint32_t i = 0; i < count; ++i) {
    states[i].eventState = static_cast<std::uint32_t>(native[i].dwEventState);
    const std::size_t atrLength = std::min<std::size_t>(native[i].cbAtr, sizeof(native[i].rgbAtr));
    states[i].atrLength = static_cast<std::uint32_t>(atrLength);
    std::memcpy(states[i].atr, native[i].rgbAtr, std::min(atrLength, sizeof(states[i].atr)));
  }
  return toResult(rv);
}

PcscResult WinscardPcsc::connect(PcscContext context, const char* reader, std::uint32_t shareMode,
                                 std::uint32_t preferredProtocols, PcscHandle* card,
                                 std::uint32_t* activeProtocol) {
  // No name names no reader; the service would read through the null pointer.
  if (reader == nullptr) return pcsc_code::kUnknownReader;
  SCARDHANDLE handle = nativeHandle(*card);
  DWORD protocol = *activeProtocol;
  const LONG rv = SCardConnectA(nativeContext(context), reader, shareMode, preferredProtocols,
                                &handle, &protocol);
  *card = static_cast<PcscHandle>(handle);
  *activeProtocol = static_cast<std::uint32_t>(protocol);
  return toResult(rv);
}

PcscResult WinscardPcsc::reconnect(PcscHandle card, std::uint32_t shareMode,
                                   std::uint32_t preferredProtocols, std::uint32_t initialization,
                                   std::uint32_t* activeProtocol) {
  DWORD protocol = *activeProtocol;
  const LONG rv =
      SCardReconnect(nativeHandle(card), shareMode, preferredProtocols, initialization, &protocol);
  *activeProtocol = static_cast<std::uint32_t>(protocol);
  return toResult(rv);
}

PcscResult WinscardPcsc::disconnect(PcscHandle card, std::uint32_t disposition) {
  return toResult(SCardDisconnect(nativeHandle(card), disposition));
}

PcscResult WinscardPcsc::status(PcscHandle card, char* readerName, std::uint32_t* readerLength,
                                std::uint32_t* state, std::uint32_t* protocol, std::uint8_t* atr,
                                std::uint32_t* atrLength) {
  DWORD namesLength = *readerLength;
  DWORD cardState = 0;
  DWORD proto = 0;
  DWORD atrLen = *atrLength;
  const LONG rv =
      SCardStatusA(nativeHandle(card), readerName, &namesLength, &cardState, &proto, atr, &atrLen);
  if (rv == SCARD_S_SUCCESS) {
    // Windows reports the card state as the enumeration 0 to 6 itself.
    *state = static_cast<std::uint32_t>(cardState);
    *protocol = static_cast<std::uint32_t>(proto);
  }
  *readerLength = static_cast<std::uint32_t>(namesLength);
  *atrLength = static_cast<std::uint32_t>(atrLen);
  return toResult(rv);
}

PcscResult WinscardPcsc::getAttrib(PcscHandle card, std::uint32_t attrId, std::uint8_t* buffer,
                                   std::uint32_t* length) {
  DWORD len = *length;
  const LONG rv = SCardGetAttrib(nativeHandle(card), attrId, buffer, &len);
  *length = static_cast<std::uint32_t>(len);
  return toResult(rv);
}

PcscResult WinscardPcsc::transmit(PcscHandle card, std::uint32_t protocol, const std::uint8_t* send,
                                  std::uint32_t sendLength, std::uint8_t* recv,
                                  std::uint32_t* recvLength) {
  SCARD_IO_REQUEST pci{};
  pci.dwProtocol = protocol;
  pci.cbPciLength = sizeof(SCARD_IO_REQUEST);
  DWORD len = *recvLength;
  const LONG rv = SCardTransmit(nativeHandle(card), &pci, send, sendLength, nullptr, recv, &len);
  *recvLength = static_cast<std::uint32_t>(len);
  return toResult(rv);
}

}  // namespace ruzazuv
