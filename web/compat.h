// Included before every source of an emscripten build: the C++ library of Debian's emscripten
// 3.1.6 has all of C++20 that the engine uses but std::bit_cast, given here as the library
// defines it.
#pragma once

#include <bit>
#include <cstring>
#include <type_traits>

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
requires(sizeof(To) == sizeof(From) && is_trivially_copyable_v<To> &&
         is_trivially_copyable_v<From>) constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
