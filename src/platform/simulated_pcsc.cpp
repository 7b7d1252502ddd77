#include "platform/simulated_pcsc.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace ruzazuv {

using namespace pcsc_code;

namespace {

constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
constexpr std::uint32_t kProtocolRaw = 4;
constexpr std::uint32_t kMaxCommandLength = 65548;  // the longest extended-length APDU
constexpr std::string_view kPnpNotification = "\\\\?PnP?\\Notification";

constexpr PcscCall kAllCalls[] = {
    PcscCall::kEstablishContext, PcscCall::kReleaseContext, PcscCall::kListReaders,
    PcscCall::kGetStatusChange,  PcscCall::kConnect,        PcscCall::kReconnect,
    PcscCall::kDisconnect,       PcscCall::kStatus,         PcscCall::kGetAttrib,
    PcscCall::kTransmit,
};

bool validShareMode(std::uint32_t mode) {
  return mode == kShareExclusive || mode == kShareShared || mode == kShareDirect;
}

bool validProtocols(std::uint32_t shareMode, std::uint32_t protocols) {
  return shareMode == kShareDirect || (protocols & (kProtocolT0 | kProtocolT1 | kProtocolRaw));
}

}  // namespace

std::string_view pcscCallName(PcscCall call) {
  switch (call) {
    case PcscCall::kEstablishContext:
      return "establishContext";
    case PcscCall::kReleaseContext:
      return "releaseContext";
    case PcscCall::kListReaders:
      return "listReaders";
    case PcscCall::kGetStatusChange:
      return "getStatusChange";
    case PcscCall::kConnect:
      return "connect";
    case PcscCall::kReconnect:
      return "reconnect";
    case PcscCall::kDisconnect:
      return "disconnect";
    case PcscCall::kStatus:
      return "status";
    case PcscCall::kGetAttrib:
      return "getAttrib";
    case PcscCall::kTransmit:
      return "transmit";
  }
  return "";
}

struct SimulatedPcsc::Reader {
  std::string name;
  std::shared_ptr<SimulatedCard> card;
  bool powered = false;
  std::uint32_t protocol = 0;      // protocol of the current power session, 0 before a connect
  std::uint32_t eventCounter = 0;  // card insertions and removals, reported in the high word
  std::map<std::uint32_t, std::vector<std::uint8_t>> attributes;
  bool detached = false;  // the reader was unplugged
};

struct SimulatedPcsc::Connection {
  PcscContext context = 0;
  std::shared_ptr<Reader> reader;
  std::uint32_t shareMode = 0;
  std::uint32_t protocol = 0;
  // kSuccess, or kRemovedCard / kResetCard until the connection reconnects.
  PcscResult event = kSuccess;
  bool cardGone = false;  // the card it was made to has been pulled out since
};

SimulatedPcsc::SimulatedPcsc() = default;
SimulatedPcsc::~SimulatedPcsc() = default;

// ---- test controls -------------------------------------------------------------------------

void SimulatedPcsc::addReader(const std::string& name) {
  std::lock_guard lock(mutex_);
  if (findReader(name)) throw std::invalid_argument("reader exists: " + name);
  auto reader = std::make_shared<Reader>();
  reader->name = name;
  readers_.push_back(std::move(reader));
  changed_.notify_all();
}

void SimulatedPcsc::removeReader(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = std::ranges::find_if(readers_, [&](const auto& r) { return r->name == name; });
  if (it == readers_.end()) throw std::invalid_argument("no reader: " + name);
  (*it)->detached = true;
  readers_.erase(it);
  changed_.notify_all();
}

std::vector<std::string> SimulatedPcsc::readerNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& r : readers_) names.push_back(r->name);
  return names;
}

