#include "cleanup/Centerline.h"

#include "base/Threads.h"
#include "base/TaskPool.h"
#include "cleanup/PixelNeighbours.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using Word = std::uint64_t;

// How many parts InParts makes: a few for each thread, so that a thread
// done early takes another, and one when n is small.
std::size_t PartCount(std::size_t n, int threads, std::size_t smallest)
{
    return threads > 1 && n >= 2 * smallest ? std::min<std::size_t>(4 * std::size_t(threads), n / smallest) : 1;
}

// Calls f(begin, end, part) for PartCount consecutive parts of 0 .. n,
// shared among as many threads (the calling thread's included); one part
// (on the calling thread) when n is small.
template <class F>
void InParts(std::size_t n, int threads, std::size_t smallest, F &&f)
{
    const std::size_t parts = PartCount(n, threads, smallest);
    if (parts <= 1) {
        f(std::size_t(0), n, std::size_t(0));
        return;
    }
    RunTasks(threads, parts, [&](std::size_t p, int) { f(n * p / parts, n * (p + 1) / parts, p); });
}

using PixelNeighbours::TWordPair;

template <class W>
[[gnu::always_inline]] inline W AtLeastTwo(W a, W b, W c, W d)
{
    return (a & b) | (c & d) | ((a | b) & (c | d));
}

// Which pixels of a word go in the given sub-pass, from the word c and its
// eight neighbour words (bit b of each: that neighbour of pixel b): a Word,
// or a TWordPair for two words at once.
template <class W>
[[gnu::always_inline]] inline W DeletableOf(W c, W n, W ne, W nw, W e, W w, W s, W se, W sw, int pass)
{
    // One black run in the ring of neighbours (the pixel joins one piece).
    const W t1 = ~n & (ne | e), t2 = ~e & (se | s), t3 = ~s & (sw | w), t4 = ~w & (nw | n);
    const W onePiece = (t1 ^ t2 ^ t3 ^ t4) & ~AtLeastTwo(t1, t2, t3, t4);
    // Two or three neighbours in both pairings (not an end, not inside).
    const W a1 = nw | n, a2 = ne | e, a3 = se | s, a4 = sw | w;
    const W b1 = n | ne, b2 = e | se, b3 = s | sw, b4 = w | nw;
    const W count = AtLeastTwo(a1, a2, a3, a4) & AtLeastTwo(b1, b2, b3, b4) &
                    ~(a1 & a2 & a3 & a4 & b1 & b2 & b3 & b4);
    const W keep = pass == 0 ? (s | sw | ~nw) & w : (n | ne | ~se) & e;
    return c & onePiece & count & ~keep;
}

// Which pixels of word i of a line go in the given sub-pass, from the line
// above, the line itself and the line below.
[[gnu::always_inline]] inline Word Deletable(const Word *up, const Word *line, const Word *down, int i, int pass)
{
    const Word c = line[i];
    if (!c)
        return 0;
    return DeletableOf(c, up[i], NextPixels(up, i), PreviousPixels(up, i), NextPixels(line, i),
                       PreviousPixels(line, i), down[i], NextPixels(down, i), PreviousPixels(down, i), pass);
}

// Deletable for words i and i + 1 at once (i + 1 < the line's words).
[[gnu::always_inline]] inline TWordPair DeletablePair(const Word *up, const Word *line, const Word *down, int i,
                                                      int pass)
{
    using namespace PixelNeighbours;
    return DeletableOf(PairAt(line, i), PairAt(up, i), NextPixelPairs(up, i), PreviousPixelPairs(up, i),
                       NextPixelPairs(line, i), PreviousPixelPairs(line, i), PairAt(down, i),
                       NextPixelPairs(down, i), PreviousPixelPairs(down, i), pass);
}

// Deletable for word i of lines y and y + 1 at once.
[[gnu::always_inline]] inline TWordPair DeletableBelow(const TBlackMask &mask, int y, int i, int pass)
{
    const Word *l0 = mask.Line(y - 1), *l1 = mask.Line(y), *l2 = mask.Line(y + 1), *l3 = mask.Line(y + 2);
    const auto at = [i](const Word *a, const Word *b) { return TWordPair{a[i], b[i]}; };
    const auto next = [i](const Word *a, const Word *b) { return TWordPair{NextPixels(a, i), NextPixels(b, i)}; };
    const auto previous = [i](const Word *a, const Word *b) {
        return TWordPair{PreviousPixels(a, i), PreviousPixels(b, i)};
    };
    return DeletableOf(at(l1, l2), at(l0, l1), next(l0, l1), previous(l0, l1), next(l1, l2), previous(l1, l2),
                       at(l2, l3), next(l2, l3), previous(l2, l3), pass);
}

