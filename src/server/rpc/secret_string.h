// Strings and containers for text that can hold a PIN or a PIN block (request values, answers,
// lines read by the command-line tool): their memory is overwritten with zeros before it is
// released, so a freed block never keeps a secret for a later allocation or a memory dump.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace ruzazuv {

// Overwrites `size` bytes at `data` with zeros; the volatile writes cannot be dropped by the
// optimiser as dead stores before a free.
inline void secureZero(void* data, std::size_t size) noexcept {
  auto* p = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) p[i] = 0;
}

// A standard allocator that zeros every block before freeing it.
template <typename T>
struct SecretAllocator {
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using is_always_equal = std::true_type;

  SecretAllocator() noexcept = default;
  template <typename U>
  SecretAllocator(const SecretAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(::operator new (n * sizeof(T), std::align_val_t{alignof(T)}));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    secureZero(p, n * sizeof(T));
    ::operator delete (p, std::align_val_t{alignof(T)});
  }

  template <typename U>
  bool operator==(const SecretAllocator<U>&) const noexcept {
    return true;
  }
};

template <typename Char>
using SecretBasicString = std::basic_string<Char, std::char_traits<Char>, SecretAllocator<Char>>;

// A basic_string whose heap blocks are wiped by its allocator and whose own short-string buffer
// (where a short text such as a six-digit PIN lives without any heap block) is wiped when the
// string is destroyed. It converts from and to its base, so every basic_string operation
// applies; `view()` gives a string_view.
template <typename Char>
class SecretText : public SecretBasicString<Char> {
 public:
  using Base = SecretBasicString<Char>;
  using Base::Base;

  SecretText() noexcept = default;
  SecretText(const Base& other) : Base(other) {}
  SecretText(Base&& other) noexcept : Base(std::move(other)) {}
  SecretText(const SecretText& other) = default;
  SecretText(SecretText&& other) noexcept = default;
  SecretText& operator=(const SecretText& other) = default;
  SecretText& operator=(SecretText&& other) noexcept = default;
  using Base::operator=;
  ~SecretText() {
    // A text that outgrew the short-string buffer left its last bytes there: shrinking an
    // emptied string brings it back into that buffer (the heap block goes, zeroed by the
    // allocator), and wiping the buffer clears them.
    this->clear();
    this->shrink_to_fit();
    wipe();
  }

  // Zeros the whole buffer (up to the capacity, so also text a shorter value left behind).
  void wipe() noexcept { secureZero(this->data(), this->capacity() * sizeof(Char)); }

  std::basic_string_view<Char> view() const noexcept { return {this->data(), this->size()}; }
};

using SecretString = SecretText<char>;
using SecretU16String = SecretText<char16_t>;

}  // namespace ruzazuv
