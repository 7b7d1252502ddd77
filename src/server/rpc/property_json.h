// Property values between JSON and the control, with the interface's type and range rules.
#pragma once

#include <nlohmann/json.hpp>

#include "control/dispatch_result.h"
#include "control/member_table.h"

namespace ruzazuv {

// A JSON value as the member's type: strings (null is absent) for string properties, integers
// in the 32-bit range (unsigned values as their two's-complement bits; -32768..65535 for 16-bit
// ones). Gives kTypeMismatch or kOverflow when the value does not fit.
HResult propertyFromJson(const Member& member, const nlohmann::json& value, PropertyValue* out);
// A property's value as JSON: its text (absent reads "") or its integer.
nlohmann::json propertyToJson(const PropertyValue& value);

}  // namespace ruzazuv
