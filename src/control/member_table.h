// The IVorn member table: one entry per dispatch identifier, shared by every host.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/member_list.h"

namespace ruzazuv {

enum class MemberKind : std::uint8_t { kMethod, kString, kLong, kShort };

// The dispatch identifiers by name: Dispid::FiscCardTransfer == 56.
enum class Dispid : int {
#define RUZAZUV_DISPID_ENUM(id, name, kind) name = id,
  RUZAZUV_IVORN_MEMBERS(RUZAZUV_DISPID_ENUM)
#undef RUZAZUV_DISPID_ENUM
};

inline constexpr int kMemberCount = 96;
inline constexpr int kMaxDispid = 96;

struct Member {
  int dispid;
  std::string_view name;
  MemberKind kind;

  bool isMethod() const { return kind == MemberKind::kMethod; }
  // "method ConnectReader", "property iNoR".
  std::string help() const;
  // "long" for methods (their ret), and "string", "long" or "short" for properties.
  std::string_view typeName() const;
};

std::span<const Member> memberTable();
// Case-insensitive lookup, as IDispatch::GetIDsOfNames matches names.
const Member* findMember(std::string_view name);
const Member* findMember(int dispid);
inline const Member& member(Dispid id) {
  return *findMember(static_cast<int>(id));
}

inline constexpr std::string_view kProgId = "RuzaZUV.Vorn.1";
inline constexpr std::string_view kVersionIndependentProgId = "RuzaZUV.Vorn";
inline constexpr std::string_view kControlVersion = "1.0";

}  // namespace ruzazuv
