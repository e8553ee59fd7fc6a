// The settings store of the Win32 window: the field texts and the window's
// position and state in the registry, HKEY_CURRENT_USER\<key>\<section>,
// by the same rules as the Qt window's TFormStorage: restored before the
// window is first shown, saved when it closes (and at the end of the
// session), saved again at its destruction only when no save was tried since
// the restore (a failed one is told once). Store errors are told through the
// report handler and never thrown.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class TRegIniFile;
class PlacementReader;

class TWinFormStorage {
 public:
  struct Field {
    std::string valueName;  // "ip_Text"
    HWND window;
  };
  TWinFormStorage(HWND form, std::string key, std::string section, std::vector<Field> fields);

  // Restores position, state and fields of the hidden window; returns the
  // show command to show it with.
  int Restore();
  void SaveAtClose() { Save(false); }
  void SaveAtDestruction();

  bool Restored() const { return restored_; }
  bool Saved() const { return saved_; }

  // Tells a store error (the standard report by default).
  std::function<void(const std::string& message)> OnError;

 private:
  void Save(bool destroying);
  void RestorePosition(PlacementReader& reader);
  int RestoreState(PlacementReader& reader);
  void RestoreFields(PlacementReader& reader);
  void SavePosition(TRegIniFile& ini);
  void Report(const std::string& message);

  HWND form_;
  std::string key_, section_;
  std::vector<Field> fields_;
  bool restored_ = false;
  bool saved_ = false;
};

// The screen's pixels per inch.
int ScreenPixelsPerInch();
