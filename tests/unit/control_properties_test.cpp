// The property surface: initial values, get/put rules, the special accessors, site approval
// and the state that controls of one process share.
#include <gtest/gtest.h>

#include <set>

#include "support/control_harness.h"

namespace ruzazuv {
namespace {

using testing::ControlHarness;

TEST(ControlProperties, FreshControlHasItsConstructionValues) {
  ControlHarness h;
  CardControl& c = h.control();
  EXPECT_EQ(c.getInt(Dispid::curAccntIndex), 1);
  EXPECT_EQ(c.getInt(Dispid::CheckPINLength), 1);
  EXPECT_EQ(c.getInt(Dispid::CheckPINType), 1);
  EXPECT_EQ(c.getText(Dispid::InquiryTxnID), u"2500");
  EXPECT_EQ(c.getText(Dispid::TransferTxnID), u"2521");
  EXPECT_EQ(c.getText(Dispid::ExpenseTxnID), u"2561");
  EXPECT_EQ(c.getText(Dispid::SupportURL), u"-1");
  EXPECT_EQ(c.getText(Dispid::isPullPlugReader), u"True");
  EXPECT_EQ(c.getInt(Dispid::iDisConnectType), 0);
  EXPECT_EQ(c.getInt(Dispid::iResetType), 0);
  EXPECT_EQ(c.recvLength(), 272u);
  EXPECT_FALSE(c.siteApproved());

  const std::set<Dispid> special = {Dispid::InquiryTxnID, Dispid::TransferTxnID,
                                    Dispid::ExpenseTxnID, Dispid::SupportURL,
                                    Dispid::isPullPlugReader};
  for (const Member& m : memberTable()) {
    const auto id = static_cast<Dispid>(m.dispid);
    if (m.kind == MemberKind::kString && !special.count(id)) {
      EXPECT_EQ(c.getText(id), u"") << m.name;
    }
    if ((m.kind == MemberKind::kLong || m.kind == MemberKind::kShort) &&
        id != Dispid::curAccntIndex && id != Dispid::CheckPINLength && id != Dispid::CheckPINType) {
      EXPECT_EQ(c.getInt(id), 0) << m.name;
    }
  }
  // randomNumber and Pin start absent: a get gives a null string, not an empty one.
  PropertyValue v;
  ASSERT_EQ(c.getProperty(static_cast<int>(Dispid::randomNumber), &v), hresult::kOk);
  EXPECT_FALSE(std::get<std::optional<std::u16string>>(v).has_value());
  ASSERT_EQ(c.getProperty(static_cast<int>(Dispid::Pin), &v), hresult::kOk);
  EXPECT_FALSE(std::get<std::optional<std::u16string>>(v).has_value());
  ASSERT_EQ(c.getProperty(static_cast<int>(Dispid::AgencyNo), &v), hresult::kOk);
  EXPECT_TRUE(std::get<std::optional<std::u16string>>(v).has_value());
}

TEST(ControlProperties, StringsAreStoredUpToTheirFirstZeroAndNullIsAbsent) {
  ControlHarness h;
  CardControl& c = h.control();
  c.putText(Dispid::FdId, std::u16string(u"1234\0"
                                         u"5678",
                                         9));
  EXPECT_EQ(c.getText(Dispid::FdId), u"1234");
  c.putNullableText(Dispid::FdId, std::nullopt);
  PropertyValue v;
  c.getProperty(static_cast<int>(Dispid::FdId), &v);
  EXPECT_FALSE(std::get<std::optional<std::u16string>>(v).has_value());
}

TEST(ControlProperties, IntegersAreStoredUnchangedAndShortsWrapTo16Bits) {
  ControlHarness h;
  CardControl& c = h.control();
  c.putInt(Dispid::curAccntIndex, -7);
  EXPECT_EQ(c.getInt(Dispid::curAccntIndex), -7);
  c.putInt(Dispid::uiSW12, 0x7FFFFFFF);
  EXPECT_EQ(c.getInt(Dispid::uiSW12), 0x7FFFFFFF);
  c.putInt(Dispid::bPq, 65535);
  EXPECT_EQ(c.getInt(Dispid::bPq), -1);
}

TEST(ControlProperties, DispositionAndResetCodesAreMapped) {
  ControlHarness h;
  CardControl& c = h.control();
  const std::pair<int, int> reset[] = {{0, 2}, {1, 1}, {2, 0}, {5, 0}, {-1, 0}};
  for (auto [in, out] : reset) {
    c.putInt(Dispid::iResetType, in);
    EXPECT_EQ(c.getInt(Dispid::iResetType), out) << in;
  }
  const std::pair<int, int> disconnect[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {7, 3}, {-1, 3}};
  for (auto [in, out] : disconnect) {
    c.putInt(Dispid::iDisConnectType, in);
    EXPECT_EQ(c.getInt(Dispid::iDisConnectType), out) << in;
  }
}

TEST(ControlProperties, ReaderIsExemptWhenItsNameOccursInsideTheList) {
  ControlHarness h;
  CardControl& c = h.control();
  c.putText(Dispid::noPullPlugReader, u"Alpha Reader 0;Beta Reader 1");
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"Beta Reader 1", u"False"},  // the second name
      {u"Alpha", u"False"},          // a prefix of a listed name occurs inside the list
      {u"a Reader 0;B", u"False"},   // anything inside counts, separators included
      {u"Gamma Reader", u"True"},
      {u"Beta Reader 1 extra", u"True"},  // longer than anything in the list
      {u"", u"False"},                    // an empty name counts as listed
  };
  for (const auto& [name, expected] : cases) {
    c.putText(Dispid::baReaderName, name);
    EXPECT_EQ(c.getText(Dispid::isPullPlugReader), expected)
        << std::string(name.begin(), name.end());
  }
  // An empty list exempts nobody, not even an empty name.
  c.putText(Dispid::noPullPlugReader, u"");
  c.putText(Dispid::baReaderName, u"");
  EXPECT_EQ(c.getText(Dispid::isPullPlugReader), u"True");
  // isPullPlugReader ignores puts.
  c.putText(Dispid::isPullPlugReader, u"False");
  EXPECT_EQ(c.getText(Dispid::isPullPlugReader), u"True");
}

