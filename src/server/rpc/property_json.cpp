#include "rpc/property_json.h"

#include <cmath>

#include "platform/text_codec.h"

namespace ruzazuv {
namespace {

// The value as a whole number, if it is one (JSON does not tell 3 from 3.0).
bool wholeNumber(const nlohmann::json& value, long double* out) {
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

}  // namespace

HResult propertyFromJson(const Member& member, const nlohmann::json& value, PropertyValue* out) {
  if (member.kind == MemberKind::kString) {
    if (value.is_null()) {
      *out = std::optional<std::u16string>();
      return hresult::kOk;
    }
    if (!value.is_string()) return hresult::kTypeMismatch;
    *out = std::optional<std::u16string>(utf8ToUtf16(value.get_ref<const std::string&>()));
    return hresult::kOk;
  }
  long double number = 0;
  if (!wholeNumber(value, &number)) return hresult::kTypeMismatch;
  const bool isShort = member.kind == MemberKind::kShort;
  const long double low = isShort ? -32768.0L : -2147483648.0L;
  const long double high = isShort ? 65535.0L : 4294967295.0L;
  if (number < low || number > high) return hresult::kOverflow;
  const auto whole = static_cast<std::int64_t>(number);
  *out = isShort ? static_cast<std::int32_t>(static_cast<std::int16_t>(whole & 0xFFFF))
                 : static_cast<std::int32_t>(static_cast<std::uint32_t>(whole & 0xFFFFFFFF));
  return hresult::kOk;
}

nlohmann::json propertyToJson(const PropertyValue& value) {
  if (const auto* i = std::get_if<std::int32_t>(&value)) return *i;
  const auto& s = std::get<std::optional<std::u16string>>(value);
  return s ? utf16ToUtf8(*s) : std::string();
}

}  // namespace ruzazuv
