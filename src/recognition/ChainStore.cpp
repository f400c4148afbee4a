#include "recognition/ChainStore.h"

#include <cstring>

std::size_t TChainStore::StepBytes() const
{
    std::size_t bytes = 0;
    for (const std::vector<std::uint8_t> &block : Blocks)
        bytes += block.size();
    return bytes;
}

void TChainStore::Append(const std::vector<TPixel> &chain)
{
    if (Blocks.empty() || Blocks.back().size() >= kBlockBytes)
        Blocks.emplace_back();
    std::vector<std::uint8_t> &steps = Blocks.back();
    TChain c;
    c.Offset = (Blocks.size() - 1) << kBlockShift | steps.size();
    c.Size = static_cast<std::uint32_t>(chain.size());
    if (!chain.empty()) {
        c.First = chain.front();
        c.Last = chain.back();
    }
    for (std::size_t k = 1; k < chain.size(); ++k) {
        const std::int64_t dx = std::int64_t(chain[k].X) - chain[k - 1].X, dy = std::int64_t(chain[k].Y) - chain[k - 1].Y;
        if (dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1) {
            steps.push_back(static_cast<std::uint8_t>((dx + 1) * 3 + dy + 1));
        } else {
            std::uint8_t bytes[sizeof(TPixel)];
            std::memcpy(bytes, &chain[k], sizeof(TPixel));
            steps.push_back(kFar);
            steps.insert(steps.end(), bytes, bytes + sizeof(TPixel));
        }
    }
    Chains.push_back(c);
}

void TChainStore::Join(std::vector<TChainStore> &parts)
{
    std::size_t chains = Chains.size();
    for (const TChainStore &part : parts)
        chains += part.Chains.size();
    Chains.reserve(chains);
    for (TChainStore &part : parts) {
        const std::size_t first = Blocks.size();
        for (std::vector<std::uint8_t> &block : part.Blocks)
            Blocks.push_back(std::move(block));
        for (std::size_t k = 0; k < part.Chains.size(); ++k) {
            TChain c = part.Chains[k];
            c.Offset += first << kBlockShift;
            Chains.push_back(c);
        }
        part = TChainStore();
    }
}

bool TChainStore::ReleaseChainsBefore(std::size_t c)
{
    if (ReadUntil.empty()) {
        ReadUntil.assign(Blocks.size(), 0);
        for (std::size_t k = 0; k < Chains.size(); ++k)
            if (Chains[k].Size > 1)
                ReadUntil[Chains[k].Offset >> kBlockShift] = k + 1;
    }
    bool released = false;
    for (std::size_t b = 0; b < Blocks.size(); ++b)
        if (ReadUntil[b] <= c && Blocks[b].capacity() > 0) {
            std::vector<std::uint8_t>().swap(Blocks[b]);
            released = true;
        }
    Chains.ReleaseBefore(c);
    return released;
}

void TChainStore::Read(const TChain &chain, std::vector<TPixel> &out) const
{
    out.resize(chain.Size);
    if (chain.Size == 0)
        return;
    const std::uint8_t *step =
        Blocks[chain.Offset >> kBlockShift].data() + (chain.Offset & ((std::size_t(1) << kBlockShift) - 1));
    TPixel p = chain.First;
    out[0] = p;
    for (std::uint32_t k = 1; k < chain.Size; ++k) {
        if (*step == kFar) {
            std::memcpy(&p, step + 1, sizeof(TPixel));
            step += 1 + sizeof(TPixel);
        } else {
            p.X += *step / 3 - 1;
            p.Y += *step % 3 - 1;
            ++step;
        }
        out[k] = p;
    }
}
