#include "tform.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

TForm::TForm(QWidget* parent) : QWidget(parent, Qt::Window) {}

void TForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (placed_ || event->spontaneous()) return;
  placed_ = true;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen || (position_ != poScreenCenter && position_ != poDesktopCenter)) return;
  QRect area = position_ == poDesktopCenter ? screen->virtualGeometry() : screen->geometry();
  move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
}
