// The FISC financial chip card: the application A000000172950001 with its files 1001 (own
// data and accounts), 1002 (transfer-in accounts), 1080 (trade log) and 00C2 (PIN record), the
// PIN check, the random number and the transaction authorisation. Thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "card_profile.h"
#include "platform/simulated_card.h"

namespace ruzazuv::sim {

class FiscCard : public SimulatedCard {
 public:
  static constexpr std::array<std::uint8_t, 8> kApplicationId = {0xA0, 0x00, 0x00, 0x01,
                                                                 0x72, 0x95, 0x00, 0x01};
  static constexpr std::uint16_t kFileOwnData = 0x1001;
  static constexpr std::uint16_t kFileImportAccounts = 0x1002;
  static constexpr std::uint16_t kFileTradeLog = 0x1080;
  static constexpr std::uint16_t kFilePin = 0x00C2;
  static constexpr std::uint8_t kTacLength = 8;

  explicit FiscCard(CardProfile profile);

  std::vector<std::uint8_t> atr() const override;
  std::uint32_t protocols() const override;
  void reset() override;
  std::vector<std::uint8_t> transmit(std::span<const std::uint8_t> command) override;

  // The PIN block of `pin`: its digits followed by F up to 16 hex digits, as 8 bytes.
  static std::array<std::uint8_t, 8> pinBlockFor(std::string_view pin);

  // What tests look at.
  std::vector<std::vector<std::uint8_t>> receivedCommands() const;  // every APDU, in order
  void clearReceivedCommands();
  std::array<std::uint8_t, 8> pinBlock() const;  // the PIN record as it stands
  int triesLeft() const;
  bool pinVerified() const;
  int resetCount() const;
  std::vector<std::uint8_t> lastRandom() const;  // the last random number handed out
  // The record data READ RECORD answers (header bytes included); empty when the card answers
  // "record not found".
  std::vector<std::uint8_t> record(std::uint16_t file, int number) const;
  // The TAC this card computes over a transaction record.
  std::vector<std::uint8_t> tacFor(std::span<const std::uint8_t> transactionRecord) const;
  const CardProfile& profile() const { return profile_; }
  CardFaults faults() const;
  void setFaults(CardFaults faults);

 private:
  struct Command;
  using Response = std::vector<std::uint8_t>;

  Response answer(const Command& c);
  Response select(const Command& c);
  Response readRecord(const Command& c);
  Response verify(const Command& c);
  Response writeRecord(const Command& c);
  Response randomNumber(const Command& c);
  Response authorise(const Command& c);
  std::vector<std::uint8_t> recordLocked(std::uint16_t file, int number) const;

  const CardProfile profile_;
  std::map<std::pair<std::uint16_t, int>, std::vector<std::uint8_t>> records_;

  mutable std::mutex mutex_;
  CardFaults faults_;
  std::array<std::uint8_t, 8> pinBlock_;
  int triesLeft_;
  bool applicationSelected_ = false;
  std::uint16_t currentFile_ = 0;  // 0: none selected
  bool pinVerified_ = false;
  int resetCount_ = 0;
  std::vector<std::uint8_t> lastRandom_;
  std::vector<std::vector<std::uint8_t>> received_;
};

}  // namespace ruzazuv::sim
