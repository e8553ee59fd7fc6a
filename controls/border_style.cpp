#include "border_style.h"

namespace {

void Outline(TCustomCanvas& canvas, const TRect& r) { canvas.Rectangle(r); }

void HollowOutline(TCustomCanvas& canvas, const TRect& r, TColor color) {
  canvas.Brush.Style = bsClear;
  canvas.Pen.Style = psSolid;
  canvas.Pen.Color = color;
  Outline(canvas, r);
}

// A raised button's frame: dark outer line, light top-left, face ring inside,
// and a shadow along the inner bottom and right.
void DrawUp(TCustomCanvas& canvas, TRect r) {
  HollowOutline(canvas, r, clWindowFrame);
  canvas.Pen.Color = clBtnHighlight;
  Outline(canvas, {r.Left, r.Top, r.Right - 1, r.Bottom - 1});
  InflateRect(r, -1, -1);
  canvas.Pen.Color = clBtnFace;
  Outline(canvas, r);
  InflateRect(r, -1, -1);
  canvas.Pen.Color = clBtnShadow;
  canvas.MoveTo(r.Left - 1, r.Bottom);
  canvas.LineTo(r.Right, r.Bottom);
  canvas.LineTo(r.Right, r.Top - 2);
}

// One edge line and a face-coloured ring inside it.
void DrawOuterLine(TCustomCanvas& canvas, TRect r, unsigned edge) {
  DrawEdge(canvas, r, edge, BF_RECT);
  InflateRect(r, -1, -1);
  canvas.Pen.Style = psSolid;
  canvas.Pen.Color = clBtnFace;
  Outline(canvas, r);
}

}  // namespace

void DrawBorder(TCustomCanvas& canvas, const TRect& rect, TksoBorderStyle style) {
  TRect r = rect;
  switch (style) {
    case kbsNone:
      break;
    case kbsFlat:
      HollowOutline(canvas, r, clBtnShadow);
      break;
    case kbsSingle:
      HollowOutline(canvas, r, clWindowFrame);
      break;
    case kbsSolid:
      canvas.Pen.Style = psSolid;
      canvas.Pen.Color = clBtnFace;
      Outline(canvas, r);
      InflateRect(r, -1, -1);
      Outline(canvas, r);
      break;
    case kbsEtched:
      DrawEdge(canvas, r, EDGE_ETCHED, BF_RECT);
      break;
    case kbsBump:
      DrawEdge(canvas, r, BDR_RAISEDINNER, BF_RECT);
      InflateRect(r, -1, -1);
      DrawEdge(canvas, r, BDR_SUNKENOUTER, BF_RECT);
      break;
    case kbsSunken:
      DrawEdge(canvas, r, EDGE_SUNKEN, BF_RECT);
      break;
    case kbsRaised:
      DrawEdge(canvas, r, EDGE_RAISED, BF_RECT);
      break;
    case kbsDown:
      HollowOutline(canvas, r, clWindowFrame);
      InflateRect(r, -1, -1);
      canvas.Pen.Color = clBtnShadow;
      Outline(canvas, r);
      break;
    case kbsUp:
      DrawUp(canvas, r);
      break;
    case kbsOuterRaised:
      DrawOuterLine(canvas, r, BDR_RAISEDINNER);
      break;
    case kbsOuterSunken:
      DrawOuterLine(canvas, r, BDR_SUNKENOUTER);
      break;
  }
}

void PaintKsoFrame(TCustomCanvas& canvas, int width, int height, TColor color, TksoBorderStyle style) {
  const TRect r{0, 0, width, height};
  canvas.Pen.Style = psSolid;
  canvas.Pen.Color = color;
  canvas.Brush.Style = bsClear;
  canvas.Rectangle(r);
  canvas.Rectangle(r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1);
  DrawBorder(canvas, r, style);
}
