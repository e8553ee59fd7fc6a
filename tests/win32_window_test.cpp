// The Win32 window under Wine, in a real X server (wine_display.sh): its
// settings in Wine's registry, its start command, its fields' frames and its
// keys.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "flat_controls.h"
#include "form1_win32.h"
#include "loopback.h"
#include "notices.h"
#include "roundtrip.h"
#include "start_command.h"

namespace {

constexpr char kSection[] = "Dorwen\\Velotrunk";

void ClearStore() { RegDeleteTreeA(HKEY_CURRENT_USER, "Dorwen"); }

struct Value {
  DWORD type;
  std::string text;
};

// The stored values as Windows holds them (UTF-16), in UTF-8.
std::map<std::string, Value> StoredValues() {
  std::map<std::string, Value> values;
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Dorwen\\Velotrunk", 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256], data[256];
    DWORD nameSize = 256, dataSize = sizeof data, type = 0;
    if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize) !=
        ERROR_SUCCESS)
      break;
    const size_t chars = dataSize / sizeof(wchar_t);
    values[Narrow(name)] = {type, Narrow(std::wstring(data, chars && !data[chars - 1] ? chars - 1 : chars))};
  }
  RegCloseKey(key);
  return values;
}

void SetDword(const char* name, DWORD value) {
  HKEY key;
  RegCreateKeyExA(HKEY_CURRENT_USER, kSection, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

RECT WindowRect(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  return r;
}

// Lets the window handle what is queued (paint, posted messages).
void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Records message boxes instead of showing them.
struct BoxRecorder {
  struct Box {
    std::string text, caption;
    UINT type;
  };
  std::vector<Box> boxes;
  BoxRecorder() {
    win::SetMessageBoxHandler([this](HWND, const std::string& text, const std::string& caption, UINT type) {
      boxes.push_back({text, caption, type});
      return 1;
    });
  }
  ~BoxRecorder() { win::SetMessageBoxHandler(nullptr); }
};

bool PressKey(TForm1& form, HWND target, WPARAM key) {
  MSG message{};
  message.hwnd = target;
  message.message = WM_KEYDOWN;
  message.wParam = key;
  message.lParam = 1;
  return form.HandleDialogKey(message);
}

class Win32Window : public testing::Test {
 protected:
  void SetUp() override {
    ClearStore();
    Pump();  // the quit an earlier test's window posted would end a box at once
  }
  void TearDown() override { ClearStore(); }
};

TEST_F(Win32Window, FirstRunIsCentredAndTheNextRunRestoresFieldsAndPlace) {
  struct FieldCase {
    HWND TForm1::*window;
    const wchar_t* typed;
    const char* name;
    const char* stored;
  };
  const FieldCase fields[] = {
      {&TForm1::ip, L"  4000 ", "ip_Text", "4000"},                   // stored without blanks
      {&TForm1::oip, L"сервер №1 ü", "oip_Text", "сервер №1 ü"},  // not ASCII: UTF-16 in the registry
      {&TForm1::op, L"", "op_Text", ""},                               // an emptied field comes back empty
  };
  RECT moved;
  {
    TForm1 form;
    form.Show();
    Pump();
    const RECT r = WindowRect(form.Handle);
    EXPECT_NEAR((r.left + r.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    RECT client;
    GetClientRect(form.Handle, &client);
    EXPECT_EQ(client.right, 256);
    EXPECT_EQ(client.bottom, 168);
    EXPECT_TRUE(StoredValues().empty()) << "opening writes nothing";

    for (const FieldCase& field : fields) SetWindowTextW(form.*field.window, field.typed);
    SetWindowPos(form.Handle, nullptr, 100, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    moved = WindowRect(form.Handle);
    SendMessageW(form.Handle, WM_CLOSE, 0, 0);
    EXPECT_EQ(form.Handle, nullptr);
  }
  const auto values = StoredValues();
  const char* names[] = {"FormVersion", "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos", "NormPos",
                         "Visible", "ip_Text", "oip_Text", "op_Text"};
  EXPECT_EQ(values.size(), 12u);
  for (const char* name : names) {
    ASSERT_TRUE(values.count(name)) << name;
    EXPECT_EQ(values.at(name).type, DWORD(REG_SZ)) << name;
  }
  EXPECT_EQ(values.at("FormVersion").text, "0");
  EXPECT_EQ(values.at("Visible").text, "0");
  EXPECT_EQ(values.at("ShowCmd").text, "1");
  for (const FieldCase& field : fields) EXPECT_EQ(values.at(field.name).text, field.stored) << field.name;

  TForm1 again;
  again.Show();
  Pump();
  for (const FieldCase& field : fields) EXPECT_EQ(WindowTextUtf8(again.*field.window), field.stored) << field.name;
  const RECT r = WindowRect(again.Handle);
  EXPECT_EQ(r.left, moved.left);
  EXPECT_EQ(r.top, moved.top);
  EXPECT_EQ(r.right - r.left, moved.right - moved.left);
}

TEST_F(Win32Window, AValueOfTheWrongTypeIsToldOnceAndWrittenBackRight) {
  struct Case {
    std::vector<const char*> wrong;
    std::string told;
  };
  const Case cases[] = {
      {{"Flags"}, "Invalid data type for 'Flags'"},
      {{"ip_Text"}, "Invalid data type for 'ip_Text'"},
      {{"ip_Text", "Flags"}, "Invalid data type for 'Flags'"},  // the first read is told
      {{"PixelsPerInch"}, "Invalid data type for 'PixelsPerInch'"},  // read with no position stored too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.told);
    ClearStore();
    for (const char* name : c.wrong) SetDword(name, 7);
    TForm1 form;
    std::vector<std::string> errors;
    form.FormStorage1->OnError = [&](const std::string& message) { errors.push_back(message); };
    form.Show();
    EXPECT_EQ(WindowTextUtf8(form.ip), "3128") << "the field keeps its text";
    EXPECT_EQ(errors, std::vector<std::string>{c.told});
    form.FormStorage1->SaveAtClose();
    for (const char* name : c.wrong) EXPECT_EQ(StoredValues().at(name).type, DWORD(REG_SZ)) << name;
    EXPECT_EQ(StoredValues().at("ip_Text").text, "3128");
  }
}

TEST_F(Win32Window, TheEndOfTheSessionSaves) {
  TForm1 form;
  form.Show();
  SetWindowTextW(form.oip, L"127.0.0.2");
  SendMessageW(form.Handle, WM_QUERYENDSESSION, 0, 0);
  SendMessageW(form.Handle, WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(StoredValues().at("oip_Text").text, "127.0.0.2");
}

TEST_F(Win32Window, ValuesTheRelayCannotUseShowTheErrorBoxAndKeepTheWindowIdle) {
  struct Case {
    const wchar_t *listen, *address, *server;
  };
  const Case cases[] = {
      {L"70000", L"127.0.0.1", L"80"},      // port out of range
      {L"3128 ", L"127.0.0.1", L"80"},      // trailing blank
      {L"3128", L"127.0.0.1", L""},         // empty server port
      {L"3128", L"localhost", L"80"},       // not an IPv4 address
      {L"3128", L"127.0.0.1", L"0x10000"},  // hexadecimal, out of range
      {L"5000", L"127.0.0.1", L"5000"},     // the relay's own port
  };
  TForm1 form;
  form.Show();
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.listen) + " " + Narrow(c.address) + " " + Narrow(c.server));
    BoxRecorder recorder;
    SetWindowTextW(form.ip, c.listen);
    SetWindowTextW(form.oip, c.address);
    SetWindowTextW(form.op, c.server);
    form.btnClick();
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, "Неверно указаны параметры или порт используется!");
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
    EXPECT_EQ(recorder.boxes[0].type, UINT(win::MB_ICONERROR));
    EXPECT_FALSE(form.Running());
  }
}

// What the system's box of the start command shows, read from a timer while
// it is open (its modal loop runs the timer), then closed.
struct OpenBox {
  std::wstring text, caption;
  HWND owner = nullptr;
  bool ownerEnabled = true;
};
OpenBox seenBox;

void CALLBACK ReadAndCloseTheBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowW(L"#32770", nullptr);
  if (!box) return;
  wchar_t text[256] = {}, caption[64] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 256);  // the box's text control
  GetWindowTextW(box, caption, 64);
  seenBox = {text, caption, GetWindow(box, GW_OWNER), IsWindowEnabled(GetWindow(box, GW_OWNER)) != FALSE};
  KillTimer(nullptr, timer);
  PostMessageW(box, WM_COMMAND, win::IDOK, 0);
}

