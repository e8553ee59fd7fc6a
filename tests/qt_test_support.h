// Shared pieces for widget tests: a main that creates the QApplication
// (qt_test_main.cpp), a palette whose colours are all distinct so a pixel
// tells which system colour painted it, the window's font, and helpers to
// render a widget and look at its pixels.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPalette>
#include <QRect>

class QWidget;

namespace qt_test {

// Installs a palette with a distinct colour for every role the controls use
// and returns it. Tests take their expected colours from it.
QPalette UseDistinctPalette();

// The window's font: DejaVu Sans, 11 pixels (text height 13).
QFont WindowFont();
// The same face at pixel size px, optionally bold.
QFont Font(int px, bool bold = false);

// Renders widget (and its children) as it would appear on screen.
QImage Render(QWidget* widget);

// The colour at (x, y), without alpha.
QColor At(const QImage& image, int x, int y);

// The smallest rectangle holding every pixel of the given colour inside area
// (the whole image when area is null); null when there is none.
QRect BoundsOf(const QImage& image, const QColor& color, QRect area = {});

// Shows window and waits until it is the active window; false on time-out.
bool ShowActive(QWidget* window);

}  // namespace qt_test
