// One sheet of every shape the controls draw, painted through the shared
// canvas interface, for comparing the QPainter canvas with the real GDI
// pixel by pixel. The sheet holds no text (the fonts differ).
//
// A painted sheet is kept as text, one character per pixel, naming the
// colour of the pixel (SheetColors); the reference drawn by the real GDI under
// Wine is tests/data/canvas-sheet-gdi.txt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "canvas.h"

constexpr int kSheetWidth = 330;
constexpr int kSheetHeight = 288;

struct SheetColor {
  char letter;
  TColor system;        // the system colour it stands for, or clNone
  std::uint32_t rgb;    // 0xRRGGBB
};

// The system colours the sheet is painted with (the tests' distinct scheme),
// the plain colours it uses, the background and the background inverted.
const std::vector<SheetColor>& SheetColors();
constexpr std::uint32_t kSheetBackground = 0xFF00FF;

// Paints the sheet on a canvas whose surface was filled with kSheetBackground.
void PaintCanvasSheet(TCustomCanvas& canvas);

// A painted sheet as rows of colour letters ('?' for a colour not listed);
// pixel(x, y) gives 0xRRGGBB.
template <class Pixel>
std::string SheetText(Pixel pixel) {
  std::string text;
  for (int y = 0; y < kSheetHeight; ++y) {
    for (int x = 0; x < kSheetWidth; ++x) {
      char letter = '?';
      for (const SheetColor& c : SheetColors())
        if (c.rgb == pixel(x, y)) letter = c.letter;
      text += letter;
    }
    text += '\n';
  }
  return text;
}

// Where two sheets differ: one line per differing row, "y: x1-x2 ..." with
// the columns, at most `limit` lines. Empty when they are the same.
std::string SheetDifferences(const std::string& expected, const std::string& actual, int limit = 20);

std::string ReadTextFile(const std::string& path);
bool WriteTextFile(const std::string& path, const std::string& text);
