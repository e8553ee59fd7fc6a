// TSEFlatButton: a push button drawn flat (one-pixel frame, a second ring
// while it is the active default button, a darker face while pressed, a
// dotted focus rectangle), with the pointing-hand cursor.
//
// It behaves like the framework's push button in a form:
//   - it is *active* while it has the focus, or while the focus is on a
//     control of its window that is not a push button and Default is true;
//   - Enter (without Shift, Ctrl or Alt) that no control of the window takes
//     clicks the active button, if it can take the focus (visible, enabled);
//   - Escape likewise clicks a button whose Cancel is true;
//   - Space and the mouse click it as usual;
//   - a click first copies ModalResult to the window's "ModalResult"
//     property, then emits OnClick.
#pragma once

#include <QPushButton>

class TSEFlatButton : public QPushButton {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ text WRITE setText)
  Q_PROPERTY(bool Default READ Default WRITE SetDefault)
  Q_PROPERTY(bool Cancel READ Cancel WRITE SetCancel)
  Q_PROPERTY(int ModalResult READ ModalResult WRITE SetModalResult)

 public:
  explicit TSEFlatButton(QWidget* parent = nullptr);
  ~TSEFlatButton() override;

  bool Default() const { return default_; }
  void SetDefault(bool value);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int value) { modalResult_ = value; }
  // Whether Enter clicks this button now (it then shows the thicker frame).
  bool Active() const { return active_; }

 signals:
  void OnClick();

 protected:
  void paintEvent(QPaintEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void UpdateActive(QWidget* focused);
  void FocusChanged(QWidget* old, QWidget* now);
  bool HandleDialogKey(int key, Qt::KeyboardModifiers modifiers);
  void Clicked();

  bool default_ = false;
  bool cancel_ = false;
  int modalResult_ = 0;
  bool active_ = false;
};
