// Replaces every form of operator new and delete in the program whose one source file includes
// this, so that each block is freed as it was made (the library's own forms would otherwise meet
// ours, in a temporary buffer for instance, which AddressSanitizer rightly reports). That file
// defines bench::OnNew(), called for every block made.
#pragma once

#include <cstdlib>
#include <new>

namespace bench {
void OnNew() noexcept;

namespace counting_new {
inline void* Counted(std::size_t n) noexcept {
  OnNew();
  return std::malloc(n == 0 ? 1 : n);
}
inline void* CountedOrThrow(std::size_t n) {
  if (void* p = Counted(n)) return p;
  throw std::bad_alloc();
}
}  // namespace counting_new
}  // namespace bench

// Kept out of line: GCC would otherwise see free() meet a pointer from operator new.
__attribute__((noinline)) void* operator new(std::size_t n) {
  return bench::counting_new::CountedOrThrow(n);
}
__attribute__((noinline)) void* operator new[](std::size_t n) {
  return bench::counting_new::CountedOrThrow(n);
}
__attribute__((noinline)) void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return bench::counting_new::Counted(n);
}
__attribute__((noinline)) void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return bench::counting_new::Counted(n);
}
__attribute__((noinline)) void operator delete(void* p) noexcept {
  std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p) noexcept {
  std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
