// The Qt Widgets views on the real widgets (offscreen platform): the dialogs as built from their
// models, the real buttons found where the model placed them, which mouse input reaches the
// model, what the keyboard block swallows, the countdown's look and its calls from another
// thread, message boxes. Screenshots of both dialogs are saved into the build tree.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRawFont>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "support/fake_clock.h"
#include "support/fake_timer.h"
#include "ui/confirm_dialog.h"
#include "ui/countdown_dialog.h"
#include "ui/dialog_random.h"
#include "ui/keyboard_block_hook.h"
#include "views/input_block_filter.h"
#include "views/qt_dialog_host.h"

namespace ruzazuv {
namespace {

using ruzazuv::testing::FakeClock;
using ruzazuv::testing::FakeTimer;

QRect toQRect(DialogRect r) {
  return QRect(r.x, r.y, r.width, r.height);
}
QString q(std::u16string_view text) {
  return QString::fromStdU16String(std::u16string(text));
}

// Forwards to a model and counts the events the view delivers.
class CountingModel final : public DialogModel {
 public:
  explicit CountingModel(DialogModel& model) : model_(model) {}
  const DialogLayout& layout() const override { return model_.layout(); }
  void onInit(DialogWindow& window) override {
    ++inits;
    model_.onInit(window);
  }
  void onMouseMove(int x, int y) override {
    ++moves;
    model_.onMouseMove(x, y);
  }
  void onLeftButtonDown(int x, int y) override {
    ++presses;
    model_.onLeftButtonDown(x, y);
  }
  void onCommand(int id, int notification) override {
    commands.push_back(id);
    model_.onCommand(id, notification);
  }
  std::optional<ControlColours> controlColours(int id) const override {
    return model_.controlColours(id);
  }
  void onClosed() override {
    ++closes;
    model_.onClosed();
  }

  int inits = 0;
  int moves = 0;
  int presses = 0;
  int closes = 0;
  std::vector<int> commands;

 private:
  DialogModel& model_;
};

// Where the confirmation model puts `count` buttons after seeding with second * second: x then
// y for each, from the placement region's origin, within the ranges the template's OK button
// and group box leave.
std::vector<QRect> placements(int second, int count) {
  const DialogLayout& layout = ConfirmDialog::templateLayout();
  const DialogRect ok = layout.control(ConfirmDialog::kOkId)->rect;
  const DialogRect group = layout.control(ConfirmDialog::kGroupId)->rect;
  DialogRandom random;
  random.seed(static_cast<std::uint32_t>(second * second));
  std::vector<QRect> out;
  for (int i = 0; i < count; ++i) {
    const int x = ConfirmDialog::kOriginX + random.next() % (group.width - ok.width - 2);
    const int y = ConfirmDialog::kOriginY + random.next() % (group.height - ok.height - 7);
    out.emplace_back(x, y, ok.width, ok.height);
  }
  return out;
}

// Whether the model's OK caption shows after a move to (x, y) at `second`.
bool captionShownAfterMove(int second, int x, int y) {
  DialogRandom random;
  random.seed(static_cast<std::uint32_t>(second * second + x + y));
  return random.next() % 2 == 1;
}

QWidget* control(QWidget& dialog, int id) {
  return dialog.findChild<QWidget*>(QStringLiteral("control-%1").arg(id));
}

// Input as the window system delivers it: to the dialog's window at a client point, from where
// Qt routes it to the topmost widget there that takes the mouse.
void clickAt(QWidget& dialog, QPoint p) {
  QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {}, p);
}
void moveTo(QWidget& dialog, QPoint p) {
  QTest::mouseMove(dialog.windowHandle(), p);
}

void saveScreenshot(QWidget& dialog, const QString& name) {
  const QString dir = QStringLiteral(RUZAZUV_SCREENSHOT_DIR);
  ASSERT_TRUE(QDir().mkpath(dir));
  EXPECT_TRUE(dialog.grab().save(dir + QLatin1Char('/') + name)) << name.toStdString();
}

// Every character of `text` is drawn from one of the font's faces (no boxes for missing glyphs).
void expectGlyphsFor(const QFont& font, const QString& text) {
  std::vector<QRawFont> faces;
  for (const QString& family : font.families()) {
    QFont single(family);
    single.setPixelSize(font.pixelSize());
    QRawFont raw = QRawFont::fromFont(single);
    if (raw.isValid() && QFontInfo(single).family().compare(family, Qt::CaseInsensitive) == 0)
      faces.push_back(raw);
  }
  for (const QChar c : text) {
    if (c.isSpace()) continue;
    bool found = false;
    for (const QRawFont& face : faces) found = found || face.supportsCharacter(c);
    EXPECT_TRUE(found) << "no installed face of the dialog's font draws U+" << std::hex
                       << static_cast<unsigned>(c.unicode());
  }
}

// Counts the top-level windows shown while it exists.
class WindowsShown final : public QObject {
 public:
  WindowsShown() { QCoreApplication::instance()->installEventFilter(this); }
  ~WindowsShown() override { QCoreApplication::instance()->removeEventFilter(this); }
  int shown = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow())
      ++shown;
    return false;
  }
};

