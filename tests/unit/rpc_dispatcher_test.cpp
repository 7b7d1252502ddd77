// The JSON-RPC layer: request shapes, member lookup, type and range rules, batches, errors.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "rpc/rpc_dispatcher.h"
#include "support/control_harness.h"

namespace ruzazuv {
namespace {

using nlohmann::json;

class RpcDispatcherTest : public ::testing::Test {
 protected:
  RpcDispatcherTest()
      : services_{h.pcsc, clock_, timer_, h.codec, nullptr},
        registry_([this] {
          auto c = std::make_unique<CardControl>(services_, h.process);
          c->setClientSite(std::u16string(u"https://ebank.ruzazuv.example/page"));
          return c;
        }),
        dispatcher_(registry_) {}

  json send(const std::string& text) {
    auto answer = dispatcher_.handle(text);
    return answer ? json::parse(answer->view()) : json();
  }
  json request(const std::string& method, const json& params, json id = 1) {
    json r = {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}};
    if (!params.is_null()) r["params"] = params;
    return send(r.dump());
  }
  static int code(const json& answer) { return answer.at("error").at("code").get<int>(); }
  static std::uint32_t hr(const json& answer) {
    return answer.at("error").at("data").at("hresult").get<std::uint32_t>();
  }

  testing::ControlHarness h;
  SystemClock clock_;
  SystemTimer timer_;
  ControlServices services_;
  ControlRegistry registry_;
  RpcDispatcher dispatcher_;
};

TEST_F(RpcDispatcherTest, GetPutCallByNameOrDispidIgnoringCase) {
  EXPECT_EQ(request("get", {{"name", "InquiryTxnID"}})["result"], "2500");
  EXPECT_EQ(request("put", {{"name", "MONEY"}, {"value", "150000"}})["result"], nullptr);
  EXPECT_EQ(request("get", {{"dispid", 52}})["result"], "00000000150000");
  EXPECT_EQ(request("get", {{"name", "curaccntindex"}})["result"], 1);
  EXPECT_EQ(request("call", {{"name", "ConnectReader"}})["result"], 0);
  EXPECT_EQ(request("get", {{"name", "SupportURL"}})["result"], "0");
  // An absent text reads as empty.
  EXPECT_EQ(request("get", {{"name", "randomNumber"}})["result"], "");
  EXPECT_EQ(request("get", {{"name", "money"}}, "text-id")["id"], "text-id");
}

TEST_F(RpcDispatcherTest, ControlsAreAddressedByIndexAndShareTheProcessState) {
  request("put", {{"name", "baReaderName"}, {"value", "Reader X"}, {"control", 2}});
  EXPECT_EQ(registry_.size(), 3u);
  EXPECT_EQ(request("get", {{"name", "baReaderName"}, {"control", 0}})["result"], "Reader X");
  request("put", {{"name", "FdId"}, {"value", "12345678"}, {"control", 1}});
  EXPECT_EQ(request("get", {{"name", "FdId"}})["result"], "");
  EXPECT_EQ(code(request("get", {{"name", "FdId"}, {"control", -1}})), rpc_error::kInvalidParams);
  EXPECT_EQ(code(request("get", {{"name", "FdId"}, {"control", 1000000}})),
            rpc_error::kInvalidParams);
  EXPECT_EQ(code(request("get", {{"name", "FdId"}, {"control", "0"}})), rpc_error::kInvalidParams);
}

TEST_F(RpcDispatcherTest, MemberErrorsCarryTheDispatchResult) {
  auto unknown = request("get", {{"name", "NoSuch"}});
  EXPECT_EQ(code(unknown), rpc_error::kInvalidParams);
  EXPECT_EQ(hr(unknown), 0x80020006u);
  EXPECT_EQ(hr(request("get", {{"dispid", 97}})), 0x80020006u);
  EXPECT_EQ(hr(request("get", {{"dispid", 0}})), 0x80020006u);
  EXPECT_EQ(hr(request("get", {{"name", "ConnectCard"}})), 0x80020003u);
  EXPECT_EQ(hr(request("put", {{"name", "ConnectCard"}, {"value", 1}})), 0x80020003u);
  EXPECT_EQ(hr(request("call", {{"name", "iNoR"}})), 0x80020003u);
  EXPECT_EQ(hr(request("put", {{"name", "iNoR"}, {"value", "1"}})), 0x80020005u);
  EXPECT_EQ(hr(request("put", {{"name", "iNoR"}, {"value", 1.5}})), 0x80020005u);
  EXPECT_EQ(hr(request("put", {{"name", "iNoR"}, {"value", true}})), 0x80020005u);
  EXPECT_EQ(hr(request("put", {{"name", "iNoR"}, {"value", nullptr}})), 0x80020005u);
  EXPECT_EQ(hr(request("put", {{"name", "money"}, {"value", 150000}})), 0x80020005u);
  EXPECT_EQ(hr(request("put", {{"name", "iNoR"}, {"value", 4294967296LL}})), 0x8002000Au);
  EXPECT_EQ(hr(request("put", {{"name", "iNoR"}, {"value", -2147483649LL}})), 0x8002000Au);
  EXPECT_EQ(hr(request("put", {{"name", "bPq"}, {"value", 65536}})), 0x8002000Au);
  EXPECT_EQ(hr(request("put", {{"name", "bPq"}, {"value", -32769}})), 0x8002000Au);
  EXPECT_EQ(code(request("put", {{"name", "iNoR"}})), rpc_error::kInvalidParams);
  EXPECT_EQ(code(request("get", {{"name", "iNoR"}, {"dispid", 4}})), rpc_error::kInvalidParams);
  EXPECT_EQ(code(request("get", json::object())), rpc_error::kInvalidParams);
}

TEST_F(RpcDispatcherTest, IntegersKeepTheirBits) {
  request("put", {{"name", "uiSW12"}, {"value", 4294967295LL}});
  EXPECT_EQ(request("get", {{"name", "uiSW12"}})["result"], -1);
  request("put", {{"name", "bPq"}, {"value", 40000}});
  EXPECT_EQ(request("get", {{"name", "bPq"}})["result"], 40000 - 65536);
  request("put", {{"name", "iNoR"}, {"value", 3.0}});
  EXPECT_EQ(request("get", {{"name", "iNoR"}})["result"], 3);
}

TEST_F(RpcDispatcherTest, StringsAreCutAtTheirFirstZeroAndNullIsAbsent) {
  send(R"({"jsonrpc":"2.0","id":1,"method":"put","params":{"name":"FdId","value":"ab\u0000cd"}})");
  EXPECT_EQ(request("get", {{"name", "FdId"}})["result"], "ab");
  request("put", {{"name", "FdId"}, {"value", "轉出帳號"}});
  EXPECT_EQ(request("get", {{"name", "FdId"}})["result"], "轉出帳號");
  request("put", {{"name", "FdId"}, {"value", nullptr}});
  EXPECT_EQ(request("get", {{"name", "FdId"}})["result"], "");
}

TEST_F(RpcDispatcherTest, MalformedMessagesGetTheirErrors) {
  EXPECT_EQ(code(send("{not json")), rpc_error::kParseError);
  EXPECT_EQ(send("{not json")["id"], nullptr);
  EXPECT_EQ(code(send("\"text\"")), rpc_error::kInvalidRequest);
  EXPECT_EQ(code(send(R"({"id":1,"method":"get"})")), rpc_error::kInvalidRequest);
  EXPECT_EQ(code(send(R"({"jsonrpc":"1.0","id":1,"method":"get"})")), rpc_error::kInvalidRequest);
  EXPECT_EQ(code(send(R"({"jsonrpc":"2.0","id":1,"method":5})")), rpc_error::kInvalidRequest);
  EXPECT_EQ(code(send(R"({"jsonrpc":"2.0","id":{},"method":"get"})")), rpc_error::kInvalidRequest);
  EXPECT_EQ(code(send(R"({"jsonrpc":"2.0","id":1,"method":"launch"})")),
            rpc_error::kMethodNotFound);
  EXPECT_EQ(code(send(R"({"jsonrpc":"2.0","id":1,"method":"get","params":[1]})")),
            rpc_error::kInvalidParams);
  EXPECT_EQ(code(send("[]")), rpc_error::kInvalidRequest);
  EXPECT_EQ(code(send(std::string("\xff\xfe", 2))), rpc_error::kParseError);
}

TEST_F(RpcDispatcherTest, DeeplyNestedMessagesAreRefusedWithoutRecursion) {
  const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_EQ(code(send(std::string(100000, '['))), rpc_error::kInvalidRequest);
  // Deep values in the id, the params or a put value: each is refused, none may crash.
  EXPECT_EQ(code(send(R"({"jsonrpc":"2.0","method":"get","id":)" + nested(20000) + "}")),
            rpc_error::kInvalidRequest);
  EXPECT_EQ(code(send(R"({"jsonrpc":"2.0","id":1,"method":"get","params":{"name":"uiSW12","x":)" +
                      nested(20000) + "}}")),
            rpc_error::kInvalidRequest);
  // Brackets inside strings do not count, and moderate nesting is served.
  request("put", {{"name", "FdId"}, {"value", std::string(200, '[')}});
  EXPECT_EQ(request("get", {{"name", "FdId"}})["result"], std::string(200, '['));
  EXPECT_EQ(send(R"({"jsonrpc":"2.0","id":1,"method":"get","params":{"name":"iNoR","x":)" +
                 nested(40) + "}}")["result"],
            0);
}

TEST_F(RpcDispatcherTest, BatchesAnswerInOrderAndSkipNotifications) {
  auto answer = send(R"([
    {"jsonrpc":"2.0","id":"a","method":"put","params":{"name":"FdId","value":"x"}},
    {"jsonrpc":"2.0","method":"put","params":{"name":"FdId","value":"y"}},
    {"jsonrpc":"2.0","id":"b","method":"get","params":{"name":"FdId"}},
    5,
    {"jsonrpc":"2.0","id":"c","method":"get","params":{"name":"nope"}}])");
  ASSERT_TRUE(answer.is_array());
  ASSERT_EQ(answer.size(), 4u);
  EXPECT_EQ(answer[0]["id"], "a");
  EXPECT_EQ(answer[1]["result"], "y");
  EXPECT_EQ(code(answer[2]), rpc_error::kInvalidRequest);
  EXPECT_EQ(answer[3]["id"], "c");
  EXPECT_FALSE(
      dispatcher_.handle(R"({"jsonrpc":"2.0","method":"call","params":{"name":"ConnectReader"}})"));
  EXPECT_FALSE(dispatcher_.handle(R"([{"jsonrpc":"2.0","method":"describe"}])"));
}

