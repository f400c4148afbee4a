#include "app/core/LargeBlock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>

// On Linux a block is a mapping of its own: fresh pages are zero and cost
// nothing until touched, growth moves the pages instead of copying them, and
// the pages can be large ones. The mapped length stands in front of the block.
namespace {

constexpr std::size_t kHeader = 64;
constexpr std::uintptr_t kLargePage = std::uintptr_t(2) << 20;

// The whole mapping, so that it stays one region of the address space (which
// growth needs); the system uses large pages where whole ones fit.
void Advise(void *mapping, std::size_t length)
{
#if defined(MADV_HUGEPAGE)
    if (length >= 2 * kLargePage)
        madvise(mapping, length, MADV_HUGEPAGE);
#else
    (void)mapping;
    (void)length;
#endif
}

bool Length(std::size_t bytes, std::size_t &length)
{
    if (bytes > SIZE_MAX / 2)
        return false;
    length = bytes + kHeader;
    return true;
}

void *Block(void *mapping, std::size_t length)
{
    *static_cast<std::size_t *>(mapping) = length;
    return static_cast<char *>(mapping) + kHeader;
}

void *Mapping(void *block)
{
    return static_cast<char *>(block) - kHeader;
}

} // namespace

namespace LargeBlock {

void *Allocate(std::size_t bytes)
{
    std::size_t length;
    if (!Length(bytes, length))
        return nullptr;
    void *mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return nullptr;
    Advise(mapping, length);
    return Block(mapping, length);
}

void *AllocateZeroed(std::size_t bytes)
{
    return Allocate(bytes);
}

void *Reallocate(void *block, std::size_t bytes)
{
    if (!block)
        return Allocate(bytes);
    std::size_t length;
    if (!Length(bytes, length))
        return nullptr;
    void *old = Mapping(block);
    const std::size_t oldLength = *static_cast<std::size_t *>(old);
    void *mapping = mremap(old, oldLength, length, MREMAP_MAYMOVE);
    if (mapping == MAP_FAILED)
        return nullptr;
    Advise(mapping, length);
    return Block(mapping, length);
}

void Free(void *block)
{
    if (!block)
        return;
    void *mapping = Mapping(block);
    munmap(mapping, *static_cast<std::size_t *>(mapping));
}

} // namespace LargeBlock

#else

namespace LargeBlock {

void *Allocate(std::size_t bytes)
{
    return std::malloc(bytes ? bytes : 1);
}

void *AllocateZeroed(std::size_t bytes)
{
    return std::calloc(bytes ? bytes : 1, 1);
}

void *Reallocate(void *block, std::size_t bytes)
{
    return std::realloc(block, bytes ? bytes : 1);
}

void Free(void *block)
{
    std::free(block);
}

} // namespace LargeBlock

#endif
