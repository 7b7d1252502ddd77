// The JSON-RPC methods as a table: for each of get, put, call and describe, how its params are
// checked before the message runs, how many result bytes it can answer, and how it runs.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "control/dispatch_result.h"
#include "control/member_table.h"
#include "rpc/control_registry.h"
#include "rpc/json_value.h"
#include "rpc/property_json.h"
#include "rpc/secret_string.h"

namespace ruzazuv {

// A request's error answer: thrown while checking or running it, never out of the dispatcher.
struct RpcFailure {
  int code;
  std::string message;
  std::optional<HResult> hresult;
};

struct MethodEntry;

// A request read and checked before its message runs.
struct PreparedRequest {
  PreparedRequest() = default;
  PreparedRequest(PreparedRequest&&) noexcept = default;
  PreparedRequest& operator=(PreparedRequest&&) noexcept = default;
  ~PreparedRequest() { wipePropertyValue(&value); }

  SecretJson id;  // null for notifications and requests refused before their id was read
  bool notification = false;
  const MethodEntry* method = nullptr;  // null when `failure` is its answer
  std::optional<RpcFailure> failure;
  const Member* member = nullptr;
  std::size_t control = 0;
  PropertyValue value;       // a put's value
  std::size_t estimate = 0;  // bytes of its answer (0 for a notification)
};

// What the answer estimates of a message's requests depend on besides the request itself.
struct BatchFacts {
  std::size_t longestPutJson = 0;  // JSON text of the longest string put anywhere in it
  std::size_t callsBefore = 0;     // method calls ahead of the request being estimated
};

struct MethodEntry {
  std::string_view name;
  // Checks the params and fills in the member, control and value; throws RpcFailure.
  void (*prepare)(const SecretJson& params, PreparedRequest* request);
  // An upper bound of the result's JSON text bytes, from the controls' current state.
  std::size_t (*resultBound)(const PreparedRequest& request, const BatchFacts& facts,
                             ControlRegistry& controls);
  // Runs the request, appending its result's JSON text; throws RpcFailure.
  void (*run)(PreparedRequest& request, ControlRegistry& controls, SecretString* result);
};

// The entry for a JSON-RPC method name, or null.
const MethodEntry* findMethod(std::string_view name);

// The JSON text of a string put's value when the request is one (for BatchFacts).
std::size_t putStringJsonSize(const PreparedRequest& request);
bool isCall(const PreparedRequest& request);

}  // namespace ruzazuv
