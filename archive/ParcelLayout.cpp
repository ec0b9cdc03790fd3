// Where compaction puts the contents of a packed archive, worked out over plain spans.
#include "archive/ParcelLayout.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <new>
#include <set>
#include <tuple>

#include "archive/CParcelStorage.h"

namespace {

// The walk over the holes in file order. The regions not yet passed are
// kept by size, so the best fit is one search; the holes still ahead by
// offset, so an old place finds its free neighbours at once.
class LayoutWalk {
public:
    LayoutWalk(const std::vector<ParcelSpan> &used, uint64_t holeRecords, uint32_t slideOver, std::vector<uint32_t> &at,
               std::vector<ParcelMove> &moves)
        : m_used(used), m_holeRecords(holeRecords), m_slideOver(slideOver), m_at(at), m_moves(moves),
          m_moved(used.size(), 0), m_passed(0), m_last(used.size()), m_holes(0)
    {
    }

    void Run(uint32_t start)
    {
        uint64_t cursor = start;
        for (size_t i = 0; i < m_used.size(); ++i) {
            const ParcelSpan &s = m_used[i];
            m_at[i] = s.offset;
            if (!s.size) {
                // A region of no size goes to the start, where it parts no
                // holes and holds up no end; there it stays.
                if (s.offset != start) {
                    m_moved[i] = 1;
                    m_at[i] = start;
                    m_moves.push_back(ParcelMove{s.offset, 0, start, 0, 0, 0});
                }
                continue;
            }
            if (s.offset > cursor) {
                m_ahead[(uint32_t)cursor] = s.offset;
                ++m_holes;
            }
            cursor = std::max<uint64_t>(cursor, (uint64_t)s.offset + s.size);
            m_fits.insert(Key(i));
        }
        while (!m_ahead.empty()) {
            const uint32_t from = m_ahead.begin()->first, to = m_ahead.begin()->second;
            for (; m_passed < m_used.size() && m_used[m_passed].offset <= from; ++m_passed)
                if (!m_moved[m_passed])
                    m_fits.erase(Key(m_passed));
            if (m_fits.empty())
                break;
            const Fill fill = FillFrom(from, to);
            if (fill == FILLED || (fill == UNAFFORDABLE && to - from > m_slideOver && SlideInto(from, to)))
                continue;
            // Passed for good: nothing after it fits.
            m_ahead.erase(m_ahead.begin());
        }
    }

private:
    typedef std::tuple<uint32_t, uint32_t, size_t> Fit; // size, offset, span
    enum Fill { FILLED, NOTHING_FITS, UNAFFORDABLE };

    Fit Key(size_t i) const { return Fit(m_used[i].size, m_used[i].offset, i); }

    Fill FillFrom(uint32_t from, uint32_t to)
    {
        auto it = m_fits.upper_bound(Fit(to - from, 0xFFFFFFFFu, (size_t)-1));
        if (it == m_fits.begin())
            return NOTHING_FITS;
        const size_t i = std::get<2>(*--it);
        const ParcelSpan r = m_used[i];
        const bool exact = r.size == to - from;
        if (!Affordable(i, exact, to))
            return UNAFFORDABLE;
        Place(i, from);
        m_ahead.erase(from);
        if (exact)
            --m_holes;
        else
            m_ahead[from + r.size] = to;
        Vacate(r.offset, r.offset + r.size);
        DropTrailing();
        return FILLED;
    }

    // Whether the holes, after moving that region into the hole that ends
    // at to, still have records enough.
    bool Affordable(size_t i, bool exact, uint32_t to) const
    {
        const ParcelSpan &r = m_used[i];
        // The old place of the last region joins the room after the data.
        if (i + 1 == m_last)
            return true;
        int delta = exact ? 0 : 1;
        if (r.offset == to) {
            // The hole itself, or what is left of it, lies right before.
            delta -= exact ? 0 : 1;
        } else {
            auto left = m_ahead.lower_bound(r.offset);
            if (left != m_ahead.begin() && std::prev(left)->second == r.offset)
                --delta;
        }
        if (m_ahead.count(r.offset + r.size))
            --delta;
        return delta <= 0 || m_holes + delta <= m_holeRecords;
    }

    // The region right after the hole moves down into it, the hole up
    // behind it.
    bool SlideInto(uint32_t from, uint32_t to)
    {
        auto it = std::lower_bound(m_used.begin() + (std::ptrdiff_t)m_passed, m_used.end(), to,
                                   [](const ParcelSpan &s, uint32_t at) { return s.offset < at; });
        size_t i = (size_t)(it - m_used.begin());
        while (i < m_used.size() && m_used[i].offset == to && m_moved[i])
            ++i;
        if (i == m_used.size() || m_used[i].offset != to)
            return false;
        const uint32_t size = m_used[i].size;
        Place(i, from);
        m_ahead.erase(from);
        --m_holes;
        Vacate(from + size, to + size);
        DropTrailing();
        return true;
    }

    void Place(size_t i, uint32_t at)
    {
        const ParcelSpan &r = m_used[i];
        m_fits.erase(Key(i));
        m_moved[i] = 1;
        m_at[i] = at;
        m_moves.push_back(ParcelMove{r.offset, 0, at, 0, r.size, 0});
    }

    // Those bytes become free, joined with the holes beside them.
    void Vacate(uint32_t from, uint32_t to)
    {
        uint32_t start = from, end = to;
        auto left = m_ahead.lower_bound(from);
        const bool joinsLeft = left != m_ahead.begin() && std::prev(left)->second == from;
        if (joinsLeft)
            start = (--left)->first;
        auto right = m_ahead.find(to);
        if (right != m_ahead.end())
            end = right->second;
        if (start == end)
            return;
        if (right != m_ahead.end()) {
            m_ahead.erase(right);
            --m_holes;
        }
        if (joinsLeft) {
            left->second = end;
        } else {
            m_ahead[start] = end;
            ++m_holes;
        }
    }

    // Holes after the last region still in place are room after the data.
    void DropTrailing()
    {
        while (m_last && m_moved[m_last - 1])
            --m_last;
        const uint64_t end = m_last ? (uint64_t)m_used[m_last - 1].offset + m_used[m_last - 1].size : 0;
        for (auto it = m_ahead.lower_bound((uint32_t)end); it != m_ahead.end(); it = m_ahead.erase(it))
            --m_holes;
    }

    const std::vector<ParcelSpan> &m_used;
    const uint64_t m_holeRecords;
    const uint32_t m_slideOver;
    std::vector<uint32_t> &m_at;
    std::vector<ParcelMove> &m_moves;
    std::vector<char> m_moved;
    std::set<Fit> m_fits;
    // Holes not passed yet, start to end.
    std::map<uint32_t, uint32_t> m_ahead;
    // Regions before m_passed lie before the hole under way; from m_last on
    // every region has moved.
    size_t m_passed, m_last;
    // All holes, the ones passed included.
    uint64_t m_holes;
};

} // namespace

bool ParcelPlanLayout(const std::vector<ParcelSpan> &used, uint32_t start, uint64_t holeRecords, uint32_t slideOver,
                      std::vector<uint32_t> *at, std::vector<ParcelMove> *moves)
{
    const size_t before = moves->size();
    try {
        at->assign(used.size(), 0);
        LayoutWalk walk(used, holeRecords, slideOver, *at, *moves);
        walk.Run(start);
        return true;
    } catch (const std::bad_alloc &) {
        moves->resize(before);
        return false;
    }
}
