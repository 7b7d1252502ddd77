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
  WindowsPlatform(std::unique_ptr<Pcsc> pcsc, std::optional<std::u16string> pageAddress)
      : pcsc_(std::move(pcsc)), pageAddress_(std::move(pageAddress)) {}

  ControlServices services() override {
    return ControlServices{*pcsc_, clock_, timer_, codec_, nullptr};
  }
  ProcessState& process() override { return process_; }
  const std::optional<std::u16string>& pageAddress() const override { return pageAddress_; }

 private:
  std::unique_ptr<Pcsc> pcsc_;
  SystemClock clock_;
  WinmmTimer timer_;
  TextCodec codec_;
  ProcessState process_;
  std::optional<std::u16string> pageAddress_;
};

std::mutex platformMutex;
WindowsPlatform* platform = nullptr;

constexpr std::string_view kSimulated = "simulated:";

// A variable of the process's own environment as it is now (not the runtime's copy made at
// load), as wide text.
std::optional<std::wstring> environmentVariable(const char* name) {
  std::wstring wideName(name, name + std::char_traits<char>::length(name));
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (length == 0) return std::nullopt;
  std::wstring value(length, L'\0');
  const DWORD n = GetEnvironmentVariableW(wideName.c_str(), value.data(), length);
  value.resize(n < length ? n : 0);
  return value;
}

std::string narrowChoice(const std::wstring& wide) {
  std::string narrow;
  for (wchar_t c : wide) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

std::unique_ptr<Pcsc> choosePcsc(const std::string& choice, std::string* error) {
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
    const std::optional<std::wstring> choice = environmentVariable(kPcscVariable);
    const std::string pcscChoice = choice ? narrowChoice(*choice) : "system";
    std::unique_ptr<Pcsc> pcsc = choosePcsc(pcscChoice, error);
    if (!pcsc) return nullptr;
    std::optional<std::u16string> pageAddress;
    if (pcscChoice.rfind(kSimulated, 0) == 0)
      if (const auto address = environmentVariable(kPageAddressVariable))
        pageAddress.emplace(address->begin(), address->end());
    platform = new WindowsPlatform(std::move(pcsc), std::move(pageAddress));
  }
  return platform;
}

void releaseModulePlatform() {
  std::lock_guard lock(platformMutex);
  delete platform;
  platform = nullptr;
}

}  // namespace ruzazuv::com
