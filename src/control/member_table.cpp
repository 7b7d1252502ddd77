#include "control/member_table.h"

#include <array>

namespace ruzazuv {
namespace {

constexpr std::array<Member, kMemberCount> kMembers = {{
#define RUZAZUV_MEMBER_ROW(id, name, kind) {id, #name, MemberKind::k##kind},
    RUZAZUV_IVORN_MEMBERS(RUZAZUV_MEMBER_ROW)
#undef RUZAZUV_MEMBER_ROW
}};

static_assert(
    [] {
      for (std::size_t i = 0; i < kMembers.size(); ++i)
        if (kMembers[i].dispid != static_cast<int>(i) + 1) return false;
      return true;
    }(),
    "members must be listed in dispatch-identifier order without gaps");

constexpr char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace

std::string Member::help() const {
  return std::string(isMethod() ? "method " : "property ") + std::string(name);
}

std::string_view Member::typeName() const {
  switch (kind) {
    case MemberKind::kString:
      return "string";
    case MemberKind::kShort:
      return "short";
    case MemberKind::kMethod:
    case MemberKind::kLong:
      break;
  }
  return "long";
}

std::span<const Member> memberTable() {
  return kMembers;
}

const Member* findMember(std::string_view name) {
  for (const Member& m : kMembers)
    if (equalsIgnoringCase(m.name, name)) return &m;
  return nullptr;
}

const Member* findMember(int dispid) {
  if (dispid < 1 || dispid > kMaxDispid) return nullptr;
  return &kMembers[static_cast<std::size_t>(dispid - 1)];
}

}  // namespace ruzazuv
