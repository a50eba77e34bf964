#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

// Compile-time checks of a record's byte layout: the record is packed (alignment 1, no
// padding), trivially copyable, and every field sits at its offset with its size.
#define RVT_CHECK_RECORD(Type, size)                                                   \
  static_assert(sizeof(Type) == (size), #Type " size");                                \
  static_assert(alignof(Type) == 1, #Type " is packed");                               \
  static_assert(std::is_standard_layout<Type>::value, #Type " has a standard layout"); \
  static_assert(std::is_trivially_copyable<Type>::value, #Type " is trivially copyable")

#define RVT_CHECK_FIELD(Type, field, offset, size)                               \
  static_assert(offsetof(Type, field) == (offset), #Type "::" #field " offset"); \
  static_assert(sizeof(std::declval<Type&>().field) == (size), #Type "::" #field " size")