void SimulatedPcsc::insertCard(const std::string& readerName, std::shared_ptr<SimulatedCard> card) {
  if (!card) throw std::invalid_argument("no card given");
  std::lock_guard lock(mutex_);
  Reader& reader = readerOrThrow(readerName);
  if (reader.card) ejectCardLocked(reader);
  reader.card = std::move(card);
  reader.card->reset();  // the reader powers a card up as it goes in
  reader.powered = true;
  reader.protocol = 0;
  ++reader.eventCounter;
  // As in pcsc-lite, connections made before see the new card as reset until they reconnect.
  for (auto& [handle, c] : connections_) {
    if (c.reader.get() == &reader) c.event = pcsc_code::kResetCard;
  }
  changed_.notify_all();
}

void SimulatedPcsc::removeCard(const std::string& readerName) {
  std::lock_guard lock(mutex_);
  Reader& reader = readerOrThrow(readerName);
  if (reader.card) ejectCardLocked(reader);
  changed_.notify_all();
}

void SimulatedPcsc::ejectCardLocked(Reader& reader) {
  reader.card.reset();
  reader.powered = false;
  reader.protocol = 0;
  ++reader.eventCounter;
  for (auto& [handle, c] : connections_) {
    if (c.reader.get() == &reader) {
      c.event = kRemovedCard;
      c.cardGone = true;
    }
  }
}

std::shared_ptr<SimulatedCard> SimulatedPcsc::card(const std::string& readerName) const {
  std::lock_guard lock(mutex_);
  return readerOrThrow(readerName).card;
}

void SimulatedPcsc::setAttribute(const std::string& readerName, std::uint32_t attrId,
                                 std::vector<std::uint8_t> value) {
  std::lock_guard lock(mutex_);
  readerOrThrow(readerName).attributes[attrId] = std::move(value);
}

void SimulatedPcsc::failCall(PcscCall call, PcscResult code, int count, int after) {
  std::lock_guard lock(mutex_);
  if (count > 0) faults_[call].push_back({std::max(after, 0), count, code});
}

void SimulatedPcsc::failCall(std::string_view name, PcscResult code, int count, int after) {
  for (PcscCall call : kAllCalls) {
    if (pcscCallName(call) == name) return failCall(call, code, count, after);
  }
  throw std::invalid_argument("no PC/SC call named " + std::string(name));
}

void SimulatedPcsc::clearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

void SimulatedPcsc::setStaleHandlesHoldReader(bool hold) {
  std::lock_guard lock(mutex_);
  staleHandlesHoldReader_ = hold;
}

void SimulatedPcsc::setServiceRunning(bool running) {
  std::lock_guard lock(mutex_);
  if (!running) {
    for (auto& [context, state] : contexts_) state = ContextState::kDead;
  }
  serviceRunning_ = running;
  changed_.notify_all();
}

std::vector<PcscCallRecord> SimulatedPcsc::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::vector<std::uint8_t>> SimulatedPcsc::commands(const std::string& reader) const {
  std::lock_guard lock(mutex_);
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& r : calls_) {
    if (r.call == PcscCall::kTransmit && r.delivered && r.reader == reader) {
      out.push_back(r.command);
    }
  }
  return out;
}

int SimulatedPcsc::callCount(PcscCall call) const {
  std::lock_guard lock(mutex_);
  auto it = counts_.find(call);
  return it == counts_.end() ? 0 : it->second;
}

void SimulatedPcsc::clearTranscript() {
  std::lock_guard lock(mutex_);
  calls_.clear();
  counts_.clear();
}

void SimulatedPcsc::setTransmitHook(TransmitHook hook) {
  std::lock_guard lock(mutex_);
  transmitHook_ = std::move(hook);
}

// ---- helpers (mutex_ held) -----------------------------------------------------------------

bool SimulatedPcsc::takeFault(PcscCall call, PcscResult* code) {
  ++counts_[call];
  auto it = faults_.find(call);
  if (it == faults_.end() || it->second.empty()) return false;
  Fault& f = it->second.front();
  if (f.skip > 0) {
    --f.skip;
    return false;
  }
  *code = f.code;
  if (--f.count == 0) it->second.erase(it->second.begin());
  return true;
}

