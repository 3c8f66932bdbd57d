#pragma once
// Storage for the small objects a dataset makes and drops by the dozen on every open and close
// (field definitions, fields): freed blocks are kept per thread on a list by size and handed
// out again, instead of going back through the general allocator each time. A class takes part
// by declaring
//     static void* operator new(std::size_t size) { return RecycledAllocate(size); }
//     static void operator delete(void* p, std::size_t size) noexcept { RecycledFree(p, size); }
// Under AddressSanitizer blocks go straight back, so a use after free is still reported.

#include <cstddef>

namespace tarnwick {

void* RecycledAllocate(std::size_t size);
void RecycledFree(void* block, std::size_t size) noexcept;

}  // namespace tarnwick
