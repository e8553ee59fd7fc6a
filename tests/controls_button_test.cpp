// The flat button: keys and clicks as a form's default button, and its look.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "flat_button.h"
#include "kso_edit.h"
#include "qt_test_support.h"

namespace {

// The main window's arrangement: an edit field and the default button.
struct Form {
  QWidget window;
  TksoEdit* field = new TksoEdit(&window);
  TSEFlatButton* button = new TSEFlatButton(&window);
  TSEFlatButton* other = new TSEFlatButton(&window);
  Form() {
    window.resize(260, 100);
    field->setGeometry(8, 8, 121, 21);
    button->setGeometry(168, 60, 75, 25);
    button->setText(QStringLiteral("Назначить"));
    button->SetDefault(true);
    other->setGeometry(8, 60, 75, 25);
  }
};

TEST(FlatButton, HasTheHandCursorAndTheBaseSize) {
  TSEFlatButton button;
  EXPECT_EQ(button.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(button.size(), QSize(75, 25));
  EXPECT_TRUE(button.focusPolicy() & Qt::TabFocus);
}

TEST(FlatButton, EnterInAnEditClicksTheDefaultButtonOnce) {
  Form form;
  ASSERT_TRUE(qt_test::ShowActive(&form.window));
  form.field->setFocus();
  QSignalSpy clicks(form.button, &TSEFlatButton::OnClick);
  QTest::keyClick(form.field, Qt::Key_Return);
  EXPECT_EQ(clicks.count(), 1);
  QTest::keyClick(form.field, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(clicks.count(), 2);
  for (auto modifier : {Qt::ControlModifier, Qt::ShiftModifier, Qt::AltModifier})
    QTest::keyClick(form.field, Qt::Key_Return, modifier);
  EXPECT_EQ(clicks.count(), 2) << "Enter with Ctrl, Shift or Alt";
}

TEST(FlatButton, SpaceAndTheMouseClickIt) {
  Form form;
  ASSERT_TRUE(qt_test::ShowActive(&form.window));
  form.button->setFocus();
  QSignalSpy clicks(form.button, &TSEFlatButton::OnClick);
  QTest::keyClick(form.button, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 1);
  QTest::mouseClick(form.button, Qt::LeftButton);
  EXPECT_EQ(clicks.count(), 2);
}

TEST(FlatButton, AnotherFocusedButtonTakesTheDefaultRole) {
  Form form;
  ASSERT_TRUE(qt_test::ShowActive(&form.window));
  QSignalSpy defaultClicks(form.button, &TSEFlatButton::OnClick);
  QSignalSpy otherClicks(form.other, &TSEFlatButton::OnClick);
  form.other->setFocus();
  EXPECT_FALSE(form.button->Active());
  QTest::keyClick(form.other, Qt::Key_Return);
  EXPECT_EQ(defaultClicks.count(), 0);
  EXPECT_EQ(otherClicks.count(), 1) << "a focused button is the active one";
  form.field->setFocus();
  EXPECT_TRUE(form.button->Active());
  EXPECT_FALSE(form.other->Active());
}

TEST(FlatButton, HiddenOrDisabledDefaultButtonIgnoresEnter) {
  Form form;
  ASSERT_TRUE(qt_test::ShowActive(&form.window));
  form.field->setFocus();
  QSignalSpy clicks(form.button, &TSEFlatButton::OnClick);
  form.button->hide();
  QTest::keyClick(form.field, Qt::Key_Return);
  form.button->show();
  form.button->setEnabled(false);
  QTest::keyClick(form.field, Qt::Key_Return);
  EXPECT_EQ(clicks.count(), 0);
}

TEST(FlatButton, EscapeClicksOnlyACancelButton) {
  Form form;
  ASSERT_TRUE(qt_test::ShowActive(&form.window));
  form.field->setFocus();
  QSignalSpy clicks(form.other, &TSEFlatButton::OnClick);
  QTest::keyClick(form.field, Qt::Key_Escape);
  EXPECT_EQ(clicks.count(), 0);
  form.other->SetCancel(true);
  QTest::keyClick(form.field, Qt::Key_Escape);
  EXPECT_EQ(clicks.count(), 1);
}

TEST(FlatButton, ClickCopiesModalResultToTheFormFirst) {
  Form form;
  form.button->SetModalResult(2);
  QVariant seen;
  QObject::connect(form.button, &TSEFlatButton::OnClick, [&] { seen = form.window.property("ModalResult"); });
  form.button->click();
  EXPECT_EQ(seen.toInt(), 2);
}

TEST(FlatButton, DrawsAFlatFaceAndAThickerFrameWhileActive) {
  Form form;
  const QColor frame = ColorToRGB(clWindowFrame), face = ColorToRGB(clBtnFace);
  const QImage active = qt_test::Render(form.button);
  EXPECT_TRUE(form.button->Active());
  EXPECT_EQ(qt_test::At(active, 0, 12), frame);
  EXPECT_EQ(qt_test::At(active, 1, 12), frame);
  EXPECT_EQ(qt_test::At(active, 2, 12), face);
  const QImage normal = qt_test::Render(form.other);
  EXPECT_EQ(qt_test::At(normal, 0, 12), frame);
  EXPECT_EQ(qt_test::At(normal, 1, 12), face);
}

}  // namespace
