#include "rx_label_look.h"

int DrawShadowedText(TCustomCanvas& canvas, std::u16string_view text, TRect& rect, unsigned format, int size,
                     TColor colour, TShadowPosition position) {
  TRect textRect = rect;
  TRect shadowRect = rect;
  const TColor old = canvas.SetFontColor(colour);
  switch (position) {
    case spLeftTop: OffsetRect(shadowRect, -size, -size); break;
    case spLeftBottom: OffsetRect(shadowRect, -size, size); break;
    case spRightBottom: OffsetRect(shadowRect, size, size); break;
    case spRightTop: OffsetRect(shadowRect, size, -size); break;
  }
  int result = canvas.DrawTextW(text, shadowRect, format);
  if (result > 0) result += size;
  canvas.SetFontColor(old);
  canvas.DrawTextW(text, textRect, format);
  rect = UnionRect(textRect, shadowRect);
  return result;
}

void TRxLabelLook::DrawLabelText(TCustomCanvas& canvas, const Text& text, TRect& rect, unsigned format) const {
  std::u16string caption(text.Caption);
  if ((format & DT_CALCRECT) && (caption.empty() || (ShowAccelChar && caption == u"&"))) caption += u' ';
  if (!ShowAccelChar) format |= DT_NOPREFIX;
  canvas.SetFontColor(text.FontColor);
  TShadowPosition position = ShadowPos;
  int size = ShadowSize;
  TColor colour = ShadowColor;
  if (!text.Enabled) {
    if (size == 0) {
      position = spRightBottom;
      size = 1;
    }
    canvas.SetFontColor(clGrayText);
    colour = clBtnHighlight;
  }
  DrawShadowedText(canvas, caption, rect, format, size, colour, position);
}

unsigned TRxLabelLook::Format() const {
  unsigned format = DT_EXPANDTABS | (WordWrap ? DT_WORDBREAK : 0);
  switch (Alignment) {
    case taLeftJustify: format |= DT_LEFT; break;
    case taRightJustify: format |= DT_RIGHT; break;
    case taCenter: format |= DT_CENTER; break;
  }
  return format;
}

TRect TRxLabelLook::Paint(TCustomCanvas& canvas, const Text& text, int width, int height) const {
  if (!Transparent) {
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = Color;
    canvas.FillRect({0, 0, width, height});
  }
  canvas.Brush.Style = bsClear;
  TRect r{1, 0, width - 1, height};
  const unsigned format = Format();
  if (Layout != tlTop) {
    DrawLabelText(canvas, text, r, format | DT_CALCRECT);
    r.Left = 0;
    r.Right = width;
    const int free = height - r.Bottom;
    OffsetRect(r, 0, Layout == tlBottom ? free : free / 2);
  }
  DrawLabelText(canvas, text, r, format);
  return r;
}

void TRxLabelLook::PaintFocus(TCustomCanvas& canvas, TRect textRect) const {
  InflateRect(textRect, 1, 0);
  canvas.Brush.Color = Color;
  canvas.DrawFocusRect(textRect);
}

TRect TRxLabelLook::AutoSizeBounds(TCustomCanvas& canvas, const Text& text, int left, int width, int height) const {
  TRect r{1, 0, width - 1, height};
  DrawLabelText(canvas, text, r, DT_EXPANDTABS | DT_CALCRECT | (WordWrap ? DT_WORDBREAK : 0));
  InflateRect(r, 1, 0);
  if (Alignment == taRightJustify) left += width - r.Right;
  // The new size is R's right and bottom edge: a shadow to the left or above
  // adds nothing, one to the right or below adds its size.
  return {left, 0, left + r.Right, r.Bottom};
}
