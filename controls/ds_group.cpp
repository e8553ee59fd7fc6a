#include "ds_group.h"

#include <QKeySequence>
#include <QPainter>
#include <QShortcutEvent>

namespace {
constexpr unsigned kCaptionFormat = DT_CENTER | DT_SINGLELINE;
}

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

void TDsGroup::SetCornerRadius(int value) {
  if (value < 0) value = 0;
  if (value > 12) value = 16;
  Assign(cornerRadius_, value);
}

void TDsGroup::SetCaption(const QString& value) {
  if (caption_ == value) return;
  caption_ = value;
  update();
  UpdateAlignRect();
  UpdateAccelerator();
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
  TRect r{0, 0, width(), height()};
  r.Top += canvas.TextHeight(QStringLiteral("0"));
  const int inset = ctl3D_ ? 2 : 1;
  InflateRect(r, -inset, -inset);
  return r;
}

void TDsGroup::UpdateAlignRect() {
  const TRect r = AlignedChildrenRect();
  setContentsMargins(r.Left, r.Top, width() - r.Right, height() - r.Bottom);
}

void TDsGroup::UpdateAccelerator() {
  if (shortcutId_) releaseShortcut(shortcutId_);
  shortcutId_ = 0;
  const QKeySequence key = QKeySequence::mnemonic(caption_);
  if (!key.isEmpty()) shortcutId_ = grabShortcut(key);
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

int TDsGroup::CaptionLeft(int captionWidth) const {
  const int r = cornerRadius_;
  switch (capAlignment_) {
    case caCenter: return (width() - captionWidth) / 2;
    case caRight: return r < 4 ? width() - captionWidth - 8 : width() - captionWidth - r - 4;
    case caLeft: break;
  }
  return r < 4 ? 8 : r + 4;
}

void TDsGroup::PaintFrame(TCanvas& canvas, int h) {
  const int r = cornerRadius_;
  TRect frame{0, h / 2, width() - 1, height() - 1};
  if (!ctl3D_) {
    canvas.Pen.Color = clWindowFrame;
    canvas.Brush.Color = clWindowFrame;
    canvas.Brush.Style = r == 0 ? bsSolid : bsClear;
    if (r == 0) canvas.FrameRect(frame);
    else canvas.RoundRect(0, h / 2, width(), height(), 2 * r, 2 * r);
    return;
  }
  // The light copy one pixel right of and below the dark line: a groove.
  for (const auto& [offset, color] : {std::pair{1, colorHigh_}, std::pair{0, colorLow_}}) {
    TRect line = frame;
    OffsetRect(line, offset, offset);
    if (r == 0) {
      canvas.Brush.Style = bsSolid;
      canvas.Brush.Color = color;
      canvas.FrameRect(line);
    } else {
      canvas.Brush.Style = bsClear;
      canvas.Pen.Color = color;
      canvas.RoundRect(line, 2 * r, 2 * r);
    }
  }
}

void TDsGroup::PaintFace(TCanvas& canvas, int h) {
  if (!ctl3D_ || faceColor_ == clNone) return;
  const int r = cornerRadius_;
  canvas.Pen.Color = faceColor_;
  canvas.Brush.Style = bsSolid;
  canvas.Brush.Color = faceColor_;
  if (r == 0) canvas.Rectangle(2, h / 2 + 2, width() - 2, height() - 2);
  else canvas.RoundRect(2, h / 2 + 2, width() - 2, height() - 2, 2 * (r - 2), 2 * (r - 2));
}

void TDsGroup::PaintCaption(TCanvas& canvas, const TRect& captionRect) {
  canvas.Brush.Style = bsClear;
  auto draw = [&](TColor color, int dx, int dy) {
    TRect r = captionRect;
    OffsetRect(r, dx, dy);
    canvas.TextColor = ColorToRGB(color);
    canvas.DrawText(caption_, r, kCaptionFormat);
  };
  if (!ctl3D_) {
    draw(clWindowFrame, 0, 0);
    return;
  }
  switch (textStyle_) {
    case txLowered: draw(colorHigh_, 1, 1); break;
    case txRaised: draw(colorHigh_, -1, -1); break;
    case txShadowed: draw(colorLow_, 2, 2); break;
    case txNone: break;
  }
  draw(fontColor_, 0, 0);
}

void TDsGroup::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  TCanvas canvas(&painter);
  canvas.Brush.Color = color_;
  canvas.FillRect({0, 0, width(), height()});

  canvas.SelectFont(font(), fontColor_);
  const int h = canvas.TextHeight(QStringLiteral("H"));
  canvas.Pen.Style = psSolid;
  PaintFrame(canvas, h);

  const int w = caption_.isEmpty() ? 0 : canvas.TextWidth(caption_) + 2;
  const int x = CaptionLeft(w);
  const TRect captionRect{x, 0, x + w, h};
  canvas.Brush.Style = bsSolid;
  canvas.Brush.Color = color_;
  canvas.FillRect(captionRect);

  PaintFace(canvas, h);
  PaintCaption(canvas, captionRect);
}
