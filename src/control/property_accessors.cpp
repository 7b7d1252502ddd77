// The properties whose put does more than store: baReaderName, Pin, money and MerchantID.
#include "control/card_control.h"

namespace ruzazuv {
namespace {

// Right-aligns `value` in `width` characters, padding with the digit zero on the left; a value
// of `width` characters or more is kept as it is.
std::u16string zeroPadded(std::u16string_view value, std::size_t width) {
  if (value.size() >= width) return std::u16string(value);
  std::u16string out(width - value.size(), u'0');
  out.append(value);
  return out;
}

std::u16string_view textOf(const std::optional<std::u16string>& value) {
  if (!value) return {};
  std::u16string_view v(*value);
  return v.substr(0, v.find(u'\0'));
}

}  // namespace

void CardControl::putReaderName(const std::optional<std::u16string>& value) {
  process_.readerListedNoPullPlug = false;
  text(Dispid::baReaderName).put(value);
  process_.lastReaderName.put(value);

  // The reader is exempt from the pull-plug check when its name occurs anywhere inside
  // noPullPlugReader (no separator is needed); an empty name counts as occurring in any list
  // that is not empty. The narrow texts are compared over the whole name, at every byte
  // position of the list: comparing only as many bytes as the name has characters would let
  // a different reader with a multi-byte name count as listed.
  const std::string& list = text(Dispid::noPullPlugReader).narrow(services_.codec);
  const std::string& name = text(Dispid::baReaderName).narrow(services_.codec);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list.compare(i, name.size(), name) == 0) {
      process_.readerListedNoPullPlug = true;
      break;
    }
  }
}

void CardControl::putPin(const std::optional<std::u16string>& value) {
  // The PIN block: the PIN's characters followed by F up to 16 characters; characters beyond
  // the 16th are dropped, but pinLength still counts them.
  std::u16string_view pin = textOf(value);
  pinLength_ = static_cast<std::int32_t>(pin.size());
  std::u16string block(16, u'F');
  for (std::size_t i = 0; i < pin.size() && i < block.size(); ++i)
    block[i] = static_cast<char16_t>(pin[i] & 0xFF);
  process_.pinStore.assign(block);
  wipeString(block);
}

void CardControl::putMoney(const std::optional<std::u16string>& value) {
  // A null put clears the value as it does for every other text; padding it would turn
  // "no amount" into an amount of zero that passes the width check.
  if (!value) {
    moneyDisplay_.assign(u"");
    text(Dispid::money).assignAbsent();
    return;
  }
  std::u16string_view v = textOf(value);
  // The display form drops the last two characters (the cents); shorter values show nothing.
  moneyDisplay_.assign(v.size() >= 2 ? v.substr(0, v.size() - 2) : std::u16string_view{});
  text(Dispid::money).assign(zeroPadded(v, 14));
}

void CardControl::putMerchantId(const std::optional<std::u16string>& value) {
  if (!value) {
    text(Dispid::MerchantID).assignAbsent();
    return;
  }
  text(Dispid::MerchantID).assign(zeroPadded(textOf(value), 30));
}

}  // namespace ruzazuv
