#pragma once

// A growing array of plain records in large blocks.
//   TPodArray - PushBack, Reserve and Resize throw std::bad_alloc when the
//               block cannot grow; the records are never constructed.

#include "base/LargeBlock.h"

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

// A growing array of plain records for a tracer's working data: grows
// geometrically in place where the system can (LargeBlock), never clears
// what it hands out, and throws std::bad_alloc when it cannot grow.
template <class T>
class TPodArray
{
    static_assert(std::is_trivially_copyable_v<T>);

public:
    std::size_t Size() const { return Count; }
    T *Data() { return Block.get(); }
    const T *Data() const { return Block.get(); }
    T &operator[](std::size_t i) { return Block.get()[i]; }
    const T &operator[](std::size_t i) const { return Block.get()[i]; }

    void PushBack(const T &value)
    {
        if (Count == Room)
            Reserve(Room < 1024 ? 1024 : 2 * Room);
        Block.get()[Count++] = value;
    }
    // Room for `records` records; the contents up to Size() are kept.
    void Reserve(std::size_t records)
    {
        if (records <= Room)
            return;
        void *grown = LargeBlock::Reallocate(Block.get(), records * sizeof(T));
        if (!grown)
            throw std::bad_alloc();
        (void)Block.release();
        Block.reset(static_cast<T *>(grown));
        Room = records;
    }
    // Size() becomes `records`; new records are not cleared.
    void Resize(std::size_t records)
    {
        Reserve(records);
        Count = records;
    }

private:
    struct TFree
    {
        void operator()(T *block) const { LargeBlock::Free(block); }
    };
    std::unique_ptr<T, TFree> Block;
    std::size_t Count = 0;
    std::size_t Room = 0;
};
