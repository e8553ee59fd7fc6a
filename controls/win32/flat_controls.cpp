#include "flat_controls.h"

#include <commctrl.h>

#include <memory>

#include "dc_canvas.h"

namespace {

constexpr wchar_t kGroupClass[] = L"TDsGroup";
constexpr wchar_t kLabelClass[] = L"TRxLabel";

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

template <class T>
T* Data(HWND window) {
  return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Keeps the window's data, handed over at creation, and frees it when the
// window goes: true when the message was one of those.
template <class T>
bool KeepData(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    return true;
  }
  if (message == WM_NCDESTROY) {
    delete Data<T>(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return true;
  }
  return false;
}

void SetHandCursor() { SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649))); }  // IDC_HAND

// Answers WM_PAINT: `paint` draws the client area, given its size, on a
// canvas over the paint DC with `font` selected.
template <class Paint>
void PaintWithFont(HWND window, const TFontDesc& font, Paint paint) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT rc;
  GetClientRect(window, &rc);
  {
    TDCCanvas canvas(dc);
    canvas.SelectFontDesc(font);
    paint(canvas, int(rc.right), int(rc.bottom));
  }
  EndPaint(window, &ps);
}

// --- TDsGroup --------------------------------------------------------------

struct GroupData {
  TDsGroupLook look;
  TFontDesc font;
};

void PaintGroup(HWND window, const GroupData& data) {
  PaintWithFont(window, data.font, [&](TDCCanvas& canvas, int width, int height) {
    data.look.Paint(canvas, width, height);
  });
}

LRESULT CALLBACK GroupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (KeepData<GroupData>(window, message, lParam)) return DefWindowProcW(window, message, wParam, lParam);
  auto* data = Data<GroupData>(window);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the paint fills the whole panel
    case WM_PAINT:
      if (data) {
        PaintGroup(window, *data);
        return 0;
      }
      break;
    case WM_COMMAND:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageW(GetParent(window), message, wParam, lParam);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// --- TRxLabel --------------------------------------------------------------

struct LabelData {
  TRxLabelSetup setup;
  std::u16string caption;
  bool leftButtonHeld = false;
  bool mouseOver = false;
  bool leaveTracked = false;
};

TRxLabelLook::Text LabelText(HWND window, const LabelData& data) {
  return {data.caption, data.setup.Font.Color, IsWindowEnabled(window) != FALSE};
}

void AutoSizeLabel(HWND window, const LabelData& data) {
  RECT rc;
  GetWindowRect(window, &rc);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rc), 2);
  HDC screen = GetDC(nullptr);
  TRect bounds;
  {
    TDCCanvas canvas(screen);
    canvas.SelectFontDesc(data.setup.Font);
    bounds = data.setup.Look.AutoSizeBounds(canvas, LabelText(window, data), rc.left, rc.right - rc.left,
                                            rc.bottom - rc.top);
  }
  ReleaseDC(nullptr, screen);
  SetWindowPos(window, nullptr, bounds.Left, rc.top, bounds.Width(), bounds.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
}

void PaintLabel(HWND window, const LabelData& data) {
  PaintWithFont(window, data.setup.Font, [&](TDCCanvas& canvas, int width, int height) {
    data.setup.Look.Paint(canvas, LabelText(window, data), width, height);
  });
}

// The window under the pointer is this one.
bool PointerOver(HWND window) {
  POINT p;
  GetCursorPos(&p);
  return WindowFromPoint(p) == window;
}

// Asks for WM_MOUSELEAVE (one message per request), unless a request is
// still open: at the enter, and again at each recheck that finds the pointer
// over the label, so that a press, a drag out and back and a release (which
// spent the request) do not lose the leave.
void TrackLabelLeave(HWND window, LabelData& data) {
  if (data.leaveTracked) return;
  TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
  data.leaveTracked = TrackMouseEvent(&track) != FALSE;
}

