// The bridge's handshake rules: parsing the request head, the Host and Origin checks, and the
// refusal answers.
#include <gtest/gtest.h>

#include "bridge/http_head.h"
#include "bridge/websocket_handshake.h"

namespace ruzazuv::bridge {
namespace {

constexpr std::uint16_t kPort = 47950;
const std::vector<std::string> kAllowed{"https://ebank.ruzazuv.example", "http://127.0.0.1:8123"};

std::string head(const std::string& host, const std::string& origin,
                 const std::string& extra = "") {
  std::string text = "GET / HTTP/1.1\r\nHost: " + host + "\r\n";
  if (!origin.empty()) text += "Origin: " + origin + "\r\n";
  text +=
      "Upgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
      extra + "\r\n";
  return text;
}

HandshakeVerdict judge(const std::string& text) {
  HttpHead parsed;
  std::size_t length = 0;
  EXPECT_EQ(parseHttpHead(text, &parsed, &length), HeadStatus::kComplete) << text;
  return judgeHandshake(parsed, kPort, kAllowed);
}

TEST(HttpHead, ParsesOnlyACompleteHeadAndReportsItsLength) {
  HttpHead parsed;
  std::size_t length = 0;
  const std::string text = head("127.0.0.1:47950", "");
  EXPECT_EQ(parseHttpHead(text.substr(0, text.size() - 1), &parsed, &length),
            HeadStatus::kIncomplete);
  EXPECT_EQ(parseHttpHead(text + "\x81\x85"
                                 "frame",
                          &parsed, &length),
            HeadStatus::kComplete);
  EXPECT_EQ(length, text.size());
  EXPECT_EQ(parsed.method, "GET");
  EXPECT_EQ(parsed.target, "/");
  EXPECT_EQ(parsed.header("sec-websocket-version"), "13");
  EXPECT_TRUE(parsed.listsToken("CONNECTION", "upgrade"));
  EXPECT_FALSE(parsed.listsToken("Connection", "close"));
}

TEST(HttpHead, RefusesMalformedAndOversizedHeads) {
  HttpHead parsed;
  std::size_t length = 0;
  for (const std::string text :
       {"\r\n\r\n", "GET /\r\n\r\n", "GET  / HTTP/1.1\r\n\r\n", "GET / FTP/1\r\n\r\n",
        "GET / HTTP/1.1\r\nNo colon\r\n\r\n", "GET / HTTP/1.1\r\n: empty name\r\n\r\n",
        "GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", "GET / HTTP/1.1\r\nX: a\x01b\r\n\r\n"})
    EXPECT_EQ(parseHttpHead(text, &parsed, &length), HeadStatus::kMalformed) << text;
  EXPECT_EQ(parseHttpHead(std::string(kMaxHeadBytes, 'a'), &parsed, &length),
            HeadStatus::kTooLarge);
  const std::string big = "GET / HTTP/1.1\r\nX: " + std::string(kMaxHeadBytes, 'a') + "\r\n\r\n";
  EXPECT_EQ(parseHttpHead(big, &parsed, &length), HeadStatus::kTooLarge);
}

TEST(HttpHead, NormalisesOriginsAndSiteAddresses) {
  EXPECT_EQ(normaliseOrigin("https://EBank.Ruzazuv.example/ebank/login"),
            "https://ebank.ruzazuv.example");
  EXPECT_EQ(normaliseOrigin("HTTPS://ebank.ruzazuv.example:443"), "https://ebank.ruzazuv.example");
  EXPECT_EQ(normaliseOrigin("http://127.0.0.1:80/"), "http://127.0.0.1");
  EXPECT_EQ(normaliseOrigin("http://127.0.0.1:8123?x"), "http://127.0.0.1:8123");
  EXPECT_EQ(normaliseOrigin("http://[::1]:8123"), "http://[::1]:8123");
  EXPECT_EQ(normaliseOrigin("null"), "null");
  for (const char* bad : {"", "ebank.example", "://x", "https://", "https://user@bank.example",
                          "http://bank.example:99999", "http://bank.example:x", "http://[::1",
                          "https://a.test:/x", "https://a.test:-1", "1http://a.test",
                          "http://[::1]x", "http://[zz]", "http://a]b", "http://a b"})
    EXPECT_EQ(normaliseOrigin(bad), std::nullopt) << bad;
}

TEST(HttpHead, AnOriginHeaderIsTheOriginAndNothingMore) {
  EXPECT_EQ(normaliseOriginHeader("HTTPS://Bank.Example:8443"), "https://bank.example:8443");
  EXPECT_EQ(normaliseOriginHeader("http://[::1]:8123"), "http://[::1]:8123");
  for (const char* bad :
       {"https://a.test/x", "https://a.test/", "https://a.test:", "https://a.test?q",
        "https://a.test#f", "https://u:p@a.test", "https://a.test:08123", "https://a.test:65536",
        "https://[::1", "https://[::1]:", "https://[]", "https://a.test:1:2"})
    EXPECT_EQ(normaliseOriginHeader(bad), std::nullopt) << bad;
}

TEST(HttpHead, HostMustBeLoopbackWithTheBridgesPort) {
  EXPECT_TRUE(hostAllowed("127.0.0.1:47950", kPort));
  EXPECT_TRUE(hostAllowed("LocalHost:47950", kPort));
  EXPECT_TRUE(hostAllowed("[::1]:47950", kPort));
  for (const char* bad : {"127.0.0.1", "127.0.0.1:47951", "127.0.0.1:147950", "evil.example:47950",
                          "127.0.0.1.evil.example:47950", "localhost.:47950", "::1:47950", ""})
    EXPECT_FALSE(hostAllowed(bad, kPort)) << bad;
}

TEST(Handshake, AcceptsListedOriginsAndLocalPrograms) {
  const HandshakeVerdict bank = judge(head("127.0.0.1:47950", "https://EBANK.ruzazuv.example"));
  EXPECT_EQ(bank.status, 0);
  EXPECT_EQ(bank.origin, "https://EBANK.ruzazuv.example") << "the page address keeps what was sent";
  const HandshakeVerdict local = judge(head("localhost:47950", ""));
  EXPECT_EQ(local.status, 0);
  EXPECT_EQ(local.origin, std::nullopt);
}

TEST(Handshake, RefusesOtherOriginsAndHostsWith403) {
  for (const char* origin : {"https://ebank.ruzazuv.example.evil.example", "http://127.0.0.1:81230",
                             "http://127.0.0.1:812", "https://127.0.0.1:8123", "null", "garbage",
                             "https://ebank.ruzazuv.example/x", "https://ebank.ruzazuv.example:",
                             "https://ebank.ruzazuv.example?q", "http://127.0.0.1:8123/"})
    EXPECT_EQ(judge(head("127.0.0.1:47950", origin)).status, 403) << origin;
  EXPECT_EQ(judge(head("evil.example:47950", "http://127.0.0.1:8123")).status, 403);
  EXPECT_EQ(judge(head("127.0.0.1:8123", "http://127.0.0.1:8123")).status, 403);
}

TEST(Handshake, RefusesAmbiguousOrNonWebSocketRequests) {
  EXPECT_EQ(judge(head("127.0.0.1:47950", "", "Host: evil.example\r\n")).status, 400);
  EXPECT_EQ(judge(head("127.0.0.1:47950", "http://127.0.0.1:8123", "Origin: https://x.example\r\n"))
                .status,
            400);
  EXPECT_EQ(judge("GET / HTTP/1.1\r\nHost: 127.0.0.1:47950\r\n\r\n").status, 426);
  std::string post = head("127.0.0.1:47950", "");
  post.replace(0, 3, "PUT");
  EXPECT_EQ(judge(post).status, 405);
  std::string path = head("127.0.0.1:47950", "");
  path.replace(4, 1, "/admin");
  EXPECT_EQ(judge(path).status, 404);
  std::string version = head("127.0.0.1:47950", "");
  version.replace(version.find("Version: 13"), 11, "Version: 8");
  EXPECT_EQ(judge(version).status, 426);
  for (const char* bad : {"d!hlIHNhbXBsZSBub25jZQ==", "dGhlIHNhbXBsZSBub25jZR==",
                          "dGhlIHNhbXBsZSBub25jZQ=", "dGhlIHNhbXBsZSBub25jZQ=A"}) {
    std::string key = head("127.0.0.1:47950", "");
    key.replace(key.find("dGhl"), 24, bad);
    EXPECT_EQ(judge(key).status, 400) << bad;
  }
}

TEST(Handshake, TheSwitchingAnswerProvesTheKeyWasRead) {
  EXPECT_EQ(websocket::acceptValue("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  EXPECT_EQ(websocket::acceptValue("AAAAAAAAAAAAAAAAAAAAAA=="), "ICX+Yqv66kxgM0FcWaLWlFLwTAI=");
  EXPECT_TRUE(websocket::validKey("AQIDBAUGBwgJCgsMDQ4PEA=="));
  EXPECT_EQ(websocket::switchingProtocolsResponse("dGhlIHNhbXBsZSBub25jZQ=="),
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n");
}

TEST(Handshake, RefusalIsOneWellFormedAnswerWhateverTheReason) {
  const std::string answer = refusalResponse(403, "origin not allowed: x\r\nSet-Cookie: a=b");
  const std::size_t end = answer.find("\r\n\r\n");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(answer.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u);
  EXPECT_EQ(answer.find("Set-Cookie", 0) > end, true) << "the reason stays in the body";
  const std::string body = answer.substr(end + 4);
  EXPECT_NE(answer.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(body.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace ruzazuv::bridge
