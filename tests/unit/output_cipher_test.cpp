#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/encrypt_output.h"
#include "crypto/output_cipher.h"
#include "crypto/output_key.h"

namespace ruzazuv {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string toHex(const Bytes& bytes, bool upper = false) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0x0F];
  }
  return out;
}

Bytes encryptBytes(OutputCipher& cipher, const Bytes& in, int mode) {
  Bytes out(in.size());
  cipher.encrypt(in.data(), out.data(), in.size(), mode);
  return out;
}

const char* asText(const Bytes& b) {
  return reinterpret_cast<const char*>(b.data());
}

std::string cipherMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const CipherError& e) {
    return e.what();
  }
  return "(no CipherError)";
}

// ---- AES block function against FIPS-197 appendix C ----

struct KnownAnswer {
  const char* key;
  const char* ciphertext;
};

class FipsVectorTest : public ::testing::TestWithParam<KnownAnswer> {};

TEST_P(FipsVectorTest, EcbMatchesAppendixC) {
  const Bytes key = fromHex(GetParam().key);
  const Bytes plain = fromHex("00112233445566778899aabbccddeeff");
  OutputCipher cipher;
  cipher.makeKey(asText(key), nullptr, static_cast<int>(key.size()));
  EXPECT_EQ(cipher.keyLength(), static_cast<int>(key.size()));
  EXPECT_EQ(toHex(encryptBytes(cipher, plain, OutputCipher::kEcb)), GetParam().ciphertext);

  // In place gives the same result.
  Bytes buf = plain;
  cipher.encrypt(buf.data(), buf.data(), buf.size());
  EXPECT_EQ(toHex(buf), GetParam().ciphertext);
}

INSTANTIATE_TEST_SUITE_P(
    Aes, FipsVectorTest,
    ::testing::Values(
        KnownAnswer{"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        KnownAnswer{"000102030405060708090a0b0c0d0e0f1011121314151617",
                    "dda97ca4864cdfe06eaf70a0ec0d7191"},
        KnownAnswer{"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
                    "8ea2b7ca516745bfeafc49904b496089"}));

// ---- Modes against NIST SP 800-38A (AES-128, F.1.1, F.2.1, F.3.13) ----

class ModeTest : public ::testing::Test {
 protected:
  void SetUp() override { cipher.makeKey(asText(key), asText(iv)); }

  const Bytes key = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv = fromHex("000102030405060708090a0b0c0d0e0f");
  const Bytes plain = fromHex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const std::string ecb =
      "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
      "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4";
  const std::string cbc =
      "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
      "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";
  const std::string cfb =
      "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
      "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6";
  OutputCipher cipher;

  // Encrypts the plaintext as two calls of two blocks each.
  std::string inTwoCalls(int mode) {
    const Bytes first(plain.begin(), plain.begin() + 32);
    const Bytes second(plain.begin() + 32, plain.end());
    std::string hex = toHex(encryptBytes(cipher, first, mode));
    return hex + toHex(encryptBytes(cipher, second, mode));
  }
};

TEST_F(ModeTest, ChainingModesMatchReferenceInOneCallAndCarryOverBetweenCalls) {
  for (const auto& [mode, expected] : {std::pair{1, cbc}, std::pair{2, cfb}}) {
    SCOPED_TRACE(mode);
    cipher.resetChain();
    EXPECT_EQ(toHex(encryptBytes(cipher, plain, mode)), expected);
    // The chaining block left behind is the last ciphertext block.
    EXPECT_EQ(toHex(Bytes(cipher.currentChain().begin(), cipher.currentChain().end())),
              expected.substr(96));

    cipher.resetChain();
    EXPECT_EQ(inTwoCalls(mode), expected);

    // Without a reset the next call continues from the last block, not from the IV.
    EXPECT_NE(toHex(encryptBytes(cipher, Bytes(plain.begin(), plain.begin() + 16), mode)),
              expected.substr(0, 32));
  }
}

