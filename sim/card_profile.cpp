#include "card_profile.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "atr.h"
#include "platform/pcsc.h"
#include "sim_hex.h"

#ifndef RUZAZUV_PROFILE_DIR
#define RUZAZUV_PROFILE_DIR "sim/profiles"
#endif

namespace ruzazuv::sim {

namespace {

using nlohmann::json;

[[noreturn]] void invalid(const std::string& key, const std::string& why) {
  throw std::runtime_error("card profile: \"" + key + "\" " + why);
}

std::string text(const json& j, const std::string& key, std::size_t maxLength) {
  if (!j.is_string()) invalid(key, "must be a string");
  std::string value = j.get<std::string>();
  if (value.size() > maxLength) invalid(key, "is longer than " + std::to_string(maxLength));
  for (unsigned char c : value) {
    if (c < 0x20 || c > 0x7E) invalid(key, "must be printable ASCII");
  }
  return value;
}

std::vector<std::uint8_t> hex(const json& j, const std::string& key) {
  if (!j.is_string()) invalid(key, "must be a hex string");
  auto bytes = parseHex(j.get<std::string>());
  if (!bytes) invalid(key, "is not valid hex");
  return *bytes;
}

std::vector<std::string> textList(const json& j, const std::string& key, std::size_t maxCount,
                                  std::size_t maxLength) {
  if (!j.is_array()) invalid(key, "must be an array");
  if (j.size() > maxCount) invalid(key, "holds more than " + std::to_string(maxCount) + " items");
  std::vector<std::string> out;
  for (const auto& item : j) out.push_back(text(item, key, maxLength));
  return out;
}

std::uint16_t hexWord(const json& j, const std::string& key) {
  auto bytes = hex(j, key);
  if (bytes.size() != 2) invalid(key, "must be 2 bytes of hex");
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::uint32_t protocolMask(const json& j) {
  if (!j.is_array() || j.empty()) invalid("protocols", "must be a non-empty array");
  std::uint32_t mask = 0;
  for (const auto& p : j) {
    if (p == "T0") {
      mask |= kProtocolT0;
    } else if (p == "T1") {
      mask |= kProtocolT1;
    } else {
      invalid("protocols", "may hold only \"T0\" and \"T1\"");
    }
  }
  return mask;
}

CardFaults parseFaults(const json& j) {
  if (!j.is_object()) invalid("faults", "must be an object");
  CardFaults f;
  for (const auto& [key, value] : j.items()) {
    if (key == "applicationMissing" || key == "statusOnly" || key == "authorisationStatusOnly") {
      if (!value.is_boolean()) invalid(key, "must be true or false");
      const bool on = value.get<bool>();
      if (key == "applicationMissing") f.applicationMissing = on;
      if (key == "statusOnly") f.statusOnly = on;
      if (key == "authorisationStatusOnly") f.authorisationStatusOnly = on;
    } else if (key == "authorisationStatus") {
      f.authorisationStatus = hexWord(value, key);
    } else if (key == "tacLengthField") {
      f.tacLengthField = hexWord(value, key);
    } else if (key == "missingRecords") {
      if (!value.is_object()) invalid(key, "must map file identifiers to record lists");
      for (const auto& [file, records] : value.items()) {
        auto id = parseHex(file);
        if (!id || id->size() != 2) invalid(key, "file identifier \"" + file + "\" is not 4 hex");
        if (!records.is_array()) invalid(key, "record list must be an array");
        auto& set = f.missingRecords[static_cast<std::uint16_t>((*id)[0] << 8 | (*id)[1])];
        for (const auto& r : records) {
          if (!r.is_number_integer() || r.get<int>() < 1 || r.get<int>() > 255) {
            invalid(key, "record numbers must be 1 to 255");
          }
          set.insert(r.get<int>());
        }
      }
    } else {
      invalid(key, "is not a known fault");
    }
  }
  return f;
}

}  // namespace

CardProfile parseCardProfile(std::string_view jsonText) {
  json j;
  try {
    j = json::parse(jsonText);
  } catch (const json::exception& e) {
    // A syntax error, and also a number too large for any type (out_of_range), is a bad profile.
    throw std::runtime_error(std::string("card profile: not valid JSON: ") + e.what());
  }
  if (!j.is_object()) throw std::runtime_error("card profile: must be a JSON object");

  CardProfile p;
  bool protocolsGiven = false;
  for (const auto& [key, value] : j.items()) {
    if (key == "name") {
      p.name = text(value, key, 64);
    } else if (key == "atr") {
      p.atr = hex(value, key);
    } else if (key == "protocols") {
      p.protocols = protocolMask(value);
      protocolsGiven = true;
    } else if (key == "pin") {
      p.pin = text(value, key, 16);
      if (p.pin.empty()) invalid(key, "must not be empty");
      for (char c : p.pin) {
        if (c < '0' || c > '9') invalid(key, "must be decimal digits");
      }
    } else if (key == "pinTries") {
      if (!value.is_number_integer() || value.get<int>() < 1 || value.get<int>() > 15) {
        invalid(key, "must be 1 to 15");
      }
      p.pinTries = value.get<int>();
    } else if (key == "icc") {
      p.icc = text(value, key, 8);
    } else if (key == "tacKey") {
      p.tacKey = hex(value, key);
    } else if (key == "issueNumber") {
      p.issueNumber = text(value, key, 8);
    } else if (key == "remark") {
      p.remark = hex(value, key);
      if (p.remark.size() > 30) invalid(key, "is longer than 30 bytes");
    } else if (key == "accounts") {
      p.accounts = textList(value, key, 8, 16);
    } else if (key == "importAccounts") {
      p.importAccounts = textList(value, key, 10, 24);
    } else if (key == "tradeLog") {
      if (!value.is_array() || value.size() > 10) invalid(key, "must be an array of 0 to 10");
      for (const auto& record : value) {
        p.tradeLog.push_back(hex(record, key));
        if (p.tradeLog.back().empty() || p.tradeLog.back().size() > 256) {
          invalid(key, "records must hold 1 to 256 bytes");
        }
      }
    } else if (key == "faults") {
      p.faults = parseFaults(value);
    } else {
      invalid(key, "is not a known profile key");
    }
  }

  if (p.atr.empty()) invalid("atr", "is required");
  std::string why;
  auto info = parseAtr(p.atr, &why);
  if (!info) invalid("atr", "is not a valid ATR: " + why);
  if (!protocolsGiven) p.protocols = info->protocols;
  if (p.protocols != info->protocols) invalid("protocols", "differ from what the ATR offers");
  if (p.tacKey.empty()) p.tacKey.assign(p.icc.begin(), p.icc.end());
  return p;
}

CardProfile loadCardProfile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("card profile: cannot read " + file.string());
  std::ostringstream content;
  content << in.rdbuf();
  return parseCardProfile(content.str());
}

std::filesystem::path builtinProfilePath(std::string_view fileName) {
  return std::filesystem::path(RUZAZUV_PROFILE_DIR) / std::filesystem::path(fileName);
}

}  // namespace ruzazuv::sim
