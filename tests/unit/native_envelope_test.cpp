// The extension's envelopes: what is served, what is refused (and with which id), what ends the
// host; and the answers' texts, the too-large one included.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "nmhost/native_envelope.h"
#include "nmhost/native_frames.h"

namespace ruzazuv::nmhost {
namespace {

using Kind = Envelope::Kind;
using nlohmann::json;

const std::vector<std::string> kAllowed = {"https://bank.example", "http://127.0.0.1:8080"};

struct ParseCase {
  const char* name;
  std::string frame;
  Kind kind;
  std::optional<std::uint64_t> id;
  std::string refused;  // for kRefused
  std::string origin;   // for kHello and kRequest
};

class ParseEnvelope : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseEnvelope, ServesRefusesOrEnds) {
  const ParseCase& c = GetParam();
  const Envelope e = parseEnvelope(c.frame, kAllowed);
  EXPECT_EQ(e.kind, c.kind);
  if (c.kind == Kind::kNotObject) return;
  EXPECT_EQ(e.id, c.id);
  EXPECT_EQ(e.refused, c.refused);
  if (c.kind == Kind::kRefused) {
    EXPECT_FALSE(e.message.empty());
  } else {
    EXPECT_EQ(e.origin, c.origin);
  }
}

constexpr auto kNo = std::nullopt;
INSTANTIATE_TEST_SUITE_P(
    Frames, ParseEnvelope,
    ::testing::Values(
        ParseCase{"Hello", R"({"id":0,"origin":"https://bank.example","hello":true})", Kind::kHello,
                  0, "", "https://bank.example"},
        ParseCase{"RequestOriginNormalised",
                  R"({"id":9007199254740992,"origin":"HTTPS://Bank.Example:443","request":"x"})",
                  Kind::kRequest, 9007199254740992u, "", "https://bank.example"},
        ParseCase{"Array", R"([{"id":1}])", Kind::kNotObject, kNo, "", ""},
        ParseCase{"NotJson", "{\"id\":1,", Kind::kNotObject, kNo, "", ""},
        ParseCase{"NoId", R"({"origin":"https://bank.example","hello":true})", Kind::kRefused, kNo,
                  "envelope", ""},
        ParseCase{"NegativeId", R"({"id":-1,"origin":"https://bank.example","hello":true})",
                  Kind::kRefused, kNo, "envelope", ""},
        ParseCase{"FractionId", R"({"id":1.5,"origin":"https://bank.example","hello":true})",
                  Kind::kRefused, kNo, "envelope", ""},
        ParseCase{"IdBeyondSafe",
                  R"({"id":9007199254740993,"origin":"https://bank.example","hello":true})",
                  Kind::kRefused, kNo, "envelope", ""},
        ParseCase{"NestedTooDeep", R"({"id":1,"x":[[[[[[[[[[[[]]]]]]]]]]]]})", Kind::kRefused, kNo,
                  "envelope", ""},
        ParseCase{"NoOrigin", R"({"id":4,"hello":true})", Kind::kRefused, 4, "origin", ""},
        ParseCase{"OriginNotString", R"({"id":4,"origin":1,"hello":true})", Kind::kRefused, 4,
                  "origin", ""},
        ParseCase{"OriginNull", R"({"id":4,"origin":"null","hello":true})", Kind::kRefused, 4,
                  "origin", ""},
        ParseCase{"OriginWithPath", R"({"id":4,"origin":"https://bank.example/","hello":true})",
                  Kind::kRefused, 4, "origin", ""},
        ParseCase{"OriginNotAllowed", R"({"id":4,"origin":"https://evil.example","request":"x"})",
                  Kind::kRefused, 4, "origin", ""},
        ParseCase{"Neither", R"({"id":5,"origin":"https://bank.example"})", Kind::kRefused, 5,
                  "envelope", ""},
        ParseCase{"HelloFalse", R"({"id":5,"origin":"https://bank.example","hello":false})",
                  Kind::kRefused, 5, "envelope", ""},
        ParseCase{"RequestNotString",
                  R"({"id":5,"origin":"https://bank.example","request":{"jsonrpc":"2.0"}})",
                  Kind::kRefused, 5, "envelope", ""},
        ParseCase{"Both", R"({"id":5,"origin":"https://bank.example","hello":true,"request":"x"})",
                  Kind::kRefused, 5, "envelope", ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ParseEnvelope, RequestTextUnchanged) {
  const std::string text = R"({"jsonrpc":"2.0","id":"p1","method":"get","params":{"name":"Pin"}})";
  const json frame = {{"id", 2}, {"origin", "https://bank.example"}, {"request", text}};
  const Envelope e = parseEnvelope(frame.dump(), kAllowed);
  ASSERT_EQ(e.kind, Kind::kRequest);
  EXPECT_EQ(e.request.view(), text);
}

TEST(EnvelopeAnswers, Texts) {
  EXPECT_EQ(json::parse(helloAnswer(7).view()),
            json::parse(R"({"id":7,"hello":{"progid":"RuzaZUV.Vorn.1","version":"1.0"}})"));
  EXPECT_EQ(json::parse(requestAnswer(8, std::nullopt).view()),
            json::parse(R"({"id":8,"answer":null})"));
  const Envelope noId = parseEnvelope(R"({"origin":"x"})", kAllowed);
  EXPECT_EQ(json::parse(refusalAnswer(noId).view()),
            (json{{"id", nullptr}, {"refused", "envelope"}, {"message", noId.message}}));
  const Envelope origin = parseEnvelope(R"({"id":3,"origin":"a\"b"})", kAllowed);
  EXPECT_EQ(json::parse(refusalAnswer(origin).view()),
            (json{{"id", 3}, {"refused", "origin"}, {"message", origin.message}}));
}

// An answer text of `size` bytes of `fill`, the same size once escaped or six times larger.
SecretString answerOf(std::size_t size, char fill) {
  return SecretString(std::string(size, fill));
}

TEST(EnvelopeAnswers, KeptWhileTheFrameFitsElseTooLarge) {
  struct Case {
    std::size_t size;
    char fill;
    bool kept;
  };
  for (const Case& c : {Case{1000, '"', true}, Case{kMaxOutputFrameBytes - 64, 'a', true},
                        Case{kMaxOutputFrameBytes, 'a', false},
                        Case{kMaxOutputFrameBytes / 6 + 10, '\x01', false}}) {
    const SecretString answer = answerOf(c.size, c.fill);
    const SecretString text = requestAnswer(42, answer);
    EXPECT_LE(text.size(), kMaxOutputFrameBytes) << c.size;
    const json parsed = json::parse(text.view());
    EXPECT_EQ(parsed["id"], 42);
    const std::string inner = parsed["answer"];
    if (c.kept) {
      EXPECT_EQ(inner, answer.view()) << c.size;
    } else {
      const json error = json::parse(inner);
      EXPECT_EQ(error["error"]["code"], -32600) << c.size;
      EXPECT_NE(error["error"]["message"].get<std::string>().find("too large"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace ruzazuv::nmhost
