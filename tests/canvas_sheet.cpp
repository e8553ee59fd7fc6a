#include "canvas_sheet.h"

#include <fstream>
#include <sstream>

#include "border_style.h"
#include "ds_group_look.h"

const std::vector<SheetColor>& SheetColors() {
  static const std::vector<SheetColor> colors = {
      {'.', clNone, kSheetBackground},
      {'i', clNone, 0x00FF00},  // the background inverted (focus rectangles)
      {'F', clBtnFace, 0xD4D0C8},
      {'S', clBtnShadow, 0x808080},
      {'H', clBtnHighlight, 0xFFFFFF},
      {'L', cl3DLight, 0xE6E2DA},
      {'D', cl3DDkShadow, 0x404040},
      {'W', clWindow, 0xFAFAF0},
      {'K', clWindowFrame, 0x000000},
      {'r', clNone, 0xC80000},
      {'b', clNone, 0x0000C8},
  };
  return colors;
}

namespace {

constexpr TColor kRed = 0x0000C8;   // $00BBGGRR
constexpr TColor kBlue = 0xC80000;

// A canvas that draws on another one moved by (dx, dy): a control paints
// from its own origin.
class ShiftedCanvas final : public TCustomCanvas {
 public:
  ShiftedCanvas(TCustomCanvas& canvas, int dx, int dy) : c_(canvas), dx_(dx), dy_(dy) {}
  void Rectangle(int x1, int y1, int x2, int y2) override {
    Sync();
    c_.Rectangle(x1 + dx_, y1 + dy_, x2 + dx_, y2 + dy_);
  }
  void RoundRect(int x1, int y1, int x2, int y2, int w, int h) override {
    Sync();
    c_.RoundRect(x1 + dx_, y1 + dy_, x2 + dx_, y2 + dy_, w, h);
  }
  void FrameRect(const TRect& r) override { Sync(); c_.FrameRect(Move(r)); }
  void FillRect(const TRect& r) override { Sync(); c_.FillRect(Move(r)); }
  void MoveTo(int x, int y) override { c_.MoveTo(x + dx_, y + dy_); }
  void LineTo(int x, int y) override { Sync(); c_.LineTo(x + dx_, y + dy_); }
  void DrawFocusRect(const TRect& r) override { c_.DrawFocusRect(Move(r)); }
  void DrawEdge(const TRect& r, unsigned edge, unsigned flags) override { c_.DrawEdge(Move(r), edge, flags); }
  void SelectFontDesc(const TFontDesc& font) override { c_.SelectFontDesc(font); }
  TColor SetFontColor(TColor color) override { return c_.SetFontColor(color); }
  int TextWidthW(std::u16string_view text) override { return c_.TextWidthW(text); }
  int TextHeightW(std::u16string_view text) override { return c_.TextHeightW(text); }
  int DrawTextW(std::u16string_view text, TRect& r, unsigned format) override {
    TRect moved = Move(r);
    const int result = c_.DrawTextW(text, moved, format);
    OffsetRect(moved, -dx_, -dy_);
    r = moved;
    return result;
  }

