// Property values between JSON and the control, with the interface's type and range rules.
// Text values can be PINs: every conversion writes into wiped storage, and callers wipe the
// PropertyValue copies they hold with wipePropertyValue.
#pragma once

#include <cstddef>

#include "control/dispatch_result.h"
#include "control/member_table.h"
#include "rpc/json_value.h"
#include "rpc/secret_string.h"

namespace ruzazuv {

// A JSON value as the member's type: strings (null is absent) for string properties, integers
// in the 32-bit range (unsigned values as their two's-complement bits; -32768..65535 for 16-bit
// ones). Gives kTypeMismatch or kOverflow when the value does not fit.
HResult propertyFromJson(const Member& member, const SecretJson& value, PropertyValue* out);

// A property's value as JSON text (its text, absent reads "", or its integer), appended to
// `out`; and the number of bytes that text takes.
void writePropertyJson(const PropertyValue& value, SecretString* out);
std::size_t propertyJsonSize(const PropertyValue& value);

// The longest JSON text of an integer property ("-2147483648").
inline constexpr std::size_t kMaxIntegerJsonSize = 11;

// Overwrites a text value's characters (its whole buffer) with zeros.
void wipePropertyValue(PropertyValue* value);

}  // namespace ruzazuv
