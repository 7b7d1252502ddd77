// The native-messaging framing: whole frames out of input split anywhere, and the refusals of
// a bad length with the frames before it kept.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "nmhost/native_frames.h"

namespace ruzazuv::nmhost {
namespace {

using Frames = std::vector<std::string>;

std::string lengthBytes(std::uint32_t length) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &length, 4);
  return bytes;
}

std::string frame(const std::string& payload) {
  return lengthBytes(static_cast<std::uint32_t>(payload.size())) + payload;
}

struct Decoded {
  Frames frames;
  FrameDecoder::Status status;
  bool midFrame;
};

// Feeds `input` in pieces of at most `piece` bytes (0: whole).
Decoded decode(const std::string& input, std::size_t piece = 0) {
  FrameDecoder decoder;
  std::vector<SecretString> out;
  Decoded d{{}, FrameDecoder::Status::kOk, false};
  if (piece == 0) piece = input.size() + 1;
  for (std::size_t at = 0; at < input.size(); at += piece)
    d.status = decoder.feed(std::string_view(input).substr(at, piece), &out);
  for (const SecretString& f : out) d.frames.emplace_back(f.view());
  d.midFrame = decoder.midFrame();
  return d;
}

const std::string kLargest(kMaxInputFrameBytes, 'x');
const std::string kGood = frame("{\"id\":1}") + frame("a") + frame("{\"id\":2,\"r\":\"\\u0000\"}");
const Frames kGoodFrames = {"{\"id\":1}", "a", "{\"id\":2,\"r\":\"\\u0000\"}"};

TEST(FrameDecoder, SplitAtEveryByteGivesTheSameFrames) {
  for (std::size_t split = 0; split <= kGood.size(); ++split) {
    FrameDecoder decoder;
    std::vector<SecretString> out;
    decoder.feed(std::string_view(kGood).substr(0, split), &out);
    decoder.feed(std::string_view(kGood).substr(split), &out);
    Frames frames;
    for (const SecretString& f : out) frames.emplace_back(f.view());
    EXPECT_EQ(frames, kGoodFrames) << "split at " << split;
    EXPECT_FALSE(decoder.midFrame());
  }
  EXPECT_EQ(decode(kGood, 1).frames, kGoodFrames);
}

struct InputCase {
  const char* name;
  std::string input;
  Frames frames;
  FrameDecoder::Status status;
  bool midFrame;
};

class FrameInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(FrameInput, EndsAsDefined) {
  const InputCase& c = GetParam();
  for (std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
    const Decoded d = decode(c.input, piece);
    EXPECT_EQ(d.frames, c.frames) << "pieces of " << piece;
    EXPECT_EQ(d.status, c.status) << "pieces of " << piece;
    EXPECT_EQ(d.midFrame, c.midFrame) << "pieces of " << piece;
  }
}

using S = FrameDecoder::Status;
INSTANTIATE_TEST_SUITE_P(
    Inputs, FrameInput,
    ::testing::Values(
        InputCase{"LargestTaken", frame(kLargest), {kLargest}, S::kOk, false},
        InputCase{"OverLimitAfterGoodFrames", kGood + lengthBytes(kMaxInputFrameBytes + 1) + "xy",
                  kGoodFrames, S::kTooLarge, false},
        InputCase{"HugeLength", lengthBytes(0xFFFFFFFFu), {}, S::kTooLarge, false},
        InputCase{"ZeroLengthThenNothingMore",
                  frame("a") + lengthBytes(0) + frame("b"),
                  {"a"},
                  S::kEmpty,
                  false},
        InputCase{"TruncatedLength", kGood + std::string("\x05\x00", 2), kGoodFrames, S::kOk, true},
        InputCase{"TruncatedPayload", kGood + lengthBytes(10) + "abc", kGoodFrames, S::kOk, true},
        InputCase{"GarbageAfterAFrame", frame("a") + "garbage!", {"a"}, S::kTooLarge, false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(FrameDecoder, StaysRefusedAndSaysWhy) {
  FrameDecoder decoder;
  std::vector<SecretString> out;
  EXPECT_TRUE(decoder.failureReason().empty());
  EXPECT_EQ(decoder.feed(lengthBytes(0), &out), S::kEmpty);
  EXPECT_EQ(decoder.feed(frame("a"), &out), S::kEmpty);
  EXPECT_TRUE(out.empty());
  EXPECT_NE(decoder.failureReason().find("zero"), std::string_view::npos);
}

TEST(EncodeFrame, LengthInNativeOrderThenPayload) {
  for (const std::string& payload : {std::string("{}"), std::string(70000, 'y')}) {
    const SecretString encoded = encodeFrame(payload);
    ASSERT_EQ(encoded.size(), 4 + payload.size());
    std::uint32_t length = 0;
    std::memcpy(&length, encoded.data(), 4);
    EXPECT_EQ(length, payload.size());
    EXPECT_EQ(encoded.view().substr(4), payload);
  }
}

}  // namespace
}  // namespace ruzazuv::nmhost