// The distance from column x to the nearest white pixel of a line (outside
// the mask is white) at least `from` columns away, or `limit` when there is
// none nearer; a word at a time.
int NearestWhite(const Word *line, int width, int x, int from, int limit)
{
    int right = limit, left = limit;
    for (int p = x + from; p - x < limit; p = (p | 63) + 1) {
        if (p >= width) {
            right = std::max(width, x + from) - x;
            break;
        }
        if (const Word white = ~line[p >> 6] >> (p & 63)) {
            right = std::min(p + std::countr_zero(white), width) - x;
            break;
        }
    }
    for (int p = x - from; x - p < std::min(limit, right); p = (p & ~63) - 1) {
        if (p < 0) {
            left = std::max(x + 1, from);
            break;
        }
        if (const Word white = ~line[p >> 6] << (63 - (p & 63))) {
            left = x - (p - std::countl_zero(white));
            break;
        }
    }
    return std::min({left, right, limit});
}

// Chessboard distance from (x, y) to the nearest white pixel, at most `cap`:
// the nearest of the lines' nearest, from the pixel's line outward.
int Depth(const TBlackMask &mask, int x, int y, int cap)
{
    int best = cap;
    for (int dy = 0; dy < best; ++dy) {
        for (const int line : {y - dy, y + dy}) {
            if (line < 0 || line >= mask.Height()) {
                best = std::min(best, std::max(dy, 1));
                continue;
            }
            const int across = NearestWhite(mask.Line(line), mask.Width(), x, dy == 0 ? 1 : 0, best);
            best = std::min(best, std::max(dy, across));
        }
    }
    return best;
}

// The black pixels of word i of a line with exactly one black neighbour.
// The same of a word or a pair of words c, from their neighbours.
template <class W>
W EndsOf(const PixelNeighbours::TNeighboursOf<W> &n, W c)
{
    W one{}, two{}, three{};
    n.Counts(one, two, three);
    return c & one & ~two;
}

Word EndsIn(const Word *up, const Word *line, const Word *down, int i)
{
    return EndsOf<Word>(PixelNeighbours::TNeighbourWords(up, line, down, i), line[i]);
}

// The black pixels with exactly one black neighbour, line by line from the
// left, as (x, y); the lines in parts over the threads.
std::vector<std::pair<int, int>> LineEnds(const TBlackMask &mask, int threads)
{
    const int height = mask.Height();
    std::vector<std::vector<std::pair<int, int>>> parts(PartCount(std::size_t(height), threads, 256));
    InParts(std::size_t(height), threads, 256, [&](std::size_t begin, std::size_t end, std::size_t part) {
        std::vector<std::pair<int, int>> &ends = parts[part];
        for (int y = int(begin); y < int(end); ++y) {
            PixelNeighbours::ForEachChosenWord(
                mask.Line(y - 1), mask.Line(y), mask.Line(y + 1), mask.Words(),
                [](const auto &n, auto c) { return EndsOf(n, c); },
                [&](int i, Word bits) {
                    for (; bits; bits &= bits - 1)
                        ends.emplace_back(64 * i + std::countr_zero(bits), y);
                });
        }
    });
    std::vector<std::pair<int, int>> ends = std::move(parts[0]);
    for (std::size_t p = 1; p < parts.size(); ++p)
        ends.insert(ends.end(), parts[p].begin(), parts[p].end());
    return ends;
}

} // namespace

