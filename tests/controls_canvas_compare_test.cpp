// The canvas over QPainter against the real GDI: the sheet of shapes must
// match, pixel by pixel, the one the GDI canvas drew under Wine.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "canvas_sheet.h"
#include "qpainter_canvas.h"

namespace {

QImage SheetImage(const std::string& text) {
  QImage image(kSheetWidth, kSheetHeight, QImage::Format_RGB32);
  image.fill(Qt::black);
  int x = 0, y = 0;
  for (char letter : text) {
    if (letter == '\n') {
      x = 0;
      ++y;
      continue;
    }
    for (const SheetColor& c : SheetColors())
      if (c.letter == letter && y < kSheetHeight && x < kSheetWidth) image.setPixel(x, y, 0xFF000000 | c.rgb);
    ++x;
  }
  return image;
}

TEST(CanvasCompare, QPainterSheetMatchesTheGdiReference) {
  QImage image(kSheetWidth, kSheetHeight, QImage::Format_RGB32);
  image.fill(QColor(QRgb(kSheetBackground)));
  {
    QPainter painter(&image);
    TCanvas canvas(&painter);
    PaintCanvasSheet(canvas);
  }
  const std::string actual = SheetText([&](int x, int y) { return image.pixel(x, y) & 0xFFFFFF; });
  const std::string expected = ReadTextFile(VELOTRUNK_SHEET_REFERENCE);
  ASSERT_FALSE(expected.empty()) << VELOTRUNK_SHEET_REFERENCE;
  // Both as pictures beside the test, for a look side by side.
  WriteTextFile("canvas-sheet-qpainter.txt", actual);
  image.save("canvas-sheet-qpainter.png");
  SheetImage(expected).save("canvas-sheet-gdi.png");
  EXPECT_EQ(SheetDifferences(expected, actual), "");
}

}  // namespace
