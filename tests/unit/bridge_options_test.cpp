// ruzazuv-bridge's command line and the dialog actions of --ui scripted:.
#include <gtest/gtest.h>

#include "bridge/bridge_options.h"
#include "bridge/scripted_actions.h"

namespace ruzazuv::bridge {
namespace {

std::optional<std::string> parse(std::vector<std::string> args, BridgeOptions* out) {
  return parseBridgeOptions(args, out);
}

TEST(BridgeOptions, ReadsEveryServingOption) {
  BridgeOptions o;
  ASSERT_EQ(
      parse({"--pcsc", "simulated:p.json", "--site-address=https://b.example/", "--ui",
             "scripted:ok", "--port", "5000", "--allow-origin", "https://a.example",
             "--allow-origin=https://b.example", "--serve-demo", "web", "--demo-port", "5001"},
            &o),
      std::nullopt);
  EXPECT_EQ(o.action, Action::kServe);
  EXPECT_EQ(o.pcsc, "simulated:p.json");
  EXPECT_EQ(o.siteAddress, "https://b.example/");
  EXPECT_EQ(o.ui, "scripted:ok");
  EXPECT_EQ(o.port, 5000);
  EXPECT_EQ(o.allowOrigins, (std::vector<std::string>{"https://a.example", "https://b.example"}));
  EXPECT_EQ(o.serveDemo, "web");
  EXPECT_EQ(o.demoPort, 5001);

  BridgeOptions defaults;
  ASSERT_EQ(parse({}, &defaults), std::nullopt);
  EXPECT_EQ(defaults.port, kDefaultPort);
  EXPECT_EQ(defaults.pcsc, "system");
  EXPECT_EQ(defaults.ui, "") << "left to the bridge: qt with a display, else none";
  EXPECT_FALSE(defaults.siteAddress.has_value());
}

TEST(BridgeOptions, RefusesBadUsage) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port"},
      {"--port", "65536"},
      {"--port", "-1"},
      {"--port", "80x"},
      {"--port", ""},
      {"--pcsc", "pcscd"},
      {"--ui", "gtk"},
      {"--allow-origin", ""},
      {"--demo-port", "5"},
      {"--verbose"},
      {"--register=launchd"},
      {"--register", "--unregister"},
      {"--unregister=x"},
      {"--register", "--port", "0"},
      {"--unregister", "--serve-demo", "web"},
  };
  for (const auto& args : bad) {
    BridgeOptions o;
    EXPECT_NE(parse(args, &o), std::nullopt) << args[0];
  }
}

TEST(BridgeOptions, RegistrationKindAndTheServiceCommandLine) {
  BridgeOptions o;
  ASSERT_EQ(parse({"--register=autostart", "--site-address", "", "--allow-origin", "http://x:1",
                   "--port", "47000", "--ui", "none"},
                  &o),
            std::nullopt);
  EXPECT_EQ(o.action, Action::kRegister);
  EXPECT_EQ(o.serviceKind, ServiceKind::kAutostart);
  // The service is started with the serving options only, and they read back the same.
  BridgeOptions again;
  ASSERT_EQ(parse(o.serviceArguments(), &again), std::nullopt);
  EXPECT_EQ(again.action, Action::kServe);
  EXPECT_EQ(again.siteAddress, "") << "an empty site address survives the round trip";
  EXPECT_EQ(again.allowOrigins, o.allowOrigins);
  EXPECT_EQ(again.port, 47000);
  EXPECT_EQ(again.ui, "none");
  EXPECT_EQ(again.pcsc, "system");

  BridgeOptions unregister;
  ASSERT_EQ(parse({"--unregister"}, &unregister), std::nullopt);
  EXPECT_EQ(unregister.action, Action::kUnregister);
}

TEST(ViewActions, ParsesTheListWithWaits) {
  std::string error;
  const auto actions =
      parseViewActions("ok,decoy@250,background,cancel@0,hold,unavailable", &error);
  ASSERT_TRUE(actions) << error;
  const std::vector<ViewAction> expected = {
      {ViewStep::kOk, 0},     {ViewStep::kDecoy, 250}, {ViewStep::kBackground, 0},
      {ViewStep::kCancel, 0}, {ViewStep::kHold, 0},    {ViewStep::kUnavailable, 0}};
  EXPECT_EQ(*actions, expected);
  EXPECT_TRUE(parseViewActions("", &error)->empty());
  for (const char* bad : {"ok,", ",ok", "OK", "ok@", "ok@-1", "ok@1x", "ok@600001", "wait"})
    EXPECT_FALSE(parseViewActions(bad, &error)) << bad;
}

}  // namespace
}  // namespace ruzazuv::bridge
