#include "registry_file.h"

#include <cstdint>
#include <cstdio>

namespace win::registry_file {
namespace {

constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
constexpr std::string_view kExportHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::size_t kHexLineWidth = 78;

// ---------------------------------------------------------------------------
// Text encodings

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code point that starts at text[i], and its length in bytes. A byte
// that starts no well-formed sequence stands for itself (as in Latin-1), so
// that no byte is lost.
char32_t NextCodePoint(std::string_view text, std::size_t i, std::size_t& length) {
  auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  std::uint8_t lead = byte(i);
  length = 1;
  int more = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2 : lead >= 0xF0 && lead <= 0xF4 ? 3 : 0;
  if (more == 0 || i + more >= text.size()) return lead;
  std::uint8_t low = 0x80, high = 0xBF;  // the second byte's range
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (byte(i + 1) < low || byte(i + 1) > high) return lead;
  char32_t c = lead & (0x3F >> more);
  for (int k = 1; k <= more; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return lead;
    c = c << 6 | (byte(i + k) & 0x3F);
  }
  length = static_cast<std::size_t>(more) + 1;
  return c;
}

std::string CleanUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) AppendUtf8(out, NextCodePoint(text, i, length));
  return out;
}

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    char32_t c = NextCodePoint(text, i, length);
    if (length == 1 && c >= 0x80) return false;
  }
  return true;
}

void AppendUtf16Le(std::string& out, char32_t c) {
  auto unit = [&](char32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  if (c < 0x10000) {
    unit(c);
  } else {
    unit(0xD800 + ((c - 0x10000) >> 10));
    unit(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
}

std::string Utf8ToUtf16Le(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) AppendUtf16Le(out, NextCodePoint(text, i, length));
  return out;
}

// UTF-16 code units (already in host order) as UTF-8; a lone surrogate
// becomes U+FFFD.
std::string Utf16ToUtf8(const std::vector<char16_t>& units, std::size_t begin, std::size_t end) {
  std::string out;
  out.reserve(end - begin);
  for (std::size_t i = begin; i < end; ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < end && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::vector<char16_t> Units(std::string_view bytes, bool littleEndian) {
  std::vector<char16_t> units(bytes.size() / 2);
  for (std::size_t i = 0; i < units.size(); ++i) {
    auto a = static_cast<std::uint8_t>(bytes[2 * i]), b = static_cast<std::uint8_t>(bytes[2 * i + 1]);
    units[i] = static_cast<char16_t>(littleEndian ? a | b << 8 : b | a << 8);
  }
  return units;
}

// ---------------------------------------------------------------------------
// The export text

std::string_view Trim(std::string_view s) {
  std::size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    if (HexDigit(c) < 0) return std::nullopt;
    value = value * 16 + HexDigit(c);
  }
  return value;
}

// A quoted string with \\ and \" escapes at the front of `text`, taken off it.
std::optional<std::string> TakeQuoted(std::string_view& text) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      text.remove_prefix(i + 1);
      return out;
    }
    if (c == '\\' && i + 1 < text.size()) c = text[++i];
    out += c;
  }
  return std::nullopt;
}