std::shared_ptr<SimulatedPcsc::Reader> SimulatedPcsc::findReader(std::string_view name) const {
  for (const auto& r : readers_) {
    if (r->name == name) return r;
  }
  return nullptr;
}

SimulatedPcsc::Reader& SimulatedPcsc::readerOrThrow(const std::string& name) const {
  auto r = findReader(name);
  if (!r) throw std::invalid_argument("no reader: " + name);
  return *r;
}

PcscResult SimulatedPcsc::checkContext(PcscContext context) const {
  auto it = contexts_.find(context);
  if (it == contexts_.end()) return kInvalidHandle;
  return it->second == ContextState::kDead ? kNoService : kSuccess;
}

PcscResult SimulatedPcsc::findConnection(PcscHandle handle, Connection** connection) {
  auto it = connections_.find(handle);
  if (it == connections_.end()) return kInvalidHandle;
  *connection = &it->second;
  if (contexts_.at(it->second.context) == ContextState::kDead) return kNoService;
  return kSuccess;
}

bool SimulatedPcsc::holdsReader(const Connection& c) const {
  if (contexts_.at(c.context) == ContextState::kDead) return false;
  return staleHandlesHoldReader_ || !c.cardGone;
}

bool SimulatedPcsc::heldByOthers(const Reader& reader, PcscHandle except,
                                 bool exclusiveOnly) const {
  for (const auto& [handle, c] : connections_) {
    if (handle == except || c.reader.get() != &reader || !holdsReader(c)) continue;
    if (!exclusiveOnly || c.shareMode == kShareExclusive) return true;
  }
  return false;
}

void SimulatedPcsc::markOthers(const Reader& reader, PcscHandle except, PcscResult event) {
  for (auto& [handle, c] : connections_) {
    if (handle != except && c.reader.get() == &reader && c.event == kSuccess) c.event = event;
  }
}

void SimulatedPcsc::resetCard(Reader& reader, PcscHandle by, bool unpower) {
  if (!reader.card) return;
  reader.card->reset();
  reader.powered = !unpower;
  reader.protocol = 0;
  markOthers(reader, by, pcsc_code::kResetCard);
}

std::uint32_t SimulatedPcsc::eventState(const Reader& reader) const {
  std::uint32_t state = reader.eventCounter << 16;
  state |= reader.card ? kStatePresent : kStateEmpty;
  if (reader.card && reader.card->atr().empty()) state |= kStateMute;
  bool exclusive = false;
  bool shared = false;
  for (const auto& [handle, c] : connections_) {
    if (c.reader.get() != &reader || !holdsReader(c)) continue;
    (c.shareMode == kShareExclusive ? exclusive : shared) = true;
  }
  // pcsc-lite shows an exclusive connection even with the reader empty, a shared one only while
  // a card is in.
  if (exclusive) {
    state |= kStateExclusive;
  } else if (shared && reader.card) {
    state |= kStateInUse;
  }
  return state;
}

PcscResult SimulatedPcsc::negotiate(const Reader& reader, std::uint32_t preferred,
                                    std::uint32_t* active) {
  if (reader.protocol != 0) {  // fixed for this power session by an earlier connection
    if (!(preferred & reader.protocol)) return kProtoMismatch;
    *active = reader.protocol;
    return kSuccess;
  }
  const std::uint32_t common = preferred & reader.card->protocols();
  if (common == 0) return kProtoMismatch;
  // With both possible, the protocol the ATR names first wins, and that is T=0 when offered.
  *active = (common & kProtocolT0) ? kProtocolT0 : kProtocolT1;
  return kSuccess;
}

void SimulatedPcsc::record(PcscCallRecord r) {
  calls_.push_back(std::move(r));
}

// ---- the PC/SC calls -----------------------------------------------------------------------

