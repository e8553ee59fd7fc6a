// The system's headers define Windows' constants as macros, which code cannot
// write as win::NAME. A side header lists the constants it offers as
// X(type, NAME), takes each macro's value with VELOTRUNK_TAKE_CONSTANT,
// removes the macros (#undef, one by one), then declares the names in
// namespace win with VELOTRUNK_GIVE_CONSTANT: typed constants with the
// system's own values.
#pragma once

#define VELOTRUNK_TAKE_CONSTANT(type, name) constexpr type system_##name = name;
#define VELOTRUNK_GIVE_CONSTANT(type, name) constexpr type name = system_values::system_##name;
