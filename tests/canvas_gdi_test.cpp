// The canvas over the real GDI, under Wine: the sheet of shapes drawn into a
// DIB section in a memory device context must match the reference.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "canvas_sheet.h"
#include "dc_canvas.h"

namespace {

// Sets the system colours of the sheet's scheme while it lives, and puts the
// previous ones back.
class SheetScheme {
 public:
  SheetScheme() {
    for (const SheetColor& c : SheetColors()) {
      if (c.system == clNone) continue;
      const int index = int(c.system & 0xFF);
      indices_.push_back(index);
      old_.push_back(GetSysColor(index));
      colors_.push_back(RGB(c.rgb >> 16, (c.rgb >> 8) & 0xFF, c.rgb & 0xFF));
    }
    SetSysColors(int(indices_.size()), indices_.data(), colors_.data());
  }
  ~SheetScheme() { SetSysColors(int(indices_.size()), indices_.data(), old_.data()); }

 private:
  std::vector<int> indices_;
  std::vector<COLORREF> old_, colors_;
};

// A top-down 32-bit DIB section selected into a memory DC.
class Bitmap {
 public:
  Bitmap(int width, int height) : width_(width) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~Bitmap() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  bool ok() const { return bits_ != nullptr; }
  std::uint32_t Pixel(int x, int y) const {
    GdiFlush();
    return bits_[y * width_ + x] & 0xFFFFFF;  // 0x00RRGGBB in a 32-bit DIB
  }

 private:
  int width_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  std::uint32_t* bits_ = nullptr;
};

TEST(GdiCanvas, SheetMatchesTheReference) {
  SheetScheme scheme;
  Bitmap bitmap(kSheetWidth, kSheetHeight);
  ASSERT_TRUE(bitmap.ok());
  {
    TDCCanvas canvas(bitmap.dc());
    canvas.Brush.Color = 0xFF00FF;  // magenta, the same as $00BBGGRR
    canvas.FillRect({0, 0, kSheetWidth, kSheetHeight});
    canvas.Brush.Color = clWhite;
    PaintCanvasSheet(canvas);
  }
  const std::string actual = SheetText([&](int x, int y) { return bitmap.Pixel(x, y); });
  // Kept beside the test, to replace the reference when the sheet changes.
  WriteTextFile("canvas-sheet-gdi.txt", actual);
  const std::string expected = ReadTextFile(VELOTRUNK_SHEET_REFERENCE);
  ASSERT_FALSE(expected.empty()) << VELOTRUNK_SHEET_REFERENCE;
  EXPECT_EQ(SheetDifferences(expected, actual), "");
}

}  // namespace
