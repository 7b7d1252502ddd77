// The random-number challenge for the bank's server: the card's random number is handed to the
// page and its encryption under the control's key is kept as the answer the server must give.
#include "control/card_control.h"

namespace ruzazuv {
namespace {

using detail_code::kServerAnswerMismatch;
// The answer is compared over the first 32 characters (one encrypted block as hex).
constexpr std::size_t kAnswerLength = 32;
constexpr std::u16string_view kError = u"Error";

// Exact, case-sensitive comparison of the first 32 characters; shorter texts never match.
bool answersMatch(std::string_view expected, std::string_view answer) {
  return expected.size() >= kAnswerLength && answer.size() >= kAnswerLength &&
         expected.substr(0, kAnswerLength) == answer.substr(0, kAnswerLength);
}

}  // namespace

std::int32_t CardControl::GenRandomNumber() {
  PcscResult result = TransmitApdu("00", "86", "00", "00", std::nullopt, {}, "08");
  if (result != pcsc_code::kSuccess) {
    text(Dispid::randomNumber).assign(kError);
    return 1;
  }
  // A card that answers with its status word alone still completes the challenge, over the
  // text "Error": the bank's server relies on seeing it that way.
  if (recvLength_ > 2) {
    setNarrow(Dispid::randomNumber, ResponseHex(0, recvLength_ - 2));
  } else {
    text(Dispid::randomNumber).assign(kError);
  }
  text(Dispid::OptionData1).assign(u"");
  text(Dispid::TAC) = text(Dispid::randomNumber);
  EncryptOutput();
  process_.expectedServerAnswer = text(Dispid::OptionData1);
  text(Dispid::OptionData1).assign(u"");
  return 0;
}

std::int32_t CardControl::AuthenServer() {
  const std::string answer = narrow(Dispid::OptionData1);

  // While the card that generated the challenge is connected, the kept answer decides.
  if (!process_.cardIdentity.isEmpty() &&
      answersMatch(process_.expectedServerAnswer.narrow(services_.codec), answer)) {
    return 0;
  }

  // Otherwise the expected answer is computed again from the current random number. An empty
  // random number leaves nothing to encrypt: the expected value is then empty and never matches.
  text(Dispid::OptionData1).assign(u"");
  text(Dispid::TAC) = text(Dispid::randomNumber);
  EncryptOutput();
  process_.expectedServerAnswer = text(Dispid::OptionData1);
  if (answersMatch(process_.expectedServerAnswer.narrow(services_.codec), answer)) return 0;
  // The expected answer must not reach the page that failed to give it: a second call with
  // nothing changed would then pass.
  text(Dispid::OptionData1).assign(u"");
  return refuse(kServerAnswerMismatch);
}

}  // namespace ruzazuv
