// The settings store's file: the text of a registry export.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Dorwen\Velotrunk]
//   "Name"="text"            REG_SZ
//   "Name"=dword:00000001    REG_DWORD
//   "Name"=hex(2):41,00,00,00  REG_EXPAND_SZ (hex(1) REG_SZ, hex(7) REG_MULTI_SZ)
//   "Name"=hex:01,02         REG_BINARY; hex(N): any other type N
//
// A file is read as UTF-16 (with its byte-order mark, as a registry editor
// exports it) or UTF-8 (as earlier versions wrote it), with CRLF or LF line
// ends; a hex list that ends in a backslash goes on on the next line. The
// data of the string types in hex form is UTF-16LE; an odd number of bytes
// cannot be, and is taken as the bytes themselves (as earlier versions wrote
// it). What cannot be read counts as missing: a damaged file yields what can
// be read.
//
// Only keys under HKEY_CURRENT_USER are read. Every other line of the file
// (other roots, comments, lines that do not parse) is kept as it is: a
// change replaces the lines of the value it changes, adds a new value after
// the last value of its key, and a new key at the end. The file is written
// as a registry export: UTF-16LE with a byte-order mark and CRLF line ends;
// the lines of a UTF-16LE file that no change touched keep their bytes.
//
// Value data is what the registry's byte-string ("A") calls see: text is
// UTF-8 here. Reading and writing take time linear in the file's size.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry_types.h"

namespace win::registry_file {

struct Value {
  DWORD type = 0;
  std::string data;
};

// One write of the store, in the order made: a key created (no value name),
// or a value set (the key is created with it when missing).
struct Change {
  std::string keyPath;  // "HKEY_CURRENT_USER\\..."
  std::optional<std::string> valueName;
  Value value;
};

// Key paths and value names compare without regard to ASCII case.
std::string FoldCase(std::string_view name);

// A key path is HKEY_CURRENT_USER alone or followed by non-empty names
// without line breaks, each after one backslash.
bool ValidKeyPath(std::string_view path);

class Document {
 public:
  Document();  // an empty store
  explicit Document(std::string_view fileBytes);

  // A key exists when it has a header of its own or a key below it does.
  bool HasKey(std::string_view path) const;
  const Value* Find(std::string_view keyPath, std::string_view valueName) const;

  void Apply(const Change& change);

  // The whole file: UTF-16LE with a byte-order mark.
  std::string Serialize() const;

 private:
  enum class Encoding { kUtf8, kUtf16Le, kUtf16Be };

  struct Line {
    std::string raw;   // the bytes in the file, line end included
    std::string text;  // as UTF-8, without the line end
    bool ended = false;
  };
  struct StoredValue {
    std::string name;  // as spelled
    Value value;
    std::size_t firstLine = kNoLine;  // kNoLine: added by a change
    std::size_t lineCount = 0;
  };
  struct Key {
    std::string path;  // as spelled
    std::unordered_map<std::string, StoredValue> values;
    std::vector<std::string> addedValues;  // folded names, in the order added
    std::size_t anchor = kNoLine;          // the line new values follow; kNoLine: a new key
  };
  static constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

  void Split(std::string_view fileBytes);
  void Parse();
  std::size_t ParseValue(std::size_t index, Key& key);
  Key& AddKey(std::string_view path);
  void SetValue(const Change& change);

  Encoding encoding_ = Encoding::kUtf8;
  std::vector<Line> lines_;
  std::unordered_map<std::string, Key> keys_;           // by folded path
  std::vector<std::string> newKeys_;                    // folded paths of keys added at the end
  std::unordered_map<std::size_t, std::string> anchors_;  // line -> folded path of the key whose new values follow it
  std::unordered_map<std::size_t, std::string> replaced_;  // first line of a changed value -> folded "path\0name"
};

}  // namespace win::registry_file