TEST_F(ModeTest, ResetChainRestoresInitialBlock) {
  encryptBytes(cipher, plain, OutputCipher::kCbc);
  EXPECT_NE(cipher.currentChain(), cipher.initialChain());
  cipher.resetChain();
  EXPECT_EQ(toHex(Bytes(cipher.initialChain().begin(), cipher.initialChain().end())), toHex(iv));
  EXPECT_EQ(cipher.currentChain(), cipher.initialChain());
  EXPECT_EQ(toHex(encryptBytes(cipher, plain, OutputCipher::kCbc)), cbc);
}

TEST_F(ModeTest, UnknownModeNumbersBehaveAsEcbAndLeaveChainAlone) {
  for (int mode : {0, 7, -1, 3}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(toHex(encryptBytes(cipher, plain, mode)), ecb);
    EXPECT_EQ(cipher.currentChain(), cipher.initialChain());
  }
}

// ---- Key setup, state and errors ----

TEST(OutputCipherErrors, KeySetupRefusesBadArgumentsWithExactMessages) {
  OutputCipher cipher;
  const char* key = "0123456789abcdef0123456789abcdef";
  EXPECT_EQ(cipherMessage([&] { cipher.makeKey(nullptr, "x"); }), "Empty key");
  // The key is checked before its length and block size.
  EXPECT_EQ(cipherMessage([&] { cipher.makeKey(nullptr, nullptr, 5, 5); }), "Empty key");
  for (int length : {0, 8, 15, 17, 20, 64, -16}) {
    SCOPED_TRACE(length);
    EXPECT_EQ(cipherMessage([&] { cipher.makeKey(key, nullptr, length); }), "Incorrect key length");
  }
  for (int block : {0, 8, 15, 24, 32, 64}) {
    SCOPED_TRACE(block);
    EXPECT_EQ(cipherMessage([&] { cipher.makeKey(key, nullptr, 16, block); }),
              "Incorrect block length");
  }
  EXPECT_FALSE(cipher.initialized());
}

TEST(OutputCipherErrors, EncryptRefusesUnkeyedObjectAndPartialBlocks) {
  OutputCipher cipher;
  std::array<std::uint8_t, 48> buf{};
  EXPECT_EQ(cipherMessage([&] { cipher.encrypt(buf.data(), buf.data(), 16); }),
            "Object not Initialized");
  // Not initialised is reported before the length.
  EXPECT_EQ(cipherMessage([&] { cipher.encrypt(buf.data(), buf.data(), 0); }),
            "Object not Initialized");

  cipher.makeKey(kOutputKeyText, kOutputChainText);
  for (std::size_t n : {0, 1, 15, 17, 47}) {
    for (int mode : {0, 1, 2}) {
      SCOPED_TRACE(testing::Message() << "n=" << n << " mode=" << mode);
      EXPECT_EQ(cipherMessage([&] { cipher.encrypt(buf.data(), buf.data(), n, mode); }),
                "Data not multiple of Block Size");
    }
  }
  // A refused call leaves the chaining block untouched.
  EXPECT_EQ(cipher.currentChain(), cipher.initialChain());
}

TEST(OutputCipherState, FailedKeySetupKeepsThePreviousKey) {
  OutputCipher cipher;
  const Bytes key = fromHex("000102030405060708090a0b0c0d0e0f");
  const Bytes plain = fromHex("00112233445566778899aabbccddeeff");
  cipher.makeKey(asText(key), "ABCDEFGHIJKLMNOP");
  EXPECT_THROW(cipher.makeKey("fedcba9876543210", "ponmlkjihgfedcba", 16, 32), CipherError);
  EXPECT_THROW(cipher.makeKey("fedcba9876543210", "ponmlkjihgfedcba", 12), CipherError);
  EXPECT_TRUE(cipher.initialized());
  EXPECT_EQ(cipher.initialChain()[0], 'A');
  EXPECT_EQ(toHex(encryptBytes(cipher, plain, 0)), "69c4e0d86a7b0430d8cdb78070b4c55a");
}

