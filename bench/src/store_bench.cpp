// Times the settings store on large and hostile files: reading a value and
// saving one value, as the window does at its start and at its close.
//   velotrunk-store-bench [FOLDER]     (a temporary folder by default)
// Prints one line per file: its size, the read time and the save time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "registry.h"

namespace fs = std::filesystem;

namespace {

std::string Utf16(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Measure(const char* name, const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << Utf16(text);
  auto start = std::chrono::steady_clock::now();
  win::HKEY key = nullptr;
  win::RegCreateKeyExA(win::HKEY_CURRENT_USER, "Dorwen\\Velotrunk", 0, nullptr, 0, win::KEY_ALL_ACCESS, nullptr, &key,
                       nullptr);
  char data[64];
  win::DWORD size = sizeof data, type = 0;
  win::RegQueryValueExA(key, "ip_Text", nullptr, &type, reinterpret_cast<win::BYTE*>(data), &size);
  double read = Seconds(start);
  start = std::chrono::steady_clock::now();
  win::RegSetValueExA(key, "ip_Text", 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>("8080"), 5);
  win::LONG saved = win::RegCloseKey(key);
  std::printf("%-28s %8.1f MB  read %6.3f s  save %6.3f s%s\n", name, fs::file_size(file) / 1e6, read,
              Seconds(start), saved == win::ERROR_SUCCESS ? "" : "  (save failed)");
}

}  // namespace

int main(int argc, char** argv) {
  fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "velotrunk-store-bench";
  fs::create_directories(folder / "velotrunk");
  ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  fs::path file = folder / "velotrunk" / "user.reg";
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string ours = "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\r\n\"ip_Text\"=\"3128\"\r\n";

  std::string keys = header;
  for (int i = 0; i < 8000; ++i) keys += "[HKEY_CURRENT_USER\\Bulk\\Key" + std::to_string(i) + "]\r\n\"v\"=\"1\"\r\n\r\n";
  Measure("8,000 keys", file, keys + ours);

  std::string large = header;
  while (large.size() < 5'000'000) large += "[HKEY_CURRENT_USER\\Bulk\\Key]\r\n\"Value\"=\"" + std::string(600, 'x') + "\"\r\n\r\n";
  Measure("10 MB of values", file, large + ours);

  std::string deep = "HKEY_CURRENT_USER";
  for (int level = 0; level < 2000; ++level) deep += "\\k";
  Measure("a 2,000-level key path", file, header + "[" + deep + "]\r\n\"v\"=\"1\"\r\n\r\n" + ours);

  fs::remove_all(folder);
  return 0;
}
