// A text value of the control: absent (a null string) or present (possibly zero-length), held as
// the interface's wide text, with a narrow copy made on first use and kept until the value
// changes. Old contents are overwritten before they are released, since some values are PINs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/text_codec.h"

namespace ruzazuv {

class Text {
 public:
  Text() = default;  // absent
  explicit Text(std::u16string_view value) : wide_(std::u16string(value)) {}
  static Text empty() { return Text(std::u16string_view{}); }

  Text(const Text& other) : wide_(other.wide_) {}
  Text& operator=(const Text& other);
  Text(Text&& other) noexcept;
  Text& operator=(Text&& other) noexcept;
  ~Text() { wipe(); }

  bool absent() const { return !wide_.has_value(); }
  // Absent and zero-length values both read as empty text.
  bool isEmpty() const { return !wide_ || wide_->empty(); }
  std::size_t length() const { return wide_ ? wide_->size() : 0; }
  const std::u16string& wide() const;
  const std::optional<std::u16string>& value() const { return wide_; }
  // The narrow copy in the codec's code page (an absent value gives empty text).
  const std::string& narrow(const TextCodec& codec) const;

  void assign(std::u16string_view value);
  void assignAbsent();
  // Stores narrow text converted to wide (used where an operation writes card data).
  void assignNarrow(std::string_view value, const TextCodec& codec);
  // Stores a copy of `value` up to its first zero character; a null value stores absent.
  void put(const std::optional<std::u16string>& value);

  bool operator==(const Text& other) const { return wide() == other.wide(); }

 private:
  void wipe();

  std::optional<std::u16string> wide_;
  mutable std::optional<std::string> narrow_;
  mutable std::string narrowCodePage_;
};

// Overwrites a string's characters with zeros before it is replaced or released.
template <typename String>
void wipeString(String& s) {
  for (auto& c : s) c = 0;
}

}  // namespace ruzazuv
