// SecretString leaves no text in its own storage once destroyed: neither in the short-string
// buffer (a six-digit PIN lives there without any heap block) nor in what a text that outgrew
// it, or was moved away, left behind.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string_view>

#include "rpc/secret_string.h"

namespace ruzazuv {
namespace {

constexpr std::string_view kSecret = "ABCDEFGHIJKLMNO";  // fills the short-string buffer

// Runs `use` on a SecretString built in storage the test owns, destroys it, and tells whether
// any 4-byte piece of the secret is still in that storage.
bool leftInStorage(const std::function<void(SecretString&, SecretString&)>& use) {
  alignas(SecretString) unsigned char storage[sizeof(SecretString)];
  alignas(SecretString) unsigned char other[sizeof(SecretString)];
  auto* s = new (storage) SecretString(kSecret);
  auto* o = new (other) SecretString();
  use(*s, *o);
  s->~SecretString();
  o->~SecretString();
  const std::string_view bytes(reinterpret_cast<const char*>(storage), sizeof storage);
  for (std::size_t i = 0; i + 4 <= kSecret.size(); ++i)
    if (bytes.find(kSecret.substr(i, 4)) != std::string_view::npos) return true;
  return false;
}

TEST(SecretString, ItsOwnStorageIsWipedWhateverHappenedToIt) {
  const struct {
    const char* what;
    std::function<void(SecretString&, SecretString&)> use;
  } cases[] = {
      {"kept short", [](SecretString&, SecretString&) {}},
      {"grown onto the heap", [](SecretString& s, SecretString&) { s.append(40, 'x'); }},
      {"moved away", [](SecretString& s, SecretString& o) { o = std::move(s); }},
      {"moved into a new string",
       [](SecretString& s, SecretString&) { SecretString t(std::move(s)); }},
      {"shortened", [](SecretString& s, SecretString&) { s.resize(2); }},
  };
  for (const auto& c : cases) EXPECT_FALSE(leftInStorage(c.use)) << c.what;
}

}  // namespace
}  // namespace ruzazuv
