#include "rpc/rpc_dispatcher.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "rpc/property_json.h"

namespace ruzazuv {
namespace {

using nlohmann::json;

// Thrown inside the dispatcher to turn a request into its error answer; never escapes it.
struct RpcFailure {
  int code;
  std::string message;
  std::optional<HResult> hresult;
};

[[noreturn]] void fail(int code, std::string message, std::optional<HResult> hr = std::nullopt) {
  throw RpcFailure{code, std::move(message), hr};
}

json errorObject(int code, const std::string& message, std::optional<HResult> hr) {
  json error = {{"code", code}, {"message", message}};
  if (hr) error["data"] = {{"hresult", *hr}};
  return error;
}

json errorAnswer(const json& id, int code, const std::string& message,
                 std::optional<HResult> hr = std::nullopt) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", errorObject(code, message, hr)}};
}

std::string dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool validId(const json& id) {
  return id.is_string() || id.is_number() || id.is_null();
}

std::string hex(HResult hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", hr);
  return text;
}

// The member a request names by "name" or "dispid".
const Member& memberOf(const json& params) {
  const Member* byName = nullptr;
  const Member* byDispid = nullptr;
  if (auto it = params.find("name"); it != params.end()) {
    if (!it->is_string())
      fail(rpc_error::kInvalidParams, "name must be a string", hresult::kUnknownName);
    byName = findMember(it->get_ref<const std::string&>());
    if (byName == nullptr)
      fail(rpc_error::kInvalidParams, "unknown member: " + it->get<std::string>(),
           hresult::kUnknownName);
  }
  if (auto it = params.find("dispid"); it != params.end()) {
    if (!it->is_number_integer())
      fail(rpc_error::kInvalidParams, "dispid must be an integer", hresult::kUnknownName);
    const auto value = it->get<std::int64_t>();
    byDispid = value >= 1 && value <= kMaxDispid ? findMember(static_cast<int>(value)) : nullptr;
    if (byDispid == nullptr)
      fail(rpc_error::kInvalidParams, "unknown dispid: " + it->dump(), hresult::kUnknownName);
  }
  if (byName == nullptr && byDispid == nullptr)
    fail(rpc_error::kInvalidParams, "params need a member \"name\" or \"dispid\"");
  if (byName != nullptr && byDispid != nullptr && byName != byDispid)
    fail(rpc_error::kInvalidParams, "name and dispid name different members",
         hresult::kUnknownName);
  return byName != nullptr ? *byName : *byDispid;
}

std::size_t controlIndexOf(const json& params) {
  auto it = params.find("control");
  if (it == params.end()) return 0;
  if (!it->is_number_integer() || it->get<std::int64_t>() < 0)
    fail(rpc_error::kInvalidParams, "control must be an integer from 0");
  const auto index = it->get<std::int64_t>();
  if (index >= static_cast<std::int64_t>(ControlRegistry::kMaxControls))
    fail(rpc_error::kInvalidParams,
         "control must be below " + std::to_string(ControlRegistry::kMaxControls));
  return static_cast<std::size_t>(index);
}

json describeResult() {
  json members = json::array();
  for (const Member& m : memberTable())
    members.push_back({{"dispid", m.dispid},
                       {"name", m.name},
                       {"kind", m.isMethod() ? "method" : "property"},
                       {"type", m.typeName()},
                       {"help", m.help()}});
  return {{"progid", kProgId}, {"version", kControlVersion}, {"members", std::move(members)}};
}

// How deeply arrays and objects nest in a JSON text (brackets inside strings do not count).
std::size_t nestingDepth(std::string_view text) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

}  // namespace

std::string RpcDispatcher::errorText(int code, std::string_view message) {
  return dump(errorAnswer(nullptr, code, std::string(message)));
}

