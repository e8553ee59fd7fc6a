// The GDI-like canvas and the shared border routine, painted into images.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "border_style.h"
#include "qpainter_canvas.h"
#include "qt_test_support.h"

namespace {

const QColor kBackground(255, 0, 255);

// Paints on a w x h image filled with kBackground.
template <class Paint>
QImage PaintImage(int w, int h, Paint paint) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(kBackground);
  QPainter painter(&image);
  TCanvas canvas(&painter);
  paint(canvas);
  painter.end();
  return image;
}

QColor C(TColor color) { return ColorToRGB(color); }

// The colours of one ring of a frame: top and left sides, bottom and right sides.
struct Ring {
  QColor topLeft, bottomRight;
};

struct BorderCase {
  TksoBorderStyle style;
  Ring outer, inner;
};

TEST(DrawBorder, EveryStylePaintsItsRingsAndLeavesTheInside) {
  const QColor bg = kBackground;
  const std::vector<BorderCase> cases = {
      {kbsNone, {bg, bg}, {bg, bg}},
      {kbsFlat, {C(clBtnShadow), C(clBtnShadow)}, {bg, bg}},
      {kbsSingle, {C(clWindowFrame), C(clWindowFrame)}, {bg, bg}},
      {kbsSolid, {C(clBtnFace), C(clBtnFace)}, {C(clBtnFace), C(clBtnFace)}},
      {kbsEtched, {C(clBtnShadow), C(clBtnHighlight)}, {C(clBtnHighlight), C(clBtnShadow)}},
      {kbsBump, {C(clBtnHighlight), C(clBtnShadow)}, {C(clBtnShadow), C(clBtnHighlight)}},
      {kbsSunken, {C(clBtnShadow), C(clBtnHighlight)}, {C(cl3DDkShadow), C(cl3DLight)}},
      {kbsRaised, {C(cl3DLight), C(cl3DDkShadow)}, {C(clBtnHighlight), C(clBtnShadow)}},
      {kbsDown, {C(clWindowFrame), C(clWindowFrame)}, {C(clBtnShadow), C(clBtnShadow)}},
      {kbsUp, {C(clBtnHighlight), C(clWindowFrame)}, {C(clBtnFace), C(clBtnShadow)}},
      {kbsOuterRaised, {C(clBtnHighlight), C(clBtnShadow)}, {C(clBtnFace), C(clBtnFace)}},
      {kbsOuterSunken, {C(clBtnShadow), C(clBtnHighlight)}, {C(clBtnFace), C(clBtnFace)}},
  };
  ASSERT_EQ(cases.size(), 12u);
  const int w = 20, h = 12;
  for (const BorderCase& c : cases) {
    SCOPED_TRACE(int(c.style));
    const QImage image = PaintImage(w, h, [&](TCanvas& canvas) {
      canvas.Brush.Style = bsClear;
      DrawBorder(canvas, {0, 0, w, h}, c.style);
    });
    using qt_test::At;
    for (int ring = 0; ring < 2; ++ring) {
      const Ring& expect = ring == 0 ? c.outer : c.inner;
      EXPECT_EQ(At(image, w / 2, ring), expect.topLeft) << "top, ring " << ring;
      EXPECT_EQ(At(image, ring, h / 2), expect.topLeft) << "left, ring " << ring;
      EXPECT_EQ(At(image, w / 2, h - 1 - ring), expect.bottomRight) << "bottom, ring " << ring;
      EXPECT_EQ(At(image, w - 1 - ring, h / 2), expect.bottomRight) << "right, ring " << ring;
    }
    EXPECT_EQ(qt_test::BoundsOf(image, bg, {2, 2, w - 4, h - 4}), QRect(2, 2, w - 4, h - 4)) << "inside";
  }
}

TEST(DrawBorder, KeepsTheCallersRectangleAndLeavesOutlineStylesToTheBrush) {
  const TRect r{0, 0, 10, 8};
  const TRect copy = r;
  const QImage image = PaintImage(10, 8, [&](TCanvas& canvas) {
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = clGreen;
    DrawBorder(canvas, r, kbsSolid);
  });
  EXPECT_EQ(r, copy);
  // Without a clear brush the outline style fills the inside too.
  EXPECT_EQ(qt_test::At(image, 5, 4), C(clGreen));
}

TEST(Canvas, RoundRectCornersAreMirrorImages) {
  for (int size : {2, 6, 12, 20, 32}) {
    SCOPED_TRACE(size);
    const int w = 50, h = 40;
    const QImage image = PaintImage(w, h, [&](TCanvas& canvas) {
      canvas.Brush.Style = bsClear;
      canvas.Pen.Color = clBlack;
      canvas.RoundRect(0, 0, w, h, size, size);
    });
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const QColor c = qt_test::At(image, x, y);
        ASSERT_EQ(c, qt_test::At(image, w - 1 - x, y)) << x << "," << y;
        ASSERT_EQ(c, qt_test::At(image, x, h - 1 - y)) << x << "," << y;
      }
    // Straight sides reach the corner boxes, the very corner stays free;
    // a corner two pixels across is square, as GDI draws it.
    EXPECT_EQ(qt_test::At(image, size / 2, 0), QColor(Qt::black));
    EXPECT_EQ(qt_test::At(image, 0, size / 2), QColor(Qt::black));
    EXPECT_EQ(qt_test::At(image, 0, 0), size == 2 ? QColor(Qt::black) : kBackground);
  }
}

