#include "form_storage_win32.h"

#include "flat_controls.h"
#include "placement_reader.h"
#include "placement_writer.h"
#include "placement_text.h"
#include "reg_ini_file.h"
#include "utf16.h"

namespace {

std::string ResolutionSuffix() {
  return ::ResolutionSuffix(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

}  // namespace

int ScreenPixelsPerInch() {
  HDC screen = GetDC(nullptr);
  const int ppi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return ppi;
}

TWinFormStorage::TWinFormStorage(HWND form, std::string key, std::string section, std::vector<Field> fields)
    : form_(form), key_(std::move(key)), section_(std::move(section)), fields_(std::move(fields)) {}

void TWinFormStorage::Report(const std::string& message) {
  if (OnError) OnError(message);
}

int TWinFormStorage::Restore() {
  saved_ = false;
  int showCmd = SW_SHOWNORMAL;
  std::string error;
  try {
    error = RestoreFromStore(key_, section_, ResolutionSuffix(), 0, [&](PlacementReader& reader) {
      RestorePosition(reader);
      showCmd = RestoreState(reader);
      RestoreFields(reader);
    });
    restored_ = true;
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!error.empty()) Report(error);
  return showCmd;
}

void TWinFormStorage::RestorePosition(PlacementReader& reader) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(form_, &placement);
  if (!IsWindowVisible(form_)) placement.showCmd = SW_HIDE;  // neither show nor activate it here
  // The window's size is fixed: only the position is restored.
  if (reader.ReadPlacement(placement, ScreenPixelsPerInch(), false)) SetWindowPlacement(form_, &placement);
}

int TWinFormStorage::RestoreState(PlacementReader& reader) {
  // A window of fixed size has no maximised state; the main window opens
  // normally and is minimised once it is up.
  if (StateFromShowCmd(reader.ReadInteger("ShowCmd", 0)) == StoredState::Minimized)
    PostMessageW(form_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  return SW_SHOWNORMAL;
}

void TWinFormStorage::RestoreFields(PlacementReader& reader) {
  // A value that is not text leaves its field as it is (and is told).
  for (const Field& field : fields_) {
    SetWindowTextW(field.window, Widen(reader.ReadField(field.valueName, WindowTextUtf8(field.window))).c_str());
  }
}

void TWinFormStorage::SaveAtDestruction() {
  if (restored_ && !saved_) Save(true);
}

void TWinFormStorage::Save(bool destroying) {
  if (!restored_) return;
  saved_ = true;  // tried: a failure is told once, not again at the destruction
  try {
    TRegIniFile ini(key_, KEY_ALL_ACCESS);
    ini.WriteInteger(section_, "FormVersion", 0);
    SavePosition(ini);
    ini.WriteString(section_, "Visible", destroying ? "1" : "0");
    for (const Field& field : fields_) ini.WriteString(section_, field.valueName, TrimText(WindowTextUtf8(field.window)));
    ini.UpdateFile();
  } catch (const std::exception& e) {
    Report(e.what());
  }
}

void TWinFormStorage::SavePosition(TRegIniFile& ini) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(form_, &placement);
  if (IsIconic(form_)) placement.showCmd = SW_SHOWMINIMIZED;
  WritePlacement(ini, section_, ResolutionSuffix(), placement, ScreenPixelsPerInch());
}
