#include "bridge/websocket_frames.h"

#include <algorithm>

namespace ruzazuv::bridge::websocket {
namespace {

constexpr std::size_t kMaxControlPayload = 125;

bool isControl(std::uint8_t op) {
  return (op & 0x8) != 0;
}

bool knownOpcode(std::uint8_t op) {
  return op == opcode::kContinuation || op == opcode::kText || op == opcode::kBinary ||
         op == opcode::kClose || op == opcode::kPing || op == opcode::kPong;
}

}  // namespace

std::uint16_t FrameParser::fail(std::uint16_t code, std::string_view reason) {
  failure_ = code;
  reason_ = reason;
  message_.clear();
  control_.clear();
  return code;
}

std::uint16_t FrameParser::feed(std::string_view data, std::vector<Event>* events) {
  while (failure_ == 0 && !closed_) {
    if (!inPayload_) {
      if (data.empty()) break;
      const std::size_t take = std::min(headerNeed_ - headerHave_, data.size());
      std::copy_n(data.begin(), take, header_.begin() + static_cast<std::ptrdiff_t>(headerHave_));
      headerHave_ += take;
      data.remove_prefix(take);
      if (headerHave_ < headerNeed_) break;
      if (headerHave_ == 2) {
        // The first two bytes decide everything but the length: refuse early.
        const unsigned char b0 = header_[0];
        const unsigned char b1 = header_[1];
        fin_ = (b0 & 0x80) != 0;
        opcode_ = static_cast<std::uint8_t>(b0 & 0x0F);
        const unsigned length7 = b1 & 0x7Fu;
        if ((b0 & 0x70) != 0) return fail(close_code::kProtocolError, "reserved bits set");
        if (!knownOpcode(opcode_)) return fail(close_code::kProtocolError, "unknown opcode");
        if ((b1 & 0x80) == 0) return fail(close_code::kProtocolError, "unmasked client frame");
        if (isControl(opcode_)) {
          if (!fin_) return fail(close_code::kProtocolError, "fragmented control frame");
          if (length7 > kMaxControlPayload)
            return fail(close_code::kProtocolError, "control frame over 125 bytes");
        } else if (opcode_ == opcode::kBinary) {
          return fail(close_code::kUnsupportedData, "JSON-RPC goes in text messages");
        } else if (opcode_ == opcode::kContinuation && !inMessage_) {
          return fail(close_code::kProtocolError, "continuation without a message");
        } else if (opcode_ == opcode::kText && inMessage_) {
          return fail(close_code::kProtocolError, "new message inside a fragmented one");
        }
        headerNeed_ = 2 + 4 + (length7 == 126 ? 2 : length7 == 127 ? 8 : 0);
        continue;
      }
      if (const std::uint16_t code = startFrame(); code != 0) return code;
    }
    // In a payload (possibly empty): unmask what has arrived into its buffer.
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, data.size()));
    SecretString& target = isControl(opcode_) ? control_ : message_;
    for (std::size_t i = 0; i < take; ++i)
      target.push_back(static_cast<char>(static_cast<unsigned char>(data[i]) ^
                                         mask_[static_cast<std::size_t>((offset_ + i) & 3)]));
    data.remove_prefix(take);
    remaining_ -= take;
    offset_ += take;
    if (remaining_ > 0) break;
    if (const std::uint16_t code = endFrame(events); code != 0) return code;
  }
  return failure_;
}