void SetLabelMouseOver(LabelData& data, bool over) {
  data.mouseOver = over;
  if (over && data.setup.OnMouseEnter) data.setup.OnMouseEnter();
  if (!over && data.setup.OnMouseLeave) data.setup.OnMouseLeave();
}

void LabelMouseEntered(HWND window, LabelData& data) {
  if (data.mouseOver || !IsWindowEnabled(window) || !GetActiveWindow()) return;
  TrackLabelLeave(window, data);
  SetLabelMouseOver(data, true);
}

void LabelMouseLeft(LabelData& data) {
  if (!data.mouseOver || data.leftButtonHeld) return;
  SetLabelMouseOver(data, false);
}

// The hover from where the pointer is now, after a button or a change of
// the enabled or visible state: the events follow a change.
void RecheckLabelMouseOver(HWND window, LabelData& data) {
  const bool over = IsWindowEnabled(window) && PointerOver(window) && GetActiveWindow();
  if (over) TrackLabelLeave(window, data);
  if (over != data.mouseOver) SetLabelMouseOver(data, over);
}

LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (KeepData<LabelData>(window, message, lParam)) return DefWindowProcW(window, message, wParam, lParam);
  auto* data = Data<LabelData>(window);
  if (!data) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintLabel(window, *data);
      return 0;
    case WM_SETCURSOR:
      if (data->setup.HandCursor) {
        SetHandCursor();
        return TRUE;
      }
      break;
    case WM_ENABLE:
      // Drawn in its disabled colours, or back in its own.
      InvalidateRect(window, nullptr, FALSE);
      if (!wParam) data->leftButtonHeld = false;
      RecheckLabelMouseOver(window, *data);
      return 0;
    case WM_WINDOWPOSCHANGED:
      if (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW) RecheckLabelMouseOver(window, *data);
      break;
    case WM_LBUTTONDOWN:
      if (IsWindowEnabled(window)) {
        data->leftButtonHeld = true;
        SetCapture(window);
      }
      return 0;
    case WM_LBUTTONUP:
      if (data->leftButtonHeld) {
        data->leftButtonHeld = false;
        ReleaseCapture();
        if (PointerOver(window))
          SendMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), STN_CLICKED), LPARAM(window));
      }
      RecheckLabelMouseOver(window, *data);
      return 0;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      RecheckLabelMouseOver(window, *data);
      return 0;
    case WM_MOUSEMOVE:
      LabelMouseEntered(window, *data);
      return 0;
    case WM_MOUSELEAVE:
      data->leaveTracked = false;
      LabelMouseLeft(*data);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// --- Focus changes -------------------------------------------------------

// Sent to every window of a top-level window when the focus has moved to
// one of its controls (lParam): our focusable controls send it as they take
// the focus, the button answers it.
UINT FocusChangedMessage() {
  static const UINT message = RegisterWindowMessageW(L"Velotrunk.FocusChanged");
  return message;
}

void TellFocusChanged(HWND focused) {
  EnumChildWindows(
      GetAncestor(focused, GA_ROOT),
      [](HWND child, LPARAM focused) {
        SendMessageW(child, FocusChangedMessage(), 0, focused);
        return TRUE;
      },
      LPARAM(focused));
}

// --- TksoEdit --------------------------------------------------------------

struct EditData {
  TksoBorderState state;
  TColor color = clWindow;
  // The area whose leaving Windows will tell: none, the text area
  // (WM_MOUSELEAVE) or the frame (WM_NCMOUSELEAVE).
  enum Area { kNone, kClient, kFrame };
  Area tracked = kNone;
};

void DrawKsoFrame(HWND edit, const EditData& data) {
  RECT rc;
  GetWindowRect(edit, &rc);
  HDC dc = GetWindowDC(edit);
  {
    TDCCanvas canvas(dc);
    PaintKsoFrame(canvas, rc.right - rc.left, rc.bottom - rc.top, data.color, data.state.Current(GetFocus() == edit));
  }
  ReleaseDC(edit, dc);
}

