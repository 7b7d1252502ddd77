// The rpc layer's JSON reader and writer, against nlohmann's parser and serializer as the
// reference: the same values (and number types) for valid texts, a refusal for invalid ones,
// the same text written back.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "rpc/json_reader.h"
#include "rpc/json_writer.h"

namespace ruzazuv {
namespace {

using nlohmann::json;

std::string nested(std::size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

// Our value as nlohmann's, failing on any type that differs (nlohmann's == would let an
// unsigned 1 equal a signed 1).
json asReference(const SecretJson& v) {
  switch (v.type()) {
    case SecretJson::value_t::object: {
      json out = json::object();
      for (auto it = v.begin(); it != v.end(); ++it)
        out[std::string(it.key().view())] = asReference(*it);
      return out;
    }
    case SecretJson::value_t::array: {
      json out = json::array();
      for (const SecretJson& e : v) out.push_back(asReference(e));
      return out;
    }
    case SecretJson::value_t::string:
      return std::string(v.get_ref<const SecretString&>().view());
    case SecretJson::value_t::boolean:
      return v.get<bool>();
    case SecretJson::value_t::number_integer:
      return v.get<std::int64_t>();
    case SecretJson::value_t::number_unsigned:
      return v.get<std::uint64_t>();
    case SecretJson::value_t::number_float:
      return v.get<double>();
    default:
      return nullptr;
  }
}

bool sameTypes(const json& a, const json& b) {
  if (a.type() != b.type() || a.size() != b.size()) return false;
  if (a.is_object()) {
    for (auto it = a.begin(); it != a.end(); ++it)
      if (!b.contains(it.key()) || !sameTypes(*it, b.at(it.key()))) return false;
  } else if (a.is_array()) {
    for (std::size_t i = 0; i < a.size(); ++i)
      if (!sameTypes(a[i], b[i])) return false;
  }
  return true;
}

const std::string kValid[] = {
    "0",
    "-0",
    "7",
    "-7",
    "18446744073709551615",
    "18446744073709551616",
    "-9223372036854775808",
    "-9223372036854775809",
    "1.5",
    "-1.5e-3",
    "1E+2",
    "2e0",
    "0.1",
    "1e-400",
    "-1e-400",
    "4.9e-324",
    "1.7976931348623157e308",
    "123456789012345678901234567890",
    "true",
    "false",
    "null",
    R"("")",
    R"("\u00e9\n\t\"\\\/\b\f\r")",
    R"("\ud83d\ude00")",
    R"("\uD83D\uDE00x")",
    "\"\xE8\xBD\x89\xE5\x87\xBA\"",
    "\"\xF0\x9F\x98\x80\"",
    R"("\u0000a")",
    R"("\u001f\u007f")",
    " [ 1 , { \"a\" : [ ] , \"b\" : { } } ] \n",
    R"({"a":1,"a":2})",
    "\xEF\xBB\xBF{}",
    "[[],[[]]]",
    R"({"jsonrpc":"2.0","id":1,"method":"put","params":{"name":"Pin","value":"123456"}})",
    nested(64)};

const std::string kInvalid[] = {"",
                                " ",
                                "[",
                                "]",
                                "[1,]",
                                "[,1]",
                                "[1 2]",
                                R"({"a"})",
                                R"({"a":})",
                                "{a:1}",
                                R"({"a":1,})",
                                R"({"a" 1})",
                                "{1:1}",
                                "01",
                                "-",
                                "-01",
                                "1.",
                                ".5",
                                "+1",
                                "1e",
                                "1e+",
                                "0x10",
                                "NaN",
                                "Infinity",
                                "-Infinity",
                                "1e400",
                                "-1e400",
                                "tru",
                                "nul",
                                "True",
                                R"("abc)",
                                R"("\x")",
                                R"("\u12")",
                                R"("\u12G4")",
                                R"("\ud800")",
                                R"("\udc00")",
                                R"("\ud800\u0041")",
                                R"("\ud800x")",
                                "\"a\x01"
                                "b\"",
                                "\"\t\"",
                                "\"\xFF\"",
                                "\"\xC0\xAF\"",
                                "\"\xED\xA0\x80\"",
                                "\"\xE8\xBD\"",
                                "\"\xF4\x90\x80\x80\"",
                                "\"\x80\"",
                                "1 2",
                                "[1] x",
                                "{}}",

                                std::string("\"a\0\"", 4),
                                "'a'",
                                "[1]//",
                                "\xEF\xBB"};

TEST(JsonReader, ReadsValidTextsAsNlohmannDoes) {
  for (const std::string& text : kValid) {
    SCOPED_TRACE(text);
    SecretJson ours;
    ASSERT_EQ(readJson(text, &ours, 64), JsonReadStatus::kOk);
    const json reference = json::parse(text);
    const json mine = asReference(ours);
    EXPECT_EQ(mine, reference);
    EXPECT_TRUE(sameTypes(mine, reference));
  }
}

TEST(JsonReader, RefusesInvalidTextsAsNlohmannDoes) {
  for (const std::string& text : kInvalid) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_FALSE(json::accept(text));
    SecretJson ours = 5;
    EXPECT_EQ(readJson(text, &ours, 64), JsonReadStatus::kSyntaxError);
    EXPECT_TRUE(ours.is_null());
  }
}

TEST(JsonReader, DepthBeyondTheLimitIsToldApartFromSyntax) {
  SecretJson v;
  EXPECT_EQ(readJson(nested(65), &v, 64), JsonReadStatus::kTooDeep);
  EXPECT_EQ(readJson(nested(3), &v, 2), JsonReadStatus::kTooDeep);
  EXPECT_EQ(readJson(R"({"a":{"b":[]}})", &v, 2), JsonReadStatus::kTooDeep);
  EXPECT_EQ(readJson(R"({"a":{"b":1}})", &v, 2), JsonReadStatus::kOk);
  // Refused at the level that is too deep, before the reader looks any further.
  EXPECT_EQ(readJson(std::string(200000, '['), &v, 64), JsonReadStatus::kTooDeep);
  EXPECT_EQ(readJson(R"({"x":[1,)" + std::string(100, '[') + "oops", &v, 64),
            JsonReadStatus::kTooDeep);
  // nlohmann's parser stops at a zero byte and so takes this; it is no JSON text.
  EXPECT_EQ(readJson(std::string("[1]\0", 4), &v, 64), JsonReadStatus::kSyntaxError);
  // Brackets inside strings are text.
  EXPECT_EQ(readJson("\"" + std::string(100, '[') + "\"", &v, 1), JsonReadStatus::kOk);
}

TEST(JsonWriter, WritesWhatNlohmannWrites) {
  for (const std::string& text : kValid) {
    SCOPED_TRACE(text);
    SecretJson ours;
    ASSERT_EQ(readJson(text, &ours, 64), JsonReadStatus::kOk);
    SecretString written;
    writeJson(ours, &written);
    EXPECT_EQ(std::string(written.view()), json::parse(text).dump());
    EXPECT_EQ(jsonTextSize(ours), written.size());
  }
  // Text that is not UTF-8 (it can only come from the control) is written with U+FFFD, as
  // nlohmann's replacing serializer does.
  const std::string bad =
      "a\xFF"
      "b\xE8\xBD";
  SecretString written;
  writeJsonString(bad, &written);
  EXPECT_EQ(std::string(written.view()),
            json(bad).dump(-1, ' ', false, json::error_handler_t::replace));
  EXPECT_EQ(jsonStringSize(bad), written.size());
}

}  // namespace
}  // namespace ruzazuv