TEST(OutputCipherState, KeySetupRecordsLengthsAndChainTextAsCharacterCodes) {
  OutputCipher cipher;
  EXPECT_FALSE(cipher.initialized());
  cipher.makeKey(kOutputKeyText, kOutputChainText);
  EXPECT_TRUE(cipher.initialized());
  EXPECT_EQ(cipher.keyLength(), 16);
  EXPECT_EQ(cipher.blockSize(), 16);
  EXPECT_EQ(std::string(cipher.initialChain().begin(), cipher.initialChain().end()),
            "3141592653589793");
  EXPECT_EQ(cipher.currentChain(), cipher.initialChain());

  // Re-keying with a null chain text gives an all-zero chaining block.
  cipher.makeKey("0123456789abcdef01234567", nullptr, 24);
  EXPECT_EQ(cipher.keyLength(), 24);
  EXPECT_EQ(cipher.initialChain(), (std::array<std::uint8_t, 16>{}));
}

TEST(OutputCipherState, MoveTransfersTheKeyAndEmptiesTheSource) {
  const Bytes key = fromHex("000102030405060708090a0b0c0d0e0f");
  const Bytes plain = fromHex("00112233445566778899aabbccddeeff");
  OutputCipher source;
  source.makeKey(asText(key), nullptr);
  OutputCipher moved(std::move(source));
  EXPECT_EQ(toHex(encryptBytes(moved, plain, 0)), "69c4e0d86a7b0430d8cdb78070b4c55a");
  EXPECT_FALSE(source.initialized());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(cipherMessage([&] { encryptBytes(source, plain, 0); }), "Object not Initialized");

  OutputCipher assigned;
  assigned.makeKey("fedcba9876543210", nullptr);
  assigned = std::move(moved);
  EXPECT_EQ(toHex(encryptBytes(assigned, plain, 0)), "69c4e0d86a7b0430d8cdb78070b4c55a");
}

// ---- EncryptOutput ----

class EncryptOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cipher.makeKey(kOutputKeyText, kOutputChainText);
    reference.makeKey(kOutputKeyText, kOutputChainText);
  }

  // Upper-case hex of the ECB encryption of one 16-character block, by a separate object.
  std::string block(const std::string& sixteen) {
    EXPECT_EQ(sixteen.size(), 16u);
    return toHex(encryptBytes(reference, Bytes(sixteen.begin(), sixteen.end()), 0), true);
  }

  OutputCipher cipher;
  OutputCipher reference;
};

TEST_F(EncryptOutputTest, OneBlockTextWithoutPadding) {
  const std::string tac = "0123456789ABCDEF";
  const std::string hex = encryptOutputHex(cipher, tac, "");
  ASSERT_EQ(hex.size(), 32u);
  EXPECT_EQ(hex, block(tac));
  EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);

  const std::string both = encryptOutputHex(cipher, tac, "fedcba9876543210");
  ASSERT_EQ(both.size(), 64u);
  EXPECT_EQ(both.substr(0, 32), hex);
  EXPECT_EQ(both.substr(32), block("fedcba9876543210"));
}

TEST_F(EncryptOutputTest, PartialLastBlockIsPaddedWithCharacterZero) {
  const std::string tac = "0123456789ABCDEFX";
  const std::string hex = encryptOutputHex(cipher, tac, "");
  ASSERT_EQ(hex.size(), 64u);
  EXPECT_EQ(hex.substr(0, 32), block("0123456789ABCDEF"));
  EXPECT_EQ(hex.substr(32), block("X000000000000000"));

  // Twenty characters split over both inputs: two blocks, twelve characters of padding.
  EXPECT_EQ(encryptOutputHex(cipher, "ABCDEFGHIJ", "KLMNOPQRST"),
            block("ABCDEFGHIJKLMNOP") + block("QRST000000000000"));
  EXPECT_EQ(encryptOutputHex(cipher, "", "abc"), block("abc0000000000000"));
}

