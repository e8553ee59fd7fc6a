// The main window as a native Win32 window, built from the same design table
// as the Qt one (form1_design.h): a top-level window "IP VeloTrunk" with a
// system menu and a minimise button, a fixed 256 x 168 client area, centred,
// its controls on the group panel that fills it. Enter in any field (with no
// Shift, Ctrl or Alt) clicks the visible default button; Tab moves through
// button, incoming port, server address, server port.
#pragma once

#include <windows.h>

#include <memory>

#include "form_storage_win32.h"

class TForm1 {
 public:
  // Creates the window from its design, hidden.
  TForm1();
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Handle = nullptr;
  HWND DsGroup1 = nullptr;
  HWND lbl = nullptr;
  HWND btn = nullptr;
  HWND RxLabel2 = nullptr;
  HWND RxLabel3 = nullptr;
  HWND RxLabel4 = nullptr;
  HWND ip = nullptr;
  HWND oip = nullptr;
  HWND op = nullptr;
  std::unique_ptr<TWinFormStorage> FormStorage1;
  HWND RxLabel1 = nullptr;

  // Restores the settings, then shows the window.
  void Show();
  // The start command: hands the fields to the engine and starts it.
  void btnClick();
  // Opens the home page through the shell.
  void RxLabel1Click();
  // Whether the relay was started (the button gave way to the status text).
  bool Running() const;

  // The window's keys: Enter clicks the default button, Tab and the arrows
  // move the focus. True when the message was one of them and is done.
  bool HandleDialogKey(MSG& message);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle_(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  void RelayStartFailed();
  void Close();

  HFONT font_ = nullptr;
  HWND lastFocus_ = nullptr;
};

// Runs the message loop of the window until it is destroyed; returns the
// loop's exit code.
int RunMessageLoop(TForm1& form);
