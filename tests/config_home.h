// A private settings folder for one test: XDG_CONFIG_HOME points at a fresh
// temporary folder for the object's life, so the store's file is the test's.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class ConfigHome {
 public:
  ConfigHome()
      : folder_(std::filesystem::temp_directory_path() /
                ("velotrunk_test_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
  }
  ~ConfigHome() { std::filesystem::remove_all(folder_); }

  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path StoreFile() const { return folder_ / "velotrunk" / "user.reg"; }

  std::string StoreBytes() const {
    std::ifstream in(StoreFile(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  // The store as UTF-8 with LF line ends: a UTF-16LE file (with its
  // byte-order mark) decoded, any other as it is.
  std::string StoreText() const { return ExportText(StoreBytes()); }

  // UTF-8 text (of the Basic Multilingual Plane) as a UTF-16LE file with a
  // byte-order mark, line ends as they are: a registry export made by hand.
  static std::string ExportBytes(const std::string& text) {
    std::string bytes = "\xFF\xFE";
    for (std::size_t i = 0; i < text.size();) {
      auto b = static_cast<unsigned char>(text[i]);
      char32_t c = b;
      int length = b < 0x80 ? 1 : b < 0xE0 ? 2 : 3;
      if (length == 2) c = (b & 0x1F) << 6 | (text[i + 1] & 0x3F);
      if (length == 3) c = (b & 0x0F) << 12 | (text[i + 1] & 0x3F) << 6 | (text[i + 2] & 0x3F);
      bytes += static_cast<char>(c & 0xFF);
      bytes += static_cast<char>(c >> 8);
      i += length;
    }
    return bytes;
  }

  static std::string ExportText(const std::string& bytes) {
    if (!bytes.starts_with("\xFF\xFE")) return bytes;
    std::string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      char32_t c = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
      if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size()) {
        char32_t low = static_cast<unsigned char>(bytes[i + 2]) | static_cast<unsigned char>(bytes[i + 3]) << 8;
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
      if (c == '\r') continue;
      if (c < 0x80) {
        text += static_cast<char>(c);
      } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | c >> 6);
        text += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        text += static_cast<char>(0xE0 | c >> 12);
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        text += static_cast<char>(0xF0 | c >> 18);
        text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return text;
  }
  void WriteStore(const std::string& text) const {
    std::filesystem::create_directories(StoreFile().parent_path());
    std::ofstream(StoreFile(), std::ios::binary) << text;
  }

 private:
  std::filesystem::path folder_;
};
