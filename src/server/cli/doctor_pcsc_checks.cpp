#include "cli/doctor_pcsc_checks.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "cli/doctor_system.h"

namespace ruzazuv::doctor {
namespace {

// The SELECT of the financial application by its name, as the control sends it on ConnectCard.
constexpr std::array<std::uint8_t, 14> kSelectApplication = {
    0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00, 0x01, 0x72, 0x95, 0x00, 0x01, 0x00};

constexpr std::uint32_t kListCapacity = 64 * 1024;

std::string hexCode(PcscResult result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
  return text;
}

std::string hexWord(unsigned sw) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", sw & 0xFFFFu);
  return text;
}

std::string inQuotes(std::string_view s) {
  return "\"" + std::string(s) + "\"";
}

Finding pcscdFinding(PcscResult result, const std::optional<std::string>& socketState) {
  std::string socket;
  if (!socketState)
    socket = "; socket activation not checked (systemd does not run here)";
  else if (*socketState == "active")
    socket = "; systemd starts it on demand (pcscd.socket is active)";
  else
    socket = "; pcscd.socket is " + *socketState;
  if (result == pcsc_code::kSuccess)
    return {"pcscd", Verdict::kOk, "the smart-card service answers" + socket, "", 0, ""};

  Finding f{"pcscd",
            Verdict::kFail,
            "the smart-card service (pcscd) does not answer (" + hexCode(result) + ")" + socket,
            "",
            exit_code::kNoPcscd,
            ""};
  const bool installed = findProgram("pcscd") || isExecutableFile("/usr/sbin/pcscd");
  if (!installed)
    f.advice = "install it: sudo apt install pcscd";
  else if (!socketState)
    f.advice = "start it as root: pcscd";
  else if (*socketState != "active")
    f.advice = "start it: sudo systemctl enable --now pcscd.socket";
  else
    f.advice = "start it: sudo systemctl restart pcscd.socket pcscd.service";
  return f;
}

enum class CardOutcome { kAnswers, kInUse, kEmpty, kFailed };

struct CardLine {
  CardOutcome outcome = CardOutcome::kFailed;
  Finding finding;
};

CardLine failedCard(const std::string& reader, std::string found, std::string advice) {
  return {
      CardOutcome::kFailed,
      {"card", Verdict::kFail, std::move(found), std::move(advice), exit_code::kNoCard, reader}};
}

// Looks at the card in one reader: connected shared for T=1 as the control connects, the
// application selected, the card left as it was.
CardLine checkCard(Pcsc& pcsc, PcscContext context, const std::string& reader) {
  const std::string putCard = "put your bank card in the reader, chip first and face up";
  ReaderState state;
  state.reader = reader.c_str();
  state.currentState = kStateUnaware;
  PcscResult result = pcsc.getStatusChange(context, 0, &state, 1);
  if (result == pcsc_code::kSuccess && (state.eventState & kStateEmpty))
    return {
        CardOutcome::kEmpty,
        {"card", Verdict::kFail, "no card in this reader", putCard, exit_code::kNoCard, reader}};
  if (result == pcsc_code::kSuccess && (state.eventState & kStateMute))
    return failedCard(reader, "the card in this reader does not answer",
                      "take the card out and put it in again, chip first and face up");

  PcscHandle card = 0;
  std::uint32_t protocol = 0;
  result = pcsc.connect(context, reader.c_str(), kShareShared, kProtocolT1, &card, &protocol);
  switch (result) {
    case pcsc_code::kSuccess:
      break;
    case pcsc_code::kNoSmartcard:
    case pcsc_code::kRemovedCard:
      return {
          CardOutcome::kEmpty,
          {"card", Verdict::kFail, "no card in this reader", putCard, exit_code::kNoCard, reader}};
    case pcsc_code::kSharingViolation:
      return {CardOutcome::kInUse,
              {"card", Verdict::kWarn,
               "the card is in use by another program (a bank page may be using it)",
               "close the other program or page and run the doctor again to check the card", 0,
               reader}};
    case pcsc_code::kProtoMismatch:
    case pcsc_code::kUnsupportedFeature:
      return failedCard(reader, "the card is not a bank card (it does not offer protocol T=1)",
                        putCard);
    case pcsc_code::kUnresponsiveCard:
    case pcsc_code::kUnpoweredCard:
      return failedCard(reader, "the card in this reader does not answer",
                        "take the card out and put it in again, chip first and face up");
    default:
      return failedCard(reader, "the card could not be reached (" + hexCode(result) + ")",
                        "take the card out and put it in again");
  }

  std::array<std::uint8_t, 272> answer{};
  std::uint32_t length = static_cast<std::uint32_t>(answer.size());
  result =
      pcsc.transmit(card, protocol, kSelectApplication.data(),
                    static_cast<std::uint32_t>(kSelectApplication.size()), answer.data(), &length);
  pcsc.disconnect(card, kLeaveCard);
  if (result != pcsc_code::kSuccess)
    return failedCard(
        reader,
        "the card did not answer the bank application's selection (" + hexCode(result) + ")",
        "take the card out and put it in again");
  if (length < 2 || length > answer.size())
    return failedCard(reader, "the card gave a malformed answer", putCard);
  const unsigned sw = answer[length - 2] * 256u + answer[length - 1];
  // As the control judges it: an answer of the status word alone means the application is not
  // on the card.
  if (length == 2)
    return failedCard(
        reader,
        "the card does not hold the bank's financial application (it answered " + hexWord(sw) + ")",
        "this is not a bank chip card: " + putCard);
  return {CardOutcome::kAnswers,
          {"card", Verdict::kOk,
           "a bank card whose financial application answers (" + hexWord(sw) + ")", "", 0, reader}};
}

}  // namespace

