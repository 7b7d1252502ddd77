// The Win32 views on real windows (under Xvfb): the confirmation dialog from template 103 driven
// the way a user would (button clicks, a press on the background, keys and close requests that
// the get-message hook must swallow), and the countdown from template 113 run by the pull-plug
// procedure on the winmm timer, with its red text on the button face, its end posted from the
// timer's thread and its message box. A driver thread finds the windows and acts on them.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/winmm_timer.h"
#include "support/control_harness.h"
#include "ui/confirm_dialog.h"
#include "ui/countdown_dialog.h"
#include "ui/keyboard_block_hook.h"
#include "win32/dialog_resources.h"
#include "win32/win32_dialog_host.h"

namespace ruzazuv::testing {
namespace {

// A dialog of this process with `title`, once it is visible; null after 20 s.
HWND waitForDialog(const wchar_t* title) {
  for (int i = 0; i < 1000; ++i) {
    HWND found = FindWindowW(L"#32770", title);
    if (found != nullptr && IsWindowVisible(found)) return found;
    Sleep(20);
  }
  return nullptr;
}

std::wstring textOf(HWND window) {
  wchar_t buffer[256] = {};
  GetWindowTextW(window, buffer, 256);
  return buffer;
}

RECT clientRectOf(HWND dialog, int id) {
  RECT r{};
  GetWindowRect(GetDlgItem(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The window as it is on the screen, 32-bit pixels (0x00RRGGBB) row by row from the top; also
// written as a bitmap file NAME.bmp under the build tree's screenshots folder.
std::vector<std::uint32_t> screenshot(HWND window, const std::string& name) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  RECT r{};
  GetWindowRect(window, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return {};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const auto* first = static_cast<const std::uint32_t*>(bits);
  const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<std::uint32_t> pixels(first, first + count);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  CreateDirectoryA(RUZAZUV_SCREENSHOT_DIR, nullptr);
  const std::string path = std::string(RUZAZUV_SCREENSHOT_DIR) + "/" + name + ".bmp";
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    const auto imageSize = static_cast<DWORD>(pixels.size() * 4);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + imageSize;
    std::fwrite(&header, sizeof(header), 1, file);
    std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, file);
    std::fwrite(pixels.data(), 4, pixels.size(), file);
    std::fclose(file);
  }
  return pixels;
}

// Pixels close to the countdown's red (240, 0, 0).
std::size_t redPixels(const std::vector<std::uint32_t>& pixels) {
  std::size_t count = 0;
  for (std::uint32_t p : pixels) {
    const auto red = (p >> 16) & 0xFF;
    const auto green = (p >> 8) & 0xFF;
    const auto blue = p & 0xFF;
    if (red > 180 && green < 80 && blue < 80) ++count;
  }
  return count;
}

// Runs `drive` on its own thread while `run` runs the dialog on this one.
template <typename Run>
auto whileDriven(Run run, std::function<void()> drive) {
  std::thread driver(std::move(drive));
  auto result = run();
  driver.join();
  return result;
}

enum class Act { kOk, kCancel, kDecoy1, kDecoy2, kBackground, kKeysAndClose };

void act(HWND dialog, Act a) {
  const auto click = [&](int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); };
  switch (a) {
    case Act::kOk:
      click(IDOK);
      break;
    case Act::kCancel:
      click(IDCANCEL);
      break;
    case Act::kDecoy1:
      click(IDC_DECOY_1);
      break;
    case Act::kDecoy2:
      click(IDC_DECOY_2);
      break;
    case Act::kBackground:
      PostMessageW(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
      PostMessageW(dialog, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
      break;
    case Act::kKeysAndClose:
      // Esc would cancel and Enter confirm; Alt+F4 and WM_CLOSE would close.
      for (HWND target : {dialog, GetDlgItem(dialog, IDCANCEL)}) {
        PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 1);
        PostMessageW(target, WM_CHAR, 0x1B, 1);
        PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0000001);
        PostMessageW(target, WM_SYSKEYDOWN, VK_F4, 0x20000001);
      }
      PostMessageW(dialog, WM_CLOSE, 0, 0);
      break;
  }
}

struct ConfirmCase {
  const char* what;
  std::vector<Act> acts;
  std::int32_t result;
  std::int32_t wrongClicks;
};

class Win32Confirm : public ::testing::TestWithParam<ConfirmCase> {};

TEST_P(Win32Confirm, TheDialogAnswersTheUsersActions) {
  const auto host = makeWin32DialogHost(GetModuleHandleW(nullptr));
  SystemClock clock;
  ConfirmDialog dialog(clock, u"004/0123456789012345", u"812/5432109876543210", u"1000");
  std::atomic<bool> opened{false};
  RECT group{};
  std::vector<RECT> buttons;
  std::vector<std::wstring> captions;
  std::wstring transferOut;
  const auto drive = [&] {
    HWND window = waitForDialog(L"交易內容確認");
    if (window == nullptr) return;
    opened = true;
    group = clientRectOf(window, IDC_PLACEMENT_GROUP);
    for (int id : {IDOK, IDC_DECOY_1, IDC_DECOY_2}) {
      buttons.push_back(clientRectOf(window, id));
      captions.push_back(textOf(GetDlgItem(window, id)));
    }
    transferOut = textOf(GetDlgItem(window, IDC_TRANSFER_OUT));
    screenshot(window, std::string("confirm-") + GetParam().what);
    for (Act a : GetParam().acts) act(window, a);
  };
  const std::int32_t result = whileDriven([&] { return dialog.run(host.get()); }, drive);
  ASSERT_TRUE(opened) << "the dialog never opened";
  EXPECT_EQ(result, GetParam().result);
  EXPECT_EQ(dialog.wrongClickCount(), GetParam().wrongClicks);
  EXPECT_FALSE(KeyboardBlockHook::installed());
  // The model measured the real controls: the button size is the OK button's, the region the
  // group box's less that size.
  const RECT& ok = buttons.front();
  EXPECT_EQ(dialog.buttonWidth(), ok.right - ok.left);
  EXPECT_EQ(dialog.buttonHeight(), ok.bottom - ok.top);
  EXPECT_EQ(dialog.rangeX(), group.right - group.left - dialog.buttonWidth() - 2);
  EXPECT_EQ(dialog.rangeY(), group.bottom - group.top - dialog.buttonHeight() - 7);
  // On opening, the real button and the decoys lie captionless at spots drawn inside the
  // placement region, which starts at (19, 122) in client pixels whatever the font.
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(captions[i], L"");
    EXPECT_GE(buttons[i].left, ConfirmDialog::kOriginX);
    EXPECT_LT(buttons[i].left, ConfirmDialog::kOriginX + dialog.rangeX());
    EXPECT_GE(buttons[i].top, ConfirmDialog::kOriginY);
    EXPECT_LT(buttons[i].top, ConfirmDialog::kOriginY + dialog.rangeY());
    EXPECT_EQ(buttons[i].right - buttons[i].left, dialog.buttonWidth());
  }
  EXPECT_EQ(transferOut, L"004/0123456789012345");
}

INSTANTIATE_TEST_SUITE_P(
    Actions, Win32Confirm,
    ::testing::Values(ConfirmCase{"Ok", {Act::kOk}, 1, 0},
                      ConfirmCase{"Cancel", {Act::kCancel}, 2, 0},
                      ConfirmCase{
                          "KeysAndCloseRequestsDoNothing", {Act::kKeysAndClose, Act::kOk}, 1, 0},
                      ConfirmCase{"DecoyThenOk", {Act::kDecoy1, Act::kOk}, 1, 1},
                      ConfirmCase{"TwoWrongClicksLeaveOnlyCancel",
                                  {Act::kBackground, Act::kDecoy2, Act::kOk, Act::kCancel},
                                  2,
                                  2}),
    [](const ::testing::TestParamInfo<ConfirmCase>& caseInfo) {
      return std::string(caseInfo.param.what);
    });

// Driven from outside by click_ok_with_xdotool.sh, which clicks the X server's mouse on the
// spot written into RUZAZUV_MOUSE_HANDSHAKE/ok-button.txt: the real OK button, wherever it was
// placed, takes a real click. Skipped when run on its own.
TEST(Win32ConfirmByMouse, TheRealOkButtonTakesAMouseClick) {
  const char* handshake = std::getenv("RUZAZUV_MOUSE_HANDSHAKE");
  if (handshake == nullptr) GTEST_SKIP() << "run by click_ok_with_xdotool.sh";
  const auto host = makeWin32DialogHost(GetModuleHandleW(nullptr));
  SystemClock clock;
  ConfirmDialog dialog(clock, u"004/0123456789012345", u"812/5432109876543210", u"1000");
  bool opened = false;
  const auto drive = [&] {
    HWND window = waitForDialog(L"交易內容確認");
    if (window == nullptr) return;
    opened = true;
    RECT ok{};
    GetWindowRect(GetDlgItem(window, IDOK), &ok);
    // Written whole under another name, then renamed, so the script never reads half of it.
    const std::string file = std::string(handshake) + "/ok-button.txt";
    if (FILE* out = std::fopen((file + ".part").c_str(), "wb")) {
      std::fprintf(out, "%ld %ld\n", (ok.left + ok.right) / 2, (ok.top + ok.bottom) / 2);
      std::fclose(out);
      MoveFileExA((file + ".part").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
  };
  EXPECT_EQ(whileDriven([&] { return dialog.run(host.get()); }, drive), 1);
  EXPECT_TRUE(opened);
  EXPECT_EQ(dialog.wrongClickCount(), 0);
}

TEST(Win32Confirm, AMissingTemplateIsReportedWithoutOpening) {
  // A module without the templates (this one's main program has them; kernel32 has none).
  const auto host = makeWin32DialogHost(GetModuleHandleW(L"kernel32.dll"));
  SystemClock clock;
  ConfirmDialog dialog(clock, u"a", u"b", u"c");
  EXPECT_EQ(dialog.run(host.get()), -1);
  EXPECT_FALSE(KeyboardBlockHook::installed());
}

// The pull-plug procedure on the simulated reader, the winmm timer and the Win32 countdown.
class Win32Countdown : public ::testing::Test {
 protected:
  void SetUp() override { h.connectAndVerify(); }

  // Waits until the procedure has seen the card go (bounded).
  void waitForRemovalSeen() {
    for (int i = 0; i < 1000 && !h.control().pullPlug().cardRemoved; ++i) Sleep(10);
  }

  WinmmTimer timer;
  std::unique_ptr<DialogHost> host = makeWin32DialogHost(GetModuleHandleW(nullptr));
  ControlHarness h{nullptr, &timer, host.get()};
};

TEST_F(Win32Countdown, ShowsRedSecondsAndClosesWhenTheCardComesBack) {
  std::wstring text;
  COLORREF textColour = 0;
  int background = 0;
  COLORREF brushColour = 0;
  bool topmost = false;
  std::size_t red = 0;
  const auto drive = [&] {
    HWND window = waitForDialog(L"抽拔晶片卡偵測");
    if (window == nullptr) return;
    HWND label = GetDlgItem(window, IDC_COUNTDOWN_TEXT);
    text = textOf(label);
    topmost = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    // Ask the dialog how it paints its text, as the static control itself would.
    HDC dc = CreateCompatibleDC(nullptr);
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
        window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
    textColour = GetTextColor(dc);
    background = GetBkMode(dc);
    LOGBRUSH logBrush{};
    if (brush != nullptr && GetObjectW(brush, sizeof(logBrush), &logBrush) != 0)
      brushColour = logBrush.lbColor;
    DeleteDC(dc);
    red = redPixels(screenshot(window, "countdown"));
    h.pcsc.removeCard(kReader);
    waitForRemovalSeen();
    h.pcsc.insertCard(kReader, h.card);
  };
  const std::int32_t outcome =
      whileDriven([&] { return h.control().RunPullPlugProcedure(); }, drive);
  EXPECT_EQ(outcome, 2000);
  EXPECT_EQ(text.rfind(L"請於倒數1", 0), 0u) << "countdown text";
  EXPECT_EQ(textColour, static_cast<COLORREF>(0x0000F0));
  EXPECT_EQ(background, TRANSPARENT);
  EXPECT_EQ(brushColour, GetSysColor(COLOR_BTNFACE));
  EXPECT_TRUE(topmost);
  // The seconds are drawn in red on the screen (screenshots/countdown.bmp).
  EXPECT_GT(red, 20u);
  EXPECT_EQ(FindWindowW(L"#32770", L"抽拔晶片卡偵測"), nullptr);
}

TEST_F(Win32Countdown, ADifferentCardEndsInAMessageBoxWithOneOkButtonAndNoCaption) {
  std::wstring message;
  int buttons = 0;
  const auto drive = [&] {
    if (waitForDialog(L"抽拔晶片卡偵測") == nullptr) return;
    h.pcsc.removeCard(kReader);
    waitForRemovalSeen();
    h.pcsc.insertCard(kReader, makeCard("second-card.json"));
    HWND box = waitForDialog(L"");
    if (box == nullptr) return;
    screenshot(box, "message-box-2010");
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t cls[32] = {};
      GetClassNameW(child, cls, 32);
      if (std::wstring(cls) == L"Button") ++buttons;
      const std::wstring t = textOf(child);
      if (t.find(L"2010") != std::wstring::npos) message = t;
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  };
  const std::int32_t outcome =
      whileDriven([&] { return h.control().RunPullPlugProcedure(); }, drive);
  EXPECT_EQ(outcome, 2010);
  EXPECT_EQ(buttons, 1);
  EXPECT_NE(message.find(L"與第一次插入之晶片卡不一致"), std::wstring::npos) << "message text";
}

}  // namespace
}  // namespace ruzazuv::testing
