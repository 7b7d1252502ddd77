// The messages the extension and the host exchange, one JSON object per frame. The extension
// sends {"id": N, "origin": O, "hello": true} or {"id": N, "origin": O, "request": TEXT}, TEXT
// being the page's JSON-RPC message; the host answers each with exactly one object carrying the
// same id: {"id": N, "hello": {...}}, {"id": N, "answer": TEXT|null}, or a refusal
// {"id": N|null, "refused": "origin"|"envelope", "message": ...}.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rpc/secret_string.h"

namespace ruzazuv::nmhost {

// The largest id the extension's sequence numbers reach (JavaScript's safe integers).
inline constexpr std::uint64_t kMaxEnvelopeId = std::uint64_t{1} << 53;

struct Envelope {
  enum class Kind {
    kNotObject,  // not a JSON object: the input is broken, the host ends
    kRefused,    // answered with a refusal; the host goes on
    kHello,
    kRequest,
  };
  Kind kind = Kind::kNotObject;
  std::optional<std::uint64_t> id;  // none when the envelope had no usable one
  std::string origin;               // normalised (hello, request)
  SecretString request;             // the JSON-RPC message (request)
  std::string refused;              // "origin" or "envelope" (refused)
  std::string message;              // why (refused)
};

// Reads one frame. `allowedOrigins` are normalised; a request or hello from any other origin is
// refused.
Envelope parseEnvelope(std::string_view frame, const std::vector<std::string>& allowedOrigins);

// The answers, as frame payloads.
SecretString helloAnswer(std::uint64_t id);
SecretString refusalAnswer(const Envelope& refused);
// The JSON-RPC answer, or null for a message of notifications only. An answer whose frame would
// be longer than the browser takes becomes a -32600 error answer saying so.
SecretString requestAnswer(std::uint64_t id, const std::optional<SecretString>& answer);

}  // namespace ruzazuv::nmhost
