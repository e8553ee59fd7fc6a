// Velotrunk: the window, on Windows. Takes no arguments.
#include <windows.h>
#include <commctrl.h>

#include <exception>
#include <string>

#include "flat_controls.h"
#include "form1_win32.h"
#include "start_command.h"
#include "utf16.h"

int main() {
  InitCommonControls();
  try {
    TForm1 form;
    form.Show();
    RunMessageLoop(form);
  } catch (const std::exception& error) {
    std::string text = error.what();
    if (!text.empty() && text.back() > '.') text += '.';
    MessageBoxW(nullptr, Widen(text).c_str(), L"Velotrunk", MB_ICONERROR);
  }
  // The program ends promptly: the engine stops first.
  StopStartedRelay();
  return 0;
}
