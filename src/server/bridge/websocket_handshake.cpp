#include "bridge/websocket_handshake.h"

#include <openssl/sha.h>

#include <array>
#include <cstdint>

namespace ruzazuv::bridge::websocket {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

std::string base64(const unsigned char* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; i += 3) {
    const std::size_t n = std::min<std::size_t>(3, size - i);
    std::uint32_t chunk = std::uint32_t{data[i]} << 16;
    if (n > 1) chunk |= std::uint32_t{data[i + 1]} << 8;
    if (n > 2) chunk |= data[i + 2];
    for (std::size_t k = 0; k < 4; ++k)
      out.push_back(k <= n ? kAlphabet[(chunk >> (18 - 6 * k)) & 0x3F] : '=');
  }
  return out;
}

}  // namespace

bool validKey(std::string_view key) {
  if (key.size() != 24 || key.substr(22) != "==") return false;
  for (std::size_t i = 0; i < 22; ++i)
    if (kAlphabet.find(key[i]) == std::string_view::npos) return false;
  // The 22nd character holds the last byte's two low bits and four zero bits.
  return (kAlphabet.find(key[21]) & 0x0F) == 0;
}

std::string acceptValue(std::string_view key) {
  std::string text(key);
  text.append(kGuid);
  std::array<unsigned char, SHA_DIGEST_LENGTH> digest{};
  SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest.data());
  return base64(digest.data(), digest.size());
}

std::string switchingProtocolsResponse(std::string_view key) {
  return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Accept: " +
         acceptValue(key) + "\r\n\r\n";
}

}  // namespace ruzazuv::bridge::websocket