PcscResult SimulatedPcsc::establishContext(std::uint32_t scope, PcscContext* context) {
  std::lock_guard lock(mutex_);
  PcscResult injected;
  if (takeFault(PcscCall::kEstablishContext, &injected)) return injected;
  if (!context) return kInvalidParameter;
  if (scope > 2) return kInvalidValue;
  if (!serviceRunning_) return kNoService;
  const PcscContext c = nextContext_++;
  contexts_[c] = ContextState::kLive;
  *context = c;
  return kSuccess;
}

PcscResult SimulatedPcsc::releaseContext(PcscContext context) {
  std::lock_guard lock(mutex_);
  PcscResult injected;
  if (takeFault(PcscCall::kReleaseContext, &injected)) return injected;
  if (PcscResult rc = checkContext(context); rc != kSuccess) return rc;
  // As pcsc-lite does, the context's connections end with it, and their cards are reset unless
  // they were already reset or pulled out.
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->second.context != context) {
      ++it;
      continue;
    }
    Connection& c = it->second;
    if (c.event == kSuccess && !c.reader->detached) resetCard(*c.reader, it->first, false);
    it = connections_.erase(it);
  }
  contexts_.erase(context);
  changed_.notify_all();
  return kSuccess;
}

PcscResult SimulatedPcsc::listReaders(PcscContext context, char* buffer, std::uint32_t* length) {
  std::lock_guard lock(mutex_);
  PcscResult injected;
  if (takeFault(PcscCall::kListReaders, &injected)) return injected;
  if (PcscResult rc = checkContext(context); rc != kSuccess) return rc;
  if (!length) return kInvalidParameter;
  if (readers_.empty()) return kNoReadersAvailable;
  std::size_t needed = 1;
  for (const auto& r : readers_) needed += r->name.size() + 1;
  if (needed > 0xFFFFFFFFu) return kNoMemory;
  const auto needed32 = static_cast<std::uint32_t>(needed);
  if (!buffer) {
    *length = needed32;
    return kSuccess;
  }
  if (*length < needed32) {
    *length = needed32;
    return kInsufficientBuffer;
  }
  char* out = buffer;
  for (const auto& r : readers_) {
    std::memcpy(out, r->name.data(), r->name.size());
    out += r->name.size();
    *out++ = '\0';
  }
  *out = '\0';
  *length = needed32;
  return kSuccess;
}

PcscResult SimulatedPcsc::getStatusChange(PcscContext context, std::uint32_t timeoutMs,
                                          ReaderState* states, std::uint32_t count) {
  std::unique_lock lock(mutex_);
  PcscResult injected;
  if (takeFault(PcscCall::kGetStatusChange, &injected)) return injected;
  if (PcscResult rc = checkContext(context); rc != kSuccess) return rc;
  if (count > 0 && !states) return kInvalidParameter;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!states[i].reader) return kInvalidValue;
    if (states[i].currentState & kStateIgnore) continue;
    if (states[i].reader != kPnpNotification && !findReader(states[i].reader)) {
      return kUnknownReader;
    }
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<std::uint32_t> fresh(count);
  for (;;) {
    if (checkContext(context) != kSuccess) return kNoService;
    bool anyChange = false;
    for (std::uint32_t i = 0; i < count; ++i) {
      const ReaderState& s = states[i];
      if (s.currentState & kStateIgnore) continue;
      std::uint32_t now;
      if (s.reader == kPnpNotification) {
        now = static_cast<std::uint32_t>(readers_.size()) << 16;
      } else if (auto reader = findReader(s.reader)) {
        now = eventState(*reader);
      } else {
        now = kStateUnknown;  // unplugged while we waited
      }
      const std::uint32_t low = 0xFFFF & ~kStateChanged;
      bool changed = (s.currentState & low) != (now & low);
      if ((s.currentState >> 16) != 0 || s.reader == kPnpNotification) {
        changed = changed || (s.currentState >> 16) != (now >> 16);
      }
      fresh[i] = now | (changed ? kStateChanged : 0);
      anyChange = anyChange || changed;
    }
    if (anyChange) break;
    if (timeoutMs == 0) return kTimeout;
    if (timeoutMs == kInfinite) {
      changed_.wait(lock);
    } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout &&
               std::chrono::steady_clock::now() >= deadline) {
      return kTimeout;
    }
  }

  for (std::uint32_t i = 0; i < count; ++i) {
    ReaderState& s = states[i];
    if (s.currentState & kStateIgnore) continue;
    s.eventState = fresh[i];
    s.atrLength = 0;
    std::memset(s.atr, 0, sizeof s.atr);
    if (s.reader == kPnpNotification) continue;
    if (auto reader = findReader(s.reader); reader && reader->card) {
      const auto atr = reader->card->atr();
      const std::size_t n = std::min(atr.size(), sizeof s.atr);
      std::memcpy(s.atr, atr.data(), n);
      s.atrLength = static_cast<std::uint32_t>(n);
    }
  }
  return kSuccess;
}

