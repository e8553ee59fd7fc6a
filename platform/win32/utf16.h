// The one place where text changes its encoding on Windows. The program's
// own texts are UTF-8; Windows takes and gives text as UTF-16 (the W
// functions), so every text that crosses is converted here.
#pragma once

#include <string>

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
