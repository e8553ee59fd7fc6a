// TRxLabel: a text label that draws its caption twice, first as a shadow in
// ShadowColor shifted by ShadowSize pixels towards ShadowPos, then in the font
// colour on top; with the initial settings a one-pixel light shadow up and to
// the left gives an embossed look. A disabled label is drawn grey with a light
// shadow (an engraved one when it has no shadow of its own).
//
// With AutoSize (the default) setting the caption, the font or the shadow
// size resizes the label to its text and shadow: for one line and the initial
// shadow it is the text width + 2 wide and the text height high; CR LF in the
// caption starts a new line.
//
// Mouse tracking: OnMouseEnter when the pointer comes onto the enabled label
// while a window of the application is active; OnMouseLeave when it leaves,
// except while the left button pressed on the label is still held (the hover
// then ends at the release, if the pointer is elsewhere). OnClick on a left
// click. A "&x" in the caption underlines x; Alt+x then focuses FocusControl.
#pragma once

#include <QPointer>
#include <QWidget>

#include "qpainter_canvas.h"
#include "rx_label_look.h"

class TRxCustomLabel : public QWidget {
  Q_OBJECT

 public:
  // The shared look's enumerations, by the same names and values.
  enum TShadowPosition : quint8 {
    spLeftTop = ::spLeftTop,
    spLeftBottom = ::spLeftBottom,
    spRightBottom = ::spRightBottom,
    spRightTop = ::spRightTop
  };
  Q_ENUM(TShadowPosition)
  enum TAlignment : quint8 { taLeftJustify = ::taLeftJustify, taRightJustify = ::taRightJustify, taCenter = ::taCenter };
  Q_ENUM(TAlignment)
  enum TTextLayout : quint8 { tlTop = ::tlTop, tlCenter = ::tlCenter, tlBottom = ::tlBottom };
  Q_ENUM(TTextLayout)

  explicit TRxCustomLabel(QWidget* parent = nullptr);

  QString Caption() const { return caption_; }
  void SetCaption(const QString& value);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value) { AssignAndRepaint(alignment_, value); }
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  QWidget* FocusControl() const { return focusControl_; }
  void SetFocusControl(QWidget* value);
  TTextLayout Layout() const { return layout_; }
  void SetLayout(TTextLayout value) { AssignAndRepaint(layout_, value); }
  TColor ShadowColor() const { return shadowColor_; }
  void SetShadowColor(TColor value) { AssignAndRepaint(shadowColor_, value); }
  int ShadowSize() const { return shadowSize_; }
  // 0 to 255.
  void SetShadowSize(int value);
  TShadowPosition ShadowPos() const { return shadowPos_; }
  void SetShadowPos(TShadowPosition value) { AssignAndRepaint(shadowPos_, value); }
  bool ShowAccelChar() const { return showAccelChar_; }
  void SetShowAccelChar(bool value) { AssignAndRepaint(showAccelChar_, value); }
  bool ShowFocus() const { return showFocus_; }
  void SetShowFocus(bool value) { AssignAndRepaint(showFocus_, value); }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  // The background colour (when not transparent); clBtnFace at creation.
  TColor Color() const { return color_; }
  void SetColor(TColor value) { AssignAndRepaint(color_, value); }
  // The text colour; clWindowText at creation.
  TColor FontColor() const { return fontColor_; }
  void SetFontColor(TColor value) { AssignAndRepaint(fontColor_, value); }

  bool MouseOver() const { return mouseOver_; }
  // Resizes the label to its text and shadow, when AutoSize is true.
  void AutoSizeToText();

 signals:
  void OnClick();
  void OnMouseEnter();
  void OnMouseLeave();

 protected:
  virtual TColor DefaultTextColor() const { return fontColor_; }
  virtual QString LabelText() const { return caption_; }
  virtual void MouseEntered() { emit OnMouseEnter(); }
  virtual void MouseLeft() { emit OnMouseLeave(); }

  // Draws (or with DT_CALCRECT measures) the caption and its shadow.
  void DrawLabelText(TCanvas& canvas, TRect& rect, unsigned format) const;

  void paintEvent(QPaintEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void changeEvent(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  bool event(QEvent* e) override;

 private:
  template <class T>
  void AssignAndRepaint(T& field, T value) {
    if (field == value) return;
    field = value;
    update();
  }
  TAlignment EffectiveAlignment() const;
  TRxLabelLook Look() const;
  void RecheckMouseOver();
  void FocusChanged(QWidget* old, QWidget* now);
  bool HandleAccelerator();

  QString caption_;
  TAlignment alignment_ = taLeftJustify;
  bool autoSize_ = true;
  QPointer<QWidget> focusControl_;
  QMetaObject::Connection focusControlDestroyed_;
  TTextLayout layout_ = tlTop;
  TColor shadowColor_ = clBtnHighlight;
  quint8 shadowSize_ = 1;
  TShadowPosition shadowPos_ = spLeftTop;
  bool showAccelChar_ = true;
  bool showFocus_ = false;
  bool transparent_ = false;
  bool wordWrap_ = false;
  TColor color_ = clBtnFace;
  TColor fontColor_ = clWindowText;
  int shortcutId_ = 0;

  bool mouseOver_ = false;
  bool leftButtonHeld_ = false;
  bool focusControlActive_ = false;
};

// The label with its properties published.
class TRxLabel : public TRxCustomLabel {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(TRxCustomLabel::TAlignment Alignment READ Alignment WRITE SetAlignment)
  Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
  Q_PROPERTY(QWidget* FocusControl READ FocusControl WRITE SetFocusControl)
  Q_PROPERTY(TRxCustomLabel::TTextLayout Layout READ Layout WRITE SetLayout)
  Q_PROPERTY(quint32 ShadowColor READ ShadowColor WRITE SetShadowColor)
  Q_PROPERTY(int ShadowSize READ ShadowSize WRITE SetShadowSize)
  Q_PROPERTY(TRxCustomLabel::TShadowPosition ShadowPos READ ShadowPos WRITE SetShadowPos)
  Q_PROPERTY(bool ShowAccelChar READ ShowAccelChar WRITE SetShowAccelChar)
  Q_PROPERTY(bool ShowFocus READ ShowFocus WRITE SetShowFocus)
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
  Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
  Q_PROPERTY(quint32 Color READ Color WRITE SetColor)
  Q_PROPERTY(quint32 FontColor READ FontColor WRITE SetFontColor)

 public:
  using TRxCustomLabel::TRxCustomLabel;
};
