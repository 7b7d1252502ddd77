#include "fisc_card.h"

#include <algorithm>
#include <optional>
#include <random>
#include <stdexcept>

#include "card_crypto.h"

namespace ruzazuv::sim {

namespace {

constexpr std::uint16_t kOk = 0x9000;
constexpr std::uint16_t kWrongLength = 0x6700;
constexpr std::uint16_t kIncompatibleFile = 0x6981;
constexpr std::uint16_t kSecurityNotSatisfied = 0x6982;
constexpr std::uint16_t kPinBlocked = 0x6983;
constexpr std::uint16_t kConditionsNotSatisfied = 0x6985;
constexpr std::uint16_t kNoCurrentFile = 0x6986;
constexpr std::uint16_t kFileNotFound = 0x6A82;
constexpr std::uint16_t kRecordNotFound = 0x6A83;
constexpr std::uint16_t kWrongP1P2 = 0x6A86;
constexpr std::uint16_t kInsNotSupported = 0x6D00;
constexpr std::uint16_t kClaNotSupported = 0x6E00;

// Record lengths of the five transaction types (inquiry, expense, transfer, tax, payment).
constexpr std::array<std::size_t, 5> kTransactionRecordLengths = {28, 64, 80, 85, 94};

std::vector<std::uint8_t> status(std::uint16_t sw) {
  return {static_cast<std::uint8_t>(sw >> 8), static_cast<std::uint8_t>(sw & 0xFF)};
}

std::vector<std::uint8_t> withStatus(std::vector<std::uint8_t> data, std::uint16_t sw) {
  data.push_back(static_cast<std::uint8_t>(sw >> 8));
  data.push_back(static_cast<std::uint8_t>(sw & 0xFF));
  return data;
}

// Header (record number, data length) followed by `field` padded with zeros to `width`.
std::vector<std::uint8_t> makeRecord(int number, std::span<const std::uint8_t> field,
                                     std::size_t width) {
  std::vector<std::uint8_t> r;
  r.push_back(static_cast<std::uint8_t>(number));
  r.push_back(static_cast<std::uint8_t>(width));
  r.insert(r.end(), field.begin(), field.end());
  r.resize(2 + width, 0);
  return r;
}

std::vector<std::uint8_t> textRecord(int number, const std::string& text, std::size_t width) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  return makeRecord(number, bytes, width);
}

}  // namespace

// A command APDU in its ISO 7816-4 short form.
struct FiscCard::Command {
  std::uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
  bool hasData = false;  // an Lc byte is present
  std::span<const std::uint8_t> data;
  bool hasLe = false;
  std::size_t le = 0;  // 1 to 256 (00 asks for 256)

  // Parses `apdu`; nullopt when its length does not fit any of the four cases.
  static std::optional<Command> parse(std::span<const std::uint8_t> apdu) {
    if (apdu.size() < 4) return std::nullopt;
    Command c;
    c.cla = apdu[0];
    c.ins = apdu[1];
    c.p1 = apdu[2];
    c.p2 = apdu[3];
    if (apdu.size() == 4) return c;
    if (apdu.size() == 5) {
      c.hasLe = true;
      c.le = apdu[4] == 0 ? 256 : apdu[4];
      return c;
    }
    const std::size_t lc = apdu[4];
    if (lc == 0) return std::nullopt;  // extended length: not spoken by this card
    if (apdu.size() != 5 + lc && apdu.size() != 6 + lc) return std::nullopt;
    c.hasData = true;
    c.data = apdu.subspan(5, lc);
    if (apdu.size() == 6 + lc) {
      c.hasLe = true;
      c.le = apdu[5 + lc] == 0 ? 256 : apdu[5 + lc];
    }
    return c;
  }
};

FiscCard::FiscCard(CardProfile profile)
    : profile_(std::move(profile)),
      faults_(profile_.faults),
      pinBlock_(pinBlockFor(profile_.pin)),
      triesLeft_(profile_.pinTries) {
  std::vector<std::uint8_t> issue(profile_.issueNumber.begin(), profile_.issueNumber.end());
  records_[{kFileOwnData, 1}] = makeRecord(1, issue, 8);
  records_[{kFileOwnData, 2}] = makeRecord(2, profile_.remark, 30);
  for (std::size_t i = 0; i < profile_.accounts.size() && i < 8; ++i) {
    const int n = static_cast<int>(i) + 3;
    records_[{kFileOwnData, n}] = textRecord(n, profile_.accounts[i], 16);
  }
  for (std::size_t i = 0; i < profile_.importAccounts.size() && i < 10; ++i) {
    const int n = static_cast<int>(i) + 1;
    records_[{kFileImportAccounts, n}] = textRecord(n, profile_.importAccounts[i], 24);
  }
  for (std::size_t i = 0; i < profile_.tradeLog.size() && i < 10; ++i) {
    records_[{kFileTradeLog, static_cast<int>(i) + 1}] = profile_.tradeLog[i];
  }
}

