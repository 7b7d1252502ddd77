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
    return answer ? json::parse(*answer) : json();
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

}  // namespace
}  // namespace ruzazuv
