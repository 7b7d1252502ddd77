// JSON-RPC 2.0 over the IVorn member table: get, put, call and describe, single requests and
// batches, notifications. Shared by the bridge and the command-line tool.
//
// A message is read and checked whole before any of its requests runs (begin), then run one
// request at a time (PendingMessage::runNext), so that a host can interleave the requests of
// several clients. The answer bytes one message may cost are bounded: a message whose answers
// could exceed kMaxAnswerBytes is refused whole, before anything in it runs.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "rpc/control_registry.h"
#include "rpc/json_value.h"
#include "rpc/rpc_error.h"
#include "rpc/secret_string.h"

namespace ruzazuv {

struct PreparedRequest;

// One message's requests, run one at a time. It refers to the dispatcher's controls, so it must
// not outlive the dispatcher that began it.
class PendingMessage {
 public:
  ~PendingMessage();
  PendingMessage(const PendingMessage&) = delete;
  PendingMessage& operator=(const PendingMessage&) = delete;

  // Every request has run (or the message was refused whole).
  bool finished() const;
  // Runs the next request; only while !finished().
  void runNext();
  // Once finished: the answer text (taken out, so call once); none when the message held only
  // notifications.
  std::optional<SecretString> answer();

 private:
  friend class RpcDispatcher;
  explicit PendingMessage(ControlRegistry& controls);
  void refuse(int code, std::string_view message);
  void append(const SecretString& text);

  ControlRegistry& controls_;
  std::vector<PreparedRequest> requests_;
  std::size_t next_ = 0;
  bool batch_ = false;
  std::size_t answers_ = 0;  // answers written into text_
  SecretString text_;
  std::optional<SecretString> refusal_;
};

class RpcDispatcher {
 public:
  // Arrays and objects nested deeper than this make a message an invalid request.
  static constexpr std::size_t kMaxNesting = 64;
  // The most answer bytes one message may cost, estimated before it runs from what is known
  // then; a message that could exceed it is refused whole with one -32600 answer.
  static constexpr std::size_t kMaxAnswerBytes = 1024 * 1024;

  explicit RpcDispatcher(ControlRegistry& controls) : controls_(controls) {}

  // Reads and checks a message (a request or a batch array). Never throws; null only when not
  // even the pending message could be allocated.
  std::unique_ptr<PendingMessage> begin(std::string_view message);
  // begin, then every request: the answer text, or nothing when the message held only
  // notifications. Never throws.
  std::optional<SecretString> handle(std::string_view message);

  // An answer for a message refused before it was read (for example, too large).
  static SecretString errorText(int code, std::string_view message);

 private:
  ControlRegistry& controls_;
};

}  // namespace ruzazuv