TEST_F(EncryptOutputTest, SameInputsGiveSameOutputAfterChainingUse) {
  const std::string first = encryptOutputHex(cipher, "1122334455667788", "extra data");
  // Chaining in another mode must not affect the ECB result.
  std::array<std::uint8_t, 16> buf{};
  cipher.encrypt(buf.data(), buf.data(), buf.size(), OutputCipher::kCbc);
  EXPECT_EQ(encryptOutputHex(cipher, "1122334455667788", "extra data"), first);
  EXPECT_EQ(encryptOutputHex(cipher, "1122334455667788", "extra data"), first);
}

TEST_F(EncryptOutputTest, LongInputsAreEncryptedCompletely) {
  // Around the stack buffer size and well beyond it.
  for (std::size_t total : {1008u, 1009u, 1023u, 1024u, 1025u, 1500u}) {
    SCOPED_TRACE(total);
    std::string text;
    for (std::size_t i = 0; i < total; ++i) text += static_cast<char>('!' + (i * 7) % 90);
    const std::size_t split = total / 3;
    const std::string hex = encryptOutputHex(cipher, std::string_view(text).substr(0, split),
                                             std::string_view(text).substr(split));
    const std::size_t blocks = (total + 15) / 16;
    ASSERT_EQ(hex.size(), blocks * 32);
    std::string padded = text + std::string(blocks * 16 - total, '0');
    for (std::size_t b = 0; b < blocks; ++b) {
      ASSERT_EQ(hex.substr(b * 32, 32), block(padded.substr(b * 16, 16))) << "block " << b;
    }
  }
}

TEST_F(EncryptOutputTest, EmptyInputsOrUnkeyedCipherYieldNoValue) {
  EXPECT_EQ(tryEncryptOutputHex(cipher, "", ""), std::nullopt);
  EXPECT_EQ(cipherMessage([&] { encryptOutputHex(cipher, "", ""); }),
            "Data not multiple of Block Size");

  OutputCipher unkeyed;
  EXPECT_EQ(tryEncryptOutputHex(unkeyed, "0123456789ABCDEF", ""), std::nullopt);
  EXPECT_EQ(tryEncryptOutputHex(cipher, "0123456789ABCDEF", ""), block("0123456789ABCDEF"));
}

#ifndef _WIN32
// The fixed key against OpenSSL's command-line tool, an independent implementation path.
TEST_F(EncryptOutputTest, MatchesOpensslCommandLine) {
  if (std::system("command -v openssl >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "openssl binary not available";
  }
  const std::string tac = "A1B2C3D4E5F60718";
  const std::string option = "20240131235959|transfer|000123";
  const std::string total = tac + option;
  const std::string padded = total + std::string((16 - total.size() % 16) % 16, '0');

  std::string path = ::testing::TempDir() + "output_cipher_XXXXXX";
  const int fd = mkstemp(path.data());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, padded.data(), padded.size()), static_cast<ssize_t>(padded.size()));
  close(fd);

  const std::string keyHex = toHex(Bytes(kOutputKeyText, kOutputKeyText + 16));
  const std::string command =
      "openssl enc -aes-128-ecb -nopad -K " + keyHex + " -in '" + path + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  Bytes fromTool;
  std::array<std::uint8_t, 256> chunk{};
  std::size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    fromTool.insert(fromTool.end(), chunk.begin(), chunk.begin() + static_cast<long>(got));
  }
  const int status = pclose(pipe);
  std::remove(path.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(fromTool.size(), padded.size());

  EXPECT_EQ(encryptOutputHex(cipher, tac, option), toHex(fromTool, true));
}
#endif

}  // namespace
}  // namespace ruzazuv