 private:
  void Sync() {
    c_.Pen = Pen;
    c_.Brush = Brush;
  }
  TRect Move(TRect r) const {
    OffsetRect(r, dx_, dy_);
    return r;
  }
  TCustomCanvas& c_;
  int dx_, dy_;
};

// Twelve border styles in a row, each in a 22 x 14 rectangle, then the flat
// edit's whole frame (wiped with clWindow) at the main window's size.
void PaintBorders(TCustomCanvas& canvas, int y) {
  for (int style = kbsNone; style <= kbsOuterSunken; ++style) {
    const int x = 4 + style * 26;
    canvas.Brush.Style = bsClear;
    DrawBorder(canvas, {x, y, x + 22, y + 14}, TksoBorderStyle(style));
  }
  for (int i = 0; i < 2; ++i) {
    const int x = 4 + i * 130;
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = clWindow;
    canvas.FillRect({x, y + 20, x + 121, y + 41});
    ShiftedCanvas edit(canvas, x, y + 20);
    PaintKsoFrame(edit, 121, 21, clWindow, i == 0 ? kbsEtched : kbsOuterSunken);
  }
}

// Rounded rectangles: outlines of growing corner sizes, then filled ones.
void PaintRoundRects(TCustomCanvas& canvas, int y) {
  const int sizes[] = {3, 4, 5, 6, 8, 12, 16, 24, 32};
  int x = 4;
  for (int size : sizes) {
    canvas.Pen.Style = psSolid;
    canvas.Pen.Color = clWindowFrame;
    canvas.Brush.Style = bsClear;
    canvas.RoundRect(x, y, x + 34, y + 30, size, size);
    canvas.Pen.Color = kRed;
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = kBlue;
    canvas.RoundRect(x, y + 34, x + 34, y + 64, size, size);
    x += 36;
  }
}

// Square shapes: outline and filled rectangles, frames, fills and lines,
// and rounded rectangles whose corner ellipse is two pixels across, which
// GDI draws square.
void PaintSquares(TCustomCanvas& canvas, int y) {
  canvas.Pen.Style = psSolid;
  canvas.Pen.Color = kRed;
  canvas.Brush.Style = bsClear;
  canvas.Rectangle(4, y, 30, y + 20);
  canvas.Brush.Style = bsSolid;
  canvas.Brush.Color = kBlue;
  canvas.Rectangle(34, y, 60, y + 20);
  canvas.Brush.Color = clBtnShadow;
  canvas.FrameRect({64, y, 90, y + 20});
  canvas.Brush.Color = cl3DLight;
  canvas.FillRect({94, y, 120, y + 20});
  canvas.Pen.Color = clWindowFrame;
  canvas.MoveTo(124, y);
  canvas.LineTo(150, y);
  canvas.LineTo(150, y + 20);
  const int corners[][2] = {{2, 2}, {2, 8}, {8, 2}};
  int x = 154;
  for (const auto& corner : corners) {
    canvas.Pen.Color = clWindowFrame;
    canvas.Brush.Style = bsClear;
    canvas.RoundRect(x, y, x + 26, y + 20, corner[0], corner[1]);
    canvas.Pen.Color = kRed;
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = kBlue;
    canvas.RoundRect(x + 28, y, x + 54, y + 20, corner[0], corner[1]);
    x += 58;
  }
}

// Group panels without a caption: the groove of corner radii the setter
// keeps, with and without 3-D, with a face (a face with radius 3, and a
// groove with radius 1, have corners two pixels across).
void PaintGroups(TCustomCanvas& canvas, int y) {
  TFontDesc font;
  font.Families = {"MS Sans Serif", "DejaVu Sans Condensed", "DejaVu Sans"};
  canvas.SelectFontDesc(font);
  struct Group {
    int radius;
    bool ctl3D;
    TColor face;
  };
  const Group groups[] = {{0, true, clNone},  {3, true, clNone},  {6, true, clNone},  {12, true, clNone},
                          {16, true, clNone}, {3, false, clNone}, {0, false, clNone}, {4, true, clWindow},
                          {2, true, clWindow}, {0, true, clWindow}, {1, true, clNone}, {3, true, clWindow}};
  int x = 4;
  int row = y;
  for (const Group& g : groups) {
    TDsGroupLook look;
    look.CornerRadius = g.radius;
    look.Ctl3D = g.ctl3D;
    look.FaceColor = g.face;
    ShiftedCanvas shifted(canvas, x, row);
    look.Paint(shifted, 60, 44);
    x += 64;
    if (x + 60 > kSheetWidth) {
      x = 4;
      row += 48;
    }
  }
}

// Slanted lines from one point in every direction, with ties (where the
// ideal line passes exactly between two pixels) on both axes.
void PaintSlantedLines(TCustomCanvas& canvas, int x, int y) {
  const int ends[][2] = {{8, 2}, {8, -2}, {-8, 2}, {-8, -2}, {2, 8}, {2, -8}, {-2, 8}, {-2, -8},
                         {9, 3}, {-9, -3}, {3, 9}, {-3, -9}, {7, 5}, {-5, 7}, {8, 8}, {-8, -8}};
  canvas.Pen.Style = psSolid;
  canvas.Pen.Color = clWindowFrame;
  for (const auto& end : ends) {
    canvas.MoveTo(x, y);
    canvas.LineTo(x + end[0], y + end[1]);
  }
}

// Focus rectangles of even and odd widths and heights, and one pixel wide
// or high, where the walk round the outline meets itself.
void PaintFocusRects(TCustomCanvas& canvas, int x, int y) {
  const int sizes[][2] = {{6, 6}, {7, 7}, {6, 7}, {7, 6}, {1, 7}, {10, 1}, {21, 14}, {20, 15}};
  for (const auto& size : sizes) {
    canvas.DrawFocusRect({x, y, x + size[0], y + size[1]});
    x += size[0] + 4;
  }
}

}  // namespace

void PaintCanvasSheet(TCustomCanvas& canvas) {
  PaintBorders(canvas, 4);
  PaintRoundRects(canvas, 50);
  PaintSquares(canvas, 118);
  PaintGroups(canvas, 142);
  PaintFocusRects(canvas, 132, 238);
  PaintSlantedLines(canvas, 270, 260);
}

std::string SheetDifferences(const std::string& expected, const std::string& actual, int limit) {
  std::istringstream a(expected), b(actual);
  std::string lineA, lineB, out;
  int lines = 0;
  for (int y = 0; y < kSheetHeight && lines < limit; ++y) {
    std::getline(a, lineA);
    std::getline(b, lineB);
    if (lineA == lineB) continue;
    std::string row = std::to_string(y) + ":";
    for (int x = 0; x < kSheetWidth; ++x) {
      const char ea = x < int(lineA.size()) ? lineA[x] : ' ';
      const char eb = x < int(lineB.size()) ? lineB[x] : ' ';
      if (ea != eb) row += " " + std::to_string(x) + ":" + ea + "/" + eb;
    }
    out += row + "\n";
    ++lines;
  }
  return out;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return bool(out);
}
