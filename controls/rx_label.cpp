#include "rx_label.h"

#include <QApplication>
#include <QCursor>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>
#include <algorithm>

int DrawShadowedText(TCanvas& canvas, const QString& text, TRect& rect, unsigned format, int size,
                     const QColor& colour, TRxCustomLabel::TShadowPosition position) {
  TRect textRect = rect;
  TRect shadowRect = rect;
  const QColor old = canvas.SetTextColor(colour);
  switch (position) {
    case TRxCustomLabel::spLeftTop: OffsetRect(shadowRect, -size, -size); break;
    case TRxCustomLabel::spLeftBottom: OffsetRect(shadowRect, -size, size); break;
    case TRxCustomLabel::spRightBottom: OffsetRect(shadowRect, size, size); break;
    case TRxCustomLabel::spRightTop: OffsetRect(shadowRect, size, -size); break;
  }
  int result = canvas.DrawText(text, shadowRect, format);
  if (result > 0) result += size;
  canvas.SetTextColor(old);
  canvas.DrawText(text, textRect, format);
  rect = UnionRect(textRect, shadowRect);
  return result;
}

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
  UpdateAccelerator();
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

void TRxCustomLabel::DrawLabelText(TCanvas& canvas, TRect& rect, unsigned format) const {
  QString text = LabelText();
  if ((format & DT_CALCRECT) && (text.isEmpty() || (showAccelChar_ && text == QStringLiteral("&"))))
    text += u' ';
  if (!showAccelChar_) format |= DT_NOPREFIX;
  canvas.SelectFont(font(), DefaultTextColor());
  TShadowPosition position = shadowPos_;
  int size = shadowSize_;
  TColor colour = shadowColor_;
  if (!isEnabled()) {
    if (size == 0) {
      position = spRightBottom;
      size = 1;
    }
    canvas.TextColor = ColorToRGB(clGrayText);
    colour = clBtnHighlight;
  }
  DrawShadowedText(canvas, text, rect, format, size, ColorToRGB(colour), position);
}

void TRxCustomLabel::paintEvent(QPaintEvent*) {
  if (!isEnabled()) leftButtonHeld_ = false;
  QPainter painter(this);
  TCanvas canvas(&painter);
  if (!transparent_) {
    canvas.Brush.Color = color_;
    canvas.FillRect({0, 0, width(), height()});
  }
  canvas.Brush.Style = bsClear;
  TRect r{1, 0, width() - 1, height()};
  unsigned format = DT_EXPANDTABS | (wordWrap_ ? DT_WORDBREAK : 0);
  switch (EffectiveAlignment()) {
    case taLeftJustify: format |= DT_LEFT; break;
    case taRightJustify: format |= DT_RIGHT; break;
    case taCenter: format |= DT_CENTER; break;
  }
  if (layout_ != tlTop) {
    DrawLabelText(canvas, r, format | DT_CALCRECT);
    r.Left = 0;
    r.Right = width();
    const int free = height() - r.Bottom;
    OffsetRect(r, 0, layout_ == tlBottom ? free : free / 2);
  }
  DrawLabelText(canvas, r, format);
  if (showFocus_ && focusControl_ && focusControlActive_) {
    InflateRect(r, 1, 0);
    canvas.Brush.Color = color_;
    canvas.DrawFocusRect(r);
  }
}

void TRxCustomLabel::AutoSizeToText() {
  if (!autoSize_) return;
  TRect r{1, 0, width() - 1, height()};
  TCanvas screen;  // measures only
  DrawLabelText(screen, r, DT_EXPANDTABS | DT_CALCRECT | (wordWrap_ ? DT_WORDBREAK : 0));
  InflateRect(r, 1, 0);
  int left = x();
  if (EffectiveAlignment() == taRightJustify) left += width() - r.Right;
  // The new size is R's right and bottom edge: a shadow to the left or above
  // adds nothing, one to the right or below adds its size.
  setGeometry(left, y(), r.Right, r.Bottom);
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

void TRxCustomLabel::UpdateAccelerator() {
  if (shortcutId_) releaseShortcut(shortcutId_);
  shortcutId_ = 0;
  const QKeySequence key = QKeySequence::mnemonic(caption_);
  if (!key.isEmpty()) shortcutId_ = grabShortcut(key);
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
