#include "recognition/LineTypes.h"

#include "base/LargeBlock.h"
#include "base/TaskPool.h"

#include "recognition/CircleFit.h"

#include <QStringLiteral>

#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cmath>
#include <optional>
#include <cstdint>
#include <limits>
#include <numbers>
#include <numeric>
#include <unordered_map>
#include <vector>

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = kPi / 180;
// Pieces longer than this are no dashes.
constexpr double kLongestPiece = 250;
// Specks of ink at most this many pixels across may be dots.
constexpr int kLargestSpeck = 30;
constexpr double kCell = 32;

double Distance(TPoint2 a, TPoint2 b)
{
    return std::hypot(a.X - b.X, a.Y - b.Y);
}

// The angle of q about c, radians.
double AngleAbout(TCircle c, TPoint2 q)
{
    return std::atan2(q.Y - c.Y, q.X - c.X);
}

// An angle brought into [-pi, pi). (Within two turns of the range the
// remainder is the angle less a turn or none, exactly: fmod's own answer.)
double WrapPi(double a)
{
    constexpr double turn = 2 * kPi;
    a += kPi;
    if (a >= 0 && a < turn)
        return a - kPi;
    if (a >= turn && a < 2 * turn)
        return (a - turn) - kPi;
    if (a < 0 && a > -turn)
        return (a + turn) - kPi;
    a = std::fmod(a, turn);
    if (a < 0)
        a += turn;
    return a - kPi;
}

// Whether pieces along a circle that leave `closing` of it uncovered go all
// round it: the pattern need not divide the circle, so where it meets itself
// the gap is up to one spacing of the pieces longer than the widest other
// (longer still by a piece the scan lost there), give or take a third of
// the mean gap and a pixel.
bool ComesRound(double closing, double widest, double meanGap, double spacing)
{
    return closing <= widest + spacing + 0.35 * meanGap + 1;
}

// A piece that may be a dash or a dot: a short line or arc of the drawing, or
// a speck of ink no entity passes through.
struct TPiece
{
    // (what a walk reads of every piece near it first, in one cache line)
    bool Used = false;
    bool Arc = false;
    bool Small = false;  // every coordinate far below PlaceAnywhere's bound (set once all are collected)
    int Entity = -1;     // index into the drawing's entities; -1 for a speck
    TPoint2 Mid{};
    double Width = 1;    // of the stroke
    double Length = 0;   // of the entity; 0 for a speck
    TPoint2 A{}, B{};
    double ExtA = 0;     // how far the ink reaches past A, past B (a speck: half its size)
    double ExtB = 0;
    bool Dotlike() const { return Length < 4; }
};

// A straight line or a circle pieces are laid along; t runs along it
// (arc length counter-clockwise on a circle, from angle Ref).
struct TTrack
{
    bool Round = false;
    TPoint2 P{};
    double Ux = 1, Uy = 0;
    TCircle C{};
    double Ref = 0;

    TPoint2 At(double t) const
    {
        if (!Round)
            return {P.X + t * Ux, P.Y + t * Uy};
        const double a = Ref + t / C.R;
        return {C.X + C.R * std::cos(a), C.Y + C.R * std::sin(a)};
    }
    // Position along the track, unwrapped near `near` on a circle.
    double T(TPoint2 q, double near) const
    {
        if (!Round)
            return (q.X - P.X) * Ux + (q.Y - P.Y) * Uy;
        const double a = Ref + near / C.R;
        return (a + WrapPi(AngleAbout(C, q) - a) - Ref) * C.R;
    }
    double Offset(TPoint2 q) const
    {
        if (!Round)
            return std::fabs((q.X - P.X) * Uy - (q.Y - P.Y) * Ux);
        return std::fabs(Distance(q, {C.X, C.Y}) - C.R);
    }
};

struct TMember
{
    int Piece;
    double Lo, Hi;   // the ink's extent along the track
};

struct TChain
{
    TTrack Track;
    std::vector<TMember> Members;   // in order along the track
    bool Closed = false;            // a whole circle
    double Width = 1;
    std::vector<double> Elements;   // the pattern, starting with the first member
    int Base = 0;                   // 0 DASHED, 1 CENTER, 2 PHANTOM, 3 DOT
    double Period = 0;
    double Dash = 0;
    std::vector<int> Swallowed;     // pieces within the members' extents
};

// A box of grid cells, inclusive; empty as made.
// Marks of pieces, one set per thread: starting a new round of marking
// gives the round a number above every earlier one of the thread, so the
// earlier marks no longer count (all are cleared only when it wraps).
struct TPieceMarks
{
    std::vector<std::uint32_t> Of;
    std::uint32_t Round = 0;

    void Start(std::size_t pieces)
    {
        if (Of.size() < pieces)
            Of.resize(pieces, 0);
        if (++Round == 0) {
            std::fill(Of.begin(), Of.end(), 0);
            Round = 1;
        }
    }
    bool Marked(int k) const { return Of[static_cast<std::size_t>(k)] == Round; }
    void Mark(int k) { Of[static_cast<std::size_t>(k)] = Round; }
};

struct TCellBox
{
    long X0 = LONG_MAX, X1 = LONG_MIN, Y0 = LONG_MAX, Y1 = LONG_MIN;

    void Add(const TCellBox &b)
    {
        X0 = std::min(X0, b.X0);
        X1 = std::max(X1, b.X1);
        Y0 = std::min(Y0, b.Y0);
        Y1 = std::max(Y1, b.Y1);
    }
    bool Meets(const TCellBox &b) const { return X0 <= b.X1 && b.X0 <= X1 && Y0 <= b.Y1 && b.Y0 <= Y1; }
};

class TFinder
{
public:
    TFinder(TDrawing &drawing, const TBlackMask &ink, double tolerance)
        : Drawing(drawing), Ink(ink), Tolerance(tolerance), Width(ink.Width()), Height(ink.Height())
    {
    }
    // The ink packed: its pixels are read where they lie, each thread
    // keeping the lines it read last unpacked (the pieces and walks read
    // near each other), the specks' search unpacking its band of lines.
    TFinder(TDrawing &drawing, const TPackedMask &ink, double tolerance)
        : Drawing(drawing), PackedInk(&ink), Ink(NoInk), Tolerance(tolerance), Width(ink.Width()),
          Height(ink.Height())
    {
        static std::atomic<std::uint64_t> finders{0};
        Packed = ++finders;
    }

    void Run(int threads, const std::function<bool()> &stop)
    {
        // (the threads started once for the many short rounds of seeds)
        TTaskRounds rounds(threads);
        CollectPieces(rounds);
        std::vector<TChain> chains;
        // Chains seeded from the drawing's entities first, then from specks
        // alone (dotted lines whose dots all came apart from the centre lines).
        // Each seed in order sees the pieces the chains before it took. With
        // threads, the seeds of a window are tried at once against the pieces
        // taken so far, each noting the cells its search looked in; answers
        // are taken in order, and a chain taken voids the later answers whose
        // search looked where one of its pieces lies (those are tried again),
        // so every answer taken is the one the seed gives tried alone in turn.
        const std::size_t window = threads > 1 ? 64 * static_cast<std::size_t>(threads) : 1;
        struct TTry
        {
            TChain Chain;
            TCellBox Looked;
            bool Made = false;
            bool Known = false;
        };
        std::vector<TTry> tries(window);
        for (const bool fromEntities : {true, false}) {
            std::vector<int> seeds;
            for (std::size_t s = 0; s < Pieces.size(); ++s)
                if ((Pieces[s].Entity >= 0) == fromEntities)
                    seeds.push_back(static_cast<int>(s));
            std::vector<std::size_t> todo;
            for (std::size_t next = 0; next < seeds.size();) {
                if (stop && stop())
                    return;
                const std::size_t count = std::min(window, seeds.size() - next);
                todo.clear();
                for (std::size_t i = next; i < next + count; ++i)
                    if (!tries[i % window].Known)
                        todo.push_back(i);
                const auto trySeed = [&](std::size_t k, int) {
                    const std::size_t i = todo[k];
                    const int seed = seeds[i];
                    TTry &t = tries[i % window];
                    t.Chain = TChain();
                    t.Looked = TCellBox();
                    // (noted only while this seed is tried, whatever it throws)
                    struct TNoting
                    {
                        explicit TNoting(TCellBox *box) { Looking = box; }
                        ~TNoting() { Looking = nullptr; }
                        TNoting(const TNoting &) = delete;
                        TNoting &operator=(const TNoting &) = delete;
                    } noting(&t.Looked);
                    t.Made = !Pieces[static_cast<std::size_t>(seed)].Used && Seed(seed, t.Chain);
                    t.Known = true;
                };
                if (todo.size() == 1)
                    trySeed(0, 0);
                else
                    rounds.Run(todo.size(), trySeed);
                const std::size_t end = next + count;
                for (; next < end && tries[next % window].Known; ++next) {
                    TTry &t = tries[next % window];
                    t.Known = false;
                    if (!t.Made || Pieces[static_cast<std::size_t>(seeds[next])].Used)
                        continue;
                    for (const TMember &m : t.Chain.Members) {
                        TPiece &p = Pieces[static_cast<std::size_t>(m.Piece)];
                        p.Used = true;
                        const TCellBox cells = CellsOf(p);
                        for (std::size_t i = next + 1; i < end; ++i)
                            if (tries[i % window].Known && tries[i % window].Looked.Meets(cells))
                                tries[i % window].Known = false;
                    }
                    chains.push_back(std::move(t.Chain));
                }
            }
        }
        // (the circles this thread fitted for seeds, maybe of another
        // drawing's pieces when they were all tried on the others)
        Fitted.clear();
        JoinArcs(chains);
        JoinDotted(chains);
        ExtendDottedArcs(chains);
        for (TChain &chain : chains)
            Swallow(chain);
        Write(chains);
    }

    // Pieces left within a member's extent on the track (a dot or a dash
    // that came apart in pieces side by side, a stub doubling back over a
    // dash's end) go with the chain.
    void Swallow(TChain &chain)
    {
        const double tol = Tol(chain.Width);
        for (const TMember &m : chain.Members) {
            const double t = (m.Lo + m.Hi) / 2;
            for (int k : Near(chain.Track.At(t), (m.Hi - m.Lo) / 2 + tol + 2)) {
                TPiece &p = Pieces[static_cast<std::size_t>(k)];
                TMember placed{k, 0, 0};
                if (p.Used || p.Entity < 0 || !Place(chain.Track, p, t, tol, placed))
                    continue;
                const double ta = chain.Track.T(p.A, t), tb = chain.Track.T(p.B, t);
                if ((placed.Lo < m.Lo - 1.5 || placed.Hi > m.Hi + 1.5) &&
                    (std::min(ta, tb) < m.Lo - 1.5 || std::max(ta, tb) > m.Hi + 1.5))
                    continue;
                p.Used = true;
                chain.Swallowed.push_back(k);
            }
        }
    }

    // Pairs of chains that `join` makes one: the first of the pair becomes
    // the chain it gives and the second goes, until no pair joins.
    template <class TJoin>
    static void JoinPairs(std::vector<TChain> &chains, const TJoin &join)
    {
        for (bool joined = true; joined;) {
            joined = false;
            for (std::size_t i = 0; i < chains.size() && !joined; ++i) {
                for (std::size_t j = 0; j < chains.size() && !joined; ++j) {
                    if (i == j)
                        continue;
                    std::optional<TChain> c = join(chains[i], chains[j]);
                    if (!c)
                        continue;
                    chains[i] = std::move(*c);
                    chains.erase(chains.begin() + static_cast<std::ptrdiff_t>(j));
                    joined = true;
                }
            }
        }
    }

    // Chains of one kind on one circle whose ends come close (a dashed arc
    // whose fit drifted part way) become one.
    void JoinArcs(std::vector<TChain> &chains) const
    {
        JoinPairs(chains, [&](const TChain &a, const TChain &b) -> std::optional<TChain> {
            if (!a.Track.Round || !b.Track.Round || a.Closed || b.Closed || a.Base != b.Base)
                return std::nullopt;
            const double tol = 2 * Tol(std::max(a.Width, b.Width));
            if (Distance({a.Track.C.X, a.Track.C.Y}, {b.Track.C.X, b.Track.C.Y}) > 4 * tol ||
                std::fabs(a.Track.C.R - b.Track.C.R) > 2 * tol)
                return std::nullopt;
            // b's pieces placed after a's end.
            TChain c = a;
            const double end = a.Members.back().Hi;
            bool fits = true;
            for (const TMember &m : b.Members) {
                TMember placed = m;
                if (!Place(c.Track, Pieces[static_cast<std::size_t>(m.Piece)], c.Members.back().Hi + 1, tol, placed) ||
                    placed.Hi <= c.Members.back().Hi + 1 || placed.Lo < c.Members.back().Lo) {
                    fits = false;
                    break;
                }
                c.Members.push_back(placed);
            }
            const double gap = fits ? c.Members[a.Members.size()].Lo - end : 1e300;
            if (!fits || gap > std::max(8 + 3 * a.Width, 2 * a.Period))
                return std::nullopt;
            Refit(c);
            if (!Judge(c))
                return std::nullopt;
            return c;
        });
    }

