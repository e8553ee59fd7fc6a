// Writes a window's placement into the settings store's section, for the Qt
// and the Win32 window alike, under the names PlacementReader reads: both
// windows keep the same values, and each can read what the other wrote.
// The names are in users' settings files: a name changed here orphans the
// value stored under the old one.
#pragma once

#include <string>

#include "placement_text.h"
#include "reg_ini_file.h"

// Placement: a WINDOWPLACEMENT, the system's or the platform layer's.
template <class Placement>
void WritePlacement(TRegIniFile& ini, const std::string& section, const std::string& resolutionSuffix,
                    const Placement& placement, int pixelsPerInch) {
  const auto& r = placement.rcNormalPosition;
  const std::string minMax = FormatPos(placement.ptMinPosition.x, placement.ptMinPosition.y,
                                       placement.ptMaxPosition.x, placement.ptMaxPosition.y);
  const std::string normal = FormatPos(r.left, r.top, r.right, r.bottom);
  ini.WriteInteger(section, "Flags", int(placement.flags));
  ini.WriteInteger(section, "ShowCmd", int(placement.showCmd));
  ini.WriteInteger(section, "PixelsPerInch", pixelsPerInch);
  ini.WriteString(section, "MinMaxPos" + resolutionSuffix, minMax);
  ini.WriteString(section, "MinMaxPos", minMax);
  ini.WriteString(section, "NormPos" + resolutionSuffix, normal);
  ini.WriteString(section, "NormPos", normal);
}
