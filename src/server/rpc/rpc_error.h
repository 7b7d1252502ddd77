// JSON-RPC error codes of the rpc layer's answers.
#pragma once

namespace ruzazuv::rpc_error {

inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;
inline constexpr int kNotImplemented = -32001;

}  // namespace ruzazuv::rpc_error
