// The boundary between the dialogs' toolkit-free models (src/ui) and a view that draws them
// (Qt Widgets, Win32 templates, the scripted view of ruzazuv-cli and the tests).
//
// A model describes its dialog (DialogLayout: title, frame, font, controls with pixel geometry),
// asks the host to run it modally (DialogHost::runModal), and from then on talks to the open
// window through DialogWindow. The view feeds the user's actions back to the model through the
// DialogModel event functions, and routes every input message of its thread through
// KeyboardBlockHook::filter (ui/keyboard_block_hook.h), dropping those the hook neutralises.
//
// Threads. runModal, the DialogModel events and message boxes run on the thread that called
// runModal (the page's thread). A model whose layout says `anyThread` (the countdown) also calls
// DialogWindow from other threads (the timer's): the view must accept those calls from any
// thread, must not block in them waiting for its own thread, and applies them on its own thread
// in the order they were made (Qt: QMetaObject::invokeMethod with Qt::QueuedConnection).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruzazuv {

// A rectangle in pixels of the dialog's client area (or in dialog units in a template).
struct DialogRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  int right() const { return x + width; }
  int bottom() const { return y + height; }
  bool contains(int px, int py) const {
    return px >= x && px < right() && py >= y && py < bottom();
  }
  bool operator==(const DialogRect&) const = default;
};

// Pixels per 4 horizontal and per 8 vertical dialog units for a template's font.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};

// MulDiv-style rounding (halves away from zero), as dialog templates are laid out.
int scaleDialogUnits(int value, int numerator, int denominator);
// Converts each of position and size separately, as a template's controls are created.
DialogRect dialogUnitsToPixels(DialogRect units, DialogBaseUnits base);

enum class ControlKind {
  kEdit,      // single-line edit box
  kButton,    // push button
  kLabel,     // static text, left-aligned
  kGroupBox,  // frame with an optional caption
  kStatic,    // static text whose alignment and look the flags below give
};

// Control ids with no identity of their own (labels), as templates write them.
inline constexpr int kNoControlId = -1;
// The dialog itself, for DialogWindow::redraw.
inline constexpr int kWholeDialog = 0;

struct ControlLayout {
  int id = kNoControlId;
  ControlKind kind = ControlKind::kLabel;
  DialogRect rect;      // pixels, client coordinates
  std::u16string text;  // initial caption
  bool enabled = true;
  bool tabStop = true;
  bool border = false;
  bool autoHScroll = false;
  bool centred = false;      // text centred horizontally and vertically
  bool transparent = false;  // the dialog's background shows through
};

struct DialogLayout {
  int templateId = 0;
  std::u16string title;
  DialogRect frame;  // pixels, relative to the owner's origin
  std::u16string fontFace;
  int fontPoints = 0;
  bool systemModal = false;  // stays above every other window
  bool closeBox = false;     // no system menu means no close box
  bool defaultFocus = true;  // false: no control gets the keyboard focus on opening
  // DialogWindow may be called from threads other than the one running the dialog.
  bool anyThread = false;
  std::vector<ControlLayout> controls;

  const ControlLayout* control(int id) const;
};

// Colour values in Windows order: 0x00BBGGRR.
using ColourRef = std::uint32_t;
inline constexpr ColourRef colourRef(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<ColourRef>(r) | (static_cast<ColourRef>(g) << 8) |
         (static_cast<ColourRef>(b) << 16);
}

enum class SystemColour { kButtonFace };

// How a static control is painted when its model asks for more than the defaults.
struct ControlColours {
  ColourRef text = 0;
  bool transparentTextBackground = false;
  SystemColour background = SystemColour::kButtonFace;
};

// The open dialog, as the view lets a model change it.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  // The control's outer rectangle in client pixels (width and height are what models measure).
  virtual DialogRect controlRect(int id) = 0;
  // Moves and resizes the control, then repaints it.
  virtual void moveControl(int id, DialogRect rect) = 0;
  virtual void setControlText(int id, std::u16string_view text) = 0;
  virtual void enableControl(int id, bool enabled) = 0;
  // Invalidates, erases and repaints at once a control, or the whole dialog (kWholeDialog).
  virtual void redraw(int id) = 0;
  // Ends the modal run: runModal returns `code` once the dialog's loop has seen it.
  virtual void endDialog(std::int32_t code) = 0;
};

// What a model offers the view. Event functions run on the dialog's thread.
class DialogModel {
 public:
  virtual ~DialogModel() = default;
  virtual const DialogLayout& layout() const = 0;
  // The window exists with the layout's controls and is about to be shown. The model may call
  // `window` from now until onClosed.
  virtual void onInit(DialogWindow& window) = 0;
  // The pointer moved over the dialog's own surface (not over a child control that takes the
  // mouse), in client pixels.
  virtual void onMouseMove(int /*x*/, int /*y*/) {}
  // The left button went down on the dialog's own surface (background, label, group box).
  virtual void onLeftButtonDown(int /*x*/, int /*y*/) {}
  // A control sent a command: a click on an enabled button is notification 0.
  virtual void onCommand(int /*id*/, int /*notification*/) {}
  // Colours for a static control; none means the view's defaults.
  virtual std::optional<ControlColours> controlColours(int /*id*/) const { return std::nullopt; }
  // The window is gone; the model no longer touches it. Called before runModal returns, also
  // when the view tears the dialog down on its own.
  virtual void onClosed() {}
};

// The toolkit side: runs dialogs and shows message boxes for one host process.
class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // Creates the dialog of `model`, owned by the thread's active window, calls model.onInit and
  // runs a modal loop on the calling thread until the dialog is ended; returns the code it was
  // ended with, or -1 when the dialog cannot be created (onInit is then never called).
  virtual std::int32_t runModal(DialogModel& model) = 0;
  // A modal message box owned by the control's window: empty caption, the text, one OK button.
  virtual void messageBox(std::u16string_view text) = 0;
};

}  // namespace ruzazuv
