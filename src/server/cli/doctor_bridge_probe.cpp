#include "cli/doctor_bridge_probe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <random>

#include "bridge/websocket_handshake.h"
#include "cli/doctor_system.h"

namespace ruzazuv::doctor {
namespace ws_client {
namespace {

std::string base64(const unsigned char* data, std::size_t length) {
  std::string out(4 * ((length + 2) / 3) + 1, '\0');
  const int n =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(length));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

std::string handshakeRequest(std::uint16_t port, std::string_view key) {
  return "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + std::string(key) +
         "\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

HandshakeVerdict judgeHandshakeAnswer(std::string_view answer, std::string_view key,
                                      std::size_t* headLength) {
  const std::size_t end = answer.find("\r\n\r\n");
  if (end == std::string_view::npos) {
    // Whatever does not begin as an HTTP answer, or never ends its head, is no bridge.
    const std::string_view start = answer.substr(0, 5);
    if (start != std::string_view("HTTP/").substr(0, start.size()))
      return HandshakeVerdict::kRefused;
    return answer.size() > 16 * 1024 ? HandshakeVerdict::kRefused : HandshakeVerdict::kIncomplete;
  }
  *headLength = end + 4;
  std::string_view head = answer.substr(0, end);
  const std::size_t lineEnd = head.find("\r\n");
  const std::string_view status = head.substr(0, lineEnd);
  if (status.rfind("HTTP/1.1 101", 0) != 0) return HandshakeVerdict::kRefused;
  bool accepted = false;
  while (lineEnd != std::string_view::npos && !head.empty()) {
    const std::size_t next = head.find("\r\n");
    if (next == std::string_view::npos) break;
    head.remove_prefix(next + 2);
    const std::string_view line = head.substr(0, head.find("\r\n"));
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (lower(trim(line.substr(0, colon))) == "sec-websocket-accept")
      accepted = trim(line.substr(colon + 1)) == bridge::websocket::acceptValue(key);
  }
  return accepted ? HandshakeVerdict::kAccepted : HandshakeVerdict::kRefused;
}

std::string maskedTextFrame(std::string_view payload, std::uint32_t mask) {
  std::string frame;
  frame.push_back(static_cast<char>(0x81));  // FIN, text
  const std::size_t n = payload.size();
  if (n < 126) {
    frame.push_back(static_cast<char>(0x80 | n));
  } else if (n <= 0xFFFF) {
    frame.push_back(static_cast<char>(0x80 | 126));
    frame.push_back(static_cast<char>(n >> 8));
    frame.push_back(static_cast<char>(n & 0xFF));
  } else {
    frame.push_back(static_cast<char>(0x80 | 127));
    for (int shift = 56; shift >= 0; shift -= 8)
      frame.push_back(static_cast<char>((static_cast<std::uint64_t>(n) >> shift) & 0xFF));
  }
  const char key[4] = {static_cast<char>(mask >> 24), static_cast<char>(mask >> 16),
                       static_cast<char>(mask >> 8), static_cast<char>(mask)};
  frame.append(key, 4);
  for (std::size_t i = 0; i < n; ++i) frame.push_back(static_cast<char>(payload[i] ^ key[i % 4]));
  return frame;
}

FrameVerdict parseServerFrame(std::string_view data, std::size_t maxPayload, std::uint8_t* opcode,
                              std::string* payload, std::size_t* consumed) {
  if (data.size() < 2) return FrameVerdict::kIncomplete;
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(data[i]); };
  if (byte(1) & 0x80) return FrameVerdict::kBad;  // a server never masks
  std::uint64_t length = byte(1) & 0x7F;
  std::size_t header = 2;
  if (length == 126 || length == 127) {
    const std::size_t bytes = length == 126 ? 2 : 8;
    if (data.size() < 2 + bytes) return FrameVerdict::kIncomplete;
    length = 0;
    for (std::size_t i = 0; i < bytes; ++i) length = (length << 8) | byte(2 + i);
    header += bytes;
  }
  if (length > maxPayload) return FrameVerdict::kBad;
  if (data.size() - header < length) return FrameVerdict::kIncomplete;
  *opcode = byte(0) & 0x0F;
  payload->assign(data.substr(header, static_cast<std::size_t>(length)));
  *consumed = header + static_cast<std::size_t>(length);
  return FrameVerdict::kFrame;
}

std::optional<std::string> describeSummary(std::string_view text, int id) {
  const nlohmann::json answer = nlohmann::json::parse(text, nullptr, false);
  if (!answer.is_object() || answer.value("jsonrpc", "") != "2.0") return std::nullopt;
  const auto idIt = answer.find("id");
  if (idIt == answer.end() || !idIt->is_number_integer() || idIt->get<int>() != id)
    return std::nullopt;
  const auto result = answer.find("result");
  if (result == answer.end() || !result->is_object()) return std::nullopt;
  const auto progid = result->find("progid");
  const auto version = result->find("version");
  const auto members = result->find("members");
  if (progid == result->end() || !progid->is_string() || version == result->end() ||
      !version->is_string() || members == result->end() || !members->is_array() || members->empty())
    return std::nullopt;
  return progid->get<std::string>() + " " + version->get<std::string>() + ", " +
         std::to_string(members->size()) + " members";
}

}  // namespace ws_client

namespace {

using Clock = std::chrono::steady_clock;

class Socket {
 public:
  Socket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

// Waits for `events` on the socket; false at the deadline or on an error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, millisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0;
  }
}

bool sendAll(int fd, std::string_view data, Clock::time_point deadline) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

enum class ReadStatus { kData, kClosed, kTimeout };

ReadStatus readSome(int fd, std::string* into, Clock::time_point deadline) {
  for (;;) {
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      into->append(buffer, static_cast<std::size_t>(n));
      return ReadStatus::kData;
    }
    if (n == 0) return ReadStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return ReadStatus::kClosed;
    if (!waitFor(fd, POLLIN, deadline)) return ReadStatus::kTimeout;
  }
}

std::string printable(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 40)) {
    if (c == '\r' || c == '\n') break;
    out.push_back(std::isprint(static_cast<unsigned char>(c)) ? c : '?');
  }
  return out;
}

}  // namespace

