// The flat edits: which border style the frame shows in which state, and when
// it is repainted.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QTest>

#include "kso_edit.h"
#include "loading.h"
#include "qt_test_support.h"

namespace {

using qt_test::At;

QColor C(TColor color) { return ColorToRGB(color); }

// The colours of the frame's two rings along the top and bottom edges.
struct Frame {
  QColor outerTop, innerTop, innerBottom, outerBottom;
  friend bool operator==(const Frame&, const Frame&) = default;
};

std::ostream& operator<<(std::ostream& os, const Frame& f) {
  return os << f.outerTop.name().toStdString() << " " << f.innerTop.name().toStdString() << " "
            << f.innerBottom.name().toStdString() << " " << f.outerBottom.name().toStdString();
}

Frame FrameOf(QWidget* control) {
  const QImage image = qt_test::Render(control);
  const int x = image.width() / 2, h = image.height();
  return {At(image, x, 0), At(image, x, 1), At(image, x, h - 2), At(image, x, h - 1)};
}

Frame ExpectedEtched() { return {C(clBtnShadow), C(clBtnHighlight), C(clBtnShadow), C(clBtnHighlight)}; }
Frame ExpectedOuterSunken() { return {C(clBtnShadow), C(clBtnFace), C(clBtnFace), C(clBtnHighlight)}; }
Frame ExpectedSunken() { return {C(clBtnShadow), C(cl3DDkShadow), C(cl3DLight), C(clBtnHighlight)}; }
Frame ExpectedSolid() { return {C(clBtnFace), C(clBtnFace), C(clBtnFace), C(clBtnFace)}; }

void SendEnter(QWidget* w) {
  QEnterEvent e(QPointF(5, 5), QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)));
  QCoreApplication::sendEvent(w, &e);
}

void SendLeave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QCoreApplication::sendEvent(w, &e);
}

// A window with a main-window field (flat, etched when idle) and a second edit
// to take the focus away.
struct Form {
  QWidget window;
  TksoEdit* field;
  TksoEdit* other;
  Form() {
    window.resize(260, 80);
    LoadingScope loading(&window);
    field = new TksoEdit(&window);
    field->setGeometry(8, 8, 121, 21);
    field->SetBorderStyle(kbsSunken);
    field->SetBorderStyleFlat(kbsEtched);
    field->SetBorderStyleFocused(kbsOuterSunken);
    field->SetFlat(true);
    other = new TksoEdit(&window);
    other->setGeometry(8, 40, 121, 21);
  }
};

int CountPaints(QWidget* w, const std::function<void()>& action) {
  struct Counter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  w->installEventFilter(&counter);
  action();
  w->removeEventFilter(&counter);
  return counter.paints;
}

TEST(KsoEdit, StartsWithTheInitialStyles) {
  TksoEdit edit;
  EXPECT_EQ(edit.BorderStyle(), kbsSunken);
  EXPECT_EQ(edit.BorderStyleFlat(), kbsSolid);
  EXPECT_EQ(edit.BorderStyleFocused(), kbsOuterSunken);
  EXPECT_FALSE(edit.Flat());
  EXPECT_EQ(edit.property("BorderStyleFlat").value<TksoBorderStyle>(), kbsSolid);
  edit.setProperty("Text", QStringLiteral("3128"));
  EXPECT_EQ(edit.text(), QStringLiteral("3128"));
}

TEST(KsoEdit, FlatFieldSwitchesBetweenIdleFocusedAndHovered) {
  Form form;
  ASSERT_TRUE(qt_test::ShowActive(&form.window));
  SendLeave(form.field);  // wherever the pointer was when the window appeared
  form.other->setFocus();
  EXPECT_EQ(FrameOf(form.field), ExpectedEtched()) << "idle";

  form.field->setFocus();
  EXPECT_EQ(FrameOf(form.field), ExpectedOuterSunken()) << "focused";
  SendEnter(form.field);
  SendLeave(form.field);
  EXPECT_EQ(FrameOf(form.field), ExpectedOuterSunken()) << "the mouse left a focused field";

  SendEnter(form.field);
  form.other->setFocus();
  EXPECT_EQ(FrameOf(form.field), ExpectedOuterSunken()) << "focus left, mouse still over";
  SendLeave(form.field);
  EXPECT_EQ(FrameOf(form.field), ExpectedEtched()) << "idle again";
}

