// The bridge's WebSocket framing: what the parser makes of client frames (events, or the close
// code a broken rule earns), fed whole or split anywhere, and the frames the server writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/websocket_frames.h"

namespace ruzazuv::bridge::websocket {
namespace {

constexpr std::size_t kLimit = 64 * 1024;

struct FrameOptions {
  bool fin = true;
  bool masked = true;
  unsigned rsv = 0;    // the three reserved bits, 0-7
  int lengthForm = 0;  // 0: shortest; 126 or 127: that form whatever the length
};

// A frame as a client sends it (masked unless told otherwise).
std::string frame(std::uint8_t op, const std::string& payload, FrameOptions o = {}) {
  std::string out(1, static_cast<char>((o.fin ? 0x80 : 0) | (o.rsv << 4) | op));
  const unsigned maskBit = o.masked ? 0x80 : 0;
  const std::size_t n = payload.size();
  const int form = o.lengthForm != 0 ? o.lengthForm : n < 126 ? 0 : n < 65536 ? 126 : 127;
  if (form == 0) {
    out.push_back(static_cast<char>(maskBit | n));
  } else {
    out.push_back(static_cast<char>(maskBit | static_cast<unsigned>(form)));
    const int bytes = form == 126 ? 2 : 8;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  }
  const std::string mask = "\x37\xfa\x21\x3d";
  if (o.masked) out += mask;
  for (std::size_t i = 0; i < n; ++i)
    out.push_back(o.masked ? static_cast<char>(payload[i] ^ mask[i % 4]) : payload[i]);
  return out;
}

std::string text(const std::string& payload, FrameOptions o = {}) {
  return frame(opcode::kText, payload, o);
}
std::string more(const std::string& payload, bool fin) {
  return frame(opcode::kContinuation, payload, {.fin = fin});
}
std::string closeOf(std::uint16_t code, const std::string& reason) {
  return frame(opcode::kClose,
               std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)} + reason);
}

// Events rendered as short strings, so that a case reads as what it expects.
std::string render(const Event& e) {
  switch (e.kind) {
    case Event::Kind::kText:
      return "text:" + std::string(e.payload.view());
    case Event::Kind::kPing:
      return "ping:" + std::string(e.payload.view());
    case Event::Kind::kPong:
      return "pong:" + std::string(e.payload.view());
    case Event::Kind::kClose:
      return "close:" + std::to_string(e.closeCode) + ":" + std::string(e.payload.view());
  }
  return "?";
}

struct Outcome {
  std::vector<std::string> events;
  std::uint16_t code = 0;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << "code " << o.code << ", events:";
  for (const std::string& e : o.events) *os << " [" << e.substr(0, 40) << "]";
}

// Feeds `bytes` in pieces cut at `cuts` (ascending offsets).
Outcome parse(const std::string& bytes, const std::vector<std::size_t>& cuts = {}) {
  FrameParser parser(kLimit);
  Outcome out;
  std::vector<Event> events;
  std::size_t at = 0;
  std::vector<std::size_t> ends = cuts;
  ends.push_back(bytes.size());
  for (std::size_t end : ends) {
    out.code = parser.feed(std::string_view(bytes).substr(at, end - at), &events);
    at = end;
  }
  for (const Event& e : events) out.events.push_back(render(e));
  return out;
}

struct Case {
  const char* name;
  std::string bytes;
  Outcome expected;
};

