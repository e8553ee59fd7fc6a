// The framework's form: a top-level widget whose position mode decides where
// it first appears. A centred form is centred on the screen when it is first
// shown, after whatever its show event handling has done.
#pragma once

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

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TPosition position_ = poDesigned;
  bool placed_ = false;
};
