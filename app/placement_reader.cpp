#include "placement_reader.h"

// KEY_READ is Windows' own in a Windows build, platform/'s elsewhere.
using namespace win;

std::string RestoreFromStore(const std::string& key, const std::string& section, const std::string& resolutionSuffix,
                             int version, const std::function<void(PlacementReader&)>& restore) {
  TRegIniFile ini(key, KEY_READ);
  PlacementReader reader(ini, section, resolutionSuffix);
  if (reader.ReadInteger("FormVersion", 0) >= version) restore(reader);
  return reader.FirstError();
}
