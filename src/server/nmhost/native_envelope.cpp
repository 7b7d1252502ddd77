#include "nmhost/native_envelope.h"

#include <algorithm>

#include "bridge/http_head.h"
#include "control/member_table.h"
#include "nmhost/native_frames.h"
#include "rpc/json_reader.h"
#include "rpc/json_value.h"
#include "rpc/json_writer.h"
#include "rpc/rpc_dispatcher.h"
#include "rpc/rpc_error.h"

namespace ruzazuv::nmhost {
namespace {

// An envelope holds a few flat members; anything nested deeper is no envelope of ours.
constexpr std::size_t kMaxEnvelopeDepth = 8;

Envelope refusal(std::optional<std::uint64_t> id, const char* kind, std::string message) {
  Envelope e;
  e.kind = Envelope::Kind::kRefused;
  e.id = id;
  e.refused = kind;
  e.message = std::move(message);
  return e;
}

std::optional<std::uint64_t> usableId(const SecretJson& object) {
  const auto it = object.find("id");
  if (it == object.end()) return std::nullopt;
  // The reader keeps every non-negative integer unsigned; negative ones and fractions are no ids.
  if (!it->is_number_unsigned() || it->get<std::uint64_t>() > kMaxEnvelopeId) return std::nullopt;
  return it->get<std::uint64_t>();
}

// `"id":N`, into `out`.
void appendId(std::uint64_t id, SecretString* out) {
  out->append("\"id\":");
  out->append(std::to_string(id));
}

}  // namespace

Envelope parseEnvelope(std::string_view frame, const std::vector<std::string>& allowedOrigins) {
  SecretJson value;
  switch (readJson(frame, &value, kMaxEnvelopeDepth)) {
    case JsonReadStatus::kOk:
      break;
    case JsonReadStatus::kTooDeep: {
      // Reported where the limit is reached, so the text up to there was sound: an object is
      // refused and the host reads on.
      const std::size_t first = frame.find_first_not_of(" \t\r\n");
      if (first != std::string_view::npos && frame[first] == '{')
        return refusal(std::nullopt, "envelope", "the envelope is nested too deeply");
      return {};
    }
    case JsonReadStatus::kSyntaxError:
      return {};
  }
  if (!value.is_object()) return {};

  const std::optional<std::uint64_t> id = usableId(value);
  if (!id)
    return refusal(std::nullopt, "envelope",
                   "the envelope needs an \"id\" that is an integer from 0 to 2^53");

  const auto origin = value.find("origin");
  if (origin == value.end()) return refusal(id, "origin", "the envelope names no origin");
  if (!origin->is_string()) return refusal(id, "origin", "the origin is not a string");
  const std::string given(origin->get_ref<const SecretString&>().view());
  const std::optional<std::string> normal = bridge::normaliseOriginHeader(given);
  if (!normal || *normal == "null") {
    // Quoted in the log: kept short, whatever was sent.
    constexpr std::size_t kQuoted = 200;
    return refusal(
        id, "origin",
        "not an origin: " + given.substr(0, kQuoted) + (given.size() > kQuoted ? "..." : ""));
  }
  if (std::find(allowedOrigins.begin(), allowedOrigins.end(), *normal) == allowedOrigins.end())
    return refusal(id, "origin", "origin not allowed: " + *normal);

  const auto hello = value.find("hello");
  const auto request = value.find("request");
  const bool isHello = hello != value.end() && hello->is_boolean() && hello->get<bool>();
  const bool isRequest = request != value.end() && request->is_string();
  if (isHello == isRequest)
    return refusal(id, "envelope",
                   isHello ? "an envelope is a hello or a request, not both"
                           : "the envelope holds neither \"hello\": true nor a string \"request\"");

  Envelope e;
  e.id = id;
  e.origin = *normal;
  if (isHello) {
    e.kind = Envelope::Kind::kHello;
  } else {
    e.kind = Envelope::Kind::kRequest;
    e.request = std::move(request->get_ref<SecretString&>());
  }
  return e;
}

SecretString helloAnswer(std::uint64_t id) {
  SecretString out("{\"hello\":{\"progid\":");
  writeJsonString(kProgId, &out);
  out.append(",\"version\":");
  writeJsonString(kControlVersion, &out);
  out.append("},");
  appendId(id, &out);
  out.push_back('}');
  return out;
}

SecretString refusalAnswer(const Envelope& refused) {
  SecretString out("{");
  if (refused.id)
    appendId(*refused.id, &out);
  else
    out.append("\"id\":null");
  out.append(",\"message\":");
  writeJsonString(refused.message, &out);
  out.append(",\"refused\":");
  writeJsonString(refused.refused, &out);
  out.push_back('}');
  return out;
}

SecretString requestAnswer(std::uint64_t id, const std::optional<SecretString>& answer) {
  // {"answer":TEXT,"id":N}
  constexpr std::size_t kFraming = sizeof("{\"answer\":,\"id\":}") - 1 + 20;
  SecretString out("{\"answer\":");
  if (!answer) {
    out.append("null");
  } else if (kFraming + jsonStringSize(answer->view()) <= kMaxOutputFrameBytes) {
    writeJsonString(answer->view(), &out);
  } else {
    writeJsonString(RpcDispatcher::errorText(rpc_error::kInvalidRequest,
                                             "Invalid Request: the answer is too large for the "
                                             "browser's native messaging")
                        .view(),
                    &out);
  }
  out.push_back(',');
  appendId(id, &out);
  out.push_back('}');
  return out;
}

}  // namespace ruzazuv::nmhost