namespace CenterlineSteps {

namespace {

// A line of the mask saved with its zero guard words.
class TSavedLine
{
public:
    explicit TSavedLine(int words) : Data(std::size_t(words) + 2, 0) {}
    void Take(const Word *line, int words) { std::copy(line, line + words, Data.data() + 1); }
    const Word *Line() const { return Data.data() + 1; }

private:
    std::vector<Word> Data;
};

// Bit i of line y: word i of line y may change in the coming sub-pass (a word
// around it, or itself, changed in one of the last two).
class TWordFlags
{
public:
    TWordFlags(int height, int words)
        : Stride((words + 63) / 64), Any(std::size_t(height), 0), Bits(std::size_t(height) * std::size_t(Stride), 0)
    {
    }
    Word *Line(int y) { return Bits.data() + std::ptrdiff_t(y) * Stride; }
    const Word *Line(int y) const { return Bits.data() + std::ptrdiff_t(y) * Stride; }
    int Stride;
    std::vector<char> Any;  // whether any bit of the line is set

private:
    std::vector<Word> Bits;
};

// A word of the mask: word I of line Y.
struct TWordAt
{
    int Y;
    int I;
};

// The pixels of a word that a sub-pass removed.
struct TWordChange
{
    int Y;
    int I;
    Word Removed;
};

// The changes of a sub-pass in parts of lines: part p holds those of lines
// BandStart(height, parts, p) up to the next part's first.
using TPartChanges = std::vector<std::vector<TWordChange>>;

// The sub-passes once few words change: only the words with a pixel next to
// a pixel removed in one of the last two sub-passes are tested (any other
// gives what it gave the last time its sub-pass ran: nothing), from lists of
// the words changed instead of flags over the whole mask, until two sub-passes
// in a row remove nothing. `last` and `before` hold the changes of the last
// two sub-passes; `pass` is the next one's. Each part of lines lists and tests
// its own words (on the threads when there are many), then the removals are
// made.
void ThinSparse(TBlackMask &mask, TTaskRounds &rounds, int pass, TPartChanges last, TPartChanges before)
{
    const int words = mask.Words(), height = mask.Height(), stride = (words + 63) / 64;
    const std::size_t parts = last.size();
    const int workers = rounds.Workers();
    TPartChanges now(parts);
    // Each worker's room, on cache lines of its own: the changes near its
    // part of lines, those it finds, and the words it tests.
    struct alignas(64) TRoom
    {
        std::vector<TWordChange> Last, Before, Found;
        std::vector<TWordAt> Candidates;
    };
    std::vector<TRoom> rooms(static_cast<std::size_t>(workers));
    // Whether a word is listed to be tested already, a bit a word, each line
    // in words of its own so that parts never share one.
    std::vector<Word> listed(std::size_t(height) * std::size_t(stride), 0);
    // The changes of `changes` (parts) on lines top - 1 to bottom: the part's
    // own, the last line of the part before and the first of the part after.
    const auto around = [&](const TPartChanges &changes, std::size_t p, int top, int bottom,
                            std::vector<TWordChange> &near) {
        near.clear();
        if (p > 0)
            for (const TWordChange &c : changes[p - 1])
                if (c.Y == top - 1)
                    near.push_back(c);
        near.insert(near.end(), changes[p].begin(), changes[p].end());
        if (p + 1 < parts)
            for (const TWordChange &c : changes[p + 1])
                if (c.Y == bottom)
                    near.push_back(c);
    };
    const auto test = [&](std::size_t p, int worker) {
        const int top = BandStart(height, int(parts), int(p)), bottom = BandStart(height, int(parts), int(p) + 1);
        TRoom &room = rooms[std::size_t(worker)];
        std::vector<TWordChange> &found = room.Found;
        // One part has no neighbours: its lists are read as they are.
        if (parts > 1) {
            around(last, p, top, bottom, room.Last);
            around(before, p, top, bottom, room.Before);
        }
        const std::vector<TWordChange> &a = parts > 1 ? room.Last : last[0], &b = parts > 1 ? room.Before : before[0];
        found.swap(now[p]);
        found.clear();
        // The words of the part near a change, each listed once, then each
        // tested on the mask as it was before the sub-pass.
        std::vector<TWordAt> &candidates = room.Candidates;
        candidates.clear();
        const auto add = [&](int y, int i) {
            if (y < top || y >= bottom || i < 0 || i >= words)
                return;
            Word &flags = listed[std::size_t(y) * std::size_t(stride) + std::size_t(i >> 6)];
            const Word mark = Word(1) << (i & 63);
            if (flags & mark)
                return;
            flags |= mark;
            candidates.push_back(TWordAt{y, i});
        };
        for (const std::vector<TWordChange> *changes : {&a, &b})
            for (const TWordChange &c : *changes)
                for (int y = c.Y - 1; y <= c.Y + 1; ++y) {
                    add(y, c.I);
                    if (c.Removed & 1)
                        add(y, c.I - 1);
                    if (c.Removed >> 63)
                        add(y, c.I + 1);
                }
        // A word and the one below it, listed one after the other as they
        // mostly are, are tested at once.
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            const TWordAt at = candidates[k];
            listed[std::size_t(at.Y) * std::size_t(stride) + std::size_t(at.I >> 6)] = 0;
            if (k + 1 < candidates.size() && candidates[k + 1].Y == at.Y + 1 && candidates[k + 1].I == at.I) {
                listed[std::size_t(at.Y + 1) * std::size_t(stride) + std::size_t(at.I >> 6)] = 0;
                ++k;
                const TWordPair d = DeletableBelow(mask, at.Y, at.I, pass);
                if (d[0])
                    found.push_back(TWordChange{at.Y, at.I, Word(d[0])});
                if (d[1])
                    found.push_back(TWordChange{at.Y + 1, at.I, Word(d[1])});
            } else if (const Word d = Deletable(mask.Line(at.Y - 1), mask.Line(at.Y), mask.Line(at.Y + 1), at.I, pass)) {
                found.push_back(TWordChange{at.Y, at.I, d});
            }
        }
        now[p].swap(found);
    };
    // Below this many changes in the last two sub-passes, one thread does all.
    constexpr std::size_t kShared = 1 << 12;
    for (int quiet = 0; quiet < 2; pass ^= 1) {
        std::size_t count = 0;
        for (std::size_t p = 0; p < parts; ++p)
            count += last[p].size() + before[p].size();
        if (workers > 1 && parts > 1 && count >= kShared) {
            rounds.Run(parts, [&](std::size_t p, int worker) { test(p, worker); });
        } else {
            for (std::size_t p = 0; p < parts; ++p)
                test(p, 0);
        }
        // The removals, few beside the tests, here.
        for (const std::vector<TWordChange> &changes : now)
            for (const TWordChange &c : changes)
                mask.Line(c.Y)[c.I] &= ~c.Removed;
        std::swap(before, last);
        std::swap(last, now);
        bool any = false;
        for (const std::vector<TWordChange> &changes : last)
            any = any || !changes.empty();
        quiet = any ? 0 : quiet + 1;
    }
}

// The words flagged in `flags`, as changes of every pixel, in `parts` parts
// of lines.
TPartChanges FlaggedWords(const TWordFlags &flags, int height, int words, std::size_t parts, TTaskRounds &rounds)
{
    TPartChanges changes(parts);
    rounds.Run(parts, [&](std::size_t p, int) {
        for (int y = BandStart(height, int(parts), int(p)); y < BandStart(height, int(parts), int(p) + 1); ++y) {
            if (!flags.Any[std::size_t(y)])
                continue;
            const Word *line = flags.Line(y);
            for (int k = 0; k < flags.Stride; ++k)
                for (Word bits = line[k]; bits; bits &= bits - 1) {
                    const int i = 64 * k + std::countr_zero(bits);
                    if (i < words)
                        changes[p].push_back(TWordChange{y, i, ~Word(0)});
                }
        }
    });
    return changes;
}

} // namespace

