// The shadowed label: sizes from the font's metrics, text and shadow pixels,
// and the hover state.
#include <gtest/gtest.h>

#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include "kso_edit.h"
#include "rx_label.h"
#include "qt_test_support.h"

namespace {

QColor C(TColor color) { return ColorToRGB(color); }

// Measures like the label does: the canvas's font without antialiasing.
struct Metrics {
  QFont font;
  int Width(const QString& text) const {
    TCanvas canvas;
    canvas.Font = font;
    return canvas.TextWidth(text);
  }
  int Height() const {
    TCanvas canvas;
    canvas.Font = font;
    return canvas.TextHeight(QStringLiteral("H"));
  }
};

TRxLabel* MakeLabel(QWidget* parent, const QString& caption, const QFont& font = qt_test::WindowFont()) {
  auto* label = new TRxLabel(parent);
  label->setFont(font);
  label->SetCaption(caption);
  return label;
}

TEST(RxLabel, SizesItselfToItsTextAndShadow) {
  QWidget form;
  const Metrics m{qt_test::WindowFont()};
  ASSERT_EQ(m.Height(), 13);
  const QString incoming = QStringLiteral("Входящий порт:");
  EXPECT_EQ(MakeLabel(&form, incoming)->size(), QSize(m.Width(incoming) + 2, 13));

  const QString twoLines = QStringLiteral("IP-сервера:\r\n(куда перенаправить)");
  EXPECT_EQ(MakeLabel(&form, twoLines)->size(),
            QSize(m.Width(QStringLiteral("(куда перенаправить)")) + 2, 26));

  const QSize oneSpace(m.Width(QStringLiteral(" ")) + 2, 13);
  EXPECT_EQ(TRxLabel(&form).size(), QSize(65, 17));
  EXPECT_EQ(MakeLabel(&form, QString())->size(), oneSpace) << "setting the font measures too";
  TRxLabel* empty = MakeLabel(&form, QStringLiteral("x"));
  empty->SetCaption(QString());
  EXPECT_EQ(empty->size(), oneSpace);
  EXPECT_EQ(MakeLabel(&form, QStringLiteral("&"))->size(), oneSpace);
  TRxLabel* amp = MakeLabel(&form, QStringLiteral("x"));
  amp->SetShowAccelChar(false);
  amp->SetCaption(QStringLiteral("&"));
  EXPECT_EQ(amp->size(), QSize(m.Width(QStringLiteral("&")) + 2, 13));
}

TEST(RxLabel, BoldStatusTextIsItsTextHeightHigh) {
  QWidget form;
  const QFont bold = qt_test::Font(16, true);
  const QString status = QStringLiteral("Velotrunk is active...");
  TRxLabel* label = MakeLabel(&form, status, bold);
  const Metrics m{bold};
  EXPECT_EQ(label->size(), QSize(m.Width(status) + 2, m.Height()));
}

TEST(RxLabel, ShadowBelowOrRightAddsItsSize) {
  QWidget form;
  const Metrics m{qt_test::WindowFont()};
  TRxLabel* label = MakeLabel(&form, QStringLiteral("Port"));
  label->SetShadowPos(TRxCustomLabel::spRightBottom);
  label->SetShadowSize(3);
  EXPECT_EQ(label->size(), QSize(m.Width(QStringLiteral("Port")) + 3 + 2, 13 + 3));
  label->SetShadowPos(TRxCustomLabel::spLeftTop);
  label->SetShadowSize(5);
  EXPECT_EQ(label->size(), QSize(m.Width(QStringLiteral("Port")) + 2, 13));
}

TEST(RxLabel, RightAlignedLabelKeepsItsRightEdge) {
  QWidget form;
  TRxLabel* label = MakeLabel(&form, QStringLiteral("Port"));
  label->SetAlignment(TRxCustomLabel::taRightJustify);
  label->move(100, 10);
  const int right = label->geometry().right();
  label->SetCaption(QStringLiteral("A longer caption"));
  EXPECT_EQ(label->geometry().right(), right);
}

TEST(RxLabel, DrawsAnEmbossedTextAndEngravedWhenDisabled) {
  QWidget form;
  TRxLabel* label = MakeLabel(&form, QStringLiteral("Порт"));
  QImage image = qt_test::Render(label);
  const QRect text = qt_test::BoundsOf(image, C(clWindowText));
  const QRect shadow = qt_test::BoundsOf(image, C(clBtnHighlight));
  ASSERT_FALSE(text.isNull());
  EXPECT_EQ(shadow.left(), text.left() - 1);
  EXPECT_EQ(shadow.top(), std::max(0, text.top() - 1));
  EXPECT_EQ(qt_test::At(image, 0, image.height() - 1), C(clBtnFace)) << "opaque";

  label->setEnabled(false);
  image = qt_test::Render(label);
  EXPECT_TRUE(qt_test::BoundsOf(image, C(clWindowText)).isNull());
  EXPECT_EQ(qt_test::BoundsOf(image, C(clGrayText)), text);

  label->SetShadowSize(0);  // disabled, it gets a one-pixel shadow right and below
  label->SetAutoSize(false);
  label->resize(label->width() + 2, label->height() + 2);
  image = qt_test::Render(label);
  const QRect grey = qt_test::BoundsOf(image, C(clGrayText));
  const QRect engraved = qt_test::BoundsOf(image, C(clBtnHighlight));
  EXPECT_EQ(engraved.bottom(), grey.bottom() + 1);
  EXPECT_EQ(engraved.right(), grey.right() + 1);
}

TEST(RxLabel, CenteredLayoutMovesTheMeasuredBlock) {
  QWidget form;
  auto render = [&](TRxCustomLabel::TTextLayout layout) {
    TRxLabel* label = MakeLabel(&form, QStringLiteral("Port"));
    label->SetAutoSize(false);
    label->resize(60, 40);
    label->SetLayout(layout);
    return qt_test::BoundsOf(qt_test::Render(label), C(clWindowText));
  };
  const QRect top = render(TRxCustomLabel::tlTop);
  const QRect center = render(TRxCustomLabel::tlCenter);
  // The block spans rows -1 to 12 and moves down by (40 - 13) / 2 = 13: the
  // text starts at row 12 and at column 0 instead of 1.
  EXPECT_EQ(center.topLeft(), top.topLeft() + QPoint(-1, 12));
  const QRect bottom = render(TRxCustomLabel::tlBottom);
  EXPECT_EQ(bottom.top(), top.top() + 40 - 13 - 1);
}

TEST(RxLabel, TransparentLeavesTheParentsBackground) {
  QWidget form;
  form.setAutoFillBackground(true);
  QPalette p = form.palette();
  p.setColor(QPalette::Window, Qt::green);
  form.setPalette(p);
  form.resize(100, 30);
  TRxLabel* label = MakeLabel(&form, QStringLiteral("Port"));
  label->SetTransparent(true);
  const QImage image = qt_test::Render(&form);
  EXPECT_EQ(qt_test::At(image, label->width() - 1, label->height() - 1), QColor(Qt::green));
  EXPECT_FALSE(qt_test::BoundsOf(image, C(clWindowText)).isNull());
}

void SendEnter(QWidget* w) {
  QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
  QCoreApplication::sendEvent(w, &e);
}

void SendLeave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QCoreApplication::sendEvent(w, &e);
}

