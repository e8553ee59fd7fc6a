// What the group panel (TDsGroup) is and draws, free of any toolkit: its
// published look properties and the painting of its frame, caption and face
// over a canvas. The hosts (a Qt widget, a Windows window class) keep one
// and call Paint with the panel's font selected into the canvas.
#pragma once

#include <cstdint>
#include <string>

#include "canvas.h"

enum TCapAlignment : std::uint8_t { caLeft, caCenter, caRight };
enum TTextStyle : std::uint8_t { txNone, txLowered, txRaised, txShadowed };

struct TDsGroupLook {
  TCapAlignment CapAlignment = caLeft;
  TColor Color_High = clBtnHighlight;
  TColor Color_Low = clBtnShadow;
  int CornerRadius = 3;
  TColor FaceColor = clNone;  // clNone: no face
  TTextStyle TextStyle = txRaised;
  std::u16string Caption;
  bool Ctl3D = true;
  TColor Color = clBtnFace;       // the background
  TColor FontColor = clWindowText;  // the caption's colour

  // A radius as the setter keeps it: 0 to 12, or 16 for anything above 12.
  static int ClampCornerRadius(int value) { return value < 0 ? 0 : value > 12 ? 16 : value; }

  // Fills (0, 0, width, height) with Color and paints frame, face and caption.
  void Paint(TCustomCanvas& canvas, int width, int height) const;
  // Where children that fill or align within the panel go: below the
  // caption line and inside the frame.
  TRect AlignedChildrenRect(TCustomCanvas& canvas, int width, int height) const;

 private:
  void PaintFrame(TCustomCanvas& canvas, int width, int height, int h) const;
  void PaintFace(TCustomCanvas& canvas, int width, int height, int h) const;
  void PaintCaption(TCustomCanvas& canvas, const TRect& captionRect) const;
  int CaptionLeft(int width, int captionWidth) const;
};