void Thin(TBlackMask &mask, int threads)
{
    const int words = mask.Words(), height = mask.Height();
    if (height == 0 || words == 0)
        return;
    // The picture in bands of lines, a few a thread so that a thread done
    // early takes another. Each sub-pass tests every pixel on the mask as it
    // was before the sub-pass: a band works down its lines in place, keeping
    // the line above as it was, and the lines on either side of each band's
    // edge are saved before the sub-pass starts.
    // Only words near a word that changed in one of the last two sub-passes
    // are tested again (any other gives what it gave the last time its
    // sub-pass ran: nothing), so the result is that of testing every pixel,
    // whatever the bands. Once few words change, the rest goes to ThinSparse.
    // The threads, started once for the many sub-passes.
    TTaskRounds rounds(ThreadsPerPicture(threads));
    const int workers = rounds.Workers();
    const int bands = std::max(1, std::min(4 * workers, height / 64));
    std::vector<int> first(std::size_t(bands) + 1);
    for (int b = 0; b <= bands; ++b)
        first[std::size_t(b)] = BandStart(height, bands, b);
    const TSavedLine blank(words);
    std::vector<TSavedLine> above(std::size_t(bands), blank), below(std::size_t(bands), blank);
    TWordFlags changedBefore(height, words), changedLast(height, words), changedNow(height, words);
    const int stride = changedNow.Stride;
    std::vector<char> bandChanged(std::size_t(bands), 0);
    std::vector<std::size_t> bandWords(std::size_t(bands), 0);
    // The changed words of the last two sub-passes below which the lists
    // take over: a thirty-second of the mask's words, at most 1 << 16.
    const std::size_t fewWords = std::min<std::size_t>(std::size_t(height) * std::size_t(words) / 32, 1 << 16);
    std::size_t wordsBefore = 0;
    int quiet = 0;  // sub-passes in a row that removed nothing
    for (int round = 0, pass = 0; quiet < 2; ++round, pass ^= 1) {
        const bool everyWord = round < 2;
        for (int b = 0; b < bands; ++b) {
            const int top = first[std::size_t(b)], bottom = first[std::size_t(b) + 1];
            above[std::size_t(b)].Take(mask.Line(top - 1), words);
            below[std::size_t(b)].Take(mask.Line(bottom), words);
        }
        const auto band = [&](int b) {
            const int top = first[std::size_t(b)], bottom = first[std::size_t(b) + 1];
            // The deletions of a line are made once the line below has been
            // tested, so that it reads the line as it was.
            std::vector<Word> deletions[2] = {std::vector<Word>(std::size_t(words), 0),
                                              std::vector<Word>(std::size_t(words), 0)};
            std::vector<Word> active(std::size_t(stride), 0);
            const auto remove = [&](int y) {
                Word *line = mask.Line(y);
                const std::vector<Word> &d = deletions[y & 1];
                const Word *flags = changedNow.Line(y);
                for (int k = 0; k < stride; ++k)
                    for (Word bits = flags[k]; bits; bits &= bits - 1) {
                        const int i = 64 * k + std::countr_zero(bits);
                        line[i] &= ~d[std::size_t(i)];
                    }
            };
            bool any = false;
            std::size_t changedWords = 0;
            for (int y = top; y < bottom; ++y) {
                Word *line = mask.Line(y);
                const Word *up = y == top ? above[std::size_t(b)].Line() : mask.Line(y - 1);
                const Word *down = y + 1 == bottom ? below[std::size_t(b)].Line() : mask.Line(y + 1);
                Word *now = changedNow.Line(y);
                std::fill(now, now + stride, Word(0));
                bool lineChanged = false;
                const auto found = [&](int i, Word d) {
                    if (d) {
                        deletions[y & 1][std::size_t(i)] = d;
                        now[i >> 6] |= Word(1) << (i & 63);
                        lineChanged = true;
                        ++changedWords;
                    }
                };
                const auto test = [&](int i) { found(i, Deletable(up, line, down, i, pass)); };
                // Words i and i + 1 (i + 1 < words), two words at a time.
                const auto testPair = [&](int i) {
                    const TWordPair d = DeletablePair(up, line, down, i, pass);
                    found(i, d[0]);
                    found(i + 1, d[1]);
                };
                if (everyWord) {
                    // The white words lose nothing.
                    int i = 0;
                    for (; i + 1 < words; i += 2)
                        if (line[i] | line[i + 1])
                            testPair(i);
                    if (i < words && line[i])
                        test(i);
                } else {
                    bool near = false;
                    for (int yy = std::max(y - 1, 0); yy <= std::min(y + 1, height - 1); ++yy)
                        near = near || changedBefore.Any[std::size_t(yy)] || changedLast.Any[std::size_t(yy)];
                    if (!near) {
                        changedNow.Any[std::size_t(y)] = 0;
                        if (y > top)
                            remove(y - 1);
                        continue;
                    }
                    Word spread = 0;
                    for (int k = 0; k < stride; ++k) {
                        Word w = 0;
                        for (int yy = std::max(y - 1, 0); yy <= std::min(y + 1, height - 1); ++yy)
                            w |= changedBefore.Line(yy)[k] | changedLast.Line(yy)[k];
                        active[std::size_t(k)] = w;
                    }
                    // Each word's neighbours to the left and right.
                    for (int k = 0; k < stride; ++k) {
                        const Word w = active[std::size_t(k)];
                        const Word next = k + 1 < stride ? active[std::size_t(k) + 1] : 0;
                        const Word grown = w | (w << 1) | (w >> 1) | spread | (next << 63);
                        spread = w >> 63;
                        active[std::size_t(k)] = grown;
                    }
                    for (int k = 0; k < stride; ++k)
                        for (Word bits = active[std::size_t(k)]; bits; bits &= bits - 1) {
                            const int b = std::countr_zero(bits), i = 64 * k + b;
                            if (i >= words)
                                break;
                            // Two neighbouring words to test at once.
                            if (b < 63 && ((bits >> (b + 1)) & 1) && i + 1 < words) {
                                bits &= ~(Word(2) << b);
                                testPair(i);
                            } else {
                                test(i);
                            }
                        }
                }
                changedNow.Any[std::size_t(y)] = lineChanged;
                any = any || lineChanged;
                if (y > top)
                    remove(y - 1);
            }
            if (bottom > top)
                remove(bottom - 1);
            bandChanged[std::size_t(b)] = any;
            bandWords[std::size_t(b)] = changedWords;
        };
        rounds.Run(static_cast<std::size_t>(bands),
                 [&](std::size_t b, int) { band(static_cast<int>(b)); });
        bool changed = false;
        for (char c : bandChanged)
            changed = changed || c;
        std::size_t wordsNow = 0;
        for (std::size_t w : bandWords)
            wordsNow += w;
        quiet = changed ? 0 : quiet + 1;
        std::swap(changedBefore, changedLast);
        std::swap(changedLast, changedNow);
        if (round >= 1 && quiet < 2 && wordsNow + wordsBefore <= fewWords) {
            // Parts of lines a few a thread, and not fewer lines than 32.
            const std::size_t parts = std::size_t(workers > 1 ? std::max(1, std::min(16 * workers, height / 32)) : 1);
            ThinSparse(mask, rounds, pass ^ 1, FlaggedWords(changedLast, height, words, parts, rounds),
                       FlaggedWords(changedBefore, height, words, parts, rounds));
            return;
        }
        wordsBefore = wordsNow;
    }
}

