#include "tform.h"

#include <QGuiApplication>
#include <QScreen>

#include "window_placement.h"

TForm::TForm(QWidget* parent) : QWidget(parent, Qt::Window) {}

QEvent::Type TForm::FormShowEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void TForm::setVisible(bool visible) {
  if (visible && !placed_) {
    placed_ = true;
    QEvent formShow(FormShowEvent());
    QCoreApplication::sendEvent(this, &formShow);
    if (Centred()) {
      Centre();
      centreWhenFramed_ = true;
    }
  }
  QWidget::setVisible(visible);
}

// Centres the frame on the screen (or the desktop).
void TForm::Centre() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect area = position_ == poDesktopCenter ? screen->virtualGeometry() : screen->geometry();
  QRect frame = frameGeometry();
  MoveFrameTo(this, {area.left() + (area.width() - frame.width()) / 2, area.top() + (area.height() - frame.height()) / 2});
}

void TForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (centreWhenFramed_ && Centred() && frameGeometry().size() != size()) {
    centreWhenFramed_ = false;
    Centre();
  }
}
