// The transfer confirmation dialog (template 103): the transfer-out account, the transfer-in
// account and the amount, a captionless OK button hidden among two captionless decoys at random
// spots of the placement region, the OK caption flashing on mouse moves, keyboard input blocked
// while it is open, and after two wrong clicks nothing but Cancel.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "ui/dialog_host.h"
#include "ui/dialog_random.h"

namespace ruzazuv {

class ConfirmDialog final : public DialogModel {
 public:
  static constexpr int kTemplateId = 103;
  static constexpr int kTransferOutId = 201;
  static constexpr int kTransferInId = 202;
  static constexpr int kAmountId = 203;
  static constexpr int kOkId = 1;
  static constexpr int kCancelId = 2;
  static constexpr int kDecoyId1 = 204;
  static constexpr int kDecoyId2 = 205;
  static constexpr int kGroupId = 206;
  // Top-left corner of the placement region, in client pixels, whatever the font gives.
  static constexpr int kOriginX = 19;
  static constexpr int kOriginY = 122;
  // Where disabled buttons are parked once only Cancel is left.
  static constexpr int kParkedX = 999;
  static constexpr int kParkedY = 999;
  // The template's 8-point font: 6 x 13 pixels per base unit at 96 dpi.
  static constexpr DialogBaseUnits kBaseUnits{6, 13};

  static constexpr std::int32_t kConfirmed = 1;
  static constexpr std::int32_t kCancelled = 2;
  static constexpr std::int32_t kNotShown = -1;

  // The caption the OK button shows while the mouse moves: the two characters with one space.
  static constexpr std::u16string_view kOkCaption = u"確 定";

  ConfirmDialog(Clock& clock, std::u16string_view transferOut, std::u16string_view transferIn,
                std::u16string_view amount);
  ~ConfirmDialog() override;

  // Shows the dialog on `host` and returns 1 (OK), 2 (Cancel) or -1 (cannot be shown).
  std::int32_t run(DialogHost* host);

  // The template, converted to pixels.
  static const DialogLayout& templateLayout();

  const DialogLayout& layout() const override { return templateLayout(); }
  void onInit(DialogWindow& window) override;
  void onMouseMove(int x, int y) override;
  void onLeftButtonDown(int x, int y) override;
  void onCommand(int id, int notification) override;
  void onClosed() override;

  std::int32_t wrongClickCount() const { return wrongClickCount_; }
  bool locked() const { return wrongClickCount_ >= 2; }
  int buttonWidth() const { return buttonWidth_; }
  int buttonHeight() const { return buttonHeight_; }
  int rangeX() const { return rangeX_; }
  int rangeY() const { return rangeY_; }
  const std::u16string& transferOut() const { return transferOut_; }
  const std::u16string& transferIn() const { return transferIn_; }
  const std::u16string& amount() const { return amount_; }

 private:
  // Seeds the generator with s*s + extra, s being the local time's seconds right now.
  void seedFromSeconds(std::int32_t extra = 0);
  void placeAtRandom(int id);
  void wrongClick();
  void end(std::int32_t code);

  Clock& clock_;
  std::u16string transferOut_;
  std::u16string transferIn_;
  std::u16string amount_;
  DialogWindow* window_ = nullptr;
  std::int32_t wrongClickCount_ = 0;
  int buttonWidth_ = 0;
  int buttonHeight_ = 0;
  int rangeX_ = 0;
  int rangeY_ = 0;
  DialogRandom random_;
  bool installedHook_ = false;
  bool ended_ = false;
};

}  // namespace ruzazuv