class QtViews : public ::testing::Test {
 protected:
  void SetUp() override { host_ = makeQtDialogHost(); }
  void TearDown() override {
    EXPECT_FALSE(KeyboardBlockHook::installed()) << "the keyboard block outlived its dialog";
    KeyboardBlockHook::remove();
  }

  // Runs `model` on the view; `steps` run inside the modal loop once the dialog is open. A
  // dialog that is still open after the steps is a failure when `mustEnd` is set: the test
  // ends the application's loops rather than hang.
  std::int32_t run(DialogModel& model, std::function<void(QWidget&)> steps, bool mustEnd = true) {
    QTimer::singleShot(0, [steps, mustEnd] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (dialog == nullptr) {
        ADD_FAILURE() << "no dialog is open";
        QCoreApplication::exit(1);
        return;
      }
      steps(*dialog);
      if (mustEnd && dialog->isVisible()) {
        ADD_FAILURE() << "the dialog is still open after the test's steps";
        QCoreApplication::exit(1);
      }
    });
    return host_->runModal(model);
  }

  std::unique_ptr<DialogHost> host_;
  FakeClock clock_{1000, 12};
};

// --- The confirmation dialog ------------------------------------------------------------------

TEST_F(QtViews, ConfirmationIsBuiltFromItsTemplateWithTheAccountsAndAmount) {
  ConfirmDialog model(clock_, u"808/0012345678901", u"812/9876543210", u"1,500");
  const DialogLayout& layout = ConfirmDialog::templateLayout();
  const std::int32_t code = run(model, [&](QWidget& dialog) {
    EXPECT_EQ(dialog.windowTitle(), q(u"交易內容確認"));
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint) << "the dialog has no close box";
    EXPECT_FALSE(flags & Qt::WindowSystemMenuHint) << "the dialog has no system menu";
    EXPECT_FALSE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialog.size(), QSize(layout.frame.width, layout.frame.height));
    EXPECT_EQ(dialog.pos(), QPoint(layout.frame.x, layout.frame.y)) << "no owner: screen origin";
    EXPECT_EQ(dialog.font().pixelSize(), 11);

    for (int id :
         {ConfirmDialog::kTransferOutId, ConfirmDialog::kTransferInId, ConfirmDialog::kAmountId}) {
      auto* edit = qobject_cast<QLineEdit*>(control(dialog, id));
      ASSERT_NE(edit, nullptr) << id;
      EXPECT_FALSE(edit->isEnabled()) << id;
      EXPECT_TRUE(edit->hasFrame()) << id;
      EXPECT_EQ(edit->geometry(), toQRect(layout.control(id)->rect)) << id;
    }
    EXPECT_EQ(qobject_cast<QLineEdit*>(control(dialog, 201))->text(), "808/0012345678901");
    EXPECT_EQ(qobject_cast<QLineEdit*>(control(dialog, 202))->text(), "812/9876543210");
    EXPECT_EQ(qobject_cast<QLineEdit*>(control(dialog, 203))->text(), "1,500");

    // The three captionless buttons where the model placed them; Cancel where the template has
    // it. None takes the focus, none is a default button.
    const std::vector<QRect> placed = placements(12, 3);
    const int ids[] = {ConfirmDialog::kOkId, ConfirmDialog::kDecoyId1, ConfirmDialog::kDecoyId2};
    for (int i = 0; i < 3; ++i) {
      auto* button = qobject_cast<QPushButton*>(control(dialog, ids[i]));
      ASSERT_NE(button, nullptr) << ids[i];
      EXPECT_EQ(button->geometry(), placed[static_cast<std::size_t>(i)]) << ids[i];
      EXPECT_TRUE(button->text().isEmpty()) << ids[i];
    }
    auto* cancel = qobject_cast<QPushButton*>(control(dialog, ConfirmDialog::kCancelId));
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->geometry(), toQRect(layout.control(ConfirmDialog::kCancelId)->rect));
    EXPECT_EQ(cancel->text(), q(u"取消"));
    for (auto* button : dialog.findChildren<QPushButton*>()) {
      EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
      EXPECT_FALSE(button->isDefault() || button->autoDefault());
    }
    QWidget* focus = QApplication::focusWidget();
    EXPECT_TRUE(focus == nullptr || focus == &dialog) << "a control has the keyboard focus";

    auto* group = qobject_cast<QGroupBox*>(control(dialog, ConfirmDialog::kGroupId));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->geometry(), toQRect(layout.control(ConfirmDialog::kGroupId)->rect));

    // The labels' texts as the template has them, and glyphs for every character of them.
    QStringList labelTexts;
    for (auto* label : dialog.findChildren<QLabel*>()) {
      labelTexts << label->text();
      expectGlyphsFor(label->font(), label->text());
    }
    for (std::u16string_view text :
         {u"轉出帳號", u"轉入帳號", u"金\u3000\u3000額", u"請移動滑鼠,點選曾經出現 [確定] 按鈕",
          u"若兩次未能正確點選 [確定] 按鈕, 僅能按 [取消] 按鈕"})
      EXPECT_TRUE(labelTexts.contains(q(text))) << QString(q(text)).toStdString();

    clickAt(dialog, cancel->geometry().center());
  });
  EXPECT_EQ(code, ConfirmDialog::kCancelled);
}

