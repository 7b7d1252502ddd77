#include "rpc/json_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

#include "rpc/utf8.h"

namespace ruzazuv {
namespace {

class Reader {
 public:
  Reader(std::string_view text, std::size_t maxDepth) : text_(text), maxDepth_(maxDepth) {}

  JsonReadStatus read(SecretJson* out) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    skipSpace();
    if (!value(out, 0)) return status_;
    skipSpace();
    if (pos_ != text_.size()) return JsonReadStatus::kSyntaxError;
    return JsonReadStatus::kOk;
  }

 private:
  bool fail(JsonReadStatus status = JsonReadStatus::kSyntaxError) {
    status_ = status;
    return false;
  }
  bool atEnd() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }
  void skipSpace() {
    while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
      ++pos_;
  }
  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool value(SecretJson* out, std::size_t depth) {
    if (atEnd()) return fail();
    switch (peek()) {
      case '{':
        return object(out, depth + 1);
      case '[':
        return array(out, depth + 1);
      case '"': {
        *out = SecretJson(SecretJson::value_t::string);
        return string(&out->get_ref<SecretString&>());
      }
      case 't':
        if (!literal("true")) return fail();
        *out = true;
        return true;
      case 'f':
        if (!literal("false")) return fail();
        *out = false;
        return true;
      case 'n':
        if (!literal("null")) return fail();
        *out = nullptr;
        return true;
      default:
        return number(out);
    }
  }

  bool array(SecretJson* out, std::size_t depth) {
    if (depth > maxDepth_) return fail(JsonReadStatus::kTooDeep);
    ++pos_;  // [
    *out = SecretJson::array();
    auto& elements = out->get_ref<SecretJson::array_t&>();
    skipSpace();
    if (!atEnd() && peek() == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      skipSpace();
      elements.emplace_back();
      if (!value(&elements.back(), depth)) return false;
      skipSpace();
      if (atEnd()) return fail();
      if (peek() == ']') {
        ++pos_;
        return true;
      }
      if (peek() != ',') return fail();
      ++pos_;
    }
  }

  bool object(SecretJson* out, std::size_t depth) {
    if (depth > maxDepth_) return fail(JsonReadStatus::kTooDeep);
    ++pos_;  // {
    *out = SecretJson::object();
    auto& members = out->get_ref<SecretJson::object_t&>();
    skipSpace();
    if (!atEnd() && peek() == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      skipSpace();
      if (atEnd() || peek() != '"') return fail();
      SecretString key;
      if (!string(&key)) return false;
      skipSpace();
      if (atEnd() || peek() != ':') return fail();
      ++pos_;
      skipSpace();
      // A repeated name keeps its last value, as nlohmann's parser does.
      SecretJson& slot = members[std::move(key)];
      slot = nullptr;
      if (!value(&slot, depth)) return false;
      skipSpace();
      if (atEnd()) return fail();
      if (peek() == '}') {
        ++pos_;
        return true;
      }
      if (peek() != ',') return fail();
      ++pos_;
    }
  }

