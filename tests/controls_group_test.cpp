// The group panel: its frame, caption and face, its setters and its children.
#include <gtest/gtest.h>

#include <QTest>

#include "ds_group.h"
#include "kso_edit.h"
#include "rx_label.h"
#include "qt_test_support.h"

namespace {

using qt_test::At;

QColor C(TColor color) { return ColorToRGB(color); }

// The main window's panel: 256 x 168, window font, no caption.
struct MainPanel {
  TDsGroup group;
  MainPanel() {
    group.resize(256, 168);
    group.setFont(qt_test::WindowFont());
  }
};

TEST(DsGroup, MainWindowPanelIsARoundedGroove) {
  MainPanel panel;
  ASSERT_EQ(QFontMetrics(qt_test::WindowFont()).height(), 13);
  const QImage image = qt_test::Render(&panel.group);
  const QColor dark = C(clBtnShadow), light = C(clBtnHighlight), face = C(clBtnFace);
  // The dark line spans (0, 6) to (254, 166), the light one (1, 7) to (255, 167).
  EXPECT_EQ(qt_test::BoundsOf(image, dark), QRect(QPoint(0, 6), QPoint(254, 166)));
  EXPECT_EQ(qt_test::BoundsOf(image, light), QRect(QPoint(1, 7), QPoint(255, 167)));
  EXPECT_EQ(At(image, 128, 6), dark);
  EXPECT_EQ(At(image, 128, 7), light);
  EXPECT_EQ(At(image, 0, 86), dark);
  EXPECT_EQ(At(image, 1, 86), light);
  EXPECT_EQ(At(image, 128, 5), face) << "nothing above the frame";
  EXPECT_EQ(At(image, 128, 80), face) << "no face";
  // Corner ellipses 6 x 6: the corner itself is free, a diagonal step is drawn,
  // and all four dark corners look the same.
  for (auto [x, dx, y, dy] : {std::array{0, 1, 6, 1}, {254, -1, 6, 1}, {0, 1, 166, -1}, {254, -1, 166, -1}}) {
    SCOPED_TRACE(testing::Message() << x << "," << y);
    EXPECT_NE(At(image, x, y), dark);
    EXPECT_EQ(At(image, x + 2 * dx, y), dark);
    EXPECT_EQ(At(image, x + dx, y + dy), dark);
    EXPECT_EQ(At(image, x, y + 2 * dy), dark);
    EXPECT_EQ(At(image, x + 3 * dx, y), dark);
    EXPECT_EQ(At(image, x, y + 3 * dy), dark);
  }
}

// The columns of row 6 (the frame's top edge) that the caption cuts out.
QRect CaptionGap(const QImage& image) {
  const QColor dark = C(clBtnShadow);
  int x = 0;
  while (At(image, x, 6) != dark) ++x;  // rounded corner
  while (At(image, x, 6) == dark) ++x;
  int end = x;
  while (At(image, end, 6) != dark) ++end;
  return QRect(x, 6, end - x, 1);
}

TEST(DsGroup, CaptionCutsTheFrameTwoPixelsWiderThanItsText) {
  MainPanel panel;
  panel.group.SetCaption(QStringLiteral("Group"));
  panel.group.SetTextStyle(TDsGroup::txNone);
  TCanvas canvas;
  canvas.Font = qt_test::WindowFont();
  const int width = canvas.TextWidth(QStringLiteral("Group")) + 2;
  EXPECT_EQ(CaptionGap(qt_test::Render(&panel.group)), QRect(8, 6, width, 1));
  panel.group.SetCornerRadius(10);
  EXPECT_EQ(CaptionGap(qt_test::Render(&panel.group)), QRect(14, 6, width, 1));
  panel.group.SetCapAlignment(TDsGroup::caRight);
  EXPECT_EQ(CaptionGap(qt_test::Render(&panel.group)), QRect(256 - width - 14, 6, width, 1));
  panel.group.SetCapAlignment(TDsGroup::caCenter);
  EXPECT_EQ(CaptionGap(qt_test::Render(&panel.group)), QRect((256 - width) / 2, 6, width, 1));
}

TEST(DsGroup, TextEffectsLieUnderTheCaption) {
  MainPanel panel;
  panel.group.SetCaption(QStringLiteral("Group"));
  const QRect area(0, 0, 120, 16);
  const QColor text = C(clWindowText);
  struct Effect {
    TDsGroup::TTextStyle style;
    TColor color;
    int offset;
  };
  for (const Effect& e : {Effect{TDsGroup::txRaised, clBtnHighlight, -1}, Effect{TDsGroup::txLowered, clBtnHighlight, 1},
                          Effect{TDsGroup::txShadowed, clBtnShadow, 2}}) {
    SCOPED_TRACE(int(e.style));
    panel.group.SetTextStyle(e.style);
    const QImage image = qt_test::Render(&panel.group);
    const QRect ink = qt_test::BoundsOf(image, text, area);
    // Compare the edges the copy is not hidden behind: the text covers the rest.
    const QRect copy = qt_test::BoundsOf(image, C(e.color), area.adjusted(0, 0, 0, -9));
    ASSERT_FALSE(ink.isNull());
    if (e.offset < 0) {
      EXPECT_EQ(copy.top(), ink.top() - 1);
      EXPECT_EQ(copy.left(), ink.left() - 1);
    } else {
      const QRect below = qt_test::BoundsOf(image, C(e.color), {0, 8, 120, 8});
      EXPECT_EQ(below.right(), ink.right() + e.offset);
    }
  }
}

TEST(DsGroup, WithoutCtl3DOneFrameAndCaptionInWindowFrameColour) {
  MainPanel panel;
  panel.group.SetCaption(QStringLiteral("Group"));
  panel.group.SetCtl3D(false);
  panel.group.SetFontColor(clBlue);
  panel.group.SetTextStyle(TDsGroup::txShadowed);
  panel.group.SetFaceColor(clGreen);
  const QImage image = qt_test::Render(&panel.group);
  EXPECT_EQ(At(image, 128, 6), C(clWindowFrame));
  EXPECT_EQ(At(image, 255, 86), C(clWindowFrame)) << "full width";
  EXPECT_TRUE(qt_test::BoundsOf(image, C(clGreen)).isNull()) << "no face";
  EXPECT_TRUE(qt_test::BoundsOf(image, C(clBlue)).isNull()) << "caption not in the font colour";
  EXPECT_TRUE(qt_test::BoundsOf(image, C(clBtnShadow)).isNull()) << "no dark line, no shadow";
  EXPECT_FALSE(qt_test::BoundsOf(image, C(clWindowFrame), {8, 0, 40, 6}).isNull()) << "caption";
}

TEST(DsGroup, FaceFillsTheInsideOfTheFrame) {
  MainPanel panel;
  panel.group.SetFaceColor(clGreen);
  for (int radius : {0, 3}) {
    panel.group.SetCornerRadius(radius);
    const QImage image = qt_test::Render(&panel.group);
    EXPECT_EQ(qt_test::BoundsOf(image, C(clGreen)), QRect(QPoint(2, 8), QPoint(253, 165))) << radius;
  }
}

TEST(DsGroup, CornerRadiusIsClampedAndSettersRepaintOnlyOnChange) {
  TDsGroup group;
  EXPECT_EQ(group.CornerRadius(), 3);
  group.SetCornerRadius(13);
  EXPECT_EQ(group.CornerRadius(), 16);
  group.SetCornerRadius(-5);
  EXPECT_EQ(group.CornerRadius(), 0);
  group.SetCornerRadius(12);
  EXPECT_EQ(group.CornerRadius(), 12);
  EXPECT_EQ(group.size(), QSize(145, 105));
  EXPECT_EQ(group.FaceColor(), clNone);
  EXPECT_EQ(group.property("TextStyle").value<TDsGroup::TTextStyle>(), TDsGroup::txRaised);

  group.show();
  QCoreApplication::processEvents();
  ASSERT_FALSE(group.testAttribute(Qt::WA_UpdatesDisabled));
  int paints = 0;
  struct Counter : QObject {
    int* paints;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++*paints;
      return false;
    }
  } counter;
  counter.paints = &paints;
  group.installEventFilter(&counter);
  group.SetTextStyle(TDsGroup::txRaised);
  group.SetCornerRadius(12);
  QCoreApplication::processEvents();
  EXPECT_EQ(paints, 0);
  group.SetTextStyle(TDsGroup::txLowered);
  QCoreApplication::processEvents();
  EXPECT_EQ(paints, 1);
  group.removeEventFilter(&counter);
}

