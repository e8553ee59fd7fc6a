// The framework's form: a top-level widget whose position mode decides where
// it first appears.
//
// Just before the form is first shown, while it has no native window yet, it
// sends itself the event FormShowEvent(): whatever positions the form then
// (the settings store restoring its place) places the frame's top-left
// corner, since a window manager honours a position given before the window
// exists as the frame's. A centred form is then centred, unless something
// switched its position mode; its frame's size is known only once a window
// manager has framed it, so it is centred once more at that moment.
#pragma once

#include <QEvent>
#include <QWidget>

class TForm : public QWidget {
  Q_OBJECT
  Q_PROPERTY(TPosition Position READ Position WRITE SetPosition)

 public:
  enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, poDesktopCenter };
  Q_ENUM(TPosition)

  explicit TForm(QWidget* parent = nullptr);

  TPosition Position() const { return position_; }
  void SetPosition(TPosition position) { position_ = position; }

  void setVisible(bool visible) override;

  static QEvent::Type FormShowEvent();

 protected:
  void moveEvent(QMoveEvent* event) override;

 private:
  bool Centred() const { return position_ == poScreenCenter || position_ == poDesktopCenter; }
  void Centre();

  TPosition position_ = poDesigned;
  bool placed_ = false;
  bool centreWhenFramed_ = false;
};