TEST(Canvas, SmallRoundCornerIsAStaircase) {
  const QImage image = PaintImage(12, 12, [&](TCanvas& canvas) {
    canvas.Brush.Style = bsClear;
    canvas.Pen.Color = clBlack;
    canvas.RoundRect(0, 0, 12, 12, 6, 6);
  });
  const QColor ink(Qt::black);
  using qt_test::At;
  EXPECT_NE(At(image, 1, 0), ink);
  EXPECT_EQ(At(image, 2, 0), ink);
  EXPECT_EQ(At(image, 1, 1), ink);
  EXPECT_EQ(At(image, 0, 2), ink);
  EXPECT_NE(At(image, 0, 1), ink);
}

TEST(Canvas, LinesExcludeTheirEndPointAndRectanglesTheirRightAndBottom) {
  const QImage image = PaintImage(10, 10, [](TCanvas& canvas) {
    canvas.Pen.Color = clBlack;
    canvas.MoveTo(1, 1);
    canvas.LineTo(5, 1);
    canvas.Brush.Color = clGreen;
    canvas.FillRect({2, 4, 4, 6});
  });
  using qt_test::At;
  EXPECT_EQ(At(image, 4, 1), QColor(Qt::black));
  EXPECT_EQ(At(image, 5, 1), kBackground);
  EXPECT_EQ(qt_test::BoundsOf(image, C(clGreen)), QRect(2, 4, 2, 2));
}

TEST(Canvas, FocusRectDrawnTwiceVanishes) {
  const QImage once = PaintImage(10, 10, [](TCanvas& c) { c.DrawFocusRect({1, 1, 9, 9}); });
  const QImage twice = PaintImage(10, 10, [](TCanvas& c) {
    c.DrawFocusRect({1, 1, 9, 9});
    c.DrawFocusRect({1, 1, 9, 9});
  });
  EXPECT_NE(qt_test::At(once, 2, 1), kBackground);
  EXPECT_EQ(qt_test::BoundsOf(twice, kBackground), QRect(0, 0, 10, 10));
}

TEST(Canvas, DrawTextMeasuresLinesAndAccelerators) {
  TCanvas canvas;
  canvas.Font = qt_test::WindowFont();
  const int h = canvas.TextHeight(QStringLiteral("H"));
  const int wordWidth = canvas.TextWidth(QStringLiteral("Word"));

  TRect r{3, 4, 100, 100};
  EXPECT_EQ(canvas.DrawText(QStringLiteral("Word\r\nWord"), r, DT_CALCRECT), 2 * h);
  EXPECT_EQ(r, (TRect{3, 4, 3 + wordWidth, 4 + 2 * h}));

  r = {0, 0, 100, 100};
  canvas.DrawText(QStringLiteral("&Word"), r, DT_CALCRECT);
  EXPECT_EQ(r.Right, wordWidth) << "the prefix is not measured";
  r = {0, 0, 100, 100};
  canvas.DrawText(QStringLiteral("&Word"), r, DT_CALCRECT | DT_NOPREFIX);
  EXPECT_EQ(r.Right, canvas.TextWidth(QStringLiteral("&Word")));

  r = {0, 0, wordWidth + 2, 100};
  canvas.DrawText(QStringLiteral("Word Word Word"), r, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_EQ(r.Bottom, 3 * h);
  r = {0, 0, 100, 100};
  canvas.DrawText(QStringLiteral("Word\r\nWord"), r, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(r.Bottom, h);
}

TEST(Canvas, AcceleratorCharacterIsUnderlined) {
  auto draw = [](const QString& text) {
    return PaintImage(60, 20, [&](TCanvas& canvas) {
      canvas.SelectFont(qt_test::WindowFont(), clBlack);
      TRect r{0, 0, 60, 20};
      canvas.DrawText(text, r, DT_LEFT);
    });
  };
  const QRect plain = qt_test::BoundsOf(draw(QStringLiteral("ace")), Qt::black);
  const QImage image = draw(QStringLiteral("&ace"));
  const QRect marked = qt_test::BoundsOf(image, Qt::black);
  ASSERT_GT(marked.bottom(), plain.bottom());
  // The line under the text runs under the first character only.
  TCanvas canvas;
  canvas.Font = qt_test::WindowFont();
  const QRect underline = qt_test::BoundsOf(image, Qt::black, {0, marked.bottom(), 60, 1});
  EXPECT_EQ(underline.width(), canvas.TextWidth(QStringLiteral("a")));
}

TEST(Canvas, SystemColoursComeFromTheApplicationPalette) {
  const QPalette p = qt_test::UseDistinctPalette();
  EXPECT_EQ(ColorToRGB(clBtnFace), p.color(QPalette::Button));
  EXPECT_EQ(ColorToRGB(clBtnShadow), p.color(QPalette::Dark));
  EXPECT_EQ(ColorToRGB(clGrayText), p.color(QPalette::Disabled, QPalette::WindowText));
  EXPECT_EQ(ColorToRGB(clBlue), QColor(0, 0, 255));
  EXPECT_EQ(RGBToColor(QColor(1, 2, 3)), 0x030201u);
  EXPECT_FALSE(ColorToRGB(clNone).isValid());
}

}  // namespace
