#include "rpc/rpc_dispatcher.h"

#include <algorithm>
#include <new>
#include <string>

#include "rpc/json_reader.h"
#include "rpc/json_writer.h"
#include "rpc/rpc_methods.h"

namespace ruzazuv {
namespace {

// {"id":ID,"jsonrpc":"2.0","result":RESULT}, the members in the order the value model keeps.
constexpr std::string_view kResultHead = "{\"id\":";
constexpr std::string_view kResultMiddle = ",\"jsonrpc\":\"2.0\",\"result\":";
constexpr std::size_t kResultEnvelope = kResultHead.size() + kResultMiddle.size() + 1;

SecretJson errorAnswer(const SecretJson& id, const RpcFailure& f) {
  SecretJson error = {{"code", f.code}, {"message", SecretString(f.message)}};
  if (f.hresult) error["data"] = {{"hresult", *f.hresult}};
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", std::move(error)}};
}

bool validId(const SecretJson& id) {
  return id.is_string() || id.is_number() || id.is_null();
}

// Reads one request object and checks everything about it that does not depend on the
// control's state, so that a message can be refused before any of it runs.
PreparedRequest prepare(const SecretJson& request) {
  PreparedRequest r;
  if (!request.is_object()) {
    r.failure = RpcFailure{rpc_error::kInvalidRequest, "Invalid Request", std::nullopt};
    return r;
  }
  const auto idIt = request.find("id");
  const bool notification = idIt == request.end();
  if (!notification && !validId(*idIt)) {
    r.failure = RpcFailure{rpc_error::kInvalidRequest, "Invalid Request: bad id", std::nullopt};
    return r;
  }
  if (!notification) r.id = *idIt;
  const auto version = request.find("jsonrpc");
  const auto method = request.find("method");
  if (version == request.end() || *version != "2.0" || method == request.end() ||
      !method->is_string()) {
    // Answered even for a notification: without a valid envelope it is none.
    r.failure = RpcFailure{rpc_error::kInvalidRequest, "Invalid Request", std::nullopt};
    return r;
  }
  r.notification = notification;
  try {
    static const SecretJson kNoParams = SecretJson::object();
    const SecretJson* params = &kNoParams;
    if (auto p = request.find("params"); p != request.end()) {
      if (!p->is_object())
        throw RpcFailure{rpc_error::kInvalidParams, "params must be an object", std::nullopt};
      params = &*p;
    }
    const std::string_view name = method->get_ref<const SecretString&>().view();
    const MethodEntry* entry = findMethod(name);
    if (entry == nullptr)
      throw RpcFailure{rpc_error::kMethodNotFound, "Method not found: " + std::string(name),
                       std::nullopt};
    entry->prepare(*params, &r);
    r.method = entry;
  } catch (RpcFailure& f) {
    r.failure = std::move(f);
  }
  return r;
}

}  // namespace

PendingMessage::PendingMessage(ControlRegistry& controls) : controls_(controls) {}
PendingMessage::~PendingMessage() = default;

bool PendingMessage::finished() const {
  return next_ >= requests_.size();
}

void PendingMessage::refuse(int code, std::string_view message) {
  requests_.clear();
  next_ = 0;
  text_.wipe();
  text_.clear();
  answers_ = 0;
  refusal_ = RpcDispatcher::errorText(code, message);
}

void PendingMessage::append(const SecretString& one) {
  if (batch_) text_.push_back(answers_ == 0 ? '[' : ',');
  text_.append(one);
  ++answers_;
}

void PendingMessage::runNext() {
  if (finished()) return;
  std::optional<RpcFailure> broken;
  try {
    PreparedRequest& r = requests_[next_];
    SecretString one;
    if (r.method == nullptr) {
      if (!r.notification) writeJson(errorAnswer(r.id, *r.failure), &one);
    } else {
      SecretString result;
      try {
        r.method->run(r, controls_, &result);
        if (!r.notification) {
          one.append(kResultHead);
          writeJson(r.id, &one);
          one.append(kResultMiddle);
          one.append(result);
          one.push_back('}');
        }
      } catch (const RpcFailure& f) {
        if (!r.notification) writeJson(errorAnswer(r.id, f), &one);
      }
    }
    if (!r.notification) append(one);
    wipePropertyValue(&r.value);  // now, not when the message ends
    r = PreparedRequest();
    ++next_;
  } catch (const std::bad_alloc&) {
    broken = RpcFailure{rpc_error::kInternalError, "Internal error: out of memory", std::nullopt};
  } catch (const std::exception& e) {
    broken = RpcFailure{rpc_error::kInternalError, std::string("Internal error: ") + e.what(),
                        std::nullopt};
  }
  if (broken) refuse(broken->code, broken->message);
}

std::optional<SecretString> PendingMessage::answer() {
  if (refusal_) {
    std::optional<SecretString> text = std::move(refusal_);
    refusal_.reset();
    return text;
  }
  if (answers_ == 0) return std::nullopt;
  if (batch_) text_.push_back(']');
  answers_ = 0;
  return std::optional<SecretString>(std::move(text_));
}

SecretString RpcDispatcher::errorText(int code, std::string_view message) {
  SecretString text;
  writeJson(errorAnswer(nullptr, RpcFailure{code, std::string(message), std::nullopt}), &text);
  return text;
}

std::unique_ptr<PendingMessage> RpcDispatcher::begin(std::string_view message) {
  std::unique_ptr<PendingMessage> pending;
  try {
    pending.reset(new PendingMessage(controls_));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  PendingMessage& p = *pending;
  try {
    std::vector<PreparedRequest>& requests = p.requests_;
    {
      SecretJson parsed;
      // No request needs deep nesting, and copying or comparing a deeply nested value recurses
      // once per level: such a message is refused as soon as the reader reaches the limit.
      switch (readJson(message, &parsed, kMaxNesting)) {
        case JsonReadStatus::kTooDeep:
          p.refuse(rpc_error::kInvalidRequest, "Invalid Request: nested too deeply");
          return pending;
        case JsonReadStatus::kSyntaxError:
          p.refuse(rpc_error::kParseError, "Parse error");
          return pending;
        case JsonReadStatus::kOk:
          break;
      }
      if (!parsed.is_array()) {
        requests.push_back(prepare(parsed));
      } else if (parsed.empty()) {
        p.refuse(rpc_error::kInvalidRequest, "Invalid Request: empty batch");
        return pending;
      } else {
        p.batch_ = true;
        requests.reserve(parsed.size());
        for (const SecretJson& request : parsed) requests.push_back(prepare(request));
      }
    }  // the parsed text's values are wiped here; the prepared requests hold what runs

    BatchFacts facts;
    for (const PreparedRequest& r : requests)
      facts.longestPutJson = std::max(facts.longestPutJson, putStringJsonSize(r));
    std::size_t total = p.batch_ ? 1 : 0;  // the brackets, with one comma per answer after
    for (PreparedRequest& r : requests) {
      if (r.method == nullptr) {
        r.estimate = r.notification ? 0 : jsonTextSize(errorAnswer(r.id, *r.failure));
      } else if (!r.notification) {
        try {
          r.estimate =
              kResultEnvelope + jsonTextSize(r.id) + r.method->resultBound(r, facts, controls_);
        } catch (const RpcFailure& f) {
          r.estimate = jsonTextSize(errorAnswer(r.id, f));
        }
      }
      if (r.estimate > 0) total += r.estimate + (p.batch_ ? 1 : 0);
      if (isCall(r)) ++facts.callsBefore;
      if (total > kMaxAnswerBytes) {
        p.refuse(rpc_error::kInvalidRequest,
                 "Invalid Request: the answers to this message could exceed " +
                     std::to_string(kMaxAnswerBytes) +
                     " bytes (1 MiB); send its requests in smaller batches");
        return pending;
      }
    }
    p.text_.reserve(total);
  } catch (const std::bad_alloc&) {
    p.refuse(rpc_error::kInternalError, "Internal error: out of memory");
  } catch (const std::exception& e) {
    p.refuse(rpc_error::kInternalError, std::string("Internal error: ") + e.what());
  }
  return pending;
}

std::optional<SecretString> RpcDispatcher::handle(std::string_view message) {
  std::unique_ptr<PendingMessage> pending = begin(message);
  if (!pending) return errorText(rpc_error::kInternalError, "Internal error: out of memory");
  while (!pending->finished()) pending->runNext();
  return pending->answer();
}

}  // namespace ruzazuv
