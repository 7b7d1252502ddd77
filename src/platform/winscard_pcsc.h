// Pcsc over winscard.dll, the system's own smart-card service on Windows. Its results, card
// states and reader-state bits already have the values the control works with, so they pass
// through unchanged; only the handle and length widths are adapted.
#pragma once

#include "platform/pcsc.h"

namespace ruzazuv {

class WinscardPcsc final : public Pcsc {
 public:
  PcscResult establishContext(std::uint32_t scope, PcscContext* context) override;
  PcscResult releaseContext(PcscContext context) override;
  PcscResult listReaders(PcscContext context, char* buffer, std::uint32_t* length) override;
  PcscResult getStatusChange(PcscContext context, std::uint32_t timeoutMs, ReaderState* states,
                             std::uint32_t count) override;
  PcscResult connect(PcscContext context, const char* reader, std::uint32_t shareMode,
                     std::uint32_t preferredProtocols, PcscHandle* card,
                     std::uint32_t* activeProtocol) override;
  PcscResult reconnect(PcscHandle card, std::uint32_t shareMode, std::uint32_t preferredProtocols,
                       std::uint32_t initialization, std::uint32_t* activeProtocol) override;
  PcscResult disconnect(PcscHandle card, std::uint32_t disposition) override;
  PcscResult status(PcscHandle card, char* readerName, std::uint32_t* readerLength,
                    std::uint32_t* state, std::uint32_t* protocol, std::uint8_t* atr,
                    std::uint32_t* atrLength) override;
  PcscResult getAttrib(PcscHandle card, std::uint32_t attrId, std::uint8_t* buffer,
                       std::uint32_t* length) override;
  PcscResult transmit(PcscHandle card, std::uint32_t protocol, const std::uint8_t* send,
                      std::uint32_t sendLength, std::uint8_t* recv,
                      std::uint32_t* recvLength) override;
};

}  // namespace ruzazuv