TEST_F(Win32Window, TheErrorBoxReadsInRussianAndIsModalToTheWindow) {
  TForm1 form;
  form.Show();
  SetWindowTextW(form.ip, L"0");
  seenBox = {};
  SetTimer(nullptr, 0, 50, ReadAndCloseTheBox);
  form.btnClick();
  EXPECT_EQ(seenBox.text, L"Неверно указаны параметры или порт используется!");
  EXPECT_EQ(seenBox.caption, L"Error");
  EXPECT_EQ(seenBox.owner, form.Handle);
  EXPECT_FALSE(seenBox.ownerEnabled) << "the window takes no click while the box is open";
  EXPECT_TRUE(IsWindowEnabled(form.Handle));
  EXPECT_FALSE(form.Running());
}

TEST_F(Win32Window, EnterInAFieldStartsTheRelayWhichCarriesALoopbackConnection) {
  loopback::TestServer server(loopback::TestServer::kEcho);
  const int port = loopback::FreePort();
  TForm1 form;
  form.Show();
  SetWindowTextW(form.ip, std::to_wstring(port).c_str());
  SetWindowTextW(form.oip, L"127.0.0.1");
  SetWindowTextW(form.op, std::to_wstring(server.port()).c_str());
  SetFocus(form.oip);
  EXPECT_TRUE(PressKey(form, form.oip, VK_RETURN));
  EXPECT_TRUE(form.Running());
  EXPECT_FALSE(IsWindowVisible(form.btn));
  EXPECT_TRUE(loopback::WaitUntil([&] { return RoundTrip(port, "through the relay") == "through the relay"; }));
  // After the start Enter does nothing more.
  BoxRecorder recorder;
  EXPECT_TRUE(PressKey(form, form.ip, VK_RETURN));
  EXPECT_TRUE(recorder.boxes.empty());
  StopStartedRelay();
}