std::uint16_t FrameParser::startFrame() {
  const unsigned length7 = header_[1] & 0x7Fu;
  std::uint64_t length = length7;
  std::size_t at = 2;
  if (length7 == 126) {
    length = (std::uint64_t{header_[2]} << 8) | header_[3];
    at = 4;
    if (length < 126) return fail(close_code::kProtocolError, "length not in its shortest form");
  } else if (length7 == 127) {
    length = 0;
    for (std::size_t i = 2; i < 10; ++i) length = (length << 8) | header_[i];
    at = 10;
    if (length >> 63 != 0) return fail(close_code::kProtocolError, "length over 63 bits");
    if (length < 65536) return fail(close_code::kProtocolError, "length not in its shortest form");
  }
  std::copy_n(header_.begin() + static_cast<std::ptrdiff_t>(at), 4, mask_.begin());
  if (!isControl(opcode_)) {
    if (length > maxMessageBytes_ - message_.size())
      return fail(close_code::kMessageTooBig, "message too big");
    message_.reserve(message_.size() + static_cast<std::size_t>(length));
  }
  remaining_ = length;
  offset_ = 0;
  inPayload_ = true;
  return 0;
}

std::uint16_t FrameParser::endFrame(std::vector<Event>* events) {
  inPayload_ = false;
  headerHave_ = 0;
  headerNeed_ = 2;
  if (isControl(opcode_)) {
    Event event;
    if (opcode_ == opcode::kClose) {
      event.kind = Event::Kind::kClose;
      if (control_.size() == 1) return fail(close_code::kProtocolError, "close code cut short");
      if (control_.size() >= 2) {
        event.closeCode =
            static_cast<std::uint16_t>((static_cast<unsigned char>(control_[0]) << 8) |
                                       static_cast<unsigned char>(control_[1]));
        if (!validCloseCode(event.closeCode))
          return fail(close_code::kProtocolError, "invalid close code");
        if (!validUtf8(control_.view().substr(2)))
          return fail(close_code::kInvalidPayload, "close reason is not UTF-8");
        event.payload.assign(control_.view().substr(2));
      }
      closed_ = true;
    } else {
      event.kind = opcode_ == opcode::kPing ? Event::Kind::kPing : Event::Kind::kPong;
      event.payload.assign(control_.view());
    }
    control_.clear();
    events->push_back(std::move(event));
    return 0;
  }
  inMessage_ = !fin_;
  if (!fin_) return 0;
  if (!validUtf8(message_.view())) return fail(close_code::kInvalidPayload, "text is not UTF-8");
  Event event;
  event.payload = std::move(message_);
  message_.clear();
  events->push_back(std::move(event));
  return 0;
}

bool validUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t extra = 0;
    unsigned char low = 0x80;  // the range of the first continuation byte
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) low = 0xA0;   // no overlong forms
      if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) low = 0x90;   // no overlong forms
      if (c == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
      return false;
    }
    if (text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return false;
    }
    i += extra + 1;
  }
  return true;
}

bool validCloseCode(std::uint16_t code) {
  return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) ||
         (code >= 3000 && code <= 4999);
}

std::string frameHeader(std::uint8_t op, std::size_t length) {
  std::string header(1, static_cast<char>(0x80 | op));
  if (length < 126) {
    header.push_back(static_cast<char>(length));
  } else if (length <= 0xFFFF) {
    header.push_back(static_cast<char>(126));
    header.push_back(static_cast<char>(length >> 8));
    header.push_back(static_cast<char>(length & 0xFF));
  } else {
    header.push_back(static_cast<char>(127));
    for (int shift = 56; shift >= 0; shift -= 8)
      header.push_back(static_cast<char>((static_cast<std::uint64_t>(length) >> shift) & 0xFF));
  }
  return header;
}

std::string controlFrame(std::uint8_t op, std::string_view payload) {
  payload = payload.substr(0, kMaxControlPayload);
  return frameHeader(op, payload.size()).append(payload);
}

std::string closeFrame(std::uint16_t code, std::string_view reason) {
  std::size_t keep = std::min(reason.size(), kMaxControlPayload - 2);
  while (keep > 0 && keep < reason.size() &&
         (static_cast<unsigned char>(reason[keep]) & 0xC0) == 0x80)
    --keep;  // do not cut a character in two
  std::string payload{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
  payload.append(reason.substr(0, keep));
  return controlFrame(opcode::kClose, payload);
}

}  // namespace ruzazuv::bridge::websocket
