// Reads the values of the settings store's section (the placement and the
// field texts), for the Qt and the Win32 window alike: both restore through
// RestoreFromStore and this reader, and differ only in how they apply what
// it reads to their window. A value of the wrong type reads as missing, so
// that the rest of the restore goes on; the first such error is kept, to be
// told once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "placement_text.h"
#include "reg_ini_file.h"
#include "strtoint.h"

class PlacementReader {
 public:
  // resolutionSuffix: "(1024x768)" for the screen now.
  PlacementReader(TRegIniFile& ini, std::string section, std::string resolutionSuffix)
      : ini_(ini), section_(std::move(section)), suffix_(std::move(resolutionSuffix)) {}

  std::string ReadString(const std::string& name, const std::string& fallback) {
    try {
      return ini_.ReadString(section_, name, fallback);
    } catch (const ERegistryException& error) {
      if (firstError_.empty()) firstError_ = error.what();
      return fallback;
    }
  }
  std::int32_t ReadInteger(const std::string& name, std::int32_t fallback) {
    return win::StrToIntDef(ReadString(name, ""), fallback);
  }
  // A field's stored text, trimmed; `current`, the field's text now, when
  // there is none (or it is not text).
  std::string ReadField(const std::string& name, const std::string& current) {
    return TrimText(ReadString(name, current));
  }
  // The position list under the name with the resolution suffix, else under
  // the plain name; `found` is set when either is non-empty.
  std::vector<std::string> ReadPos(const std::string& name, bool& found) {
    std::string text = ReadString(name + suffix_, "");
    if (text.empty()) text = ReadString(name, "");
    found = found || !text.empty();
    return SplitPos(text);
  }
  // Reads the stored placement over `placement`, the window's own (a
  // WINDOWPLACEMENT, the system's or the platform layer's): the flags, the
  // minimised and maximised positions, the normal rectangle (a word that is
  // missing keeps the window's), in this order. True when it is to be
  // applied: a position was stored, at the screen's pixels per inch, and
  // gives a rectangle of some width. A window that is not sizable keeps its
  // size; only the position is restored.
  template <class Placement>
  bool ReadPlacement(Placement& placement, int pixelsPerInch, bool sizable);
  const std::string& FirstError() const { return firstError_; }

 private:
  TRegIniFile& ini_;
  std::string section_;
  std::string suffix_;
  std::string firstError_;
};

template <class Placement>
bool PlacementReader::ReadPlacement(Placement& placement, int pixelsPerInch, bool sizable) {
  placement.flags = ReadInteger("Flags", int(placement.flags));
  bool found = false;
  const auto minMax = ReadPos("MinMaxPos", found);
  placement.ptMinPosition = {PosWord(minMax, 0, 0), PosWord(minMax, 1, 0)};
  placement.ptMaxPosition = {PosWord(minMax, 2, 0), PosWord(minMax, 3, 0)};
  const auto current = placement.rcNormalPosition;
  const auto normal = ReadPos("NormPos", found);
  auto& rect = placement.rcNormalPosition;
  rect = {PosWord(normal, 0, current.left), PosWord(normal, 1, current.top), PosWord(normal, 2, current.right),
          PosWord(normal, 3, current.bottom)};
  const int storedPixelsPerInch = ReadInteger("PixelsPerInch", pixelsPerInch);
  if (!found || storedPixelsPerInch != pixelsPerInch) return false;
  if (!sizable)
    rect = {rect.left, rect.top, rect.left + current.right - current.left, rect.top + current.bottom - current.top};
  return rect.right > rect.left;
}

// One restore of a form from HKEY_CURRENT_USER\<key>\<section>: when the
// stored form version is at least `version`, `restore` reads the position,
// the state and the fields through the reader it is given. The store is
// closed on return. Returns the first wrong-typed value's error, to be told
// once, after the restore (the next save writes the value again with its
// right type); any other failure is thrown.
std::string RestoreFromStore(const std::string& key, const std::string& section, const std::string& resolutionSuffix,
                             int version, const std::function<void(PlacementReader&)>& restore);
