// Context, reader listing and the status queries against the simulated PC/SC service.
#include <gtest/gtest.h>

#include "support/control_harness.h"

namespace ruzazuv {
namespace {

using testing::ControlHarness;
using testing::kReader;
using testing::kReaderW;

std::u16string wide(const std::string& s) {
  return utf8ToUtf16(s);
}

class ReaderContextTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(c().call(Dispid::ConnectReader), 0); }
  CardControl& c() { return h.control(); }
  void readers(int n, const std::string& prefix = "Reader ") {
    for (int i = 0; i < n; ++i) h.pcsc.addReader(prefix + std::to_string(i + 1));
  }
  ControlHarness h;
};

TEST_F(ReaderContextTest, NoReaderGivesTheServicesCodeAndMinusOne) {
  h.pcsc.removeReader(kReader);
  c().putText(Dispid::caReader1, u"stale");
  EXPECT_EQ(c().call(Dispid::ListReaders), pcsc_code::kNoReadersAvailable);
  EXPECT_EQ(c().call(Dispid::ListReaders), -2146435026);
  EXPECT_EQ(c().getInt(Dispid::iNoR), -1);
  EXPECT_EQ(c().getText(Dispid::caReader1), u"stale");  // names are kept on failure
}

TEST_F(ReaderContextTest, OneReaderFillsTheFirstSlotAndEmptiesTheNext) {
  c().putText(Dispid::caReader2, u"stale");
  c().putText(Dispid::caReader3, u"kept");
  EXPECT_EQ(c().call(Dispid::ListReaders), 0);
  EXPECT_EQ(c().getInt(Dispid::iNoR), 1);
  EXPECT_EQ(c().getText(Dispid::caReader1), kReaderW);
  EXPECT_EQ(c().getText(Dispid::caReader2), u"");
  EXPECT_EQ(c().getText(Dispid::caReader3), u"kept");
}

TEST_F(ReaderContextTest, FiveAndSevenReadersShareTheLastSlot) {
  readers(4);
  ASSERT_EQ(c().call(Dispid::ListReaders), 0);
  EXPECT_EQ(c().getInt(Dispid::iNoR), 5);
  EXPECT_EQ(c().getText(Dispid::caReader1), kReaderW);
  EXPECT_EQ(c().getText(Dispid::caReader5), u"Reader 4");

  h.pcsc.addReader("Reader 5");
  h.pcsc.addReader("Reader 6");
  ASSERT_EQ(c().call(Dispid::ListReaders), 0);
  EXPECT_EQ(c().getInt(Dispid::iNoR), 7);
  EXPECT_EQ(c().getText(Dispid::caReader4), u"Reader 3");
  EXPECT_EQ(c().getText(Dispid::caReader5), u"Reader 6");
}

TEST_F(ReaderContextTest, ShorterListingKeepsTheSlotsBeyondTheClosingEntry) {
  readers(2);
  ASSERT_EQ(c().call(Dispid::ListReaders), 0);
  EXPECT_EQ(c().getText(Dispid::caReader3), u"Reader 2");
  h.pcsc.removeReader(kReader);
  h.pcsc.removeReader("Reader 1");
  ASSERT_EQ(c().call(Dispid::ListReaders), 0);
  EXPECT_EQ(c().getInt(Dispid::iNoR), 1);
  EXPECT_EQ(c().getText(Dispid::caReader1), u"Reader 2");
  EXPECT_EQ(c().getText(Dispid::caReader2), u"");
  EXPECT_EQ(c().getText(Dispid::caReader3), u"Reader 2");
}

TEST_F(ReaderContextTest, OverlongReaderNameIsCutWithoutOverrun) {
  const std::string longName(1500, 'N');
  h.pcsc.addReader(longName);
  h.pcsc.addReader("After");
  ASSERT_EQ(c().call(Dispid::ListReaders), 0);
  EXPECT_EQ(c().getInt(Dispid::iNoR), 3);
  EXPECT_EQ(c().getText(Dispid::caReader2), std::u16string(1023, u'N'));
  EXPECT_EQ(c().getText(Dispid::caReader3), u"After");
}

TEST_F(ReaderContextTest, ListLongerThanTheBufferIsAFailure) {
  for (int i = 0; i < 3; ++i) h.pcsc.addReader(std::string(900, static_cast<char>('a' + i)));
  EXPECT_EQ(c().call(Dispid::ListReaders), pcsc_code::kInsufficientBuffer);
  EXPECT_EQ(c().getInt(Dispid::iNoR), -1);
}

