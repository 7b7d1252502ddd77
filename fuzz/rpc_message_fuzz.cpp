// Any message a page can send, through the JSON-RPC layer to a control on a simulated card.
// Nothing may crash, and every request with an id must be answered. Each line is also read by
// nlohmann's parser as the reference: the rpc layer's reader must accept exactly the texts it
// accepts (within the depth limit) and write back the text it writes.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <nlohmann/json.hpp>

#include "control/card_control.h"
#include "platform/clock.h"
#include "platform/simulated_pcsc.h"
#include "platform/system_timer.h"
#include "rpc/json_reader.h"
#include "rpc/json_writer.h"
#include "rpc/rpc_dispatcher.h"
#include "sim/card_profile.h"
#include "sim/fisc_card.h"

namespace {

struct Host {
  Host() {
    pcsc.addReader("Fuzz Reader");
    pcsc.insertCard("Fuzz Reader",
                    std::make_shared<ruzazuv::sim::FiscCard>(ruzazuv::sim::loadCardProfile(
                        ruzazuv::sim::builtinProfilePath("default.json"))));
  }
  ruzazuv::SimulatedPcsc pcsc;
  ruzazuv::SystemClock clock;
  ruzazuv::SystemTimer timer;
  ruzazuv::TextCodec codec;
};

// Aborts when our reader and nlohmann's disagree about `text`.
void compareWithReference(std::string_view text) {
  // nlohmann's parser stops at a zero byte; such lines are no JSON texts for either.
  if (text.find('\0') != std::string_view::npos) return;
  ruzazuv::SecretJson ours;
  const auto status = ruzazuv::readJson(text, &ours, ruzazuv::RpcDispatcher::kMaxNesting);
  if (status == ruzazuv::JsonReadStatus::kTooDeep) return;
  const nlohmann::json reference = nlohmann::json::parse(text, nullptr, false);
  if (reference.is_discarded() != (status != ruzazuv::JsonReadStatus::kOk)) std::abort();
  if (reference.is_discarded()) return;
  ruzazuv::SecretString written;
  ruzazuv::writeJson(ours, &written);
  if (written.view() != reference.dump()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Host host;
  // A fresh process state and registry per input, so inputs do not depend on each other.
  ruzazuv::ProcessState process;
  ruzazuv::ControlServices services{host.pcsc, host.clock, host.timer, host.codec, nullptr};
  ruzazuv::ControlRegistry registry([&] {
    auto c = std::make_unique<ruzazuv::CardControl>(services, process, u"");
    c->setClientSite(std::nullopt);
    return c;
  });
  ruzazuv::RpcDispatcher dispatcher(registry);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  // Lines, as ruzazuv-cli takes them.
  while (!text.empty()) {
    const auto end = text.find('\n');
    compareWithReference(text.substr(0, end));
    dispatcher.handle(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return 0;
}
