#include "ui/dialog_host.h"

#include <cstdlib>

namespace ruzazuv {

int scaleDialogUnits(int value, int numerator, int denominator) {
  if (denominator == 0) return 0;
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = std::llabs(denominator) / 2;
  const bool negative = (product < 0) != (denominator < 0);
  const long long magnitude = (std::llabs(product) + half) / std::llabs(denominator);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

DialogRect dialogUnitsToPixels(DialogRect units, DialogBaseUnits base) {
  return {scaleDialogUnits(units.x, base.x, 4), scaleDialogUnits(units.y, base.y, 8),
          scaleDialogUnits(units.width, base.x, 4), scaleDialogUnits(units.height, base.y, 8)};
}

const ControlLayout* DialogLayout::control(int id) const {
  for (const ControlLayout& c : controls)
    if (c.id == id && id != kNoControlId) return &c;
  return nullptr;
}

}  // namespace ruzazuv
