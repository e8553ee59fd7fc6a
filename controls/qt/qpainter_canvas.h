// The canvas over QPainter (see canvas.h), with Qt conveniences beside the
// shared interface: fonts as QFont, text as QString, colours as QColor.
//   - every shape is drawn pixel by pixel, without antialiasing, so the
//     result does not depend on Qt's rasteriser;
//   - RoundRect and DrawEdge draw the way GDI does (Qt's aliased rounded
//     rectangle is lopsided).
// System colours come from the application palette.
#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QString>

#include "canvas.h"

class QPainter;

// The colour a TColor stands for now. System colours come from the
// application palette:
//   clBtnFace Button, clBtnShadow Dark, clBtnHighlight Light, cl3DLight Midlight,
//   cl3DDkShadow Shadow, clWindow Base, clWindowFrame and clWindowText WindowText,
//   clBtnText ButtonText, clGrayText the disabled WindowText.
QColor ColorToRGB(TColor color);
// An RGB framework value for a Qt colour.
TColor RGBToColor(const QColor& color);
// The QFont a design's font description stands for here.
QFont ToQFont(const TFontDesc& font);

class TCanvas : public TCustomCanvas {
 public:
  // Draws through painter, which it switches to aliased drawing. Without a
  // painter the canvas only measures (like a screen context used for
  // DT_CALCRECT): drawing calls do nothing.
  explicit TCanvas(QPainter* painter = nullptr);

  // The selected font and the colour text is drawn in.
  QFont Font;
  QColor TextColor = Qt::black;

  // Selects font with its colour, as assigning the canvas's font does.
  void SelectFont(const QFont& font, TColor color);
  // Sets the text colour and returns the previous one.
  QColor SetTextColor(const QColor& color);

  // Outline with the pen, inside filled with the brush unless it is clear.
  using TCustomCanvas::Rectangle;
  using TCustomCanvas::RoundRect;
  void Rectangle(int x1, int y1, int x2, int y2) override;
  // Rectangle with corner ellipses w wide and h high.
  void RoundRect(int x1, int y1, int x2, int y2, int w, int h) override;
  // One-pixel frame in the brush colour.
  void FrameRect(const TRect& r) override;
  // The whole rectangle in the brush colour.
  void FillRect(const TRect& r) override;
  void MoveTo(int x, int y) override;
  // A line with the pen from the current position, end point excluded.
  void LineTo(int x, int y) override;
  // A dotted frame that inverts the pixels under it; drawn twice, it vanishes.
  void DrawFocusRect(const TRect& r) override;
  void DrawEdge(const TRect& rect, unsigned edge, unsigned flags) override;

  int TextWidth(const QString& text) const;
  int TextHeight(const QString& text) const;
  // Draws text in rect with the given DT_ format and returns the height of the
  // text. With DT_CALCRECT nothing is drawn: rect's Right and Bottom become
  // the extent of the text (Left and Top stay).
  int DrawText(const QString& text, TRect& rect, unsigned format);

  void SelectFontDesc(const TFontDesc& font) override { SelectFont(ToQFont(font), font.Color); }
  TColor SetFontColor(TColor color) override;
  int TextWidthW(std::u16string_view text) override { return TextWidth(QString::fromUtf16(text.data(), text.size())); }
  int TextHeightW(std::u16string_view text) override { return TextHeight(QString::fromUtf16(text.data(), text.size())); }
  int DrawTextW(std::u16string_view text, TRect& rect, unsigned format) override {
    return DrawText(QString::fromUtf16(text.data(), text.size()), rect, format);
  }

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
