#include "rx_label.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>
#include <algorithm>

#include "mnemonic.h"

TRxCustomLabel::TRxCustomLabel(QWidget* parent) : QWidget(parent) {
  resize(65, 17);
  setAttribute(Qt::WA_OpaquePaintEvent, true);
  connect(qApp, &QApplication::focusChanged, this, &TRxCustomLabel::FocusChanged);
}

void TRxCustomLabel::SetCaption(const QString& value) {
  if (caption_ == value) return;
  caption_ = value;
  update();
  AutoSizeToText();
  shortcutId_ = RegrabMnemonic(this, shortcutId_, caption_);
}

void TRxCustomLabel::SetAutoSize(bool value) {
  if (autoSize_ == value) return;
  autoSize_ = value;
  AutoSizeToText();
}

void TRxCustomLabel::SetShadowSize(int value) {
  const auto size = quint8(std::clamp(value, 0, 255));
  if (shadowSize_ == size) return;
  shadowSize_ = size;
  AutoSizeToText();
  update();
}

void TRxCustomLabel::SetWordWrap(bool value) {
  if (wordWrap_ == value) return;
  wordWrap_ = value;
  AutoSizeToText();
}

void TRxCustomLabel::SetTransparent(bool value) {
  if (transparent_ == value) return;
  transparent_ = value;
  setAttribute(Qt::WA_OpaquePaintEvent, !value);
  update();
}

void TRxCustomLabel::SetFocusControl(QWidget* value) {
  disconnect(focusControlDestroyed_);
  focusControl_ = value;
  if (value)
    focusControlDestroyed_ = connect(value, &QObject::destroyed, this, [this] { SetFocusControl(nullptr); });
  if (showFocus_) update();
}

TRxCustomLabel::TAlignment TRxCustomLabel::EffectiveAlignment() const {
  if (layoutDirection() != Qt::RightToLeft || alignment_ == taCenter) return alignment_;
  return alignment_ == taLeftJustify ? taRightJustify : taLeftJustify;
}

TRxLabelLook TRxCustomLabel::Look() const {
  TRxLabelLook look;
  look.Alignment = ::TAlignment(EffectiveAlignment());
  look.Layout = ::TTextLayout(layout_);
  look.ShadowColor = shadowColor_;
  look.ShadowSize = shadowSize_;
  look.ShadowPos = ::TShadowPosition(shadowPos_);
  look.ShowAccelChar = showAccelChar_;
  look.Transparent = transparent_;
  look.WordWrap = wordWrap_;
  look.Color = color_;
  return look;
}

void TRxCustomLabel::DrawLabelText(TCanvas& canvas, TRect& rect, unsigned format) const {
  const std::u16string caption = LabelText().toStdU16String();
  canvas.Font = font();
  Look().DrawLabelText(canvas, {caption, DefaultTextColor(), isEnabled()}, rect, format);
}

void TRxCustomLabel::paintEvent(QPaintEvent*) {
  if (!isEnabled()) leftButtonHeld_ = false;
  QPainter painter(this);
  TCanvas canvas(&painter);
  canvas.Font = font();
  const std::u16string caption = LabelText().toStdU16String();
  const TRxLabelLook look = Look();
  const TRect r = look.Paint(canvas, {caption, DefaultTextColor(), isEnabled()}, width(), height());
  if (showFocus_ && focusControl_ && focusControlActive_) look.PaintFocus(canvas, r);
}

void TRxCustomLabel::AutoSizeToText() {
  if (!autoSize_) return;
  TCanvas screen;  // measures only
  screen.Font = font();
  const std::u16string caption = LabelText().toStdU16String();
  const TRect bounds = Look().AutoSizeBounds(screen, {caption, DefaultTextColor(), isEnabled()}, x(), width(), height());
  setGeometry(bounds.Left, y(), bounds.Width(), bounds.Height());
}

// Every widget lives on the GUI thread, so "a window of this thread is
// active" is "the application has an active window".
static bool ActiveWindowInThisThread() { return QApplication::activeWindow() != nullptr; }

void TRxCustomLabel::RecheckMouseOver() {
  const bool was = mouseOver_;
  mouseOver_ = isEnabled() && QApplication::widgetAt(QCursor::pos()) == this && ActiveWindowInThisThread();
  if (mouseOver_ == was) return;
  if (mouseOver_) MouseEntered();
  else MouseLeft();
}

void TRxCustomLabel::enterEvent(QEnterEvent* e) {
  QWidget::enterEvent(e);
  if (mouseOver_ || !isEnabled() || !ActiveWindowInThisThread()) return;
  mouseOver_ = true;
  MouseEntered();
}

void TRxCustomLabel::leaveEvent(QEvent* e) {
  QWidget::leaveEvent(e);
  if (!mouseOver_ || !isEnabled() || leftButtonHeld_) return;
  mouseOver_ = false;
  MouseLeft();
}

void TRxCustomLabel::mousePressEvent(QMouseEvent* e) {
  QWidget::mousePressEvent(e);
  e->accept();  // keep the release for this label
  if (e->button() == Qt::LeftButton && isEnabled()) leftButtonHeld_ = true;
  if (e->button() == Qt::RightButton) RecheckMouseOver();
}

void TRxCustomLabel::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && isEnabled() && rect().contains(e->position().toPoint())) emit OnClick();
  QWidget::mouseReleaseEvent(e);
  if (leftButtonHeld_ && e->button() == Qt::LeftButton) leftButtonHeld_ = false;
  RecheckMouseOver();
}

void TRxCustomLabel::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::FontChange) AutoSizeToText();
  if (e->type() == QEvent::EnabledChange) RecheckMouseOver();
}

void TRxCustomLabel::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  RecheckMouseOver();
}

void TRxCustomLabel::FocusChanged(QWidget*, QWidget* now) {
  const bool active = focusControl_ && now == focusControl_;
  if (active == focusControlActive_) return;
  focusControlActive_ = active;
  if (showFocus_) update();
}

bool TRxCustomLabel::HandleAccelerator() {
  if (!focusControl_ || !isEnabled() || !showAccelChar_) return false;
  if (!focusControl_->isVisible() || !focusControl_->isEnabled() || focusControl_->focusPolicy() == Qt::NoFocus)
    return false;
  focusControl_->setFocus(Qt::ShortcutFocusReason);
  return true;
}

bool TRxCustomLabel::event(QEvent* e) {
  if (e->type() == QEvent::Shortcut && static_cast<QShortcutEvent*>(e)->shortcutId() == shortcutId_)
    return HandleAccelerator();
  return QWidget::event(e);
}