TEST_F(QtViews, TheRealOkButtonIsWhereTheModelPutItAndConfirms) {
  // At second 12 the three placements do not overlap, so each click hits one button only.
  const std::vector<QRect> placed = placements(12, 3);
  ASSERT_FALSE(placed[0].intersects(placed[1]) || placed[0].intersects(placed[2]) ||
               placed[1].intersects(placed[2]));
  ConfirmDialog model(clock_, u"808/1", u"812/2", u"100");
  CountingModel counting(model);
  const std::int32_t code = run(counting, [&](QWidget& dialog) {
    EXPECT_TRUE(KeyboardBlockHook::installed());
    clickAt(dialog, placed[0].center());
  });
  EXPECT_EQ(code, ConfirmDialog::kConfirmed);
  EXPECT_EQ(counting.commands, std::vector<int>{ConfirmDialog::kOkId});
  EXPECT_EQ(counting.presses, 0) << "a click on a button is not a press on the dialog";
  EXPECT_EQ(counting.closes, 1);
}

TEST_F(QtViews, ADecoyReshufflesTheButtonsAndTheRealOkStillConfirms) {
  ConfirmDialog model(clock_, u"808/1", u"812/2", u"100");
  const std::vector<QRect> first = placements(12, 3);
  const std::vector<QRect> second = placements(22, 3);
  ASSERT_FALSE(second[0].intersects(second[1]) || second[0].intersects(second[2]));
  const std::int32_t code = run(model, [&](QWidget& dialog) {
    clock_.setSecond(22);
    clickAt(dialog, first[1].center());  // decoy 204
    EXPECT_EQ(model.wrongClickCount(), 1);
    EXPECT_EQ(control(dialog, ConfirmDialog::kOkId)->geometry(), second[0]);
    EXPECT_EQ(control(dialog, ConfirmDialog::kDecoyId1)->geometry(), second[1]);
    EXPECT_EQ(control(dialog, ConfirmDialog::kDecoyId2)->geometry(), second[2]);
    clickAt(dialog, second[0].center());
  });
  EXPECT_EQ(code, ConfirmDialog::kConfirmed);
}