TEST(FrameParser, ClientStreamsGiveTheirEventsOrTheCloseCodeTheyEarn) {
  const std::string big(kLimit, 'x');
  const std::vector<Case> cases = {
      {"masked text", text("hello"), {{"text:hello"}, 0}},
      {"unmasked text", text("hello", {.masked = false}), {{}, 1002}},
      {"reserved bit 1", text("x", {.rsv = 4}), {{}, 1002}},
      {"opcode 3", frame(3, "x"), {{}, 1002}},
      {"opcode 0xB", frame(0xB, "x"), {{}, 1002}},
      {"binary", frame(opcode::kBinary, "x"), {{}, 1003}},
      {"fragments with a ping between",
       text("he", {.fin = false}) + frame(opcode::kPing, "p") + more("l", false) + more("lo", true),
       {{"ping:p", "text:hello"}, 0}},
      {"continuation without a start", more("x", true), {{}, 1002}},
      {"a new text inside a fragmented one", text("a", {.fin = false}) + text("b"), {{}, 1002}},
      {"fragmented ping", frame(opcode::kPing, "p", {.fin = false}), {{}, 1002}},
      {"ping of 126 bytes", frame(opcode::kPing, std::string(126, 'p')), {{}, 1002}},
      {"ping of 125 bytes and a pong",
       frame(opcode::kPing, std::string(125, 'p')) + frame(opcode::kPong, "q"),
       {{"ping:" + std::string(125, 'p'), "pong:q"}, 0}},
      {"close with a code and reason", closeOf(1000, "bye"), {{"close:1000:bye"}, 0}},
      {"close without a code", frame(opcode::kClose, ""), {{"close:1005:"}, 0}},
      {"close of one byte", frame(opcode::kClose, "\x03"), {{}, 1002}},
      {"close code 1005 sent", closeOf(1005, ""), {{}, 1002}},
      {"close code 999", closeOf(999, ""), {{}, 1002}},
      {"close code 4000", closeOf(4000, ""), {{"close:4000:"}, 0}},
      {"close reason not UTF-8", closeOf(1000, "\xC0\x80"), {{}, 1007}},
      {"nothing read after the close", closeOf(1001, "") + text("late"), {{"close:1001:"}, 0}},
      {"multi-byte UTF-8",
       text("\xE2\x82\xAC\xF0\x9D\x84\x9E"),
       {{"text:\xE2\x82\xAC\xF0\x9D\x84\x9E"}, 0}},
      {"UTF-8 character split across fragments",
       text("\xE2\x82", {.fin = false}) + more("\xAC", true),
       {{"text:\xE2\x82\xAC"}, 0}},
      {"overlong form", text("\xC0\xAF"), {{}, 1007}},
      {"surrogate", text("\xED\xA0\x80"), {{}, 1007}},
      {"past U+10FFFF", text("\xF4\x90\x80\x80"), {{}, 1007}},
      {"cut short", text("ok\xE2\x82"), {{}, 1007}},
      {"events before a broken rule are kept",
       text("a") + text("b", {.masked = false}),
       {{"text:a"}, 1002}},
      {"64 KiB exactly", text(big), {{"text:" + big}, 0}},
      {"64 KiB and one byte", text(big + "x"), {{}, 1009}},
      {"over 64 KiB once joined",
       text(big.substr(10), {.fin = false}) + more(big.substr(0, 11), true),
       {{}, 1009}},
      {"length in a longer form than needed", text("x", {.lengthForm = 126}), {{}, 1002}},
      {"64-bit length for 200 bytes", text(std::string(200, 'y'), {.lengthForm = 127}), {{}, 1002}},
      {"64-bit length with its top bit set",
       std::string("\x81\xFF\x80\0\0\0\0\0\0\0mask", 14),
       {{}, 1002}},
  };
  for (const Case& c : cases) EXPECT_EQ(parse(c.bytes), c.expected) << c.name;
}

TEST(FrameParser, TheSameEventsWhereverTheInputIsCut) {
  const std::string stream = text("{\"a\":", {.fin = false}) + frame(opcode::kPing, "hi") +
                             more("1}", true) + text(std::string(300, 'z')) + closeOf(1000, "end");
  const Outcome whole = parse(stream);
  ASSERT_EQ(whole.events.size(), 4u);
  for (std::size_t cut = 1; cut < stream.size(); ++cut)
    ASSERT_EQ(parse(stream, {cut}), whole) << "cut at " << cut;
  std::vector<std::size_t> everyByte;
  for (std::size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
  EXPECT_EQ(parse(stream, everyByte), whole);
}

TEST(FrameParser, ABrokenRuleEndsTheStreamForGood) {
  FrameParser parser(kLimit);
  std::vector<Event> events;
  EXPECT_EQ(parser.feed(frame(opcode::kBinary, "x"), &events), 1003);
  EXPECT_FALSE(parser.failureReason().empty());
  EXPECT_EQ(parser.feed(text("after"), &events), 1003);
  EXPECT_TRUE(events.empty());
}

TEST(ServerFrames, AreUnmaskedFinalFramesWithTheShortestLength) {
  const std::vector<std::pair<std::size_t, std::string>> headers = {
      {0, std::string("\x81\x00", 2)},
      {125, "\x81\x7D"},
      {126, std::string("\x81\x7E\x00\x7E", 4)},
      {65535, "\x81\x7E\xFF\xFF"},
      {65536, std::string("\x81\x7F\0\0\0\0\0\x01\0\0", 10)},
  };
  for (const auto& [length, expected] : headers)
    EXPECT_EQ(frameHeader(opcode::kText, length), expected) << length;
  EXPECT_EQ(controlFrame(opcode::kPong, "hi"), "\x8A\x02hi");
  EXPECT_EQ(closeFrame(1009, "big"),
            "\x88\x05\x03\xF1"
            "big");
  // A long reason is cut to fit 125 bytes, never inside a character.
  const std::string reason = std::string(122, 'r') + "\xE2\x82\xAC";
  const std::string cut = closeFrame(1000, reason);
  EXPECT_EQ(cut.size(), 2u + 2u + 122u);
  EXPECT_EQ(static_cast<unsigned char>(cut[1]), 124u);
}

}  // namespace
}  // namespace ruzazuv::bridge::websocket
