// The framework's text-to-integer conversion, used by the start command, the
// settings store and the headless relay's arguments:
//   optional leading spaces, then an optional sign and decimal digits, or
//   (without a sign) "$", "x", "X", "0x" or "0X" and hexadecimal digits;
//   nothing may follow the digits. Decimal values must fit a signed 32-bit
//   integer; hexadecimal values must fit 32 bits and are taken as a bit
//   pattern (FFFFFFFF gives -1).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace win {

// Thrown by StrToInt for a text that does not convert.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::optional<std::int32_t> TryStrToInt(std::string_view text);
std::int32_t StrToInt(std::string_view text);  // throws EConvertError
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);

}  // namespace win