TEST_F(QtViews, TwoWrongClicksLeaveOnlyCancel) {
  ConfirmDialog model(clock_, u"808/1", u"812/2", u"100");
  CountingModel counting(model);
  const DialogLayout& layout = ConfirmDialog::templateLayout();
  const std::int32_t code = run(counting, [&](QWidget& dialog) {
    // A press on a label is a press on the dialog's surface.
    const QRect hint = toQRect(layout.controls[9].rect);
    ASSERT_EQ(layout.controls[9].kind, ControlKind::kLabel);
    clickAt(dialog, hint.center());
    EXPECT_EQ(counting.presses, 1);
    EXPECT_EQ(model.wrongClickCount(), 1);

    clickAt(dialog, placements(12, 3)[2].center());  // decoy 205, where the reshuffle put it
    EXPECT_EQ(model.wrongClickCount(), 2);
    const QRect parked(ConfirmDialog::kParkedX, ConfirmDialog::kParkedY,
                       placements(12, 1)[0].width(), placements(12, 1)[0].height());
    for (int id : {ConfirmDialog::kOkId, ConfirmDialog::kDecoyId1, ConfirmDialog::kDecoyId2}) {
      EXPECT_FALSE(control(dialog, id)->isEnabled()) << id;
      EXPECT_EQ(control(dialog, id)->geometry(), parked) << id;
    }
    const QRect cancel = placements(12, 1)[0];
    EXPECT_EQ(control(dialog, ConfirmDialog::kCancelId)->geometry(), cancel);

    // Locked, a press on the background still counts, and Cancel is placed again.
    clickAt(dialog, QPoint(5, 200));
    EXPECT_EQ(model.wrongClickCount(), 3);
    clickAt(dialog, cancel.center());
  });
  EXPECT_EQ(code, ConfirmDialog::kCancelled);
  EXPECT_EQ(counting.commands,
            (std::vector<int>{ConfirmDialog::kDecoyId2, ConfirmDialog::kCancelId}));
}

TEST_F(QtViews, MouseMovesOverTheSurfaceFlashTheOkCaptionAndNotOverButtons) {
  ConfirmDialog model(clock_, u"808/0012345678901", u"812/9876543210", u"1,500");
  CountingModel counting(model);
  const DialogLayout& layout = ConfirmDialog::templateLayout();
  bool screenshot = false;
  const std::int32_t code = run(counting, [&](QWidget& dialog) {
    auto* ok = qobject_cast<QPushButton*>(control(dialog, ConfirmDialog::kOkId));
    // Points of the background and of the labels, which let the mouse through.
    const std::vector<QPoint> points = {{4, 4},   {5, 4},   {6, 9},     {30, 30},   {31, 30},
                                        {40, 70}, {310, 8}, {100, 215}, {101, 229}, {8, 120}};
    int shown = 0;
    for (const QPoint& p : points) {
      moveTo(dialog, p);
      const bool expected = captionShownAfterMove(12, p.x(), p.y());
      EXPECT_EQ(ok->text(), expected ? q(ConfirmDialog::kOkCaption) : QString())
          << p.x() << "," << p.y();
      EXPECT_TRUE(qobject_cast<QPushButton*>(control(dialog, 204))->text().isEmpty());
      EXPECT_TRUE(qobject_cast<QPushButton*>(control(dialog, 205))->text().isEmpty());
      shown += expected;
      if (expected && !screenshot) {
        saveScreenshot(dialog, QStringLiteral("confirm_dialog.png"));
        screenshot = true;
      }
    }
    EXPECT_EQ(counting.moves, static_cast<int>(points.size()));
    EXPECT_GT(shown, 0);
    EXPECT_LT(shown, static_cast<int>(points.size()));

    // Over a button the move is the button's, not the dialog's.
    const QRect cancel = toQRect(layout.control(ConfirmDialog::kCancelId)->rect);
    moveTo(dialog, cancel.center());
    moveTo(dialog, cancel.center() + QPoint(3, 1));
    EXPECT_EQ(counting.moves, static_cast<int>(points.size()));
    EXPECT_EQ(model.wrongClickCount(), 0) << "moves are not clicks";
    clickAt(dialog, cancel.center());
  });
  EXPECT_EQ(code, ConfirmDialog::kCancelled);
  EXPECT_TRUE(screenshot) << "no move showed the caption";
}

