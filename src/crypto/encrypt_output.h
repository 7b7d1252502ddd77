// Encryption of the authentication code and its companion data handed back to the page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "crypto/output_cipher.h"

namespace ruzazuv {

// Encrypts `tac` followed by `optionData1` with AES in ECB mode and returns the ciphertext as
// upper-case hex, two characters per byte. The plaintext is padded with the character '0' to a
// multiple of 16 bytes; a plaintext that already has such a length gets no padding. Each
// character is one byte. Inputs of any total length are encrypted completely.
// Throws CipherError ("Data not multiple of Block Size") when both inputs are empty, and
// "Object not Initialized" for a cipher that was never keyed.
std::string encryptOutputHex(OutputCipher& cipher, std::string_view tac,
                             std::string_view optionData1);

// As encryptOutputHex, but returns std::nullopt instead of throwing CipherError.
std::optional<std::string> tryEncryptOutputHex(OutputCipher& cipher, std::string_view tac,
                                               std::string_view optionData1);

}  // namespace ruzazuv
