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

  std::string StoreText() const {
    std::ifstream in(StoreFile(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  void WriteStore(const std::string& text) const {
    std::filesystem::create_directories(StoreFile().parent_path());
    std::ofstream(StoreFile(), std::ios::binary) << text;
  }

 private:
  std::filesystem::path folder_;
};