// A window of the same process that records what reaches it.
class OtherWindow final : public QWidget {
 public:
  OtherWindow() {
    edit = new QLineEdit(this);
    setGeometry(600, 400, 200, 60);
    edit->setGeometry(10, 10, 180, 30);
  }
  QLineEdit* edit;
  int closeEvents = 0;

 protected:
  void closeEvent(QCloseEvent* event) override {
    ++closeEvents;
    QWidget::closeEvent(event);
  }
};

TEST_F(QtViews, KeysHaveNoEffectAndCloseRequestsAreSwallowedWhileTheConfirmationIsOpen) {
  OtherWindow other;
  other.show();
  other.edit->setFocus();
  ConfirmDialog model(clock_, u"808/1", u"812/2", u"100");
  CountingModel counting(model);
  const std::int32_t code = run(counting, [&](QWidget& dialog) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space, Qt::Key_Tab})
      QTest::keyClick(dialog.windowHandle(), key);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(counting.commands.empty()) << "a key pressed a button";
    EXPECT_EQ(model.wrongClickCount(), 0);

    // Input meant for another window of the process is swallowed too.
    QTest::keyClicks(other.edit, "typed");
    EXPECT_TRUE(other.edit->text().isEmpty());

    // Close requests: a posted close event, a close() of the other window and of the dialog.
    QCoreApplication::postEvent(&other, new QCloseEvent);
    QCoreApplication::processEvents();
    EXPECT_EQ(other.closeEvents, 0);
    EXPECT_FALSE(other.close());
    EXPECT_TRUE(other.isVisible());
    EXPECT_FALSE(dialog.close());
    EXPECT_TRUE(dialog.isVisible());

    clickAt(dialog, control(dialog, ConfirmDialog::kCancelId)->geometry().center());
  });
  EXPECT_EQ(code, ConfirmDialog::kCancelled);

  // Once it has closed, the same input arrives again.
  QTest::keyClicks(other.edit, "typed");
  EXPECT_EQ(other.edit->text(), "typed");
  QCoreApplication::postEvent(&other, new QCloseEvent);
  QCoreApplication::processEvents();
  EXPECT_EQ(other.closeEvents, 1);
  EXPECT_TRUE(other.close());
  EXPECT_FALSE(other.isVisible());
}

TEST_F(QtViews, AConfirmationEndedWhileItOpensIsNeverShownAndReturnsItsCode) {
  // As the bridge does for a page that has gone: Cancel from inside the opening.
  class CancelAtOnce final : public DialogModel {
   public:
    explicit CancelAtOnce(ConfirmDialog& model) : model_(model) {}
    const DialogLayout& layout() const override { return model_.layout(); }
    void onInit(DialogWindow& window) override {
      model_.onInit(window);
      model_.onCommand(ConfirmDialog::kCancelId, 0);
    }
    void onClosed() override { model_.onClosed(); }

   private:
    ConfirmDialog& model_;
  };
  ConfirmDialog model(clock_, u"808/1", u"812/2", u"100");
  CancelAtOnce cancelling(model);
  WindowsShown windows;
  EXPECT_EQ(host_->runModal(cancelling), ConfirmDialog::kCancelled);
  EXPECT_EQ(windows.shown, 0);
}