TEST_F(RpcDispatcherTest, LargeBatchIsServedWhole) {
  std::string batch = "[";
  for (int i = 0; i < 10000; ++i) {
    if (i) batch += ",";
    batch += R"({"jsonrpc":"2.0","id":)" + std::to_string(i) +
             R"(,"method":"get","params":{"dispid":59}})";
  }
  batch += "]";
  auto answer = send(batch);
  ASSERT_EQ(answer.size(), 10000u);
  EXPECT_EQ(answer[9999]["id"], 9999);
  EXPECT_EQ(answer[9999]["result"], 0);
}

TEST_F(RpcDispatcherTest, DescribeListsTheMemberTable) {
  auto result = request("describe", nullptr)["result"];
  EXPECT_EQ(result["progid"], "RuzaZUV.Vorn.1");
  EXPECT_EQ(result["version"], "1.0");
  ASSERT_EQ(result["members"].size(), 96u);
  EXPECT_EQ(result["members"][55], (json{{"dispid", 56},
                                         {"name", "FiscCardTransfer"},
                                         {"kind", "method"},
                                         {"type", "long"},
                                         {"help", "method FiscCardTransfer"}}));
  EXPECT_EQ(result["members"][39]["type"], "short");
}

// --- The answer bound and stepping through a message ------------------------------------------

