// Message boxes and the beep on Qt. While an instance lives, MessageBoxA
// shows a QMessageBox with the text, caption, icon and buttons asked for:
//   - called on the GUI thread, it shows a modal box over the active window
//     and returns when it is closed;
//   - called on another thread, it asks the GUI thread for a box of its own
//     and waits until that box is closed. Such boxes are independent windows,
//     so several can be open at once, and they do not keep the program
//     running when the main window closes.
// A box is at least as wide as its caption needs. Beep sounds the desktop's
// beep instead of the terminal's bell, without waiting for it.
// Shutdown() tells every waiting thread, and every later caller off the GUI
// thread, that the program is ending: MessageBoxA returns 0 at once.
#pragma once

#include <memory>

class QtMessageBoxes {
 public:
  QtMessageBoxes();
  ~QtMessageBoxes();  // shuts down and restores the terminal handler
  QtMessageBoxes(const QtMessageBoxes&) = delete;
  QtMessageBoxes& operator=(const QtMessageBoxes&) = delete;

  void Shutdown();

  struct State;

 private:
  std::shared_ptr<State> state_;
};