TEST_F(QtViews, AnApplicationExitTearsTheConfirmationDownAndLiftsTheBlock) {
  // In a process of its own: after QCoreApplication::exit no event loop of this one runs again.
  EXPECT_EXIT(
      {
        ConfirmDialog model(clock_, u"808/1", u"812/2", u"100");
        CountingModel counting(model);
        const std::int32_t code = run(
            counting, [](QWidget&) { QCoreApplication::exit(0); }, false);
        const bool torn = code == ConfirmDialog::kNotShown && counting.closes == 1 &&
                          !KeyboardBlockHook::installed();
        std::fflush(nullptr);
        _exit(torn ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(QtViews, DialogsCannotBeRunFromAnotherThread) {
  ConfirmDialog model(clock_, u"808/1", u"812/2", u"100");
  CountingModel counting(model);
  std::int32_t code = 0;
  std::thread other([&] { code = host_->runModal(counting); });
  other.join();
  EXPECT_EQ(code, ConfirmDialog::kNotShown);
  EXPECT_EQ(counting.inits, 0);
}

// --- The countdown ----------------------------------------------------------------------------

class QtCountdown : public QtViews {
 protected:
  void SetUp() override {
    QtViews::SetUp();
    model_.reset(timer_);
    model_.showText(CountdownDialog::countdownText(15));
  }
  FakeTimer timer_;
  CountdownDialog model_;
};

TEST_F(QtCountdown, StaysOnTopWithRedTextOnTheButtonFaceAndNoWayToCloseIt) {
  const DialogLayout& layout = CountdownDialog::templateLayout();
  const std::int32_t code = run(model_, [&](QWidget& dialog) {
    EXPECT_EQ(dialog.windowTitle(), q(u"抽拔晶片卡偵測"));
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint));
    EXPECT_EQ(dialog.size(), QSize(layout.frame.width, layout.frame.height));

    auto* text = qobject_cast<QLabel*>(control(dialog, CountdownDialog::kTextId));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->geometry(), toQRect(layout.control(CountdownDialog::kTextId)->rect));
    EXPECT_EQ(text->alignment(), Qt::AlignCenter);
    EXPECT_EQ(text->text(), q(CountdownDialog::countdownText(15)));
    EXPECT_EQ(text->font().pixelSize(), 21);
    expectGlyphsFor(text->font(), text->text());

    // Red text (240, 0, 0) on the button face, in the pixels as drawn.
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    const QImage image = text->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(QColor(image.pixel(2, 2)), buttonFace);
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) red += QColor(image.pixel(x, y)) == QColor(240, 0, 0);
    EXPECT_GT(red, 100) << "too few pixels in the text colour";
    saveScreenshot(dialog, QStringLiteral("countdown_dialog.png"));

    // Neither Esc, Enter nor a close request ends it.
    QTest::keyClick(dialog.windowHandle(), Qt::Key_Escape);
    QTest::keyClick(dialog.windowHandle(), Qt::Key_Return);
    EXPECT_FALSE(dialog.close());
    EXPECT_TRUE(dialog.isVisible());

    model_.EndCountdown(CountdownDialog::kPassed);
  });
  EXPECT_EQ(code, CountdownDialog::kPassed);
}

TEST_F(QtCountdown, CallsFromTheTimersThreadAreAppliedInOrderAndEndIt) {
  const std::int32_t code = run(
      model_,
      [&](QWidget& dialog) {
        auto* text = qobject_cast<QLabel*>(control(dialog, CountdownDialog::kTextId));
        std::thread poll([&] {
          for (int s = 14; s >= 0; --s) model_.showText(CountdownDialog::countdownText(s));
        });
        poll.join();
        QCoreApplication::processEvents();
        EXPECT_EQ(text->text(), q(CountdownDialog::countdownText(0)));
        // The end from that thread as well; the loop sees it after the steps return.
        std::thread end([&] { model_.EndCountdown(CountdownDialog::kPassed); });
        end.join();
      },
      false);
  EXPECT_EQ(code, CountdownDialog::kPassed);
}

TEST_F(QtCountdown, AnOutcomeReachedBeforeTheWindowOpensClosesItOnOpening) {
  model_.EndCountdown(CountdownDialog::kPassed);
  EXPECT_EQ(host_->runModal(model_), CountdownDialog::kPassed);
}

