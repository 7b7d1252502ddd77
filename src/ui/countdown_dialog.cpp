#include "ui/countdown_dialog.h"

#include <algorithm>
#include <cstdio>

#include "platform/text_codec.h"

namespace ruzazuv {
namespace {

// Formats one of the dialog's texts (UTF-8 literals) with a single integer.
template <typename... Args>
std::u16string format(const char* pattern, Args... args) {
  char buffer[256];
  const int n = std::snprintf(buffer, sizeof buffer, pattern, args...);
  if (n < 0) return {};
  return utf8ToUtf16(std::string_view(
      buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1)));
}

const TextCodec& dialogCodec() {
  // The dialog's text lives in code page 950 where the system offers it.
  static const TextCodec codec = [] {
    TextCodec cp950("CP950");
    const std::string probe = cp950.toNarrow(u"倒數");
    return probe == "\xAD\xCB\xBC\xC6" ? cp950 : TextCodec("UTF-8");
  }();
  return codec;
}

// Length of the character starting at byte i of `text` in the dialog's code page.
std::size_t characterLength(const std::string& text, std::size_t i, bool cp950) {
  const auto b = static_cast<unsigned char>(text[i]);
  if (cp950) return b >= 0x81 && b <= 0xFE ? 2 : 1;
  if (b >= 0xF0) return 4;
  if (b >= 0xE0) return 3;
  if (b >= 0xC0) return 2;
  return 1;
}

DialogLayout makeLayout() {
  DialogLayout d;
  d.templateId = CountdownDialog::kTemplateId;
  d.title = u"抽拔晶片卡偵測";
  d.frame = dialogUnitsToPixels({40, 120, 274, 19}, CountdownDialog::kBaseUnits);
  d.fontFace = u"新細明體";
  d.fontPoints = 16;
  d.systemModal = true;
  d.closeBox = false;
  d.defaultFocus = true;
  d.anyThread = true;
  ControlLayout text;
  text.id = CountdownDialog::kTextId;
  text.kind = ControlKind::kStatic;
  text.rect = dialogUnitsToPixels({0, 0, 274, 18}, CountdownDialog::kBaseUnits);
  text.centred = true;
  text.transparent = true;
  text.tabStop = false;
  d.controls = {text};
  return d;
}

}  // namespace

std::uint32_t pullPlugTimerPeriod(const TimerCaps& caps) {
  return std::min(std::max(caps.minPeriodMs, std::uint32_t{1}), caps.maxPeriodMs);
}

std::u16string CountdownDialog::countdownText(std::int32_t seconds) {
  return format("請於倒數%02d秒內將晶片卡拔出，再插入讀卡機，以完成交易", seconds);
}

std::u16string CountdownDialog::outcomeText(std::int32_t code) {
  switch (code) {
    case outcome::kStatusFailed:
      return format("[%d]晶片卡偵測程序異常", code);
    case outcome::kNeverRemoved:
      return format("[%d]時間內未拔插晶片卡", code);
    case outcome::kNotReinserted:
      return format("[%d]時間內未重新插入晶片卡", code);
    case outcome::kRemovedTooSoon:
      return format("[%d]晶片卡拔插時間異常", code);
    case outcome::kReinsertedTooSoon:
      return format("[%d]晶片卡重新插入時間異常", code);
    default:
      return {};
  }
}

std::u16string CountdownDialog::messageBoxText(std::int32_t code) {
  switch (code) {
    case outcome::kDifferentCard:
      return format("與第一次插入之晶片卡不一致\r\n訊息代號：%d", code);
    case outcome::kPinMismatch:
      return format("與原插入之晶片卡密碼不一致\r\n訊息代號：%d", code);
    case outcome::kIdentityUnreadable:
      return format("抽拔後卡片資料讀取失敗\r\n訊息代號：%d", code);
    default:
      return {};
  }
}

const DialogLayout& CountdownDialog::templateLayout() {
  static const DialogLayout layout = makeLayout();
  return layout;
}

bool CountdownDialog::bufferIsCp950() {
  return dialogCodec().codePage() == "CP950";
}

