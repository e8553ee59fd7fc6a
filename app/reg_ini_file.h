// The store's sections and values as an ini file: a key under
// HKEY_CURRENT_USER holds one subkey per section, and every value is text.
// Integers are stored as decimal text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "registry.h"

// A failure of the store, with the message the user sees.
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TRegIniFile {
 public:
  // Opens HKEY_CURRENT_USER\fileName. For writing (`sectionAccess` that
  // may set values) it is created when it is missing; for reading it is
  // only opened, so that reading the store never writes it. Sections are
  // then opened with `sectionAccess`.
  TRegIniFile(const std::string& fileName, win::REGSAM sectionAccess);
  ~TRegIniFile();
  TRegIniFile(const TRegIniFile&) = delete;
  TRegIniFile& operator=(const TRegIniFile&) = delete;

  // A missing section or value gives the default; a value that is not text
  // throws "Invalid data type for '<ident>'". The text ends at the first zero.
  std::string ReadString(const std::string& section, const std::string& ident, const std::string& fallback);
  // The default also takes the place of a text that does not convert.
  std::int32_t ReadInteger(const std::string& section, const std::string& ident, std::int32_t fallback);

  // Throw "Failed to create key <section>" or "Failed to set data for '<ident>'".
  void WriteString(const std::string& section, const std::string& ident, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& ident, std::int32_t value);

  // What was written reaches the store's file when the key closes; this
  // writes it now, so that a failure can be told: "Failed to write <file>".
  void UpdateFile();

 private:
  win::HKEY key_ = nullptr;
  win::REGSAM sectionAccess_;
};