std::optional<std::string> ParseHexBytes(std::string_view text) {
  std::string bytes;
  text = Trim(text);
  if (text.empty()) return bytes;
  bytes.reserve(text.size() / 3 + 1);
  for (std::size_t start = 0;;) {
    std::size_t comma = text.find(',', start);
    auto byte = ParseHexNumber(Trim(text.substr(start, comma - start)), 2);
    if (!byte) return std::nullopt;
    bytes += static_cast<char>(*byte);
    if (comma == std::string_view::npos) return bytes;
    start = comma + 1;
  }
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::optional<Value> ParseValueData(std::string_view data) {
  if (data.starts_with('"')) {
    auto text = TakeQuoted(data);
    if (!text || !Trim(data).empty()) return std::nullopt;
    return Value{REG_SZ, *text + '\0'};
  }
  if (data.starts_with("dword:")) {
    auto number = ParseHexNumber(data.substr(6), 8);
    if (!number) return std::nullopt;
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((*number >> (8 * i)) & 0xFF);
    return Value{REG_DWORD, bytes};
  }
  DWORD type = REG_BINARY;
  if (data.starts_with("hex(")) {
    std::size_t close = data.find(')');
    auto number = close == std::string_view::npos ? std::nullopt : ParseHexNumber(data.substr(4, close - 4), 8);
    if (!number) return std::nullopt;
    type = *number;
    data.remove_prefix(close + 1);
  } else if (data.starts_with("hex")) {
    data.remove_prefix(3);
  } else {
    return std::nullopt;
  }
  if (!data.starts_with(':')) return std::nullopt;
  auto bytes = ParseHexBytes(data.substr(1));
  if (!bytes) return std::nullopt;
  if (IsStringType(type) && bytes->size() % 2 == 0) {
    auto units = Units(*bytes, true);
    return Value{type, Utf16ToUtf8(units, 0, units.size())};
  }
  return Value{type, *bytes};
}

// The value's name and the text of its data, when the line is a value line.
struct ValueLine {
  std::string name;
  std::string_view data;
};

std::optional<ValueLine> SplitValueLine(std::string_view line) {
  ValueLine parsed;
  if (line.starts_with('@')) {
    line.remove_prefix(1);
  } else {
    auto quoted = TakeQuoted(line);
    if (!quoted) return std::nullopt;
    parsed.name = std::move(*quoted);
  }
  line = Trim(line);
  if (!line.starts_with('=')) return std::nullopt;
  parsed.data = Trim(line.substr(1));
  return parsed;
}

// The key path of a header line "[path]", which may be followed by a
// comment; empty when the line is no header of a key that can be read.
std::string_view HeaderPath(std::string_view line) {
  for (std::size_t close = line.find(']'); close != std::string_view::npos; close = line.find(']', close + 1)) {
    std::string_view rest = Trim(line.substr(close + 1));
    if (rest.empty() || rest.front() == ';') {
      std::string_view path = line.substr(1, close - 1);
      return ValidKeyPath(path) ? path : std::string_view{};
    }
  }
  return {};
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

// A string value is written as quoted text when it reads back the same.
bool IsPlainString(const Value& value) {
  const std::string& data = value.data;
  return value.type == REG_SZ && !data.empty() && data.back() == '\0' && data.find('\0') == data.size() - 1 &&
         data.find_first_of("\r\n") == std::string::npos && IsUtf8(data);
}

// The value's line, or lines when a long hex list wraps as an export does.
std::vector<std::string> FormatValue(std::string_view name, const Value& value) {
  std::string line = (name.empty() ? std::string("@") : Quote(name)) + "=";
  char buffer[32];
  if (IsPlainString(value)) return {line + Quote(std::string_view(value.data).substr(0, value.data.size() - 1))};
  if (value.type == REG_DWORD && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<std::uint8_t>(value.data[i]);
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    return {line + buffer};
  }
  if (value.type == REG_BINARY) {
    line += "hex:";
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
    line += buffer;
  }
  std::string bytes = IsStringType(value.type) ? Utf8ToUtf16Le(value.data) : value.data;
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) {
      line += ',';
      if (line.size() + 3 > kHexLineWidth) {
        lines.push_back(line + '\\');
        line = "  ";
      }
    }
    std::snprintf(buffer, sizeof buffer, "%02x", static_cast<std::uint8_t>(bytes[i]));
    line += buffer;
  }
  lines.push_back(line);
  return lines;
}

std::string ValueId(const std::string& foldedPath, const std::string& foldedName) {
  return foldedPath + '\0' + foldedName;
}

}  // namespace