PcscResult SimulatedPcsc::connect(PcscContext context, const char* readerName,
                                  std::uint32_t shareMode, std::uint32_t preferredProtocols,
                                  PcscHandle* card, std::uint32_t* activeProtocol) {
  std::lock_guard lock(mutex_);
  PcscCallRecord rec;
  rec.call = PcscCall::kConnect;
  rec.reader = readerName ? readerName : "";
  rec.shareMode = shareMode;
  rec.preferredProtocols = preferredProtocols;
  auto finish = [&](PcscResult rc) {
    rec.result = rc;
    record(rec);
    return rc;
  };

  PcscResult injected;
  if (takeFault(PcscCall::kConnect, &injected)) return finish(injected);
  if (PcscResult rc = checkContext(context); rc != kSuccess) return finish(rc);
  if (!card || !activeProtocol) return finish(kInvalidParameter);
  auto reader = readerName ? findReader(readerName) : nullptr;
  if (!reader) return finish(kUnknownReader);
  if (!validShareMode(shareMode) || !validProtocols(shareMode, preferredProtocols)) {
    return finish(kInvalidValue);
  }

  Connection c;
  c.context = context;
  c.reader = reader;
  c.shareMode = shareMode;
  // pcsc-lite looks at the sharing before it looks for a card.
  if (heldByOthers(*reader, 0, shareMode != kShareExclusive)) return finish(kSharingViolation);
  if (shareMode != kShareDirect) {
    if (!reader->card) return finish(kNoSmartcard);
    if (reader->card->atr().empty()) return finish(kUnresponsiveCard);
  }
  if (shareMode != kShareDirect) {
    if (!reader->powered) {
      reader->powered = true;
      reader->protocol = 0;
    }
    std::uint32_t active = 0;
    if (PcscResult rc = negotiate(*reader, preferredProtocols, &active); rc != kSuccess) {
      return finish(rc);
    }
    reader->protocol = active;
    c.protocol = active;
  }

  const PcscHandle handle = nextHandle_++;
  connections_[handle] = c;
  *card = handle;
  *activeProtocol = c.protocol;
  rec.handle = handle;
  rec.protocol = c.protocol;
  changed_.notify_all();
  return finish(kSuccess);
}

