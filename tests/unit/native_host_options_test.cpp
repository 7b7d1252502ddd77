// ruzazuv-nmhost's command line: the browser's arguments are kept whatever they are, the
// serving options keep their values, and options of the bridge's other actions are refused.
#include <gtest/gtest.h>

#include "nmhost/nmhost_options.h"

namespace ruzazuv::nmhost {
namespace {

using Args = std::vector<std::string>;

struct OptionsCase {
  const char* name;
  Args args;
  bool ok;
  Args browser;                    // when ok
  std::vector<std::string> allow;  // when ok
  bridge::Action action = bridge::Action::kServe;
};

class NativeHostOptionsTest : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(NativeHostOptionsTest, Parses) {
  const OptionsCase& c = GetParam();
  NativeHostOptions options;
  const auto error = parseNativeHostOptions(c.args, &options);
  EXPECT_EQ(!error, c.ok) << error.value_or("");
  if (!c.ok) return;
  EXPECT_EQ(options.browserArguments, c.browser);
  EXPECT_EQ(options.serving.allowOrigins, c.allow);
  EXPECT_EQ(options.serving.action, c.action);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, NativeHostOptionsTest,
    ::testing::Values(
        OptionsCase{"Chromium", {"chrome-extension://abc/"}, true, {"chrome-extension://abc/"}, {}},
        OptionsCase{"ChromiumOnWindows",
                    {"--parent-window=0", "chrome-extension://abc/"},
                    true,
                    {"--parent-window=0", "chrome-extension://abc/"},
                    {}},
        // A value that looks like a browser argument stays the option's.
        OptionsCase{"ValuesTaken",
                    {"--allow-origin", "https://a.example", "--allow-origin=https://b.example",
                     "--site-address", "https://a.example/", "chrome-extension://abc/"},
                    true,
                    {"chrome-extension://abc/"},
                    {"https://a.example", "https://b.example"}},
        OptionsCase{"MissingValue", {"--pcsc"}, false, {}, {}},
        OptionsCase{"PortIsTheBridges", {"--port", "47950"}, false, {}, {}},
        // The host's own registration takes the serving options for its launcher.
        OptionsCase{"Register",
                    {"--register", "--allow-origin", "https://a.example"},
                    true,
                    {},
                    {"https://a.example"},
                    bridge::Action::kRegister},
        OptionsCase{"Unregister", {"--unregister"}, true, {}, {}, bridge::Action::kUnregister},
        OptionsCase{"RegisterAndUnregister", {"--register", "--unregister"}, false, {}, {}},
        // Which service to install is the bridge's choice; the host installs none.
        OptionsCase{"ServiceKindIsTheBridges", {"--register=systemd"}, false, {}, {}}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace ruzazuv::nmhost
