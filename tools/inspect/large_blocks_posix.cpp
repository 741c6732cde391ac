#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "inspect/large_blocks.h"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)

namespace {

// Every block starts with this header, so delete knows where the block came from.
struct alignas(alignof(std::max_align_t)) Header {
  std::size_t size;  // bytes asked for
  bool mapped;
};

void* Allocate(std::size_t size) {
  if (size > SIZE_MAX - sizeof(Header)) throw std::bad_alloc();
  void* block = nullptr;
  bool mapped = false;
  if (size >= quorvane::inspect::kLargeBlock) {
    const std::size_t length = sizeof(Header) + size;
    // Every page of such a block is written at once (a payload being copied in),
    // so the pages are all made in one call rather than by a fault each.
    block = ::mmap(nullptr, length, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    mapped = true;
  } else {
    block = std::malloc(sizeof(Header) + size);
    if (block == nullptr) throw std::bad_alloc();
  }
  auto* header = static_cast<Header*>(block);
  header->size = size;
  header->mapped = mapped;
  return header + 1;
}

void Release(void* pointer) noexcept {
  if (pointer == nullptr) return;
  Header* header = static_cast<Header*>(pointer) - 1;
  if (header->mapped)
    ::munmap(header, sizeof(Header) + header->size);
  else
    std::free(header);
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void operator delete(void* pointer) noexcept {
  Release(pointer);
}
void operator delete[](void* pointer) noexcept {
  Release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
  Release(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
  Release(pointer);
}

#endif
