#include "module_platform.h"

#include <mutex>

#include "host/simulated_reader.h"
#include "platform/clock.h"
#include "platform/text_codec.h"
#include "platform/winmm_timer.h"
#include "platform/winscard_pcsc.h"

namespace ruzazuv::com {
namespace {

class WindowsPlatform final : public ModulePlatform {
 public:
  explicit WindowsPlatform(std::unique_ptr<Pcsc> pcsc) : pcsc_(std::move(pcsc)) {}

  ControlServices services() override {
    return ControlServices{*pcsc_, clock_, timer_, codec_, nullptr};
  }
  ProcessState& process() override { return process_; }

 private:
  std::unique_ptr<Pcsc> pcsc_;
  SystemClock clock_;
  WinmmTimer timer_;
  TextCodec codec_;
  ProcessState process_;
};

std::mutex platformMutex;
WindowsPlatform* platform = nullptr;

std::unique_ptr<Pcsc> choosePcsc(std::string* error) {
  static constexpr std::string_view kSimulated = "simulated:";
  // The process's own environment, as it is now (not the runtime's copy made at load).
  std::string choice = "system";
  const DWORD length = GetEnvironmentVariableA(kPcscVariable, nullptr, 0);
  if (length > 0) {
    choice.assign(length, '\0');
    const DWORD n = GetEnvironmentVariableA(kPcscVariable, choice.data(), length);
    choice.resize(n < length ? n : 0);
  }
  if (choice == "system") return std::make_unique<WinscardPcsc>();
  if (choice.rfind(kSimulated, 0) == 0)
    return makeSimulatedReader(choice.substr(kSimulated.size()), error);
  *error = std::string(kPcscVariable) + " takes system or simulated:PROFILE.json, not " + choice;
  return nullptr;
}

}  // namespace

ModulePlatform* modulePlatform(std::string* error) {
  std::lock_guard lock(platformMutex);
  if (platform == nullptr) {
    std::unique_ptr<Pcsc> pcsc = choosePcsc(error);
    if (!pcsc) return nullptr;
    platform = new WindowsPlatform(std::move(pcsc));
  }
  return platform;
}

void releaseModulePlatform() {
  std::lock_guard lock(platformMutex);
  delete platform;
  platform = nullptr;
}

}  // namespace ruzazuv::com
