#include "rpc/property_json.h"

#include <cmath>
#include <string>

#include "rpc/json_writer.h"
#include "rpc/utf8.h"

namespace ruzazuv {
namespace {

// The value as a whole number, if it is one (JSON does not tell 3 from 3.0).
bool wholeNumber(const SecretJson& value, long double* out) {
  if (value.is_number_integer() && !value.is_number_unsigned()) {
    *out = static_cast<long double>(value.get<std::int64_t>());
    return true;
  }
  if (value.is_number_unsigned()) {
    *out = static_cast<long double>(value.get<std::uint64_t>());
    return true;
  }
  if (value.is_number_float()) {
    double d = value.get<double>();
    if (!std::isfinite(d) || std::trunc(d) != d) return false;
    *out = d;
    return true;
  }
  return false;
}

// Stores UTF-8 text as a wide text value, built in place in a string sized once so that no
// partly filled or moved-from buffer is left behind; malformed sequences become U+FFFD.
void assignWide(std::string_view text, PropertyValue* out) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = utf8::decode(text, &i);
    units += c != utf8::kInvalid && c >= 0x10000 ? 2 : 1;
  }
  std::u16string& wide = out->emplace<std::optional<std::u16string>>().emplace(units, u'\0');
  std::size_t k = 0;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = utf8::decode(text, &i);
    if (c == utf8::kInvalid) c = utf8::kReplacement;
    if (c >= 0x10000) {
      wide[k++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      wide[k++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide[k++] = static_cast<char16_t>(c);
    }
  }
}

// UTF-16 to UTF-8; lone surrogates become U+FFFD.
SecretString narrowOf(std::u16string_view wide) {
  SecretString out;
  out.reserve(wide.size() * 3);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = utf8::kReplacement;
    }
    utf8::encode(c, [&out](char b) { out.push_back(b); });
  }
  return out;
}

}  // namespace

HResult propertyFromJson(const Member& member, const SecretJson& value, PropertyValue* out) {
  if (member.kind == MemberKind::kString) {
    if (value.is_null()) {
      wipePropertyValue(out);
      *out = std::optional<std::u16string>();
      return hresult::kOk;
    }
    if (!value.is_string()) return hresult::kTypeMismatch;
    wipePropertyValue(out);
    assignWide(value.get_ref<const SecretString&>(), out);
    return hresult::kOk;
  }
  long double number = 0;
  if (!wholeNumber(value, &number)) return hresult::kTypeMismatch;
  const bool isShort = member.kind == MemberKind::kShort;
  const long double low = isShort ? -32768.0L : -2147483648.0L;
  const long double high = isShort ? 65535.0L : 4294967295.0L;
  if (number < low || number > high) return hresult::kOverflow;
  const auto whole = static_cast<std::int64_t>(number);
  wipePropertyValue(out);
  *out = isShort ? static_cast<std::int32_t>(static_cast<std::int16_t>(whole & 0xFFFF))
                 : static_cast<std::int32_t>(static_cast<std::uint32_t>(whole & 0xFFFFFFFF));
  return hresult::kOk;
}

void writePropertyJson(const PropertyValue& value, SecretString* out) {
  if (const auto* i = std::get_if<std::int32_t>(&value)) {
    out->append(std::to_string(*i));
    return;
  }
  const auto& s = std::get<std::optional<std::u16string>>(value);
  writeJsonString(s ? narrowOf(*s).view() : std::string_view(), out);
}

std::size_t propertyJsonSize(const PropertyValue& value) {
  if (const auto* i = std::get_if<std::int32_t>(&value)) return std::to_string(*i).size();
  const auto& s = std::get<std::optional<std::u16string>>(value);
  return jsonStringSize(s ? narrowOf(*s).view() : std::string_view());
}

void wipePropertyValue(PropertyValue* value) {
  auto* text = std::get_if<std::optional<std::u16string>>(value);
  if (text != nullptr && text->has_value())
    secureZero((*text)->data(), (*text)->capacity() * sizeof(char16_t));
}

}  // namespace ruzazuv
