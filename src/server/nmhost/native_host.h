// The native-messaging host's work, apart from the event loop that feeds it: frames from the
// browser are decoded and queued as they come (also while a request's dialog is open), and the
// queue runs one envelope at a time, in frame order, on the caller's thread. Each origin has its
// own process-wide state and its own controls ("control": K), as a page's connection has on the
// bridge; the page address the controls see is the origin followed by "/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/page_dialogs.h"
#include "control/process_state.h"
#include "host/host_services.h"
#include "nmhost/native_envelope.h"
#include "nmhost/native_frames.h"
#include "rpc/control_registry.h"
#include "rpc/rpc_dispatcher.h"

namespace ruzazuv::nmhost {

// Frames waiting beyond this make the host stop reading its input until the queue has run down
// (the browser then holds the rest).
inline constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;

struct NativeHostConfig {
  std::u16string siteAddress;
  std::vector<std::string> allowedOrigins;  // normalised
};

class NativeHost {
 public:
  // Writes one whole frame to the browser; false when it cannot (nobody reads any more).
  using Writer = std::function<bool(std::string_view frame)>;
  // Asks for run() to be called soon from the event loop.
  using Wake = std::function<void()>;
  // The host is done: the exit status (0: the input ended or the output closed; 1: the input
  // broke the framing or the envelope rules).
  using Finish = std::function<void(int status)>;

  // `dialogs` is null when the host shows no dialogs.
  NativeHost(NativeHostConfig config, HostServices& host, bridge::PageDialogs* dialogs,
             Writer writer, Wake wake, Finish finish);
  ~NativeHost();
  NativeHost(const NativeHost&) = delete;
  NativeHost& operator=(const NativeHost&) = delete;

  // Bytes read from the browser.
  void feed(std::string_view bytes);
  // The browser closed the input: what is queued still runs (with its confirmations cancelled,
  // the page being gone), then the host finishes with 0.
  void endOfInput();
  // Runs the next queued envelope; the host asks to be woken again while more wait. Does
  // nothing while an envelope runs (a dialog's event loop may call it).
  void run();

  // Whether more input is wanted now (not after its end or a refusal, nor while the queue is
  // full).
  bool wantsInput() const { return !inputDone_ && queuedBytes_ <= kMaxQueuedBytes; }
  bool finished() const { return finished_; }

 private:
  struct Origin;

  void queue(SecretString frame);
  void refuseInput(int status, const std::string& reason);
  void answer(const Envelope& envelope);
  void write(const SecretString& payload);
  void finishIfDone();
  Origin& originFor(const std::string& origin);

  NativeHostConfig config_;
  HostServices& host_;
  bridge::PageDialogs* dialogs_;
  Writer writer_;
  Wake wake_;
  Finish finish_;
  FrameDecoder decoder_;
  std::deque<Envelope> queue_;
  std::size_t queuedBytes_ = 0;
  bool inputDone_ = false;  // no more frames are taken
  bool pageGone_ = false;   // the browser closed the input
  int status_ = 0;          // the exit status once the queue has run
  bool running_ = false;
  bool finished_ = false;
  std::map<std::string, std::unique_ptr<Origin>> origins_;
};

}  // namespace ruzazuv::nmhost