namespace {

// The pixels of word i of a line that the staircase removal takes as the
// mask is: no line end, and taking it keeps its neighbours connected and
// opens no hole.
// The same of a word or a pair of words c, from their neighbours.
template <class W>
W CornersOf(const PixelNeighbours::TNeighboursOf<W> &n, W c)
{
    W one{}, two{}, three{};
    n.Counts(one, two, three);
    // Yokoi's 8-connectivity number is 1: exactly one of the four
    // terms white(k) and not both white(k + 1) and white(k + 2).
    const W t0 = ~n.E & (n.NE | n.N), t1 = ~n.N & (n.NW | n.W);
    const W t2 = ~n.W & (n.SW | n.S), t3 = ~n.S & (n.SE | n.E);
    const W oneTerm = (t0 ^ t1 ^ t2 ^ t3) & ~AtLeastTwo(t0, t1, t2, t3);
    return c & two & oneTerm;
}

Word StaircaseCorners(const Word *up, const Word *line, const Word *down, int i)
{
    return CornersOf<Word>(PixelNeighbours::TNeighbourWords(up, line, down, i), line[i]);
}

// The words of a mask with a pixel whose neighbourhood (itself and its eight
// neighbours) changed since the staircase removal last tested it: only those
// can lose a pixel in the next removal. At first every word.
class TStaleWords
{
public:
    // At first the words with a pixel the removal would take as the mask is
    // now (found on `threads` threads): any other word can lose a pixel only
    // once a pixel around it went, which makes it stale.
    TStaleWords(const TBlackMask &mask, int threads)
        : Words(mask.Words()), Height(mask.Height()), Stride((Words + 63) / 64),
          Flags(std::size_t(Stride) * std::size_t(Height), 0), Moved(std::size_t(Stride) * std::size_t(Height), 0)
    {
        InParts(std::size_t(Height), threads, 256, [&](std::size_t begin, std::size_t end, std::size_t) {
            for (int y = int(begin); y < int(end); ++y) {
                Word *flags = Flags.data() + std::size_t(y) * std::size_t(Stride);
                PixelNeighbours::ForEachChosenWord(
                    mask.Line(y - 1), mask.Line(y), mask.Line(y + 1), Words,
                    [](const auto &n, auto c) { return CornersOf(n, c); },
                    [&](int i, Word) { flags[i >> 6] |= Word(1) << (i & 63); });
            }
        });
    }
    // Pixel (x, y) changed.
    void Changed(int x, int y)
    {
        const int first = std::max(x - 1, 0) >> 6, last = std::min(x + 1, 64 * Words - 1) >> 6;
        for (int yy = std::max(y - 1, 0); yy <= std::min(y + 1, Height - 1); ++yy)
            for (int i = first; i <= last; ++i) {
                const std::size_t at = std::size_t(yy) * std::size_t(Stride) + std::size_t(i >> 6);
                Flags[at] |= Word(1) << (i & 63);
                Moved[at] |= Word(1) << (i & 63);
            }
    }
    // LineEnds of the mask: the first time found on every line, then kept
    // but for the words where a pixel changed around them since, which are
    // looked at again.
    const std::vector<std::pair<int, int>> &Ends(const TBlackMask &mask, int threads)
    {
        if (!HaveEnds) {
            KnownEnds = LineEnds(mask, threads);
            HaveEnds = true;
        } else {
            const auto moved = [&](int x, int y) {
                return (Moved[std::size_t(y) * std::size_t(Stride) + std::size_t(x >> 12)] >> ((x >> 6) & 63)) & 1;
            };
            std::vector<std::pair<int, int>> fresh;
            for (int y = 0; y < Height; ++y) {
                const Word *flags = Moved.data() + std::size_t(y) * std::size_t(Stride);
                for (int k = 0; k < Stride; ++k)
                    for (Word bits = flags[k]; bits; bits &= bits - 1) {
                        const int i = 64 * k + std::countr_zero(bits);
                        if (i >= Words)
                            break;
                        for (Word e = EndsIn(mask.Line(y - 1), mask.Line(y), mask.Line(y + 1), i); e; e &= e - 1)
                            fresh.emplace_back(64 * i + std::countr_zero(e), y);
                    }
            }
            std::vector<std::pair<int, int>> ends;
            ends.reserve(KnownEnds.size() + fresh.size());
            const auto before = [](const std::pair<int, int> &a, const std::pair<int, int> &b) {
                return a.second != b.second ? a.second < b.second : a.first < b.first;
            };
            std::size_t f = 0;
            for (const std::pair<int, int> &e : KnownEnds) {
                if (moved(e.first, e.second))
                    continue;
                while (f < fresh.size() && before(fresh[f], e))
                    ends.push_back(fresh[f++]);
                ends.push_back(e);
            }
            ends.insert(ends.end(), fresh.begin() + std::ptrdiff_t(f), fresh.end());
            KnownEnds = std::move(ends);
        }
        std::fill(Moved.begin(), Moved.end(), Word(0));
        return KnownEnds;
    }
    // The first stale word of line y from word i on (Words when none); it is
    // not stale from now on.
    int TakeNext(int y, int i)
    {
        Word *line = Flags.data() + std::size_t(y) * std::size_t(Stride);
        for (int k = i >> 6; k < Stride; ++k) {
            const Word bits = line[k] & (k == i >> 6 ? ~Word(0) << (i & 63) : ~Word(0));
            if (bits) {
                const int b = std::countr_zero(bits);
                line[k] &= ~(Word(1) << b);
                return std::min(64 * k + b, Words);
            }
        }
        return Words;
    }

private:
    int Words, Height, Stride;
    std::vector<Word> Flags;  // bit i of line y's words: word i is stale
    std::vector<Word> Moved;  // the same: a pixel changed around word i since Ends
    std::vector<std::pair<int, int>> KnownEnds;
    bool HaveEnds = false;
};

// RemoveStaircases on the stale words only (every word without `stale`).
void RemoveStaircasesIn(TBlackMask &mask, TStaleWords *stale)
{
    // In place, line by line from the left: each removal sees the ones before
    // it, so two neighbouring corners never both go. The test runs on 64
    // pixels at a time: the first pixel that goes in a word is the first the
    // test finds on the word as it is (no pixel before it changed since), and
    // after each removal the rest of the word is tested again. A word none of
    // whose pixels saw a change around it since its last test loses nothing.
    for (int y = 0; y < mask.Height(); ++y) {
        const Word *up = mask.Line(y - 1), *down = mask.Line(y + 1);
        Word *line = mask.Line(y);
        const int words = mask.Words();
        for (int i = stale ? stale->TakeNext(y, 0) : 0; i < words; i = stale ? stale->TakeNext(y, i + 1) : i + 1) {
            Word from = ~Word(0);  // the pixels not yet passed
            while (line[i] & from) {
                const Word corners = StaircaseCorners(up, line, down, i) & from;
                if (!corners)
                    break;
                const int b = std::countr_zero(corners);
                line[i] &= ~(Word(1) << b);
                if (stale)
                    stale->Changed(64 * i + b, y);
                if (b == 63)
                    break;
                from = ~Word(0) << (b + 1);
            }
        }
    }
}

} // namespace