void SendMouse(QWidget* w, QEvent::Type type, Qt::MouseButton button) {
  const QPointF at(2, 2);
  QMouseEvent e(type, at, w->mapToGlobal(at), button, type == QEvent::MouseButtonPress ? button : Qt::NoButton,
                Qt::NoModifier);
  QCoreApplication::sendEvent(w, &e);
}

TEST(RxLabel, HoverLastsWhileTheLeftButtonIsHeld) {
  QWidget form;
  form.resize(200, 100);
  TRxLabel* label = MakeLabel(&form, QStringLiteral("http://velotrunk.example/"));
  label->move(40, 40);
  ASSERT_TRUE(qt_test::ShowActive(&form));
  QCursor::setPos(form.mapToGlobal(QPoint(190, 90)));
  QSignalSpy enters(label, &TRxLabel::OnMouseEnter);
  QSignalSpy leaves(label, &TRxLabel::OnMouseLeave);
  QSignalSpy clicks(label, &TRxLabel::OnClick);

  SendEnter(label);
  SendEnter(label);
  EXPECT_EQ(enters.count(), 1);
  EXPECT_TRUE(label->MouseOver());
  SendMouse(label, QEvent::MouseButtonPress, Qt::LeftButton);
  SendLeave(label);
  EXPECT_EQ(leaves.count(), 0) << "the held button keeps the hover";
  EXPECT_TRUE(label->MouseOver());
  SendMouse(label, QEvent::MouseButtonRelease, Qt::LeftButton);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(leaves.count(), 1) << "the pointer is elsewhere at the release";
  EXPECT_FALSE(label->MouseOver());

  SendEnter(label);
  SendLeave(label);
  EXPECT_EQ(enters.count(), 2);
  EXPECT_EQ(leaves.count(), 2);
}

TEST(RxLabel, NoHoverWhenDisabledOrNoWindowIsActive) {
  QWidget form;
  TRxLabel* label = MakeLabel(&form, QStringLiteral("Port"));
  QSignalSpy enters(label, &TRxLabel::OnMouseEnter);
  SendEnter(label);  // the form was never shown, so no window is active
  EXPECT_EQ(enters.count(), 0);
  form.resize(200, 100);
  label->move(50, 50);
  ASSERT_TRUE(qt_test::ShowActive(&form));
  QCursor::setPos(form.mapToGlobal(QPoint(190, 10)));
  label->setEnabled(false);
  SendEnter(label);
  EXPECT_EQ(enters.count(), 0);
}

TEST(RxLabel, AcceleratorFocusesFocusControlAndShowFocusFramesIt) {
  QWidget form;
  form.resize(200, 60);
  TRxLabel* label = MakeLabel(&form, QStringLiteral("&Port:"));
  auto* other = new TksoEdit(&form);
  other->move(0, 30);
  auto* edit = new TksoEdit(&form);
  edit->move(100, 0);
  label->SetFocusControl(edit);
  ASSERT_TRUE(qt_test::ShowActive(&form));
  other->setFocus();
  QTest::keyClick(other, Qt::Key_P, Qt::AltModifier);
  EXPECT_TRUE(edit->hasFocus());

  const QImage plain = qt_test::Render(label);
  label->SetShowFocus(true);
  EXPECT_NE(qt_test::Render(label), plain) << "focus rectangle";
  delete edit;
  EXPECT_EQ(label->FocusControl(), nullptr);
}

}  // namespace