void SetEditMouseOver(HWND edit, EditData& data, bool over) {
  if (data.state.MouseOver == over) return;
  data.state.MouseOver = over;
  if (data.state.Flat) InvalidateKsoFrame(edit);
}

// The pointer is over the control, frame included: the leave of the area it
// is in is tracked.
void EditPointerMoved(HWND edit, EditData& data, EditData::Area area) {
  if (data.tracked != area) {
    TRACKMOUSEEVENT track{sizeof track, DWORD(TME_LEAVE | (area == EditData::kFrame ? TME_NONCLIENT : 0)), edit, 0};
    if (TrackMouseEvent(&track)) data.tracked = area;
  }
  SetEditMouseOver(edit, data, true);
}

constexpr UINT_PTR kEditSubclass = 1;
constexpr wchar_t kEditDataProp[] = L"TksoEdit";
constexpr UINT_PTR kButtonSubclass = 2;

LRESULT CALLBACK EditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  auto* data = reinterpret_cast<EditData*>(ref);
  switch (message) {
    case WM_NCPAINT:
      DefSubclassProc(edit, message, wParam, lParam);
      DrawKsoFrame(edit, *data);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      const LRESULT result = DefSubclassProc(edit, message, wParam, lParam);
      InvalidateKsoFrame(edit);
      if (message == WM_SETFOCUS) TellFocusChanged(edit);
      return result;
    }
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
      EditPointerMoved(edit, *data, message == WM_NCMOUSEMOVE ? EditData::kFrame : EditData::kClient);
      break;
    case WM_MOUSELEAVE:
    case WM_NCMOUSELEAVE:
      data->tracked = EditData::kNone;
      // Between the text area and the frame the pointer is still over it.
      if (!PointerOver(edit)) SetEditMouseOver(edit, *data, false);
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(edit, EditProc, kEditSubclass);
      RemovePropW(edit, kEditDataProp);
      delete data;
      break;
  }
  return DefSubclassProc(edit, message, wParam, lParam);
}

EditData& EditState(HWND edit) { return *static_cast<EditData*>(GetPropW(edit, kEditDataProp)); }

// --- TSEFlatButton ---------------------------------------------------------

bool IsPushButton(HWND window) {
  return window && (SendMessageW(window, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON));
}

struct ButtonData {
  bool isDefault;
  // Drawn as the default button: focused itself, or the default one while
  // the focus is on a control that is not a push button.
  bool active;
};

WPARAM ButtonStyleFor(const ButtonData& data, WPARAM style) {
  return (style & 0xFFFF & ~BS_TYPEMASK) | (data.active ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
}

void ButtonFocusChanged(HWND button, ButtonData& data, HWND focused) {
  data.active = focused == button || (data.isDefault && !IsPushButton(focused));
  const DWORD style = GetWindowLongW(button, GWL_STYLE);
  if ((style & BS_TYPEMASK) != (ButtonStyleFor(data, style) & BS_TYPEMASK))
    SendMessageW(button, BM_SETSTYLE, ButtonStyleFor(data, style), TRUE);
}

LRESULT CALLBACK ButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
  auto* data = reinterpret_cast<ButtonData*>(ref);
  if (message == FocusChangedMessage()) {
    ButtonFocusChanged(button, *data, HWND(lParam));
    return 0;
  }
  switch (message) {
    case WM_SETCURSOR:
      SetHandCursor();
      return TRUE;
    case WM_SETFOCUS: {
      const LRESULT result = DefSubclassProc(button, message, wParam, lParam);
      TellFocusChanged(button);
      return result;
    }
    case BM_SETSTYLE:
      // The default frame follows the button's own state, whoever sets the
      // style: the dialog manager takes it away when Tab moves the focus to
      // a field. The flat style stays.
      return DefSubclassProc(button, message, ButtonStyleFor(*data, wParam | BS_FLAT), lParam);
    case WM_NCDESTROY:
      RemoveWindowSubclass(button, ButtonProc, kButtonSubclass);
      delete data;
      break;
  }
  return DefSubclassProc(button, message, wParam, lParam);
}

