#include "bridge/http_head.h"

#include <algorithm>
#include <charconv>

#include "bridge/websocket_handshake.h"

namespace ruzazuv::bridge {
namespace {

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower(c);
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool isTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool validFieldValue(std::string_view value) {
  return std::all_of(value.begin(), value.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u == '\t' || (u >= 0x20 && u != 0x7F);
  });
}

bool parsePortText(std::string_view text, unsigned* port) {
  if (text.empty() || text.size() > 5) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), *port);
  return ec == std::errc() && ptr == text.data() + text.size() && *port <= 65535;
}

}  // namespace

std::size_t HttpHead::count(std::string_view name) const {
  return static_cast<std::size_t>(std::count_if(
      headers.begin(), headers.end(), [&](const auto& h) { return equalNoCase(h.first, name); }));
}

std::optional<std::string> HttpHead::header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (equalNoCase(key, name)) return value;
  return std::nullopt;
}

bool HttpHead::listsToken(std::string_view name, std::string_view token) const {
  for (const auto& [key, value] : headers) {
    if (!equalNoCase(key, name)) continue;
    std::string_view rest = value;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      if (equalNoCase(trim(rest.substr(0, comma)), token)) return true;
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  return false;
}

HeadStatus parseHttpHead(std::string_view data, HttpHead* out, std::size_t* length) {
  const std::size_t end = data.find("\r\n\r\n");
  if (end == std::string_view::npos)
    return data.size() >= kMaxHeadBytes ? HeadStatus::kTooLarge : HeadStatus::kIncomplete;
  if (end + 4 > kMaxHeadBytes) return HeadStatus::kTooLarge;
  *length = end + 4;
  HttpHead head;
  std::string_view rest = data.substr(0, end + 2);
  bool first = true;
  while (!rest.empty()) {
    const std::size_t eol = rest.find("\r\n");
    const std::string_view line = rest.substr(0, eol);
    rest.remove_prefix(eol + 2);
    if (first) {
      first = false;
      const std::size_t a = line.find(' ');
      const std::size_t b = a == std::string_view::npos ? a : line.find(' ', a + 1);
      if (a == std::string_view::npos || b == std::string_view::npos || a == 0 || b == a + 1)
        return HeadStatus::kMalformed;
      head.method = line.substr(0, a);
      head.target = line.substr(a + 1, b - a - 1);
      head.version = line.substr(b + 1);
      if (head.version.rfind("HTTP/", 0) != 0 ||
          head.target.find_first_of(" \t") != std::string::npos)
        return HeadStatus::kMalformed;
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return HeadStatus::kMalformed;
    const std::string_view name = line.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), isTokenChar)) return HeadStatus::kMalformed;
    const std::string_view value = trim(line.substr(colon + 1));
    if (!validFieldValue(value)) return HeadStatus::kMalformed;
    head.headers.emplace_back(std::string(name), std::string(value));
  }
  if (first) return HeadStatus::kMalformed;
  *out = std::move(head);
  return HeadStatus::kComplete;
}

namespace {

// A host as an origin names it: a bracketed IPv6 address, or a name or IPv4 address in ASCII
// (browsers send international names in their punycode form).
bool validHost(std::string_view host) {
  if (host.empty()) return false;
  if (host.front() == '[')
    return host.size() > 2 && host.back() == ']' &&
           std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
             return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                    c == ':' || c == '.';
           });
  return std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
  });
}