std::string describeBatch(std::size_t count, const std::string& first = "") {
  std::string batch = "[" + first;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0 || !first.empty()) batch += ",";
    batch += R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"method":"describe"})";
  }
  return batch + "]";
}

std::string repeated(const std::string& request, std::size_t count, const std::string& first = "") {
  std::string batch = "[" + first;
  for (std::size_t i = 0; i < count; ++i) batch += (i > 0 || !first.empty() ? "," : "") + request;
  return batch + "]";
}

TEST_F(RpcDispatcherTest, DescribeBatchesAreBoundedExactly) {
  // The largest batch of describes whose answers fit the limit, found from one answer's size.
  const std::size_t one = dispatcher_.handle(describeBatch(1))->size() - 2;  // less [ and ]
  const std::size_t idDigits = 4;                                            // ids below 10000
  const std::size_t fits = (RpcDispatcher::kMaxAnswerBytes - 1) / (one + idDigits - 1 + 1);
  ASSERT_GT(fits, 10u);
  ASSERT_LT(fits, 10000u);
  const std::string put =
      R"({"jsonrpc":"2.0","id":"p","method":"put","params":{"name":"FdId","value":"x"}})";
  // Under the limit (the estimate counts each id's digits, so a batch near it is served).
  auto served = send(describeBatch(fits / 2, put));
  ASSERT_TRUE(served.is_array());
  EXPECT_EQ(served.size(), fits / 2 + 1);
  EXPECT_EQ(request("get", {{"name", "FdId"}})["result"], "x");
  request("put", {{"name", "FdId"}, {"value", "before"}});
  // Far over it: one error answer, and nothing in the batch ran.
  auto refused = send(describeBatch(fits + 50, put));
  ASSERT_TRUE(refused.is_object());
  EXPECT_EQ(code(refused), rpc_error::kInvalidRequest);
  EXPECT_NE(refused["error"]["message"].get<std::string>().find("1048576"), std::string::npos);
  EXPECT_EQ(request("get", {{"name", "FdId"}})["result"], "before");
  // The exact edge: the answers to describes and a put are known to the byte (ids 0..n-1 and
  // a string id of chosen length), so a batch answering exactly the limit is served and one
  // byte more is refused.
  const std::size_t putAnswer = 33 + 2 + 4;  // {"id":"","jsonrpc":"2.0","result":null}
  std::size_t total = 2;                     // [ and ]
  std::size_t n = 0;
  for (;; ++n) {
    const std::size_t next = (n > 0 ? 1 : 0) + one - 1 + std::to_string(n).size();
    if (total + next + 1 + putAnswer + 1 > RpcDispatcher::kMaxAnswerBytes) break;
    total += next;
  }
  const std::size_t idLength = RpcDispatcher::kMaxAnswerBytes - total - 1 - putAnswer;
  const auto edge = [&](std::size_t length) {
    return describeBatch(n).substr(0, describeBatch(n).size() - 1) + R"(,{"jsonrpc":"2.0","id":")" +
           std::string(length, 'i') +
           R"(","method":"put","params":{"name":"FdId","value":"edge"}}])";
  };
  auto exact = dispatcher_.handle(edge(idLength));
  EXPECT_EQ(exact->size(), RpcDispatcher::kMaxAnswerBytes);
  EXPECT_EQ(code(send(edge(idLength + 1))), rpc_error::kInvalidRequest);
}

