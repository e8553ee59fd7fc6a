// Flat edit controls: TksoEdit (single line), TksoOfficeMemo (multi-line),
// TksoOfficeListBox and TksoOfficeCheckListBox. Each reserves a frame two
// pixels wide on every side and paints it itself in one of the border styles:
//   - BorderStyle        when Flat is false;
//   - BorderStyleFocused when Flat is true and the control has the focus or the
//                        mouse pointer is over it;
//   - BorderStyleFlat    otherwise.
// The frame is first wiped with the control's Color, so a style that draws one
// ring (or none) leaves the rest of the frame in that colour.
//
// Setting a style repaints the frame at once, even when the value is the same.
// Setting Flat on TksoEdit and the list boxes puts back the three initial styles
// (kbsSunken, kbsSolid, kbsOuterSunken) unless the control is being loaded
// (see loading.h): code that sets up a control at run time sets Flat first and
// the styles after it. TksoOfficeMemo's Flat only selects the styles.
#pragma once

#include <QEnterEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>

#include "border_style.h"
#include "qpainter_canvas.h"
#include "loading.h"

// Wipes the two-pixel frame of control with color and draws style over it.
void PaintKsoFrame(QWidget* control, TColor color, TksoBorderStyle style);

// The border behaviour shared by the flat controls, on top of a Qt widget.
// FlatResetsStyles selects what setting Flat does (see above). The concrete
// classes publish the accessors as properties.
template <class Base, bool FlatResetsStyles = true>
class KsoFramed : public Base {
 public:
  TksoBorderStyle BorderStyle() const { return state_.BorderStyle; }
  TksoBorderStyle BorderStyleFlat() const { return state_.BorderStyleFlat; }
  TksoBorderStyle BorderStyleFocused() const { return state_.BorderStyleFocused; }
  bool Flat() const { return state_.Flat; }
  TColor Color() const { return color_; }
  bool MouseOver() const { return state_.MouseOver; }

  void SetBorderStyle(TksoBorderStyle value) { state_.BorderStyle = value; InvalidateFrame(); }
  void SetBorderStyleFlat(TksoBorderStyle value) { state_.BorderStyleFlat = value; InvalidateFrame(); }
  void SetBorderStyleFocused(TksoBorderStyle value) { state_.BorderStyleFocused = value; InvalidateFrame(); }
  void SetFlat(bool value) {
    if (!FlatResetsStyles) {
      state_.Flat = value;
    } else {
      const bool loading = IsLoading(this);
      state_.SetFlat(value, loading);
      if (loading) return;
    }
    InvalidateFrame();
  }
  // The colour of the text area and of the wiped frame; clWindow at creation.
  void SetColor(TColor value) {
    color_ = value;
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, ColorToRGB(value));
    this->setPalette(palette);
    InvalidateFrame();
  }

  // The style the frame shows now.
  TksoBorderStyle CurrentBorderStyle() const { return state_.Current(this->hasFocus()); }

  // Repaints the whole control, frame included, before returning.
  void InvalidateFrame() { this->repaint(); }

 protected:
  using Base::Base;

  // Paints the frame now; called at the end of every paint of the control.
  void DrawBorder() { PaintKsoFrame(this, color_, CurrentBorderStyle()); }

  bool event(QEvent* e) override {
    const bool result = Base::event(e);
    if (e->type() == QEvent::Paint) DrawBorder();
    return result;
  }
  void focusInEvent(QFocusEvent* e) override {
    Base::focusInEvent(e);
    InvalidateFrame();
  }
  void focusOutEvent(QFocusEvent* e) override {
    Base::focusOutEvent(e);
    InvalidateFrame();
  }
  void enterEvent(QEnterEvent* e) override {
    Base::enterEvent(e);
    SetMouseOver(true);
  }
  void leaveEvent(QEvent* e) override {
    Base::leaveEvent(e);
    SetMouseOver(false);
  }

 private:
  void SetMouseOver(bool over) {
    state_.MouseOver = over;
    if (state_.Flat) InvalidateFrame();
  }

  TksoBorderState state_;
  TColor color_ = clWindow;
};

// Single-line flat edit. Text is also published as "Text" for the settings
// store, which looks properties up by the design's names.
class TksoEdit : public KsoFramed<QLineEdit> {
  Q_OBJECT
  Q_PROPERTY(KsoBorder::TksoBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
  Q_PROPERTY(KsoBorder::TksoBorderStyle BorderStyleFlat READ BorderStyleFlat WRITE SetBorderStyleFlat)
  Q_PROPERTY(KsoBorder::TksoBorderStyle BorderStyleFocused READ BorderStyleFocused WRITE SetBorderStyleFocused)
  Q_PROPERTY(bool Flat READ Flat WRITE SetFlat)
  Q_PROPERTY(quint32 Color READ Color WRITE SetColor)
  Q_PROPERTY(QString Text READ text WRITE setText)

 public:
  explicit TksoEdit(QWidget* parent = nullptr);
};

// Multi-line flat edit; 40 pixels high at creation.
class TksoOfficeMemo : public KsoFramed<QPlainTextEdit, false> {
  Q_OBJECT
  Q_PROPERTY(KsoBorder::TksoBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
  Q_PROPERTY(KsoBorder::TksoBorderStyle BorderStyleFlat READ BorderStyleFlat WRITE SetBorderStyleFlat)
  Q_PROPERTY(KsoBorder::TksoBorderStyle BorderStyleFocused READ BorderStyleFocused WRITE SetBorderStyleFocused)
  Q_PROPERTY(bool Flat READ Flat WRITE SetFlat)
  Q_PROPERTY(quint32 Color READ Color WRITE SetColor)

 public:
  explicit TksoOfficeMemo(QWidget* parent = nullptr);
};

// Flat list box; 40 pixels high at creation.
class TksoOfficeListBox : public KsoFramed<QListWidget> {
  Q_OBJECT
  Q_PROPERTY(KsoBorder::TksoBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
  Q_PROPERTY(KsoBorder::TksoBorderStyle BorderStyleFlat READ BorderStyleFlat WRITE SetBorderStyleFlat)
  Q_PROPERTY(KsoBorder::TksoBorderStyle BorderStyleFocused READ BorderStyleFocused WRITE SetBorderStyleFocused)
  Q_PROPERTY(bool Flat READ Flat WRITE SetFlat)
  Q_PROPERTY(quint32 Color READ Color WRITE SetColor)

 public:
  explicit TksoOfficeListBox(QWidget* parent = nullptr);
};

// Flat list box whose items carry a check box; 40 pixels high at creation.
class TksoOfficeCheckListBox : public TksoOfficeListBox {
  Q_OBJECT

 public:
  explicit TksoOfficeCheckListBox(QWidget* parent = nullptr);
  // Adds an item with a check box in the given state.
  void AddItem(const QString& text, bool checked = false);
  bool Checked(int index) const;
};
