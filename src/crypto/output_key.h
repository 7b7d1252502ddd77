// The fixed key and chaining texts of the cipher that protects values handed back to the page.
//
// Each character's code is one byte of the key or chaining block; the texts are not hex-decoded.
#pragma once

namespace ruzazuv {

inline constexpr char kOutputKeyText[] = "5e0b7c19d2a4f836";
inline constexpr char kOutputChainText[] = "3141592653589793";

static_assert(sizeof(kOutputKeyText) - 1 == 16, "the output key is 16 bytes (AES-128)");
static_assert(sizeof(kOutputChainText) - 1 == 16, "the chaining block is one 16-byte block");

}  // namespace ruzazuv
