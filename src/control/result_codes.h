// The numbers the control reports besides PC/SC results: the result of a refusal, the detail
// codes an operation writes into uiSW12 when it refuses on its own, and the outcome codes of the
// pull-plug procedure. Every part of the control takes them from here.
#pragma once

#include <cstdint>

namespace ruzazuv {

// A method's result when it refused on its own; the reason is in uiSW12.
inline constexpr std::int32_t kRefusedResult = -1001;

namespace detail_code {
inline constexpr std::int32_t kPinLengthRefused = 1001;   // ChangePIN: not 6 to 12, or no block
inline constexpr std::int32_t kPinNotDigits = 1002;       // ChangePIN: a character not 0 to 9
inline constexpr std::int32_t kPinReverifyFailed = 1003;  // payment: the stored PIN refused
inline constexpr std::int32_t kBadCheckCode = 1004;       // FdChkCode
inline constexpr std::int32_t kBadAccount = 1005;  // Account, no account chosen, short txn code
inline constexpr std::int32_t kBadDateTime = 1006;
inline constexpr std::int32_t kBadImportAccount = 1007;
inline constexpr std::int32_t kBadMoney = 1008;
inline constexpr std::int32_t kBadFdId = 1009;
inline constexpr std::int32_t kBadPaymentType = 1010;
inline constexpr std::int32_t kBadCancelNo = 1011;
inline constexpr std::int32_t kBadMerchantId = 1012;
inline constexpr std::int32_t kNoPinBlock = 1013;         // VerifyPIN: baBuf empty
inline constexpr std::int32_t kNoVerifyParameter = 1014;  // VerifyPIN: bPq 0
inline constexpr std::int32_t kUserDeclined = 1015;  // cancelled, not shown, or never pulled out
inline constexpr std::int32_t kSiteNotApproved = 1016;
inline constexpr std::int32_t kApplicationMissing = 1017;
inline constexpr std::int32_t kNoStoredPin = 1018;  // the stored PIN has not 6 to 12 digits
inline constexpr std::int32_t kServerAnswerMismatch = 1019;
}  // namespace detail_code

// Outcomes of RunPullPlugProcedure.
namespace outcome {
inline constexpr std::int32_t kPassed = 2000;
inline constexpr std::int32_t kStatusFailed = 2001;
inline constexpr std::int32_t kNeverRemoved = 2002;
inline constexpr std::int32_t kNotReinserted = 2003;
inline constexpr std::int32_t kRemovedTooSoon = 2004;
inline constexpr std::int32_t kReinsertedTooSoon = 2005;
inline constexpr std::int32_t kDifferentCard = 2010;
inline constexpr std::int32_t kPinMismatch = 2011;
inline constexpr std::int32_t kIdentityUnreadable = 2012;
inline constexpr std::int32_t kNoTimer = -99;  // also the countdown's outcome before it has one
inline constexpr std::int32_t kDialogNotShown = -1;
}  // namespace outcome

}  // namespace ruzazuv
