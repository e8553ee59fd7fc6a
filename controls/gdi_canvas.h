// A small GDI-like canvas over QPainter. The painting code of the flat
// controls is written against it, so it reads like drawing on a Windows
// device context:
//   - rectangles are (Left, Top, Right, Bottom), Right and Bottom exclusive;
//   - pens are one pixel wide and every shape is drawn without antialiasing,
//     pixel by pixel, so the result does not depend on Qt's rasteriser;
//   - RoundRect draws its corners the way GDI does, the same at all four
//     corners (Qt's aliased rounded rectangle is lopsided);
//   - LineTo excludes its end point;
//   - DrawText understands the DT_ flags below, breaks lines at CR LF and
//     underlines the character after "&".
// Colours are framework colour values (TColor): an RGB value $00BBGGRR, a
// system colour (clBtnFace, ...) resolved from the application palette, or
// clNone.
#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QString>
#include <cstdint>

class QPainter;

using TColor = std::uint32_t;

// System colours: the high byte marks a reference to the current scheme.
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

// The colour a TColor stands for now. System colours come from the
// application palette:
//   clBtnFace Button, clBtnShadow Dark, clBtnHighlight Light, cl3DLight Midlight,
//   cl3DDkShadow Shadow, clWindow Base, clWindowFrame and clWindowText WindowText,
//   clBtnText ButtonText, clGrayText the disabled WindowText.
QColor ColorToRGB(TColor color);
// An RGB framework value for a Qt colour.
TColor RGBToColor(const QColor& color);

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

// DrawText formats.
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

// DrawEdge edges and sides.
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

class TCanvas {
 public:
  // Draws through painter, which it switches to aliased drawing. Without a
  // painter the canvas only measures (like a screen context used for
  // DT_CALCRECT): drawing calls do nothing.
  explicit TCanvas(QPainter* painter = nullptr);

  TPen Pen;
  TBrush Brush;
  // The selected font and the colour text is drawn in.
  QFont Font;
  QColor TextColor = Qt::black;

  // Selects font with its colour, as assigning the canvas's font does.
  void SelectFont(const QFont& font, TColor color);
  // Sets the text colour and returns the previous one.
  QColor SetTextColor(const QColor& color);

  // Outline with the pen, inside filled with the brush unless it is clear.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  // Rectangle with corner ellipses w wide and h high.
  void RoundRect(int x1, int y1, int x2, int y2, int w, int h);
  void RoundRect(const TRect& r, int w, int h) { RoundRect(r.Left, r.Top, r.Right, r.Bottom, w, h); }
  // One-pixel frame in the brush colour.
  void FrameRect(const TRect& r);
  // The whole rectangle in the brush colour.
  void FillRect(const TRect& r);
  void MoveTo(int x, int y);
  // A line with the pen from the current position, end point excluded.
  void LineTo(int x, int y);
  // A dotted frame that inverts the pixels under it; drawn twice, it vanishes.
  void DrawFocusRect(const TRect& r);

  int TextWidth(const QString& text) const;
  int TextHeight(const QString& text) const;
  // Draws text in rect with the given DT_ format and returns the height of the
  // text. With DT_CALCRECT nothing is drawn: rect's Right and Bottom become
  // the extent of the text (Left and Top stay).
  int DrawText(const QString& text, TRect& rect, unsigned format);

 private:
  QColor PenColor() const;
  void Pixel(int x, int y, const QColor& color);
  void Span(int x1, int x2, int y, const QColor& color);  // x1..x2 inclusive
  void OutlineRoundRect(int x1, int y1, int x2, int y2, const int* left, int rows, int cols, const QColor& color);
  void FillRoundRect(int x1, int y1, int x2, int y2, const int* left, int rows, const QColor& color);
  QFont DrawingFont() const;

  QPainter* painter_;
  QPoint penPos_;
};

// Draws edge lines along the inside of rect on the given sides; the inside is
// left untouched. Top and left lines are drawn first, so the bottom and right
// colours own the bottom-left and top-right corners.
void DrawEdge(TCanvas& canvas, const TRect& rect, unsigned edge, unsigned flags);