TEST(ControlProperties, ListChangesTakeEffectAtTheNextReaderNamePut) {
  ControlHarness h;
  CardControl& c = h.control();
  c.putText(Dispid::baReaderName, u"Beta Reader 1");
  c.putText(Dispid::noPullPlugReader, u"Beta Reader 1");
  EXPECT_EQ(c.getText(Dispid::isPullPlugReader), u"True");
  c.putText(Dispid::baReaderName, u"Beta Reader 1");
  EXPECT_EQ(c.getText(Dispid::isPullPlugReader), u"False");
}

TEST(ControlProperties, NonAsciiNamesAreComparedWithoutReadingPastTheList) {
  // The list is counted in characters but compared in bytes: positions never leave the text.
  ControlHarness h;
  CardControl& c = h.control();
  c.putText(Dispid::noPullPlugReader, u"讀卡機");
  c.putText(Dispid::baReaderName, u"讀");
  EXPECT_EQ(c.getText(Dispid::isPullPlugReader), u"False");
  c.putText(Dispid::baReaderName, u"機X");
  EXPECT_EQ(c.getText(Dispid::isPullPlugReader), u"True");
  // A different reader whose name shares only its first bytes with a listed one is not exempt.
  c.putText(Dispid::noPullPlugReader, u"讀卡器X");
  c.putText(Dispid::baReaderName, u"讀卡機Y");
  EXPECT_EQ(c.getText(Dispid::isPullPlugReader), u"True");
  c.putText(Dispid::baReaderName, u"卡器");
  EXPECT_EQ(c.getText(Dispid::isPullPlugReader), u"False");
}

TEST(ControlProperties, ReaderNameFallsBackToTheLastNameOfAnyControl) {
  ControlHarness h;
  CardControl& first = h.control();
  CardControl& second = h.newControl();
  PropertyValue v;
  second.getProperty(static_cast<int>(Dispid::baReaderName), &v);
  EXPECT_FALSE(std::get<std::optional<std::u16string>>(v).has_value());  // none written yet

  first.putText(Dispid::baReaderName, u"Reader A");
  EXPECT_EQ(second.getText(Dispid::baReaderName), u"Reader A");
  second.putText(Dispid::baReaderName, u"Reader B");
  EXPECT_EQ(second.getText(Dispid::baReaderName), u"Reader B");
  EXPECT_EQ(first.getText(Dispid::baReaderName), u"Reader A");
  // An empty own value shows the last name any control was given, even a later one.
  first.putText(Dispid::baReaderName, u"");
  EXPECT_EQ(first.getText(Dispid::baReaderName), u"");
  second.putText(Dispid::baReaderName, u"Reader B");
  EXPECT_EQ(first.getText(Dispid::baReaderName), u"Reader B");

  // isPullPlugReader follows the last put made to any control.
  second.putText(Dispid::noPullPlugReader, u"Reader C");
  second.putText(Dispid::baReaderName, u"Reader C");
  EXPECT_EQ(first.getText(Dispid::isPullPlugReader), u"False");
}

