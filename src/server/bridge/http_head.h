// The HTTP request head of a WebSocket opening handshake, and the bridge's rules for it: the
// Host must name the loopback address and the bridge's port, the Origin must be one the bridge
// serves. Decided before the WebSocket layer sees the connection, so a refusal is a real HTTP
// answer (403) rather than a closed socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruzazuv::bridge {

// Heads beyond this are refused (431) without reading further.
inline constexpr std::size_t kMaxHeadBytes = 16 * 1024;

struct HttpHead {
  std::string method;
  std::string target;
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;  // names as sent, values trimmed

  // How often a header occurs (names compared without regard to case).
  std::size_t count(std::string_view name) const;
  // The first value of a header.
  std::optional<std::string> header(std::string_view name) const;
  // Whether a comma-separated header lists `token` (case-insensitive), e.g. Connection: Upgrade.
  bool listsToken(std::string_view name, std::string_view token) const;
};

enum class HeadStatus { kIncomplete, kComplete, kTooLarge, kMalformed };

// Parses the head at the start of `data`; `*length` receives the head's length including the
// blank line when complete.
HeadStatus parseHttpHead(std::string_view data, HttpHead* out, std::size_t* length);

// The serialised origin ("scheme://host[:port]", scheme and host lower-cased, the scheme's default
// port left out) of an origin header value or of an address such as "https://Bank.example/ebank/".
// "null" stays "null". Nothing for text that has no scheme and host.
std::optional<std::string> normaliseOrigin(std::string_view text);
// The same for an Origin header, which must be the serialised origin and nothing else: a path,
// query, fragment, user info, empty or leading-zero port makes it no origin.
std::optional<std::string> normaliseOriginHeader(std::string_view text);

// Host is "127.0.0.1:PORT", "localhost:PORT" or "[::1]:PORT".
bool hostAllowed(std::string_view host, std::uint16_t port);

struct HandshakeVerdict {
  int status = 0;                     // 0: accept; else the HTTP status of the refusal
  std::string reason;                 // why, for the refusal's body and the log
  std::optional<std::string> origin;  // the Origin header as sent; none for a local program
};

// The bridge's decision for a complete head. `allowedOrigins` are normalised.
HandshakeVerdict judgeHandshake(const HttpHead& head, std::uint16_t port,
                                const std::vector<std::string>& allowedOrigins);

// A complete HTTP answer that refuses a request, closing the connection.
std::string refusalResponse(int status, std::string_view reason);
std::string_view statusText(int status);

}  // namespace ruzazuv::bridge
