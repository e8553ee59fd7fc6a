// The flat controls as Windows windows, painted by the shared look code over
// the real GDI:
//   - TDsGroup, a window class: the group panel. It passes WM_COMMAND and
//     the WM_CTLCOLOR messages of its children on to its parent, and is a
//     control parent, so that Tab moves through its children;
//   - TRxLabel, a window class: the shadowed label, sized to its text, drawn
//     again when it is enabled or disabled; a left button pressed and
//     released on it sends WM_COMMAND (its id, STN_CLICKED) to its parent;
//     OnMouseEnter runs when the pointer comes onto the enabled label while
//     a window of its thread is active, OnMouseLeave when it leaves, except
//     while the left button pressed on the label is held; the hover is
//     checked again after a button's release, the right button, and a
//     change of the enabled or shown state;
//   - TksoEdit: the system's single-line EDIT with a two-pixel client edge,
//     whose frame (the non-client area) the flat border code paints; the
//     pointer on that frame counts as over the edit;
//   - TSEFlatButton: the system's push button with BS_FLAT. On every focus
//     change in its window it is drawn as the default button (its frame)
//     while it has the focus, or, being the default one, while the focus is
//     on a control that is not a push button.
// The edit, the button and a label with a hand cursor show the hand while the
// mouse is over them. Each window keeps its own state and frees it when it
// is destroyed. Text is UTF-8 in and out.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "border_style.h"
#include "canvas.h"
#include "ds_group_look.h"
#include "rx_label_look.h"
#include "utf16.h"

// Registers the window classes (once per process).
void RegisterFlatControlClasses();

struct TPlace {
  int Left, Top, Width, Height;
};

// A window's text, UTF-8.
std::string WindowTextUtf8(HWND window);

HWND CreateDsGroup(HWND parent, TPlace place, const TDsGroupLook& look, const TFontDesc& font);
// Sets the enabled state of every child, first to last, then the panel's own.
void SetDsGroupEnabled(HWND group, bool enabled);

struct TRxLabelSetup {
  std::string Caption;
  TFontDesc Font;
  TRxLabelLook Look;
  bool HandCursor = false;
  std::function<void()> OnMouseEnter, OnMouseLeave;
};
HWND CreateRxLabel(HWND parent, int id, TPlace place, const TRxLabelSetup& setup);

HWND CreateKsoEdit(HWND parent, int id, TPlace place, const std::string& text, HFONT font);
// The edit's border state; after changing it, InvalidateKsoFrame repaints.
TksoBorderState& KsoBorderOf(HWND edit);
void SetKsoFlat(HWND edit, bool flat, bool loading);
// Repaints the whole control, frame included, before returning.
void InvalidateKsoFrame(HWND edit);
// The style the frame shows now.
TksoBorderStyle KsoCurrentStyle(HWND edit);

HWND CreateFlatButton(HWND parent, int id, TPlace place, const std::string& caption, HFONT font, bool isDefault);
