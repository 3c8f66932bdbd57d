#include "base/BlockRecycler.h"

#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define TARNWICK_RECYCLE_BLOCKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNWICK_RECYCLE_BLOCKS 0
#endif
#endif
#ifndef TARNWICK_RECYCLE_BLOCKS
#define TARNWICK_RECYCLE_BLOCKS 1
#endif

namespace tarnwick {

#if TARNWICK_RECYCLE_BLOCKS

namespace {

constexpr std::size_t kStep = 16;           // sizes are rounded up to a multiple of this
constexpr std::size_t kLargest = 512;       // larger blocks are not kept
constexpr std::size_t kKeptPerSize = 256;   // a list holds at most this many blocks

struct FreeBlock {
    FreeBlock* next;
};

constexpr std::size_t kLists = kLargest / kStep + 1;

// Plain data, so it stays usable while the thread ends: a block freed after the lists were
// emptied (by an object destroyed late) simply goes back to the allocator.
struct FreeLists {
    FreeBlock* heads[kLists];
    std::size_t counts[kLists];
    bool closed;
};

thread_local FreeLists lists{};

// Empties the thread's lists when the thread ends.
struct ListsCloser {
    ~ListsCloser() {
        lists.closed = true;
        for (std::size_t i = 0; i < kLists; ++i)
            while (lists.heads[i] != nullptr) {
                FreeBlock* block = lists.heads[i];
                lists.heads[i] = block->next;
                ::operator delete(block);
            }
    }
};

std::size_t ListOf(std::size_t size) { return (size + kStep - 1) / kStep; }

// The closer exists from the thread's first kept block on.
void EnsureCloser() {
    thread_local ListsCloser closer;
    (void)closer;
}

}  // namespace

void* RecycledAllocate(std::size_t size) {
    if (size == 0 || size > kLargest) return ::operator new(size);
    const std::size_t list = ListOf(size);
    if (FreeBlock* block = lists.heads[list]) {
        lists.heads[list] = block->next;
        --lists.counts[list];
        return block;
    }
    return ::operator new(list * kStep);
}

void RecycledFree(void* block, std::size_t size) noexcept {
    if (block == nullptr) return;
    const std::size_t list = ListOf(size);
    if (size == 0 || size > kLargest || lists.closed || lists.counts[list] >= kKeptPerSize) {
        ::operator delete(block);
        return;
    }
    EnsureCloser();
    auto* kept = static_cast<FreeBlock*>(block);
    kept->next = lists.heads[list];
    lists.heads[list] = kept;
    ++lists.counts[list];
}

#else

void* RecycledAllocate(std::size_t size) { return ::operator new(size); }
void RecycledFree(void* block, std::size_t) noexcept { ::operator delete(block); }

#endif

}  // namespace tarnwick
