#include "kits/crash/capture/MVXAllocator.h"

#include <errno.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "kits/crash/capture/MVXSDKLog.h"
#include "kits/crash/capture/MVXSetUp.h"

namespace {

std::size_t roundToPages(std::size_t requested, std::size_t page) {
  return requested == 0 ? 0 : (requested / page + 1) * page;
}

}  // namespace

MVXAllocator* MVXAllocatorCreate(std::size_t writableSize, std::size_t readOnlySize) {
  const std::size_t page = MVXHostGetPageSize();
  const std::size_t writable = roundToPages(writableSize, page);
  const std::size_t readonly = roundToPages(readOnlySize + 64 + sizeof(MVXAllocator), page);
  const std::size_t total = 3 * page + writable + readonly;
  void* mapping = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    MVXSDKLOG(4, "ERROR [%s:%d] Mapping failed %s\n", strerror(errno));
    return nullptr;
  }
  auto* base = static_cast<char*>(mapping);
  char* writableStart = base + page;
  char* readonlyStart = writableStart + writable + page;
  MVXSDKLOG(2, "INFO  [%s:%d] Mapping: %p %p %p, total: %zu K\n", static_cast<void*>(base),
            static_cast<void*>(writableStart), static_cast<void*>(readonlyStart));
  if (mprotect(base, page, PROT_NONE) != 0) {
    MVXSDKLOG(4, "ERROR [%s:%d] First guard protection failed %s\n", strerror(errno));
    return nullptr;
  }
  if (mprotect(writableStart + writable, page, PROT_NONE) != 0) {
    MVXSDKLOG(4, "ERROR [%s:%d] Middle guard protection failed %s\n", strerror(errno));
    return nullptr;
  }
  if (mprotect(readonlyStart + readonly, page, PROT_NONE) != 0) {
    MVXSDKLOG(4, "ERROR [%s:%d] Last guard protection failed %s\n", strerror(errno));
    return nullptr;
  }
  // The allocator record heads the read-only region.
  auto* allocator = new (readonlyStart) MVXAllocator();
  allocator->base = base;
  allocator->writable.size = writable;
  allocator->writable.start = reinterpret_cast<std::uintptr_t>(writableStart);
  allocator->writable.current = allocator->writable.start;
  allocator->readonly.size = readonly;
  allocator->readonly.start = reinterpret_cast<std::uintptr_t>(readonlyStart);
  allocator->readonly.current = allocator->readonly.start + ((sizeof(MVXAllocator) + 63) & ~63u);
  MVXSDKLOG(1, "DEBUG [%s:%d] Allocator successfully created %p", static_cast<void*>(allocator));
  return allocator;
}

void* MVXAllocatorSafeAllocateFromRegion(MVXAllocatorRegion* region, std::size_t size) {
  // 16-byte steps keep every block aligned for any object placed in it.
  const std::size_t rounded = (size + 15) & ~static_cast<std::size_t>(15);
  std::uintptr_t current = region->current.load(std::memory_order_acquire);
  for (;;) {
    if (rounded + (current - region->start) > region->size) {
      MVXSDKLOG(3, "WARN  [%s:%d] Unable to allocate sufficient memory, falling back to malloc\n");
      return std::calloc(1, size);
    }
    if (region->current.compare_exchange_weak(current, current + rounded,
                                              std::memory_order_acq_rel)) {
      // NOLINTNEXTLINE(performance-no-int-to-ptr): the arena hands its addresses out as pointers
      return reinterpret_cast<void*>(current);
    }
  }
}

void* MVXAllocatorSafeAllocate(MVXAllocator* allocator, std::size_t size, int kind) {
  if (allocator == nullptr) {
    MVXSDKLOG(3, "WARN  [%s:%d] Allocator invalid, falling back to malloc\n");
    return std::calloc(1, size);
  }
  if (allocator->isProtected.load()) {
    MVXSDKLOG(3, "WARN  [%s:%d] Allocator already protected, falling back to malloc\n");
    return std::calloc(1, size);
  }
  if (kind == kMVXAllocationReadOnly)
    return MVXAllocatorSafeAllocateFromRegion(&allocator->readonly, size);
  if (kind == kMVXAllocationWritable)
    return MVXAllocatorSafeAllocateFromRegion(&allocator->writable, size);
  return nullptr;
}

bool MVXAllocatorProtect(MVXAllocator* allocator) {
  if (allocator == nullptr) {
    MVXSDKLOG(4, "ERROR [%s:%d] Invalid allocator");
    return false;
  }
  // The record itself lies in the protected region: after protection it is only read.
  if (allocator->isProtected.load()) {
    MVXSDKLOG(3, "WARN  [%s:%d] Write protection already enabled");
    return true;
  }
  allocator->isProtected.store(true);
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the arena hands its addresses out as pointers
  return mprotect(reinterpret_cast<void*>(allocator->readonly.start), allocator->readonly.size,
                  PROT_READ) == 0;
}
