#include "strtoint.h"

#include <string>

namespace win {
namespace {

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') v = c - '0';
  else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  return v < base ? v : -1;
}

// Reads the digits that make up the rest of the text; fails on any other
// character, on no digits, or when the value exceeds `limit`.
std::optional<std::uint64_t> ParseDigits(std::string_view digits, int base, std::uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    int d = DigitValue(c, base);
    if (d < 0) return std::nullopt;
    value = value * base + d;
    if (value > limit) return std::nullopt;
  }
  return value;
}

std::size_t HexPrefixLength(std::string_view s) {
  if (s.starts_with("0x") || s.starts_with("0X")) return 2;
  if (s.starts_with('$') || s.starts_with('x') || s.starts_with('X')) return 1;
  return 0;
}

}  // namespace

std::optional<std::int32_t> TryStrToInt(std::string_view text) {
  std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::nullopt;
  std::string_view s = text.substr(start);

  if (std::size_t prefix = HexPrefixLength(s)) {
    auto value = ParseDigits(s.substr(prefix), 16, 0xFFFFFFFFull);
    if (!value) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*value));
  }

  bool negative = false;
  if (s.starts_with('-') || s.starts_with('+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  auto value = ParseDigits(s, 10, negative ? 2147483648ull : 2147483647ull);
  if (!value) return std::nullopt;
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(*value)
                                            : static_cast<std::int64_t>(*value));
}

std::int32_t StrToInt(std::string_view text) {
  if (auto value = TryStrToInt(text)) return *value;
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
  return TryStrToInt(text).value_or(fallback);
}

}  // namespace win
