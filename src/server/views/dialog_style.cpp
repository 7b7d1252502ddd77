#include "views/dialog_style.h"

#include <QApplication>
#include <QPalette>
#include <QStringList>

#include "ui/dialog_host.h"

namespace ruzazuv::views {

int fontPixels(int points) {
  return scaleDialogUnits(points, 96, 72);
}

QFont dialogFont(std::u16string_view face, int points) {
  bool namedInChinese = false;
  for (char16_t c : face)
    if (c >= 0x2E80) namedInChinese = true;
  QFont font;
  if (namedInChinese) {
    // The Traditional Chinese system faces (a Ming face, a Kai face): WenQuanYi Micro Hei is the
    // CJK face Debian installs with fonts-wqy-microhei.
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK TC"),
                      QStringLiteral("AR PL UMing TW"), QStringLiteral("DejaVu Sans")});
  } else {
    // The bitmap sans-serif dialog face; Chinese text in it comes from the CJK face, as the
    // system's font linking does on a Chinese desktop.
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK TC")});
  }
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(fontPixels(points));
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

QColor toQColor(ColourRef colour) {
  return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                static_cast<int>((colour >> 16) & 0xFFu));
}

QColor systemColour(SystemColour colour) {
  switch (colour) {
    case SystemColour::kButtonFace:
      return QApplication::palette().color(QPalette::Active, QPalette::Button);
  }
  return QApplication::palette().color(QPalette::Active, QPalette::Button);
}

}  // namespace ruzazuv::views