TEST_F(Win32Window, TabRunsThroughButtonAndFieldsInTheirOrder) {
  TForm1 form;
  form.Show();
  SetForegroundWindow(form.Handle);
  SetFocus(form.btn);
  const auto buttonType = [](HWND button) { return GetWindowLongW(button, GWL_STYLE) & (BS_TYPEMASK | BS_FLAT); };
  std::vector<HWND> order;
  for (int i = 0; i < 4; ++i) {
    PressKey(form, GetFocus(), VK_TAB);
    order.push_back(GetFocus());
    EXPECT_EQ(buttonType(form.btn), BS_DEFPUSHBUTTON | BS_FLAT) << "the default frame stays, " << i;
  }
  EXPECT_EQ(order, (std::vector<HWND>{form.ip, form.oip, form.op, form.btn}));
  // Another push button with the focus takes the frame while it has it.
  HWND other = CreateFlatButton(form.DsGroup1, 998, {8, 150, 30, 15}, "x", nullptr, false);
  SetFocus(other);
  EXPECT_EQ(buttonType(form.btn), BS_PUSHBUTTON | BS_FLAT);
  EXPECT_EQ(buttonType(other), BS_DEFPUSHBUTTON | BS_FLAT);
  SetFocus(form.op);
  EXPECT_EQ(buttonType(form.btn), BS_DEFPUSHBUTTON | BS_FLAT);
  EXPECT_EQ(buttonType(other), BS_PUSHBUTTON | BS_FLAT);
}