void RemoveStaircases(TBlackMask &mask, int threads)
{
    TStaleWords stale(mask, threads);
    RemoveStaircasesIn(mask, &stale);
}

namespace {

// When the branch from line end (x0, y0) is a spur, adds its pixels to
// `spurs`; `path` is working room.
void FindSpur(const TBlackMask &mask, const TBlackMask &original, int x0, int y0,
                std::vector<std::pair<int, int>> &path, std::vector<std::pair<int, int>> &spurs)
{
    using namespace PixelNeighbours;
    constexpr int kDepthCap = 256;
    {
        path.clear();
        int x = x0, y = y0, px = -2, py = -2;
        bool spur = false;
        for (;;) {
            const unsigned code = Code(mask, x, y);
            const int count = Count(code);
            if (count >= 3) {
                // A junction: the branch walked so far is a spur when it is no
                // longer than the largest distance to paper around the
                // junction (the stroke's half width and a pixel) and a pixel:
                // when some neighbour's depth reaches `need` (below kDepthCap,
                // as the branch is at most kDepthCap pixels long), which its
                // depth up to `need` tells. A black neighbour lies at most a
                // pixel deeper than the junction (a pixel of the strokes), so
                // when the junction's own depth falls short by more, only the
                // white ones can reach it.
                const int need = static_cast<int>(path.size()) - 1;
                const bool shallow = Depth(original, x, y, need) + 1 < need;
                for (int k = 0; k < 8 && !spur; ++k) {
                    const int nx = x + DX[static_cast<std::size_t>(k)], ny = y + DY[static_cast<std::size_t>(k)];
                    if (!(shallow && original.Black(nx, ny)))
                        spur = Depth(original, nx, ny, need) >= need;
                }
                break;
            }
            path.emplace_back(x, y);
            if (count == 0 || (count == 1 && path.size() > 1))
                break;  // a line on its own
            if (static_cast<int>(path.size()) > kDepthCap)
                break;
            int nx = -2, ny = -2;
            NextAlong(code, x, y, px, py, nx, ny);
            px = x;
            py = y;
            x = nx;
            y = ny;
        }
        if (spur)
            spurs.insert(spurs.end(), path.begin(), path.end());
    }
}

} // namespace