std::string FoldCase(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool ValidKeyPath(std::string_view path) {
  if (path.size() < kRootName.size() || FoldCase(path.substr(0, kRootName.size())) != FoldCase(kRootName)) return false;
  std::string_view rest = path.substr(kRootName.size());
  if (rest.empty()) return true;
  if (rest.front() != '\\' || rest.back() == '\\') return false;
  return rest.find("\\\\") == std::string_view::npos && rest.find_first_of("\r\n") == std::string_view::npos;
}

// ---------------------------------------------------------------------------
// Reading

Document::Document() = default;

Document::Document(std::string_view fileBytes) {
  Split(fileBytes);
  Parse();
}

// Lines with their bytes as they are, and their text as UTF-8.
void Document::Split(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE")) {
    encoding_ = Encoding::kUtf16Le;
    bytes.remove_prefix(2);
  } else if (bytes.starts_with("\xFE\xFF")) {
    encoding_ = Encoding::kUtf16Be;
    bytes.remove_prefix(2);
  } else if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
  } else if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0') {
    encoding_ = Encoding::kUtf16Le;  // UTF-16LE without its mark
  }

  if (encoding_ == Encoding::kUtf8) {
    for (std::size_t start = 0; start < bytes.size();) {
      std::size_t end = bytes.find('\n', start);
      bool ended = end != std::string_view::npos;
      end = ended ? end + 1 : bytes.size();
      std::string_view raw = bytes.substr(start, end - start);
      std::string_view text = raw.substr(0, raw.size() - ended);
      if (text.ends_with('\r')) text.remove_suffix(1);
      lines_.push_back({std::string(raw), CleanUtf8(text), ended});
      start = end;
    }
    return;
  }
  std::vector<char16_t> units = Units(bytes, encoding_ == Encoding::kUtf16Le);
  for (std::size_t start = 0; start < units.size();) {
    std::size_t end = start;
    while (end < units.size() && units[end] != u'\n') ++end;
    bool ended = end < units.size();
    std::size_t textEnd = end > start && units[end - 1] == u'\r' ? end - 1 : end;
    if (ended) ++end;
    lines_.push_back({std::string(bytes.substr(2 * start, 2 * (end - start))), Utf16ToUtf8(units, start, textEnd), ended});
    start = end;
  }
}

void Document::Parse() {
  Key* current = nullptr;
  for (std::size_t i = 0; i < lines_.size();) {
    std::string_view text = Trim(lines_[i].text);
    if (text.starts_with('[')) {
      std::string_view path = HeaderPath(text);
      current = nullptr;
      if (!path.empty()) {
        current = &keys_[FoldCase(path)];
        if (current->path.empty()) current->path = path;
        current->anchor = i;
      }
      ++i;
    } else if (current && (text.starts_with('"') || text.starts_with('@'))) {
      i = ParseValue(i, *current);
    } else {
      ++i;
    }
  }
}

// Reads the value that starts at line `index` into `key`; returns the line
// after it. A hex list that ends in a backslash goes on on the next line.
std::size_t Document::ParseValue(std::size_t index, Key& key) {
  std::string logical(Trim(lines_[index].text));
  std::size_t end = index + 1;
  auto split = SplitValueLine(logical);
  if (split && split->data.starts_with("hex")) {
    while (logical.ends_with('\\') && end < lines_.size()) {
      logical.pop_back();
      logical += Trim(lines_[end++].text);
    }
    split = SplitValueLine(logical);
  }
  std::optional<Value> value = split ? ParseValueData(split->data) : std::nullopt;
  if (!value) return index + 1;  // not a value: the line stays as it is
  key.values[FoldCase(split->name)] = {split->name, std::move(*value), index, end - index};
  key.anchor = end - 1;
  return end;
}

bool Document::HasKey(std::string_view path) const {
  std::string folded = FoldCase(path);
  if (keys_.count(folded) || folded == FoldCase(kRootName)) return true;
  folded += '\\';
  for (const auto& [other, key] : keys_)
    if (other.starts_with(folded)) return true;
  return false;
}

const Value* Document::Find(std::string_view keyPath, std::string_view valueName) const {
  auto key = keys_.find(FoldCase(keyPath));
  if (key == keys_.end()) return nullptr;
  auto value = key->second.values.find(FoldCase(valueName));
  return value == key->second.values.end() ? nullptr : &value->second.value;
}

// ---------------------------------------------------------------------------
// Changing

