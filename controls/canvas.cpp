#include "canvas.h"

#include <algorithm>

void InflateRect(TRect& rect, int dx, int dy) {
  rect.Left -= dx;
  rect.Right += dx;
  rect.Top -= dy;
  rect.Bottom += dy;
}

void OffsetRect(TRect& rect, int dx, int dy) {
  rect.Left += dx;
  rect.Right += dx;
  rect.Top += dy;
  rect.Bottom += dy;
}

TRect UnionRect(const TRect& a, const TRect& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
          std::max(a.Bottom, b.Bottom)};
}
