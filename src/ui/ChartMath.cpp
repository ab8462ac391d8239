// Chart arithmetic.
#include "ChartMath.h"

#include <algorithm>

namespace zeva {

void TMinMaxIndex::Append(double value)
{
    const std::size_t abs = m_front + m_size;
    if (abs % Block == 0) {
        if (m_blocks.empty())
            m_firstBlock = abs / Block;
        m_blocks.emplace_back();
    }
    take(m_blocks.back(), value);
    ++m_size;
}

void TMinMaxIndex::DropFront()
{
    if (m_size == 0)
        return;
    ++m_front;
    --m_size;
    // A block wholly behind the front is never read again.
    while (!m_blocks.empty() && (m_firstBlock + 1) * Block <= m_front) {
        m_blocks.pop_front();
        ++m_firstBlock;
    }
    if (m_size == 0)
        Clear();
}

void TMinMaxIndex::Clear()
{
    m_blocks.clear();
    m_firstBlock = 0;
    m_front = 0;
    m_size = 0;
}

std::vector<std::size_t> GapBreaks(const std::vector<double>& times)
{
    std::vector<std::size_t> breaks;
    if (times.size() < 3)
        return breaks;
    std::vector<double> spacings;
    for (std::size_t i = 1; i < times.size(); ++i)
        if (times[i] > times[i - 1])
            spacings.push_back(times[i] - times[i - 1]);
    if (spacings.empty())
        return breaks;
    auto mid = spacings.begin() + std::ptrdiff_t(spacings.size() / 2);
    std::nth_element(spacings.begin(), mid, spacings.end());
    double median = *mid;
    if (spacings.size() % 2 == 0)
        median = (median + *std::max_element(spacings.begin(), mid)) / 2;
    // Where the pace of recording changed, the readings around the step set the measure: a slower
    // pace is no gap.
    constexpr std::size_t Around = 8;
    std::vector<double> local;
    for (std::size_t i = 1; i < times.size(); ++i) {
        const double spacing = times[i] - times[i - 1];
        if (spacing <= 3 * median)
            continue;
        local.clear();
        for (std::size_t j = i > Around ? i - Around : 1; j < std::min(times.size(), i + Around + 1); ++j)
            if (j != i && times[j] > times[j - 1])
                local.push_back(times[j] - times[j - 1]);
        if (!local.empty()) {
            auto m = local.begin() + std::ptrdiff_t(local.size() / 2);
            std::nth_element(local.begin(), m, local.end());
            if (spacing <= 3 * *m)
                continue;
        }
        breaks.push_back(i);
    }
    return breaks;
}

std::pair<double, double> ValueAxisRange(double dataMin, double dataMax, std::pair<double, double> fixed, bool fit)
{
    if (std::isnan(dataMin) || std::isnan(dataMax))
        return fixed;
    if (!fit)
        return {std::min(fixed.first, dataMin), std::max(fixed.second, dataMax)};
    const double margin = std::max((dataMax - dataMin) / 20, 0.5);
    return {dataMin - margin, dataMax + margin};
}

} // namespace zeva
