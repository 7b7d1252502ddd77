// The server side of the WebSocket framing: an incremental parser for what a client sends, fed
// bytes as they arrive, and the frames the server writes. Without Qt, so that it can be fuzzed
// and tested on its own.
//
// The parser holds at most one message (bounded by its limit) and one control frame; it never
// buffers more than a frame header of input. A client breaking the rules ends the stream with
// the close code to send: 1002 for a protocol error (an unmasked frame, reserved bits, an unknown
// opcode, a fragmented or oversized control frame, a continuation without a start, a length not
// in its shortest form), 1007 for text that is not UTF-8, 1009 for a message over the limit
// (counted after its fragments are joined), 1003 for binary data. Message payloads are kept in
// SecretString, since a page's messages carry PIN blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rpc/secret_string.h"

namespace ruzazuv::bridge::websocket {

namespace opcode {
inline constexpr std::uint8_t kContinuation = 0x0;
inline constexpr std::uint8_t kText = 0x1;
inline constexpr std::uint8_t kBinary = 0x2;
inline constexpr std::uint8_t kClose = 0x8;
inline constexpr std::uint8_t kPing = 0x9;
inline constexpr std::uint8_t kPong = 0xA;
}  // namespace opcode

namespace close_code {
inline constexpr std::uint16_t kNormal = 1000;
inline constexpr std::uint16_t kGoingAway = 1001;
inline constexpr std::uint16_t kProtocolError = 1002;
inline constexpr std::uint16_t kUnsupportedData = 1003;
inline constexpr std::uint16_t kNoStatus = 1005;  // a close frame without a code
inline constexpr std::uint16_t kAbnormal = 1006;  // the connection ended without a close frame
inline constexpr std::uint16_t kInvalidPayload = 1007;
inline constexpr std::uint16_t kPolicyViolation = 1008;
inline constexpr std::uint16_t kMessageTooBig = 1009;
}  // namespace close_code

// What a client sent: a whole text message, a ping or pong, or its close frame.
struct Event {
  enum class Kind { kText, kPing, kPong, kClose };
  Kind kind = Kind::kText;
  SecretString payload;  // the message text, the ping's data, the close reason
  std::uint16_t closeCode = close_code::kNoStatus;  // for kClose: the code the client gave
};

class FrameParser {
 public:
  explicit FrameParser(std::size_t maxMessageBytes) : maxMessageBytes_(maxMessageBytes) {}

  // Consumes `data`, appending every event it completes to `*events`. Returns 0 while the
  // client keeps to the rules, else the close code to answer with; from then on (and after the
  // client's close frame) further input is ignored.
  std::uint16_t feed(std::string_view data, std::vector<Event>* events);

  // The close code of the failure, 0 while there is none.
  std::uint16_t failure() const { return failure_; }
  // Why, in a few words (for the close frame's reason and the log).
  std::string_view failureReason() const { return reason_; }
  // The client has sent its close frame.
  bool closed() const { return closed_; }

 private:
  std::uint16_t fail(std::uint16_t code, std::string_view reason);
  // Checks the frame whose header is complete; 0 when it may be read.
  std::uint16_t startFrame();
  std::uint16_t endFrame(std::vector<Event>* events);

  std::size_t maxMessageBytes_;
  std::array<unsigned char, 14> header_{};
  std::size_t headerHave_ = 0;
  std::size_t headerNeed_ = 2;
  bool inPayload_ = false;
  bool fin_ = false;
  std::uint8_t opcode_ = 0;
  std::array<unsigned char, 4> mask_{};
  std::uint64_t remaining_ = 0;  // payload bytes of the current frame still to come
  std::uint64_t offset_ = 0;     // payload bytes of the current frame read so far
  bool inMessage_ = false;       // a fragmented text message has begun
  SecretString message_;         // the text message being joined
  SecretString control_;         // the control frame being read (at most 125 bytes)
  std::uint16_t failure_ = 0;
  std::string reason_;
  bool closed_ = false;
};

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool validUtf8(std::string_view text);

// The header of an unmasked, final server frame carrying `length` payload bytes.
std::string frameHeader(std::uint8_t opcode, std::size_t length);
// A whole server frame: a pong (echoing the ping's data) or another control frame.
std::string controlFrame(std::uint8_t opcode, std::string_view payload);
// A close frame with `code` and a reason (cut to fit, at a character boundary).
std::string closeFrame(std::uint16_t code, std::string_view reason);
// Whether a client may send `code` in its close frame.
bool validCloseCode(std::uint16_t code);

}  // namespace ruzazuv::bridge::websocket