// `exact`: the text is an origin and nothing more (an Origin header); otherwise a path, query
// or fragment after it is left out (a site address).
std::optional<std::string> normalise(std::string_view text, bool exact) {
  text = trim(text);
  if (equalNoCase(text, "null")) return std::string("null");
  const std::size_t sep = text.find("://");
  if (sep == std::string_view::npos || sep == 0) return std::nullopt;
  const std::string scheme = lowered(text.substr(0, sep));
  if (scheme.front() < 'a' || scheme.front() > 'z' ||
      !std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
      }))
    return std::nullopt;
  std::string_view authority = text.substr(sep + 3);
  const std::size_t end = authority.find_first_of("/?#");
  if (exact && end != std::string_view::npos) return std::nullopt;  // no path, query, fragment
  authority = authority.substr(0, end);
  std::string_view host = authority;
  std::optional<std::string_view> port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      port = after.substr(1);
    }
  } else if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  // User info ("user@"), stray brackets, spaces and the like leave no valid host.
  if (!validHost(host)) return std::nullopt;
  std::string origin = scheme + "://" + lowered(host);
  if (port) {
    unsigned number = 0;
    // An empty port, or (in an Origin header) one with a leading zero, is never sent.
    if (!parsePortText(*port, &number) || (exact && port->size() > 1 && port->front() == '0'))
      return std::nullopt;
    const bool isDefault =
        (scheme == "http" && number == 80) || (scheme == "https" && number == 443);
    if (!isDefault) origin += ":" + std::to_string(number);
  }
  return origin;
}

}  // namespace

std::optional<std::string> normaliseOrigin(std::string_view text) {
  return normalise(text, false);
}

std::optional<std::string> normaliseOriginHeader(std::string_view text) {
  return normalise(text, true);
}

bool hostAllowed(std::string_view host, std::uint16_t port) {
  const std::string suffix = ":" + std::to_string(port);
  if (host.size() <= suffix.size() || host.substr(host.size() - suffix.size()) != suffix)
    return false;
  const std::string_view name = host.substr(0, host.size() - suffix.size());
  return name == "127.0.0.1" || equalNoCase(name, "localhost") || name == "[::1]";
}

HandshakeVerdict judgeHandshake(const HttpHead& head, std::uint16_t port,
                                const std::vector<std::string>& allowedOrigins) {
  HandshakeVerdict verdict;
  auto refuse = [&](int status, std::string reason) {
    verdict.status = status;
    verdict.reason = std::move(reason);
    return verdict;
  };
  if (head.count("Host") != 1) return refuse(400, "one Host header is required");
  const std::string host = *head.header("Host");
  if (!hostAllowed(host, port)) return refuse(403, "foreign Host: " + host);
  if (head.count("Origin") > 1) return refuse(400, "more than one Origin header");
  if (auto origin = head.header("Origin")) {
    const std::optional<std::string> normal = normaliseOriginHeader(*origin);
    if (!normal ||
        std::find(allowedOrigins.begin(), allowedOrigins.end(), *normal) == allowedOrigins.end())
      return refuse(403, "origin not allowed: " + *origin);
    verdict.origin = *origin;
  }
  if (head.method != "GET") return refuse(405, "only GET opens a WebSocket");
  if (head.target != "/" && head.target.rfind("/?", 0) != 0) return refuse(404, "no such path");
  if (!head.listsToken("Upgrade", "websocket") || !head.listsToken("Connection", "upgrade"))
    return refuse(426, "this port speaks WebSocket only");
  if (head.count("Sec-WebSocket-Version") != 1 || *head.header("Sec-WebSocket-Version") != "13")
    return refuse(426, "WebSocket version 13 only");
  const std::optional<std::string> key = head.header("Sec-WebSocket-Key");
  if (head.count("Sec-WebSocket-Key") != 1 || !websocket::validKey(*key))
    return refuse(400, "bad Sec-WebSocket-Key");
  return verdict;
}

std::string_view statusText(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 426:
      return "Upgrade Required";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Error";
  }
}

std::string refusalResponse(int status, std::string_view reason) {
  // The reason may echo request text: keep it to printable ASCII so it cannot split the answer.
  std::string body;
  for (char c : reason.substr(0, 200))
    body +=
        (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F) ? c : '?';
  body += "\n";
  std::string answer = "HTTP/1.1 " + std::to_string(status) + " " +
                       std::string(statusText(status)) +
                       "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\nConnection: close\r\n";
  if (status == 426) answer += "Upgrade: websocket\r\nSec-WebSocket-Version: 13\r\n";
  answer += "\r\n" + body;
  return answer;
}

}  // namespace ruzazuv::bridge
