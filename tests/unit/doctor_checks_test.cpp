// The doctor's pure steps against the bridge's own texts: the service files --register writes
// read back into their arguments, the WebSocket client's opening and frames judged by the
// bridge's handshake and frame parser, describe answers, manifests, options and the exit status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "bridge/native_host_registration.h"
#include "bridge/registration.h"
#include "bridge/websocket_frames.h"
#include "bridge/websocket_handshake.h"
#include "cli/doctor_bridge_probe.h"
#include "cli/doctor_command.h"
#include "cli/doctor_report.h"
#include "cli/doctor_setup_checks.h"
#include "host/native_host_names.h"

namespace ruzazuv::doctor {
namespace {

using ws_client::FrameVerdict;
using ws_client::HandshakeVerdict;

TEST(DoctorServiceFile, ReadsBackWhatRegistrationWrites) {
  const std::vector<std::vector<std::string>> argumentSets = {
      {"--allow-origin", "https://bank.example", "--port", "47951"},
      {"--allow-origin", "https://a b.example/%h$HOME\\\"`'", "--site-address=https://x/"},
      {},
  };
  for (const auto& arguments : argumentSets) {
    bridge::ServiceCommand command{"/opt/my bridge/ruzazuv-bridge", arguments, 47950};
    std::vector<std::string> expected = {command.executable.string()};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(serviceCommandLine(bridge::serviceUnitText(command), false), expected);
    EXPECT_EQ(serviceCommandLine(bridge::autostartEntryText(command), true), expected);
  }
  EXPECT_EQ(serviceCommandLine("[Service]\nType=simple\n", false), std::nullopt);
  EXPECT_EQ(serviceCommandLine("ExecStart=-/usr/bin/ruzazuv-bridge 'a b'\n", false),
            (std::vector<std::string>{"/usr/bin/ruzazuv-bridge", "a b"}));
}

TEST(DoctorServiceFile, OptionValuesInBothForms) {
  const std::vector<std::string> args = {
      "bridge", "--allow-origin", "https://a", "--allow-origin=https://b", "--port",
      "1",      "--allow-origin"};
  EXPECT_EQ(optionValues(args, "--allow-origin"),
            (std::vector<std::string>{"https://a", "https://b"}));
}

TEST(DoctorWebSocketClient, JudgesTheOpeningAnswer) {
  const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
  const std::string other = "AQIDBAUGBwgJCgsMDQ4PEC==";
  const std::string bridgeAnswer = bridge::websocket::switchingProtocolsResponse(key);
  struct Case {
    std::string answer;
    HandshakeVerdict verdict;
  } cases[] = {
      {bridgeAnswer, HandshakeVerdict::kAccepted},
      {bridgeAnswer + "\x81\x02{}", HandshakeVerdict::kAccepted},  // a frame right behind it
      {bridge::websocket::switchingProtocolsResponse(other), HandshakeVerdict::kRefused},
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", HandshakeVerdict::kRefused},
      {"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n\r\n",
       HandshakeVerdict::kRefused},  // no Sec-WebSocket-Accept
      {bridgeAnswer.substr(0, bridgeAnswer.size() - 2), HandshakeVerdict::kIncomplete},
      {"HT", HandshakeVerdict::kIncomplete},
      {"SSH-2.0-OpenSSH_9.2\r\n", HandshakeVerdict::kRefused},
      {"HTTP/1.1 101 " + std::string(20000, 'x'), HandshakeVerdict::kRefused},  // no end
  };
  for (const Case& c : cases) {
    std::size_t head = 0;
    EXPECT_EQ(ws_client::judgeHandshakeAnswer(c.answer, key, &head), c.verdict) << c.answer;
    if (c.verdict == HandshakeVerdict::kAccepted) {
      EXPECT_EQ(head, bridgeAnswer.size());
    }
  }
  // The request passes the bridge's key rule.
  const std::string request = ws_client::handshakeRequest(47950, key);
  EXPECT_NE(request.find("Host: 127.0.0.1:47950\r\n"), std::string::npos);
  EXPECT_EQ(request.find("Origin"), std::string::npos);
  EXPECT_TRUE(bridge::websocket::validKey(key));
}

TEST(DoctorWebSocketClient, MaskedFramesReadByTheBridgesParser) {
  for (std::size_t size : {0u, 125u, 126u, 65535u, 65536u}) {
    std::string payload(size, 'a');
    for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<char>('a' + i % 26);
    bridge::websocket::FrameParser parser(1 << 20);
    std::vector<bridge::websocket::Event> events;
    EXPECT_EQ(parser.feed(ws_client::maskedTextFrame(payload, 0xA1B2C3D4u), &events), 0) << size;
    ASSERT_EQ(events.size(), 1u) << size;
    EXPECT_EQ(events[0].kind, bridge::websocket::Event::Kind::kText);
    EXPECT_EQ(events[0].payload.view(), payload) << size;
  }
}

TEST(DoctorWebSocketClient, ParsesServerFrames) {
  const std::string big(300, 'x');
  struct Case {
    std::string data;
    std::size_t maxPayload;
    FrameVerdict verdict;
    std::string payload;
    std::size_t consumed;
  } cases[] = {
      {"\x81", 100, FrameVerdict::kIncomplete, "", 0},
      {"\x81\x03"
       "abcNEXT",
       100, FrameVerdict::kFrame, "abc", 5},
      {"\x81\x05"
       "abc",
       100, FrameVerdict::kIncomplete, "", 0},
      {std::string("\x81\x7E\x01\x2C", 4) + big, 1000, FrameVerdict::kFrame, big, 304},
      {std::string("\x81\x7E\x01", 3), 1000, FrameVerdict::kIncomplete, "", 0},
      {std::string("\x81\x7E\x01\x2C", 4) + big, 299, FrameVerdict::kBad, "", 0},
      {std::string("\x81\x7F\x80\0\0\0\0\0\0\0", 10), 1000, FrameVerdict::kBad, "", 0},
      {"\x81\x83mask", 100, FrameVerdict::kBad, "", 0},  // servers do not mask
  };
  for (const Case& c : cases) {
    std::uint8_t opcode = 0;
    std::string payload;
    std::size_t consumed = 0;
    EXPECT_EQ(ws_client::parseServerFrame(c.data, c.maxPayload, &opcode, &payload, &consumed),
              c.verdict)
        << c.data.size();
    if (c.verdict != FrameVerdict::kFrame) continue;
    EXPECT_EQ(opcode, 1);
    EXPECT_EQ(payload, c.payload);
    EXPECT_EQ(consumed, c.consumed);
  }
}

TEST(DoctorWebSocketClient, RecognisesTheDescribeAnswer) {
  const std::string good =
      R"({"jsonrpc":"2.0","id":1,"result":{"progid":"RuzaZUV.Vorn.1","version":"1.0",)"
      R"("members":[{"dispid":1},{"dispid":2}]}})";
  EXPECT_EQ(ws_client::describeSummary(good, 1), "RuzaZUV.Vorn.1 1.0, 2 members");
  for (const std::string& bad : {
           std::string(R"({"jsonrpc":"2.0","id":2,"result":{"progid":"P","version":"1",)"
                       R"("members":[1]}})"),  // another request's answer
           std::string(R"({"jsonrpc":"2.0","id":1,"error":{"code":-32601}})"),
           std::string(R"({"jsonrpc":"2.0","id":1,"result":{"progid":"P","version":"1"}})"),
           std::string(R"({"jsonrpc":"2.0","id":1,"result":{"progid":"P","version":"1",)"
                       R"("members":[]}})"),
           std::string(R"({"id":1,"result":{"progid":"P","version":"1","members":[1]}})"),
           std::string("hello"),
       })
    EXPECT_EQ(ws_client::describeSummary(bad, 1), std::nullopt) << bad;
}

TEST(DoctorManifest, JudgesOurHostsManifest) {
  const auto chromium = [](nlohmann::json changes) {
    nlohmann::json m = {{"name", kNativeHostName},
                        {"type", "stdio"},
                        {"path", "/usr/lib/ruzazuv/ruzazuv-nmhost"},
                        {"allowed_origins", {"chrome-extension://other/", kExtensionOrigin}}};
    if (!changes.is_null()) m.merge_patch(changes);  // {} reads as null: no change
    return m.dump();
  };
  const std::string firefox = nlohmann::json{
      {"name", kNativeHostName},
      {"type", "stdio"},
      {"path", "/usr/lib/ruzazuv/ruzazuv-nmhost"},
      {"allowed_extensions",
       {kFirefoxExtensionId}}}.dump();
  struct Case {
    std::string text;
    bool firefox;
    bool usable;
  } cases[] = {
      {chromium({}), false, true},
      {firefox, true, true},
      {firefox, false, false},      // a Firefox manifest where Chromium looks
      {chromium({}), true, false},  // and the other way round
      {chromium({{"name", "other.host"}}), false, false},
      {chromium({{"type", "socket"}}), false, false},
      {chromium({{"path", "ruzazuv-nmhost"}}), false, false},
      {chromium({{"path", nullptr}}), false, false},
      {chromium({{"allowed_origins", {"chrome-extension://other/"}}}), false, false},
      {"[1, 2]", false, false},
      {"{", false, false},
  };
  for (const Case& c : cases) {
    std::filesystem::path host;
    const auto problem = manifestProblem(c.text, c.firefox, &host);
    EXPECT_EQ(!problem, c.usable) << c.text;
    if (c.usable) {
      EXPECT_EQ(host, "/usr/lib/ruzazuv/ruzazuv-nmhost");
    }
  }
}

TEST(DoctorManifest, AcceptsWhatRegistrationWrites) {
  for (auto flavour : {bridge::ManifestFlavour::kChromium, bridge::ManifestFlavour::kFirefox}) {
    const auto text = bridge::hostManifestText(flavour, "/home/u/.local/share/ruzazuv/launch");
    ASSERT_TRUE(text);
    std::filesystem::path host;
    EXPECT_EQ(manifestProblem(*text, flavour == bridge::ManifestFlavour::kFirefox, &host),
              std::nullopt);
    EXPECT_EQ(host, "/home/u/.local/share/ruzazuv/launch");
  }
}

TEST(DoctorBridge, VerdictAndExitStatusOfEachOutcome) {
  struct Case {
    ProbeOutcome outcome;
    bool extensionHost;
    bool socketActive;
    Verdict verdict;
    int failCode;
  } cases[] = {
      {ProbeOutcome::kAnswered, false, false, Verdict::kOk, 0},
      {ProbeOutcome::kBusy, false, false, Verdict::kWarn, 0},
      {ProbeOutcome::kNotListening, false, false, Verdict::kFail, exit_code::kNoBridge},
      {ProbeOutcome::kNotListening, true, false, Verdict::kWarn, 0},
      {ProbeOutcome::kError, false, false, Verdict::kFail, exit_code::kNoBridge},
      {ProbeOutcome::kForeign, true, false, Verdict::kFail, exit_code::kPortTaken},
      // Our own socket unit holds the port: the bridge behind it fails to start.
      {ProbeOutcome::kForeign, false, true, Verdict::kFail, exit_code::kNoBridge},
  };
  for (const Case& c : cases) {
    const Finding f = bridgeFinding({c.outcome, "detail"}, 47950, c.extensionHost, c.socketActive);
    EXPECT_EQ(f.verdict, c.verdict) << static_cast<int>(c.outcome);
    EXPECT_EQ(exitStatus({f}), c.failCode) << static_cast<int>(c.outcome);
    EXPECT_EQ(f.advice.empty(), c.verdict == Verdict::kOk) << static_cast<int>(c.outcome);
  }
}

TEST(DoctorCommand, Options) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    std::uint16_t port;
    bool json;
  } cases[] = {
      {{}, true, 0, false},
      {{"--json", "--port", "8080"}, true, 8080, true},
      {{"--port=65535"}, true, 65535, false},
      {{"--port", "0"}, false, 0, false},
      {{"--port", "65536"}, false, 0, false},
      {{"--port", "12ab"}, false, 0, false},
      {{"--port"}, false, 0, false},
      {{"--verbose"}, false, 0, false},
  };
  for (const Case& c : cases) {
    DoctorOptions options;
    const auto error = parseDoctorOptions(c.args, &options);
    EXPECT_EQ(!error, c.ok) << testing::PrintToString(c.args);
    if (!c.ok) continue;
    EXPECT_EQ(options.port, c.port);
    EXPECT_EQ(options.json, c.json);
  }
}

TEST(DoctorReport, TheFirstFailureDecidesTheExitStatus) {
  const Finding ok{"a", Verdict::kOk, "", "", 0, ""};
  const Finding warn{"b", Verdict::kWarn, "", "", 9, ""};
  const Finding card{"card", Verdict::kFail, "", "", exit_code::kNoCard, ""};
  const Finding bridge{"bridge", Verdict::kFail, "", "", exit_code::kNoBridge, ""};
  EXPECT_EQ(exitStatus({ok, warn}), exit_code::kReady);
  EXPECT_EQ(exitStatus({ok, card, bridge}), exit_code::kNoCard);
  EXPECT_EQ(exitStatus({bridge, card}), exit_code::kNoBridge);
}

}  // namespace
}  // namespace ruzazuv::doctor
