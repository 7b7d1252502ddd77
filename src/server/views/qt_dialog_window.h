// One open dialog of the Qt view: the QDialog with the layout's controls, and the DialogWindow
// through which its model changes it.
#pragma once

#include <QDialog>
#include <QEventLoop>
#include <QPointer>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "ui/dialog_host.h"

class QThread;

namespace ruzazuv::views {

// The dialog's frame: close requests and Esc are ignored (only its model ends it), Enter
// presses no default button, and mouse input that reaches the dialog's own surface (its
// background, and the labels and group boxes, which let the mouse through) goes to the model.
class ViewDialog final : public QDialog {
 public:
  ViewDialog(DialogModel& model, QWidget* owner);

  // From now on no event reaches the model.
  void detachModel() { model_ = nullptr; }
  // A button's click.
  void command(int id);
  void reject() override {}
  void accept() override {}

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  DialogModel* model_;
};

class QtDialogWindow final : public DialogWindow {
 public:
  // Builds the dialog's controls on `dialog` from `layout` and `model`'s colours.
  QtDialogWindow(const DialogLayout& layout, const DialogModel& model, ViewDialog& dialog,
                 QEventLoop& loop);
  ~QtDialogWindow() override;

  DialogRect controlRect(int id) override;
  void moveControl(int id, DialogRect rect) override;
  void setControlText(int id, std::u16string_view text) override;
  void enableControl(int id, bool enabled) override;
  void redraw(int id) override;
  void endDialog(std::int32_t code) override;

  // The code endDialog was given, once it has been called.
  std::optional<std::int32_t> endCode() const;
  // The model is done with the window: later calls change nothing.
  void close();
  // With RUZAZUV_VIEW_DEBUG: logs where the dialog and its buttons are, and how it ended.
  void logOpened() const;
  void logClosed(std::int32_t code) const;

 private:
  struct Control {
    ControlKind kind = ControlKind::kLabel;
    DialogRect rect;
    std::u16string text;
    bool enabled = true;
    QPointer<QWidget> widget;
  };
  using Change = std::function<void()>;

  void build(const DialogLayout& layout, const DialogModel& model);
  // Queues a change and applies the queue now on the dialog's thread, or posts its application
  // to that thread from any other.
  void submit(Change change);
  void applyPending();
  void applyText(Control& control);
  void logButton(int id, const Control& control) const;

  mutable std::mutex mutex_;
  std::map<int, Control> controls_;
  std::deque<Change> pending_;
  std::optional<std::int32_t> endCode_;
  bool closed_ = false;
  int templateId_ = 0;
  bool debug_ = false;
  QThread* thread_;
  QPointer<ViewDialog> dialog_;
  // The dialog itself, as the receiver of posted changes; only used while not closed.
  QObject* receiver_;
  QPointer<QEventLoop> loop_;
  QMetaObject::Connection destroyed_;
};

}  // namespace ruzazuv::views