TEST(DsGroup, EnabledReachesEveryChild) {
  MainPanel panel;
  auto* label = new TRxLabel(&panel.group);
  label->setFont(qt_test::WindowFont());
  label->SetCaption(QStringLiteral("Порт:"));
  auto* edit = new TksoEdit(&panel.group);
  edit->setEnabled(false);
  panel.group.SetEnabled(false);
  EXPECT_FALSE(label->isEnabled());
  EXPECT_FALSE(label->isEnabledTo(&panel.group)) << "disabled itself, not only through the panel";
  EXPECT_FALSE(qt_test::BoundsOf(qt_test::Render(label), C(clGrayText)).isNull()) << "greyed";
  panel.group.SetEnabled(true);
  EXPECT_TRUE(panel.group.isEnabled());
  EXPECT_TRUE(label->isEnabled());
  EXPECT_TRUE(edit->isEnabled()) << "also the child that was disabled on its own";
}

TEST(DsGroup, AlignedChildrenGoBelowTheCaptionLineInsideTheFrame) {
  MainPanel panel;
  EXPECT_EQ(panel.group.AlignedChildrenRect(), (TRect{2, 15, 254, 166}));
  EXPECT_EQ(panel.group.contentsRect(), QRect(QPoint(2, 15), QPoint(253, 165)));
  panel.group.SetCtl3D(false);
  EXPECT_EQ(panel.group.AlignedChildrenRect(), (TRect{1, 14, 255, 167}));
}

TEST(DsGroup, CaptionAcceleratorFocusesTheFirstChildInTabOrder) {
  QWidget window;
  auto* outside = new TksoEdit(&window);
  auto* group = new TDsGroup(&window);
  group->setGeometry(0, 30, 256, 138);
  auto* second = new TksoEdit(group);
  auto* first = new TksoEdit(group);
  QWidget::setTabOrder(outside, first);
  QWidget::setTabOrder(first, second);
  group->SetCaption(QStringLiteral("&Group"));
  ASSERT_TRUE(qt_test::ShowActive(&window));
  outside->setFocus();
  QTest::keyClick(outside, Qt::Key_G, Qt::AltModifier);
  EXPECT_TRUE(first->hasFocus());
}

}  // namespace
