// The twelve frame styles of the flat controls and the routine that paints
// them. The enumeration lives in a meta-object namespace so that properties
// of this type can be read and written by name ("kbsEtched").
#pragma once

#include <QObject>

#include "gdi_canvas.h"

namespace KsoBorder {
Q_NAMESPACE

enum TksoBorderStyle : quint8 {
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
Q_ENUM_NS(TksoBorderStyle)

}  // namespace KsoBorder

using KsoBorder::TksoBorderStyle;
using enum KsoBorder::TksoBorderStyle;

// Paints style along the inside of rect. The rectangle is not changed. The
// pen and brush are left as the routine set them. kbsSolid, kbsOuterRaised and
// kbsOuterSunken draw outlines with whatever brush is selected: the caller
// sets a clear brush, or the inside is filled.
void DrawBorder(TCanvas& canvas, const TRect& rect, TksoBorderStyle style);
