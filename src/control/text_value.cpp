#include "control/text_value.h"

namespace ruzazuv {

Text& Text::operator=(const Text& other) {
  if (this != &other) {
    wipe();
    wide_ = other.wide_;
  }
  return *this;
}

Text::Text(Text&& other) noexcept : wide_(std::move(other.wide_)) {
  other.wipe();
}

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    wipe();
    wide_ = std::move(other.wide_);
    other.wipe();
  }
  return *this;
}

const std::u16string& Text::wide() const {
  static const std::u16string kEmpty;
  return wide_ ? *wide_ : kEmpty;
}

const std::string& Text::narrow(const TextCodec& codec) const {
  if (!narrow_ || narrowCodePage_ != codec.codePage()) {
    if (narrow_) wipeString(*narrow_);
    narrow_ = wide_ ? codec.toNarrow(*wide_) : std::string();
    narrowCodePage_ = codec.codePage();
  }
  return *narrow_;
}

void Text::assign(std::u16string_view value) {
  wipe();
  wide_ = std::u16string(value);
}

void Text::assignAbsent() {
  wipe();
}

void Text::assignNarrow(std::string_view value, const TextCodec& codec) {
  wipe();
  wide_ = codec.toWide(value);
}

void Text::put(const std::optional<std::u16string>& value) {
  if (!value) {
    assignAbsent();
    return;
  }
  std::u16string_view v(*value);
  assign(v.substr(0, v.find(u'\0')));
}

void Text::wipe() {
  if (wide_) wipeString(*wide_);
  if (narrow_) wipeString(*narrow_);
  wide_.reset();
  narrow_.reset();
}

}  // namespace ruzazuv
