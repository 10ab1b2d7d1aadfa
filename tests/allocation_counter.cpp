#include "tests/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The replacement takes its memory from malloc, so free is the matching release; GCC cannot see that
// where it inlines the pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<long> allocations{0};
std::atomic<long> live{0};
std::atomic<long> failIn{-1};

void* Allocate(std::size_t size) noexcept {
    ++allocations;
    if (failIn.load() >= 0 && failIn.fetch_sub(1) == 0) return nullptr;
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p) ++live;
    return p;
}

void Release(void* p) noexcept {
    if (p) --live;
    std::free(p);
}

void* AllocateOrThrow(std::size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}

}  // namespace

namespace vantrel::test {

long AllocationCount() {
    return allocations.load();
}

long LiveAllocations() {
    return live.load();
}

void FailAllocationIn(long countdown) {
    failIn.store(countdown);
}

}  // namespace vantrel::test

void* operator new(std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}
// A constructor that throws after a non-throwing new releases the memory through these.
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
