#pragma once

// Records in chunks of a fixed number.
//   TChunks - a list that grows without moving its records and can let go of
//             its first ones.

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

// Records kept in chunks of a fixed number: growing moves none of them (a
// big sheet's hundreds of thousands of records would be held twice while a
// vector of them grew, and take up to twice their room after), and the
// first chunks can go while the later ones are still read.
template <class T> class TChunks
{
public:
    template <class TOwner, class TValue> class TIterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = TValue *;
        using reference = TValue &;
        TIterator(TOwner *owner, std::size_t k) : Owner(owner), K(k) {}
        TValue &operator*() const { return (*Owner)[K]; }
        TValue *operator->() const { return &(*Owner)[K]; }
        TIterator &operator++()
        {
            ++K;
            return *this;
        }
        bool operator==(const TIterator &other) const { return K == other.K; }
        bool operator!=(const TIterator &other) const { return K != other.K; }

    private:
        TOwner *Owner;
        std::size_t K;
    };

    std::size_t size() const { return Count; }
    T &operator[](std::size_t k) { return Chunks[k >> kShift][k & (kChunk - 1)]; }
    const T &operator[](std::size_t k) const { return Chunks[k >> kShift][k & (kChunk - 1)]; }
    template <class... TArgs> void emplace_back(TArgs &&...args)
    {
        if (Count == Chunks.size() * kChunk) {
            Chunks.emplace_back();
            Chunks.back().reserve(kChunk);
        }
        Chunks.back().emplace_back(std::forward<TArgs>(args)...);
        ++Count;
    }
    void push_back(const T &record) { emplace_back(record); }
    void reserve(std::size_t count) { Chunks.reserve((count + kChunk - 1) >> kShift); }
    // Keeps the first `count` records.
    void Shorten(std::size_t count)
    {
        Count = std::min(Count, count);
        Chunks.resize((Count + kChunk - 1) >> kShift);
        if (!Chunks.empty()) {
            std::vector<T> &last = Chunks.back();
            last.erase(last.begin() + static_cast<std::ptrdiff_t>(Count - (Chunks.size() - 1) * kChunk), last.end());
        }
    }
    // Lets go of the chunks that hold only records before record `k`: those
    // are not read again.
    void ReleaseBefore(std::size_t k)
    {
        for (std::size_t chunk = 0; chunk < std::min(k >> kShift, Chunks.size()); ++chunk)
            std::vector<T>().swap(Chunks[chunk]);
    }
    TIterator<TChunks, T> begin() { return {this, 0}; }
    TIterator<TChunks, T> end() { return {this, Count}; }
    TIterator<const TChunks, const T> begin() const { return {this, 0}; }
    TIterator<const TChunks, const T> end() const { return {this, Count}; }

private:
    static constexpr std::size_t kShift = 12, kChunk = std::size_t(1) << kShift;
    std::vector<std::vector<T>> Chunks;
    std::size_t Count = 0;
};
