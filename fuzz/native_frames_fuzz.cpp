// Bytes as the browser sends them to ruzazuv-nmhost: frames, each read as an envelope. The
// input goes through the decoder once whole and once cut where its first byte says; both feeds
// must agree, no frame may pass the 64 KiB limit, and every envelope must be read or refused
// without a crash, with an answer that is one JSON object.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "nmhost/native_envelope.h"
#include "nmhost/native_frames.h"

namespace {

using namespace ruzazuv;
using namespace ruzazuv::nmhost;

struct Outcome {
  std::vector<std::string> frames;
  FrameDecoder::Status status;
  bool midFrame;
};

Outcome decode(std::string_view bytes, std::size_t cut) {
  FrameDecoder decoder;
  std::vector<SecretString> out;
  decoder.feed(bytes.substr(0, cut), &out);
  decoder.feed(bytes.substr(cut), &out);
  Outcome o{{}, decoder.status(), decoder.midFrame()};
  for (const SecretString& f : out) o.frames.emplace_back(f.view());
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  const Outcome whole = decode(bytes, size);
  const Outcome split = decode(bytes, cut);
  if (whole.frames != split.frames || whole.status != split.status ||
      whole.midFrame != split.midFrame)
    std::abort();
  const std::vector<std::string> allowed = {"https://bank.example"};
  for (const std::string& frame : whole.frames) {
    if (frame.empty() || frame.size() > kMaxInputFrameBytes) std::abort();
    const Envelope e = parseEnvelope(frame, allowed);
    SecretString answer;
    if (e.kind == Envelope::Kind::kRefused) answer = refusalAnswer(e);
    if (e.kind == Envelope::Kind::kHello) answer = helloAnswer(*e.id);
    if (e.kind == Envelope::Kind::kRequest) answer = requestAnswer(*e.id, e.request);
    if (e.kind != Envelope::Kind::kNotObject &&
        (answer.empty() || answer.front() != '{' || answer.back() != '}'))
      std::abort();
  }
  return 0;
}
