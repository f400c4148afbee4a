// The CALS plug-in's decoder on arbitrary bytes, called as the program calls
// a plug-in (from memory): the picture information, then the picture. Every
// input must end in a picture of the size the information gave, with a
// header and bits of the sizes they state, or in one of the plug-in's error
// codes: no crash, no hang, no access outside a buffer.
//
//   fuzz-cals -max_len=16384 -timeout=30 <corpus folder>

#include "plugins/SusiePlugin.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Pictures larger than this are left out after their size is read (the
// plug-in takes far larger; decoding them only slows the run).
constexpr std::int64_t kMostPixels = std::int64_t(1) << 24;

std::uint32_t Le32(const std::uint8_t *p)
{
    return p[0] | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The plug-in may read a whole header block: the program pads short data.
    std::vector<char> buffer(data, data + size);
    if (buffer.size() < 2048)
        buffer.resize(2048, 0);
    PictureInfo info{};
    if (GetPictureInfo(buffer.data(), long(size), 1, &info) != SPI_SUCCESS)
        return 0;
    if (info.width <= 0 || info.height <= 0 || std::int64_t(info.width) * info.height > kMostPixels)
        return 0;
    if (info.hInfo)
        SpiFreeHandle(info.hInfo);
    void *header = nullptr, *bits = nullptr;
    const int result = GetPicture(buffer.data(), long(size), 1, &header, &bits, nullptr, 0);
    if (result == SPI_SUCCESS) {
        if (!header || !bits)
            std::abort();
        const auto *h = static_cast<const std::uint8_t *>(SpiLockHandle(header));
        const std::size_t headerSize = SpiHandleSize(header), bitsSize = SpiHandleSize(bits);
        if (headerSize < 40 || std::int32_t(Le32(h + 4)) != info.width || std::int32_t(Le32(h + 8)) != info.height)
            std::abort();
        const std::uint64_t rowSize = (std::uint64_t(info.width) + 31) / 32 * 4;
        if (bitsSize < rowSize * std::uint64_t(info.height))
            std::abort();
        const auto *b = static_cast<const std::uint8_t *>(SpiLockHandle(bits));
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < bitsSize; ++i)
            sum += b[i];
        (void)sum;
        SpiUnlockHandle(bits);
        SpiUnlockHandle(header);
    } else if (header || bits) {
        std::abort();  // a failing plug-in frees what it allocated
    }
    if (header)
        SpiFreeHandle(header);
    if (bits)
        SpiFreeHandle(bits);
    return 0;
}
