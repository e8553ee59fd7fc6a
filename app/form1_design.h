// The main window's design, shared by the Qt form and the Win32 form:
// caption, client size, and for every control its name, place and size,
// text, font, tab order and styles. Texts are UTF-8. Positions are left,
// top, width and height in the client area of the group panel that fills the
// window. Controls are listed in the order they are created (and stacked).
#pragma once

#include "border_style.h"
#include "canvas.h"

namespace form1_design {

struct Bounds {
  int Left, Top, Width, Height;
};

struct Label {
  const char* Name;
  Bounds Place;
  const char* Caption;
  int FontHeight;  // pixels; 11 is the window's own font
  bool Bold;
  TColor FontColor;
  bool Visible;
  bool Link;  // hand cursor, own clBtnFace colour; a click opens the home page
};

struct Edit {
  const char* Name;  // also names the field's value in users' settings (see StoreKey)
  Bounds Place;
  const char* Text;
  int TabOrder;
};

struct Button {
  const char* Name;
  Bounds Place;
  const char* Caption;
  int TabOrder;
};

inline constexpr char Caption[] = "IP VeloTrunk";
inline constexpr int ClientWidth = 256;
inline constexpr int ClientHeight = 168;
inline constexpr int FontHeight = 11;  // "MS Sans Serif", text height 13
// The design's face, then the faces that come closest where it is missing
// (DejaVu Sans Condensed keeps the two-line captions clear of the fields).
inline constexpr const char* FontFamilies[] = {"MS Sans Serif", "DejaVu Sans Condensed", "DejaVu Sans"};
// The product's home page, the link's text and what it opens.
inline constexpr char HomePage[] = "https://velotrunk.example.com/";

inline constexpr Label lbl{"lbl", {8, 123, 162, 20}, "Velotrunk is active...", 16, true, clGreen, false, false};
inline constexpr Label RxLabel2{"RxLabel2", {8, 16, 82, 13}, "Входящий порт:", 11, false, clWindowText, true, false};
inline constexpr Label RxLabel3{"RxLabel3", {8, 52, 111, 26}, "IP-сервера:\r\n(куда перенаправить)", 11, false,
                                clWindowText, true, false};
inline constexpr Label RxLabel4{"RxLabel4", {8, 88, 111, 26}, "Порт сервера:\r\n(куда перенаправить)", 11, false,
                                clWindowText, true, false};
inline constexpr Label RxLabel1{"RxLabel1", {48, 152, 117, 13}, HomePage, 11, false, clBlue, true, true};
inline constexpr Label Labels[] = {lbl, RxLabel2, RxLabel3, RxLabel4, RxLabel1};

// The default button: Enter in any field clicks it while it is visible.
inline constexpr Button btn{"btn", {168, 120, 75, 25}, "Назначить", 0};

// Every field is flat: etched when idle, the thin sunken line while focused
// or under the mouse.
inline constexpr TksoBorderStyle EditBorderStyle = kbsSunken;
inline constexpr TksoBorderStyle EditBorderStyleFlat = kbsEtched;
inline constexpr TksoBorderStyle EditBorderStyleFocused = kbsOuterSunken;
inline constexpr Edit ip{"ip", {128, 16, 121, 21}, "3128", 1};
inline constexpr Edit oip{"oip", {128, 52, 121, 21}, "192.168.1.1", 2};
inline constexpr Edit op{"op", {128, 88, 121, 21}, "3128", 3};
inline constexpr Edit Edits[] = {ip, oip, op};

// The settings store: HKEY_CURRENT_USER\<StoreKey>\<StoreSection>, with the
// text of every field in Edits under "<Name>_Text" ("ip_Text") beside the
// window's placement. These names are in the users' settings files: renaming
// a field, the key or the section orphans the values stored under the old
// name, and the window starts again from the design's texts.
inline constexpr char StoreKey[] = "Dorwen";
inline constexpr char StoreSection[] = "Velotrunk";

// The start command's box for values it cannot use.
inline constexpr char BadValuesText[] = "Неверно указаны параметры или порт используется!";
inline constexpr char BadValuesCaption[] = "Error";

}  // namespace form1_design
