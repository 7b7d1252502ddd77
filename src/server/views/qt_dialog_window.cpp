#include "views/qt_dialog_window.h"

#include <QCloseEvent>
#include <QDebug>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <cmath>
#include <vector>

#include "views/dialog_style.h"

namespace ruzazuv::views {
namespace {

QRect toQRect(DialogRect r) {
  return QRect(r.x, r.y, r.width, r.height);
}
QString toQString(std::u16string_view text) {
  return QString::fromStdU16String(std::u16string(text));
}

// Client coordinates as the window messages carry them: signed 16-bit values.
int clientCoordinate(qreal value) {
  return static_cast<std::int16_t>(static_cast<int>(std::floor(value)));
}

}  // namespace

ViewDialog::ViewDialog(DialogModel& model, QWidget* owner) : QDialog(owner), model_(&model) {
  setMouseTracking(true);
}

void ViewDialog::command(int id) {
  if (model_ != nullptr) model_->onCommand(id, 0);
}

void ViewDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
}

void ViewDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Enter:
    case Qt::Key_Return:
      event->accept();  // no Cancel on Esc, no default button on Enter
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void ViewDialog::mouseMoveEvent(QMouseEvent* event) {
  if (model_ != nullptr)
    model_->onMouseMove(clientCoordinate(event->position().x()),
                        clientCoordinate(event->position().y()));
  event->accept();
}

void ViewDialog::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && model_ != nullptr)
    model_->onLeftButtonDown(clientCoordinate(event->position().x()),
                             clientCoordinate(event->position().y()));
  event->accept();
}

void ViewDialog::mouseDoubleClickEvent(QMouseEvent* event) {
  // A dialog without double-click messages sees the second press of a double click as a press.
  mousePressEvent(event);
}

QtDialogWindow::QtDialogWindow(const DialogLayout& layout, const DialogModel& model,
                               ViewDialog& dialog, QEventLoop& loop)
    : templateId_(layout.templateId),
      debug_(!qEnvironmentVariableIsEmpty("RUZAZUV_VIEW_DEBUG")),
      thread_(dialog.thread()),
      dialog_(&dialog),
      receiver_(&dialog),
      loop_(&loop) {
  build(layout, model);
  // A dialog deleted with its owner takes no more changes, from any thread.
  destroyed_ = QObject::connect(&dialog, &QObject::destroyed, [this] { close(); });
}

QtDialogWindow::~QtDialogWindow() {
  QObject::disconnect(destroyed_);
  close();
}

void QtDialogWindow::build(const DialogLayout& layout, const DialogModel& model) {
  ViewDialog& dialog = *dialog_;
  const QFont font = dialogFont(layout.fontFace, layout.fontPoints);
  dialog.setFont(font);
  std::vector<QWidget*> created;
  QWidget* groupBoxes = nullptr;
  int unnamed = 0;
  for (const ControlLayout& c : layout.controls) {
    QWidget* widget = nullptr;
    const QString text = toQString(c.text);
    switch (c.kind) {
      case ControlKind::kEdit: {
        auto* edit = new QLineEdit(text, &dialog);
        edit->setFrame(c.border);
        edit->setCursorPosition(0);
        widget = edit;
        break;
      }
      case ControlKind::kButton: {
        auto* button = new QPushButton(text, &dialog);
        button->setAutoDefault(false);
        button->setDefault(false);
        const int id = c.id;
        // A click on an enabled button is its command with notification 0.
        QObject::connect(button, &QPushButton::clicked, &dialog,
                         [&dialog, id] { dialog.command(id); });
        widget = button;
        break;
      }
      case ControlKind::kGroupBox: {
        auto* group = new QGroupBox(text, &dialog);
        group->setFlat(false);
        widget = group;
        groupBoxes = group;
        break;
      }
      case ControlKind::kLabel:
      case ControlKind::kStatic: {
        auto* label = new QLabel(text, &dialog);
        label->setAlignment(c.centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(false);
        widget = label;
        break;
      }
    }
    widget->setGeometry(toQRect(c.rect));
    widget->setEnabled(c.enabled);
    // Buttons without a tab stop take no keyboard focus at all, so that no key can press them.
    widget->setFocusPolicy(c.tabStop && c.kind != ControlKind::kLabel ? Qt::TabFocus : Qt::NoFocus);
    if (c.kind == ControlKind::kLabel || c.kind == ControlKind::kStatic ||
        c.kind == ControlKind::kGroupBox) {
      // Statics and group boxes are transparent to hit-testing: presses and moves over them
      // belong to the dialog's surface.
      widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    if (c.id != kNoControlId) {
      if (const std::optional<ControlColours> colours = model.controlColours(c.id)) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, toQColor(colours->text));
        palette.setColor(QPalette::Window, systemColour(colours->background));
        widget->setPalette(palette);
        // The text is drawn without a background of its own, over the brush.
        widget->setAutoFillBackground(true);
      }
      widget->setObjectName(QStringLiteral("control-%1").arg(c.id));
      widget->setProperty("controlId", c.id);
      controls_[c.id] = Control{c.kind, c.rect, c.text, c.enabled, widget};
    } else {
      widget->setObjectName(QStringLiteral("label-%1").arg(++unnamed));
    }
    created.push_back(widget);
  }
  // The first control of a template is the topmost: it is hit first where controls overlap.
  for (auto it = created.rbegin(); it != created.rend(); ++it) (*it)->raise();
  // A group box only frames the others; it never covers them.
  if (groupBoxes != nullptr) groupBoxes->lower();
}

