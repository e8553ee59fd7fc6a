// The window-placement calls on Qt: a window's normal rectangle is its frame
// rectangle in its normal state (screen coordinates, right and bottom
// exclusive), its show command follows its window state, and the screen
// metrics come from the primary screen.
#pragma once

#include "messages.h"  // POINT and SW_HIDE, shared with the message queue

class QPoint;
class QWidget;

namespace win {

struct RECT {
  int left;
  int top;
  int right;
  int bottom;
};

struct WINDOWPLACEMENT {
  UINT length;
  UINT flags;
  UINT showCmd;
  POINT ptMinPosition;
  POINT ptMaxPosition;
  RECT rcNormalPosition;
};

constexpr UINT SW_SHOWNORMAL = 1;
constexpr UINT SW_SHOWMINIMIZED = 2;
constexpr UINT SW_SHOWMAXIMIZED = 3;
constexpr UINT WPF_RESTORETOMAXIMIZED = 2;
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

// Qt keeps no minimised or maximised positions: both read back as -1, -1.
BOOL GetWindowPlacement(QWidget* window, WINDOWPLACEMENT* placement);
// Moves (and, for a resizable window, sizes) the window to the normal
// rectangle, first brought back onto a screen when it lies wholly off all of
// them, then shows it by the show command (SW_HIDE leaves it as it is).
BOOL SetWindowPlacement(QWidget* window, const WINDOWPLACEMENT* placement);
int GetSystemMetrics(int index);

}  // namespace win

// Moves a top-level window so that its frame's top-left corner is at
// `topLeft`. Before the window has a native window, QWidget::move places the
// frame (the window manager is asked so); afterwards the native window is
// moved by its frame position.
void MoveFrameTo(QWidget* window, QPoint topLeft);
// The primary screen's logical pixels per inch.
int ScreenPixelsPerInch();
// A window whose size the user may change.
bool IsSizable(const QWidget* window);
