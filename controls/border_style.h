// The twelve frame styles of the flat controls and the routine that paints
// them. Built with Qt, the enumeration lives in a meta-object namespace so
// that properties of this type can be read and written by name ("kbsEtched").
#pragma once

#include <cstdint>

#include "canvas.h"

#ifdef QT_CORE_LIB
#include <QObject>
#endif

namespace KsoBorder {
#ifdef QT_CORE_LIB
Q_NAMESPACE
#endif

enum TksoBorderStyle : std::uint8_t {
  kbsNone,
  kbsFlat,
  kbsSingle,
  kbsSolid,
  kbsEtched,
  kbsBump,
  kbsSunken,
  kbsRaised,
  kbsDown,
  kbsUp,
  kbsOuterRaised,
  kbsOuterSunken,
};
#ifdef QT_CORE_LIB
Q_ENUM_NS(TksoBorderStyle)
#endif

}  // namespace KsoBorder

using KsoBorder::TksoBorderStyle;
using enum KsoBorder::TksoBorderStyle;

// Paints style along the inside of rect. The rectangle is not changed. The
// pen and brush are left as the routine set them. kbsSolid, kbsOuterRaised and
// kbsOuterSunken draw outlines with whatever brush is selected: the caller
// sets a clear brush, or the inside is filled.
void DrawBorder(TCustomCanvas& canvas, const TRect& rect, TksoBorderStyle style);

// The state that decides which style a flat control's frame shows, and the
// rules of its setters; the hosts (a Qt widget, a Windows edit) keep one.
struct TksoBorderState {
  TksoBorderStyle BorderStyle = kbsSunken;
  TksoBorderStyle BorderStyleFlat = kbsSolid;
  TksoBorderStyle BorderStyleFocused = kbsOuterSunken;
  bool Flat = false;
  bool MouseOver = false;

  // The style the frame shows, for a control that has the focus or not.
  TksoBorderStyle Current(bool focused) const {
    if (!Flat) return BorderStyle;
    if (focused || MouseOver) return BorderStyleFocused;
    return BorderStyleFlat;
  }
  // Setting Flat outside loading puts back the three initial styles.
  void SetFlat(bool value, bool loading) {
    Flat = value;
    if (loading) return;
    BorderStyle = kbsSunken;
    BorderStyleFlat = kbsSolid;
    BorderStyleFocused = kbsOuterSunken;
  }
};

// Paints a flat control's frame along the inside of (0, 0, width, height):
// the two-pixel frame is wiped with color, then style is drawn over it.
void PaintKsoFrame(TCustomCanvas& canvas, int width, int height, TColor color, TksoBorderStyle style);