void CountdownDialog::reset(MultimediaTimer& timer) {
  std::lock_guard lock(mutex_);
  window_ = nullptr;
  outcome_ = kNoOutcome;
  buffer_.fill(0);
  ready_ = false;
  pendingEnd_.reset();
  ended_ = false;
  timer_ = &timer;
  closeTimer_ = 0;
}

void CountdownDialog::showText(std::u16string_view text) {
  const TextCodec& codec = dialogCodec();
  const bool cp950 = bufferIsCp950();
  const std::string narrow = codec.toNarrow(text);
  // At most 128 bytes, never half a character.
  std::size_t length = 0;
  while (length < narrow.size()) {
    const std::size_t next = length + characterLength(narrow, length, cp950);
    if (next > kBufferSize - 1 || next > narrow.size()) break;
    length = next;
  }
  std::lock_guard lock(mutex_);
  buffer_.fill(0);
  std::copy_n(narrow.begin(), length, buffer_.begin());
  if (window_ == nullptr) return;
  window_->setControlText(kTextId, textLocked());
  if (ready_) window_->redraw(kTextId);
}

void CountdownDialog::EndCountdown(std::int32_t code) {
  {
    std::lock_guard lock(mutex_);
    outcome_ = code;
  }
  if (code == kPassed) {
    endDialog(code);
    return;
  }
  TimerCaps caps;
  if (timer_ == nullptr || !timer_->getDevCaps(&caps)) {
    endDialog(code);
    return;
  }
  const std::uint32_t period = pullPlugTimerPeriod(caps);
  timer_->beginPeriod(period);
  const std::u16string message = outcomeText(code);
  if (!message.empty()) showText(message);
  const MultimediaTimer::TimerId id = timer_->setEvent(
      kCloseDelayMs, period, [this] { endDialog(outcome()); }, false);
  if (id == 0) {
    endDialog(code);
  } else {
    std::lock_guard lock(mutex_);
    closeTimer_ = id;
  }
  timer_->endPeriod(period);
}

void CountdownDialog::stopCloseTimer() {
  MultimediaTimer::TimerId id = 0;
  MultimediaTimer* timer = nullptr;
  {
    std::lock_guard lock(mutex_);
    id = closeTimer_;
    closeTimer_ = 0;
    timer = timer_;
  }
  // Not under the lock: the close callback takes it while killEvent waits for that callback.
  if (id != 0 && timer != nullptr) timer->killEvent(id);
}

std::int32_t CountdownDialog::run(DialogHost* host) {
  if (host == nullptr) return outcome::kDialogNotShown;
  return host->runModal(*this);
}

void CountdownDialog::endDialog(std::int32_t code) {
  std::lock_guard lock(mutex_);
  if (ended_) return;
  if (window_ == nullptr) {
    pendingEnd_ = code;  // the window has not opened yet: it closes as soon as it has
    return;
  }
  ended_ = true;
  window_->endDialog(code);
}

std::int32_t CountdownDialog::outcome() const {
  std::lock_guard lock(mutex_);
  return outcome_;
}

bool CountdownDialog::ready() const {
  std::lock_guard lock(mutex_);
  return ready_;
}

std::u16string CountdownDialog::textLocked() const {
  const std::size_t length =
      static_cast<std::size_t>(std::find(buffer_.begin(), buffer_.end(), '\0') - buffer_.begin());
  return dialogCodec().toWide(std::string_view(buffer_.data(), length));
}

std::u16string CountdownDialog::text() const {
  std::lock_guard lock(mutex_);
  return textLocked();
}

std::string CountdownDialog::bufferBytes() const {
  std::lock_guard lock(mutex_);
  return std::string(buffer_.data());
}

void CountdownDialog::onInit(DialogWindow& window) {
  std::lock_guard lock(mutex_);
  window_ = &window;
  window.setControlText(kTextId, textLocked());
  window.redraw(kWholeDialog);
  ready_ = true;
  if (pendingEnd_ && !ended_) {
    ended_ = true;
    window.endDialog(*pendingEnd_);
  }
}

std::optional<ControlColours> CountdownDialog::controlColours(int id) const {
  if (id != kTextId) return std::nullopt;
  return ControlColours{kTextColour, true, SystemColour::kButtonFace};
}

void CountdownDialog::onClosed() {
  std::lock_guard lock(mutex_);
  window_ = nullptr;
  ended_ = true;
}

}  // namespace ruzazuv
