#include "qt_test_support.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

namespace qt_test {

QPalette UseDistinctPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(200, 200, 190));
  p.setColor(QPalette::Button, QColor(212, 208, 200));     // clBtnFace
  p.setColor(QPalette::Dark, QColor(128, 128, 128));       // clBtnShadow
  p.setColor(QPalette::Light, QColor(255, 255, 255));      // clBtnHighlight
  p.setColor(QPalette::Midlight, QColor(230, 226, 218));   // cl3DLight
  p.setColor(QPalette::Shadow, QColor(64, 64, 64));        // cl3DDkShadow
  p.setColor(QPalette::Base, QColor(250, 250, 240));       // clWindow
  p.setColor(QPalette::WindowText, QColor(0, 0, 0));       // clWindowText, clWindowFrame
  p.setColor(QPalette::ButtonText, QColor(0, 0, 16));      // clBtnText
  p.setColor(QPalette::Text, QColor(0, 0, 0));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(150, 140, 130));  // clGrayText
  QApplication::setPalette(p);
  return p;
}

QFont Font(int px, bool bold) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(px);
  font.setBold(bold);
  return font;
}

QFont WindowFont() { return Font(11); }

QImage Render(QWidget* widget) {
  return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QColor At(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)).toRgb(); }

QRect BoundsOf(const QImage& image, const QColor& color, QRect area) {
  if (area.isNull()) area = image.rect();
  area &= image.rect();
  QRect bounds;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (QColor(image.pixel(x, y)).rgb() == color.rgb()) bounds |= QRect(x, y, 1, 1);
  return bounds;
}

bool ShowActive(QWidget* window) {
  window->show();
  window->activateWindow();
  return QTest::qWaitForWindowActive(window, 30000);
}

}  // namespace qt_test
