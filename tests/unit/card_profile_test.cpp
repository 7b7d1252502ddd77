#include "sim/card_profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "platform/pcsc.h"
#include "sim/atr.h"
#include "sim/fisc_card.h"
#include "sim/sim_hex.h"

namespace ruzazuv::sim {
namespace {

CardProfile builtin(const char* file) {
  return loadCardProfile(builtinProfilePath(file));
}

TEST(CardProfiles, ShippedProfilesLoadWithValidAtrs) {
  for (auto file : {"default.json", "second-card.json", "no-application.json", "t0-only.json",
                    "status-only.json", "few-records.json", "ragged-records.json"}) {
    SCOPED_TRACE(file);
    const CardProfile p = builtin(file);
    EXPECT_TRUE(parseAtr(p.atr).has_value());
    EXPECT_EQ(p.pin, "123456");
  }
  const CardProfile d = builtin("default.json");
  EXPECT_EQ(d.atr.size(), 19u);
  EXPECT_EQ(d.protocols, kProtocolT1);
  EXPECT_EQ(d.issueNumber, "0123");
  EXPECT_EQ(d.accounts.size(), 8u);
  EXPECT_EQ(d.importAccounts.size(), 10u);
  EXPECT_EQ(d.tradeLog.size(), 3u);
  EXPECT_EQ(builtin("t0-only.json").protocols, kProtocolT0);
}

// The card a customer meets in the demo holds whole data: every own account of 16 digits and
// every transfer-in account as its bank's three digits followed by the account's 16. Ragged
// records belong to the profiles of the tests that need them.
TEST(CardProfiles, DefaultCardHoldsWholeAccounts) {
  const CardProfile d = builtin("default.json");
  auto digits = [](const std::string& s, std::size_t n) {
    return s.size() == n && s.find_first_not_of("0123456789") == std::string::npos;
  };
  for (const std::string& a : d.accounts) EXPECT_TRUE(digits(a, 16)) << a;
  for (const std::string& a : d.importAccounts) EXPECT_TRUE(digits(a, 19)) << a;
  const CardProfile ragged = builtin("ragged-records.json");
  EXPECT_TRUE(std::any_of(ragged.importAccounts.begin(), ragged.importAccounts.end(),
                          [&](const std::string& a) { return !digits(a, 19); }));
}

TEST(CardProfiles, SecondCardHasAnotherIdentity) {
  FiscCard first(builtin("default.json"));
  FiscCard second(builtin("second-card.json"));
  // The identity the control compares is made of records 2 and 3 of file 1001.
  EXPECT_NE(first.record(FiscCard::kFileOwnData, 2), second.record(FiscCard::kFileOwnData, 2));
  EXPECT_NE(first.record(FiscCard::kFileOwnData, 3), second.record(FiscCard::kFileOwnData, 3));
  EXPECT_EQ(first.pinBlock(), second.pinBlock());
}

TEST(CardProfiles, InvalidContentIsRefusedByName) {
  const std::string atr = R"("atr": "3B8C8131FE4552555A415A55564649534331EC")";
  EXPECT_NO_THROW(parseCardProfile("{" + atr + "}"));
  auto refused = [](const std::string& json, const std::string& key) {
    try {
      parseCardProfile(json);
    } catch (const std::runtime_error& e) {
      return std::string(e.what()).find(key) != std::string::npos;
    }
    return false;
  };
  EXPECT_TRUE(refused("{", "JSON"));
  // A number no type can hold is a bad profile too, not some other exception (found by fuzzing).
  EXPECT_TRUE(refused("{" + atr + R"(, "pinTries": 1E400000})", "JSON"));
  EXPECT_TRUE(refused("{}", "atr"));
  EXPECT_TRUE(refused(R"({"atr": "3B8C8131FE4552555A415A55564649534331ED"})", "atr"));
  EXPECT_TRUE(refused("{" + atr + R"(, "protocols": ["T0"]})", "protocols"));
  EXPECT_TRUE(refused("{" + atr + R"(, "pin": "12a456"})", "pin"));
  EXPECT_TRUE(refused("{" + atr + R"(, "accounts": ["00000000000000001"]})", "accounts"));
  EXPECT_TRUE(refused("{" + atr + R"(, "pinTries": 0})", "pinTries"));
  EXPECT_TRUE(
      refused("{" + atr + R"(, "faults": {"missingRecords": {"10": [1]}}})", "missingRecords"));
  EXPECT_TRUE(refused("{" + atr + R"(, "faults": {"nonsense": true}})", "nonsense"));
  EXPECT_TRUE(refused("{" + atr + R"(, "colour": 1})", "colour"));
}

TEST(Atr, ProtocolsFollowTheInterfaceBytes) {
  auto parse = [](const char* text) { return parseAtr(parseHex(text).value()); };
  EXPECT_EQ(parse("3B0C52555A415A55564649534330")->protocols, kProtocolT0);
  EXPECT_EQ(parse("3B8C8131FE4552555A415A55564649534331EC")->protocols, kProtocolT1);
  const auto both = parse("3B80800101");  // TD1 T=0, TD2 T=1, TCK
  ASSERT_TRUE(both);
  EXPECT_EQ(both->protocols, kProtocolT0 | kProtocolT1);
  EXPECT_FALSE(parse("3B80800100"));  // wrong TCK
  EXPECT_FALSE(parse("3B0C52555A"));  // historical bytes missing
  EXPECT_FALSE(parse("3B80"));        // TD1 announced, absent
  EXPECT_FALSE(parse("3C00"));        // no such TS
}

}  // namespace
}  // namespace ruzazuv::sim