TEST_F(ReaderContextTest, CardStatusReportsStateAndAtr) {
  c().putText(Dispid::baReaderName, kReaderW);
  ASSERT_EQ(c().call(Dispid::GetCardStatus), 0);
  const auto atr = h.card->atr();
  EXPECT_EQ(c().getInt(Dispid::ulLen), static_cast<int>(atr.size()));
  EXPECT_EQ(c().getInt(Dispid::ulLen), 19);
  EXPECT_EQ(c().getText(Dispid::baATR), wide(testing::hexOf(atr)));
  EXPECT_NE(c().getInt(Dispid::ulState) & kStatePresent, 0);

  h.pcsc.removeCard(kReader);
  ASSERT_EQ(c().call(Dispid::GetCardStatus), 0);
  EXPECT_NE(c().getInt(Dispid::ulState) & kStateEmpty, 0);
  EXPECT_EQ(c().getInt(Dispid::ulState) & kStatePresent, 0);
}

TEST_F(ReaderContextTest, UnknownReaderLeavesTheStatusUnchanged) {
  c().putText(Dispid::baReaderName, kReaderW);
  ASSERT_EQ(c().call(Dispid::GetCardStatus), 0);
  const int state = c().getInt(Dispid::ulState);
  c().putText(Dispid::baReaderName, u"No Such Reader");
  EXPECT_EQ(c().call(Dispid::GetCardStatus), -2146435063);
  EXPECT_EQ(c().getInt(Dispid::ulState), state);
  EXPECT_EQ(c().getInt(Dispid::ulLen), 19);
}

TEST_F(ReaderContextTest, CheckCardInsertAnswersFromTheLastGoodQuery) {
  // Before any query has succeeded the answer is "no card".
  h.pcsc.failCall("getStatusChange", pcsc_code::kNoService);
  c().putText(Dispid::baReaderName, kReaderW);
  EXPECT_EQ(c().call(Dispid::CheckCardInsert), 1);
  EXPECT_EQ(c().call(Dispid::CheckCardInsert), 0);
  h.pcsc.failCall("getStatusChange", pcsc_code::kNoService);
  EXPECT_EQ(c().call(Dispid::CheckCardInsert), 0);  // failure: the last answer stands
  h.pcsc.removeCard(kReader);
  EXPECT_EQ(c().call(Dispid::CheckCardInsert), 1);
}

TEST_F(ReaderContextTest, GetStatusFollowsTheConnectedCard) {
  c().putText(Dispid::baReaderName, kReaderW);
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  EXPECT_EQ(c().call(Dispid::GetStatus), 0);
  h.pcsc.removeCard(kReader);
  EXPECT_EQ(c().call(Dispid::GetStatus), CardControl::kRefused);
  const int reason = c().getInt(Dispid::uiSW12);
  EXPECT_TRUE(reason == pcsc_code::kRemovedCard || reason == 1) << reason;
}

TEST_F(ReaderContextTest, ReaderAttributeIsReportedAsHex) {
  c().putText(Dispid::baReaderName, kReaderW);
  ASSERT_EQ(c().call(Dispid::ConnectCard), 0);
  h.pcsc.setAttribute(kReader, 0x00010100, {0x12, 0xAB, 0x00, 0x7F});
  c().putInt(Dispid::dwAttrId, 0x00010100);
  EXPECT_EQ(c().call(Dispid::GetReaderStatus), 0);
  EXPECT_EQ(c().getInt(Dispid::pcbAttrLen), 4);
  EXPECT_EQ(c().getText(Dispid::pbAttr), u"12AB007F");

  c().putInt(Dispid::dwAttrId, 0x7A007);  // not offered: the values stay
  EXPECT_EQ(c().call(Dispid::GetReaderStatus), pcsc_code::kUnsupportedFeature);
  EXPECT_EQ(c().getInt(Dispid::pcbAttrLen), 4);
  EXPECT_EQ(c().getText(Dispid::pbAttr), u"12AB007F");
}

TEST_F(ReaderContextTest, ReleasedContextIsPassedOnAndFails) {
  EXPECT_EQ(c().call(Dispid::DisConnectReader), 0);
  EXPECT_NE(c().call(Dispid::ListReaders), 0);
  EXPECT_EQ(c().getInt(Dispid::iNoR), -1);
  EXPECT_NE(c().call(Dispid::DisConnectReader), 0);
  // A new context replaces the stale one.
  EXPECT_EQ(c().call(Dispid::ConnectReader), 0);
  EXPECT_EQ(c().call(Dispid::ListReaders), 0);
}

}  // namespace
}  // namespace ruzazuv
