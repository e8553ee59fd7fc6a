// The drawing surface the flat controls paint on, free of any toolkit. It
// reads like drawing on a Windows device context:
//   - rectangles are (Left, Top, Right, Bottom), Right and Bottom exclusive;
//   - pens are solid and one pixel wide, shapes are not antialiased;
//   - LineTo excludes its end point;
//   - DrawText understands the DT_ flags below, breaks lines at CR LF and
//     underlines the character after "&".
// Colours are framework colour values (TColor): an RGB value $00BBGGRR, a
// system colour (clBtnFace, ...) that the canvas resolves from the current
// scheme, or clNone. Text is UTF-16.
//
// Two canvases implement it: one over QPainter (qt/qpainter_canvas.h) and one
// over a Windows device context with the real GDI calls (win32/dc_canvas.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TColor = std::uint32_t;

// System colours: the high byte marks a reference to the current scheme, the
// low byte is the scheme's colour index (COLOR_BTNFACE and so on).
constexpr TColor clWindow = 0xFF000005;
constexpr TColor clWindowFrame = 0xFF000006;
constexpr TColor clWindowText = 0xFF000008;
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor clBtnShadow = 0xFF000010;
constexpr TColor clGrayText = 0xFF000011;
constexpr TColor clBtnText = 0xFF000012;
constexpr TColor clBtnHighlight = 0xFF000014;
constexpr TColor cl3DDkShadow = 0xFF000015;
constexpr TColor cl3DLight = 0xFF000016;
// Plain RGB values ($00BBGGRR) and "no colour".
constexpr TColor clBlack = 0x000000;
constexpr TColor clGreen = 0x008000;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;

constexpr bool IsSystemColor(TColor color) { return (color & 0xFF000000) == 0xFF000000; }

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

void InflateRect(TRect& rect, int dx, int dy);
void OffsetRect(TRect& rect, int dx, int dy);
// The smallest rectangle holding both; an empty one does not count.
TRect UnionRect(const TRect& a, const TRect& b);

// DrawText formats and DrawEdge edges and sides, with the values of the
// Windows headers (which, where included, define them already).
#ifndef DT_LEFT
constexpr unsigned DT_LEFT = 0x0000;
constexpr unsigned DT_CENTER = 0x0001;
constexpr unsigned DT_RIGHT = 0x0002;
constexpr unsigned DT_VCENTER = 0x0004;
constexpr unsigned DT_BOTTOM = 0x0008;
constexpr unsigned DT_WORDBREAK = 0x0010;
constexpr unsigned DT_SINGLELINE = 0x0020;
constexpr unsigned DT_EXPANDTABS = 0x0040;
constexpr unsigned DT_NOCLIP = 0x0100;
constexpr unsigned DT_CALCRECT = 0x0400;
constexpr unsigned DT_NOPREFIX = 0x0800;

constexpr unsigned BDR_RAISEDOUTER = 0x0001;
constexpr unsigned BDR_SUNKENOUTER = 0x0002;
constexpr unsigned BDR_RAISEDINNER = 0x0004;
constexpr unsigned BDR_SUNKENINNER = 0x0008;
constexpr unsigned EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr unsigned EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
constexpr unsigned EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER;
constexpr unsigned EDGE_BUMP = BDR_RAISEDOUTER | BDR_SUNKENINNER;
constexpr unsigned BF_LEFT = 0x0001;
constexpr unsigned BF_TOP = 0x0002;
constexpr unsigned BF_RIGHT = 0x0004;
constexpr unsigned BF_BOTTOM = 0x0008;
constexpr unsigned BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM;
#endif

enum TPenStyle { psSolid, psClear };
enum TBrushStyle { bsSolid, bsClear };

struct TPen {
  TColor Color = clBlack;
  TPenStyle Style = psSolid;
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};

// A font as a design names it: faces in order of preference, the character
// height in pixels, weight and colour.
struct TFontDesc {
  std::vector<std::string> Families{"MS Sans Serif"};
  int PixelHeight = 11;
  bool Bold = false;
  TColor Color = clWindowText;
  friend bool operator==(const TFontDesc&, const TFontDesc&) = default;
};

class TCustomCanvas {
 public:
  virtual ~TCustomCanvas() = default;

  TPen Pen;
  TBrush Brush;

  // Outline with the pen, inside filled with the brush unless it is clear.
  virtual void Rectangle(int x1, int y1, int x2, int y2) = 0;
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  // Rectangle with corner ellipses w wide and h high.
  virtual void RoundRect(int x1, int y1, int x2, int y2, int w, int h) = 0;
  void RoundRect(const TRect& r, int w, int h) { RoundRect(r.Left, r.Top, r.Right, r.Bottom, w, h); }
  // One-pixel frame in the brush colour.
  virtual void FrameRect(const TRect& r) = 0;
  // The whole rectangle in the brush colour.
  virtual void FillRect(const TRect& r) = 0;
  virtual void MoveTo(int x, int y) = 0;
  // A line with the pen from the current position, end point excluded.
  virtual void LineTo(int x, int y) = 0;
  // A dotted frame that inverts the pixels under it; drawn twice, it vanishes.
  virtual void DrawFocusRect(const TRect& r) = 0;
  // Edge lines along the inside of rect on the given sides; the inside is
  // left untouched and the pen is kept.
  virtual void DrawEdge(const TRect& rect, unsigned edge, unsigned flags) = 0;

  // Selects the font and its colour for the text calls below.
  virtual void SelectFontDesc(const TFontDesc& font) = 0;
  // Sets the colour text is drawn in and returns the previous one.
  virtual TColor SetFontColor(TColor color) = 0;
  virtual int TextWidthW(std::u16string_view text) = 0;
  virtual int TextHeightW(std::u16string_view text) = 0;
  // Draws text in rect with the given DT_ format (transparently) and returns
  // the height of the text. With DT_CALCRECT nothing is drawn: rect's Right
  // and Bottom become the extent of the text (Left and Top stay).
  virtual int DrawTextW(std::u16string_view text, TRect& rect, unsigned format) = 0;
};

// Draws edge lines along the inside of rect on the given sides.
inline void DrawEdge(TCustomCanvas& canvas, const TRect& rect, unsigned edge, unsigned flags) {
  canvas.DrawEdge(rect, edge, flags);
}
