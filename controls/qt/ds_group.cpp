#include "ds_group.h"

#include <QPainter>
#include <QShortcutEvent>

#include "mnemonic.h"

TDsGroup::TDsGroup(QWidget* parent) : QWidget(parent) {
  resize(145, 105);
  UpdateAlignRect();
}

template <class T>
void TDsGroup::Assign(T& field, T value) {
  if (field == value) return;
  field = value;
  update();
}

void TDsGroup::SetCapAlignment(TCapAlignment value) { Assign(capAlignment_, value); }
void TDsGroup::SetColor_High(TColor value) { Assign(colorHigh_, value); }
void TDsGroup::SetColor_Low(TColor value) { Assign(colorLow_, value); }
void TDsGroup::SetFaceColor(TColor value) { Assign(faceColor_, value); }
void TDsGroup::SetTextStyle(TTextStyle value) { Assign(textStyle_, value); }
void TDsGroup::SetColor(TColor value) { Assign(color_, value); }
void TDsGroup::SetFontColor(TColor value) { Assign(fontColor_, value); }

void TDsGroup::SetCornerRadius(int value) { Assign(cornerRadius_, TDsGroupLook::ClampCornerRadius(value)); }

void TDsGroup::SetCaption(const QString& value) {
  if (caption_ == value) return;
  caption_ = value;
  update();
  UpdateAlignRect();
  shortcutId_ = RegrabMnemonic(this, shortcutId_, caption_);
}

void TDsGroup::SetCtl3D(bool value) {
  if (ctl3D_ == value) return;
  ctl3D_ = value;
  update();
  UpdateAlignRect();
}

void TDsGroup::SetEnabled(bool value) {
  for (QObject* child : children())
    if (auto* control = qobject_cast<QWidget*>(child); control && !control->isWindow()) control->setEnabled(value);
  setEnabled(value);
}

TRect TDsGroup::AlignedChildrenRect() const {
  TCanvas canvas;
  canvas.Font = font();
  return Look().AlignedChildrenRect(canvas, width(), height());
}

void TDsGroup::UpdateAlignRect() {
  const TRect r = AlignedChildrenRect();
  setContentsMargins(r.Left, r.Top, width() - r.Right, height() - r.Bottom);
}

// The focus chain of the window runs in tab order.
void TDsGroup::FocusFirstChild() {
  QWidget* start = window();
  for (QWidget* w = start->nextInFocusChain(); w && w != start; w = w->nextInFocusChain()) {
    if (isAncestorOf(w) && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
      w->setFocus(Qt::ShortcutFocusReason);
      return;
    }
  }
}

bool TDsGroup::event(QEvent* e) {
  if (e->type() == QEvent::Shortcut && static_cast<QShortcutEvent*>(e)->shortcutId() == shortcutId_) {
    FocusFirstChild();
    return true;
  }
  return QWidget::event(e);
}

void TDsGroup::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::FontChange) UpdateAlignRect();
}

TDsGroupLook TDsGroup::Look() const {
  TDsGroupLook look;
  look.CapAlignment = ::TCapAlignment(capAlignment_);
  look.Color_High = colorHigh_;
  look.Color_Low = colorLow_;
  look.CornerRadius = cornerRadius_;
  look.FaceColor = faceColor_;
  look.TextStyle = ::TTextStyle(textStyle_);
  look.Caption = caption_.toStdU16String();
  look.Ctl3D = ctl3D_;
  look.Color = color_;
  look.FontColor = fontColor_;
  return look;
}

void TDsGroup::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  TCanvas canvas(&painter);
  canvas.SelectFont(font(), fontColor_);
  Look().Paint(canvas, width(), height());
}
