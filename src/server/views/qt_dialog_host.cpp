#include "views/qt_dialog_host.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include "views/input_block_filter.h"
#include "views/qt_dialog_window.h"

namespace ruzazuv {
namespace {

using views::InputBlockFilter;
using views::QtDialogWindow;
using views::ViewDialog;

// The application the dialogs can run in: a QApplication, on its own thread.
QApplication* guiApplication() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr || QThread::currentThread() != app->thread()) return nullptr;
  return app;
}

class QtDialogHost final : public DialogHost {
 public:
  QtDialogHost() {
    if (QApplication* app = guiApplication()) start(*app);
  }
  ~QtDialogHost() override {
    if (filter_ != nullptr && QCoreApplication::instance() != nullptr)
      QCoreApplication::instance()->removeEventFilter(filter_.get());
  }

  std::int32_t runModal(DialogModel& model) override;
  void messageBox(std::u16string_view text) override;

 private:
  void start(QApplication& app) {
    if (filter_ != nullptr) return;
    // The dialogs are the only windows of a host service: one closing must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    filter_ = std::make_unique<InputBlockFilter>();
    app.installEventFilter(filter_.get());
  }

  std::unique_ptr<InputBlockFilter> filter_;
};

std::int32_t QtDialogHost::runModal(DialogModel& model) {
  QApplication* app = guiApplication();
  if (app == nullptr) return -1;
  start(*app);

  const DialogLayout& layout = model.layout();
  QWidget* owner = QApplication::activeWindow();
  QEventLoop loop;
  // On the heap: the owner deletes it if it goes first, which ends the loop.
  QPointer<ViewDialog> dialog = new ViewDialog(model, owner);
  QObject::connect(dialog.data(), &QObject::destroyed, &loop, &QEventLoop::quit);

  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (layout.closeBox) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (layout.systemModal) flags |= Qt::WindowStaysOnTopHint;
  dialog->setWindowFlags(flags);
  dialog->setWindowModality(Qt::ApplicationModal);
  dialog->setWindowTitle(QString::fromStdU16String(layout.title));
  dialog->setFixedSize(layout.frame.width, layout.frame.height);
  const QPoint origin = owner != nullptr ? owner->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0);
  dialog->move(origin + QPoint(layout.frame.x, layout.frame.y));

  std::int32_t code = -1;
  {
    QtDialogWindow window(layout, model, *dialog, loop);
    model.onInit(window);
    // A dialog ended while it opened is never shown.
    if (!window.endCode()) {
      dialog->show();
      window.logOpened();
      if (!window.endCode()) loop.exec(QEventLoop::DialogExec);
    }
    // Without an end code the loop was ended from outside (the application exits, the owner
    // went away): the dialog is torn down as one that could not be shown.
    code = window.endCode().value_or(-1);
    window.logClosed(code);
    window.close();
    if (dialog != nullptr) dialog->detachModel();
    model.onClosed();
  }
  if (dialog != nullptr) {
    dialog->hide();
    delete dialog.data();
  }
  return code;
}

void QtDialogHost::messageBox(std::u16string_view text) {
  if (guiApplication() == nullptr) return;
  QString shown = QString::fromStdU16String(std::u16string(text));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(QMessageBox::NoIcon, QString(), shown, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace

std::unique_ptr<DialogHost> makeQtDialogHost() {
  return std::make_unique<QtDialogHost>();
}

}  // namespace ruzazuv
