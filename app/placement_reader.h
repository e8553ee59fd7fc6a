// Reads the values of the settings store's section (the placement and the
// field texts), for the Qt and the Win32 window alike. A value of the wrong
// type reads as missing, so that the rest of the restore goes on; the first
// such error is kept, to be told once.
#pragma once

#include <cstdint>
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
  // The position list under the name with the resolution suffix, else under
  // the plain name; `found` is set when either is non-empty.
  std::vector<std::string> ReadPos(const std::string& name, bool& found) {
    std::string text = ReadString(name + suffix_, "");
    if (text.empty()) text = ReadString(name, "");
    found = found || !text.empty();
    return SplitPos(text);
  }
  const std::string& FirstError() const { return firstError_; }

 private:
  TRegIniFile& ini_;
  std::string section_;
  std::string suffix_;
  std::string firstError_;
};
