// The handful of Windows types and constants that the engine and the window
// are written against. Values match the Windows headers so that code reads
// and behaves as it would there.
#pragma once

#include <cstdint>

namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using BOOL = int;
using ATOM = std::uint16_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using u_short = std::uint16_t;
using u_long = std::uint32_t;

struct WindowObject;
using HWND = WindowObject*;
using HINSTANCE = void*;
using HANDLE = void*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

inline WORD LOWORD(LPARAM v) { return static_cast<WORD>(static_cast<std::uintptr_t>(v) & 0xFFFF); }
inline WORD HIWORD(LPARAM v) { return static_cast<WORD>((static_cast<std::uintptr_t>(v) >> 16) & 0xFFFF); }
inline LPARAM MAKELPARAM(WORD low, WORD high) {
  return static_cast<LPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}

// Window messages used by the engine.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_USER = 0x0400;

}  // namespace win
