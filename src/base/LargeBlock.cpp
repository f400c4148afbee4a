#include "base/LargeBlock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>

// On Linux a block is a mapping of its own: fresh pages are zero and cost
// nothing until touched, growth moves the pages instead of copying them, and
// the pages can be large ones. The mapped length stands in the page in front
// of the block, and the block starts on a large-page boundary.
namespace {

constexpr std::uintptr_t kLargePage = std::uintptr_t(2) << 20;

std::size_t PageSize()
{
    static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return page;
}

// The whole mapping, so that it stays one region of the address space (which
// growth needs); the system uses large pages where whole ones fit.
void Advise(void *mapping, std::size_t length)
{
#if defined(MADV_HUGEPAGE)
    if (length > kLargePage)
        madvise(mapping, length, MADV_HUGEPAGE);
#else
    (void)mapping;
    (void)length;
#endif
}

// Blocks of a megabyte or more take whole large pages: one large page costs
// far less to fault in than the small pages of even half of it.
bool Length(std::size_t bytes, std::size_t &length)
{
    if (bytes > SIZE_MAX / 4)
        return false;
    if (bytes >= kLargePage / 2)
        bytes = (bytes + kLargePage - 1) & ~(kLargePage - 1);
    length = bytes + PageSize();
    return true;
}

// Fresh pages for a block that starts on a large-page boundary, its header
// page just before it. A block placed anywhere (small ones are, and so are the
// ones growth moves) could use large pages only from its first boundary on,
// and a list that grows from a few kilobytes would fault in every small page;
// a header inside the block's large pages would spill each power of two into
// the next one. The address space around it is given back at once.
void *MapAligned(std::size_t length)
{
    const std::size_t page = PageSize();
    const std::uintptr_t mapped = (length + page - 1) / page * page;
    const std::size_t padded = mapped + kLargePage;
    void *raw = mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t mapping = ((start + page + kLargePage - 1) & ~(kLargePage - 1)) - page;
    if (mapping > start)
        munmap(raw, mapping - start);
    if (start + padded > mapping + mapped)
        munmap(reinterpret_cast<void *>(mapping + mapped), start + padded - (mapping + mapped));
    return reinterpret_cast<void *>(mapping);
}

void *Block(void *mapping, std::size_t length)
{
    *static_cast<std::size_t *>(mapping) = length;
    return static_cast<char *>(mapping) + PageSize();
}

void *Mapping(void *block)
{
    return static_cast<char *>(block) - PageSize();
}

// A fresh block of its own mapping, on large pages where whole ones fit
// (`large`) or on small pages only.
void *MapBlock(std::size_t bytes, bool large)
{
    std::size_t length;
    if (!Length(bytes, length))
        return nullptr;
    void *mapping = MapAligned(length);
    if (!mapping)
        return nullptr;
    if (large)
        Advise(mapping, length);
#if defined(MADV_NOHUGEPAGE)
    else
        madvise(mapping, length, MADV_NOHUGEPAGE);
#endif
    return Block(mapping, length);
}

} // namespace

namespace LargeBlock {

void *Allocate(std::size_t bytes)
{
    return MapBlock(bytes, true);
}

void *AllocateZeroed(std::size_t bytes)
{
    return Allocate(bytes);
}

void *AllocateSparse(std::size_t bytes)
{
    return MapBlock(bytes, false);
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
    if (oldLength < kLargePage && length > kLargePage) {
        // From small pages to large ones: the few pages of the old block are
        // copied into a fresh one rather than moved, where they would keep
        // the first large page of the block from being one.
        void *grown = Allocate(bytes);
        if (!grown)
            return nullptr;
        std::memcpy(grown, block, oldLength - PageSize());
        Free(block);
        return grown;
    }
    // In place where the address space after it is free; else the pages move
    // to a fresh aligned place.
    void *mapping = mremap(old, oldLength, length, 0);
    if (mapping == MAP_FAILED) {
        void *target = MapAligned(length);
        if (!target)
            return nullptr;
        mapping = mremap(old, oldLength, length, MREMAP_MAYMOVE | MREMAP_FIXED, target);
        if (mapping == MAP_FAILED) {
            munmap(target, length);
            return nullptr;
        }
    }
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

void Discard(void *from, std::size_t count)
{
    const std::size_t page = PageSize();
    const auto start = reinterpret_cast<std::uintptr_t>(from);
    const std::uintptr_t first = (start + page - 1) / page * page, end = (start + count) / page * page;
    if (count > 0 && end > first)
        madvise(reinterpret_cast<void *>(first), end - first, MADV_DONTNEED);
}

void ReturnFreeHeap()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
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

void *AllocateSparse(std::size_t bytes)
{
    return AllocateZeroed(bytes);
}

void *Reallocate(void *block, std::size_t bytes)
{
    return std::realloc(block, bytes ? bytes : 1);
}

void Free(void *block)
{
    std::free(block);
}

void Discard(void *, std::size_t) {}

void ReturnFreeHeap() {}

} // namespace LargeBlock

#endif
