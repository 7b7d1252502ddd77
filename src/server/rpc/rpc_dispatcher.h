// JSON-RPC 2.0 over the IVorn member table: get, put, call and describe, single requests and
// batches, notifications. Shared by the bridge and the command-line tool.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "rpc/control_registry.h"

namespace ruzazuv {

namespace rpc_error {
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;
inline constexpr int kNotImplemented = -32001;
}  // namespace rpc_error

class RpcDispatcher {
 public:
  // Arrays and objects nested deeper than this make a message an invalid request.
  static constexpr std::size_t kMaxNesting = 64;

  explicit RpcDispatcher(ControlRegistry& controls) : controls_(controls) {}

  // One message (a request or a batch array). Returns the answer text, or nothing when the
  // message held only notifications. Never throws for any input.
  std::optional<std::string> handle(std::string_view message);

  // An answer for a message refused before it was read (for example, too large).
  static std::string errorText(int code, std::string_view message);

 private:
  // The answer to one request object, or nothing for a notification.
  std::optional<nlohmann::json> handleRequest(const nlohmann::json& request);
  nlohmann::json invokeMember(const std::string& method, const nlohmann::json& params);

  ControlRegistry& controls_;
};

}  // namespace ruzazuv
