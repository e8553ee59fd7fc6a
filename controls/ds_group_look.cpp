#include "ds_group_look.h"

#include <utility>

namespace {
constexpr unsigned kCaptionFormat = DT_CENTER | DT_SINGLELINE;
}

TRect TDsGroupLook::AlignedChildrenRect(TCustomCanvas& canvas, int width, int height) const {
  TRect r{0, 0, width, height};
  r.Top += canvas.TextHeightW(u"0");
  const int inset = Ctl3D ? 2 : 1;
  InflateRect(r, -inset, -inset);
  return r;
}

int TDsGroupLook::CaptionLeft(int width, int captionWidth) const {
  const int r = CornerRadius;
  switch (CapAlignment) {
    case caCenter: return (width - captionWidth) / 2;
    case caRight: return r < 4 ? width - captionWidth - 8 : width - captionWidth - r - 4;
    case caLeft: break;
  }
  return r < 4 ? 8 : r + 4;
}

void TDsGroupLook::PaintFrame(TCustomCanvas& canvas, int width, int height, int h) const {
  const int r = CornerRadius;
  TRect frame{0, h / 2, width - 1, height - 1};
  if (!Ctl3D) {
    canvas.Pen.Color = clWindowFrame;
    canvas.Brush.Color = clWindowFrame;
    canvas.Brush.Style = r == 0 ? bsSolid : bsClear;
    if (r == 0) canvas.FrameRect(frame);
    else canvas.RoundRect(0, h / 2, width, height, 2 * r, 2 * r);
    return;
  }
  // The light copy one pixel right of and below the dark line: a groove.
  for (const auto& [offset, color] : {std::pair{1, Color_High}, std::pair{0, Color_Low}}) {
    TRect line = frame;
    OffsetRect(line, offset, offset);
    if (r == 0) {
      canvas.Brush.Style = bsSolid;
      canvas.Brush.Color = color;
      canvas.FrameRect(line);
    } else {
      canvas.Brush.Style = bsClear;
      canvas.Pen.Color = color;
      canvas.RoundRect(line, 2 * r, 2 * r);
    }
  }
}

void TDsGroupLook::PaintFace(TCustomCanvas& canvas, int width, int height, int h) const {
  if (!Ctl3D || FaceColor == clNone) return;
  const int r = CornerRadius;
  canvas.Pen.Color = FaceColor;
  canvas.Brush.Style = bsSolid;
  canvas.Brush.Color = FaceColor;
  if (r == 0) canvas.Rectangle(2, h / 2 + 2, width - 2, height - 2);
  else canvas.RoundRect(2, h / 2 + 2, width - 2, height - 2, 2 * (r - 2), 2 * (r - 2));
}

void TDsGroupLook::PaintCaption(TCustomCanvas& canvas, const TRect& captionRect) const {
  canvas.Brush.Style = bsClear;
  auto draw = [&](TColor color, int dx, int dy) {
    TRect r = captionRect;
    OffsetRect(r, dx, dy);
    canvas.SetFontColor(color);
    canvas.DrawTextW(Caption, r, kCaptionFormat);
  };
  if (!Ctl3D) {
    draw(clWindowFrame, 0, 0);
    return;
  }
  switch (TextStyle) {
    case txLowered: draw(Color_High, 1, 1); break;
    case txRaised: draw(Color_High, -1, -1); break;
    case txShadowed: draw(Color_Low, 2, 2); break;
    case txNone: break;
  }
  draw(FontColor, 0, 0);
}

void TDsGroupLook::Paint(TCustomCanvas& canvas, int width, int height) const {
  canvas.Brush.Style = bsSolid;
  canvas.Brush.Color = Color;
  canvas.FillRect({0, 0, width, height});

  const int h = canvas.TextHeightW(u"H");
  canvas.Pen.Style = psSolid;
  PaintFrame(canvas, width, height, h);

  const int w = Caption.empty() ? 0 : canvas.TextWidthW(Caption) + 2;
  const int x = CaptionLeft(width, w);
  const TRect captionRect{x, 0, x + w, h};
  canvas.Brush.Style = bsSolid;
  canvas.Brush.Color = Color;
  canvas.FillRect(captionRect);

  PaintFace(canvas, width, height, h);
  PaintCaption(canvas, captionRect);
}
