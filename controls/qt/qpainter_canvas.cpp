#include "qpainter_canvas.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr TColor kSystemColorFlag = 0xFF000000;

QColor SystemColor(TColor color) {
  const QPalette palette = QGuiApplication::palette();
  switch (color) {
    case clBtnFace: return palette.color(QPalette::Active, QPalette::Button);
    case clBtnShadow: return palette.color(QPalette::Active, QPalette::Dark);
    case clBtnHighlight: return palette.color(QPalette::Active, QPalette::Light);
    case cl3DLight: return palette.color(QPalette::Active, QPalette::Midlight);
    case cl3DDkShadow: return palette.color(QPalette::Active, QPalette::Shadow);
    case clWindow: return palette.color(QPalette::Active, QPalette::Base);
    case clWindowFrame:
    case clWindowText: return palette.color(QPalette::Active, QPalette::WindowText);
    case clBtnText: return palette.color(QPalette::Active, QPalette::ButtonText);
    case clGrayText: return palette.color(QPalette::Disabled, QPalette::WindowText);
    default: return palette.color(QPalette::Active, QPalette::Window);
  }
}

// One line of text ready to draw: prefixes removed, and the index of the
// character to underline (-1 for none).
struct TextLine {
  QString text;
  int underline = -1;
};

QString ExpandTabs(const QString& text) {
  QString out;
  for (QChar c : text) {
    if (c == u'\t') {
      do out += u' '; while (out.size() % 8 != 0);
    } else {
      out += c;
    }
  }
  return out;
}

// "&&" stands for "&"; "&x" draws x underlined; a lone "&" at the end is dropped.
TextLine StripPrefix(const QString& text) {
  TextLine line;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != u'&') {
      line.text += text[i];
    } else if (i + 1 < text.size()) {
      ++i;
      if (text[i] != u'&' && line.underline < 0) line.underline = int(line.text.size());
      line.text += text[i];
    }
  }
  return line;
}

QStringList SplitParagraphs(const QString& text, unsigned format) {
  QString t = text;
  if (format & DT_SINGLELINE) {
    t.replace(u'\r', u' ').replace(u'\n', u' ');
    return {t};
  }
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
  return t.split(u'\n');
}

TextLine Piece(const TextLine& para, qsizetype start, qsizetype end) {
  TextLine line;
  line.text = para.text.mid(start, end - start);
  while (line.text.endsWith(u' ')) line.text.chop(1);
  if (para.underline >= start && para.underline < start + line.text.size())
    line.underline = int(para.underline - start);
  return line;
}

// Greedy breaking at spaces; a word wider than the width gets a line of its own.
void WrapParagraph(const TextLine& para, int width, const QFontMetrics& fm, std::vector<TextLine>& out) {
  const QString& t = para.text;
  qsizetype start = 0;
  for (;;) {
    if (start > 0)
      while (start < t.size() && t[start] == u' ') ++start;
    qsizetype end = start;
    while (end < t.size()) {
      qsizetype next = end;
      while (next < t.size() && t[next] == u' ') ++next;
      while (next < t.size() && t[next] != u' ') ++next;
      if (end > start && fm.horizontalAdvance(t.mid(start, next - start)) > width) break;
      end = next;
    }
    out.push_back(Piece(para, start, end));
    if (end >= t.size()) return;
    start = end;
  }
}

std::vector<TextLine> LayoutText(const QString& text, unsigned format, int width, const QFontMetrics& fm) {
  std::vector<TextLine> lines;
  for (QString para : SplitParagraphs(text, format)) {
    if (format & DT_EXPANDTABS) para = ExpandTabs(para);
    const TextLine stripped = (format & DT_NOPREFIX) ? TextLine{para, -1} : StripPrefix(para);
    if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE))
      WrapParagraph(stripped, width, fm, lines);
    else
      lines.push_back(stripped);
  }
  return lines;
}

