// The framing of the browsers' native messaging, both directions: a 32-bit length in this
// machine's byte order, then that many bytes of UTF-8 JSON. The decoder takes the input in
// whatever pieces the pipe gives and hands out whole frames; frames can hold PIN blocks, so
// every buffer is a wiped one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "rpc/secret_string.h"

namespace ruzazuv::nmhost {

inline constexpr std::size_t kFrameHeaderBytes = 4;
// The longest frame taken from the browser.
inline constexpr std::size_t kMaxInputFrameBytes = 64 * 1024;
// The longest frame the browser takes from a host.
inline constexpr std::size_t kMaxOutputFrameBytes = 1024 * 1024;

class FrameDecoder {
 public:
  enum class Status {
    kOk,        // all bytes taken; frames may be waiting for more
    kTooLarge,  // a length over kMaxInputFrameBytes
    kEmpty,     // a length of zero
  };

  // Takes `bytes`, appending every frame they complete to `*frames`. The frames before a bad
  // length are still handed out; after one, the decoder takes nothing more and keeps returning
  // its status.
  Status feed(std::string_view bytes, std::vector<SecretString>* frames);

  Status status() const { return status_; }
  // Bytes of an unfinished frame are held (at the end of input: a truncated frame).
  bool midFrame() const { return !header_.empty() || pending_ > 0; }
  // Why the input was refused, for the log; empty while it is not.
  std::string_view failureReason() const;

 private:
  Status status_ = Status::kOk;
  SecretString header_;      // the length bytes seen so far, until there are four
  std::size_t pending_ = 0;  // payload bytes the current frame still needs
  SecretString payload_;
};

// A frame carrying `payload` (at most kMaxOutputFrameBytes; the caller sees to that).
SecretString encodeFrame(std::string_view payload);

}  // namespace ruzazuv::nmhost
