// Bytes as a client sends them to the bridge: an HTTP head, then WebSocket frames. The head goes
// through the parser and the handshake rules; what follows it (or the whole input, when there
// is no complete head) through the frame parser, once whole and once cut where the input says.
// Nothing may crash, both feeds must agree, and every message handed on must be UTF-8 within
// the 64 KiB limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/http_head.h"
#include "bridge/websocket_frames.h"
#include "bridge/websocket_handshake.h"

namespace {

using namespace ruzazuv::bridge;

constexpr std::size_t kLimit = 64 * 1024;

struct Outcome {
  std::vector<std::string> events;
  std::uint16_t code = 0;
};

Outcome parse(std::string_view bytes, std::size_t cut) {
  websocket::FrameParser parser(kLimit);
  std::vector<websocket::Event> events;
  Outcome out;
  out.code = parser.feed(bytes.substr(0, cut), &events);
  out.code = parser.feed(bytes.substr(cut), &events);
  for (const websocket::Event& e : events) {
    if (e.kind == websocket::Event::Kind::kText &&
        (e.payload.size() > kLimit || !websocket::validUtf8(e.payload.view())))
      std::abort();
    out.events.push_back(std::to_string(static_cast<int>(e.kind)) + ":" +
                         std::to_string(e.closeCode) + ":" + std::string(e.payload.view()));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  HttpHead head;
  std::size_t length = 0;
  std::string_view frames = input;
  if (parseHttpHead(input, &head, &length) == HeadStatus::kComplete) {
    if (length > input.size() || length > kMaxHeadBytes) std::abort();
    frames = input.substr(length);
    const HandshakeVerdict verdict = judgeHandshake(head, 47950, {"http://127.0.0.1:8123"});
    if (auto origin = head.header("Origin")) {
      const auto exact = normaliseOriginHeader(*origin);
      // An origin accepted exactly is accepted as an address too, with the same result.
      if (exact && normaliseOrigin(*origin) != exact) std::abort();
    }
    if (verdict.status == 0) {
      const std::string key = *head.header("Sec-WebSocket-Key");
      if (!websocket::validKey(key) || websocket::acceptValue(key).size() != 28) std::abort();
    } else if (refusalResponse(verdict.status, verdict.reason).find("\r\n\r\n") ==
               std::string::npos) {
      std::abort();
    }
  }
  const Outcome whole = parse(frames, frames.size());
  const std::size_t cut =
      frames.empty() ? 0 : static_cast<unsigned char>(frames[0]) % frames.size();
  const Outcome split = parse(frames, cut);
  if (whole.code != split.code || whole.events != split.events) std::abort();
  return 0;
}