ProbeResult probeBridge(std::uint16_t port, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  Socket socket;
  if (socket.fd() < 0) return {ProbeOutcome::kError, std::strerror(errno)};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno == ECONNREFUSED) return {ProbeOutcome::kNotListening, ""};
    if (errno != EINPROGRESS) return {ProbeOutcome::kError, std::strerror(errno)};
    if (!waitFor(socket.fd(), POLLOUT, deadline))
      return {ProbeOutcome::kError, "the connection was not made in time"};
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &size);
    if (error == ECONNREFUSED) return {ProbeOutcome::kNotListening, ""};
    if (error != 0) return {ProbeOutcome::kError, std::strerror(error)};
  }

  std::random_device random;
  unsigned char keyBytes[16];
  for (unsigned char& b : keyBytes) b = static_cast<unsigned char>(random());
  const std::string key = ws_client::base64(keyBytes, sizeof keyBytes);
  if (!sendAll(socket.fd(), ws_client::handshakeRequest(port, key), deadline))
    return {ProbeOutcome::kForeign, "it did not take the opening request"};

  std::string received;
  std::size_t headLength = 0;
  for (;;) {
    const auto verdict = ws_client::judgeHandshakeAnswer(received, key, &headLength);
    if (verdict == ws_client::HandshakeVerdict::kAccepted) break;
    if (verdict == ws_client::HandshakeVerdict::kRefused)
      return {ProbeOutcome::kForeign, "it answered \"" + printable(received) + "\""};
    const ReadStatus status = readSome(socket.fd(), &received, deadline);
    if (status == ReadStatus::kClosed)
      return {ProbeOutcome::kForeign, received.empty()
                                          ? "it closed the connection without answering"
                                          : "it answered \"" + printable(received) + "\""};
    if (status == ReadStatus::kTimeout)
      return {ProbeOutcome::kForeign, "it took the connection but gave no WebSocket answer"};
  }
  received.erase(0, headLength);

  constexpr int kRequestId = 1;
  const std::string request = R"({"jsonrpc":"2.0","id":1,"method":"describe"})";
  if (!sendAll(socket.fd(), ws_client::maskedTextFrame(request, random()), deadline))
    return {ProbeOutcome::kError, "the describe request could not be sent"};
  constexpr std::size_t kMaxAnswer = 1 << 20;  // the bridge's own bound on an answer
  for (;;) {
    std::uint8_t opcode = 0;
    std::string payload;
    std::size_t consumed = 0;
    const auto frame =
        ws_client::parseServerFrame(received, kMaxAnswer, &opcode, &payload, &consumed);
    if (frame == ws_client::FrameVerdict::kBad)
      return {ProbeOutcome::kForeign, "it sent a frame that is not WebSocket"};
    if (frame == ws_client::FrameVerdict::kFrame) {
      received.erase(0, consumed);
      if (opcode == 0x9 || opcode == 0xA) continue;  // ping and pong carry no answer
      if (opcode != 0x1)
        return {ProbeOutcome::kForeign, "it answered describe with something that is not text"};
      if (auto summary = ws_client::describeSummary(payload, kRequestId))
        return {ProbeOutcome::kAnswered, *summary};
      return {ProbeOutcome::kForeign, "its describe answer is not the bridge's"};
    }
    const ReadStatus status = readSome(socket.fd(), &received, deadline);
    if (status == ReadStatus::kClosed)
      return {ProbeOutcome::kForeign, "it closed the connection instead of answering describe"};
    if (status == ReadStatus::kTimeout)
      return {ProbeOutcome::kBusy,
              "no describe answer within " + std::to_string(limit.count()) + " ms"};
  }
}

