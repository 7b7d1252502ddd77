// How the dialogs' template fonts and colours are realised with the fonts and palettes of a Linux
// desktop.
#pragma once

#include <QColor>
#include <QFont>
#include <string_view>

#include "ui/dialog_host.h"

namespace ruzazuv::views {

// Template sizes are pixels at 96 dpi, so fonts are sized in pixels at 96 dpi as well
// (8 points: 11 pixels; 16 points: 21 pixels), whatever the screen's own resolution.
int fontPixels(int points);

// The nearest equivalent of a template's font: a sans-serif face for the Latin sans-serif
// faces, a CJK face for faces named in Chinese; both fall back to a CJK face for Chinese text.
QFont dialogFont(std::u16string_view face, int points);

QColor toQColor(ColourRef colour);
QColor systemColour(SystemColour colour);

}  // namespace ruzazuv::views
