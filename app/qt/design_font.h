// The window's design font, "MS Sans Serif" at a pixel height, as a QFont.
// Linux rarely has that face; the design's list of faces
// (form1_design::FontFamilies) names the ones that come closest.
#pragma once

#include <QFont>
#include <QStringList>

#include "form1_design.h"

inline QFont DesignFont(int pixelSize, bool bold = false) {
  QFont font;
  QStringList families;
  for (const char* family : form1_design::FontFamilies) families << QString::fromUtf8(family);
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}
