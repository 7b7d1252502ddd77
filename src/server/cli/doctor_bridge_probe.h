// The doctor's look at the bridge: a minimal WebSocket client that connects to the loopback port,
// opens the connection without an Origin (as a local program, which the bridge accepts), sends
// one `describe` request and reads the answer, all within a short time.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/doctor_report.h"

namespace ruzazuv::doctor {

enum class ProbeOutcome {
  kAnswered,      // the bridge answered describe
  kNotListening,  // nothing listens on the port
  kForeign,       // something listens but does not speak WebSocket or answers describe wrongly
  kBusy,          // the bridge took the connection but did not answer in time
  kError,         // the connection failed otherwise
};

struct ProbeResult {
  ProbeOutcome outcome = ProbeOutcome::kError;
  std::string detail;  // what was seen, for the report
};

ProbeResult probeBridge(std::uint16_t port, std::chrono::milliseconds limit);

// Whether the user's systemd holds the bridge's socket (ruzazuv-bridge.socket is active): then
// what listens on the port is ours, and a wrong answer means the bridge fails behind it.
bool bridgeSocketActive();

// The "bridge" finding. Without the bridge, pages can still reach the card through the browser
// extension when its native-messaging host is installed.
Finding bridgeFinding(const ProbeResult& probe, std::uint16_t port, bool extensionHostInstalled,
                      bool socketActive);

// The pure steps of the client, exposed for tests.
namespace ws_client {

std::string handshakeRequest(std::uint16_t port, std::string_view key);

enum class HandshakeVerdict { kIncomplete, kAccepted, kRefused };
// Judges the server's answer so far. kAccepted needs status 101 with the right
// Sec-WebSocket-Accept; `*headLength` receives the length of the head (through its blank line).
HandshakeVerdict judgeHandshakeAnswer(std::string_view answer, std::string_view key,
                                      std::size_t* headLength);

// A client's text frame, masked with `mask`.
std::string maskedTextFrame(std::string_view payload, std::uint32_t mask);

enum class FrameVerdict { kIncomplete, kFrame, kBad };
// One unmasked server frame at the start of `data`: its opcode and payload, and the bytes it
// took. Frames over `maxPayload` are kBad, as is a masked server frame.
FrameVerdict parseServerFrame(std::string_view data, std::size_t maxPayload, std::uint8_t* opcode,
                              std::string* payload, std::size_t* consumed);

// The summary of a describe answer to request `id` ("RuzaZUV.Vorn.1 1.0, N members"), or
// nothing when the text is not one.
std::optional<std::string> describeSummary(std::string_view text, int id);

}  // namespace ws_client
}  // namespace ruzazuv::doctor
