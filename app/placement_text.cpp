#include "placement_text.h"

#include <cstdio>

#include "strtoint.h"

std::string ResolutionSuffix(int screenWidth, int screenHeight) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "(%dx%d)", screenWidth, screenHeight);
  return suffix;
}

std::string FormatPos(long a, long b, long c, long d) {
  char text[96];
  std::snprintf(text, sizeof text, "%ld,%ld,%ld,%ld", a, b, c, d);
  return text;
}

std::vector<std::string> SplitPos(const std::string& text) {
  std::vector<std::string> words;
  std::size_t start = text.find_first_not_of(", ");
  while (start != std::string::npos) {
    std::size_t end = text.find_first_of(", ", start);
    words.push_back(text.substr(start, end - start));
    start = text.find_first_not_of(", ", end);
  }
  return words;
}

int PosWord(const std::vector<std::string>& words, std::size_t index, int fallback) {
  return index < words.size() ? win::StrToIntDef(words[index], fallback) : fallback;
}

std::string TrimText(const std::string& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

StoredState StateFromShowCmd(int showCmd) {
  switch (showCmd) {
    case 1: case 5: case 9: return StoredState::Normal;
    case 2: case 6: case 7: return StoredState::Minimized;
    case 3: return StoredState::Maximized;
    default: return StoredState::Keep;
  }
}
