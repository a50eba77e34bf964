#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The vtable slot a pointer to a virtual member function refers to, or -1 for a non-virtual
// one. Itanium C++ ABI: on x86-64 the pointer field holds 1 + the slot's byte offset; on MIPS
// and ARM it holds the byte offset and the low bit of the adjustment field marks it virtual.
template <class PMF>
long VirtualSlot(PMF pmf) {
  struct Rep {
    uintptr_t ptr;
    ptrdiff_t adj;
  } rep;
  static_assert(sizeof(PMF) == sizeof(Rep), "Itanium member function pointer");
  std::memcpy(&rep, &pmf, sizeof rep);
#if defined(__mips__) || defined(__arm__) || defined(__aarch64__)
  if ((rep.adj & 1) == 0) return -1;
  return static_cast<long>(rep.ptr / sizeof(void*));
#else
  if ((rep.ptr & 1) == 0) return -1;
  return static_cast<long>((rep.ptr - 1) / sizeof(void*));
#endif
}