TEST_F(QtCountdown, AFailureShowsItsMessageUntilTheCloseTimerEndsIt) {
  const std::int32_t code = run(model_, [&](QWidget& dialog) {
    model_.EndCountdown(2002);
    auto* text = qobject_cast<QLabel*>(control(dialog, CountdownDialog::kTextId));
    EXPECT_EQ(text->text(), q(u"[2002]時間內未拔插晶片卡"));
    EXPECT_TRUE(dialog.isVisible());
    timer_.advance(CountdownDialog::kCloseDelayMs);
  });
  EXPECT_EQ(code, 2002);
}

// --- Message boxes ----------------------------------------------------------------------------

TEST_F(QtViews, MessageBoxesHaveAnEmptyTitleAndOneOkButton) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen = true;
    EXPECT_TRUE(box->windowTitle().isEmpty());
    EXPECT_EQ(box->text(), q(u"與第一次插入之晶片卡不一致\n訊息代號：2010"));
    const QList<QAbstractButton*> buttons = box->buttons();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(box->standardButton(buttons.front()), QMessageBox::Ok);
    QTest::mouseClick(buttons.front(), Qt::LeftButton);
  });
  host_->messageBox(CountdownDialog::messageBoxText(2010));
  EXPECT_TRUE(seen);
}

// --- The event filter on its own --------------------------------------------------------------

TEST(InputBlockFilter, MapsKeysAndCloseRequestsToTheMessagesTheHookBlocks) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QKeyEvent altPress(QEvent::KeyPress, Qt::Key_F4, Qt::AltModifier);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier);
  QKeyEvent altRelease(QEvent::KeyRelease, Qt::Key_F4, Qt::AltModifier);
  QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_A, Qt::ControlModifier);
  QCloseEvent close;
  QEvent resize(QEvent::Resize);
  QMouseEvent mouse(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  EXPECT_EQ(views::windowMessageFor(press), 0x0100u);
  EXPECT_EQ(views::windowMessageFor(altPress), 0x0104u);
  EXPECT_EQ(views::windowMessageFor(release), 0x0101u);
  EXPECT_EQ(views::windowMessageFor(altRelease), 0x0105u);
  EXPECT_EQ(views::windowMessageFor(override), 0x0100u);
  EXPECT_EQ(views::windowMessageFor(close), 0x0010u);
  EXPECT_EQ(views::windowMessageFor(resize), std::nullopt);
  EXPECT_EQ(views::windowMessageFor(mouse), std::nullopt);
  for (const QEvent* e : {static_cast<QEvent*>(&press), static_cast<QEvent*>(&altRelease),
                          static_cast<QEvent*>(&close)})
    EXPECT_TRUE(KeyboardBlockHook::blocks(*views::windowMessageFor(*e)));
}

TEST(InputBlockFilter, DropsOnlyWhileTheHookIsInstalledOnThisThread) {
  views::InputBlockFilter filter;
  QLineEdit edit;
  edit.installEventFilter(&filter);
  QTest::keyClicks(&edit, "ab");
  EXPECT_EQ(edit.text(), "ab");

  // Installed by another thread: this thread's input passes.
  std::thread([] { KeyboardBlockHook::install(); }).join();
  QTest::keyClicks(&edit, "c");
  EXPECT_EQ(edit.text(), "abc");
  KeyboardBlockHook::remove();

  ASSERT_TRUE(KeyboardBlockHook::install());
  QTest::keyClicks(&edit, "d");
  const std::uint64_t keys = filter.dropped();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&edit, &press);
  KeyboardBlockHook::remove();
  EXPECT_EQ(edit.text(), "abc");
  EXPECT_GE(keys, 2u) << "the press and the release of the key";
  EXPECT_EQ(filter.dropped(), keys) << "mouse input is not blocked";
}

}  // namespace
}  // namespace ruzazuv

int main(int argc, char** argv) {
  // The tests draw real widgets without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  // Death tests start the binary afresh rather than fork a process that runs Qt's threads.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
