#include "nmhost/native_host.h"

#include <iostream>

#include "control/card_control.h"
#include "platform/text_codec.h"

namespace ruzazuv::nmhost {

// One origin's process-wide state and controls. The controls go before the state they use.
struct NativeHost::Origin {
  ProcessState process;
  std::unique_ptr<ControlRegistry> controls;
  std::unique_ptr<RpcDispatcher> dispatcher;
};

NativeHost::NativeHost(NativeHostConfig config, HostServices& host, bridge::PageDialogs* dialogs,
                       Writer writer, Wake wake, Finish finish)
    : config_(std::move(config)),
      host_(host),
      dialogs_(dialogs),
      writer_(std::move(writer)),
      wake_(std::move(wake)),
      finish_(std::move(finish)) {}

NativeHost::~NativeHost() = default;

void NativeHost::feed(std::string_view bytes) {
  if (inputDone_) return;
  std::vector<SecretString> frames;
  const FrameDecoder::Status status = decoder_.feed(bytes, &frames);
  // The frames before a bad length are served.
  for (SecretString& frame : frames) {
    if (inputDone_) break;
    queue(std::move(frame));
  }
  if (status != FrameDecoder::Status::kOk && !inputDone_)
    refuseInput(1, std::string(decoder_.failureReason()));
}

void NativeHost::endOfInput() {
  if (inputDone_) return;
  if (decoder_.midFrame()) {
    refuseInput(1, "the input ended inside a frame");
    return;
  }
  inputDone_ = true;
  std::cerr << "ruzazuv-nmhost: the browser closed the input\n";
  // The browser lets the host go when the page has gone: a confirmation open for it ends as if
  // Cancel were pressed, as on the bridge, and the calls still queued show none.
  pageGone_ = true;
  if (dialogs_ != nullptr) dialogs_->pageGone();
  finishIfDone();
}

void NativeHost::queue(SecretString frame) {
  Envelope envelope = parseEnvelope(frame.view(), config_.allowedOrigins);
  if (envelope.kind == Envelope::Kind::kNotObject) {
    refuseInput(1, "a frame that is not a JSON object");
    return;
  }
  queuedBytes_ += envelope.request.size();
  queue_.push_back(std::move(envelope));
  if (queue_.size() == 1 && !running_) wake_();
}

void NativeHost::refuseInput(int status, const std::string& reason) {
  inputDone_ = true;
  status_ = status;
  std::cerr << "ruzazuv-nmhost: ending: " << reason << "\n";
  finishIfDone();
}

void NativeHost::run() {
  if (running_ || finished_) return;
  if (queue_.empty()) {
    finishIfDone();
    return;
  }
  running_ = true;
  Envelope envelope = std::move(queue_.front());
  queue_.pop_front();
  queuedBytes_ -= envelope.request.size();
  answer(envelope);
  running_ = false;
  if (!queue_.empty() && !finished_)
    wake_();
  else
    finishIfDone();
}

void NativeHost::answer(const Envelope& envelope) {
  switch (envelope.kind) {
    case Envelope::Kind::kNotObject:
      return;
    case Envelope::Kind::kRefused:
      std::cerr << "ruzazuv-nmhost: refused an envelope (" << envelope.refused
                << "): " << envelope.message << "\n";
      write(refusalAnswer(envelope));
      return;
    case Envelope::Kind::kHello:
      write(helloAnswer(*envelope.id));
      return;
    case Envelope::Kind::kRequest: {
      Origin& origin = originFor(envelope.origin);
      if (dialogs_ != nullptr) {
        dialogs_->beginCall();
        if (pageGone_) dialogs_->pageGone();
      }
      const std::optional<SecretString> text = origin.dispatcher->handle(envelope.request.view());
      write(requestAnswer(*envelope.id, text));
      return;
    }
  }
}

void NativeHost::write(const SecretString& payload) {
  if (finished_) return;
  const SecretString frame = encodeFrame(payload.view());
  if (writer_(frame.view())) return;
  // Nobody reads the answers any more: the browser has let the host go.
  queue_.clear();
  queuedBytes_ = 0;
  inputDone_ = true;
  status_ = 0;
  finished_ = true;
  finish_(0);
}

void NativeHost::finishIfDone() {
  if (finished_ || running_ || !inputDone_ || !queue_.empty()) return;
  finished_ = true;
  finish_(status_);
}

NativeHost::Origin& NativeHost::originFor(const std::string& origin) {
  std::unique_ptr<Origin>& entry = origins_[origin];
  if (!entry) {
    entry = std::make_unique<Origin>();
    const std::u16string pageAddress = utf8ToUtf16(origin + "/");
    ProcessState& process = entry->process;
    entry->controls = std::make_unique<ControlRegistry>([this, &process, pageAddress] {
      auto control =
          std::make_unique<CardControl>(host_.services(dialogs_), process, config_.siteAddress);
      control->setClientSite(pageAddress);
      return control;
    });
    entry->dispatcher = std::make_unique<RpcDispatcher>(*entry->controls);
    std::cerr << "ruzazuv-nmhost: serving " << origin << "\n";
  }
  return *entry;
}

}  // namespace ruzazuv::nmhost