DialogRect QtDialogWindow::controlRect(int id) {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(id);
  return it == controls_.end() ? DialogRect{} : it->second.rect;
}

void QtDialogWindow::moveControl(int id, DialogRect rect) {
  {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(id);
    if (closed_ || it == controls_.end()) return;
    it->second.rect = rect;
  }
  submit([this, id, rect] {
    Control& c = controls_.at(id);
    if (c.widget == nullptr) return;
    c.widget->setGeometry(toQRect(rect));
    c.widget->update();
    if (debug_ && c.kind == ControlKind::kButton && dialog_->isVisible()) logButton(id, c);
  });
}

void QtDialogWindow::setControlText(int id, std::u16string_view text) {
  const std::u16string value(text);
  {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(id);
    if (closed_ || it == controls_.end()) return;
    it->second.text = value;
  }
  submit([this, id, value] {
    Control& c = controls_.at(id);
    if (c.widget == nullptr) return;
    const QString shown = toQString(value);
    switch (c.kind) {
      case ControlKind::kEdit: {
        auto* edit = static_cast<QLineEdit*>(c.widget.data());
        edit->setText(shown);
        edit->setCursorPosition(0);
        break;
      }
      case ControlKind::kButton:
        static_cast<QPushButton*>(c.widget.data())->setText(shown);
        break;
      case ControlKind::kGroupBox:
        static_cast<QGroupBox*>(c.widget.data())->setTitle(shown);
        break;
      case ControlKind::kLabel:
      case ControlKind::kStatic:
        static_cast<QLabel*>(c.widget.data())->setText(shown);
        break;
    }
  });
}

void QtDialogWindow::enableControl(int id, bool enabled) {
  {
    std::lock_guard lock(mutex_);
    auto it = controls_.find(id);
    if (closed_ || it == controls_.end()) return;
    it->second.enabled = enabled;
  }
  submit([this, id, enabled] {
    Control& c = controls_.at(id);
    if (c.widget != nullptr) c.widget->setEnabled(enabled);
  });
}

void QtDialogWindow::redraw(int id) {
  {
    std::lock_guard lock(mutex_);
    if (closed_ || (id != kWholeDialog && controls_.count(id) == 0)) return;
  }
  submit([this, id] {
    QWidget* widget = id == kWholeDialog ? dialog_.data() : controls_.at(id).widget.data();
    if (widget != nullptr) widget->repaint();
  });
}

void QtDialogWindow::endDialog(std::int32_t code) {
  {
    std::lock_guard lock(mutex_);
    if (closed_ || endCode_) return;
    endCode_ = code;
  }
  submit([this] {
    if (dialog_ != nullptr) dialog_->hide();
    // The loop may not run yet (ended while opening): runModal then does not enter it.
    if (loop_ != nullptr) loop_->quit();
  });
}

std::optional<std::int32_t> QtDialogWindow::endCode() const {
  std::lock_guard lock(mutex_);
  return endCode_;
}

void QtDialogWindow::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  pending_.clear();
}

void QtDialogWindow::submit(Change change) {
  std::unique_lock lock(mutex_);
  if (closed_) return;
  pending_.push_back(std::move(change));
  if (QThread::currentThread() == thread_) {
    // Applied outside the lock: a change runs Qt code that may call back into the view.
    lock.unlock();
    applyPending();
    return;
  }
  // Posted while the lock is held, so that close() cannot let the dialog go meanwhile. The
  // dialog lives on its own thread; a post to a dialog already gone is dropped with it.
  QMetaObject::invokeMethod(
      receiver_, [this] { applyPending(); }, Qt::QueuedConnection);
}

void QtDialogWindow::applyPending() {
  for (;;) {
    Change change;
    {
      std::lock_guard lock(mutex_);
      if (closed_ || pending_.empty()) return;
      change = std::move(pending_.front());
      pending_.pop_front();
    }
    change();
  }
}

void QtDialogWindow::logButton(int id, const Control& c) const {
  if (c.widget == nullptr || dialog_ == nullptr) return;
  const QRect r = c.widget->geometry();
  const QPoint centre = dialog_->mapToGlobal(r.center());
  qInfo("ruzazuv-view: dialog %d control %d client %d,%d %dx%d centre-screen %d,%d %s", templateId_,
        id, r.x(), r.y(), r.width(), r.height(), centre.x(), centre.y(),
        c.widget->isEnabled() ? "enabled" : "disabled");
}

void QtDialogWindow::logOpened() const {
  if (!debug_ || dialog_ == nullptr) return;
  const QRect r = dialog_->geometry();
  qInfo("ruzazuv-view: dialog %d open at screen %d,%d %dx%d", templateId_, r.x(), r.y(), r.width(),
        r.height());
  for (const auto& [id, c] : controls_)
    if (c.kind == ControlKind::kButton) logButton(id, c);
}

void QtDialogWindow::logClosed(std::int32_t code) const {
  if (debug_) qInfo("ruzazuv-view: dialog %d closed with %d", templateId_, static_cast<int>(code));
}

}  // namespace ruzazuv::views
