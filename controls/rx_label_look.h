// What the shadowed label (TRxLabel) is and draws, free of any toolkit: its
// look properties, the drawing of its caption with the shadow, and the size
// it takes for its text. The hosts (a Qt widget, a Windows window class)
// keep one, select the label's font into the canvas and call it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "canvas.h"

enum TShadowPosition : std::uint8_t { spLeftTop, spLeftBottom, spRightBottom, spRightTop };
enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout : std::uint8_t { tlTop, tlCenter, tlBottom };

// Draws text twice on canvas: in colour shifted by size pixels towards
// position, then in the canvas's font colour at rect. rect becomes the union
// of both rectangles (with DT_CALCRECT: the extent of text and shadow).
// Returns the text height plus size, or 0 when nothing was measured.
int DrawShadowedText(TCustomCanvas& canvas, std::u16string_view text, TRect& rect, unsigned format, int size,
                     TColor colour, TShadowPosition position);

struct TRxLabelLook {
  TAlignment Alignment = taLeftJustify;  // as in effect (after right-to-left mirroring)
  TTextLayout Layout = tlTop;
  TColor ShadowColor = clBtnHighlight;
  int ShadowSize = 1;
  TShadowPosition ShadowPos = spLeftTop;
  bool ShowAccelChar = true;
  bool Transparent = false;
  bool WordWrap = false;
  TColor Color = clBtnFace;

  // What a paint or a measure needs besides the properties.
  struct Text {
    std::u16string_view Caption;
    TColor FontColor;
    bool Enabled;
  };

  // Draws (or with DT_CALCRECT measures) the caption and its shadow; a
  // disabled label is grey with a light shadow.
  void DrawLabelText(TCustomCanvas& canvas, const Text& text, TRect& rect, unsigned format) const;
  // Paints the label on (0, 0, width, height); returns the text's rectangle
  // (around which a focus rectangle goes).
  TRect Paint(TCustomCanvas& canvas, const Text& text, int width, int height) const;
  // Draws the focus rectangle around the text's rectangle Paint returned.
  void PaintFocus(TCustomCanvas& canvas, TRect textRect) const;
  // The bounds the label takes for its text: left, width and height, for a
  // label now at left with the given width and height.
  TRect AutoSizeBounds(TCustomCanvas& canvas, const Text& text, int left, int width, int height) const;

 private:
  unsigned Format() const;
};