// For a corner ellipse w wide and h high, the leftmost outline column of each
// row of the top-left quarter (rows 0 to h/2 - 1). The ellipse runs through
// the pixel centres of its box; each row takes the leftmost pixel that either
// a row-wise or a column-wise walk of the curve puts on it, so the curve is
// closed and the four corners are mirror images of each other.
std::vector<int> CornerLeftColumns(int w, int h) {
  const int rows = h / 2, cols = w / 2;
  const double c = (w - 1) / 2.0, a = (w - 1) / 2.0;
  const double cy = (h - 1) / 2.0, b = (h - 1) / 2.0;
  std::vector<int> left(rows);
  for (int j = 0; j < rows; ++j) {
    const double dy = (j - cy) / b;
    left[j] = int(std::floor(c - a * std::sqrt(std::max(0.0, 1 - dy * dy)) + 0.5));
  }
  for (int i = 0; i < cols; ++i) {
    const double dx = (i - c) / a;
    const int row = int(std::floor(cy - b * std::sqrt(std::max(0.0, 1 - dx * dx)) + 0.5));
    if (row >= 0 && row < rows) left[row] = std::min(left[row], i);
  }
  return left;
}

}  // namespace

QColor ColorToRGB(TColor color) {
  if (color == clNone) return {};
  if ((color & kSystemColorFlag) == kSystemColorFlag) return SystemColor(color);
  return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

TColor RGBToColor(const QColor& color) {
  return TColor(color.red()) | (TColor(color.green()) << 8) | (TColor(color.blue()) << 16);
}

QFont ToQFont(const TFontDesc& font) {
  QFont result;
  QStringList families;
  for (const std::string& family : font.Families) families << QString::fromStdString(family);
  result.setFamilies(families);
  result.setStyleHint(QFont::SansSerif);
  result.setPixelSize(font.PixelHeight);
  result.setBold(font.Bold);
  return result;
}

TCanvas::TCanvas(QPainter* painter) : painter_(painter) {
  if (painter_) {
    painter_->setRenderHint(QPainter::Antialiasing, false);
    painter_->setRenderHint(QPainter::TextAntialiasing, false);
  }
}

void TCanvas::SelectFont(const QFont& font, TColor color) {
  Font = font;
  TextColor = ColorToRGB(color);
}

TColor TCanvas::SetFontColor(TColor color) {
  const QColor old = SetTextColor(ColorToRGB(color));
  return RGBToColor(old);
}

QColor TCanvas::SetTextColor(const QColor& color) {
  const QColor old = TextColor;
  TextColor = color;
  return old;
}

QColor TCanvas::PenColor() const { return ColorToRGB(Pen.Color); }

void TCanvas::Pixel(int x, int y, const QColor& color) {
  if (painter_) painter_->fillRect(x, y, 1, 1, color);
}

void TCanvas::Span(int x1, int x2, int y, const QColor& color) {
  if (painter_ && x2 >= x1) painter_->fillRect(x1, y, x2 - x1 + 1, 1, color);
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (x2 <= x1 || y2 <= y1) return;
  if (Brush.Style == bsSolid) FillRect({x1, y1, x2, y2});
  if (Pen.Style == psClear) return;
  const QColor pen = PenColor();
  Span(x1, x2 - 1, y1, pen);
  Span(x1, x2 - 1, y2 - 1, pen);
  for (int y = y1 + 1; y < y2 - 1; ++y) {
    Pixel(x1, y, pen);
    Pixel(x2 - 1, y, pen);
  }
}

void TCanvas::RoundRect(int x1, int y1, int x2, int y2, int w, int h) {
  if (x2 <= x1 || y2 <= y1) return;
  w = std::min(w, x2 - x1);
  h = std::min(h, y2 - y1);
  // GDI draws a corner ellipse two pixels across (or less) as a square corner.
  if (w <= 2 || h <= 2) {
    Rectangle(x1, y1, x2, y2);
    return;
  }
  const std::vector<int> left = CornerLeftColumns(w, h);
  if (Brush.Style == bsSolid) FillRoundRect(x1, y1, x2, y2, left.data(), int(left.size()), ColorToRGB(Brush.Color));
  if (Pen.Style == psSolid) OutlineRoundRect(x1, y1, x2, y2, left.data(), int(left.size()), w / 2, PenColor());
}

void TCanvas::FillRoundRect(int x1, int y1, int x2, int y2, const int* left, int rows, const QColor& color) {
  for (int j = 0; j < rows; ++j) {
    Span(x1 + left[j], x2 - 1 - left[j], y1 + j, color);
    Span(x1 + left[j], x2 - 1 - left[j], y2 - 1 - j, color);
  }
  if (painter_ && y2 - y1 > 2 * rows) painter_->fillRect(x1, y1 + rows, x2 - x1, y2 - y1 - 2 * rows, color);
}

void TCanvas::OutlineRoundRect(int x1, int y1, int x2, int y2, const int* left, int rows, int cols,
                               const QColor& color) {
  // Straight sides between the corners.
  Span(x1 + cols, x2 - 1 - cols, y1, color);
  Span(x1 + cols, x2 - 1 - cols, y2 - 1, color);
  for (int y = y1 + rows; y <= y2 - 1 - rows; ++y) {
    Pixel(x1, y, color);
    Pixel(x2 - 1, y, color);
  }
  // Corners: each row runs from its leftmost pixel to the one before the
  // leftmost pixel of the row above, so the curve has no gaps.
  for (int j = 0; j < rows; ++j) {
    const int last = j == 0 ? cols - 1 : std::max(left[j], left[j - 1] - 1);
    if (left[j] > last) continue;
    for (int y : {y1 + j, y2 - 1 - j}) {
      Span(x1 + left[j], x1 + last, y, color);
      Span(x2 - 1 - last, x2 - 1 - left[j], y, color);
    }
  }
}

void TCanvas::FrameRect(const TRect& r) {
  if (r.IsEmpty()) return;
  const QColor c = ColorToRGB(Brush.Color);
  Span(r.Left, r.Right - 1, r.Top, c);
  Span(r.Left, r.Right - 1, r.Bottom - 1, c);
  for (int y = r.Top + 1; y < r.Bottom - 1; ++y) {
    Pixel(r.Left, y, c);
    Pixel(r.Right - 1, y, c);
  }
}

void TCanvas::FillRect(const TRect& r) {
  if (painter_ && !r.IsEmpty()) painter_->fillRect(r.Left, r.Top, r.Width(), r.Height(), ColorToRGB(Brush.Color));
}

void TCanvas::MoveTo(int x, int y) { penPos_ = {x, y}; }

// One pixel per step along the longer axis, the end point left out. Where
// the ideal line passes exactly between two pixels, the one with the smaller
// coordinate is taken, as GDI does.
void TCanvas::LineTo(int x, int y) {
  const QColor c = PenColor();
  const int x0 = penPos_.x(), y0 = penPos_.y();
  const int dx = x - x0, dy = y - y0;
  const bool xMajor = std::abs(dx) >= std::abs(dy);
  const int steps = xMajor ? std::abs(dx) : std::abs(dy);
  const int across = xMajor ? dy : dx;
  const int along = (xMajor ? dx : dy) > 0 ? 1 : -1;
  for (int i = 0; Pen.Style == psSolid && i < steps; ++i) {
    // The nearest whole offset across, ties rounded down: ceil(i * across / steps - 1/2).
    const int twice = 2 * i * across - steps, denominator = 2 * steps;
    const int offset = twice >= 0 ? (twice + denominator - 1) / denominator : -(-twice / denominator);
    if (xMajor)
      Pixel(x0 + along * i, y0 + offset, c);
    else
      Pixel(x0 + offset, y0 + along * i, c);
  }
  penPos_ = {x, y};
}

void TCanvas::DrawFocusRect(const TRect& r) {
  if (!painter_ || r.IsEmpty()) return;
  painter_->save();
  painter_->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  // The outline is walked clockwise from the top-left pixel, and every other
  // pixel is inverted, the top-right corner among them, as GDI does it. A
  // side one pixel long is walked twice and its dots cancel, as in GDI.
  const int w = r.Width(), h = r.Height();
  int k = 0;
  auto dot = [&](int x, int y) {
    if ((k++ - (w - 1)) % 2 == 0) painter_->fillRect(r.Left + x, r.Top + y, 1, 1, Qt::white);
  };
  for (int x = 0; x < w; ++x) dot(x, 0);
  for (int y = 1; y < h; ++y) dot(w - 1, y);
  for (int x = w - 2; x >= 0; --x) dot(x, h - 1);
  for (int y = h - 2; y >= 1; --y) dot(0, y);
  painter_->restore();
}

QFont TCanvas::DrawingFont() const {
  QFont f = Font;
  f.setStyleStrategy(QFont::NoAntialias);
  return f;
}

int TCanvas::TextWidth(const QString& text) const { return QFontMetrics(DrawingFont()).horizontalAdvance(text); }

int TCanvas::TextHeight(const QString&) const { return QFontMetrics(DrawingFont()).height(); }

int TCanvas::DrawText(const QString& text, TRect& rect, unsigned format) {
  const QFont font = DrawingFont();
  const QFontMetrics fm(font);
  const std::vector<TextLine> lines = LayoutText(text, format, rect.Width(), fm);
  const int lineHeight = fm.height();
  const int height = lineHeight * int(lines.size());
  if (format & DT_CALCRECT) {
    int width = 0;
    for (const TextLine& line : lines) width = std::max(width, fm.horizontalAdvance(line.text));
    rect.Right = rect.Left + width;
    rect.Bottom = rect.Top + height;
    return height;
  }
  if (!painter_) return height;
  painter_->save();
  if (!(format & DT_NOCLIP)) painter_->setClipRect(rect.Left, rect.Top, rect.Width(), rect.Height(), Qt::IntersectClip);
  painter_->setFont(font);
  painter_->setPen(TextColor);
  int y = rect.Top;
  if ((format & DT_SINGLELINE) && (format & DT_VCENTER)) y = rect.Top + (rect.Height() - lineHeight) / 2;
  if ((format & DT_SINGLELINE) && (format & DT_BOTTOM)) y = rect.Bottom - lineHeight;
  for (const TextLine& line : lines) {
    const int width = fm.horizontalAdvance(line.text);
    int x = rect.Left;
    if (format & DT_CENTER) x = rect.Left + (rect.Width() - width) / 2;
    else if (format & DT_RIGHT) x = rect.Right - width;
    painter_->drawText(x, y + fm.ascent(), line.text);
    if (line.underline >= 0) {
      const int ux = x + fm.horizontalAdvance(line.text.left(line.underline));
      const int uw = fm.horizontalAdvance(line.text.mid(line.underline, 1));
      painter_->fillRect(ux, y + fm.ascent() + fm.underlinePos(), uw, std::max(1, fm.lineWidth()), TextColor);
    }
    y += lineHeight;
  }
  painter_->restore();
  return height;
}

namespace {

struct EdgeLine {
  TColor topLeft, bottomRight;
};

void DrawEdgeLine(TCanvas& canvas, const TRect& r, const EdgeLine& line, unsigned flags) {
  canvas.Pen.Style = psSolid;
  canvas.Pen.Color = line.topLeft;
  if (flags & BF_TOP) { canvas.MoveTo(r.Left, r.Top); canvas.LineTo(r.Right - 1, r.Top); }
  if (flags & BF_LEFT) { canvas.MoveTo(r.Left, r.Top); canvas.LineTo(r.Left, r.Bottom - 1); }
  canvas.Pen.Color = line.bottomRight;
  if (flags & BF_BOTTOM) { canvas.MoveTo(r.Left, r.Bottom - 1); canvas.LineTo(r.Right, r.Bottom - 1); }
  if (flags & BF_RIGHT) { canvas.MoveTo(r.Right - 1, r.Top); canvas.LineTo(r.Right - 1, r.Bottom); }
}

}  // namespace

void TCanvas::DrawEdge(const TRect& rect, unsigned edge, unsigned flags) {
  TCanvas& canvas = *this;
  const TPen pen = canvas.Pen;
  std::vector<EdgeLine> lines;
  if (edge & BDR_RAISEDOUTER) lines.push_back({cl3DLight, cl3DDkShadow});
  else if (edge & BDR_SUNKENOUTER) lines.push_back({clBtnShadow, clBtnHighlight});
  if (edge & BDR_RAISEDINNER) lines.push_back({clBtnHighlight, clBtnShadow});
  else if (edge & BDR_SUNKENINNER) lines.push_back({cl3DDkShadow, cl3DLight});
  TRect r = rect;
  for (const EdgeLine& line : lines) {
    DrawEdgeLine(canvas, r, line, flags);
    InflateRect(r, -1, -1);
  }
  canvas.Pen = pen;
}
