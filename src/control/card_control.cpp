#include "control/card_control.h"

#include <new>

#include "control/method_table.h"
#include "crypto/output_cipher.h"
#include "crypto/output_key.h"

namespace ruzazuv {
namespace {

constexpr bool isString(MemberKind k) {
  return k == MemberKind::kString;
}

char16_t lowerAscii(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

}  // namespace

CardControl::CardControl(ControlServices services, ProcessState& process,
                         std::u16string_view siteAddress)
    : services_(services), process_(process), siteAddress_(siteAddress) {
  // Every string property starts as zero-length text, except randomNumber which stays absent.
  // Pin, SupportURL and isPullPlugReader have accessors of their own and no storage here.
  for (const Member& m : memberTable())
    if (isString(m.kind)) texts_[static_cast<std::size_t>(m.dispid)] = Text::empty();
  text(Dispid::randomNumber).assignAbsent();
  moneyDisplay_ = Text::empty();

  integer(Dispid::curAccntIndex) = 1;
  integer(Dispid::CheckPINLength) = 1;
  integer(Dispid::CheckPINType) = 1;
  // Construction sets no disposition; leaving the card is the safe starting value.
  integer(Dispid::iDisConnectType) = 0;
  integer(Dispid::iResetType) = 0;
  shareMode_ = kShareShared;
  recvLength_ = 272;

  text(Dispid::InquiryTxnID).assign(u"2500");
  text(Dispid::TransferTxnID).assign(u"2521");
  text(Dispid::ExpenseTxnID).assign(u"2561");

  siteApproved_ = false;

  cipher_ = std::make_unique<OutputCipher>();
  cipher_->makeKey(kOutputKeyText, kOutputChainText, 16, 16);

  pullPlug_.countdownSeconds = 15;
}

CardControl::~CardControl() = default;

void CardControl::setClientSite(const std::optional<std::u16string>& pageAddress) {
  if (!pageAddress) {
    // A client that is no page is approved only when every page would be.
    if (siteAddress_.empty()) siteApproved_ = true;
    return;
  }
  const std::u16string& page = *pageAddress;
  if (page.size() < siteAddress_.size()) return;
  for (std::size_t i = 0; i < siteAddress_.size(); ++i)
    if (lowerAscii(page[i]) != lowerAscii(siteAddress_[i])) return;
  siteApproved_ = true;  // never cleared for the life of the object
}

std::int32_t CardControl::refuse(std::int32_t detailCode) {
  integer(Dispid::uiSW12) = detailCode;
  return kRefused;
}

HResult CardControl::getProperty(int dispid, PropertyValue* out) const {
  const Member* m = findMember(dispid);
  if (m == nullptr || m->isMethod()) return hresult::kMemberNotFound;
  const auto id = static_cast<Dispid>(dispid);
  try {
    switch (id) {
      case Dispid::baReaderName: {
        const Text& own = text(id);
        *out = own.length() > 0 ? own.value() : process_.lastReaderName.value();
        return hresult::kOk;
      }
      case Dispid::Pin:
        *out = process_.pinStore.value();
        return hresult::kOk;
      case Dispid::SupportURL:
        *out = std::optional<std::u16string>(siteApproved_ ? u"0" : u"-1");
        return hresult::kOk;
      case Dispid::isPullPlugReader:
        *out = std::optional<std::u16string>(process_.readerListedNoPullPlug ? u"False" : u"True");
        return hresult::kOk;
      default:
        break;
    }
    if (isString(m->kind)) {
      *out = text(id).value();
    } else {
      *out = integer(id);
    }
  } catch (const std::bad_alloc&) {
    return hresult::kOutOfMemory;
  }
  return hresult::kOk;
}

HResult CardControl::putProperty(int dispid, const PropertyValue& value) {
  const Member* m = findMember(dispid);
  if (m == nullptr || m->isMethod()) return hresult::kMemberNotFound;
  const auto id = static_cast<Dispid>(dispid);
  try {
    if (isString(m->kind)) {
      const auto* v = std::get_if<std::optional<std::u16string>>(&value);
      if (v == nullptr) return hresult::kTypeMismatch;
      switch (id) {
        case Dispid::baReaderName:
          putReaderName(*v);
          break;
        case Dispid::Pin:
          putPin(*v);
          break;
        case Dispid::money:
          putMoney(*v);
          break;
        case Dispid::MerchantID:
          putMerchantId(*v);
          break;
        case Dispid::SupportURL:
        case Dispid::isPullPlugReader:
          break;  // read-only in effect: the put is accepted and changes nothing
        default:
          text(id).put(*v);
          break;
      }
      return hresult::kOk;
    }
    const auto* v = std::get_if<std::int32_t>(&value);
    if (v == nullptr) return hresult::kTypeMismatch;
    switch (id) {
      case Dispid::iDisConnectType:
        // leave 0, reset 1, unpower 2; anything else ejects.
        integer(id) = (*v >= 0 && *v <= 2) ? *v : 3;
        break;
      case Dispid::iResetType:
        // A put of 0 asks for a cold reset (unpower, 2), 1 a warm reset; anything else leaves.
        integer(id) = *v == 0 ? 2 : *v == 1 ? 1 : 0;
        break;
      case Dispid::bPq:
        integer(id) = static_cast<std::int16_t>(*v);
        break;
      default:
        integer(id) = *v;
        break;
    }
  } catch (const std::bad_alloc&) {
    return hresult::kOutOfMemory;
  }
  return hresult::kOk;
}

HResult CardControl::invoke(int dispid, std::int32_t* ret) {
  const Member* m = findMember(dispid);
  if (m == nullptr || !m->isMethod()) return hresult::kMemberNotFound;
  MethodFn fn = methodTable()[static_cast<std::size_t>(dispid)];
  if (fn == nullptr) return hresult::kNotImplemented;
  try {
    *ret = (this->*fn)();
  } catch (const std::bad_alloc&) {
    return hresult::kOutOfMemory;
  }
  return hresult::kOk;
}

std::u16string CardControl::getText(Dispid id) const {
  PropertyValue v;
  getProperty(static_cast<int>(id), &v);
  const auto* s = std::get_if<std::optional<std::u16string>>(&v);
  return s != nullptr && *s ? **s : std::u16string();
}

void CardControl::putText(Dispid id, std::u16string_view value) {
  putProperty(static_cast<int>(id), std::optional<std::u16string>(std::u16string(value)));
}

void CardControl::putNullableText(Dispid id, const std::optional<std::u16string>& value) {
  putProperty(static_cast<int>(id), value);
}

std::int32_t CardControl::getInt(Dispid id) const {
  PropertyValue v;
  getProperty(static_cast<int>(id), &v);
  const auto* i = std::get_if<std::int32_t>(&v);
  return i != nullptr ? *i : 0;
}

void CardControl::putInt(Dispid id, std::int32_t value) {
  putProperty(static_cast<int>(id), value);
}

std::int32_t CardControl::call(Dispid id) {
  std::int32_t ret = 0;
  invoke(static_cast<int>(id), &ret);
  return ret;
}

}  // namespace ruzazuv
