// ruzazuv-cli: JSON-RPC requests on standard input, one answer line per request on standard
// output, logs on standard error.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_options.h"
#include "cli/doctor_command.h"
#include "cli/line_reader.h"
#include "control/card_control.h"
#include "host/simulated_reader.h"
#include "platform/clock.h"
#include "platform/system_pcsc.h"
#include "platform/system_timer.h"
#include "rpc/rpc_dispatcher.h"
#include "ui/scripted_dialog_host.h"

using namespace ruzazuv;

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "doctor")
    return doctor::runDoctor(std::vector<std::string>(argv + 2, argv + argc));

  CliOptions options;
  if (auto error = parseCliOptions(std::vector<std::string>(argv + 1, argv + argc), &options)) {
    std::cerr << "ruzazuv-cli: " << *error << "\n" << kCliUsage;
    return 2;
  }
  if (options.help) {
    std::cout << kCliUsage;
    return 0;
  }

  std::unique_ptr<Pcsc> pcsc;
  if (options.pcsc == "system") {
    pcsc = std::make_unique<SystemPcsc>();
  } else {
    std::string error;
    pcsc = makeSimulatedReader(options.pcsc.substr(std::string("simulated:").size()), &error);
    if (!pcsc) {
      std::cerr << "ruzazuv-cli: " << error << "\n";
      return 2;
    }
    std::cerr << "ruzazuv-cli: simulated reader \"" << kSimulatedReaderName << "\"\n";
  }

  SystemClock clock;
  SystemTimer timer;
  TextCodec codec(options.codePage);
  ProcessState process;
  const std::u16string siteAddress =
      options.siteAddress ? utf8ToUtf16(*options.siteAddress) : std::u16string(kDefaultSiteAddress);
  const std::optional<std::u16string> pageAddress =
      options.pageAddress ? std::optional<std::u16string>(utf8ToUtf16(*options.pageAddress))
                          : std::nullopt;

  std::unique_ptr<DialogHost> dialogs;
  if (!options.ui.empty()) {
    std::vector<ScriptedAction> actions;
    if (auto error =
            parseScriptedActions(options.ui.substr(std::string("scripted:").size()), &actions)) {
      std::cerr << "ruzazuv-cli: --ui: " << *error << "\n";
      return 2;
    }
    dialogs = std::make_unique<ScriptedDialogHost>(std::move(actions), std::cerr);
  }

  ControlServices services{*pcsc, clock, timer, codec, dialogs.get()};
  ControlRegistry controls([&] {
    auto control = std::make_unique<CardControl>(services, process, siteAddress);
    control->setClientSite(pageAddress);
    return control;
  });
  RpcDispatcher dispatcher(controls);

  // Requests and answers can hold PINs: they pass through wiped buffers and read(2)/write(2)
  // only, never through stdio or iostream buffers.
  LineReader reader(STDIN_FILENO, kMaxCliLine);
  SecretString line;
  for (;;) {
    LineReader::Status status = reader.next(&line);
    if (status == LineReader::Status::kEnd) break;
    std::optional<SecretString> answer;
    if (status == LineReader::Status::kTooLong) {
      answer =
          RpcDispatcher::errorText(rpc_error::kInvalidRequest, "Invalid Request: line too long");
    } else if (line.find_first_not_of(" \t\r") == std::string::npos) {
      continue;  // blank lines are no requests
    } else {
      answer = dispatcher.handle(line.view());
    }
    if (answer) {
      answer->push_back('\n');
      if (!writeAll(STDOUT_FILENO, answer->view())) break;  // nobody reads the answers
    }
  }
  return 0;
}
