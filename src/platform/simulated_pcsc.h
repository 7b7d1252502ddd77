// In-process PC/SC service: readers with arbitrary names that hold SimulatedCards, answering as
// the Windows smart-card API (and pcsc-lite, where the two agree) does for the calls the control
// makes. Tests insert and remove cards, inject failures and read a transcript of what was sent.
// Every member is thread-safe: a timer thread may poll getStatusChange while a test thread
// removes and inserts cards.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pcsc.h"
#include "platform/simulated_card.h"

namespace ruzazuv {

enum class PcscCall {
  kEstablishContext,
  kReleaseContext,
  kListReaders,
  kGetStatusChange,
  kConnect,
  kReconnect,
  kDisconnect,
  kStatus,
  kGetAttrib,
  kTransmit,
};

// "establishContext", "releaseContext", "listReaders", "getStatusChange", "connect",
// "reconnect", "disconnect", "status", "getAttrib", "transmit".
std::string_view pcscCallName(PcscCall call);

// One connect, reconnect, disconnect or transmit as the caller made it.
struct PcscCallRecord {
  PcscCall call = PcscCall::kTransmit;
  PcscResult result = pcsc_code::kSuccess;
  std::string reader;  // connect: the name asked for; others: the handle's reader, if any
  PcscHandle handle = 0;
  std::uint32_t shareMode = 0;           // connect, reconnect
  std::uint32_t preferredProtocols = 0;  // connect, reconnect
  std::uint32_t initialization = 0;      // reconnect
  std::uint32_t disposition = 0;         // disconnect
  std::uint32_t protocol = 0;  // transmit: the protocol in the PCI; connect/reconnect: the active
                               // protocol reported (0 on failure)
  std::vector<std::uint8_t> command;   // transmit
  std::vector<std::uint8_t> response;  // transmit, when the card answered
  bool delivered = false;              // transmit: the command reached the card
};

class SimulatedPcsc : public Pcsc {
 public:
  SimulatedPcsc();
  ~SimulatedPcsc() override;
  SimulatedPcsc(const SimulatedPcsc&) = delete;
  SimulatedPcsc& operator=(const SimulatedPcsc&) = delete;

  // Readers, listed in the order they were added. Adding a name that exists throws
  // std::invalid_argument; so do the card and attribute calls for a name no reader has.
  void addReader(const std::string& name);
  // Connections to a removed reader answer kReaderUnavailable (disconnect still succeeds).
  void removeReader(const std::string& name);
  std::vector<std::string> readerNames() const;

  // Inserting into an occupied reader swaps the card: the old one is removed first. The card is
  // powered up (reset) on insertion, as a reader does.
  void insertCard(const std::string& reader, std::shared_ptr<SimulatedCard> card);
  // Connections to the card then answer kRemovedCard, and kResetCard once a card is back in,
  // until they reconnect (reconnecting with no card in gives kNoSmartcard), as in pcsc-lite.
  void removeCard(const std::string& reader);
  std::shared_ptr<SimulatedCard> card(const std::string& reader) const;

  // SCardGetAttrib values per reader; none is set by default (kUnsupportedFeature).
  void setAttribute(const std::string& reader, std::uint32_t attrId,
                    std::vector<std::uint8_t> value);

  // Failure injection: after letting `after` calls of that kind through, the next `count` calls
  // return `code` and do nothing else (a failed transmit does not reach the card). Names as
  // pcscCallName; an unknown name throws std::invalid_argument. Queued faults of one call run in
  // the order they were added.
  void failCall(PcscCall call, PcscResult code, int count = 1, int after = 0);
  void failCall(std::string_view call, PcscResult code, int count = 1, int after = 0);
  void clearFaults();

  // pcsc-lite (the default): a connection whose card was pulled out keeps its share of the
  // reader until it is disconnected or reconnected, so a new exclusive connect, even to the card
  // inserted since, gives kSharingViolation, and the reader keeps showing kStateExclusive. With
  // false such a connection lets go of the reader at the removal.
  void setStaleHandlesHoldReader(bool hold);

  // Service stopped: every existing context and connection answers kNoService for ever, and
  // establishContext answers kNoService until the service runs again.
  void setServiceRunning(bool running);

  // Connect, reconnect, disconnect and transmit calls in order (other calls are only counted).
  std::vector<PcscCallRecord> calls() const;
  // Command APDUs that reached the card in `reader`, in order.
  std::vector<std::vector<std::uint8_t>> commands(const std::string& reader) const;
  int callCount(PcscCall call) const;
  void clearTranscript();

  // Runs after every command that reached a card, on the calling thread and outside the lock, so
  // it may insert or remove cards (for instance to pull the card after the K-th VERIFY).
  using TransmitHook =
      std::function<void(const std::string& reader, std::span<const std::uint8_t> command)>;
  void setTransmitHook(TransmitHook hook);

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

 private:
  struct Reader;
  struct Connection;
  struct Fault {
    int skip;
    int count;
    PcscResult code;
  };
  enum class ContextState { kLive, kDead };

  // All of these expect mutex_ to be held.
  bool takeFault(PcscCall call, PcscResult* code);
  std::shared_ptr<Reader> findReader(std::string_view name) const;
  Reader& readerOrThrow(const std::string& name) const;
  PcscResult checkContext(PcscContext context) const;
  PcscResult findConnection(PcscHandle handle, Connection** connection);
  std::uint32_t eventState(const Reader& reader) const;
  bool holdsReader(const Connection& c) const;
  bool heldByOthers(const Reader& reader, PcscHandle except, bool exclusiveOnly) const;
  void markOthers(const Reader& reader, PcscHandle except, PcscResult event);
  void resetCard(Reader& reader, PcscHandle by, bool unpower);
  void ejectCardLocked(Reader& reader);
  void record(PcscCallRecord r);
  static PcscResult negotiate(const Reader& reader, std::uint32_t preferred, std::uint32_t* active);

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // a card or reader came or went
  std::vector<std::shared_ptr<Reader>> readers_;
  std::map<PcscContext, ContextState> contexts_;
  std::map<PcscHandle, Connection> connections_;
  std::map<PcscCall, std::vector<Fault>> faults_;
  std::map<PcscCall, int> counts_;
  std::vector<PcscCallRecord> calls_;
  TransmitHook transmitHook_;
  bool serviceRunning_ = true;
  bool staleHandlesHoldReader_ = true;
  PcscContext nextContext_ = 0x0C0A0001;
  PcscHandle nextHandle_ = 0x0CA70001;
};

}  // namespace ruzazuv
