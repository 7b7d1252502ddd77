// The pull-plug countdown dialog (template 113): one red static text on the button-face
// background that shows the remaining seconds and then, for five seconds, the outcome. It closes
// only through EndCountdown, which the pull-plug poll calls on the timer's thread.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "control/result_codes.h"
#include "platform/multimedia_timer.h"
#include "ui/dialog_host.h"

namespace ruzazuv {

// The period the pull-plug timers run with: the finest the system offers, never below 1 ms.
std::uint32_t pullPlugTimerPeriod(const TimerCaps& caps);

class CountdownDialog final : public DialogModel {
 public:
  static constexpr int kTemplateId = 113;
  static constexpr int kTextId = 207;
  static constexpr std::int32_t kNoOutcome = outcome::kNoTimer;
  static constexpr std::int32_t kPassed = outcome::kPassed;
  static constexpr std::uint32_t kCloseDelayMs = 5000;
  static constexpr std::size_t kBufferSize = 129;  // 128 bytes of text and a terminating zero
  // The template's 16-point font: pixels per base unit at 96 dpi.
  static constexpr DialogBaseUnits kBaseUnits{11, 21};
  static constexpr ColourRef kTextColour = colourRef(0xF0, 0x00, 0x00);

  // "請於倒數NN秒內將晶片卡拔出，再插入讀卡機，以完成交易" with `seconds` as two digits.
  static std::u16string countdownText(std::int32_t seconds);
  // The dialog's message for outcomes 2001 to 2005 ("[code]..."); empty for other codes.
  static std::u16string outcomeText(std::int32_t code);
  // The message box for outcomes 2010 to 2012 ("...\r\n訊息代號：code"); empty for others.
  static std::u16string messageBoxText(std::int32_t code);

  static const DialogLayout& templateLayout();

  CountdownDialog() = default;
  CountdownDialog(const CountdownDialog&) = delete;
  CountdownDialog& operator=(const CountdownDialog&) = delete;

  // Starts a new run: outcome -99, not ready, no end pending, an empty text buffer; `timer`
  // runs the five-second close timer.
  void reset(MultimediaTimer& timer);
  // Shows `text` in static 207: the buffer takes at most 128 bytes of it in code page 950
  // (UTF-8 where that code page is not available), cut at a character boundary. Any thread.
  void showText(std::u16string_view text);
  // Records `code` as the outcome and ends the dialog: at once for 2000; otherwise after its
  // message (2001 to 2005) has been shown for five seconds. Any thread.
  void EndCountdown(std::int32_t code);
  // Cancels a close timer that is still pending (waits for one that is running).
  void stopCloseTimer();
  // Runs the dialog on `host`; -1 when there is none or it cannot be created.
  std::int32_t run(DialogHost* host);

  std::int32_t outcome() const;
  bool ready() const;
  // What static 207 shows: the buffer's text.
  std::u16string text() const;
  // The buffer's bytes up to its terminating zero.
  std::string bufferBytes() const;
  // Whether the buffer holds code page 950 (false: UTF-8).
  static bool bufferIsCp950();

  const DialogLayout& layout() const override { return templateLayout(); }
  void onInit(DialogWindow& window) override;
  std::optional<ControlColours> controlColours(int id) const override;
  void onClosed() override;

 private:
  // Ends the dialog with `code` now, or as soon as its window has opened.
  void endDialog(std::int32_t code);
  std::u16string textLocked() const;

  mutable std::mutex mutex_;
  DialogWindow* window_ = nullptr;
  std::int32_t outcome_ = kNoOutcome;
  std::array<char, kBufferSize> buffer_{};
  bool ready_ = false;
  std::optional<std::int32_t> pendingEnd_;
  bool ended_ = false;
  MultimediaTimer* timer_ = nullptr;
  MultimediaTimer::TimerId closeTimer_ = 0;
};

}  // namespace ruzazuv