TEST(ControlProperties, SiteApprovalComparesThePrefixIgnoringCaseAndSticks) {
  {
    ControlHarness h;
    h.site(u"HTTPS://EBank.RuzaZUV.example/transfer?x=1");
    EXPECT_EQ(h.control().getText(Dispid::SupportURL), u"0");
    h.control().setClientSite(std::u16string(u"https://elsewhere.example/"));
    EXPECT_EQ(h.control().getText(Dispid::SupportURL), u"0");
    h.control().putText(Dispid::SupportURL, u"-1");
    EXPECT_EQ(h.control().getText(Dispid::SupportURL), u"0");
  }
  {
    ControlHarness h;
    h.site(u"https://ebank.ruzazuv.example.evil.example/");  // the prefix ends in "/"
    EXPECT_EQ(h.control().getText(Dispid::SupportURL), u"-1");
    h.site(u"https://ebank.ruzazuv.exampl");  // shorter than the site address
    EXPECT_EQ(h.control().getText(Dispid::SupportURL), u"-1");
    h.control().setClientSite(std::nullopt);  // a local program is no page
    EXPECT_EQ(h.control().getText(Dispid::SupportURL), u"-1");
  }
  {
    ControlHarness h(nullptr, nullptr, nullptr, u"");
    h.control().setClientSite(std::nullopt);
    EXPECT_EQ(h.control().getText(Dispid::SupportURL), u"0");  // an empty site approves all
  }
}

TEST(ControlProperties, PinIsProcessWideAndReadsAsTheStoredBlock) {
  ControlHarness h;
  h.control().putText(Dispid::Pin, u"123456");
  EXPECT_EQ(h.control().getText(Dispid::Pin), u"123456FFFFFFFFFF");
  EXPECT_EQ(h.newControl().getText(Dispid::Pin), u"123456FFFFFFFFFF");
  EXPECT_EQ(h.control().pinLength(), 6);
}

TEST(ControlProperties, MoneyAndMerchantAreZeroPadded) {
  ControlHarness h;
  CardControl& c = h.control();
  c.putText(Dispid::money, u"150000");
  EXPECT_EQ(c.getText(Dispid::money), u"00000000150000");
  EXPECT_EQ(c.moneyDisplay(), u"1500");
  c.putText(Dispid::money, u"123456789012345678");
  EXPECT_EQ(c.getText(Dispid::money), u"123456789012345678");
  EXPECT_EQ(c.moneyDisplay(), u"1234567890123456");
  c.putText(Dispid::money, u"7");  // too short for a display form
  EXPECT_EQ(c.getText(Dispid::money), u"00000000000007");
  EXPECT_EQ(c.moneyDisplay(), u"");
  c.putText(Dispid::MerchantID, u"MERCHANT01");
  EXPECT_EQ(c.getText(Dispid::MerchantID), std::u16string(20, u'0') + u"MERCHANT01");

  // A null put clears both, as for any other text, instead of padding nothing into zeros.
  for (Dispid id : {Dispid::money, Dispid::MerchantID}) {
    c.putNullableText(id, std::nullopt);
    PropertyValue v;
    ASSERT_EQ(c.getProperty(static_cast<int>(id), &v), hresult::kOk);
    EXPECT_EQ(std::get<std::optional<std::u16string>>(v), std::nullopt);
  }
  EXPECT_EQ(c.moneyDisplay(), u"");
}

TEST(ControlProperties, DispatchRefusesWrongKindsAndTypes) {
  ControlHarness h;
  CardControl& c = h.control();
  PropertyValue v;
  std::int32_t ret = 0;
  EXPECT_EQ(c.getProperty(static_cast<int>(Dispid::ConnectReader), &v), hresult::kMemberNotFound);
  EXPECT_EQ(c.invoke(static_cast<int>(Dispid::iNoR), &ret), hresult::kMemberNotFound);
  EXPECT_EQ(c.getProperty(97, &v), hresult::kMemberNotFound);
  EXPECT_EQ(c.invoke(0, &ret), hresult::kMemberNotFound);
  EXPECT_EQ(c.putProperty(static_cast<int>(Dispid::iNoR), std::optional<std::u16string>(u"1")),
            hresult::kTypeMismatch);
  EXPECT_EQ(c.putProperty(static_cast<int>(Dispid::money), 5), hresult::kTypeMismatch);
  EXPECT_EQ(c.getText(Dispid::money), u"");
}

TEST(MemberTable, HasTheInterfaceShape) {
  int methods = 0;
  for (const Member& m : memberTable()) methods += m.isMethod() ? 1 : 0;
  EXPECT_EQ(memberTable().size(), 96u);
  EXPECT_EQ(methods, 22);
  EXPECT_EQ(findMember("fisccardtransfer")->dispid, 56);
  EXPECT_EQ(findMember("FISCLISTTRADELOG")->dispid, 86);
  EXPECT_EQ(findMember(19)->name, "account0");
  EXPECT_EQ(findMember(85)->name, "tradeLog10");
  EXPECT_EQ(findMember(34)->name, "importaccount7");
  EXPECT_EQ(findMember(1)->help(), "method ConnectReader");
  EXPECT_EQ(findMember(3)->help(), "property iNoR");
  EXPECT_EQ(findMember(40)->typeName(), "short");
  EXPECT_EQ(findMember("NoSuchMember"), nullptr);
  EXPECT_EQ(findMember(0), nullptr);
}

}  // namespace
}  // namespace ruzazuv
