#include "window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace {

QRect PrimaryScreenRect(bool available) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return QRect(0, 0, 0, 0);
  return available ? screen->availableGeometry() : screen->geometry();
}

// The frame's extra size beyond the client area, once the window has a frame.
QSize FrameExtra(const QWidget* window) {
  return window->frameGeometry().size() - window->geometry().size();
}

QRect NormalFrameRect(const QWidget* window) {
  if (!(window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) return window->frameGeometry();
  QRect normal = window->normalGeometry();
  QPoint frameOffset = window->geometry().topLeft() - window->frameGeometry().topLeft();
  return QRect(normal.topLeft() - frameOffset, normal.size() + FrameExtra(window));
}

QRect KeptOnScreen(QRect rect) {
  for (QScreen* screen : QGuiApplication::screens())
    if (screen->availableGeometry().intersects(rect)) return rect;
  rect.moveTopLeft(PrimaryScreenRect(true).topLeft());
  return rect;
}

}  // namespace

namespace win {

BOOL GetWindowPlacement(QWidget* window, WINDOWPLACEMENT* placement) {
  if (!window || !placement) return FALSE;
  Qt::WindowStates state = window->windowState();
  placement->length = sizeof(WINDOWPLACEMENT);
  placement->flags = (state & Qt::WindowMinimized) && (state & Qt::WindowMaximized) ? WPF_RESTORETOMAXIMIZED : 0;
  placement->showCmd = (state & Qt::WindowMinimized)   ? SW_SHOWMINIMIZED
                       : (state & Qt::WindowMaximized) ? SW_SHOWMAXIMIZED
                                                       : SW_SHOWNORMAL;
  placement->ptMinPosition = {-1, -1};
  placement->ptMaxPosition = {-1, -1};
  QRect normal = NormalFrameRect(window);
  placement->rcNormalPosition = {normal.left(), normal.top(), normal.left() + normal.width(),
                                 normal.top() + normal.height()};
  return TRUE;
}

BOOL SetWindowPlacement(QWidget* window, const WINDOWPLACEMENT* placement) {
  if (!window || !placement) return FALSE;
  const RECT& r = placement->rcNormalPosition;
  QRect frame = KeptOnScreen(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
  if (IsSizable(window)) window->resize(frame.size() - FrameExtra(window));
  MoveFrameTo(window, frame.topLeft());
  switch (placement->showCmd) {
    case SW_HIDE: break;
    case SW_SHOWMINIMIZED: window->showMinimized(); break;
    case SW_SHOWMAXIMIZED: window->showMaximized(); break;
    default: window->showNormal(); break;
  }
  return TRUE;
}

int GetSystemMetrics(int index) {
  QRect screen = PrimaryScreenRect(false);
  switch (index) {
    case SM_CXSCREEN: return screen.width();
    case SM_CYSCREEN: return screen.height();
    default: return 0;
  }
}

}  // namespace win

void MoveFrameTo(QWidget* window, QPoint topLeft) {
  if (QWindow* native = window->windowHandle())
    native->setFramePosition(topLeft);
  else
    window->move(topLeft);
}

int ScreenPixelsPerInch() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? qRound(screen->logicalDotsPerInch()) : 96;
}

bool IsSizable(const QWidget* window) {
  return window->minimumSize() != window->maximumSize();
}