void Document::Apply(const Change& change) {
  if (!ValidKeyPath(change.keyPath)) return;
  AddKey(change.keyPath);
  if (change.valueName) SetValue(change);
}

// A key without a header of its own, and each such parent of it, become
// new keys at the end of the file.
Document::Key& Document::AddKey(std::string_view path) {
  std::string folded = FoldCase(path);
  if (auto key = keys_.find(folded); key != keys_.end()) return key->second;
  std::size_t parentEnd = path.rfind('\\');
  if (parentEnd != std::string_view::npos && parentEnd > kRootName.size()) AddKey(path.substr(0, parentEnd));
  Key& key = keys_[folded];
  key.path = path;
  newKeys_.push_back(folded);
  return key;
}

void Document::SetValue(const Change& change) {
  std::string path = FoldCase(change.keyPath), name = FoldCase(*change.valueName);
  Key& key = keys_[path];
  auto [stored, added] = key.values.try_emplace(name);
  stored->second.name = *change.valueName;  // spelled as last set
  stored->second.value = change.value;
  if (added) {
    key.addedValues.push_back(name);
    if (key.anchor != kNoLine) anchors_[key.anchor] = path;
  } else if (stored->second.firstLine != kNoLine) {
    replaced_[stored->second.firstLine] = ValueId(path, name);
  }
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// Collects UTF-16LE lines, ending the previous line first when it had no end.
struct Writer {
  std::string out = "\xFF\xFE";
  bool open = false;      // the last line has no line end
  bool lastBlank = true;  // the last line is empty (or nothing was written)

  // A line of the file as it was: its own bytes, or its text encoded anew.
  void Kept(const std::string& bytes, bool ended, std::string_view text) {
    End();
    out += bytes;
    open = !ended;
    lastBlank = Trim(text).empty();
  }
  // A line this store writes, with a CRLF end; `ended` false keeps a last
  // line without an end as it was.
  void Text(std::string_view text, bool ended = true) {
    End();
    out += Utf8ToUtf16Le(text);
    if (ended) out += kCrLf;
    open = !ended;
    lastBlank = Trim(text).empty();
  }
  void End() {
    if (open) out += kCrLf;
    open = false;
  }
  static inline const std::string kCrLf{"\r\0\n\0", 4};
};

}  // namespace

std::string Document::Serialize() const {
  Writer writer;
  auto addedValues = [&](const Key& key) {
    for (const std::string& name : key.addedValues) {
      const StoredValue& stored = key.values.at(name);
      for (const std::string& line : FormatValue(stored.name, stored.value)) writer.Text(line);
    }
  };

  std::size_t first = 0;
  while (first < lines_.size() && Trim(lines_[first].text).empty()) ++first;
  std::string_view header = first < lines_.size() ? Trim(lines_[first].text) : std::string_view{};
  if (header != kExportHeader && header != kOldHeader) {
    writer.Text(kExportHeader);
    writer.Text("");
  }
  for (std::size_t i = 0; i < lines_.size();) {
    std::size_t next = i + 1;
    if (auto changed = replaced_.find(i); changed != replaced_.end()) {
      std::size_t split = changed->second.find('\0');
      const StoredValue& stored =
          keys_.at(changed->second.substr(0, split)).values.at(changed->second.substr(split + 1));
      for (const std::string& line : FormatValue(stored.name, stored.value)) writer.Text(line);
      next = i + stored.lineCount;
    } else if (encoding_ == Encoding::kUtf16Le) {
      writer.Kept(lines_[i].raw, lines_[i].ended, lines_[i].text);
    } else {
      writer.Text(lines_[i].text, lines_[i].ended);
    }
    if (auto anchor = anchors_.find(next - 1); anchor != anchors_.end()) addedValues(keys_.at(anchor->second));
    i = next;
  }
  for (const std::string& folded : newKeys_) {
    const Key& key = keys_.at(folded);
    if (!writer.lastBlank) writer.Text("");
    writer.Text("[" + key.path + "]");
    addedValues(key);
    writer.Text("");
  }
  writer.End();
  return writer.out;
}

}  // namespace win::registry_file
