// The JSON value model of the rpc layer: nlohmann's basic_json over SecretString and the wiping
// allocator, so every string, array and object node of a parsed request is zeroed when freed.
// Texts are read by readJson (json_reader.h) and written by writeJson (json_writer.h), never by
// nlohmann's own parser or serializer, whose token and format buffers are not wiped.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include <nlohmann/json.hpp>

#include "rpc/secret_string.h"

namespace ruzazuv {

using SecretJson = nlohmann::basic_json<std::map, std::vector, SecretString, bool, std::int64_t,
                                        std::uint64_t, double, SecretAllocator>;

}  // namespace ruzazuv