std::optional<std::string> RpcDispatcher::handle(std::string_view message) {
  try {
    // No request needs deep nesting, and copying or comparing a deeply nested value recurses
    // once per level: such a message is refused before it is parsed.
    if (nestingDepth(message) > kMaxNesting)
      return errorText(rpc_error::kInvalidRequest, "Invalid Request: nested too deeply");
    json parsed = json::parse(message, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded()) return errorText(rpc_error::kParseError, "Parse error");
    if (!parsed.is_array()) {
      auto answer = handleRequest(parsed);
      return answer ? std::optional<std::string>(dump(*answer)) : std::nullopt;
    }
    if (parsed.empty())
      return errorText(rpc_error::kInvalidRequest, "Invalid Request: empty batch");
    json answers = json::array();
    for (const json& request : parsed)
      if (auto answer = handleRequest(request)) answers.push_back(std::move(*answer));
    if (answers.empty()) return std::nullopt;
    return dump(answers);
  } catch (const std::bad_alloc&) {
    return errorText(rpc_error::kInternalError, "Internal error: out of memory");
  } catch (const std::exception& e) {
    return errorText(rpc_error::kInternalError, std::string("Internal error: ") + e.what());
  }
}

std::optional<json> RpcDispatcher::handleRequest(const json& request) {
  if (!request.is_object())
    return errorAnswer(nullptr, rpc_error::kInvalidRequest, "Invalid Request");
  const auto idIt = request.find("id");
  const bool notification = idIt == request.end();
  if (!notification && !validId(*idIt))
    return errorAnswer(nullptr, rpc_error::kInvalidRequest, "Invalid Request: bad id");
  const json id = notification ? json(nullptr) : *idIt;
  const auto version = request.find("jsonrpc");
  const auto method = request.find("method");
  if (version == request.end() || *version != "2.0" || method == request.end() ||
      !method->is_string()) {
    return errorAnswer(id, rpc_error::kInvalidRequest, "Invalid Request");
  }
  json answer;
  try {
    json params = json::object();
    if (auto p = request.find("params"); p != request.end()) {
      if (!p->is_object()) fail(rpc_error::kInvalidParams, "params must be an object");
      params = *p;
    }
    json result = invokeMember(method->get<std::string>(), params);
    answer = {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
  } catch (const RpcFailure& f) {
    answer = errorAnswer(id, f.code, f.message, f.hresult);
  }
  if (notification) return std::nullopt;
  return answer;
}

json RpcDispatcher::invokeMember(const std::string& method, const json& params) {
  if (method == "describe") return describeResult();
  if (method != "get" && method != "put" && method != "call")
    fail(rpc_error::kMethodNotFound, "Method not found: " + method);

  const Member& m = memberOf(params);
  const std::size_t index = controlIndexOf(params);
  const std::string name(m.name);

  if (method == "call") {
    if (!m.isMethod())
      fail(rpc_error::kInvalidParams, name + " is a property: use get or put",
           hresult::kMemberNotFound);
  } else if (m.isMethod()) {
    fail(rpc_error::kInvalidParams, name + " is a method: use call", hresult::kMemberNotFound);
  }

  PropertyValue value;
  if (method == "put") {
    auto v = params.find("value");
    if (v == params.end()) fail(rpc_error::kInvalidParams, "put needs a \"value\"", 0x80020004);
    HResult hr = propertyFromJson(m, *v, &value);
    if (hr == hresult::kTypeMismatch)
      fail(rpc_error::kInvalidParams,
           name + " takes " + (m.kind == MemberKind::kString ? "a string" : "an integer"), hr);
    if (hr == hresult::kOverflow)
      fail(rpc_error::kInvalidParams, name + ": value out of range", hr);
  }

  CardControl* control = controls_.control(index);
  if (control == nullptr) fail(rpc_error::kInvalidParams, "no such control");

  HResult hr = hresult::kOk;
  json result;
  if (method == "get") {
    hr = control->getProperty(m.dispid, &value);
    if (hr == hresult::kOk) result = propertyToJson(value);
  } else if (method == "put") {
    hr = control->putProperty(m.dispid, value);
    result = nullptr;
  } else {
    std::int32_t ret = 0;
    hr = control->invoke(m.dispid, &ret);
    if (hr == hresult::kOk) result = ret;
  }
  if (hr == hresult::kNotImplemented)
    fail(rpc_error::kNotImplemented, name + " is not implemented", hr);
  if (hr == hresult::kOutOfMemory) fail(rpc_error::kInternalError, "out of memory", hr);
  if (hr != hresult::kOk)
    fail(rpc_error::kInvalidParams, name + ": dispatch failed " + hex(hr), hr);
  return result;
}

}  // namespace ruzazuv
