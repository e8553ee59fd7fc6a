#include "flat_button.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

#include "qpainter_canvas.h"

TSEFlatButton::TSEFlatButton(QWidget* parent) : QPushButton(parent) {
  resize(75, 25);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setAutoDefault(false);
  connect(this, &QAbstractButton::clicked, this, &TSEFlatButton::Clicked);
  connect(qApp, &QApplication::focusChanged, this, &TSEFlatButton::FocusChanged);
  // Keys that no control of the window took reach the window last; the
  // application filter sees them there.
  qApp->installEventFilter(this);
}

TSEFlatButton::~TSEFlatButton() { qApp->removeEventFilter(this); }

void TSEFlatButton::SetDefault(bool value) {
  default_ = value;
  UpdateActive(window()->focusWidget());
}

void TSEFlatButton::UpdateActive(QWidget* focused) {
  const bool active = qobject_cast<QPushButton*>(focused) ? focused == this : default_;
  if (active == active_) return;
  active_ = active;
  update();
}

void TSEFlatButton::FocusChanged(QWidget*, QWidget* now) {
  if (now && now->window() == window()) UpdateActive(now);
}

bool TSEFlatButton::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() != QEvent::KeyPress || watched != window()) return false;
  const auto* key = static_cast<QKeyEvent*>(e);
  return HandleDialogKey(key->key(), key->modifiers());
}

bool TSEFlatButton::HandleDialogKey(int key, Qt::KeyboardModifiers modifiers) {
  const bool enter = (key == Qt::Key_Return || key == Qt::Key_Enter) && active_;
  const bool escape = key == Qt::Key_Escape && cancel_;
  if (!enter && !escape) return false;
  if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) return false;
  if (!isVisible() || !isEnabled()) return false;
  click();
  return true;
}

void TSEFlatButton::Clicked() {
  window()->setProperty("ModalResult", modalResult_);
  emit OnClick();
}

void TSEFlatButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  TCanvas canvas(&painter);
  TRect r{0, 0, width(), height()};
  const bool pressed = isDown();
  canvas.Brush.Color = pressed ? cl3DLight : clBtnFace;
  canvas.FillRect(r);
  canvas.Brush.Color = clWindowFrame;
  canvas.FrameRect(r);
  if (active_) {
    InflateRect(r, -1, -1);
    canvas.FrameRect(r);
  }
  TRect text{0, 0, width(), height()};
  if (pressed) OffsetRect(text, 1, 1);
  canvas.SelectFont(font(), isEnabled() ? clBtnText : clGrayText);
  canvas.DrawText(this->text(), text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (hasFocus()) canvas.DrawFocusRect({4, 4, width() - 4, height() - 4});
}