bool bridgeSocketActive() {
  auto run = runProgram({"systemctl", "--user", "is-active", "ruzazuv-bridge.socket"},
                        std::chrono::seconds(5));
  return run && run->output.rfind("active", 0) == 0;
}

Finding bridgeFinding(const ProbeResult& probe, std::uint16_t port, bool extensionHostInstalled,
                      bool socketActive) {
  const std::string address = "ws://127.0.0.1:" + std::to_string(port) + "/";
  if (probe.outcome == ProbeOutcome::kForeign && socketActive)
    return {"bridge",
            Verdict::kFail,
            "ruzazuv-bridge.socket listens on " + address +
                " but the bridge behind it does not "
                "answer (" +
                probe.detail + ")",
            "journalctl --user -u ruzazuv-bridge.service shows why it does not start",
            exit_code::kNoBridge,
            ""};
  switch (probe.outcome) {
    case ProbeOutcome::kAnswered:
      return {"bridge",
              Verdict::kOk,
              "the bridge answers on " + address + " (" + probe.detail + ")",
              "",
              0,
              ""};
    case ProbeOutcome::kBusy:
      return {"bridge",
              Verdict::kWarn,
              "the bridge took the connection on " + address + " but is busy (" + probe.detail +
                  "); it may be showing a dialog",
              "finish or close the dialog and run the doctor again",
              0,
              ""};
    case ProbeOutcome::kForeign:
      return {"bridge",
              Verdict::kFail,
              "another program holds port " + std::to_string(port) + " (" + probe.detail + ")",
              "stop that program (ss -ltnp 'sport = :" + std::to_string(port) +
                  "' shows which), then restart the bridge: systemctl --user restart "
                  "ruzazuv-bridge.socket",
              exit_code::kPortTaken,
              ""};
    case ProbeOutcome::kNotListening:
    case ProbeOutcome::kError:
      break;
  }
  std::string found = "nothing answers on " + address;
  if (!probe.detail.empty()) found += " (" + probe.detail + ")";
  if (extensionHostInstalled)
    return {"bridge",
            Verdict::kWarn,
            found + "; pages can still reach the card through the browser extension",
            "for pages without the extension, start the bridge: systemctl --user enable --now "
            "ruzazuv-bridge.socket",
            0,
            ""};
  return {"bridge",
          Verdict::kFail,
          found,
          "start the bridge: systemctl --user enable --now ruzazuv-bridge.socket (or run "
          "ruzazuv-bridge --register once)",
          exit_code::kNoBridge,
          ""};
}

}  // namespace ruzazuv::doctor