namespace {

// PruneSpurs, telling `stale` (when given) of every pixel cleared.
bool PruneSpursIn(TBlackMask &mask, const TBlackMask &original, int threads, TStaleWords *stale)
{
    using namespace PixelNeighbours;
    std::vector<std::pair<int, int>> own;
    const std::vector<std::pair<int, int>> &ends = stale ? stale->Ends(mask, threads) : (own = LineEnds(mask, threads));
    // The spurs of each part of the ends, found on the mask as it is, then
    // cleared in the order of the ends.
    std::vector<std::vector<std::pair<int, int>>> found(PartCount(ends.size(), threads, 1 << 10));
    InParts(ends.size(), threads, 1 << 10, [&](std::size_t begin, std::size_t end, std::size_t part) {
        std::vector<std::pair<int, int>> path;
        std::vector<std::pair<int, int>> &spurs = found[part];
        for (std::size_t e = begin; e < end; ++e)
            FindSpur(mask, original, ends[e].first, ends[e].second, path, spurs);
    });
    // All found on the same skeleton, so that both prongs of a forked line
    // end go, not only the one found first.
    bool any = false;
    for (const auto &spurs : found) {
        for (auto [sx, sy] : spurs) {
            Clear(mask, sx, sy);
            if (stale)
                stale->Changed(sx, sy);
        }
        any = any || !spurs.empty();
    }
    return any;
}

// ExtendEnds, telling `stale` (when given) of every pixel drawn.
void ExtendEndsIn(TBlackMask &mask, const TBlackMask &original, int threads, TStaleWords *stale);

} // namespace

