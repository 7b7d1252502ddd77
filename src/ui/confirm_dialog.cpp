#include "ui/confirm_dialog.h"

#include "control/card_control.h"
#include "ui/keyboard_block_hook.h"

namespace ruzazuv {
namespace {

ControlLayout control(int id, ControlKind kind, DialogRect units, std::u16string_view text) {
  ControlLayout c;
  c.id = id;
  c.kind = kind;
  c.rect = dialogUnitsToPixels(units, ConfirmDialog::kBaseUnits);
  c.text = std::u16string(text);
  return c;
}

ControlLayout accountBox(int id, DialogRect units) {
  ControlLayout c = control(id, ControlKind::kEdit, units, u"");
  c.enabled = false;
  c.border = true;
  c.autoHScroll = true;
  return c;
}

ControlLayout button(int id, DialogRect units, std::u16string_view text) {
  ControlLayout c = control(id, ControlKind::kButton, units, text);
  c.tabStop = false;
  return c;
}

ControlLayout label(DialogRect units, std::u16string_view text) {
  ControlLayout c = control(kNoControlId, ControlKind::kLabel, units, text);
  c.tabStop = false;
  return c;
}

DialogLayout makeLayout() {
  DialogLayout d;
  d.templateId = ConfirmDialog::kTemplateId;
  d.title = u"交易內容確認";
  d.frame = dialogUnitsToPixels({200, 100, 212, 149}, ConfirmDialog::kBaseUnits);
  d.fontFace = u"MS Sans Serif";
  d.fontPoints = 8;
  d.systemModal = false;
  d.closeBox = false;
  d.defaultFocus = false;
  d.anyThread = false;
  d.controls = {
      accountBox(ConfirmDialog::kTransferOutId, {53, 12, 148, 14}),
      accountBox(ConfirmDialog::kTransferInId, {53, 31, 148, 14}),
      accountBox(ConfirmDialog::kAmountId, {53, 50, 96, 14}),
      button(ConfirmDialog::kOkId, {12, 75, 40, 15}, u"確定"),
      button(ConfirmDialog::kCancelId, {161, 50, 40, 15}, u"取消"),
      label({13, 17, 34, 9}, u"轉出帳號"),
      label({13, 36, 34, 9}, u"轉入帳號"),
      label({13, 55, 34, 8}, u"金\u3000\u3000額"),
      control(ConfirmDialog::kGroupId, ControlKind::kGroupBox, {12, 71, 190, 50}, u""),
      label({13, 129, 146, 9}, u"請移動滑鼠,點選曾經出現 [確定] 按鈕"),
      label({13, 138, 189, 9}, u"若兩次未能正確點選 [確定] 按鈕, 僅能按 [取消] 按鈕"),
      button(ConfirmDialog::kDecoyId1, {161, 75, 40, 15}, u""),
      button(ConfirmDialog::kDecoyId2, {161, 90, 40, 15}, u""),
  };
  return d;
}

}  // namespace

const DialogLayout& ConfirmDialog::templateLayout() {
  static const DialogLayout layout = makeLayout();
  return layout;
}

ConfirmDialog::ConfirmDialog(Clock& clock, std::u16string_view transferOut,
                             std::u16string_view transferIn, std::u16string_view amount)
    : clock_(clock), transferOut_(transferOut), transferIn_(transferIn), amount_(amount) {}

ConfirmDialog::~ConfirmDialog() {
  // A view that tore the window down without OK or Cancel must not leave input blocked.
  if (installedHook_ && !ended_) KeyboardBlockHook::remove();
}

std::int32_t ConfirmDialog::run(DialogHost* host) {
  if (host == nullptr) return kNotShown;
  return host->runModal(*this);
}

void ConfirmDialog::seedFromSeconds(std::int32_t extra) {
  const std::int32_t s = clock_.localTime().second;
  random_.seed(static_cast<std::uint32_t>(s * s + extra));
}

void ConfirmDialog::placeAtRandom(int id) {
  // Ranges are positive for the template's geometry; a view that measures smaller buttons or
  // region still gets a position inside it rather than a division by zero.
  const int x = kOriginX + random_.next() % (rangeX_ > 0 ? rangeX_ : 1);
  const int y = kOriginY + random_.next() % (rangeY_ > 0 ? rangeY_ : 1);
  window_->moveControl(id, {x, y, buttonWidth_, buttonHeight_});
}

void ConfirmDialog::onInit(DialogWindow& window) {
  window_ = &window;
  installedHook_ = KeyboardBlockHook::install();

  const DialogRect group = window.controlRect(kGroupId);
  const DialogRect ok = window.controlRect(kOkId);
  buttonWidth_ = ok.width;
  buttonHeight_ = ok.height;
  rangeX_ = group.width - buttonWidth_ - 2;
  rangeY_ = group.height - buttonHeight_ - 7;

  seedFromSeconds();
  placeAtRandom(kOkId);
  window.setControlText(kOkId, u"");
  placeAtRandom(kDecoyId1);
  window.setControlText(kDecoyId1, u"");
  placeAtRandom(kDecoyId2);
  window.setControlText(kDecoyId2, u"");

  window.setControlText(kTransferOutId, transferOut_);
  window.setControlText(kTransferInId, transferIn_);
  window.setControlText(kAmountId, amount_);
}

void ConfirmDialog::onMouseMove(int x, int y) {
  if (window_ == nullptr || ended_) return;
  // Client coordinates arrive as signed 16-bit values.
  seedFromSeconds(static_cast<std::int16_t>(x) + static_cast<std::int16_t>(y));
  const int r = random_.next() % 2;
  window_->setControlText(kDecoyId1, u"");
  window_->setControlText(kDecoyId2, u"");
  window_->setControlText(kOkId, r == 1 ? kOkCaption : std::u16string_view());
}

void ConfirmDialog::onLeftButtonDown(int, int) {
  if (window_ == nullptr || ended_) return;
  wrongClick();
}

void ConfirmDialog::wrongClick() {
  ++wrongClickCount_;
  seedFromSeconds();
  if (wrongClickCount_ == 1) {
    for (int id : {kOkId, kDecoyId1, kDecoyId2}) {
      placeAtRandom(id);
      window_->setControlText(id, u"");
    }
    return;
  }
  placeAtRandom(kCancelId);
  for (int id : {kOkId, kDecoyId1, kDecoyId2}) {
    window_->enableControl(id, false);
    const DialogRect r = window_->controlRect(id);
    window_->moveControl(id, {kParkedX, kParkedY, r.width, r.height});
  }
}

void ConfirmDialog::onCommand(int id, int notification) {
  if (window_ == nullptr || ended_) return;
  switch (id) {
    case kOkId:
      if (notification == 0 && wrongClickCount_ < 2) end(kConfirmed);
      break;
    case kCancelId:
      end(kCancelled);
      break;
    case kDecoyId1:
    case kDecoyId2:
      if (notification == 0) wrongClick();
      break;
    default:
      break;
  }
}

void ConfirmDialog::end(std::int32_t code) {
  KeyboardBlockHook::remove();
  ended_ = true;
  window_->endDialog(code);
}

void ConfirmDialog::onClosed() {
  if (installedHook_ && !ended_) KeyboardBlockHook::remove();
  installedHook_ = false;
  window_ = nullptr;
}

std::int32_t CardControl::RunConfirmDialog(std::u16string_view transferOut,
                                           std::u16string_view transferIn,
                                           std::u16string_view amount) {
  // A fresh dialog for every call: each confirmation starts with no wrong clicks.
  ConfirmDialog dialog(services_.clock, transferOut, transferIn, amount);
  return dialog.run(services_.dialogs);
}

}  // namespace ruzazuv
