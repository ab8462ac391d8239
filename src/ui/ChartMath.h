// The arithmetic of the charts without a window: extremes of a long series in blocks, the breaks
// of a time axis at gaps, and a range that holds every value drawn.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <utility>
#include <vector>

namespace zeva {

// Minimum and maximum over any index range of a series that grows at its end and loses points at
// its front, from a summary of every block of 64 points kept as points come: a column of the
// screen costs two partial blocks and the whole blocks between, never a scan of the series, and a
// single spike among millions is still found. NaN (a break of the line) is no value; a range that
// holds one says so. Points changed elsewhere than at the ends need Rebuild.
class TMinMaxIndex {
public:
    static constexpr std::size_t Block = 64;
    struct TExtremes {
        double min = std::numeric_limits<double>::quiet_NaN();
        double max = std::numeric_limits<double>::quiet_NaN();
        bool breaks = false; // a NaN lies in the range
        bool Empty() const { return std::isnan(min); }
    };

    std::size_t Size() const { return m_size; }
    void Append(double value);
    void DropFront();
    void Clear();
    // From all points, by index.
    template <typename ValueAt> void Rebuild(std::size_t size, ValueAt valueAt)
    {
        Clear();
        for (std::size_t i = 0; i < size; ++i)
            Append(valueAt(i));
    }

    // Over the present points [from, to); `valueAt(i)` reads point i where a block is cut.
    template <typename ValueAt> TExtremes Range(std::size_t from, std::size_t to, ValueAt valueAt) const
    {
        TExtremes e;
        std::size_t a = from + m_front, b = to + m_front;
        auto point = [&](std::size_t abs) { take(e, valueAt(abs - m_front)); };
        while (a < b && a % Block != 0)
            point(a++);
        while (a + Block <= b) {
            const TExtremes& s = m_blocks[a / Block - m_firstBlock];
            e.min = std::fmin(e.min, s.min);
            e.max = std::fmax(e.max, s.max);
            e.breaks = e.breaks || s.breaks;
            a += Block;
        }
        while (a < b)
            point(a++);
        return e;
    }

private:
    static void take(TExtremes& e, double v)
    {
        if (std::isnan(v)) {
            e.breaks = true;
            return;
        }
        e.min = std::fmin(e.min, v);
        e.max = std::fmax(e.max, v);
    }

    std::deque<TExtremes> m_blocks; // block k of the absolute indices is m_blocks[k - m_firstBlock]
    std::size_t m_firstBlock = 0;
    std::size_t m_front = 0; // absolute index of point 0
    std::size_t m_size = 0;
};

// The readings of a time axis: between rows i-1 and i the line breaks when their spacing is more
// than three times the median of the spacings between rows of different times, and more than three
// times the median of the spacings around it (a recording pace that changed is no gap). Returns
// each such i in order; fewer than three rows never break.
std::vector<std::size_t> GapBreaks(const std::vector<double>& times);

// The range of the temperature axis that holds `fixed` and every drawn value (the fixed range
// when nothing lies outside it), or with `fit` the values alone with a margin of a twentieth
// (at least half a degree) each side. Without values: `fixed`.
std::pair<double, double> ValueAxisRange(double dataMin, double dataMax, std::pair<double, double> fixed, bool fit);

} // namespace zeva