HWND CreateChild(const wchar_t* windowClass, DWORD exStyle, DWORD style, HWND parent, int id, TPlace place,
                 const std::string& text, void* param) {
  return CreateWindowExW(exStyle, windowClass, Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style, place.Left,
                         place.Top, place.Width, place.Height, parent, reinterpret_cast<HMENU>(INT_PTR(id)),
                         Instance(), param);
}

}  // namespace

std::string WindowTextUtf8(HWND window) {
  std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), int(text.size())));
  return Narrow(text);
}

void RegisterFlatControlClasses() {
  static const bool registered = [] {
    WNDCLASSW group{};
    group.lpfnWndProc = GroupProc;
    group.hInstance = Instance();
    group.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    group.lpszClassName = kGroupClass;
    RegisterClassW(&group);
    WNDCLASSW label = group;
    label.lpfnWndProc = LabelProc;
    label.lpszClassName = kLabelClass;
    RegisterClassW(&label);
    return true;
  }();
  (void)registered;
}

HWND CreateDsGroup(HWND parent, TPlace place, const TDsGroupLook& look, const TFontDesc& font) {
  RegisterFlatControlClasses();
  return CreateChild(kGroupClass, WS_EX_CONTROLPARENT, WS_CLIPCHILDREN, parent, 0, place, "",
                     new GroupData{look, font});
}

void SetDsGroupEnabled(HWND group, bool enabled) {
  for (HWND child = GetWindow(group, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    EnableWindow(child, enabled);
  EnableWindow(group, enabled);
}

HWND CreateRxLabel(HWND parent, int id, TPlace place, const TRxLabelSetup& setup) {
  RegisterFlatControlClasses();
  auto data = std::make_unique<LabelData>();
  data->setup = setup;
  data->caption = std::u16string(reinterpret_cast<const char16_t*>(Widen(setup.Caption).c_str()));
  LabelData* raw = data.release();
  HWND label = CreateChild(kLabelClass, 0, 0, parent, id, place, setup.Caption, raw);
  if (!label) {
    delete raw;
    return nullptr;
  }
  AutoSizeLabel(label, *raw);
  return label;
}

HWND CreateKsoEdit(HWND parent, int id, TPlace place, const std::string& text, HFONT font) {
  HWND edit = CreateChild(L"EDIT", WS_EX_CLIENTEDGE, WS_TABSTOP | ES_AUTOHSCROLL, parent, id, place, text, nullptr);
  if (!edit) return nullptr;
  SendMessageW(edit, WM_SETFONT, WPARAM(font), FALSE);
  auto* data = new EditData;
  SetPropW(edit, kEditDataProp, data);
  SetWindowSubclass(edit, EditProc, kEditSubclass, DWORD_PTR(data));
  return edit;
}

TksoBorderState& KsoBorderOf(HWND edit) { return EditState(edit).state; }

void SetKsoFlat(HWND edit, bool flat, bool loading) {
  EditState(edit).state.SetFlat(flat, loading);
  if (!loading) InvalidateKsoFrame(edit);
}

void InvalidateKsoFrame(HWND edit) {
  RedrawWindow(edit, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
}

TksoBorderStyle KsoCurrentStyle(HWND edit) { return EditState(edit).state.Current(GetFocus() == edit); }

HWND CreateFlatButton(HWND parent, int id, TPlace place, const std::string& caption, HFONT font, bool isDefault) {
  HWND button = CreateChild(L"BUTTON", 0, WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), parent, id,
                            place, caption, nullptr);
  if (!button) return nullptr;
  SendMessageW(button, WM_SETFONT, WPARAM(font), FALSE);
  // Flat once it has its parent, as the framework's button makes itself.
  SetWindowLongW(button, GWL_STYLE, GetWindowLongW(button, GWL_STYLE) | BS_FLAT);
  SetWindowSubclass(button, ButtonProc, kButtonSubclass, DWORD_PTR(new ButtonData{isDefault, isDefault}));
  return button;
}
