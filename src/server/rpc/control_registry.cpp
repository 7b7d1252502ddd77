#include "rpc/control_registry.h"

namespace ruzazuv {

CardControl* ControlRegistry::control(std::size_t index) {
  if (index >= kMaxControls) return nullptr;
  if (index >= controls_.size()) controls_.resize(index + 1);
  if (!controls_[index]) controls_[index] = factory_();
  return controls_[index].get();
}

}  // namespace ruzazuv
