// The window's design font, "MS Sans Serif" at a pixel height. Linux rarely
// has it; DejaVu Sans Condensed comes closest in width (plain DejaVu Sans
// runs the two-line captions under the edits), and DejaVu Sans is the last
// resort.
#pragma once

#include <QFont>

inline QFont DesignFont(int pixelSize, bool bold = false) {
  QFont font;
  font.setFamilies({"MS Sans Serif", "DejaVu Sans Condensed", "DejaVu Sans"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}
