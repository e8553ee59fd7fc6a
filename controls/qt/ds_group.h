// TDsGroup: a panel that holds other controls and draws a two-tone frame with
// rounded corners along its edges (a groove: a dark line with a light copy one
// pixel to the right and below), an optional caption set into the top edge
// with a text effect under it, and an optional filled face inside the frame.
//
// Setters repaint only when the value changes. CornerRadius is kept within
// 0..12, or 16 for anything above 12. SetEnabled sets the enabled state of
// every child itself, so enabling the panel also enables a child that had been
// disabled on its own. A "&x" in the caption makes Alt+x focus the panel's
// first child (in tab order) that can take the focus.
#pragma once

#include <QWidget>

#include "ds_group_look.h"
#include "qpainter_canvas.h"

class TDsGroup : public QWidget {
  Q_OBJECT

 public:
  // The shared look's enumerations, by the same names and values.
  enum TCapAlignment : quint8 { caLeft = ::caLeft, caCenter = ::caCenter, caRight = ::caRight };
  Q_ENUM(TCapAlignment)
  enum TTextStyle : quint8 { txNone = ::txNone, txLowered = ::txLowered, txRaised = ::txRaised, txShadowed = ::txShadowed };
  Q_ENUM(TTextStyle)

 private:
  Q_PROPERTY(TCapAlignment CapAlignment READ CapAlignment WRITE SetCapAlignment)
  Q_PROPERTY(quint32 Color_High READ Color_High WRITE SetColor_High)
  Q_PROPERTY(quint32 Color_Low READ Color_Low WRITE SetColor_Low)
  Q_PROPERTY(int CornerRadius READ CornerRadius WRITE SetCornerRadius)
  Q_PROPERTY(quint32 FaceColor READ FaceColor WRITE SetFaceColor)
  Q_PROPERTY(TTextStyle TextStyle READ TextStyle WRITE SetTextStyle)
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE SetCtl3D)
  Q_PROPERTY(quint32 Color READ Color WRITE SetColor)
  Q_PROPERTY(quint32 FontColor READ FontColor WRITE SetFontColor)
  Q_PROPERTY(bool Enabled READ isEnabled WRITE SetEnabled)

 public:
  explicit TDsGroup(QWidget* parent = nullptr);

  TCapAlignment CapAlignment() const { return capAlignment_; }
  void SetCapAlignment(TCapAlignment value);
  TColor Color_High() const { return colorHigh_; }
  void SetColor_High(TColor value);
  TColor Color_Low() const { return colorLow_; }
  void SetColor_Low(TColor value);
  int CornerRadius() const { return cornerRadius_; }
  void SetCornerRadius(int value);
  // clNone: no face.
  TColor FaceColor() const { return faceColor_; }
  void SetFaceColor(TColor value);
  TTextStyle TextStyle() const { return textStyle_; }
  void SetTextStyle(TTextStyle value);
  QString Caption() const { return caption_; }
  void SetCaption(const QString& value);
  bool Ctl3D() const { return ctl3D_; }
  void SetCtl3D(bool value);
  // The background colour; clBtnFace at creation.
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  // The colour of the caption text; clWindowText at creation.
  TColor FontColor() const { return fontColor_; }
  void SetFontColor(TColor value);
  // Sets every child's enabled state, first to last, then the panel's own.
  void SetEnabled(bool value);

  // Where children that fill or align within the panel go: below the caption
  // line and inside the frame. Also the panel's contents margins.
  TRect AlignedChildrenRect() const;

 protected:
  void paintEvent(QPaintEvent* e) override;
  bool event(QEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  template <class T>
  void Assign(T& field, T value);
  TDsGroupLook Look() const;
  void UpdateAlignRect();
  void FocusFirstChild();

  TCapAlignment capAlignment_ = caLeft;
  TColor colorHigh_ = clBtnHighlight;
  TColor colorLow_ = clBtnShadow;
  int cornerRadius_ = 3;
  TColor faceColor_ = clNone;
  TTextStyle textStyle_ = txRaised;
  QString caption_;
  bool ctl3D_ = true;
  TColor color_ = clBtnFace;
  TColor fontColor_ = clWindowText;
  int shortcutId_ = 0;
};
