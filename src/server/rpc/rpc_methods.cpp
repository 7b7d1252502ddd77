#include "rpc/rpc_methods.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "rpc/json_writer.h"
#include "rpc/rpc_error.h"

namespace ruzazuv {
namespace {

// The JSON text of the longest text an operation writes from card or reader data: the hex of a
// 2048-byte reader attribute (pbAttr), with its quotes. Reader names, accounts, trade-log
// records and codes are far shorter.
constexpr std::size_t kMaxOperationOutputJson = 2 * 2048 + 2;
// The JSON text of the longest text a put can make of a shorter one: MerchantID is padded to
// 30 characters, money to 14, the PIN block to 16.
constexpr std::size_t kMaxFormattedPutJson = 30 + 2;
// Far beyond any answer limit: doubling estimates stop growing here.
constexpr std::size_t kSaturation = std::size_t{1} << 40;

[[noreturn]] void fail(int code, std::string message, std::optional<HResult> hr = std::nullopt) {
  throw RpcFailure{code, std::move(message), hr};
}

std::string hex(HResult hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", hr);
  return text;
}

std::string quoted(const SecretJson& value) {
  SecretString text;
  writeJson(value, &text);
  return std::string(text.view());
}

// The member a request names by "name" or "dispid".
const Member& memberOf(const SecretJson& params) {
  const Member* byName = nullptr;
  const Member* byDispid = nullptr;
  if (auto it = params.find("name"); it != params.end()) {
    if (!it->is_string())
      fail(rpc_error::kInvalidParams, "name must be a string", hresult::kUnknownName);
    byName = findMember(it->get_ref<const SecretString&>().view());
    if (byName == nullptr)
      fail(rpc_error::kInvalidParams,
           "unknown member: " + std::string(it->get_ref<const SecretString&>().view()),
           hresult::kUnknownName);
  }
  if (auto it = params.find("dispid"); it != params.end()) {
    if (!it->is_number_integer())
      fail(rpc_error::kInvalidParams, "dispid must be an integer", hresult::kUnknownName);
    const auto value = it->get<std::int64_t>();
    byDispid = value >= 1 && value <= kMaxDispid ? findMember(static_cast<int>(value)) : nullptr;
    if (byDispid == nullptr)
      fail(rpc_error::kInvalidParams, "unknown dispid: " + quoted(*it), hresult::kUnknownName);
  }
  if (byName == nullptr && byDispid == nullptr)
    fail(rpc_error::kInvalidParams, "params need a member \"name\" or \"dispid\"");
  if (byName != nullptr && byDispid != nullptr && byName != byDispid)
    fail(rpc_error::kInvalidParams, "name and dispid name different members",
         hresult::kUnknownName);
  return byName != nullptr ? *byName : *byDispid;
}

std::size_t controlIndexOf(const SecretJson& params) {
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

// The member and control of a get, put or call; `wantMethod` tells which kind it must be.
void prepareMember(const SecretJson& params, bool wantMethod, PreparedRequest* request) {
  const Member& m = memberOf(params);
  request->control = controlIndexOf(params);
  request->member = &m;
  const std::string name(m.name);
  if (wantMethod && !m.isMethod())
    fail(rpc_error::kInvalidParams, name + " is a property: use get or put",
         hresult::kMemberNotFound);
  if (!wantMethod && m.isMethod())
    fail(rpc_error::kInvalidParams, name + " is a method: use call", hresult::kMemberNotFound);
}

CardControl& controlOf(const PreparedRequest& request, ControlRegistry& controls) {
  CardControl* control = controls.control(request.control);
  if (control == nullptr) fail(rpc_error::kInvalidParams, "no such control");
  return *control;
}

// The control's own dispatch result, as an error when it is not S_OK.
void checkDispatch(HResult hr, const Member& m) {
  if (hr == hresult::kOk) return;
  const std::string name(m.name);
  if (hr == hresult::kNotImplemented)
    fail(rpc_error::kNotImplemented, name + " is not implemented", hr);
  if (hr == hresult::kOutOfMemory) fail(rpc_error::kInternalError, "out of memory", hr);
  fail(rpc_error::kInvalidParams, name + ": dispatch failed " + hex(hr), hr);
}

// --- describe: the member table, constant, so its text is made once -------------------------

const SecretString& describeText() {
  static const SecretString text = [] {
    SecretJson members = SecretJson::array();
    for (const Member& m : memberTable())
      members.push_back({{"dispid", m.dispid},
                         {"name", SecretString(m.name)},
                         {"kind", m.isMethod() ? "method" : "property"},
                         {"type", SecretString(m.typeName())},
                         {"help", SecretString(m.help())}});
    SecretJson result = {{"progid", SecretString(kProgId)},
                         {"version", SecretString(kControlVersion)},
                         {"members", std::move(members)}};
    SecretString out;
    writeJson(result, &out);
    return out;
  }();
  return text;
}

void prepareDescribe(const SecretJson&, PreparedRequest*) {}
std::size_t describeBound(const PreparedRequest&, const BatchFacts&, ControlRegistry&) {
  return describeText().size();
}
void runDescribe(PreparedRequest&, ControlRegistry&, SecretString* result) {
  result->append(describeText());
}

// --- get ----------------------------------------------------------------------------------

void prepareGet(const SecretJson& params, PreparedRequest* request) {
  prepareMember(params, false, request);
}

// An integer's text is at most 11 bytes. A text reads back at most as long as the longest of:
// its current value, anything put in the same message (puts can pad a value to 30
// characters), and, after a method call, what operations write. OptionData1 is the one text an
// operation makes from its own value (the hex of its encryption with the TAC, about twice as
// long), so each call ahead of its get can double it.
std::size_t getBound(const PreparedRequest& request, const BatchFacts& facts,
                     ControlRegistry& controls) {
  if (request.member->kind != MemberKind::kString) return kMaxIntegerJsonSize;
  PropertyValue current;
  const HResult hr = controlOf(request, controls).getProperty(request.member->dispid, &current);
  std::size_t bound = hr == hresult::kOk ? propertyJsonSize(current) : 2;
  wipePropertyValue(&current);
  bound = std::max({bound, facts.longestPutJson, kMaxFormattedPutJson});
  if (facts.callsBefore == 0) return bound;
  if (request.member->dispid == static_cast<int>(Dispid::OptionData1)) {
    for (std::size_t i = 0; i < facts.callsBefore && bound <= kSaturation; ++i)
      bound = 2 * bound + 64;
  }
  return std::max(bound, kMaxOperationOutputJson);
}

void runGet(PreparedRequest& request, ControlRegistry& controls, SecretString* result) {
  PropertyValue value;
  const HResult hr = controlOf(request, controls).getProperty(request.member->dispid, &value);
  if (hr == hresult::kOk) writePropertyJson(value, result);
  wipePropertyValue(&value);
  checkDispatch(hr, *request.member);
}

// --- put ----------------------------------------------------------------------------------

void preparePut(const SecretJson& params, PreparedRequest* request) {
  prepareMember(params, false, request);
  const Member& m = *request->member;
  const std::string name(m.name);
  auto v = params.find("value");
  if (v == params.end())
    fail(rpc_error::kInvalidParams, "put needs a \"value\"", hresult::kParamNotFound);
  const HResult hr = propertyFromJson(m, *v, &request->value);
  if (hr == hresult::kTypeMismatch)
    fail(rpc_error::kInvalidParams,
         name + " takes " + (m.kind == MemberKind::kString ? "a string" : "an integer"), hr);
  if (hr == hresult::kOverflow) fail(rpc_error::kInvalidParams, name + ": value out of range", hr);
}

std::size_t putBound(const PreparedRequest&, const BatchFacts&, ControlRegistry&) {
  return 4;  // null
}

void runPut(PreparedRequest& request, ControlRegistry& controls, SecretString* result) {
  const HResult hr =
      controlOf(request, controls).putProperty(request.member->dispid, request.value);
  wipePropertyValue(&request.value);
  checkDispatch(hr, *request.member);
  result->append("null");
}

// --- call ---------------------------------------------------------------------------------

void prepareCall(const SecretJson& params, PreparedRequest* request) {
  prepareMember(params, true, request);
}

std::size_t callBound(const PreparedRequest&, const BatchFacts&, ControlRegistry&) {
  return kMaxIntegerJsonSize;
}

void runCall(PreparedRequest& request, ControlRegistry& controls, SecretString* result) {
  std::int32_t ret = 0;
  const HResult hr = controlOf(request, controls).invoke(request.member->dispid, &ret);
  checkDispatch(hr, *request.member);
  result->append(std::to_string(ret));
}

constexpr std::array<MethodEntry, 4> kMethods{{
    {"get", prepareGet, getBound, runGet},
    {"put", preparePut, putBound, runPut},
    {"call", prepareCall, callBound, runCall},
    {"describe", prepareDescribe, describeBound, runDescribe},
}};

}  // namespace

const MethodEntry* findMethod(std::string_view name) {
  for (const MethodEntry& entry : kMethods)
    if (entry.name == name) return &entry;
  return nullptr;
}

std::size_t putStringJsonSize(const PreparedRequest& request) {
  if (request.method == nullptr || request.method->name != "put" ||
      !std::holds_alternative<std::optional<std::u16string>>(request.value))
    return 0;
  return propertyJsonSize(request.value);
}

bool isCall(const PreparedRequest& request) {
  return request.method != nullptr && request.method->name == "call";
}

}  // namespace ruzazuv
