// The controls one client (a page's connection, or the command-line tool) addresses as
// "control": K, each created on first use.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "control/card_control.h"

namespace ruzazuv {

class ControlRegistry {
 public:
  // Makes a control and gives it its client site.
  using Factory = std::function<std::unique_ptr<CardControl>()>;

  static constexpr std::size_t kMaxControls = 64;

  explicit ControlRegistry(Factory factory) : factory_(std::move(factory)) {}

  // The index-th control, created on first use; null when index is beyond kMaxControls.
  CardControl* control(std::size_t index);
  std::size_t size() const { return controls_.size(); }

 private:
  Factory factory_;
  std::vector<std::unique_ptr<CardControl>> controls_;
};

}  // namespace ruzazuv
