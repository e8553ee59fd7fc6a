// The canvas over a Windows device context: every call is the real GDI one
// (Rectangle, RoundRect, FrameRect, FillRect, MoveToEx/LineTo, DrawFocusRect,
// DrawEdge, DrawTextW, GetTextExtentPoint32W). System colours come from
// GetSysColor. The canvas selects its own pen, brush and font into the
// context and puts the context's own back when it is destroyed.
#pragma once

#include <windows.h>

#include "canvas.h"

// The COLORREF a TColor stands for now.
COLORREF ColorToRGB(TColor color);

class TDCCanvas : public TCustomCanvas {
 public:
  // Draws on dc, which stays the caller's.
  explicit TDCCanvas(HDC dc);
  ~TDCCanvas() override;
  TDCCanvas(const TDCCanvas&) = delete;
  TDCCanvas& operator=(const TDCCanvas&) = delete;

  HDC Handle() const { return dc_; }

  using TCustomCanvas::Rectangle;
  using TCustomCanvas::RoundRect;
  void Rectangle(int x1, int y1, int x2, int y2) override;
  void RoundRect(int x1, int y1, int x2, int y2, int w, int h) override;
  void FrameRect(const TRect& r) override;
  void FillRect(const TRect& r) override;
  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;
  void DrawFocusRect(const TRect& r) override;
  void DrawEdge(const TRect& rect, unsigned edge, unsigned flags) override;

  void SelectFontDesc(const TFontDesc& font) override;
  TColor SetFontColor(TColor color) override;
  int TextWidthW(std::u16string_view text) override;
  int TextHeightW(std::u16string_view text) override;
  int DrawTextW(std::u16string_view text, TRect& rect, unsigned format) override;

 private:
  void UsePen();
  void UseBrush();
  HBRUSH SolidBrush();
  SIZE TextExtent(std::u16string_view text);

  HDC dc_;
  int saved_;
  HPEN pen_ = nullptr;
  TPen penMade_;
  HBRUSH brush_ = nullptr;
  TColor brushColor_ = clNone;
  HFONT font_ = nullptr;
  TColor fontColor_ = clWindowText;
};

// A font for a design's description: the first face it names that has
// Cyrillic letters (else the first one), the character height in pixels.
HFONT CreateDesignFont(const TFontDesc& font);