  // Four hex digits after "\u".
  bool hex4(char32_t* out) {
    if (text_.size() - pos_ < 4) return false;
    char32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text_[pos_++];
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= static_cast<char32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        v |= static_cast<char32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        v |= static_cast<char32_t>(c - 'A' + 10);
      else
        return false;
    }
    *out = v;
    return true;
  }

  bool string(SecretString* out) {
    ++pos_;  // "
    const auto put = [out](char c) { out->push_back(c); };
    for (;;) {
      if (atEnd()) return fail();
      const char c = peek();
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return fail();
      if (c != '\\') {
        const std::size_t start = pos_;
        if (utf8::decode(text_, &pos_) == utf8::kInvalid) return fail();
        out->append(text_.substr(start, pos_ - start));
        continue;
      }
      ++pos_;
      if (atEnd()) return fail();
      const char e = text_[pos_++];
      switch (e) {
        case '"':
          put('"');
          break;
        case '\\':
          put('\\');
          break;
        case '/':
          put('/');
          break;
        case 'b':
          put('\b');
          break;
        case 'f':
          put('\f');
          break;
        case 'n':
          put('\n');
          break;
        case 'r':
          put('\r');
          break;
        case 't':
          put('\t');
          break;
        case 'u': {
          char32_t unit = 0;
          if (!hex4(&unit)) return fail();
          if (unit >= 0xDC00 && unit <= 0xDFFF) return fail();
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            char32_t low = 0;
            if (!literal("\\u") || !hex4(&low) || low < 0xDC00 || low > 0xDFFF) return fail();
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          }
          utf8::encode(unit, put);
          break;
        }
        default:
          return fail();
      }
    }
  }

  static bool digit(char c) { return c >= '0' && c <= '9'; }

  bool number(SecretJson* out) {
    const std::size_t start = pos_;
    const bool negative = !atEnd() && peek() == '-';
    if (negative) ++pos_;
    if (atEnd() || !digit(peek())) return fail();
    if (peek() == '0') {
      ++pos_;
    } else {
      while (!atEnd() && digit(peek())) ++pos_;
    }
    bool integral = true;
    if (!atEnd() && peek() == '.') {
      integral = false;
      ++pos_;
      if (atEnd() || !digit(peek())) return fail();
      while (!atEnd() && digit(peek())) ++pos_;
    }
    if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
      integral = false;
      ++pos_;
      if (!atEnd() && (peek() == '+' || peek() == '-')) ++pos_;
      if (atEnd() || !digit(peek())) return fail();
      while (!atEnd() && digit(peek())) ++pos_;
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + pos_;
    if (integral) {
      if (negative) {
        std::int64_t v = 0;
        if (std::from_chars(first, last, v).ec == std::errc()) {
          *out = v;
          return true;
        }
      } else {
        std::uint64_t v = 0;
        if (std::from_chars(first, last, v).ec == std::errc()) {
          *out = v;
          return true;
        }
      }
      // Integers beyond 64 bits become doubles, as nlohmann makes them.
    }
    double d = 0;
    const auto result = std::from_chars(first, last, d);
    if (result.ec == std::errc::result_out_of_range) {
      // Too small to represent reads as zero (as strtod gives it); too large is refused.
      if (!tiny(std::string_view(first, static_cast<std::size_t>(last - first)))) return fail();
      d = negative ? -0.0 : 0.0;
    } else if (result.ec != std::errc() || result.ptr != last || !std::isfinite(d)) {
      return fail();
    }
    *out = d;
    return true;
  }

  // Whether a well-formed number lies below 1 in magnitude: the decimal exponent of its first
  // significant digit, plus its exponent part, is negative.
  static bool tiny(std::string_view number) {
    const std::size_t mantissaEnd = std::min(number.find_first_of("eE"), number.size());
    const std::size_t point = std::min(number.find('.'), mantissaEnd);
    const std::size_t first = number.find_first_of("123456789");
    if (first >= mantissaEnd) return true;  // all zeros
    // One more than the power of ten of the first significant digit.
    long long magnitude = first < point ? static_cast<long long>(point - first)
                                        : -static_cast<long long>(first - point - 1);
    long long exponent = 0;
    std::size_t i = mantissaEnd + 1;
    if (i < number.size()) {
      const bool minus = number[i] == '-';
      if (number[i] == '+' || number[i] == '-') ++i;
      for (; i < number.size() && exponent < 100000000; ++i)
        exponent = exponent * 10 + (number[i] - '0');
      if (minus) exponent = -exponent;
    }
    return magnitude + exponent <= 0;
  }

  std::string_view text_;
  std::size_t maxDepth_;
  std::size_t pos_ = 0;
  JsonReadStatus status_ = JsonReadStatus::kSyntaxError;
};

}  // namespace

JsonReadStatus readJson(std::string_view text, SecretJson* out, std::size_t maxDepth) {
  SecretJson value;
  const JsonReadStatus status = Reader(text, maxDepth).read(&value);
  *out = status == JsonReadStatus::kOk ? std::move(value) : SecretJson();
  return status;
}

}  // namespace ruzazuv
