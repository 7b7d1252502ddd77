// What a simulated financial card holds and how it misbehaves, loaded from a JSON profile.
//
// Profile keys (all optional except "atr"):
//   "name"            text shown in logs
//   "atr"             hex; must be a well-formed ISO 7816-3 ATR
//   "protocols"       ["T1"], ["T0"] or ["T0", "T1"]; must match what the ATR offers
//   "pin"             the PIN digits (1 to 16), default "123456"
//   "pinTries"        VERIFY attempts before the PIN blocks, default 3
//   "icc"             8 ASCII characters returned by the authorisation
//   "tacKey"          hex key mixed into the TAC; default derived from "icc"
//   "issueNumber"     up to 8 ASCII characters (file 1001 record 1)
//   "remark"          up to 30 bytes as hex (file 1001 record 2)
//   "accounts"        up to 8 texts of up to 16 characters (file 1001 records 3 to 10)
//   "importAccounts"  up to 10 texts of up to 24 characters (file 1002 records 1 to 10)
//   "tradeLog"        up to 10 records as hex, 1 to 256 bytes each (file 1080)
//   "faults"          see CardFaults
// Records with no value (an account list shorter than 8, ...) answer "record not found".
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ruzazuv::sim {

struct CardFaults {
  bool applicationMissing = false;  // "applicationMissing": SELECT of the application: 6A 82
  bool statusOnly = false;          // "statusOnly": every command answers 90 00 alone
  std::map<std::uint16_t, std::set<int>> missingRecords;  // "missingRecords": {"1001": [5, 6]}
  std::optional<std::uint16_t> tacLengthField;            // "tacLengthField": "0016", sent as is
  bool authorisationStatusOnly = false;  // "authorisationStatusOnly": the authorisation answers
  std::uint16_t authorisationStatus = 0x9000;  // "authorisationStatus": "6985" (with the above)
};

struct CardProfile {
  std::string name = "card";
  std::vector<std::uint8_t> atr;
  std::uint32_t protocols = 0;  // kProtocolT0 / kProtocolT1 mask
  std::string pin = "123456";
  int pinTries = 3;
  std::string icc = "00000000";
  std::vector<std::uint8_t> tacKey;
  std::string issueNumber;
  std::vector<std::uint8_t> remark;
  std::vector<std::string> accounts;
  std::vector<std::string> importAccounts;
  std::vector<std::vector<std::uint8_t>> tradeLog;
  CardFaults faults;
};

// Parses a profile; throws std::runtime_error naming the offending key on any invalid content.
CardProfile parseCardProfile(std::string_view json);
CardProfile loadCardProfile(const std::filesystem::path& file);

// The profiles shipped in sim/profiles (default.json, second-card.json, ...).
std::filesystem::path builtinProfilePath(std::string_view fileName);

}  // namespace ruzazuv::sim