TEST(KsoEdit, NotFlatShowsBorderStyleAndIgnoresTheMouse) {
  Form form;
  ASSERT_TRUE(qt_test::ShowActive(&form.window));
  form.other->SetBorderStyle(kbsSunken);
  EXPECT_EQ(CountPaints(form.other, [&] { SendEnter(form.other); }), 0);
  EXPECT_TRUE(form.other->MouseOver());
  EXPECT_EQ(FrameOf(form.other), ExpectedSunken());
  EXPECT_GT(CountPaints(form.other, [&] { form.other->setFocus(); }), 0) << "focus repaints anyway";
  EXPECT_EQ(FrameOf(form.other), ExpectedSunken());
  EXPECT_GT(CountPaints(form.field, [&] { SendEnter(form.field); }), 0) << "a flat one repaints";
}

TEST(KsoEdit, NoneLeavesTwoRingsOfTheControlsColour) {
  TksoEdit edit;
  edit.resize(60, 21);
  edit.SetColor(clGreen);
  edit.SetBorderStyle(kbsNone);
  const Frame green{C(clGreen), C(clGreen), C(clGreen), C(clGreen)};
  EXPECT_EQ(FrameOf(&edit), green);
  edit.SetBorderStyle(kbsFlat);
  EXPECT_EQ(FrameOf(&edit), (Frame{C(clBtnShadow), C(clGreen), C(clGreen), C(clBtnShadow)}))
      << "a one-ring style keeps the inner ring in Color";
}

TEST(KsoEdit, SettingFlatAtRunTimePutsBackTheInitialStyles) {
  Form form;
  form.field->SetFlat(true);
  EXPECT_EQ(form.field->BorderStyleFlat(), kbsSolid);
  EXPECT_EQ(FrameOf(form.field), ExpectedSolid());
  form.field->SetBorderStyleFlat(kbsEtched);
  form.field->SetFlat(false);
  EXPECT_EQ(form.field->BorderStyleFlat(), kbsSolid);
}

TEST(KsoEdit, LoadingKeepsTheStylesOfTheDesign) {
  QWidget form;
  TksoEdit* edit;
  {
    LoadingScope loading(&form);
    edit = new TksoEdit(&form);
    edit->SetBorderStyleFlat(kbsEtched);
    edit->SetFlat(true);
    EXPECT_TRUE(IsLoading(edit));
  }
  EXPECT_FALSE(IsLoading(edit));
  EXPECT_EQ(edit->BorderStyleFlat(), kbsEtched);
  EXPECT_TRUE(edit->Flat());
}

TEST(KsoEdit, AssigningTheSameStyleRepaintsAtOnce) {
  Form form;
  ASSERT_TRUE(qt_test::ShowActive(&form.window));
  EXPECT_GT(CountPaints(form.field, [&] { form.field->SetBorderStyleFlat(kbsEtched); }), 0);
  EXPECT_GT(CountPaints(form.field, [&] { form.field->SetBorderStyle(kbsSunken); }), 0);
}

TEST(KsoEdit, MemoAndListBoxesShareTheFrame) {
  TksoOfficeMemo memo;
  TksoOfficeListBox list;
  TksoOfficeCheckListBox checks;
  for (QWidget* w : std::initializer_list<QWidget*>{&memo, &list, &checks}) EXPECT_EQ(w->height(), 40);
  memo.resize(80, 40);
  memo.SetBorderStyleFlat(kbsEtched);
  memo.SetFlat(true);
  EXPECT_EQ(memo.BorderStyleFlat(), kbsEtched) << "the memo's Flat only selects";
  EXPECT_EQ(FrameOf(&memo), ExpectedEtched());
  list.resize(80, 40);
  list.SetBorderStyle(kbsSunken);
  EXPECT_EQ(FrameOf(&list), ExpectedSunken());
  list.SetBorderStyleFlat(kbsEtched);
  list.SetFlat(true);
  EXPECT_EQ(list.BorderStyleFlat(), kbsSolid);
  checks.AddItem(QStringLiteral("one"), true);
  EXPECT_TRUE(checks.Checked(0));
}

}  // namespace