TEST_F(RpcDispatcherTest, StringGetsAreBoundedByWhatTheyCanRead) {
  const std::string big(60000, 'a');
  const std::string getFdId = R"({"jsonrpc":"2.0","id":1,"method":"get","params":{"name":"FdId"}})";
  const std::string getReader =
      R"({"jsonrpc":"2.0","id":1,"method":"get","params":{"name":"caReader1"}})";
  const std::string putBig =
      R"({"jsonrpc":"2.0","method":"put","params":{"name":"Remark","value":")" + big + "\"}}";
  const std::string call =
      R"({"jsonrpc":"2.0","id":1,"method":"call","params":{"name":"ConnectReader"}})";
  struct Case {
    const char* what;
    std::string batch;
    bool refused;
  };
  const Case cases[] = {
      {"short current values", repeated(getFdId, 300), false},
      {"a long value put in the same batch counts for every get", repeated(getFdId, 20, putBig),
       true},
      {"fewer gets of it fit", repeated(getFdId, 15, putBig), false},
      {"gets after a call count what operations write", repeated(getReader, 300, call), true},
      {"the same gets without the call fit", repeated(getReader, 300), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    request("put", {{"name", "Remark"}, {"value", "r"}});
    auto answer = send(c.batch);
    EXPECT_EQ(answer.is_object() && code(answer) == rpc_error::kInvalidRequest, c.refused);
    // A refused batch ran nothing: its put did not happen.
    EXPECT_EQ(request("get", {{"name", "Remark"}})["result"] == "r",
              c.refused || c.batch.find(big) == std::string::npos);
  }
  // A long current value counts too.
  request("put", {{"name", "FdId"}, {"value", big}});
  EXPECT_EQ(code(send(repeated(getFdId, 20))), rpc_error::kInvalidRequest);
  EXPECT_EQ(send(repeated(getFdId, 15)).size(), 15u);
}

