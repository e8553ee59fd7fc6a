#include "form1_win32.h"

#include <shellapi.h>

#include <iterator>
#include <stdexcept>

#include "dc_canvas.h"
#include "flat_controls.h"
#include "form1_design.h"
#include "start_command.h"
#include "utf16.h"

namespace {

namespace design = form1_design;

constexpr wchar_t kFormClass[] = L"TForm1";
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kButtonId = 100;
constexpr int kLinkId = 101;
constexpr UINT WM_RELAY_START_FAILED = WM_APP + 1;

TPlace Place(const design::Bounds& b) { return {b.Left, b.Top, b.Width, b.Height}; }

TFontDesc DesignFont(int height, bool bold, TColor color) {
  TFontDesc font;
  font.Families.assign(std::begin(design::FontFamilies), std::end(design::FontFamilies));
  font.PixelHeight = height;
  font.Bold = bold;
  font.Color = color;
  return font;
}

// The program's icon (resource 1, packaging/windows) in the size Windows
// asks for; the system's application icon in a program without it.
HICON ProgramIcon(int widthMetric, int heightMetric) {
  HICON icon = HICON(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), LR_SHARED));
  return icon ? icon : LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
}

void RegisterFormClass() {
  static const bool registered = [] {
    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = DefWindowProcW;  // replaced per window below
    form.hInstance = GetModuleHandleW(nullptr);
    form.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    form.hIcon = ProgramIcon(SM_CXICON, SM_CYICON);
    form.hIconSm = ProgramIcon(SM_CXSMICON, SM_CYSMICON);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = kFormClass;
    return RegisterClassExW(&form) != 0;
  }();
  (void)registered;
}

// The window rectangle for the design's client area, centred on the screen.
RECT CentredWindowRect() {
  RECT r{0, 0, design::ClientWidth, design::ClientHeight};
  AdjustWindowRectEx(&r, kFormStyle, FALSE, 0);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  return {x, y, x + w, y + h};
}

TForm1* FormOf(HWND window) { return reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

// Whether the control itself is shown, whatever its window is.
bool Shown(HWND control) { return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0; }

bool ModifierDown() {
  return (GetKeyState(VK_SHIFT) | GetKeyState(VK_CONTROL) | GetKeyState(VK_MENU)) & 0x8000;
}

}  // namespace

TForm1::TForm1() {
  RegisterFormClass();
  const RECT r = CentredWindowRect();
  Handle = CreateWindowExW(0, kFormClass, Widen(design::Caption).c_str(), kFormStyle, r.left, r.top,
                           r.right - r.left, r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!Handle) throw std::runtime_error("The window cannot be created (is there a display?)");
  SetWindowLongPtrW(Handle, GWLP_USERDATA, LONG_PTR(this));
  SetWindowLongPtrW(Handle, GWLP_WNDPROC, LONG_PTR(&TForm1::WindowProc));
  font_ = CreateDesignFont(DesignFont(design::FontHeight, false, clWindowText));
  CreateControls();
  // The value names are in users' settings (form1_design.h), the Qt window's too.
  FormStorage1 = std::make_unique<TWinFormStorage>(
      Handle, design::StoreKey, design::StoreSection,
      std::vector<TWinFormStorage::Field>{{"ip_Text", ip}, {"oip_Text", oip}, {"op_Text", op}});
  FormStorage1->OnError = [this](const std::string& message) {
    // The standard report: a full stop added, the application's title.
    std::string text = message;
    if (!text.empty() && text.back() > '.') text += '.';
    MessageBoxW(Handle, Widen(text).c_str(), L"Velotrunk", MB_ICONERROR);
  };
  // Told on the engine thread as it ends; the window hears of it on its own.
  HWND window = Handle;
  SetRelayStartFailedHandler([window] { PostMessageW(window, WM_RELAY_START_FAILED, 0, 0); });
}

TForm1::~TForm1() {
  SetRelayStartFailedHandler(nullptr);
  if (Handle) DestroyWindow(Handle);
  if (font_) DeleteObject(font_);
}

