// The server's half of the WebSocket opening handshake, once the head has passed the bridge's
// rules (judgeHandshake): the client's key is checked, and the 101 answer carries
// Sec-WebSocket-Accept, the base64 of SHA-1 over the key and the protocol's fixed GUID.
#pragma once

#include <string>
#include <string_view>

namespace ruzazuv::bridge::websocket {

// Sec-WebSocket-Key must be the base64 form of 16 bytes: 24 characters, the last two "=".
bool validKey(std::string_view key);

// The Sec-WebSocket-Accept value for a key.
std::string acceptValue(std::string_view key);

// The complete "101 Switching Protocols" answer for a key.
std::string switchingProtocolsResponse(std::string_view key);

}  // namespace ruzazuv::bridge::websocket
