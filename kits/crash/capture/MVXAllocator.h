#pragma once
// The crash allocator: one private mapping made at set-up, laid out as guard page, writable
// region, guard page, read-only region, guard page. Bump allocation only (16-byte aligned, lock-
// free, never freed); the read-only region is write-protected when set-up ends. A request that
// does not fit, or comes after protection, is served by malloc and logged.
//
// Created once by MVXContextInitialize; allocation from any set-up thread at once.

#include <atomic>
#include <cstddef>
#include <cstdint>

struct MVXAllocatorRegion {
  std::uint64_t size = 0;
  std::uintptr_t start = 0;
  std::atomic<std::uintptr_t> current{0};
};

struct MVXAllocator {
  void* base = nullptr;
  std::atomic<bool> isProtected{false};
  MVXAllocatorRegion writable;
  MVXAllocatorRegion readonly;
};

enum : int { kMVXAllocationReadOnly = 0, kMVXAllocationWritable = 1 };

MVXAllocator* MVXAllocatorCreate(std::size_t writableSize, std::size_t readOnlySize);
void* MVXAllocatorSafeAllocate(MVXAllocator* allocator, std::size_t size, int kind);
void* MVXAllocatorSafeAllocateFromRegion(MVXAllocatorRegion* region, std::size_t size);
bool MVXAllocatorProtect(MVXAllocator* allocator);