    // Dotted chains on one line whose dots keep their period across the
    // gap between them (a faint scan lost a dot or two there) become one.
    void JoinDotted(std::vector<TChain> &chains) const
    {
        JoinPairs(chains, [&](const TChain &a, const TChain &b) -> std::optional<TChain> {
            if (a.Track.Round || b.Track.Round || a.Base != 3 || b.Base != 3 ||
                std::fabs(a.Period - b.Period) > 0.15 * std::min(a.Period, b.Period) + 1 ||
                std::fabs(a.Track.Ux * b.Track.Uy - a.Track.Uy * b.Track.Ux) > 0.02)
                return std::nullopt;
            const double tol = Tol(std::max(a.Width, b.Width));
            std::vector<TMember> placed;
            for (const TMember &m : b.Members) {
                TMember q = m;
                if (!Place(a.Track, Pieces[static_cast<std::size_t>(m.Piece)], 0, tol, q))
                    break;
                placed.push_back(q);
            }
            if (placed.size() != b.Members.size())
                return std::nullopt;
            std::sort(placed.begin(), placed.end(), [](const TMember &x, const TMember &y) { return x.Lo < y.Lo; });
            const bool after = placed.front().Lo > a.Members.back().Hi;
            if (!after && placed.back().Hi >= a.Members.front().Lo)
                return std::nullopt;
            const TMember &near = after ? a.Members.back() : placed.back();
            const TMember &far = after ? placed.front() : a.Members.front();
            const double period = (a.Period + b.Period) / 2;
            const double d = (far.Lo + far.Hi - near.Lo - near.Hi) / 2;
            const double k = std::round(d / period);
            if (k < 1 || k > 3 || std::fabs(d - k * period) > 0.25 * period)
                return std::nullopt;
            TChain c = a;
            c.Members.insert(after ? c.Members.end() : c.Members.begin(), placed.begin(), placed.end());
            Refit(c);
            bool on = true;
            for (const TMember &m : c.Members)
                on = on && MidOffset(c.Track, Pieces[static_cast<std::size_t>(m.Piece)]) <= tol;
            if (!on)
                return std::nullopt;
            const double na = static_cast<double>(a.Members.size()), nb = static_cast<double>(b.Members.size());
            c.Period = (a.Period * na + b.Period * nb) / (na + nb);
            c.Elements = {0, -c.Period};
            c.Width = (a.Width * na + b.Width * nb) / (na + nb);
            return c;
        });
    }

    // A dotted arc goes on over the dots past its ends that keep its period
    // across a gap of a dot or two the scan lost (there the walk stopped); one
    // that comes round to its start (ComesRound) is the whole circle.
    void ExtendDottedArcs(std::vector<TChain> &chains)
    {
        for (TChain &c : chains) {
            if (!c.Track.Round || c.Closed || c.Base != 3 || !(c.Period > 1))
                continue;
            const double tol = Tol(c.Width), round = 2 * kPi * c.Track.C.R;
            bool grew = false;
            for (const bool forward : {true, false})
                while (c.Members.back().Hi - c.Members.front().Lo < round - c.Period) {
                    const TMember &end = forward ? c.Members.back() : c.Members.front();
                    const double mid = (end.Lo + end.Hi) / 2;
                    int best = -1;
                    TMember bestMember{};
                    double bestStep = 1e300;
                    for (const int k : Near(c.Track.At(mid + (forward ? 2 : -2) * c.Period), 2 * c.Period + tol + 2)) {
                        const TPiece &p = Pieces[static_cast<std::size_t>(k)];
                        TMember m{k, 0, 0};
                        if (p.Used || !p.Dotlike() || p.Width > 2 * c.Width + 2 || !Place(c.Track, p, mid, tol, m))
                            continue;
                        const double step = forward ? (m.Lo + m.Hi) / 2 - mid : mid - (m.Lo + m.Hi) / 2;
                        const double j = std::round(step / c.Period);
                        if (j < 1 || j > 3 || std::fabs(step - j * c.Period) > 0.25 * c.Period || step >= bestStep)
                            continue;
                        best = k;
                        bestMember = m;
                        bestStep = step;
                    }
                    if (best < 0)
                        break;
                    Pieces[static_cast<std::size_t>(best)].Used = true;
                    if (forward)
                        c.Members.push_back(bestMember);
                    else
                        c.Members.insert(c.Members.begin(), bestMember);
                    grew = true;
                }
            if (!grew)
                continue;
            double widest = 0, sum = 0;
            for (std::size_t i = 1; i < c.Members.size(); ++i) {
                const double gap = c.Members[i].Lo - c.Members[i - 1].Hi;
                widest = std::max(widest, gap);
                sum += gap;
            }
            const double closing = round - (c.Members.back().Hi - c.Members.front().Lo);
            c.Closed = ComesRound(closing, widest, sum / static_cast<double>(c.Members.size() - 1), c.Period);
        }
    }

private:
    // The whole number at or below v for |v| < 1e15 (std::floor's, without
    // the call; a zero's sign aside); v itself beyond.
    static double FloorOf(double v)
    {
        if (!(std::fabs(v) < 1e15))
            return v;
        const double t = static_cast<double>(static_cast<long>(v));
        return t > v ? t - 1 : t;
    }

    bool InkAt(TPoint2 p) const
    {
        // (a whole number far off the sheet, or none, is no ink)
        const double fx = FloorOf(p.X + 0.5), fy = FloorOf(p.Y + 0.5);
        if (!(std::fabs(fx) < 1e15 && std::fabs(fy) < 1e15))
            return false;
        const long x = static_cast<long>(fx);
        const long row = Height - static_cast<long>(fy);
        if (x < 0 || row < 0 || x >= Width || row >= Height)
            return false;
        return Packed ? InkLines().Black(static_cast<int>(x), static_cast<int>(row))
                      : Ink.Black(static_cast<int>(x), static_cast<int>(row));
    }

    // The packed ink's lines as this thread reads them (each thread its
    // own, made again for every finder).
    const TPackedMaskLines &InkLines() const
    {
        thread_local std::uint64_t of = 0;
        thread_local std::optional<TPackedMaskLines> lines;
        if (of != Packed) {
            lines.emplace(*PackedInk);
            of = Packed;
        }
        return *lines;
    }

    // How far the ink reaches from p in direction (dx, dy): the last ink
    // sample's distance, -0.5 when p itself is paper.
    double Reach(TPoint2 p, double dx, double dy, double most) const
    {
        double last = -0.5;
        for (double s = 0; s <= most; s += 0.5) {
            if (!InkAt({p.X + s * dx, p.Y + s * dy}))
                break;
            last = s;
        }
        return last;
    }

    // The pieces of the drawing's entities, measured on the threads a share
    // of the entities each and taken in order; then the specks.
    void CollectPieces(TTaskRounds &rounds)
    {
        // (Each share's pieces counted first, then measured into their
        // places: a big sheet's pieces are not held twice. Room is left for
        // the specks, seldom more than a few in a hundred pieces.)
        constexpr std::size_t kShare = 4096;
        const std::size_t count = Drawing.Entities.size(), shares = (count + kShare - 1) / kShare;
        std::vector<std::size_t> first(shares + 1, Pieces.size());
        for (std::size_t share = 0; share < shares; ++share) {
            first[share + 1] = first[share];
            for (std::size_t i = share * kShare; i < std::min(count, (share + 1) * kShare); ++i)
                first[share + 1] += GivesPiece(Drawing.Entities[i]);
        }
        Pieces.reserve(first[shares] + first[shares] / 32 + 1024);
        Pieces.resize(first[shares]);
        rounds.Run(shares, [&](std::size_t share, int) {
            std::size_t at = first[share];
            for (std::size_t i = share * kShare; i < std::min(count, (share + 1) * kShare); ++i)
                if (const std::optional<TPiece> p = PieceOf(i))
                    Pieces[at++] = *p;
        });
        FileAll(false);
        CollectSpecks(rounds);
        FileAll(true);
        for (TPiece &p : Pieces)
            p.Small = Small(p.Mid.X) && Small(p.Mid.Y) && Small(p.A.X) && Small(p.A.Y) && Small(p.B.X) && Small(p.B.Y);
        // What the measuring and filing took for a while goes back before
        // the search.
        LargeBlock::ReturnFreeHeap();
    }

    // An entity's length along it, as its piece has it.
    static double PieceLength(const TDrawingEntity &e)
    {
        if (e.Kind != TEntityKind::Line)
            return e.R * e.Sweep() * kDegree;
        TPoint2 a, b;
        e.StartPoint(a.X, a.Y);
        e.EndPoint(b.X, b.Y);
        return Distance(a, b);
    }
    // Whether an entity gives a piece: not a circle, not patterned, not too
    // long for a dash.
    static bool GivesPiece(const TDrawingEntity &e)
    {
        return e.Kind != TEntityKind::Circle && e.LineType == 0 && !(PieceLength(e) > kLongestPiece);
    }

    // The piece entity i gives (GivesPiece), measured on the ink.
    std::optional<TPiece> PieceOf(std::size_t i) const
    {
        const TDrawingEntity &e = Drawing.Entities[i];
        if (!GivesPiece(e))
            return std::nullopt;
        TPiece p;
        p.Entity = static_cast<int>(i);
        e.StartPoint(p.A.X, p.A.Y);
        e.EndPoint(p.B.X, p.B.Y);
        double ux = 0, uy = 0, vx = 0, vy = 0;   // directions out of A and out of B
        p.Length = PieceLength(e);
        if (e.Kind == TEntityKind::Line) {
            p.Mid = {(p.A.X + p.B.X) / 2, (p.A.Y + p.B.Y) / 2};
            if (p.Length > 0) {
                vx = (p.B.X - p.A.X) / p.Length;
                vy = (p.B.Y - p.A.Y) / p.Length;
                ux = -vx;
                uy = -vy;
            }
        } else {
            p.Arc = true;
            const double m = (e.StartAngle + e.Sweep() / 2) * kDegree;
            p.Mid = {e.X1 + e.R * std::cos(m), e.Y1 + e.R * std::sin(m)};
            const double a = e.StartAngle * kDegree, b = e.EndAngle * kDegree;
            ux = std::sin(a);
            uy = -std::cos(a);
            vx = -std::sin(b);
            vy = std::cos(b);
        }
        // The stroke's width across its middle; its ink past the ends.
        double nx = -vy, ny = vx;
        if (p.Arc) {
            nx = p.Mid.X - e.X1;
            ny = p.Mid.Y - e.Y1;
            const double l = std::hypot(nx, ny);
            nx /= l;
            ny /= l;
        }
        if (ux == 0 && uy == 0) {   // a point: its speck's size
            p.Width = 1 + Reach(p.Mid, 1, 0, 40) + Reach(p.Mid, -1, 0, 40);
            p.ExtA = p.ExtB = p.Width / 2;
        } else {
            // A piece fitted a little off its stroke (a short arc of a
            // scan bent too much) is measured from the nearest ink across it.
            TPoint2 at = p.Mid;
            for (double s = 0.5; s <= 4 && !InkAt(at); s += 0.5)
                for (const double side : {1.0, -1.0})
                    if (!InkAt(at) && InkAt({p.Mid.X + side * s * nx, p.Mid.Y + side * s * ny}))
                        at = {p.Mid.X + side * s * nx, p.Mid.Y + side * s * ny};
            p.Width = 1 + std::max(0.0, Reach(at, nx, ny, 40)) + std::max(0.0, Reach(at, -nx, -ny, 40));
            const double most = 2 * p.Width + 4;
            p.ExtA = Reach(p.A, ux, uy, most) + 0.5;
            p.ExtB = Reach(p.B, vx, vy, most) + 0.5;
        }
        return p;
    }

