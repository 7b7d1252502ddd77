// JSON text of the rpc layer's values, written straight into wiped strings: no whitespace,
// object members in key order, strings in UTF-8 with \" \\ \b \f \n \r \t and \u00XX for the
// other control characters (malformed UTF-8 becomes U+FFFD), numbers as nlohmann writes them.
#pragma once

#include <cstddef>
#include <string_view>

#include "rpc/json_value.h"
#include "rpc/secret_string.h"

namespace ruzazuv {

// Append the text to `out`.
void writeJson(const SecretJson& value, SecretString* out);
void writeJsonString(std::string_view utf8, SecretString* out);

// The number of bytes the writers above would append.
std::size_t jsonTextSize(const SecretJson& value);
std::size_t jsonStringSize(std::string_view utf8);

}  // namespace ruzazuv
