// The PC/SC calls the control makes, with the semantics of the Windows smart-card API.
//
// Every result is a signed 32-bit value as a page sees it (0x8010002E reads -2146435026).
// Handles are 64-bit so that pcsc-lite's handles pass through unchanged. Implementations:
// SystemPcsc (pcsc-lite) and SimulatedPcsc (in-process readers with simulated cards).
#pragma once

#include <cstdint>

namespace ruzazuv {

using PcscResult = std::int32_t;
using PcscContext = std::uint64_t;
using PcscHandle = std::uint64_t;

// Result codes, as signed 32-bit values.
namespace pcsc_code {
inline constexpr PcscResult kSuccess = 0;
constexpr PcscResult code(std::uint32_t v) {
  return static_cast<PcscResult>(v);
}
inline constexpr PcscResult kInternalError = code(0x80100001);
inline constexpr PcscResult kCancelled = code(0x80100002);
inline constexpr PcscResult kInvalidHandle = code(0x80100003);
inline constexpr PcscResult kInvalidParameter = code(0x80100004);
inline constexpr PcscResult kNoMemory = code(0x80100006);
inline constexpr PcscResult kInsufficientBuffer = code(0x80100008);
inline constexpr PcscResult kUnknownReader = code(0x80100009);
inline constexpr PcscResult kTimeout = code(0x8010000A);
inline constexpr PcscResult kSharingViolation = code(0x8010000B);
inline constexpr PcscResult kNoSmartcard = code(0x8010000C);
inline constexpr PcscResult kProtoMismatch = code(0x8010000F);
inline constexpr PcscResult kNotReady = code(0x80100010);
inline constexpr PcscResult kInvalidValue = code(0x80100011);
inline constexpr PcscResult kReaderUnavailable = code(0x80100017);
inline constexpr PcscResult kNoService = code(0x8010001D);
inline constexpr PcscResult kServiceStopped = code(0x8010001E);
inline constexpr PcscResult kUnsupportedFeature = code(0x8010001F);
inline constexpr PcscResult kNoReadersAvailable = code(0x8010002E);
inline constexpr PcscResult kUnresponsiveCard = code(0x80100066);
inline constexpr PcscResult kUnpoweredCard = code(0x80100067);
inline constexpr PcscResult kResetCard = code(0x80100068);
inline constexpr PcscResult kRemovedCard = code(0x80100069);
}  // namespace pcsc_code

// Share modes, protocols, dispositions and states (identical on both systems).
inline constexpr std::uint32_t kShareExclusive = 1;
inline constexpr std::uint32_t kShareShared = 2;
inline constexpr std::uint32_t kShareDirect = 3;
inline constexpr std::uint32_t kProtocolT0 = 1;
inline constexpr std::uint32_t kProtocolT1 = 2;
inline constexpr std::uint32_t kLeaveCard = 0;
inline constexpr std::uint32_t kResetCard = 1;
inline constexpr std::uint32_t kUnpowerCard = 2;
inline constexpr std::uint32_t kEjectCard = 3;

// Reader event-state bits of SCardGetStatusChange.
inline constexpr std::uint32_t kStateUnaware = 0x0000;
inline constexpr std::uint32_t kStateIgnore = 0x0001;
inline constexpr std::uint32_t kStateChanged = 0x0002;
inline constexpr std::uint32_t kStateUnknown = 0x0004;
inline constexpr std::uint32_t kStateUnavailable = 0x0008;
inline constexpr std::uint32_t kStateEmpty = 0x0010;
inline constexpr std::uint32_t kStatePresent = 0x0020;
inline constexpr std::uint32_t kStateExclusive = 0x0080;
inline constexpr std::uint32_t kStateInUse = 0x0100;
inline constexpr std::uint32_t kStateMute = 0x0200;

// Card states of SCardStatus in the Windows enumeration.
enum class CardState : std::uint32_t {
  kUnknown = 0,
  kAbsent = 1,
  kPresent = 2,
  kSwallowed = 3,
  kPowered = 4,
  kNegotiable = 5,
  kSpecific = 6,
};

// The ANSI reader-state record of SCardGetStatusChangeA.
struct ReaderState {
  const char* reader = nullptr;  // narrow (UTF-8 on Linux) reader name; none when null
  void* userData = nullptr;
  std::uint32_t currentState = 0;
  std::uint32_t eventState = 0;
  std::uint32_t atrLength = 0;
  std::uint8_t atr[36] = {};
};

class Pcsc {
 public:
  virtual ~Pcsc() = default;

  virtual PcscResult establishContext(std::uint32_t scope, PcscContext* context) = 0;
  virtual PcscResult releaseContext(PcscContext context) = 0;
  // Fills `buffer` with a multi-string of reader names (each ends with a zero, the list with one
  // more). `*length` holds the buffer's capacity in characters and receives the length used,
  // closing zero included. A list longer than the capacity gives kInsufficientBuffer.
  virtual PcscResult listReaders(PcscContext context, char* buffer, std::uint32_t* length) = 0;
  virtual PcscResult getStatusChange(PcscContext context, std::uint32_t timeoutMs,
                                     ReaderState* states, std::uint32_t count) = 0;
  virtual PcscResult connect(PcscContext context, const char* reader, std::uint32_t shareMode,
                             std::uint32_t preferredProtocols, PcscHandle* card,
                             std::uint32_t* activeProtocol) = 0;
  virtual PcscResult reconnect(PcscHandle card, std::uint32_t shareMode,
                               std::uint32_t preferredProtocols, std::uint32_t initialization,
                               std::uint32_t* activeProtocol) = 0;
  virtual PcscResult disconnect(PcscHandle card, std::uint32_t disposition) = 0;
  // `state` receives the Windows enumeration (CardState). `readerName` may be null, in which case
  // only the length is reported. `*atrLength` holds the ATR buffer's capacity on entry.
  virtual PcscResult status(PcscHandle card, char* readerName, std::uint32_t* readerLength,
                            std::uint32_t* state, std::uint32_t* protocol, std::uint8_t* atr,
                            std::uint32_t* atrLength) = 0;
  // `*length` holds the capacity on entry and the attribute's length on return; on failure the
  // reported length may exceed the capacity and callers must not read past their buffer.
  virtual PcscResult getAttrib(PcscHandle card, std::uint32_t attrId, std::uint8_t* buffer,
                               std::uint32_t* length) = 0;
  // Exchanges one APDU using `protocol` in the send protocol control information.
  virtual PcscResult transmit(PcscHandle card, std::uint32_t protocol, const std::uint8_t* send,
                              std::uint32_t sendLength, std::uint8_t* recv,
                              std::uint32_t* recvLength) = 0;
};

}  // namespace ruzazuv
