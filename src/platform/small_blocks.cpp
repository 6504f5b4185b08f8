#include "platform/small_blocks.h"

#include <array>
#include <mutex>
#include <new>

namespace tarvel {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif
#else
constexpr bool kPooled = true;
#endif

constexpr size_t kStep = 8;
constexpr size_t kClasses = kLargestSmallBlock / kStep;
constexpr size_t kSlabBytes = size_t{64} * 1024;

// A block given back holds the link to the next one given back.
struct FreeBlock {
  FreeBlock* next;
};

// The blocks of one size. Each size has its own lock, on its own cache
// line, so that two threads making texts of different lengths do not wait
// for each other.
struct alignas(64) SizeClass {
  std::mutex lock;
  FreeBlock* given_back = nullptr;
  char* next = nullptr;  // the untouched rest of the current slab
  char* end = nullptr;
};

std::array<SizeClass, kClasses>& Classes() {
  // Never destroyed: texts held by objects destroyed at exit give their
  // blocks back after everything else is gone.
  static auto* classes = new std::array<SizeClass, kClasses>();
  return *classes;
}

size_t ClassOf(size_t bytes) { return (bytes + kStep - 1) / kStep - 1; }

}  // namespace

void* AllocateSmallBlock(size_t bytes) {
  if (!kPooled || bytes == 0 || bytes > kLargestSmallBlock) return ::operator new(bytes);
  const size_t index = ClassOf(bytes);
  const size_t size = (index + 1) * kStep;
  SizeClass& c = Classes()[index];
  std::lock_guard<std::mutex> hold(c.lock);
  if (c.given_back != nullptr) {
    FreeBlock* block = c.given_back;
    c.given_back = block->next;
    return block;
  }
  if (c.next == nullptr || static_cast<size_t>(c.end - c.next) < size) {
    // A new slab; the old one's tail, too short for a block, stays unused.
    c.next = static_cast<char*>(::operator new(kSlabBytes));
    c.end = c.next + kSlabBytes / size * size;
  }
  void* block = c.next;
  c.next += size;
  return block;
}

void FreeSmallBlock(void* block, size_t bytes) noexcept {
  if (block == nullptr) return;
  if (!kPooled || bytes == 0 || bytes > kLargestSmallBlock) {
    ::operator delete(block);
    return;
  }
  SizeClass& c = Classes()[ClassOf(bytes)];
  std::lock_guard<std::mutex> hold(c.lock);
  c.given_back = new (block) FreeBlock{c.given_back};
}

bool SmallBlocksPooled() { return kPooled; }

}  // namespace tarvel
