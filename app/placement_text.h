// How the settings store writes and reads a window's placement and the
// field texts, shared by the Qt and the Win32 window.
#pragma once

#include <string>
#include <vector>

// "(1024x768)": the screen resolution, appended to the position value names.
std::string ResolutionSuffix(int screenWidth, int screenHeight);
// "a,b,c,d".
std::string FormatPos(long a, long b, long c, long d);
// Words separated by runs of commas and blanks.
std::vector<std::string> SplitPos(const std::string& text);
// Word `index` as an integer; a missing or non-numeric word gives fallback.
int PosWord(const std::vector<std::string>& words, std::size_t index, int fallback);
// Characters up to 32 (blanks and control characters) go from both ends.
std::string TrimText(const std::string& text);

// The window state a stored show command asks for.
enum class StoredState { Keep, Normal, Minimized, Maximized };
StoredState StateFromShowCmd(int showCmd);
