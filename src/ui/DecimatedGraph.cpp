// A line series drawn per pixel column.
#include "DecimatedGraph.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zeva {

namespace {

bool keyBefore(const QCPGraphData& p, double key)
{
    return p.key < key;
}

} // namespace

TDecimatedGraph::TDecimatedGraph(QCPAxis* keyAxis, QCPAxis* valueAxis) : QCPGraph(keyAxis, valueAxis)
{
}

void TDecimatedGraph::Add(double key, double value)
{
    QCPGraphDataContainer& d = *mDataContainer;
    if (d.isEmpty() || key >= (d.constEnd() - 1)->key) {
        d.add(QCPGraphData(key, value));
        if (!m_stale)
            m_index.Append(value);
        return;
    }
    m_stale = true;
    if (key < d.constBegin()->key) {
        d.add(QCPGraphData(key, value));
        return;
    }
    auto from = std::upper_bound(d.constBegin(), d.constEnd(), key,
                                 [](double k, const QCPGraphData& p) { return k < p.key; });
    QVector<QCPGraphData> later(from, d.constEnd());
    d.removeAfter(key);
    d.add(QCPGraphData(key, value));
    d.add(later, true);
}

void TDecimatedGraph::RemoveFirstOf(double key)
{
    QCPGraphDataContainer& d = *mDataContainer;
    if (d.isEmpty())
        return;
    const bool front = d.constBegin()->key == key;
    const int before = d.size();
    d.remove(key);
    if (d.size() == before)
        return;
    if (front && !m_stale)
        m_index.DropFront();
    else
        m_stale = true;
}

void TDecimatedGraph::Clear()
{
    mDataContainer->clear();
    m_index.Clear();
    m_stale = false;
}

void TDecimatedGraph::sync() const
{
    if (!m_stale && m_index.Size() == std::size_t(mDataContainer->size()))
        return;
    m_index.Rebuild(std::size_t(mDataContainer->size()), [this](std::size_t i) { return valueAt(i); });
    m_stale = false;
}

TMinMaxIndex::TExtremes TDecimatedGraph::ValueRange(double from, double to) const
{
    sync();
    const auto first = mDataContainer->constBegin();
    auto a = std::lower_bound(first, mDataContainer->constEnd(), from, keyBefore);
    auto b = std::upper_bound(a, mDataContainer->constEnd(), to, [](double k, const QCPGraphData& p) { return k < p.key; });
    return m_index.Range(std::size_t(a - first), std::size_t(b - first), [this](std::size_t i) { return valueAt(i); });
}

void TDecimatedGraph::getOptimizedLineData(QVector<QCPGraphData>* lineData,
                                           const QCPGraphDataContainer::const_iterator& begin,
                                           const QCPGraphDataContainer::const_iterator& end) const
{
    QCPAxis* keyAxis = mKeyAxis.data();
    if (!lineData || !keyAxis)
        return;
    const double width = std::abs(keyAxis->coordToPixel(keyAxis->range().upper) - keyAxis->coordToPixel(keyAxis->range().lower));
    if (double(end - begin) <= 4 * width || keyAxis->scaleType() != QCPAxis::stLinear || keyAxis->rangeReversed() ||
        keyAxis->orientation() != Qt::Horizontal) {
        QCPGraph::getOptimizedLineData(lineData, begin, end);
        return;
    }
    sync();
    lineData->clear();
    lineData->reserve(qsizetype(4 * width) + 16);
    const auto first = mDataContainer->constBegin();
    using TIt = QCPGraphDataContainer::const_iterator;
    // A run of points without a break: its first, lowest, highest and last.
    const auto run = [&](TIt from, TIt to, const TMinMaxIndex::TExtremes* known) {
        if (to - from <= 4) {
            for (auto p = from; p != to; ++p)
                lineData->append(*p);
            return;
        }
        const TMinMaxIndex::TExtremes e = known ? *known
                                                : m_index.Range(std::size_t(from - first), std::size_t(to - first),
                                                                [this](std::size_t i) { return valueAt(i); });
        const QCPGraphData& head = *from;
        const QCPGraphData& tail = *(to - 1);
        const double middle = (head.key + tail.key) / 2;
        lineData->append(head);
        // Towards the side the run leaves on, so that no stroke runs back across it.
        const bool rising = !(tail.value < head.value);
        lineData->append(QCPGraphData(middle, rising ? e.min : e.max));
        lineData->append(QCPGraphData(middle, rising ? e.max : e.min));
        lineData->append(tail);
    };
    for (auto it = begin; it != end;) {
        // The first key of the next pixel column.
        const double limit = keyAxis->pixelToCoord(std::floor(keyAxis->coordToPixel(it->key)) + 1);
        auto next = std::lower_bound(it, end, limit, keyBefore);
        if (next == it)
            ++next;
        const TMinMaxIndex::TExtremes e =
            next - it <= 4 ? TMinMaxIndex::TExtremes{}
                           : m_index.Range(std::size_t(it - first), std::size_t(next - first),
                                           [this](std::size_t i) { return valueAt(i); });
        if (!e.breaks) {
            run(it, next, next - it <= 4 ? nullptr : &e);
        } else {
            // Each side of a break on its own: the column's bar never joins two instruments.
            auto from = it;
            for (auto p = it; p != next; ++p)
                if (std::isnan(p->value)) {
                    run(from, p, nullptr);
                    lineData->append(*p);
                    from = p + 1;
                }
            run(from, next, nullptr);
        }
        it = next;
    }
}

} // namespace zeva
