// Dispatch-level results of get, put and call, as IDispatch::Invoke reports them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace ruzazuv {

using HResult = std::uint32_t;

namespace hresult {
inline constexpr HResult kOk = 0;
inline constexpr HResult kNotImplemented = 0x80004001;  // E_NOTIMPL
inline constexpr HResult kOutOfMemory = 0x8007000E;     // E_OUTOFMEMORY
inline constexpr HResult kMemberNotFound = 0x80020003;  // DISP_E_MEMBERNOTFOUND
inline constexpr HResult kParamNotFound = 0x80020004;   // DISP_E_PARAMNOTFOUND
inline constexpr HResult kTypeMismatch = 0x80020005;    // DISP_E_TYPEMISMATCH
inline constexpr HResult kUnknownName = 0x80020006;     // DISP_E_UNKNOWNNAME
inline constexpr HResult kOverflow = 0x8002000A;        // DISP_E_OVERFLOW
}  // namespace hresult

// A property value as the interface passes it: an integer (16-bit values sign-extended) or a
// wide string, where std::nullopt is a null (absent) string.
using PropertyValue = std::variant<std::int32_t, std::optional<std::u16string>>;

}  // namespace ruzazuv
