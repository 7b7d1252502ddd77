// A strict JSON reader (RFC 8259) for the rpc layer. Strings go straight into the wiped value
// model and no copy of the text is kept on the way, so a PIN in a request leaves nothing behind
// once its value is destroyed. Numbers become integers (int64 when negative, uint64 otherwise)
// or doubles as nlohmann's parser makes them; a leading byte-order mark is skipped as it does.
#pragma once

#include <cstddef>
#include <string_view>

#include "rpc/json_value.h"

namespace ruzazuv {

enum class JsonReadStatus {
  kOk,
  kSyntaxError,  // not JSON, malformed UTF-8, a lone surrogate escape, a number out of range
  kTooDeep,      // arrays and objects nested deeper than the limit (reported where it is reached)
};

// Reads one JSON text (surrounding whitespace allowed) into *out, with arrays and objects
// nested at most maxDepth deep. *out is left null on failure.
JsonReadStatus readJson(std::string_view text, SecretJson* out, std::size_t maxDepth);

}  // namespace ruzazuv