std::vector<std::uint8_t> FiscCard::atr() const {
  return profile_.atr;
}

std::uint32_t FiscCard::protocols() const {
  return profile_.protocols;
}

void FiscCard::reset() {
  std::lock_guard lock(mutex_);
  applicationSelected_ = false;
  currentFile_ = 0;
  pinVerified_ = false;
  ++resetCount_;
}

std::vector<std::uint8_t> FiscCard::transmit(std::span<const std::uint8_t> command) {
  std::lock_guard lock(mutex_);
  received_.emplace_back(command.begin(), command.end());
  if (faults_.statusOnly) return status(kOk);
  auto parsed = Command::parse(command);
  if (!parsed) return status(kWrongLength);
  return answer(*parsed);
}

FiscCard::Response FiscCard::answer(const Command& c) {
  if (c.cla != 0x00) return status(kClaNotSupported);
  switch (c.ins) {
    case 0xA4:
      return select(c);
    case 0xB2:
      return readRecord(c);
    case 0x20:
      return verify(c);
    case 0xD2:
      return writeRecord(c);
    case 0x86:
      return randomNumber(c);
    case 0xE2:
      return authorise(c);
    default:
      return status(kInsNotSupported);
  }
}

FiscCard::Response FiscCard::select(const Command& c) {
  if (c.p2 != 0x00) return status(kWrongP1P2);
  if (!c.hasData) return status(kWrongLength);
  if (c.p1 == 0x04) {  // by application identifier
    if (faults_.applicationMissing || !std::ranges::equal(c.data, kApplicationId)) {
      return status(kFileNotFound);
    }
    applicationSelected_ = true;
    currentFile_ = 0;
    pinVerified_ = false;
    // File control information: the application identifier and a label.
    static constexpr std::string_view kLabel = "FISC ATM";
    Response fci = {0x6F, static_cast<std::uint8_t>(2 + kApplicationId.size() + 4 + kLabel.size()),
                    0x84, static_cast<std::uint8_t>(kApplicationId.size())};
    fci.insert(fci.end(), kApplicationId.begin(), kApplicationId.end());
    fci.insert(fci.end(), {0xA5, static_cast<std::uint8_t>(2 + kLabel.size()), 0x50,
                           static_cast<std::uint8_t>(kLabel.size())});
    fci.insert(fci.end(), kLabel.begin(), kLabel.end());
    return withStatus(std::move(fci), kOk);
  }
  if (c.p1 != 0x02) return status(kWrongP1P2);
  if (c.data.size() != 2) return status(kWrongLength);
  if (!applicationSelected_) return status(kFileNotFound);
  const auto id = static_cast<std::uint16_t>(c.data[0] << 8 | c.data[1]);
  if (id != kFileOwnData && id != kFileImportAccounts && id != kFileTradeLog && id != kFilePin) {
    return status(kFileNotFound);
  }
  currentFile_ = id;
  return status(kOk);
}

FiscCard::Response FiscCard::readRecord(const Command& c) {
  if (c.hasData || !c.hasLe) return status(kWrongLength);
  if (c.p2 != 0x04) return status(kWrongP1P2);
  if (currentFile_ == 0) return status(kNoCurrentFile);
  if (currentFile_ == kFilePin) return status(kSecurityNotSatisfied);
  auto data = recordLocked(currentFile_, c.p1);
  if (data.empty()) return status(kRecordNotFound);
  if (c.le != 256 && c.le != data.size()) {
    return status(static_cast<std::uint16_t>(0x6C00 | data.size()));
  }
  return withStatus(std::move(data), kOk);
}

FiscCard::Response FiscCard::verify(const Command& c) {
  if (c.p1 != 0x00) return status(kWrongP1P2);
  if (!applicationSelected_) return status(kConditionsNotSatisfied);
  if (triesLeft_ == 0) return status(kPinBlocked);
  if (!c.hasData) {  // no PIN block: asks how many tries are left
    if (pinVerified_) return status(kOk);
    return status(static_cast<std::uint16_t>(0x63C0 | triesLeft_));
  }
  if (c.data.size() != pinBlock_.size() || c.hasLe) return status(kWrongLength);
  if (std::ranges::equal(c.data, pinBlock_)) {
    triesLeft_ = profile_.pinTries;
    pinVerified_ = true;
    return status(kOk);
  }
  pinVerified_ = false;
  --triesLeft_;
  if (triesLeft_ == 0) return status(kPinBlocked);
  return status(static_cast<std::uint16_t>(0x63C0 | triesLeft_));
}

