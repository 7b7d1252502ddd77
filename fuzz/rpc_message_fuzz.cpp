// Any message a page can send, through the JSON-RPC layer to a control on a simulated card.
// Nothing may crash, and every request with an id must be answered.
#include <cstdint>
#include <memory>
#include <string_view>

#include "control/card_control.h"
#include "platform/clock.h"
#include "platform/simulated_pcsc.h"
#include "platform/system_timer.h"
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
    dispatcher.handle(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return 0;
}