std::optional<std::string> pcscdSocketState() {
  if (!findProgram("systemctl")) return std::nullopt;
  auto run = runProgram({"systemctl", "is-active", "pcscd.socket"}, std::chrono::seconds(5));
  if (!run) return std::nullopt;
  std::string state = run->output.substr(0, run->output.find_first_of("\r\n"));
  // Without a running systemd, is-active prints nothing on standard output.
  if (state.empty()) return std::nullopt;
  return state;
}

std::vector<Finding> checkSmartCards(Pcsc& pcsc, const std::optional<std::string>& socketState) {
  std::vector<Finding> findings;
  PcscContext context = 0;
  const PcscResult established = pcsc.establishContext(0, &context);
  findings.push_back(pcscdFinding(established, socketState));
  if (established != pcsc_code::kSuccess) {
    findings.push_back(
        {"readers", Verdict::kSkip, "not checked: no smart-card service", "", 0, ""});
    findings.push_back({"card", Verdict::kSkip, "not checked: no smart-card service", "", 0, ""});
    return findings;
  }

  std::string list(kListCapacity, '\0');
  std::uint32_t length = kListCapacity;
  PcscResult result = pcsc.listReaders(context, list.data(), &length);
  std::vector<std::string> readers;
  if (result == pcsc_code::kSuccess) {
    list.resize(std::min(length, kListCapacity));
    std::size_t start = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (list[i] != '\0') continue;
      if (i > start) readers.push_back(list.substr(start, i - start));
      start = i + 1;
    }
  }
  if (result != pcsc_code::kSuccess && result != pcsc_code::kNoReadersAvailable) {
    findings.push_back({"readers", Verdict::kFail,
                        "the reader list could not be read (" + hexCode(result) + ")",
                        "unplug the card reader, plug it in again and run the doctor again",
                        exit_code::kNoReader, ""});
  } else if (readers.empty()) {
    findings.push_back(
        {"readers", Verdict::kFail, "the smart-card service sees no card reader",
         "plug in the card reader; if it is plugged in, unplug it and plug it in again",
         exit_code::kNoReader, ""});
  } else {
    std::string names;
    for (const std::string& r : readers) names += (names.empty() ? "" : ", ") + inQuotes(r);
    findings.push_back({"readers", Verdict::kOk,
                        std::to_string(readers.size()) +
                            (readers.size() == 1 ? " reader: " : " readers: ") + names,
                        "", 0, ""});
  }
  if (readers.empty()) {
    findings.push_back({"card", Verdict::kSkip, "not checked: no reader", "", 0, ""});
    pcsc.releaseContext(context);
    return findings;
  }

  std::vector<CardLine> cards;
  for (const std::string& r : readers) cards.push_back(checkCard(pcsc, context, r));
  pcsc.releaseContext(context);

  // A page needs one card that answers: with one (or one that a page may be using), the other
  // readers' empty slots and foreign cards are no failure.
  std::string usable;
  for (const CardLine& c : cards)
    if (c.outcome == CardOutcome::kAnswers && usable.empty()) usable = c.finding.subject;
  for (const CardLine& c : cards)
    if (c.outcome == CardOutcome::kInUse && usable.empty()) usable = c.finding.subject;
  for (CardLine& c : cards) {
    if (!usable.empty() && c.outcome == CardOutcome::kEmpty) {
      c.finding.verdict = Verdict::kSkip;
      c.finding.found = "no card (the card in " + inQuotes(usable) + " is the one to use)";
      c.finding.advice.clear();
    } else if (!usable.empty() && c.outcome == CardOutcome::kFailed) {
      c.finding.verdict = Verdict::kWarn;
    }
    findings.push_back(std::move(c.finding));
  }
  return findings;
}

}  // namespace ruzazuv::doctor
