#include "rpc/json_writer.h"

#include <charconv>
#include <cstdint>
#include <string>

#include "rpc/utf8.h"

namespace ruzazuv {
namespace {

// Appends to a string, or only counts: both writers share one walk.
struct Appender {
  SecretString* out;
  void put(char c) { out->push_back(c); }
  void put(std::string_view text) { out->append(text); }
};
struct Counter {
  std::size_t size = 0;
  void put(char) { ++size; }
  void put(std::string_view text) { size += text.size(); }
};

template <typename Sink>
void string(std::string_view text, Sink& sink) {
  static constexpr char kHex[] = "0123456789abcdef";
  sink.put('"');
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    const char32_t c = utf8::decode(text, &i);
    switch (c) {
      case '"':
        sink.put("\\\"");
        break;
      case '\\':
        sink.put("\\\\");
        break;
      case '\b':
        sink.put("\\b");
        break;
      case '\f':
        sink.put("\\f");
        break;
      case '\n':
        sink.put("\\n");
        break;
      case '\r':
        sink.put("\\r");
        break;
      case '\t':
        sink.put("\\t");
        break;
      case utf8::kInvalid:
        sink.put("\xEF\xBF\xBD");
        break;
      default:
        if (c < 0x20) {
          sink.put("\\u00");
          sink.put(kHex[c >> 4]);
          sink.put(kHex[c & 0xF]);
        } else {
          sink.put(text.substr(start, i - start));
        }
    }
  }
  sink.put('"');
}

template <typename Integer, typename Sink>
void integer(Integer value, Sink& sink) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  sink.put(std::string_view(text, static_cast<std::size_t>(end - text)));
}

template <typename Sink>
void value(const SecretJson& v, Sink& sink) {
  switch (v.type()) {
    case SecretJson::value_t::null:
    case SecretJson::value_t::discarded:
      sink.put("null");
      break;
    case SecretJson::value_t::boolean:
      sink.put(v.get<bool>() ? std::string_view("true") : std::string_view("false"));
      break;
    case SecretJson::value_t::number_integer:
      integer(v.get<std::int64_t>(), sink);
      break;
    case SecretJson::value_t::number_unsigned:
      integer(v.get<std::uint64_t>(), sink);
      break;
    case SecretJson::value_t::number_float:
      // Numbers hold no secrets: nlohmann's own formatting (shortest round trip, "1.0",
      // "1e+300", null for non-finite values) keeps answers as they were.
      sink.put(std::string_view(nlohmann::json(v.get<double>()).dump()));
      break;
    case SecretJson::value_t::string:
      string(v.get_ref<const SecretString&>(), sink);
      break;
    case SecretJson::value_t::binary:
      sink.put("null");
      break;
    case SecretJson::value_t::array: {
      sink.put('[');
      bool first = true;
      for (const SecretJson& element : v) {
        if (!first) sink.put(',');
        first = false;
        value(element, sink);
      }
      sink.put(']');
      break;
    }
    case SecretJson::value_t::object: {
      sink.put('{');
      bool first = true;
      for (auto it = v.begin(); it != v.end(); ++it) {
        if (!first) sink.put(',');
        first = false;
        string(it.key(), sink);
        sink.put(':');
        value(*it, sink);
      }
      sink.put('}');
      break;
    }
  }
}

}  // namespace

void writeJson(const SecretJson& v, SecretString* out) {
  Appender sink{out};
  value(v, sink);
}

void writeJsonString(std::string_view utf8Text, SecretString* out) {
  Appender sink{out};
  string(utf8Text, sink);
}

std::size_t jsonTextSize(const SecretJson& v) {
  Counter sink;
  value(v, sink);
  return sink.size;
}

std::size_t jsonStringSize(std::string_view utf8Text) {
  Counter sink;
  string(utf8Text, sink);
  return sink.size;
}

}  // namespace ruzazuv
