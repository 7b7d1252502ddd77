// DISPID -> the CardControl member function that implements the method.
#pragma once

#include <array>
#include <cstdint>

#include "control/member_table.h"

namespace ruzazuv {

class CardControl;
using MethodFn = std::int32_t (CardControl::*)();

// Indexed by DISPID; null for properties.
const std::array<MethodFn, kMaxDispid + 1>& methodTable();

}  // namespace ruzazuv