PcscResult SimulatedPcsc::reconnect(PcscHandle handle, std::uint32_t shareMode,
                                    std::uint32_t preferredProtocols, std::uint32_t initialization,
                                    std::uint32_t* activeProtocol) {
  std::lock_guard lock(mutex_);
  PcscCallRecord rec;
  rec.call = PcscCall::kReconnect;
  rec.handle = handle;
  rec.shareMode = shareMode;
  rec.preferredProtocols = preferredProtocols;
  rec.initialization = initialization;
  auto finish = [&](PcscResult rc) {
    rec.result = rc;
    record(rec);
    return rc;
  };

  Connection* c = nullptr;
  PcscResult found = findConnection(handle, &c);
  if (c) rec.reader = c->reader->name;
  PcscResult injected;
  if (takeFault(PcscCall::kReconnect, &injected)) return finish(injected);
  if (found != kSuccess) return finish(found);
  if (!activeProtocol) return finish(kInvalidParameter);
  if (c->reader->detached) return finish(kReaderUnavailable);
  if (!validShareMode(shareMode) || !validProtocols(shareMode, preferredProtocols) ||
      initialization > kUnpowerCard) {
    return finish(kInvalidValue);
  }
  Reader& reader = *c->reader;
  if (!reader.card) return finish(kNoSmartcard);
  if (heldByOthers(reader, handle, shareMode != kShareExclusive)) {
    return finish(kSharingViolation);
  }

  if (initialization == ruzazuv::kResetCard || initialization == kUnpowerCard) {
    resetCard(reader, handle, false);  // an unpowered card is powered up again at once
  } else if (!reader.powered) {
    reader.powered = true;
    reader.protocol = 0;
  }
  std::uint32_t active = 0;
  if (shareMode != kShareDirect) {
    if (PcscResult rc = negotiate(reader, preferredProtocols, &active); rc != kSuccess) {
      return finish(rc);
    }
    reader.protocol = active;
  }
  c->shareMode = shareMode;
  c->protocol = active;
  c->event = kSuccess;
  c->cardGone = false;
  *activeProtocol = active;
  rec.protocol = active;
  changed_.notify_all();
  return finish(kSuccess);
}

PcscResult SimulatedPcsc::disconnect(PcscHandle handle, std::uint32_t disposition) {
  std::lock_guard lock(mutex_);
  PcscCallRecord rec;
  rec.call = PcscCall::kDisconnect;
  rec.handle = handle;
  rec.disposition = disposition;
  auto finish = [&](PcscResult rc) {
    rec.result = rc;
    record(rec);
    return rc;
  };

  Connection* c = nullptr;
  PcscResult found = findConnection(handle, &c);
  if (c) rec.reader = c->reader->name;
  PcscResult injected;
  if (takeFault(PcscCall::kDisconnect, &injected)) return finish(injected);
  if (found != kSuccess) return finish(found);
  if (disposition > kEjectCard) return finish(kInvalidValue);
  if (!c->reader->detached && c->event != kRemovedCard &&
      (disposition == ruzazuv::kResetCard || disposition == kUnpowerCard)) {
    resetCard(*c->reader, handle, disposition == kUnpowerCard);
  }
  // kEjectCard: readers without a mechanism leave the card where it is, as pcsc-lite does.
  connections_.erase(handle);
  changed_.notify_all();
  return finish(kSuccess);
}

PcscResult SimulatedPcsc::status(PcscHandle handle, char* readerName, std::uint32_t* readerLength,
                                 std::uint32_t* state, std::uint32_t* protocol, std::uint8_t* atr,
                                 std::uint32_t* atrLength) {
  std::lock_guard lock(mutex_);
  PcscResult injected;
  if (takeFault(PcscCall::kStatus, &injected)) return injected;
  Connection* c = nullptr;
  if (PcscResult rc = findConnection(handle, &c); rc != kSuccess) return rc;
  if (c->reader->detached) return kReaderUnavailable;
  if (c->event != kSuccess) return c->event;
  if ((readerName && !readerLength) || (atr && !atrLength)) return kInvalidParameter;

  const Reader& reader = *c->reader;
  CardState cardState = CardState::kAbsent;
  if (reader.card) {
    cardState = !reader.powered    ? CardState::kPresent
                : c->protocol != 0 ? CardState::kSpecific
                                   : CardState::kNegotiable;
  }
  if (state) *state = static_cast<std::uint32_t>(cardState);
  if (protocol) *protocol = c->protocol;

  PcscResult rc = kSuccess;
  // The reader's names as a multi-string: the name, its zero and the closing zero.
  const auto nameLength = static_cast<std::uint32_t>(reader.name.size() + 2);
  if (readerLength) {
    if (readerName) {
      if (*readerLength < nameLength) {
        rc = kInsufficientBuffer;
      } else {
        std::memcpy(readerName, reader.name.data(), reader.name.size());
        readerName[reader.name.size()] = '\0';
        readerName[reader.name.size() + 1] = '\0';
      }
    }
    *readerLength = nameLength;
  }
  const auto cardAtr = reader.card ? reader.card->atr() : std::vector<std::uint8_t>{};
  const auto atrSize = static_cast<std::uint32_t>(cardAtr.size());
  if (atrLength) {
    if (atr) {
      if (*atrLength < atrSize) {
        rc = kInsufficientBuffer;
      } else if (atrSize > 0) {
        std::memcpy(atr, cardAtr.data(), atrSize);
      }
    }
    *atrLength = atrSize;
  }
  return rc;
}