TEST_F(Win32Window, FieldFramesFollowFocusAndHover) {
  TForm1 form;
  form.Show();
  SetForegroundWindow(form.Handle);
  SetCursorPos(0, 0);  // the pointer is elsewhere when a leave comes
  SetFocus(form.btn);
  EXPECT_EQ(KsoCurrentStyle(form.ip), kbsEtched);
  // The two-pixel frame counts as over the field; so does the text area
  // when the pointer goes from the frame into it.
  SendMessageW(form.ip, WM_NCMOUSEMOVE, HTBORDER, 0);
  EXPECT_EQ(KsoCurrentStyle(form.ip), kbsOuterSunken) << "on the frame";
  RECT field = WindowRect(form.ip);
  SetCursorPos((field.left + field.right) / 2, (field.top + field.bottom) / 2);
  SendMessageW(form.ip, WM_NCMOUSELEAVE, 0, 0);
  EXPECT_EQ(KsoCurrentStyle(form.ip), kbsOuterSunken) << "from the frame into the text area";
  SetCursorPos(0, 0);
  SendMessageW(form.ip, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(KsoCurrentStyle(form.ip), kbsEtched) << "gone";
  SetFocus(form.ip);
  EXPECT_EQ(KsoCurrentStyle(form.ip), kbsOuterSunken);
  SendMessageW(form.oip, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(KsoCurrentStyle(form.oip), kbsOuterSunken) << "hovered";
  SetFocus(form.op);
  EXPECT_EQ(KsoCurrentStyle(form.ip), kbsEtched);
  SendMessageW(form.oip, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(KsoCurrentStyle(form.oip), kbsEtched);
  // Flat set at run time puts back the initial styles.
  SetKsoFlat(form.oip, true, false);
  EXPECT_EQ(KsoCurrentStyle(form.oip), kbsSolid);
  KsoBorderOf(form.oip).Flat = false;
  SendMessageW(form.oip, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(KsoCurrentStyle(form.oip), kbsSunken) << "not flat: hover changes nothing";
}

TEST_F(Win32Window, ALabelTellsWhenThePointerComesAndGoesButNotWhileItsButtonIsHeld) {
  TForm1 form;
  form.Show();
  SetForegroundWindow(form.Handle);
  SetActiveWindow(form.Handle);
  ASSERT_NE(GetActiveWindow(), nullptr);
  std::string events;
  TRxLabelSetup setup;
  setup.Caption = "label";
  setup.OnMouseEnter = [&] { events += "enter "; };
  setup.OnMouseLeave = [&] { events += "leave "; };
  HWND label = CreateRxLabel(form.DsGroup1, 999, {200, 2, 40, 13}, setup);
  ASSERT_NE(label, nullptr);
  SendMessageW(label, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
  SendMessageW(label, WM_MOUSEMOVE, 0, MAKELPARAM(3, 2));
  SendMessageW(label, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(events, "enter leave ");
  events.clear();
  SendMessageW(label, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
  SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(label, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(events, "enter ") << "held: the hover goes on";
  SetCursorPos(0, 0);  // the release comes elsewhere
  SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(events, "enter leave ");
  events.clear();
  EnableWindow(label, FALSE);
  SendMessageW(label, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(events, "") << "a disabled label takes no hover";

  // An enabled state that changes under the pointer is told, and repaints.
  POINT centre{10, 6};
  ClientToScreen(label, &centre);
  SetCursorPos(centre.x, centre.y);
  ValidateRect(label, nullptr);
  EnableWindow(label, TRUE);
  EXPECT_TRUE(GetUpdateRect(label, nullptr, FALSE)) << "drawn again in its own colours";
  EnableWindow(label, FALSE);
  EXPECT_EQ(events, "enter leave ");

  // Pressed, dragged out (the system's one leave message spent) and back,
  // released: the pointer going away later is still told.
  events.clear();
  EnableWindow(label, TRUE);
  SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  TRACKMOUSEEVENT spent{sizeof spent, TME_CANCEL | TME_LEAVE, label, 0};
  TrackMouseEvent(&spent);
  SendMessageW(label, WM_MOUSELEAVE, 0, 0);
  SendMessageW(label, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(events, "enter ");
  SetCursorPos(0, 0);
  EXPECT_TRUE(loopback::WaitUntil([&] {
    Pump();
    return events == "enter leave ";
  })) << events;
}

TEST_F(Win32Window, ThePanelPassesItsEnabledStateToEveryChild) {
  TForm1 form;
  EnableWindow(form.oip, FALSE);
  SetDsGroupEnabled(form.DsGroup1, false);
  for (HWND child : {form.lbl, form.btn, form.ip, form.oip, form.op, form.RxLabel1}) EXPECT_FALSE(IsWindowEnabled(child));
  SetDsGroupEnabled(form.DsGroup1, true);
  for (HWND child : {form.lbl, form.btn, form.ip, form.oip, form.op, form.RxLabel1}) EXPECT_TRUE(IsWindowEnabled(child));
}

}  // namespace