    static std::uint64_t Key(long cx, long cy)
    {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(cx)) << 32) | static_cast<std::uint32_t>(cy);
    }
    static long CellOf(double v) { return static_cast<long>(std::floor(v / kCell)); }

    // The cells a piece stands in: its box widened by its ink past the ends.
    static TCellBox CellsOf(const TPiece &p)
    {
        const double reach = std::max(p.ExtA, p.ExtB) + 1;
        double minX = std::min(p.A.X, p.B.X), maxX = std::max(p.A.X, p.B.X);
        double minY = std::min(p.A.Y, p.B.Y), maxY = std::max(p.A.Y, p.B.Y);
        minX = std::min(minX, p.Mid.X) - reach;
        maxX = std::max(maxX, p.Mid.X) + reach;
        minY = std::min(minY, p.Mid.Y) - reach;
        maxY = std::max(maxY, p.Mid.Y) + reach;
        return {CellOf(minX), CellOf(maxX), CellOf(minY), CellOf(maxY)};
    }

    // Files every piece in the cells it stands in, in order: the cells of
    // the sheet (and a margin) in one table, any further out by key; with
    // `middles` also as FileMiddles does (for the walks, once every piece
    // is collected).
    void FileAll(bool middles)
    {
        const long margin = 2 + static_cast<long>(kLongestPiece / kCell);
        GridX0 = CellOf(0) - margin;
        GridY0 = CellOf(0) - margin;
        GridW = CellOf(Width) + margin + 1 - GridX0;
        GridH = CellOf(Height) + margin + 1 - GridY0;
        const std::size_t cells = static_cast<std::size_t>(GridW) * static_cast<std::size_t>(GridH);
        CellStart.assign(cells + 1, 0);
        Cells.clear();
        // (The boxes read again where needed rather than held: a big sheet
        // has hundreds of thousands of pieces.)
        for (std::size_t k = 0; k < Pieces.size(); ++k) {
            const TCellBox b = CellsOf(Pieces[k]);
            for (long cx = b.X0; cx <= b.X1; ++cx)
                for (long cy = b.Y0; cy <= b.Y1; ++cy)
                    if (InGrid(cx, cy))
                        ++CellStart[GridIndex(cx, cy) + 1];
        }
        for (std::size_t c = 0; c < cells; ++c)
            CellStart[c + 1] += CellStart[c];
        CellPieces.resize(CellStart[cells]);
        std::vector<std::uint32_t> fill(CellStart.begin(), CellStart.end() - 1);
        for (std::size_t k = 0; k < Pieces.size(); ++k) {
            const TCellBox b = CellsOf(Pieces[k]);
            for (long cx = b.X0; cx <= b.X1; ++cx)
                for (long cy = b.Y0; cy <= b.Y1; ++cy) {
                    if (InGrid(cx, cy))
                        CellPieces[fill[GridIndex(cx, cy)]++] = static_cast<int>(k);
                    else
                        Cells[Key(cx, cy)].push_back(static_cast<int>(k));
                }
        }
        if (middles)
            FileMiddles();
    }

    // Files every piece once more for the walks along circles: one that
    // reaches at most kReaches[c] cells past the cell of its middle in that
    // cell only, in the c-th table of cells, with its box; a longer one in
    // every cell of its box, in a table of its own; those whose cells leave
    // the grid by themselves. The longest straight piece's length is noted
    // (the sagitta of a chord).
    void FileMiddles()
    {
        const std::size_t cells = static_cast<std::size_t>(GridW) * static_cast<std::size_t>(GridH);
        MidStart.assign(kReachClasses * cells + 1, 0);
        LongStart.assign(cells + 1, 0);
        MidPieces.clear();
        LongPieces.clear();
        OffGrid.clear();
        LongestStraight = 0;
        // (the slot of the middle's cell, or kLong, or kOff)
        constexpr std::size_t kLong = SIZE_MAX - 1, kOff = SIZE_MAX;
        std::vector<std::size_t> slot(Pieces.size(), kOff);
        for (std::size_t k = 0; k < Pieces.size(); ++k) {
            const TPiece &p = Pieces[k];
            if (!p.Arc)
                LongestStraight = std::max(LongestStraight, p.Length);
            const TCellBox b = CellsOf(p);
            if (!InGrid(b.X0, b.Y0) || !InGrid(b.X1, b.Y1) || GridW > 65535 || GridH > 65535) {
                OffGrid.push_back({static_cast<int>(k), b});
                continue;
            }
            const long mx = CellOf(p.Mid.X), my = CellOf(p.Mid.Y);
            const long reach = std::max({mx - b.X0, b.X1 - mx, my - b.Y0, b.Y1 - my});
            std::size_t c = 0;
            while (c < kReachClasses && reach > kReaches[c])
                ++c;
            if (c == kReachClasses) {
                slot[k] = kLong;
                for (long cy = b.Y0; cy <= b.Y1; ++cy)
                    for (long cx = b.X0; cx <= b.X1; ++cx)
                        ++LongStart[GridIndex(cx, cy) + 1];
                continue;
            }
            slot[k] = c * cells + GridIndex(mx, my);
            ++MidStart[slot[k] + 1];
        }
        for (std::size_t c = 0; c < kReachClasses * cells; ++c)
            MidStart[c + 1] += MidStart[c];
        for (std::size_t c = 0; c < cells; ++c)
            LongStart[c + 1] += LongStart[c];
        MidPieces.resize(MidStart[kReachClasses * cells]);
        LongPieces.resize(LongStart[cells]);
        std::vector<std::uint32_t> fill(MidStart.begin(), MidStart.end() - 1);
        std::vector<std::uint32_t> fillLong(LongStart.begin(), LongStart.end() - 1);
        for (std::size_t k = 0; k < Pieces.size(); ++k) {
            const TCellBox b = CellsOf(Pieces[k]);
            if (slot[k] == kLong) {
                for (long cy = b.Y0; cy <= b.Y1; ++cy)
                    for (long cx = b.X0; cx <= b.X1; ++cx)
                        LongPieces[fillLong[GridIndex(cx, cy)]++] = static_cast<int>(k);
            } else if (slot[k] != kOff) {
                MidPieces[fill[slot[k]]++] = {static_cast<std::int32_t>(k), static_cast<std::uint16_t>(b.X0 - GridX0),
                                              static_cast<std::uint16_t>(b.X1 - GridX0),
                                              static_cast<std::uint16_t>(b.Y0 - GridY0),
                                              static_cast<std::uint16_t>(b.Y1 - GridY0),
                                              static_cast<float>(Pieces[k].Mid.X), static_cast<float>(Pieces[k].Mid.Y)};
            }
        }
    }

    bool InGrid(long cx, long cy) const
    {
        return cx >= GridX0 && cy >= GridY0 && cx < GridX0 + GridW && cy < GridY0 + GridH;
    }
    std::size_t GridIndex(long cx, long cy) const
    {
        return static_cast<std::size_t>(cy - GridY0) * static_cast<std::size_t>(GridW) + static_cast<std::size_t>(cx - GridX0);
    }

    // The pieces whose boxes come within `radius` of q, each once, in order.
    std::vector<int> Near(TPoint2 q, double radius) const
    {
        std::vector<int> found;
        NearAnyOrder(q, radius, found);
        std::sort(found.begin(), found.end());
        return found;
    }

    // The same pieces in no particular order, into `found`; with `within`,
    // only those in the cells whose middles lie within it of the stretch
    // from s0 to s1; with `line`, only those whose middles lie no farther
    // than `off` off it.
    void NearAnyOrder(TPoint2 q, double radius, std::vector<int> &found, TPoint2 s0 = {}, TPoint2 s1 = {},
                      double within = -1, const TTrack *line = nullptr, double off = 0) const
    {
        // A long piece stands in many cells: each is taken once, by its mark.
        thread_local TPieceMarks seen;
        seen.Start(Pieces.size());
        const TCellBox box{CellOf(q.X - radius), CellOf(q.X + radius), CellOf(q.Y - radius), CellOf(q.Y + radius)};
        if (Looking)
            Looking->Add(box);
        found.clear();
        const auto take = [&](const int *k, const int *end) {
            for (; k != end; ++k)
                if (!seen.Marked(*k)) {
                    seen.Mark(*k);
                    if (!line || !(line->Offset(Pieces[static_cast<std::size_t>(*k)].Mid) > off))
                        found.push_back(*k);
                }
        };
        const double sx = s1.X - s0.X, sy = s1.Y - s0.Y, ss = sx * sx + sy * sy;
        for (long cy = box.Y0; cy <= box.Y1; ++cy) {
            long x0 = box.X0, x1 = box.X1;
            if (within >= 0 && !StretchRow((static_cast<double>(cy) + 0.5) * kCell - s0.Y, s0.X, sx, sy, within, x0, x1))
                continue;
            for (long cx = x0; cx <= x1; ++cx) {
                if (within >= 0) {
                    const double mx = (static_cast<double>(cx) + 0.5) * kCell - s0.X;
                    const double my = (static_cast<double>(cy) + 0.5) * kCell - s0.Y;
                    const double t = ss > 0 ? std::clamp((mx * sx + my * sy) / ss, 0.0, 1.0) : 0.0;
                    const double dx = mx - t * sx, dy = my - t * sy;
                    if (dx * dx + dy * dy > within * within)
                        continue;
                }
                if (InGrid(cx, cy)) {
                    const std::size_t c = GridIndex(cx, cy);
                    take(CellPieces.data() + CellStart[c], CellPieces.data() + CellStart[c + 1]);
                } else if (!Cells.empty()) {
                    const auto it = Cells.find(Key(cx, cy));
                    if (it != Cells.end())
                        take(it->second.data(), it->second.data() + it->second.size());
                }
            }
        }
    }

    // The cells x0 to x1 of a row narrowed to those whose middles may lie
    // within `within` of the stretch from s0 (its x s0x) by (sx, sy), the
    // row's middle `my` above s0: a middle that does lies within it, and a
    // pixel more, of a point of the stretch along either axis. False when
    // none of the row's may. (Sizes far past a sheet's narrow nothing.)
    static bool StretchRow(double my, double s0x, double sx, double sy, double within, long &x0, long &x1)
    {
        constexpr double kFar = 1e12;
        if (!(std::fabs(my) < kFar && std::fabs(s0x) < kFar && std::fabs(sx) < kFar && std::fabs(sy) < kFar &&
              within < kFar))
            return true;
        const double reach = within + 1;
        double lo = 0, hi = 1;
        if (sy != 0) {
            const double ta = (my - reach) / sy, tb = (my + reach) / sy;
            lo = std::max(lo, std::min(ta, tb));
            hi = std::min(hi, std::max(ta, tb));
        } else if (std::fabs(my) > reach) {
            return false;
        }
        if (lo > hi)
            return false;
        x0 = std::max(x0, static_cast<long>(std::floor((std::min(lo * sx, hi * sx) - reach + s0x) / kCell - 0.5)));
        x1 = std::min(x1, static_cast<long>(std::ceil((std::max(lo * sx, hi * sx) + reach + s0x) / kCell - 0.5)));
        return true;
    }

    // The pieces NearAnyOrder gives for a round track's walk that may lie on
    // the track within `off` (ClearlyOff says no more), and maybe some
    // others it gives, into `found`: a piece whose middle lies within off
    // of the circle (or of the circle its chords' middles lie on) lies in a
    // cell whose middle does within half a cell's diagonal more; it is
    // looked for there, in the cells of its reach about the search's box,
    // and taken when its box comes into the search's. The few long pieces
    // are looked for as NearAnyOrder does.
    void NearCircle(TPoint2 q, double radius, const TCircle &circle, double off, std::vector<int> &found) const
    {
        const TCellBox box{CellOf(q.X - radius), CellOf(q.X + radius), CellOf(q.Y - radius), CellOf(q.Y + radius)};
        if (Looking)
            Looking->Add(box);
        found.clear();
        // The band of the cells' middles: the chords' sagitta, half a
        // cell's diagonal and a pixel more either side.
        const double sagitta = LongestStraight < 2 * circle.R
            ? circle.R - std::sqrt(circle.R * circle.R - LongestStraight * LongestStraight / 4)
            : circle.R;
        const double slack = kCell * std::numbers::sqrt2 / 2 + 1 + 1e-6 * circle.R;
        const double outer = circle.R + off + slack, inner = circle.R - sagitta - off - slack;
        // (a circle far larger than any sheet: every cell of a row)
        const bool huge = !(outer < 1e7);
        // The band of the middles themselves, a pixel wider either side
        // (ClearlyOff turns away every piece whose middle lies outside it).
        const double midOut = circle.R + off + 1 + 1e-6 * circle.R, midIn = circle.R - sagitta - off - 1 - 1e-6 * circle.R;
        const double midOut2 = huge ? HUGE_VAL : midOut * midOut, midIn2 = huge || midIn <= 0 ? -1 : midIn * midIn;
        const std::size_t cells = static_cast<std::size_t>(GridW) * static_cast<std::size_t>(GridH);
        const long most = kReaches[kReachClasses - 1];
        const TCellBox near{box.X0 - GridX0, box.X1 - GridX0, box.Y0 - GridY0, box.Y1 - GridY0};
        for (long cy = std::max(box.Y0 - most, GridY0); cy <= std::min(box.Y1 + most, GridY0 + GridH - 1); ++cy) {
            // The cells of the row whose middles lie in the band: at most
            // two runs of them, each taken a cell wider either side.
            const double dy = (static_cast<double>(cy) + 0.5) * kCell - circle.Y;
            if (!huge && std::fabs(dy) > outer)
                continue;
            long runs[2][2] = {{LONG_MIN, LONG_MAX}, {0, -1}};
            if (!huge) {
                const double out = std::sqrt(outer * outer - dy * dy);
                const double in = inner > std::fabs(dy) ? std::sqrt(inner * inner - dy * dy) : -1;
                if (in < 0) {
                    runs[0][0] = CellOf(circle.X - out) - 1;
                    runs[0][1] = CellOf(circle.X + out) + 1;
                } else {
                    runs[0][0] = CellOf(circle.X - out) - 1;
                    runs[0][1] = CellOf(circle.X - in) + 1;
                    runs[1][0] = CellOf(circle.X + in) - 1;
                    runs[1][1] = CellOf(circle.X + out) + 1;
                }
            }
            for (std::size_t c = 0; c < kReachClasses; ++c) {
                if (cy < box.Y0 - kReaches[c] || cy > box.Y1 + kReaches[c])
                    continue;
                const long x0 = std::max(box.X0 - kReaches[c], GridX0), x1 = std::min(box.X1 + kReaches[c], GridX0 + GridW - 1);
                // (the pieces of a run of cells of a row are filed one
                // after another)
                for (const auto &run : runs) {
                    const long a = std::max(x0, run[0]), b = std::min(x1, run[1]);
                    if (a > b)
                        continue;
                    const std::size_t i = c * cells + GridIndex(a, cy);
                    for (std::uint32_t j = MidStart[i]; j < MidStart[i + static_cast<std::size_t>(b - a) + 1]; ++j) {
                        const TFiledInGrid &f = MidPieces[j];
                        if (!f.Meets(near))
                            continue;
                        const double mx = f.MidX - circle.X, my = f.MidY - circle.Y, d2 = mx * mx + my * my;
                        if (!(d2 > midOut2 || d2 < midIn2))
                            found.push_back(f.Piece);
                    }
                }
            }
        }
        if (!LongPieces.empty()) {
            thread_local TPieceMarks seen;
            seen.Start(Pieces.size());
            for (long cy = std::max(box.Y0, GridY0); cy <= std::min(box.Y1, GridY0 + GridH - 1); ++cy)
                for (long cx = std::max(box.X0, GridX0); cx <= std::min(box.X1, GridX0 + GridW - 1); ++cx) {
                    const std::size_t i = GridIndex(cx, cy);
                    for (std::uint32_t j = LongStart[i]; j < LongStart[i + 1]; ++j)
                        if (!seen.Marked(LongPieces[j])) {
                            seen.Mark(LongPieces[j]);
                            found.push_back(LongPieces[j]);
                        }
                }
        }
        for (const TFiled &f : OffGrid)
            if (f.Box.Meets(box))
                found.push_back(f.Piece);
    }

    // A piece of ink the speck search found in a band of lines: its pixels'
    // count and sums, its box and its first pixel (in order of lines, then
    // of x); an edge piece has pixels on the band's first or last line and
    // may go on past it.
    struct TInk
    {
        std::int64_t Count = 0, SumX = 0, SumY = 0;
        int MinX = INT_MAX, MaxX = INT_MIN, MinY = INT_MAX, MaxY = INT_MIN;
        int FirstX = 0, FirstY = 0;

        void Add(const TInk &o)
        {
            Count += o.Count;
            SumX += o.SumX;
            SumY += o.SumY;
            MinX = std::min(MinX, o.MinX);
            MaxX = std::max(MaxX, o.MaxX);
            MinY = std::min(MinY, o.MinY);
            MaxY = std::max(MaxY, o.MaxY);
            if (std::pair(o.FirstY, o.FirstX) < std::pair(FirstY, FirstX)) {
                FirstX = o.FirstX;
                FirstY = o.FirstY;
            }
        }
    };
    // A run of an edge piece on its band's first or last line.
    struct TEdgeRun
    {
        int X0, X1;
        std::uint32_t Piece;   // of the band's edge pieces
    };
    struct TBand
    {
        std::vector<std::pair<TInk, TPiece>> Specks;   // whole within the band
        std::vector<TInk> Edge;
        std::vector<TEdgeRun> First, Last;
    };

    // The speck a whole piece of ink makes, unless it is too large or too
    // long, or an entity's piece passes through it.
    std::optional<TPiece> SpeckOf(const TInk &ink, std::size_t entityPieces) const
    {
        const int bw = ink.MaxX - ink.MinX + 1, bh = ink.MaxY - ink.MinY + 1;
        if (bw > kLargestSpeck || bh > kLargestSpeck || std::max(bw, bh) > 2 * std::min(bw, bh) + 2)
            return std::nullopt;
        // Drawing units: Y = height - row.
        const double x0 = ink.MinX - 0.5, x1 = ink.MaxX + 0.5, y0 = Height - ink.MaxY - 0.5, y1 = Height - ink.MinY + 0.5;
        thread_local std::vector<int> near;
        NearAnyOrder({(x0 + x1) / 2, (y0 + y1) / 2}, std::max(bw, bh), near);
        for (const int k : near) {
            if (static_cast<std::size_t>(k) >= entityPieces)
                continue;
            const TPiece &p = Pieces[static_cast<std::size_t>(k)];
            for (TPoint2 q : {p.A, p.B, p.Mid})
                if (q.X >= x0 - 1 && q.X <= x1 + 1 && q.Y >= y0 - 1 && q.Y <= y1 + 1)
                    return std::nullopt;
        }
        TPiece speck;
        speck.Mid = {static_cast<double>(ink.SumX) / static_cast<double>(ink.Count),
                     Height - static_cast<double>(ink.SumY) / static_cast<double>(ink.Count)};
        speck.A = speck.B = speck.Mid;
        speck.Width = std::min(bw, bh);
        speck.ExtA = speck.ExtB = std::max(bw, bh) / 2.0;
        return speck;
    }

    // Small pieces of ink no piece passes through: dots the centre lines
    // lost, in the order of their first pixels. The lines are searched in
    // bands on the threads; the pieces of ink on a band's first or last line
    // are joined with those they touch across it after.
    void CollectSpecks(TTaskRounds &rounds)
    {
        const int h = Height;
        // (Bands of at most about 512 lines: each holds its own lines'
        // ink and marks while it is searched.)
        const int bands = std::max(1, std::min(std::max(4 * rounds.Workers(), h / 512), h / 256));
        std::vector<TBand> found(static_cast<std::size_t>(bands));
        const std::size_t entityPieces = Pieces.size();
        const auto firstLine = [&](int band) { return static_cast<int>(static_cast<std::int64_t>(h) * band / bands); };
        rounds.Run(found.size(), [&](std::size_t band, int) {
            SearchBand(firstLine(static_cast<int>(band)), firstLine(static_cast<int>(band) + 1), entityPieces, found[band]);
        });
        // The edge pieces joined across the bands' borders (by the runs on
        // the lines either side that touch, diagonally too), each whole
        // piece made once at its root.
        std::vector<std::uint32_t> firstEdge(found.size() + 1, 0);
        for (std::size_t b = 0; b < found.size(); ++b)
            firstEdge[b + 1] = firstEdge[b] + static_cast<std::uint32_t>(found[b].Edge.size());
        std::vector<std::uint32_t> parent(firstEdge.back());
        std::iota(parent.begin(), parent.end(), 0u);
        const auto root = [&](std::uint32_t i) {
            while (parent[i] != i)
                i = parent[i] = parent[parent[i]];
            return i;
        };
        for (std::size_t b = 0; b + 1 < found.size(); ++b) {
            const std::vector<TEdgeRun> &above = found[b].Last, &below = found[b + 1].First;
            for (std::size_t i = 0, j = 0; i < above.size() && j < below.size();) {
                const TEdgeRun &u = above[i], &v = below[j];
                if (u.X0 <= v.X1 + 1 && v.X0 <= u.X1 + 1) {
                    const std::uint32_t a = root(firstEdge[b] + u.Piece), c = root(firstEdge[b + 1] + v.Piece);
                    if (a != c)
                        parent[std::max(a, c)] = std::min(a, c);
                }
                // (the run that ends first touches no later run of the other line)
                if (u.X1 < v.X1)
                    ++i;
                else
                    ++j;
            }
        }
        std::vector<TInk> joined(parent.size());
        std::vector<bool> isRoot(parent.size());
        for (std::size_t b = 0; b < found.size(); ++b)
            for (std::size_t k = 0; k < found[b].Edge.size(); ++k) {
                const std::uint32_t i = firstEdge[b] + static_cast<std::uint32_t>(k), r = root(i);
                if (r == i) {
                    joined[r] = found[b].Edge[k];
                    isRoot[r] = true;
                } else {
                    joined[r].Add(found[b].Edge[k]);
                }
            }
        std::vector<std::pair<TInk, TPiece>> specks;
        for (std::size_t i = 0; i < joined.size(); ++i)
            if (isRoot[i])
                if (const std::optional<TPiece> speck = SpeckOf(joined[i], entityPieces))
                    specks.push_back({joined[i], *speck});
        for (TBand &band : found) {
            specks.insert(specks.end(), band.Specks.begin(), band.Specks.end());
            band = TBand();
        }
        std::sort(specks.begin(), specks.end(), [](const auto &a, const auto &b) {
            return std::pair(a.first.FirstY, a.first.FirstX) < std::pair(b.first.FirstY, b.first.FirstX);
        });
        Pieces.reserve(Pieces.size() + specks.size());
        for (const auto &speck : specks)
            Pieces.push_back(speck.second);
    }

    // The pieces of ink whose first pixels lie on lines y0 .. y1 - 1,
    // searched on those lines alone: each is taken run by run from its
    // first pixel (in order of lines, then of x): a run's pixels are black
    // side by side along a line, and the runs of the lines above and below
    // that touch it (diagonally too) are of the piece. (Words of 64 pixels
    // at a time: the lines' guard words are paper.)
    void SearchBand(int y0, int y1, std::size_t entityPieces, TBand &band) const
    {
        const int w = Width;
        // (A packed ink's lines of the band unpacked: the search reads only them.)
        TBlackMask bandInk;
        if (Packed) {
            bandInk = TBlackMask(w, y1 - y0);
            for (int y = y0; y < y1; ++y)
                PackedInk->UnpackLine(y, bandInk.Line(y - y0));
        }
        const auto inkLine = [&](int y) { return Packed ? bandInk.Line(y - y0) : Ink.Line(y); };
        const int words = (w + 63) / 64;
        // Fresh zero pages, a line's only once it is marked, given back once
        // the search has passed it: a piece never reaches a line above its
        // first pixel, and all ink above the line searched was taken.
        TBlackMask seen(w, y1 - y0);
        int kept = y0;  // lines from here on are held
        const auto seenLine = [&](int y) { return seen.Line(y - y0); };
        // The bits of word i that stand for pixels a .. b.
        const auto within = [](int i, int a, int b) {
            const int lo = std::max(a - 64 * i, 0), hi = std::min(b - 64 * i, 63);
            return lo > hi ? std::uint64_t{0} : (~std::uint64_t{0} >> (63 - hi)) & (~std::uint64_t{0} << lo);
        };
        std::vector<std::pair<int, int>> stack;
        for (int y = y0; y < y1; ++y) {
            if (y - kept >= 64) {
                seen.DiscardLines(kept - y0, y - y0);
                kept = y;
            }
            const std::uint64_t *line = inkLine(y);
            for (int word = 0; word < words; ++word) {
                for (;;) {
                    const std::uint64_t bits = line[word] & ~seenLine(y)[word];
                    if (!bits)
                        break;
                    const int x = word * 64 + std::countr_zero(bits);
                    if (x >= w)
                        break;
                    TInk ink;
                    ink.FirstX = ink.MinX = ink.MaxX = x;
                    ink.FirstY = ink.MinY = ink.MaxY = y;
                    const std::uint32_t edge = static_cast<std::uint32_t>(band.Edge.size());
                    bool onEdge = false;
                    stack.assign(1, {x, y});
                    while (!stack.empty()) {
                        const auto [px, py] = stack.back();
                        stack.pop_back();
                        std::uint64_t *marks = seenLine(py);
                        if ((marks[px >> 6] >> (px & 63)) & 1)
                            continue;
                        // The run: from the paper before px to the paper after it.
                        const std::uint64_t *row = inkLine(py);
                        int i = px >> 6;
                        std::uint64_t paper = ~row[i] & ((std::uint64_t{1} << (px & 63)) - 1);
                        while (!paper)
                            paper = ~row[--i];
                        const int r0 = 64 * i + 64 - std::countl_zero(paper);
                        i = px >> 6;
                        paper = ~row[i] & ~((std::uint64_t{2} << (px & 63)) - 1);
                        while (!paper)
                            paper = ~row[++i];
                        const int r1 = 64 * i + std::countr_zero(paper) - 1;
                        const std::int64_t n = r1 - r0 + 1;
                        for (int j = r0 >> 6; j <= r1 >> 6; ++j)
                            marks[j] |= within(j, r0, r1);
                        ink.Count += n;
                        ink.SumX += (static_cast<std::int64_t>(r0) + r1) * n / 2;
                        ink.SumY += static_cast<std::int64_t>(py) * n;
                        ink.MinX = std::min(ink.MinX, r0);
                        ink.MaxX = std::max(ink.MaxX, r1);
                        ink.MinY = std::min(ink.MinY, py);
                        ink.MaxY = std::max(ink.MaxY, py);
                        if (py == y0 || py == y1 - 1) {
                            onEdge = true;
                            (py == y0 ? band.First : band.Last).push_back({r0, r1, edge});
                        }
                        // The runs of the lines either side that start
                        // within one pixel of this one (or run into it),
                        // not yet taken, by their first pixel there.
                        for (const int qy : {py - 1, py + 1}) {
                            if (qy < y || qy >= y1)
                                continue;
                            const int lo = std::max(0, r0 - 1), hi = std::min(w - 1, r1 + 1);
                            const std::uint64_t *q = inkLine(qy);
                            const std::uint64_t *qs = seenLine(qy);
                            for (int j = lo >> 6; j <= hi >> 6; ++j) {
                                std::uint64_t starts = q[j] & ~((q[j] << 1) | (q[j - 1] >> 63));
                                if (j == lo >> 6)
                                    starts |= q[j] & (std::uint64_t{1} << (lo & 63));
                                for (std::uint64_t b = starts & ~qs[j] & within(j, lo, hi); b; b &= b - 1)
                                    stack.push_back({64 * j + std::countr_zero(b), qy});
                            }
                        }
                    }
                    if (onEdge)
                        band.Edge.push_back(ink);
                    else if (const std::optional<TPiece> speck = SpeckOf(ink, entityPieces))
                        band.Specks.push_back({ink, *speck});
                }
            }
        }
        const auto byX = [](const TEdgeRun &a, const TEdgeRun &b) { return a.X0 < b.X0; };
        std::sort(band.First.begin(), band.First.end(), byX);
        std::sort(band.Last.begin(), band.Last.end(), byX);
    }

    double Tol(double width) const { return std::max(1.5, std::max(Tolerance, 0.5 * width)); }

    // Whether ink lies across the track at t, within the stroke's width
    // and a pixel either side of it.
    bool InkAcross(const TTrack &track, double t, double width) const
    {
        const TPoint2 q = track.At(t);
        double nx = 0, ny = 0;
        if (track.Round) {
            nx = (q.X - track.C.X) / track.C.R;
            ny = (q.Y - track.C.Y) / track.C.R;
        } else {
            nx = -track.Uy;
            ny = track.Ux;
        }
        const double half = width / 2 + 1;
        for (double s = -half; s <= half; s += 0.5)
            if (InkAt({q.X + s * nx, q.Y + s * ny}))
                return true;
        return false;
    }

    // How far the piece's middle lies off the track; a straight piece on a
    // circle is a chord, whose middle lies inside by its sagitta.
    static double MidOffset(const TTrack &track, const TPiece &p)
    {
        const double off = track.Offset(p.Mid);
        if (!track.Round || p.Arc || !(p.Length < 2 * track.C.R))
            return off;
        const double sagitta = track.C.R - std::sqrt(track.C.R * track.C.R - p.Length * p.Length / 4);
        return std::min(off, std::fabs(Distance(p.Mid, {track.C.X, track.C.Y}) - (track.C.R - sagitta)));
    }

    // Whether q lies farther than tol from the circle of radius r about c by
    // a clear margin: a test without a root, for pieces far off a round track.
    static bool ClearOf(TCircle c, double r, TPoint2 q, double tol)
    {
        const double dx = q.X - c.X, dy = q.Y - c.Y;
        const double d2 = dx * dx + dy * dy;
        const double out = r + tol, in = r - tol;
        return d2 > out * out * (1 + 1e-9) || (in > 0 && d2 < in * in * (1 - 1e-9));
    }

    // Whether the piece's middle lies off the round track by more than tol
    // by a clear margin (MidOffset would say more than tol).
    static bool ClearlyOff(const TTrack &track, const TPiece &p, double tol)
    {
        if (!ClearOf(track.C, track.C.R, p.Mid, tol))
            return false;
        if (p.Arc || !(p.Length < 2 * track.C.R))
            return true;
        // (outside the circle it lies outside the circle of the chords'
        // middles as well, which is no larger)
        const double dx = p.Mid.X - track.C.X, dy = p.Mid.Y - track.C.Y, out = track.C.R + tol;
        if (dx * dx + dy * dy > out * out * (1 + 1e-9))
            return true;
        const double sagitta = track.C.R - std::sqrt(track.C.R * track.C.R - p.Length * p.Length / 4);
        return ClearOf(track.C, track.C.R - sagitta, p.Mid, tol);
    }

    // Whether q lies within tol of the circle of radius r about c by a
    // clear margin (a billionth of the sizes at hand, far more than the
    // rounding of either test): a test without a root, for pieces on a
    // round track (Offset would say no more than tol).
    static bool ClearlyNear(TCircle c, double r, TPoint2 q, double tol)
    {
        const double dx = q.X - c.X, dy = q.Y - c.Y;
        const double d2 = dx * dx + dy * dy;
        const double margin = 1e-9 * (r + tol + std::fabs(c.X) + std::fabs(c.Y) + std::fabs(q.X) + std::fabs(q.Y) + 1);
        const double out = r + tol - margin, in = r - tol + margin;
        return d2 <= std::numeric_limits<double>::max() && out > 0 && d2 <= out * out && (in <= 0 || d2 >= in * in);
    }

    // Whether q lies farther than tol off the track.
    static bool OffTrack(const TTrack &track, TPoint2 q, double tol)
    {
        if (track.Round && ClearlyNear(track.C, track.C.R, q, tol))
            return false;
        return track.Offset(q) > tol;
    }

    // The piece's extent along the track and whether it lies on it.
    bool Place(const TTrack &track, const TPiece &p, double near, double tol, TMember &m) const
    {
        if (track.Round && ClearlyOff(track, p, tol))
            return false;
        // (a middle clearly near the circle is near it, whatever the chord)
        if (!(track.Round && ClearlyNear(track.C, track.C.R, p.Mid, tol)) && MidOffset(track, p) > tol)
            return false;
        if (!p.Dotlike() && (OffTrack(track, p.A, tol) || OffTrack(track, p.B, tol)))
            return false;
        return Extent(track, p, near, tol, m);
    }

    // Place with no bound on how far off the track the piece may lie (as
    // a refit places its pieces again): where every coordinate is far
    // below the bound's square root, no test of the distances can fail.
    bool PlaceAnywhere(const TTrack &track, const TPiece &p, double near, TMember &m) const
    {
        if (!SmallTrack(track) || !p.Small)
            return Place(track, p, near, 1e300, m);
        return Extent(track, p, near, 1e300, m);
    }
    static bool Small(double v) { return std::fabs(v) < 1e100; }
    static bool SmallTrack(const TTrack &track)
    {
        return track.Round ? Small(track.C.X) && Small(track.C.Y) && Small(track.C.R)
                           : Small(track.P.X) && Small(track.P.Y) && Small(track.Ux) && Small(track.Uy);
    }

    // Place with tol, or where that fails with `wide` (refit then true): the
    // distances off the track and the extent along it that both read are
    // reckoned once.
    bool PlaceEither(const TTrack &track, const TPiece &p, double near, double tol, double wide, TMember &m,
                     bool &refit) const
    {
        std::optional<double> midOff, offA, offB;
        const auto offTrack = [&](TPoint2 q, std::optional<double> &off, double t) {
            if (track.Round && ClearlyNear(track.C, track.C.R, q, t))
                return false;
            if (!off)
                off = track.Offset(q);
            return *off > t;
        };
        const auto onTrack = [&](double t) {
            if (track.Round && ClearlyOff(track, p, t))
                return false;
            if (!(track.Round && ClearlyNear(track.C, track.C.R, p.Mid, t))) {
                if (!midOff)
                    midOff = MidOffset(track, p);
                if (*midOff > t)
                    return false;
            }
            return p.Dotlike() || !(offTrack(p.A, offA, t) || offTrack(p.B, offB, t));
        };
        // (the extent's test of the run along the track, as Extent makes it)
        std::optional<double> along;
        const auto extent = [&](double t) {
            if (!along)
                along = Span(track, p, near, m);
            return p.Dotlike() || *along >= 0.8 * p.Length - t;
        };
        refit = false;
        if (onTrack(tol) && extent(tol))
            return true;
        refit = true;
        return onTrack(wide) && extent(wide);
    }

    // The piece's extent along the track near `near`, once it is known to
    // lie on it within tol; false for a piece across it.
    static bool Extent(const TTrack &track, const TPiece &p, double near, double tol, TMember &m)
    {
        const double along = Span(track, p, near, m);
        return p.Dotlike() || along >= 0.8 * p.Length - tol;
    }

    // The piece's extent along the track near `near` into m, and how far
    // it runs along it (a dot-like piece: 0).
    static double Span(const TTrack &track, const TPiece &p, double near, TMember &m)
    {
        if (p.Dotlike()) {
            const double t = track.T(p.Mid, near);
            const double r = p.Entity < 0 ? p.ExtA : std::max(p.ExtA, p.ExtB) + p.Length / 2;
            m.Lo = t - r;
            m.Hi = t + r;
            return 0;
        }
        const double ta = track.T(p.A, near), tb = track.T(p.B, near);
        if (ta <= tb) {
            m.Lo = ta - p.ExtA;
            m.Hi = tb + p.ExtB;
        } else {
            m.Lo = tb - p.ExtB;
            m.Hi = ta + p.ExtA;
        }
        // A piece across the track (or a circle's piece bent the other way) is no dash on it.
        return std::fabs(tb - ta);
    }

    // The circle fitted to the points of the chain's pieces: the tracks a
    // seed tries often come to the same pieces, whose circle is then looked
    // up (the points are those of the pieces in order, the same for the
    // same pieces).
    static TCircle FitOf(const TChain &chain, const std::vector<TPoint2> &points)
    {
        thread_local std::vector<int> key;
        key.clear();
        for (const TMember &m : chain.Members)
            key.push_back(m.Piece);
        const auto [it, fresh] = Fitted.try_emplace(key);
        if (fresh)
            it->second = FitCircle(points.data(), points.size());
        return it->second;
    }

    // Fits the track to the chain's pieces.
    void Refit(TChain &chain) const
    {
        TTrack &track = chain.Track;
        if (!track.Round) {
            // (the points read from the pieces in order, as gathered for a circle)
            std::size_t count = 0;
            double mx = 0, my = 0;
            for (const TMember &m : chain.Members) {
                const TPiece &p = Pieces[static_cast<std::size_t>(m.Piece)];
                mx += p.Mid.X;
                my += p.Mid.Y;
                ++count;
                if (!p.Dotlike()) {
                    mx += p.A.X;
                    my += p.A.Y;
                    mx += p.B.X;
                    my += p.B.Y;
                    count += 2;
                }
            }
            if (count < 2)
                return;
            mx /= static_cast<double>(count);
            my /= static_cast<double>(count);
            double sxx = 0, syy = 0, sxy = 0;
            const auto add = [&](TPoint2 q) {
                sxx += (q.X - mx) * (q.X - mx);
                syy += (q.Y - my) * (q.Y - my);
                sxy += (q.X - mx) * (q.Y - my);
            };
            for (const TMember &m : chain.Members) {
                const TPiece &p = Pieces[static_cast<std::size_t>(m.Piece)];
                add(p.Mid);
                if (!p.Dotlike()) {
                    add(p.A);
                    add(p.B);
                }
            }
            const double a = 0.5 * std::atan2(2 * sxy, sxx - syy);
            double ux = std::cos(a), uy = std::sin(a);
            if (ux * track.Ux + uy * track.Uy < 0) {
                ux = -ux;
                uy = -uy;
            }
            // Keep t where it was: the new origin is the old one's foot.
            const TPoint2 old = track.P;
            track.Ux = ux;
            track.Uy = uy;
            const double t = (old.X - mx) * ux + (old.Y - my) * uy;
            track.P = {mx + t * ux, my + t * uy};
        } else {
            thread_local std::vector<TPoint2> points;
            points.resize(3 * chain.Members.size());
            std::size_t count = 0;
            for (const TMember &m : chain.Members) {
                const TPiece &p = Pieces[static_cast<std::size_t>(m.Piece)];
                points[count++] = p.Mid;
                if (!p.Dotlike()) {
                    points[count++] = p.A;
                    points[count++] = p.B;
                }
            }
            points.resize(count);
            if (points.size() < 5)
                return;
            const TCircle c = FitOf(chain, points);
            if (c.Valid && c.R > 3 && std::isfinite(c.R)) {
                // Keep t where it was at the middle member: the angles are
                // counted from a new reference about the new centre.
                const TMember &mid = chain.Members[chain.Members.size() / 2];
                const double t = (mid.Lo + mid.Hi) / 2;
                const TPoint2 q = track.At(t);
                track.C = c;
                track.Ref = AngleAbout(c, q) - t / c.R;
            }
        }
        // (PlaceAnywhere's test of the track made once)
        const bool small = SmallTrack(track);
        for (TMember &m : chain.Members) {
            const TPiece &p = Pieces[static_cast<std::size_t>(m.Piece)];
            TMember placed = m;
            if (small && p.Small ? Extent(track, p, (m.Lo + m.Hi) / 2, 1e300, placed)
                                 : PlaceAnywhere(track, p, (m.Lo + m.Hi) / 2, placed))
                m = placed;
        }
    }

    // Walks from the chain's end (forward) or start, adding the next piece
    // along the track while the gaps stay short; false where it came onto a
    // solid stroke (SolidRun) and stopped there.
    bool Walk(TChain &chain, bool forward) const
    {
        for (;;) {
            double width = 0, longest = 0;
            for (const TMember &m : chain.Members) {
                width = std::max(width, Pieces[static_cast<std::size_t>(m.Piece)].Width);
                longest = std::max(longest, m.Hi - m.Lo);
            }
            const double tol = Tol(width);
            const double maxGap = std::min(200.0, std::max(8 + 3 * width, 0.8 * longest));
            const double end = forward ? chain.Members.back().Hi : chain.Members.front().Lo;
            if (chain.Track.Round && chain.Members.back().Hi - chain.Members.front().Lo > 2 * kPi * chain.Track.C.R)
                return true;
            int best = -1;
            TMember bestMember{};
            double bestGap = 1e300;
            // The nearest piece wins, the first in order among equals.
            thread_local std::vector<int> near;
            if (chain.Track.Round) {
                NearCircle(chain.Track.At(end), maxGap + tol + 2, chain.Track.C, 2.5 * tol, near);
            } else {
                // A piece that may come next on a straight track has ink
                // within tol of the track where a gap up to maxGap reaches,
                // in a cell that comes near that stretch of it, and its
                // middle within tol of the track (as Place finds).
                const double from = forward ? end + 0.5 : end - maxGap - 0.5;
                const double to = forward ? end + maxGap + 0.5 : end - 0.5;
                NearAnyOrder(chain.Track.At(end), maxGap + tol + 2, near, chain.Track.At(from), chain.Track.At(to), tol + 25,
                             &chain.Track, tol);
            }
            // The chain's own pieces are marked.
            thread_local TPieceMarks member;
            member.Start(Pieces.size());
            for (const TMember &r : chain.Members)
                member.Mark(r.Piece);
            // A circle fitted to a few pieces of a scan drifts off: a piece
            // a little further off joins when the circle refitted through
            // it passes every piece within the tolerance. (A line through
            // dots refitted so would follow a dotted circle's chords.) Those
            // wait until the pieces on the track are known, and are tried
            // nearest first, while they would win.
            struct TFurther
            {
                double Gap;
                TMember Member;
            };
            thread_local std::vector<TFurther> further;
            further.clear();
            for (const int k : near) {
                const TPiece &p = Pieces[static_cast<std::size_t>(k)];
                // (the chain's own pieces, and those far wider or narrower
                // than its strokes, turned away before they are placed)
                if (p.Used || member.Marked(k) || p.Width > 2 * width + 2 ||
                    width > 2 * p.Width + 2)
                    continue;
                // (on a circle, those clearly off it even for a refit)
                if (chain.Track.Round && ClearlyOff(chain.Track, p, 2.5 * tol))
                    continue;
                TMember m{k, 0, 0};
                bool refit = false;
                if (chain.Track.Round ? !PlaceEither(chain.Track, p, end, tol, 2.5 * tol, m, refit)
                                      : !Place(chain.Track, p, end, tol, m))
                    continue;
                // A piece may overlap the end where one dash came apart in two
                // (its other part reaching on past the end).
                const double gap = forward ? m.Lo - end : end - m.Hi;
                if (gap > maxGap || gap > bestGap || (gap == bestGap && k > best) ||
                    (forward ? m.Hi <= end + 1 : m.Lo >= end - 1))
                    continue;
                if (gap < -2 && (p.Dotlike() || (forward ? m.Lo < chain.Members.back().Lo : m.Hi > chain.Members.front().Hi)))
                    continue;
                if (refit) {
                    further.push_back({gap, m});
                    continue;
                }
                best = k;
                bestMember = m;
                bestGap = gap;
            }
            std::sort(further.begin(), further.end(), [](const TFurther &a, const TFurther &b) {
                return a.Gap < b.Gap || (a.Gap == b.Gap && a.Member.Piece < b.Member.Piece);
            });
            thread_local TChain refitted;
            bool fromRefit = false;
            for (const TFurther &f : further) {
                if (f.Gap > bestGap || (f.Gap == bestGap && f.Member.Piece > best))
                    break;
                refitted.Track = chain.Track;
                refitted.Members.clear();
                if (!forward)
                    refitted.Members.push_back(f.Member);
                refitted.Members.insert(refitted.Members.end(), chain.Members.begin(), chain.Members.end());
                if (forward)
                    refitted.Members.push_back(f.Member);
                Refit(refitted);
                if (!std::all_of(refitted.Members.begin(), refitted.Members.end(), [&](const TMember &r) {
                        const TPiece &q = Pieces[static_cast<std::size_t>(r.Piece)];
                        return MidOffset(refitted.Track, q) <= tol &&
                            (q.Dotlike() || (refitted.Track.Offset(q.A) <= tol && refitted.Track.Offset(q.B) <= tol));
                    }))
                    continue;
                best = f.Member.Piece;
                fromRefit = true;
                break;
            }
            if (best < 0)
                return true;
            if (fromRefit) {
                chain.Track = refitted.Track;
                chain.Members.swap(refitted.Members);
            } else {
                if (forward)
                    chain.Members.push_back(bestMember);
                else
                    chain.Members.insert(chain.Members.begin(), bestMember);
                Refit(chain);
            }
            if (SolidRun(chain, forward))
                return false;
        }
    }

    // Whether the pieces at the chain's end (forward) or start that follow
    // one another closely (gaps narrower than kDenseGap: every judgement
    // joins them in one element or finds its gaps too narrow) run on for
    // more than kSolidRun: a solid stroke the drawing's junctions cut in
    // pieces, or a stroke the scan broke into dots, no dash, whatever pieces
    // come after it. (The walk stops there: else each of a long line's pieces
    // would walk it all, refitting the track to every piece at each step.)
    static bool SolidRun(const TChain &chain, bool forward)
    {
        const std::vector<TMember> &ms = chain.Members;
        const std::size_t n = ms.size();
        if (forward) {
            for (std::size_t i = n - 1; i > 0 && ms[i].Lo - ms[i - 1].Hi < kDenseGap; --i)
                if (ms[n - 1].Hi - ms[i - 1].Lo > kSolidRun)
                    return true;
        } else {
            for (std::size_t i = 0; i + 1 < n && ms[i + 1].Lo - ms[i].Hi < kDenseGap; ++i)
                if (ms[i + 1].Hi - ms[0].Lo > kSolidRun)
                    return true;
        }
        return false;
    }

    bool Grow(TChain &chain, int seed) const
    {
        TMember m{seed, 0, 0};
        const TPiece &p = Pieces[static_cast<std::size_t>(seed)];
        if (!PlaceAnywhere(chain.Track, p, 0, m))
            return false;
        chain.Members = {m};
        return Walk(chain, true) && Walk(chain, false) && Judge(chain);
    }

    // The longest chain grown from the piece along any track it may lie on:
    // the circle of an arc piece, the line of a straight one, a line through
    // a dot and a piece near it, a circle through the piece and two near it
    // on either side (a straight chain of dots can be a chord of a circle's).
    bool Seed(int seed, TChain &chain) const
    {
        // (a map's clearing wipes all its buckets: only one with entries)
        if (!Fitted.empty())
            Fitted.clear();
        const TPiece &p = Pieces[static_cast<std::size_t>(seed)];
        const TDrawingEntity *e = p.Entity >= 0 ? &Drawing.Entities[static_cast<std::size_t>(p.Entity)] : nullptr;
        bool found = false;
        double best = 0;
        // (each track's chain grown in one kept per thread, its lists'
        // room passed on with the chain taken)
        thread_local TChain candidate;
        const auto attempt = [&](const TTrack &track) {
            candidate.Track = track;
            candidate.Members.clear();
            candidate.Closed = false;
            candidate.Width = 1;
            candidate.Elements.clear();
            candidate.Base = 0;
            candidate.Period = 0;
            candidate.Dash = 0;
            candidate.Swallowed.clear();
            if (!Grow(candidate, seed))
                return;
            const double span = candidate.Members.back().Hi - candidate.Members.front().Lo;
            if (!found || span > best + 1) {
                found = true;
                best = span;
                std::swap(chain, candidate);
            }
        };
        const auto round = [&](TCircle c) {
            TTrack track;
            track.Round = true;
            track.C = c;
            track.Ref = AngleAbout(c, p.Mid);
            return track;
        };
        const auto straight = [&](double ux, double uy) {
            TTrack track;
            track.P = p.Mid;
            track.Ux = ux;
            track.Uy = uy;
            return track;
        };
        if (e && e->Kind == TEntityKind::Arc && e->R > 3)
            attempt(round({e->X1, e->Y1, e->R, true}));
        if (!p.Dotlike() && !p.Arc)
            attempt(straight((p.B.X - p.A.X) / p.Length, (p.B.Y - p.A.Y) / p.Length));
        // The four pieces nearest the seed's middle (the first in order among
        // equals) within its reach: the others' distances are measured only
        // while they may be among them, nearest by the square first.
        const double reach = p.Length / 2 + std::max(p.ExtA, p.ExtB) + std::min(200.0, 8 + 3 * p.Width + p.Length);
        thread_local std::vector<int> around;
        thread_local std::vector<std::pair<double, int>> squares, near;
        NearAnyOrder(p.Mid, reach, around);
        squares.clear();
        for (const int k : around) {
            const TPiece &q = Pieces[static_cast<std::size_t>(k)];
            if (k == seed || q.Used)
                continue;
            // (the far ones turned away by their squared distance first)
            const double dx = q.Mid.X - p.Mid.X, dy = q.Mid.Y - p.Mid.Y, most = reach + q.Length / 2;
            if (dx * dx + dy * dy > most * most * (1 + 1e-9))
                continue;
            squares.push_back({dx * dx + dy * dy, k});
        }
        std::sort(squares.begin(), squares.end());
        near.clear();
        for (const auto &[square, k] : squares) {
            // (a square this far past the fourth's is of a longer distance)
            if (near.size() >= 4 && square > near[3].first * near[3].first * (1 + 1e-9))
                break;
            const TPiece &q = Pieces[static_cast<std::size_t>(k)];
            const double d = Distance(q.Mid, p.Mid);
            if (!(d <= reach + q.Length / 2 && d > 1))
                continue;
            near.push_back({d, k});
            std::sort(near.begin(), near.end());
        }
        if (near.size() > 4)
            near.resize(4);
        if (p.Dotlike()) {
            for (const auto &[d, k] : near) {
                const TPiece &q = Pieces[static_cast<std::size_t>(k)];
                attempt(straight((q.Mid.X - p.Mid.X) / d, (q.Mid.Y - p.Mid.Y) / d));
            }
        }
        thread_local std::vector<TPoint2> points;
        for (std::size_t i = 0; i < near.size(); ++i)
            for (std::size_t j = i + 1; j < near.size(); ++j) {
                const TPiece &a = Pieces[static_cast<std::size_t>(near[i].second)];
                const TPiece &b = Pieces[static_cast<std::size_t>(near[j].second)];
                if ((a.Mid.X - p.Mid.X) * (b.Mid.X - p.Mid.X) + (a.Mid.Y - p.Mid.Y) * (b.Mid.Y - p.Mid.Y) >= 0)
                    continue;
                points.clear();
                for (const TPiece *q : {&a, &p, &b}) {
                    points.push_back(q->Mid);
                    if (!q->Dotlike()) {
                        points.push_back(q->A);
                        points.push_back(q->B);
                    }
                }
                const TCircle c = FitCircle(points.data(), points.size());
                if (!c.Valid || !(c.R > 3) || c.R > 20000 || CircleDeviation(points.data(), points.size(), c) > Tol(p.Width))
                    continue;
                attempt(round(c));
            }
        // A straight chain of dots may be a chord of a dotted circle's (its
        // neighbours too near for a circle through three): the circle
        // through its dots and the nearest dot past either end.
        if (found && !chain.Track.Round && chain.Members.size() >= 3 &&
            std::all_of(chain.Members.begin(), chain.Members.end(),
                        [&](const TMember &m) { return Pieces[static_cast<std::size_t>(m.Piece)].Dotlike(); })) {
            points.clear();
            for (const TMember &m : chain.Members)
                points.push_back(Pieces[static_cast<std::size_t>(m.Piece)].Mid);
            const double step = (chain.Members.back().Lo - chain.Members.front().Lo) /
                static_cast<double>(chain.Members.size() - 1);
            for (const bool forward : {true, false}) {
                const double end = forward ? chain.Members.back().Hi : chain.Members.front().Lo;
                const TPoint2 at = chain.Track.At(end);
                int best = -1;
                double bestDistance = 1e300;
                for (int k : Near(at, 2 * step + 4)) {
                    const TPiece &q = Pieces[static_cast<std::size_t>(k)];
                    const double t = chain.Track.T(q.Mid, 0);
                    if (q.Used || !q.Dotlike() || (forward ? t <= end : t >= end) || Distance(q.Mid, at) >= bestDistance ||
                        std::any_of(chain.Members.begin(), chain.Members.end(), [&](const TMember &m) { return m.Piece == k; }))
                        continue;
                    best = k;
                    bestDistance = Distance(q.Mid, at);
                }
                if (best >= 0)
                    points.push_back(Pieces[static_cast<std::size_t>(best)].Mid);
            }
            if (points.size() == chain.Members.size() + 2) {
                const TCircle c = FitCircle(points.data(), points.size());
                if (c.Valid && c.R > 3 && c.R <= 20000 && CircleDeviation(points.data(), points.size(), c) <= Tol(p.Width))
                    attempt(round(c));
            }
        }
        return found;
    }

    // (the values sorted about their middle in a copy kept per thread)
    static double Median(const std::vector<double> &values)
    {
        thread_local std::vector<double> v;
        v.assign(values.begin(), values.end());
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    }

    static double Spread(const std::vector<double> &v)
    {
        double mean = 0;
        for (double x : v)
            mean += x;
        mean /= static_cast<double>(v.size());
        double var = 0;
        for (double x : v)
            var += (x - mean) * (x - mean);
        return mean > 0 ? std::sqrt(var / static_cast<double>(v.size())) / mean : 1e300;
    }

    // Whether the chain's pieces make a regular pattern; its pattern.
    bool Judge(TChain &chain) const
    {
        if (chain.Members.size() < 3)
            return false;
        // (the working lists kept per thread: a judgement calls no other)
        thread_local std::vector<TMember> all, turned;
        thread_local std::vector<double> allOffsets, offsets, gaps;
        all = chain.Members;
        // How far each piece's middle lies off the track, whatever the start.
        allOffsets.resize(all.size());
        for (std::size_t i = 0; i < all.size(); ++i)
            allOffsets[i] = MidOffset(chain.Track, Pieces[static_cast<std::size_t>(all[i].Piece)]);
        // Whether ink lies across the track at a point, for a stroke's width:
        // the same gaps are looked across again for every start and end
        // tried (the track stays put meanwhile).
        thread_local std::unordered_map<TAcross, bool, TAcrossHash> across;
        if (!across.empty())
            across.clear();
        // Round a whole circle the pattern may start at any piece (where the
        // drawing's pattern began, a dash is cut short).
        std::size_t starts = 1;
        const double round = chain.Track.Round ? 2 * kPi * chain.Track.C.R : 0;
        if (chain.Track.Round && all.size() >= 4 && all.back().Hi - all.front().Lo > 0.75 * round)
            starts = all.size();
        // Pieces make three elements only across two gaps at least as wide
        // as the narrowest that may part them (JudgeMembers).
        std::size_t open = 0;
        for (std::size_t i = 0; i + 1 < all.size(); ++i)
            open += !(all[i + 1].Lo - all[i].Hi < kLeastBreak);
        if (starts > 1)
            open += !(all.front().Lo + round - all.back().Hi < kLeastBreak);
        if (open < 2)
            return false;
        bool allKnown = false, allOnTrack = false;
        double allWidth = 0;
        // A piece at an end that breaks the pattern (a dash cut short) stays
        // as it is, when no start takes in every piece.
        for (const auto &[front, back] : {std::pair<std::size_t, std::size_t>{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
            if (all.size() < front + back + 3)
                break;
            for (std::size_t start = 0; start < starts; ++start) {
                turned.assign(all.begin() + static_cast<std::ptrdiff_t>(start), all.end());
                for (std::size_t i = 0; i < start; ++i) {
                    TMember m = all[i];
                    m.Lo += round;
                    m.Hi += round;
                    turned.push_back(m);
                }
                chain.Members.assign(turned.begin() + static_cast<std::ptrdiff_t>(front),
                                     turned.end() - static_cast<std::ptrdiff_t>(back));
                if (!Gaps(chain, gaps))
                    continue;
                // (every start takes in every piece but for those left off
                // an end: the same widths and offsets without them)
                double w = 0;
                if (front + back == 0 && allKnown) {
                    if (!allOnTrack)
                        continue;
                    w = allWidth;
                } else {
                    offsets.clear();
                    const std::size_t first = start + front, last = start + all.size() - back;
                    for (std::size_t i = first; i < std::min(last, all.size()); ++i)
                        offsets.push_back(allOffsets[i]);
                    for (std::size_t i = std::max(first, all.size()); i < last; ++i)
                        offsets.push_back(allOffsets[i - all.size()]);
                    const bool on = OnTrack(chain, offsets, w);
                    if (front + back == 0) {
                        allKnown = true;
                        allOnTrack = on;
                        allWidth = w;
                    }
                    if (!on)
                        continue;
                }
                // Pieces of one dash broken by the scan make one element:
                // gaps far narrower than most of the chain's. A noisy scan
                // breaks a thin stroke by gaps nearly as wide as the
                // pattern's; those are tried when the narrow ones leave no
                // pattern.
                for (const double broken : kBrokenShares)
                    if (JudgeMembers(chain, w, gaps, broken, across)) {
                        if (start == 0)
                            KeepCutEnds(chain, turned, front, back);
                        return true;
                    }
            }
        }
        chain.Members = all;
        return false;
    }

    // A piece left off an end of the chain because it broke the pattern (the
    // drawing's last dash cut short to a stub: a short piece of centre line,
    // or a speck none reaches) is of the line all the same: the chain takes
    // it in, where it lies a gap of the pattern past the end and is no longer
    // than the chain's longest piece.
    void KeepCutEnds(TChain &chain, const std::vector<TMember> &all, std::size_t front, std::size_t back) const
    {
        if (chain.Closed || chain.Members.size() < 3)
            return;
        std::vector<double> gaps;
        double longest = 0;
        for (std::size_t i = 0; i < chain.Members.size(); ++i) {
            longest = std::max(longest, chain.Members[i].Hi - chain.Members[i].Lo);
            if (i > 0)
                gaps.push_back(chain.Members[i].Lo - chain.Members[i - 1].Hi);
        }
        std::sort(gaps.begin(), gaps.end());
        const double usual = gaps[gaps.size() * 3 / 4];
        const auto fits = [&](const TMember &m, double gap) {
            return m.Hi - m.Lo <= longest &&
                gap >= 0.5 * usual && gap <= 1.35 * usual + 1;
        };
        if (back == 1 && fits(all.back(), all.back().Lo - chain.Members.back().Hi))
            chain.Members.push_back(all.back());
        if (front == 1 && fits(all.front(), chain.Members.front().Lo - all.front().Hi))
            chain.Members.insert(chain.Members.begin(), all.front());
    }

    // The gaps between the chain's pieces, the upper quartile in its place
    // as they would be sorted (all that Broken reads of them), and whether
    // they may part three elements at all: three pieces at least, two gaps
    // of them no narrower than the narrowest the first share of
    // JudgeMembers joins.
    static bool Gaps(const TChain &chain, std::vector<double> &raw)
    {
        raw.clear();
        if (chain.Members.size() < 3)
            return false;
        for (std::size_t i = 0; i + 1 < chain.Members.size(); ++i)
            raw.push_back(chain.Members[i + 1].Lo - chain.Members[i].Hi);
        std::nth_element(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(raw.size() * 3 / 4), raw.end());
        const double broken = Broken(raw, kBrokenShares[0]);
        std::size_t open = 0;
        for (const double g : raw)
            open += !(g < broken);
        return open >= 2;
    }

    // Gaps narrower than this share of the chain's upper quartile, and
    // than kLeastBreak, join the pieces either side (JudgeMembers): the
    // shares in the order tried.
    static constexpr double kBrokenShares[] = {0.45, 0.6, 0.75};
    static constexpr double kLeastBreak = 1;
    // (twice the longest piece that may be a dash)
    static constexpr double kSolidRun = 2 * kLongestPiece;
    // Gaps narrower than the narrowest a pattern's middle gap may be
    // (JudgeMembers): pieces this close one after another are a stroke,
    // solid or broken by the scan (an exact-black reading of a grey scan
    // leaves a line's darkest pixels every pixel or two), not a pattern.
    static constexpr double kDenseGap = 3;
    static double Broken(const std::vector<double> &raw, double share)
    {
        return std::max(kLeastBreak, share * raw[raw.size() * 3 / 4]);
    }

    // Whether the chain's pieces (their middles `offsets` off the track)
    // all lie on it; the median width of their strokes.
    bool OnTrack(const TChain &chain, const std::vector<double> &offsets, double &w) const
    {
        thread_local std::vector<double> widths;
        widths.clear();
        for (const TMember &m : chain.Members)
            widths.push_back(Pieces[static_cast<std::size_t>(m.Piece)].Width);
        w = Median(widths);
        const double tol = Tol(w);
        for (const double off : offsets)
            if (off > tol)
                return false;
        return true;
    }

    struct TAcross
    {
        std::uint64_t T, W;
        bool operator==(const TAcross &) const = default;
    };
    struct TAcrossHash
    {
        std::size_t operator()(const TAcross &a) const { return std::hash<std::uint64_t>()(a.T * 0x9E3779B97F4A7C15ull ^ a.W); }
    };

    bool JudgeMembers(TChain &chain, double w, const std::vector<double> &raw, double brokenShare,
                      std::unordered_map<TAcross, bool, TAcrossHash> &across) const
    {
        const double tol = Tol(w);
        // Gaps narrower than a share of most (the upper quartile) of the
        // chain's gaps join the pieces either side.
        const double broken = Broken(raw, brokenShare);
        // So do pieces with ink across the middle of the gap between them
        // (a solid stroke whose centre line came apart).
        thread_local std::vector<TMember> ms;
        ms.clear();
        // (the element being joined held aside until the next one starts)
        TMember joined = chain.Members.front();
        for (std::size_t i = 1; i < chain.Members.size(); ++i) {
            const TMember &m = chain.Members[i];
            bool join = m.Lo - joined.Hi < broken;
            if (!join) {
                const double t = (m.Lo + joined.Hi) / 2;
                const auto [it, fresh] = across.try_emplace({std::bit_cast<std::uint64_t>(t), std::bit_cast<std::uint64_t>(w)}, false);
                if (fresh)
                    it->second = InkAcross(chain.Track, t, w);
                join = it->second;
            }
            if (join) {
                joined.Hi = std::max(joined.Hi, m.Hi);
            } else {
                ms.push_back(joined);
                joined = m;
            }
        }
        ms.push_back(joined);
        const std::size_t n = ms.size();
        if (n < 3)
            return false;
        thread_local std::vector<double> lengths, gaps;
        lengths.clear();
        gaps.clear();
        for (const TMember &m : ms)
            lengths.push_back(m.Hi - m.Lo);
        for (std::size_t i = 0; i + 1 < n; ++i)
            gaps.push_back(ms[i + 1].Lo - ms[i].Hi);
        const double longest = *std::max_element(lengths.begin(), lengths.end());
        thread_local std::vector<std::size_t> dashes;
        dashes.clear();
        for (std::size_t i = 0; i < n; ++i) {
            const bool dot = lengths[i] - w <= std::max({4.5, w, 0.25 * (longest - w)});
            if (!dot)
                dashes.push_back(i);
        }
        // Gaps narrower than the stroke are where the scan broke it.
        if (Spread(gaps) > 0.35 || *std::min_element(gaps.begin(), gaps.end()) < 0.5 || Median(gaps) < std::max(3.0, 0.75 * w))
            return false;
        // A chain on a circle must bend away from its chord by more than the
        // tolerance. One that comes round to its start (ComesRound; or onto
        // it, where the scan broke the dash at the seam) is the whole
        // circle; none goes round further than one element more.
        if (chain.Track.Round) {
            const double span = (ms.back().Hi - ms.front().Lo) / chain.Track.C.R;
            if (span < kPi && chain.Track.C.R * (1 - std::cos(span / 2)) < 2 * tol)
                return false;
            const double closing = 2 * kPi * chain.Track.C.R - (ms.back().Hi - ms.front().Lo);
            if (closing < -longest)
                return false;
            const double mean = std::accumulate(gaps.begin(), gaps.end(), 0.0) / static_cast<double>(gaps.size());
            chain.Closed = ComesRound(closing, *std::max_element(gaps.begin(), gaps.end()), mean,
                                      (ms.back().Lo - ms.front().Lo) / static_cast<double>(n - 1));
        }
        if (dashes.empty()) {
            if (n < (brokenShare > 0.45 ? 6u : 4u))
                return false;
            chain.Base = 3;
            chain.Period = (ms.back().Lo - ms.front().Lo) / static_cast<double>(n - 1);
            chain.Dash = 0;
            chain.Elements = {0, -chain.Period};
        } else {
            // The same number of dots between every two dashes, and no more at the ends.
            std::size_t k = 0;
            if (dashes.size() >= 2)
                k = dashes[1] - dashes[0] - 1;
            for (std::size_t j = 0; j + 1 < dashes.size(); ++j)
                if (dashes[j + 1] - dashes[j] - 1 != k)
                    return false;
            if (k > 2 || dashes.front() > k || n - 1 - dashes.back() > k)
                return false;
            // Three dashes at least: two of any length with a short piece
            // between them are as often a solid stroke the scan broke. Where
            // wide gaps were taken for breaks, five: pieces of uneven lengths
            // joined across them can make a few dashes of like length.
            if (dashes.size() < (brokenShare > 0.45 ? 5u : 3u))
                return false;
            thread_local std::vector<double> dashLengths, inner;
            dashLengths.clear();
            inner.clear();
            for (std::size_t j = 0; j < dashes.size(); ++j) {
                dashLengths.push_back(lengths[dashes[j]]);
                if (j > 0 && j + 1 < dashes.size())
                    inner.push_back(lengths[dashes[j]]);
            }
            const double dash = Median(dashLengths);
            if (inner.size() >= 2 && Spread(inner) > 0.2)
                return false;
            for (std::size_t j = 0; j < dashLengths.size(); ++j) {
                const bool end = j == 0 || j + 1 == dashLengths.size();
                if (dashLengths[j] > 1.25 * dash + 2 || dashLengths[j] < (end ? 0.4 : 0.75) * dash - 2)
                    return false;
            }
            chain.Base = static_cast<int>(k);
            chain.Period = dashes.size() >= 2
                ? (ms[dashes.back()].Lo - ms[dashes.front()].Lo) / static_cast<double>(dashes.size() - 1)
                : 0;
            chain.Dash = std::max(1.0, dash - w);
            const double gap = (chain.Period - chain.Dash) / static_cast<double>(k + 1);
            if (!(gap > 0.5))
                return false;
            chain.Elements = {chain.Dash, -gap};
            for (std::size_t j = 0; j < k; ++j) {
                chain.Elements.push_back(0);
                chain.Elements.push_back(-gap);
            }
        }
        chain.Width = w;
        return true;
    }

    void Write(std::vector<TChain> &chains)
    {
        // One line type for the chains of a kind whose dash and period agree.
        struct TType
        {
            int Base;
            double Dash, Period;
            int Count;
            std::int32_t Index = 0;
        };
        std::vector<TType> types;
        std::vector<std::size_t> typeOf(chains.size());
        for (std::size_t c = 0; c < chains.size(); ++c) {
            const TChain &chain = chains[c];
            std::size_t t = 0;
            for (; t < types.size(); ++t) {
                const TType &y = types[t];
                if (y.Base == chain.Base && std::fabs(y.Period - chain.Period) <= 0.15 * y.Period + 1 &&
                    std::fabs(y.Dash - chain.Dash) <= 0.2 * y.Dash + 1.5)
                    break;
            }
            if (t == types.size())
                types.push_back({chain.Base, 0, 0, 0});
            TType &y = types[t];
            y.Dash = (y.Dash * y.Count + chain.Dash) / (y.Count + 1);
            y.Period = (y.Period * y.Count + chain.Period) / (y.Count + 1);
            ++y.Count;
            typeOf[c] = t;
        }
        static const char *const kNames[] = {"DASHED", "CENTER", "PHANTOM", "DOT"};
        static const char16_t *const kDescriptions[] = {u"破線", u"一点鎖線", u"二点鎖線", u"点線"};
        int counts[4] = {0, 0, 0, 0};
        for (TType &y : types) {
            const int number = ++counts[y.Base];
            QString name = QString::fromLatin1(kNames[y.Base]);
            QString description = QString::fromUtf16(kDescriptions[y.Base]);
            if (number > 1) {
                name += QString::number(number);
                description += QString::number(number);
            }
            std::vector<double> elements;
            if (y.Base == 3) {
                elements = {0, -y.Period};
            } else {
                const double gap = (y.Period - y.Dash) / (y.Base + 1);
                elements = {y.Dash, -gap};
                for (int j = 0; j < y.Base; ++j) {
                    elements.push_back(0);
                    elements.push_back(-gap);
                }
            }
            y.Index = Drawing.AddLineType(name, description, std::move(elements));
        }
        std::vector<bool> gone(Drawing.Entities.size());
        std::vector<TDrawingEntity> added;
        for (std::size_t c = 0; c < chains.size(); ++c) {
            const TChain &chain = chains[c];
            const double lo = chain.Members.front().Lo + chain.Width / 2;
            const double hi = chain.Members.back().Hi - chain.Width / 2;
            TDrawingEntity e;
            const TTrack &t = chain.Track;
            if (!t.Round) {
                TPoint2 a = t.At(lo), b = t.At(hi);
                // Start on a dash where the chain has one at an end.
                const bool dotFirst = Pieces[static_cast<std::size_t>(chain.Members.front().Piece)].Dotlike() ||
                    chain.Members.front().Hi - chain.Members.front().Lo - chain.Width < chain.Dash / 2;
                const bool dotLast = Pieces[static_cast<std::size_t>(chain.Members.back().Piece)].Dotlike() ||
                    chain.Members.back().Hi - chain.Members.back().Lo - chain.Width < chain.Dash / 2;
                if (dotFirst && !dotLast)
                    std::swap(a, b);
                e = TDrawingEntity::MakeLine(a.X, a.Y, b.X, b.Y);
            } else if (chain.Closed) {
                e = TDrawingEntity::MakeCircle(t.C.X, t.C.Y, t.C.R);
            } else {
                const double a0 = (t.Ref + lo / t.C.R) / kDegree, a1 = (t.Ref + hi / t.C.R) / kDegree;
                e = TDrawingEntity::MakeArc(t.C.X, t.C.Y, t.C.R, AngleOf(std::cos(a0 * kDegree), std::sin(a0 * kDegree)),
                                            AngleOf(std::cos(a1 * kDegree), std::sin(a1 * kDegree)));
            }
            e.LineType = types[typeOf[c]].Index;
            for (const TMember &m : chain.Members) {
                const TPiece &p = Pieces[static_cast<std::size_t>(m.Piece)];
                if (p.Entity >= 0) {
                    gone[static_cast<std::size_t>(p.Entity)] = true;
                    e.Layer = Drawing.Entities[static_cast<std::size_t>(p.Entity)].Layer;
                }
            }
            for (int k : chain.Swallowed)
                gone[static_cast<std::size_t>(Pieces[static_cast<std::size_t>(k)].Entity)] = true;
            added.push_back(e);
        }
        // The pieces give way to the patterned entities, which follow the
        // rest in the order found. (The rest move up in place: a big sheet's
        // entities are not held twice.)
        std::vector<TDrawingEntity> &entities = Drawing.Entities;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < entities.size(); ++i)
            if (!gone[i])
                entities[kept++] = entities[i];
        entities.resize(kept);
        if (entities.capacity() < kept + added.size())
            entities.reserve(kept + added.size());
        entities.insert(entities.end(), added.begin(), added.end());
    }

    TDrawing &Drawing;
    // The ink packed (else none), read through InkLines: Packed numbers
    // the finder (0: the ink is Ink, unpacked).
    const TPackedMask *PackedInk = nullptr;
    std::uint64_t Packed = 0;
    TBlackMask NoInk;
    const TBlackMask &Ink;
    const double Tolerance;
    const int Width, Height;
    std::vector<TPiece> Pieces;
    // Where the pieces stand: the grid's cells (row by row from GridX0,
    // GridY0), each's pieces from CellStart on in CellPieces; cells off
    // the grid by key.
    long GridX0 = 0, GridY0 = 0, GridW = 0, GridH = 0;
    std::vector<std::uint32_t> CellStart;
    std::vector<int> CellPieces;
    std::unordered_map<std::uint64_t, std::vector<int>> Cells;
    // The same pieces as FileMiddles files them: by the cell of their
    // middle (the pieces whose boxes reach at most kReaches[c] cells past
    // it in the c-th table of cells, each's from MidStart on in MidPieces),
    // the longer ones by every cell of their box (from LongStart on in
    // LongPieces), those whose boxes leave the grid in OffGrid.
    struct TFiled
    {
        int Piece;
        TCellBox Box;
    };
    static constexpr std::size_t kReachClasses = 2;
    static constexpr long kReaches[kReachClasses] = {1, 3};
    std::vector<std::uint32_t> MidStart, LongStart;
    // (a box in cells from the grid's first; the middle within an eighth
    // of a pixel, the grid being at most 65535 cells wide and high)
    struct TFiledInGrid
    {
        std::int32_t Piece;
        std::uint16_t X0, X1, Y0, Y1;
        float MidX, MidY;

        bool Meets(const TCellBox &b) const { return X0 <= b.X1 && b.X0 <= X1 && Y0 <= b.Y1 && b.Y0 <= Y1; }
    };
    std::vector<TFiledInGrid> MidPieces;
    std::vector<TFiled> OffGrid;
    std::vector<int> LongPieces;
    double LongestStraight = 0;
    // While a seed is tried: the cells its search looked in (per thread).
    static thread_local TCellBox *Looking;
    // The circles fitted while a seed is tried, by the chain's pieces (per thread).
    struct TPiecesHash
    {
        std::size_t operator()(const std::vector<int> &v) const
        {
            std::uint64_t h = v.size();
            for (const int k : v)
                h = (h ^ static_cast<std::uint32_t>(k)) * 0x9E3779B97F4A7C15ull;
            return static_cast<std::size_t>(h ^ (h >> 29));
        }
    };
    static thread_local std::unordered_map<std::vector<int>, TCircle, TPiecesHash> Fitted;
};