PcscResult SimulatedPcsc::getAttrib(PcscHandle handle, std::uint32_t attrId, std::uint8_t* buffer,
                                    std::uint32_t* length) {
  std::lock_guard lock(mutex_);
  PcscResult injected;
  if (takeFault(PcscCall::kGetAttrib, &injected)) return injected;
  Connection* c = nullptr;
  if (PcscResult rc = findConnection(handle, &c); rc != kSuccess) return rc;
  if (c->reader->detached) return kReaderUnavailable;
  if (!length) return kInvalidParameter;
  auto it = c->reader->attributes.find(attrId);
  if (it == c->reader->attributes.end()) return kUnsupportedFeature;
  const auto size = static_cast<std::uint32_t>(it->second.size());
  if (!buffer) {
    *length = size;
    return kSuccess;
  }
  if (*length < size) {
    *length = size;
    return kInsufficientBuffer;
  }
  if (size > 0) std::memcpy(buffer, it->second.data(), size);
  *length = size;
  return kSuccess;
}

PcscResult SimulatedPcsc::transmit(PcscHandle handle, std::uint32_t protocol,
                                   const std::uint8_t* send, std::uint32_t sendLength,
                                   std::uint8_t* recv, std::uint32_t* recvLength) {
  std::unique_lock lock(mutex_);
  PcscCallRecord rec;
  rec.call = PcscCall::kTransmit;
  rec.handle = handle;
  rec.protocol = protocol;
  if (send && sendLength <= kMaxCommandLength) rec.command.assign(send, send + sendLength);
  auto finish = [&](PcscResult rc) {
    rec.result = rc;
    record(rec);
    return rc;
  };

  Connection* c = nullptr;
  PcscResult found = findConnection(handle, &c);
  if (c) rec.reader = c->reader->name;
  PcscResult injected;
  if (takeFault(PcscCall::kTransmit, &injected)) return finish(injected);
  if (found != kSuccess) return finish(found);
  if (c->reader->detached) return finish(kReaderUnavailable);
  if (c->event != kSuccess) return finish(c->event);
  if (!send || !recv || !recvLength || sendLength == 0 || sendLength > kMaxCommandLength) {
    return finish(kInvalidParameter);
  }
  Reader& reader = *c->reader;
  if (!reader.card) return finish(kNoSmartcard);
  if (protocol != c->protocol) return finish(kProtoMismatch);

  auto card = reader.card;
  rec.response = card->transmit(rec.command);
  rec.delivered = true;
  PcscResult rc = kSuccess;
  const auto size = static_cast<std::uint32_t>(rec.response.size());
  if (size == 0) {
    rc = kUnresponsiveCard;
  } else if (size > *recvLength) {
    rc = kInsufficientBuffer;  // nothing is copied; the length needed is reported
  } else {
    std::memcpy(recv, rec.response.data(), size);
  }
  *recvLength = size;
  const std::string readerName = reader.name;
  const std::vector<std::uint8_t> command = rec.command;
  finish(rc);
  TransmitHook hook = transmitHook_;
  lock.unlock();
  if (hook) hook(readerName, command);
  return rc;
}

}  // namespace ruzazuv