bool PruneSpurs(TBlackMask &mask, const TBlackMask &original, int threads)
{
    return PruneSpursIn(mask, original, threads, nullptr);
}

void ExtendEnds(TBlackMask &mask, const TBlackMask &original, int threads)
{
    ExtendEndsIn(mask, original, threads, nullptr);
}

namespace {


void ExtendEndsIn(TBlackMask &mask, const TBlackMask &original, int threads, TStaleWords *stale)
{
    using namespace PixelNeighbours;
    constexpr int kBack = 8;      // pixels walked back for the line's direction
    constexpr int kReach = 256;   // longest extension
    std::vector<std::pair<int, int>> own;
    const std::vector<std::pair<int, int>> &ends = stale ? stale->Ends(mask, threads) : (own = LineEnds(mask, threads));
    for (auto [x0, y0] : ends) {
        // Back along the line to find its direction at the end.
        int x = x0, y = y0, px = -2, py = -2, steps = 0;
        while (steps < kBack) {
            const unsigned code = Code(mask, x, y);
            if (Count(code) > 2 || (Count(code) == 1 && steps > 0))
                break;
            int nx = -2, ny = -2;
            NextAlong(code, x, y, px, py, nx, ny);
            if (nx == -2)
                break;
            px = x;
            py = y;
            x = nx;
            y = ny;
            ++steps;
        }
        if (steps < 2)
            continue;
        const double dx = x0 - x, dy = y0 - y, length = std::hypot(dx, dy);
        int lastX = x0, lastY = y0;
        for (int k = 1; k <= kReach; ++k) {
            const int ex = x0 + static_cast<int>(std::lround(k * dx / length));
            const int ey = y0 + static_cast<int>(std::lround(k * dy / length));
            if (ex == lastX && ey == lastY)
                continue;
            if (!original.Black(ex, ey) || mask.Black(ex, ey))
                break;
            // Stop before touching another line.
            const unsigned code = Code(mask, ex, ey);
            const int back = [&] {
                for (int j = 0; j < 8; ++j)
                    if (ex + DX[static_cast<std::size_t>(j)] == lastX && ey + DY[static_cast<std::size_t>(j)] == lastY)
                        return j;
                return -1;
            }();
            if (back < 0 || (code & ~(1u << back) & ~(1u << ((back + 1) & 7)) & ~(1u << ((back + 7) & 7))))
                break;
            mask.SetBlack(ex, ey);
            if (stale)
                stale->Changed(ex, ey);
            lastX = ex;
            lastY = ey;
        }
    }
}

} // namespace

} // namespace CenterlineSteps

TBlackMask Centerline(const TBlackMask &mask, int threads)
{
    using namespace CenterlineSteps;
    // Copied in bands on the threads, which also take the page faults; the
    // white words of the fresh mask are left as they are.
    TBlackMask thin(mask.Width(), mask.Height());
    InParts(std::size_t(mask.Height()), threads, 256, [&](std::size_t begin, std::size_t end, std::size_t) {
        for (int y = int(begin); y < int(end); ++y) {
            const Word *from = mask.Line(y);
            Word *to = thin.Line(y);
            for (int i = 0; i < mask.Words(); ++i)
                if (from[i])
                    to[i] = from[i];
        }
    });
    Thin(thin, threads);
    // Each removal of staircases tests only the words that can lose a pixel:
    // at first those with one it would take, then those around the pixels
    // changed since.
    TStaleWords stale(thin, threads);
    RemoveStaircasesIn(thin, &stale);
    // A spur may fork itself: its prongs go first, then its stem.
    for (int round = 0; round < 4 && PruneSpursIn(thin, mask, threads, &stale); ++round)
        RemoveStaircasesIn(thin, &stale);
    ExtendEndsIn(thin, mask, threads, &stale);
    RemoveStaircasesIn(thin, &stale);
    return thin;
}