FiscCard::Response FiscCard::writeRecord(const Command& c) {
  if (!c.hasData || c.hasLe || c.data.size() != pinBlock_.size()) return status(kWrongLength);
  if (c.p1 != 0x01) return status(kRecordNotFound);
  if (c.p2 != 0x04) return status(kWrongP1P2);
  if (currentFile_ == 0) return status(kNoCurrentFile);
  if (currentFile_ != kFilePin) return status(kIncompatibleFile);
  if (!pinVerified_) return status(kSecurityNotSatisfied);
  std::ranges::copy(c.data, pinBlock_.begin());
  return status(kOk);
}

FiscCard::Response FiscCard::randomNumber(const Command& c) {
  if (c.p1 != 0x00 || c.p2 != 0x00) return status(kWrongP1P2);
  if (c.hasData || !c.hasLe) return status(kWrongLength);
  if (c.le != 8) return status(0x6C08);
  std::vector<std::uint8_t> random(8);
  if (!systemRandomBytes(random)) {
    std::random_device device;
    for (auto& b : random) b = static_cast<std::uint8_t>(device());
  }
  lastRandom_ = random;
  return withStatus(std::move(random), kOk);
}

FiscCard::Response FiscCard::authorise(const Command& c) {
  if (c.p1 != 0x10 || c.p2 != 0x80) return status(kWrongP1P2);
  if (!c.hasData || std::ranges::find(kTransactionRecordLengths, c.data.size()) ==
                        kTransactionRecordLengths.end()) {
    return status(kWrongLength);
  }
  if (!applicationSelected_) return status(kConditionsNotSatisfied);
  if (!pinVerified_) return status(kSecurityNotSatisfied);
  if (faults_.authorisationStatusOnly) return status(faults_.authorisationStatus);

  Response r = {0x00};
  std::string icc = profile_.icc;
  icc.resize(8, '\0');
  r.insert(r.end(), icc.begin(), icc.end());
  const std::uint16_t lengthField = faults_.tacLengthField.value_or(0x0008);  // BCD 08
  r.push_back(static_cast<std::uint8_t>(lengthField >> 8));
  r.push_back(static_cast<std::uint8_t>(lengthField & 0xFF));
  auto tac = tacFor(c.data);
  r.insert(r.end(), tac.begin(), tac.end());
  return withStatus(std::move(r), kOk);
}

std::array<std::uint8_t, 8> FiscCard::pinBlockFor(std::string_view pin) {
  std::array<std::uint8_t, 8> block;
  block.fill(0xFF);
  for (std::size_t i = 0; i < pin.size() && i < 16; ++i) {
    const auto digit = static_cast<std::uint8_t>(pin[i] - '0') & 0x0F;
    auto& b = block[i / 2];
    b = (i % 2 == 0) ? static_cast<std::uint8_t>((digit << 4) | (b & 0x0F))
                     : static_cast<std::uint8_t>((b & 0xF0) | digit);
  }
  return block;
}

std::vector<std::vector<std::uint8_t>> FiscCard::receivedCommands() const {
  std::lock_guard lock(mutex_);
  return received_;
}

void FiscCard::clearReceivedCommands() {
  std::lock_guard lock(mutex_);
  received_.clear();
}

std::array<std::uint8_t, 8> FiscCard::pinBlock() const {
  std::lock_guard lock(mutex_);
  return pinBlock_;
}

int FiscCard::triesLeft() const {
  std::lock_guard lock(mutex_);
  return triesLeft_;
}

bool FiscCard::pinVerified() const {
  std::lock_guard lock(mutex_);
  return pinVerified_;
}

int FiscCard::resetCount() const {
  std::lock_guard lock(mutex_);
  return resetCount_;
}

std::vector<std::uint8_t> FiscCard::lastRandom() const {
  std::lock_guard lock(mutex_);
  return lastRandom_;
}

std::vector<std::uint8_t> FiscCard::record(std::uint16_t file, int number) const {
  std::lock_guard lock(mutex_);
  return recordLocked(file, number);
}

std::vector<std::uint8_t> FiscCard::recordLocked(std::uint16_t file, int number) const {
  if (auto missing = faults_.missingRecords.find(file);
      missing != faults_.missingRecords.end() && missing->second.contains(number)) {
    return {};
  }
  auto it = records_.find({file, number});
  return it == records_.end() ? std::vector<std::uint8_t>{} : it->second;
}

std::vector<std::uint8_t> FiscCard::tacFor(std::span<const std::uint8_t> transactionRecord) const {
  // First 8 bytes of SHA-256 over the card's key and the record.
  std::vector<std::uint8_t> input(profile_.tacKey);
  input.insert(input.end(), transactionRecord.begin(), transactionRecord.end());
  const auto digest = sha256(input);
  return {digest.begin(), digest.begin() + kTacLength};
}

CardFaults FiscCard::faults() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

void FiscCard::setFaults(CardFaults faults) {
  std::lock_guard lock(mutex_);
  faults_ = std::move(faults);
}

}  // namespace ruzazuv::sim
