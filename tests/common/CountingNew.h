// Replaces the global operator new and delete of the test program that
// includes this header (include it in exactly one of its files): every
// operator new adds one to gAllocations, so a test can check that a piece of
// work allocates nothing. Every allocation goes through malloc and free.
#ifndef TESTS_COMMON_COUNTINGNEW_H
#define TESTS_COMMON_COUNTINGNEW_H

#include <atomic>
#include <cstdlib>
#include <new>

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // every new here is malloc

namespace {
std::atomic<long> gAllocations{0};  // operator new calls since the program started
}  // namespace

void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#endif