thread_local TCellBox *TFinder::Looking = nullptr;
thread_local std::unordered_map<std::vector<int>, TCircle, TFinder::TPiecesHash> TFinder::Fitted;

} // namespace

void FindLineTypes(TDrawing &drawing, const TBlackMask &ink, double tolerance, int threads,
                   const std::function<bool()> &stop)
{
    TFinder(drawing, ink, tolerance).Run(threads, stop);
}

void FindLineTypes(TDrawing &drawing, const TPackedMask &ink, double tolerance, int threads,
                   const std::function<bool()> &stop)
{
    TFinder(drawing, ink, tolerance).Run(threads, stop);
}

void SnapPatternedLines(TDrawing &drawing, double degrees)
{
    const double limit = std::tan(degrees * kDegree);
    for (TDrawingEntity &e : drawing.Entities) {
        if (e.Kind != TEntityKind::Line || !drawing.PatternOf(e.LineType))
            continue;
        const double dx = std::abs(e.X2 - e.X1), dy = std::abs(e.Y2 - e.Y1);
        if (dy <= limit * dx)
            e.Y1 = e.Y2 = (e.Y1 + e.Y2) / 2;
        else if (dx <= limit * dy)
            e.X1 = e.X2 = (e.X1 + e.X2) / 2;
    }
}