void TForm1::CreateControls() {
  TDsGroupLook group;
  group.Color_High = clBtnHighlight;
  group.Color_Low = clBtnShadow;
  DsGroup1 = CreateDsGroup(Handle, {0, 0, design::ClientWidth, design::ClientHeight}, group,
                           DesignFont(design::FontHeight, false, clWindowText));
  for (const design::Label& label : design::Labels) {
    TRxLabelSetup setup;
    setup.Caption = label.Caption;
    setup.Font = DesignFont(label.FontHeight, label.Bold, label.FontColor);
    setup.HandCursor = label.Link;
    if (label.Link) setup.Look.Color = clBtnFace;
    HWND made = CreateRxLabel(DsGroup1, label.Link ? kLinkId : 0, Place(label.Place), setup);
    if (!label.Visible) ShowWindow(made, SW_HIDE);
    const std::string name = label.Name;
    if (name == "lbl") lbl = made;
    else if (name == "RxLabel1") RxLabel1 = made;
    else if (name == "RxLabel2") RxLabel2 = made;
    else if (name == "RxLabel3") RxLabel3 = made;
    else if (name == "RxLabel4") RxLabel4 = made;
  }
  btn = CreateFlatButton(DsGroup1, kButtonId, Place(design::btn.Place), design::btn.Caption, font_, true);
  // Created in their tab order, after the button: Tab follows the creation.
  HWND* edits[] = {&ip, &oip, &op};
  for (int i = 0; i < 3; ++i) {
    const design::Edit& edit = design::Edits[i];
    *edits[i] = CreateKsoEdit(DsGroup1, 0, Place(edit.Place), edit.Text, font_);
    SetKsoFlat(*edits[i], true, true);  // loading: the design's styles stay
    TksoBorderState& border = KsoBorderOf(*edits[i]);
    border.BorderStyle = design::EditBorderStyle;
    border.BorderStyleFlat = design::EditBorderStyleFlat;
    border.BorderStyleFocused = design::EditBorderStyleFocused;
  }
}

void TForm1::Show() {
  const int showCmd = FormStorage1->Restore();
  ShowWindow(Handle, showCmd);
  UpdateWindow(Handle);
}

void TForm1::btnClick() {
  if (!Shown(btn)) return;  // started already: the engine runs once
  if (!RunStartCommand(Handle, WindowTextUtf8(ip), WindowTextUtf8(oip), WindowTextUtf8(op))) return;
  if (GetFocus() == btn) SetFocus(ip);
  ShowWindow(btn, SW_HIDE);
  ShowWindow(lbl, SW_SHOW);
}

bool TForm1::Running() const { return !Shown(btn) && Shown(lbl); }

// The engine could not listen and has ended after its notices were closed:
// the window is idle again, so that the user can correct the fields and
// press the button once more.
void TForm1::RelayStartFailed() {
  ShowWindow(lbl, SW_HIDE);
  ShowWindow(btn, SW_SHOW);
}

void TForm1::RxLabel1Click() {
  // The empty operation (not a null one) asks for the default action.
  ShellExecuteW(nullptr, L"", Widen(design::HomePage).c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
}

void TForm1::Close() {
  FormStorage1->SaveAtClose();
  DestroyWindow(Handle);
}

bool TForm1::HandleDialogKey(MSG& message) {
  if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
    if (ModifierDown() || !IsChild(Handle, message.hwnd)) return false;
    if (Shown(btn) && IsWindowEnabled(btn)) btnClick();
    return true;
  }
  if (message.message == WM_CHAR && message.wParam == '\r') return true;  // no beep after Enter
  return IsDialogMessageW(Handle, &message) != FALSE;
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TForm1* form = FormOf(window);
  if (!form) return DefWindowProcW(window, message, wParam, lParam);
  return form->Handle_(message, wParam, lParam);
}

LRESULT TForm1::Handle_(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED) btnClick();
      else if (LOWORD(wParam) == kLinkId && HIWORD(wParam) == STN_CLICKED) RxLabel1Click();
      return 0;
    case WM_ACTIVATE:
      // As a dialog: the focus goes back where it was, first to the button.
      if (LOWORD(wParam) == WA_INACTIVE) {
        lastFocus_ = GetFocus();
      } else {
        HWND target = lastFocus_ && IsChild(Handle, lastFocus_) ? lastFocus_ : GetNextDlgTabItem(Handle, nullptr, FALSE);
        if (target) SetFocus(target);
      }
      return 0;
    case WM_INITMENUPOPUP:
      if (HIWORD(lParam)) {  // the system menu: no size, no maximise
        EnableMenuItem(HMENU(wParam), SC_SIZE, MF_BYCOMMAND | MF_GRAYED);
        EnableMenuItem(HMENU(wParam), SC_MAXIMIZE, MF_BYCOMMAND | MF_GRAYED);
        return 0;
      }
      break;
    case WM_RELAY_START_FAILED:
      RelayStartFailed();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // The session ends: the process goes without a close.
      if (wParam) FormStorage1->SaveAtClose();
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      if (FormStorage1) FormStorage1->SaveAtDestruction();
      Handle = nullptr;
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(Handle, message, wParam, lParam);
}

int RunMessageLoop(TForm1& form) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (form.Handle && form.HandleDialogKey(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return int(message.wParam);
}