TEST_F(RpcDispatcherTest, PendingMessagesRunOneRequestPerStep) {
  auto pending = dispatcher_.begin(R"([
    {"jsonrpc":"2.0","id":1,"method":"put","params":{"name":"FdId","value":"x"}},
    {"jsonrpc":"2.0","method":"put","params":{"name":"FdId","value":"y"}},
    {"jsonrpc":"2.0","id":2,"method":"get","params":{"name":"FdId"}}])");
  ASSERT_TRUE(pending);
  const auto fdId = [this] {
    PropertyValue v;
    registry_.control(0)->getProperty(static_cast<int>(Dispid::FdId), &v);
    auto s = std::get<std::optional<std::u16string>>(v);
    return s ? *s : std::u16string(u"(absent)");
  };
  const std::u16string seen[] = {u"x", u"y", u"y"};
  for (const std::u16string& expected : seen) {
    ASSERT_FALSE(pending->finished());
    pending->runNext();
    EXPECT_EQ(fdId(), expected);
  }
  ASSERT_TRUE(pending->finished());
  auto answer = json::parse(pending->answer()->view());
  EXPECT_EQ(answer, json::parse(R"([{"id":1,"jsonrpc":"2.0","result":null},
                                    {"id":2,"jsonrpc":"2.0","result":"y"}])"));

  // Refused whole: finished at once, one answer. Only notifications: finished, no answer.
  auto refused = dispatcher_.begin("[]");
  EXPECT_TRUE(refused->finished());
  EXPECT_EQ(code(json::parse(refused->answer()->view())), rpc_error::kInvalidRequest);
  auto quiet = dispatcher_.begin(R"({"jsonrpc":"2.0","method":"describe"})");
  EXPECT_FALSE(quiet->finished());
  quiet->runNext();
  EXPECT_TRUE(quiet->finished());
  EXPECT_FALSE(quiet->answer());
}

}  // namespace
}  // namespace ruzazuv
